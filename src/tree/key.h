// What a key holds, read through its key node: its children, its values (all of them, or one by name), its class
// name and its security descriptor. Parents and paths are in tree/key_path.h, lookups by name in tree/lookup.h and
// the walk in tree/walk.h; together they are the key API that the binding, the fuzz target and any other caller
// use. Every call reads what it needs through `read_cell` and is bounded by the hive's size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/key_node.h"
#include "records/value_key.h"
#include "tree/budget.h"
#include "tree/value_reader.h"
#include "utils/error.h"

namespace tarnu {

struct Hive;

// The children of `key`, in stored order. A key whose subkey count is 0 has none, whatever its list offset
// holds; one child that cannot be read fails the call, and so do children whose list entries and names pass the
// budget of one call (tree/budget.h): lists that name one key with a long name over and over.
Result<std::vector<KeyNode>> read_subkeys(const Hive& hive, const KeyNode& key);

// What one child costs against that budget beyond its record and name: its list entry (four bytes at least).
inline constexpr size_t kSubkeyEntryCost = 4;
// The budget of one listing of `key`'s children, and one child read against it, for a caller that reads the
// children itself.
GatherBudget subkeys_budget(const Hive& hive, const KeyNode& key);
Result<KeyNode> read_subkey(const Hive& hive, uint32_t offset, GatherBudget& budget);

// The cell offsets of the key nodes that `read_subkeys` reads, for a caller that reads them itself.
Result<std::vector<uint32_t>> child_offsets(const Hive& hive, const KeyNode& key);

// `read_values` (every value of a key with its data) is in tree/value_reader.h.

// The first value, in list order, whose name matches `name` by `value_names_match` ("(default)" names the
// unnamed value, and a value stored under that name), with its data; "" finds the unnamed value alone. NotFound
// "Value '<name>'" when there is none.
Result<KeyValue> find_value(const Hive& hive, const KeyNode& key, std::string_view name);

// The value key that `find_value` finds, without its data.
Result<ValueKey> find_value_key(const Hive& hive, const KeyNode& key, std::string_view name);

// The class name: the UTF-16LE text of the class-name cell, `class_name_length` bytes of it; nothing when the
// key has no class (no cell, or a length of 0).
Result<std::optional<std::string>> read_class_name(const Hive& hive, const KeyNode& key);

// A copy of the security descriptor held by the key's security cell ("sk"); nothing when the key names none.
Result<std::optional<std::vector<uint8_t>>> read_security_descriptor(const Hive& hive, const KeyNode& key);

}  // namespace tarnu
