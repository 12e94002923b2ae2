// Recovery of keys and values outside the live tree: deleted ones that free cells still hold, ones in allocated
// cells that nothing references (a hive that healed itself, a crash), and remnants past the stated end of the hive
// bins data, up to the end of the file.
//
// `recover_deleted` walks the live tree once to learn which cells it uses (recovery/referenced_cells.h), then every
// cell of the hive bins once, going on past broken bins and cells (hive/cell_walk.h). It looks at every 8-byte
// step of every free cell and of every allocated cell the live tree does not use, not only at its start, for key
// nodes and value keys, taken as carve.h says; then at every 4-byte step of the remnant area (recovery/remnants.h).
// A record taken is stepped over whole. It costs time proportional to the image's size and never reads outside the
// image. Nothing the live tree uses is taken and nothing is found twice. For each recovered key it finds the values
// its value list still names among the values found, its class name when that can still be read, and where its
// parent is: another recovered key, a live key (an allocated cell holding a key node), or gone. A recovered value's
// data counts as available only while its cells are unused and hold what the value says; the bytes are read when
// asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/key_node.h"
#include "records/value_key.h"
#include "tree/key_path.h"
#include "tree/value_data.h"
#include "utils/error.h"

namespace tarnu {

struct Hive;

// Where a recovered record lies.
enum class RecordSource : uint8_t {
    Free,          // in a free cell inside the stated hive bins data
    Unreferenced,  // in an allocated cell there that the live tree does not use
    Remnant,       // past the stated end of the hive bins data
};

// "free", "unreferenced" or "remnant".
std::string_view source_name(RecordSource source);

// The space a record was found in, which decides where the cells it names are read.
enum class FoundIn : uint8_t {
    FreeCell,          // cells it names are read from free cells
    UnreferencedCell,  // from free cells and allocated cells the live tree does not use
    RemnantArea,       // from the remnant area, at the positions its bins name
};

struct RecoveredValue {
    ValueKey key;  // its `hive` is set: the data is read through it, from the position its cell lies at now
    uint32_t offset = 0;
    bool data_available = false;
    bool listed = false;  // named by the value list of a recovered key
    RecordSource source = RecordSource::Free;
    FoundIn found_in = FoundIn::FreeCell;
};

// Where the parent offset of a recovered key leads.
enum class RecoveredParent : uint8_t {
    Recovered,  // to another recovered key, `Recovery::keys[parent_index]`
    Live,       // to an allocated cell holding a key node
    Missing,    // nowhere: the parent's cell is reused, not a key node, or the offset is damaged
};

struct RecoveredKey {
    KeyNode node;                  // its `hive` is set
    std::vector<size_t> values;    // into `Recovery::values`, in value-list order, each once
    std::optional<std::string> class_name;
    RecoveredParent parent = RecoveredParent::Missing;
    size_t parent_index = 0;
    RecordSource source = RecordSource::Free;
    FoundIn found_in = FoundIn::FreeCell;
};

struct Recovery {
    std::vector<RecoveredKey> keys;      // in offset order
    std::vector<RecoveredValue> values;  // in offset order, listed or not
    // Broken bins, runs of missing bins, broken cells and broken records in allocated cells that the scan passed
    // over, going on after each.
    size_t passed_over = 0;
};

// Every key and value outside the live tree of `hive` that recovery finds.
Recovery recover_deleted(const Hive& hive);

// The path of a recovered key, through recovered and live parents alike, relative to the root as `key_path` gives
// it; not complete where the chain breaks.
PartialPath recovered_key_path(const Hive& hive, const Recovery& recovery, const RecoveredKey& key);

// The data of a recovered value as `read_value_data` reads it, or nothing when it is no longer available.
Result<std::optional<ValueBytes>> read_recovered_data(const RecoveredValue& value);

}  // namespace tarnu
