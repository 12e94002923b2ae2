// libFuzzer target for the core: the input is taken as a transaction log of the reader's own layout replayed onto
// itself, then as a hive image with its base block made valid, and everything reachable from it is read (the walk
// of walk_hive.h: hive bins, the key tree through the key API, every value, its data and decoding, lookups).
//
//   cmake -S . -B build/fuzz -G Ninja -DTARNU_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ && cmake --build build/fuzz
//   build/fuzz/fuzz_hive -max_total_time=300 build/fuzz/fuzz/corpus/fuzz_hive
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "hive/hive.h"
#include "hive/limits.h"
#include "transaction_log/transaction_log.h"
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
    if (seen(hive)) fuzz::walk_hive(*hive.value());
    return 0;
}
