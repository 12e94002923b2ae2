// libFuzzer target for the core: the input is taken as a transaction log of the reader's own layout replayed onto
// itself, then as a hive image with its base block made valid (fuzz_image.h), and everything reachable from it is
// read (the walk of walk_hive.h: hive bins, the key tree through the key API, every value, its data and decoding,
// lookups).
//
//   cmake -S . -B build/fuzz -G Ninja -DTARNU_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ && cmake --build build/fuzz
//   build/fuzz/fuzz_hive -max_total_time=300 build/fuzz/fuzz/corpus/fuzz_hive
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_image.h"
#include "hive/hive.h"
#include "logs/transaction_log.h"
#include "walk_hive.h"

using namespace tarnu;
using tarnu::fuzz::seen;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // As a log, replayed onto a copy of the input.
    auto log = parse_transaction_log(Bytes(data, size));
    if (seen(log)) {
        ByteBuffer image(data, data + size);
        std::vector<TransactionLog> logs{std::move(log).value()};
        (void)seen(apply_transaction_logs(image, logs));
    }

    // As a hive, with a valid header.
    auto hive = build_hive(HiveImage::from_buffer(fuzz::image_with_valid_header(data, size)));
    if (seen(hive)) fuzz::walk_hive(*hive.value());
    return 0;
}
