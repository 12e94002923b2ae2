// libFuzzer target for the core: the input is taken as a hive image (and as a transaction log), and everything
// reachable from it is read: hive bins, the key tree, every value list, every value's data and its decoding.
//
//   cmake -S . -B build/fuzz -G Ninja -DTARNU_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ && cmake --build build/fuzz
//   build/fuzz/fuzz_hive -max_total_time=300 build/fuzz/fuzz/corpus/fuzz_hive
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "hive/cell.h"
#include "hive/hive.h"
#include "hive/key_node.h"
#include "hive/limits.h"
#include "hive/value_key.h"
#include "hive/value_type.h"
#include "subkey_list/subkey_list.h"
#include "transaction_log/transaction_log.h"

namespace {

using namespace tarnu;

void read_values(const Hive& hive, const KeyNode& node) {
    auto values = read_value_list(hive, node);
    if (!values.ok()) return;
    for (const ValueKey& value : values.value()) {
        auto data = read_value_data(value);
        if (data.ok()) (void)decode_value_data(value.value_type, data.value());
        (void)value.value_type.name();
    }
}

// Walks the key tree breadth-first; the visited set keeps a hive whose keys name each other from looping here
// (each call of the library is bounded on its own; a walk over calls is the caller's to bound).
void walk(const Hive& hive) {
    std::vector<uint32_t> pending{hive.base_block.root_cell_offset};
    std::unordered_set<uint32_t> seen;
    while (!pending.empty() && seen.size() < 100000) {
        const uint32_t offset = pending.back();
        pending.pop_back();
        if (!seen.insert(offset).second) continue;
        auto node = parse_key_node(hive, offset);
        if (!node.ok()) continue;
        read_values(hive, node.value());
        if (node->subkey_count == 0) continue;
        std::vector<uint32_t> children;
        if (collect_subkey_offsets(node.value(), node->subkey_list_offset, children).ok()) {
            pending.insert(pending.end(), children.begin(), children.end());
        }
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

    // As a hive. The header is made valid (signature, a supported version, the checksum) so that the fuzzer
    // spends its time on cells rather than on the base block, which is checked in full by the tests.
    ByteBuffer image(data, data + size);
    if (image.size() >= kBaseBlockSize) {
        std::copy_n("regf", 4, image.begin());
        put_le32(image.data() + 20, 1);
        put_le32(image.data() + 24, 3 + image[24] % 4);
        put_le32(image.data() + kChecksumPosition, base_block_checksum(image));
    }
    auto hive = build_hive(HiveImage::from_buffer(std::move(image)));
    if (!hive.ok()) return 0;
    (void)hbins(*hive.value());
    walk(*hive.value());
    return 0;
}
