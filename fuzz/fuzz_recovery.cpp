// libFuzzer target for the recovery of keys and values outside the live tree: the input is taken as a hive image,
// every cell is walked, and everything the recovery finds (in free cells, allocated cells nothing references and
// the remnant area) is read: each recovered key's path and class name, each recovered value's data (when
// available) and its decoding; then every intact key node with its path as far as it reads.
//
//   cmake -S . -B build/fuzz -G Ninja -DTARNU_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ && cmake --build build/fuzz
//   build/fuzz/fuzz_recovery -max_total_time=300 build/fuzz/fuzz/corpus/fuzz_recovery
#include <cstddef>
#include <cstdint>
#include <optional>

#include "fuzz_image.h"
#include "hive/cell_walk.h"
#include "hive/hive.h"
#include "decode/value_data.h"
#include "recovery/intact_keys.h"
#include "recovery/recovery.h"
#include "seen.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarnu;
    auto built = build_hive(HiveImage::from_buffer(fuzz::image_with_valid_header(data, size)));
    if (!fuzz::seen(built)) return 0;
    const Hive& hive = *built.value();

    CellWalk walk(hive);
    while (std::optional<CellInfo> cell = walk.next()) (void)record_signature(cell->payload);

    const Recovery recovery = recover_deleted(hive);
    for (const RecoveredKey& key : recovery.keys) (void)recovered_key_path(hive, recovery, key);
    for (const RecoveredValue& value : recovery.values) {
        auto bytes = read_recovered_data(value);
        if (!fuzz::seen(bytes) || !bytes.value()) continue;
        (void)fuzz::seen(decode_value_data(value.key.value_type, bytes.value()->view()));
    }
    for (const KeyNode& node : intact_key_nodes(hive)) (void)path_as_far_as_it_reads(hive, node);
    return 0;
}
