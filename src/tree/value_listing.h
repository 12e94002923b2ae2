// A key's values with views of their data, read as `read_values` (tree/key.h) reads them, in two steps that a
// caller may run apart: the value list (`read_list`), then the data (`read_data`). The binding releases the
// interpreter lock between them when the list declares large data.
//
// Data that lies in one data cell is viewed in the image; inline data and data joined from big-data segments are
// kept by the listing. A listing can be used for key after key: its value keys, their names and the views keep
// their storage, so a walk over a whole hive allocates only while they grow (and for big data).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "records/key_node.h"
#include "records/value_key.h"
#include "tree/value_data.h"
#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

struct Hive;

class ValueListing {
public:
    // Reads the value keys of `key`'s value list; the first value key that fails fails the list. Forgets what the
    // listing held before.
    Status read_list(const Hive& hive, const KeyNode& key);

    // The sum of the data sizes the value keys declare: the most that reading their data copies.
    uint64_t declared_data_size() const;

    // Finds every value's data (`view_value_data`); data that cannot be read is empty. Data adding up to more
    // than `kMaxValueDataPerImageByte` times the image's size fails with InvalidFormat. `key` is the key whose
    // list was read.
    Status read_data(const Hive& hive, const KeyNode& key);

    // As `read_data`, but big data is left in its segments: `pieces(i)` are the views that make up the `i`-th
    // value's data, in order, and `data(i)` stays empty. For a caller that copies the data anyway.
    Status read_pieces(const Hive& hive, const KeyNode& key);

    // Lets go of all the storage the listing keeps for its next key once it has grown past `values` values or
    // pieces: for a listing kept from key to key with `read_pieces` (which joins nothing), after a key with many
    // values.
    void trim(size_t values);

    size_t size() const { return count_; }
    // The value key of the `i`-th value; it may be moved away, once, by a caller done with the listing.
    ValueKey& key(size_t i) { return keys_[i]; }
    const ValueKey& key(size_t i) const { return keys_[i]; }
    // The data of the `i`-th value, after `read_data`; valid while the hive and the listing are unchanged.
    Bytes data(size_t i) const { return data_[i]; }
    // After `read_pieces`: the views that make up the `i`-th value's data, in order, and their total length.
    std::span<const Bytes> pieces(size_t i) const;
    size_t data_size(size_t i) const;

private:
    Status find_data(const Hive& hive, const KeyNode& key, bool pieces);

    std::vector<ValueKey> keys_;  // the first `count_` belong to the list read last
    size_t count_ = 0;
    std::vector<Bytes> data_;
    std::vector<Bytes> pieces_;   // after read_pieces: every value's pieces, one value after another
    std::vector<size_t> starts_;  // where each value's pieces begin in `pieces_`, and where the last ones end
    std::vector<DataScratch> scratch_;  // one per value: its inline bytes, its joined big data
};

}  // namespace tarnu
