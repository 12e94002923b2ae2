// libFuzzer target for the core: the input is taken as a hive image (and as a transaction log), and everything
// reachable from it is read: hive bins, and through the key API the key tree with every key's values, data and
// decoding, class name, security descriptor, parent, path and lookups by name and path.
//
//   cmake -S . -B build/fuzz -G Ninja -DTARNU_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ && cmake --build build/fuzz
//   build/fuzz/fuzz_hive -max_total_time=300 build/fuzz/fuzz/corpus/fuzz_hive
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hive/cell.h"
#include "hive/hive.h"
#include "hive/key_node.h"
#include "hive/value_key.h"
#include "hive/value_type.h"
#include "key/key.h"
#include "key/key_path.h"
#include "key/lookup.h"
#include "key/walk.h"
#include "transaction_log/transaction_log.h"
#include "fuzz_image.h"

namespace {

using namespace tarnu;

// Everything the key API shows of one key: its values with their data and decoding, a value and a subkey looked
// up by the key's own name, its class name and security descriptor, its parent and path, and the lookup of the
// walk's path from the root.
void read_key(const Hive& hive, const KeyNode& node, const std::string& path) {
    auto values = read_values(hive, node);
    if (values.ok()) {
        for (const KeyValue& value : values.value()) {
            (void)decode_value_data(value.key.value_type, value.data);
            (void)value.key.value_type.name();
        }
    }
    (void)find_value(hive, node, node.name);
    (void)find_subkey(hive, node, node.name);
    (void)read_class_name(hive, node);
    (void)read_security_descriptor(hive, node);
    (void)read_parent(hive, node);
    (void)key_path(hive, node);
    (void)find_key_from_root(hive, path);
}

// The key tree through the core's bounded walk, once passing over what cannot be read and once stopping at it.
void walk(const Hive& hive) {
    auto root = parse_key_node(hive, hive.base_block.root_cell_offset);
    if (!root.ok()) return;
    KeyWalk skipping(hive, root.value(), WalkErrors::Skip);
    for (auto step = skipping.next(); step.ok() && step.value(); step = skipping.next()) {
        read_key(hive, step.value()->node, step.value()->path);
    }
    KeyWalk raising(hive, root.value(), WalkErrors::Raise);
    for (auto step = raising.next(); step.ok() && step.value(); step = raising.next()) {
        (void)read_subkeys(hive, step.value()->node);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // As a log, replayed onto a copy of the input.
    auto log = parse_transaction_log(Bytes(data, size));
    if (log.ok()) {
        ByteBuffer image(data, data + size);
        std::vector<TransactionLog> logs{std::move(log).value()};
        (void)apply_transaction_logs(image, logs);
    }

    // As a hive, with a valid header.
    auto hive = build_hive(HiveImage::from_buffer(fuzz::image_with_valid_header(data, size)));
    if (!hive.ok()) return 0;
    (void)hbins(*hive.value());
    walk(*hive.value());
    return 0;
}
