// A key's values with their data: the one reader behind values(), value_records(), the rows of `tarnu.records`,
// the exports and `read_values`. It reads in two steps: the value list, then where each value's data lies, as views
// to be read in order (of the image, or of the reader's own bytes for inline data); the binding releases the
// interpreter lock between them when the list declares large data. One key's values never gather more than
// `kMaxValueDataPerImageByte` times the image's size: in a real hive every data byte has a place of its own, so
// only a list naming the same data again and again reaches it. `ValueErrors` says what happens then, and to data
// that cannot be read. A reader kept from key to key allocates only while its storage grows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "hive/limits.h"
#include "records/key_node.h"
#include "records/value_key.h"
#include "tree/value_data.h"
#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

struct Hive;

// A value key with its data.
struct KeyValue {
    ValueKey key;
    ValueBytes data;
    bool readable = true;  // false when the data could not be read; `data` is empty then
};

// What `ValueReader::read_data` does with what it cannot read.
enum class ValueErrors : uint8_t {
    // Data that cannot be read is empty; a list that gathers more than the limit fails the read.
    Raise,
    // Data that cannot be read is marked unreadable and noted; a list that gathers more than the limit is cut before
    // the value that passes it, and that is noted. The read never fails.
    Note,
};

class ValueReader {
public:
    // Reads the value keys of `key`'s value list; the first value key that fails fails the list. Forgets what the
    // reader held before.
    Status read_list(const Hive& hive, const KeyNode& key);

    // The sum of the data sizes the value keys declare: the most that reading their data copies.
    uint64_t declared_data_size() const;

    // Finds where every value's data lies. `key` is the key whose list was read: the limit's error names it.
    Status read_data(const Hive& hive, const KeyNode& key, ValueErrors errors);

    // Lets go of all the storage it keeps once grown past `values` values or pieces.
    void trim(size_t values);

    size_t size() const { return count_; }
    // The value key of the `i`-th value; it may be moved away, once, by a caller done with the value.
    ValueKey& key(size_t i) { return keys_[i]; }
    const ValueKey& key(size_t i) const { return keys_[i]; }
    // The views that make up the `i`-th value's data, in order, and their total length; valid while the hive is and
    // the reader reads nothing else.
    std::span<const Bytes> pieces(size_t i) const {
        return std::span<const Bytes>(pieces_).subspan(starts_[i], starts_[i + 1] - starts_[i]);
    }
    size_t data_size(size_t i) const;
    bool readable(size_t i) const { return readable_[i] != 0; }
    // The `i`-th value with its data, its key moved out: data in one piece of the image stays a view of it.
    KeyValue take(size_t i);
    // The same into `into`, whose name's buffer the reader keeps in exchange, to read a later name into.
    void take(size_t i, KeyValue& into);
    // What the last `read_data` under ValueErrors::Note noted, in order: "value '<name>': <error>", and the limit's
    // error.
    const std::vector<std::string>& problems() const { return problems_; }
    // The kind of the error behind each of `problems()`, in the same order.
    const std::vector<ErrorKind>& problem_kinds() const { return problem_kinds_; }

private:
    std::vector<ValueKey> keys_;  // the first `count_` belong to the list read last
    size_t count_ = 0;
    std::vector<Bytes> pieces_;   // every value's pieces, one value after another
    std::vector<size_t> starts_;  // where each value's pieces begin in `pieces_`, and where the last ones end
    std::vector<std::array<uint8_t, kMaxInlineData>> inline_;  // one per value: its inline data
    std::vector<uint8_t> readable_;
    std::vector<std::string> problems_;
    std::vector<ErrorKind> problem_kinds_;
};

// Every value of `key`, in list order, with its data, read under ValueErrors::Raise.
Result<std::vector<KeyValue>> read_values(const Hive& hive, const KeyNode& key);

}  // namespace tarnu
