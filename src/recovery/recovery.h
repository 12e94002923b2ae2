// Recovery of deleted keys and values: what the free cells of a hive still hold after Windows deleted them.
//
// `recover_deleted` walks every cell once and looks at every 8-byte step of every free cell, not only at its
// start, for key nodes and value keys, taken as carve.h says; a record taken is stepped over whole. It costs time
// proportional to the image's size and never reads outside the image. Nothing comes from an allocated cell and
// nothing is found twice. For each deleted key it finds the values its value list still names among the deleted
// values found, its class name when that can still be read, and where its parent is: another deleted key, a live
// key (an allocated cell holding a key node), or gone. A deleted value's data counts as available only while its
// cells are free and hold what the value says; the bytes are read when asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records/key_node.h"
#include "records/value_key.h"
#include "tree/key_path.h"
#include "tree/value_data.h"
#include "utils/error.h"

namespace tarnu {

struct Hive;

struct RecoveredValue {
    ValueKey key;  // its `hive` is set: the data is read through it
    uint32_t offset = 0;
    bool data_available = false;
    bool listed = false;  // named by the value list of a recovered key
};

// Where the parent offset of a deleted key leads.
enum class RecoveredParent : uint8_t {
    Recovered,  // to another deleted key, `Recovery::keys[parent_index]`
    Live,       // to an allocated cell holding a key node
    Missing,    // nowhere: the parent's cell is reused, or not a key node
};

struct RecoveredKey {
    KeyNode node;                  // its `hive` is set
    std::vector<size_t> values;    // into `Recovery::values`, in value-list order, each once
    std::optional<std::string> class_name;
    RecoveredParent parent = RecoveredParent::Missing;
    size_t parent_index = 0;
};

struct Recovery {
    std::vector<RecoveredKey> keys;      // in offset order
    std::vector<RecoveredValue> values;  // in offset order, listed or not
};

// Every deleted key and value that the free cells of `hive` still hold.
Recovery recover_deleted(const Hive& hive);

// The path of a deleted key, through deleted and live parents alike, relative to the root as `key_path` gives it;
// not complete where the chain breaks.
PartialPath recovered_key_path(const Hive& hive, const Recovery& recovery, const RecoveredKey& key);

// The data of a deleted value as `read_value_data` reads it, or nothing when it is no longer available.
Result<std::optional<ValueBytes>> read_recovered_data(const RecoveredValue& value);

}  // namespace tarnu
