// libFuzzer target for opening a hive from bytes (`Hive.from_bytes`): the input, taken as it comes, is copied into
// an owned buffer and validated as a hive image; when it makes a hive, everything reachable from it is read (the
// walk of walk_hive.h). Unlike fuzz_hive, the base block is left as the input has it, so its checks run too.
//
//   build/fuzz/fuzz_from_bytes -max_total_time=300 build/fuzz/fuzz/corpus/fuzz_from_bytes
#include <cstddef>
#include <cstdint>

#include "hive/file_io.h"
#include "hive/hive.h"
#include "walk_hive.h"

using namespace tarnu;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto hive = build_hive(HiveImage::from_buffer(ByteBuffer(data, data + size)));
    if (fuzz::seen(hive)) fuzz::walk_hive(*hive.value());
    return 0;
}
