// libFuzzer target for the reader's own log layout ("HvLE" header, "DIRT" blocks of pages): one or two logs
// (fuzz/log_replay.h) replayed onto a small primary in their sequence order, then the resulting hive read
// completely.
//
// Fixing a log writes "HvLE" at its start and "DIRT" at every 4096-byte boundary after the header where a block
// would be looked at; entry counts, page offsets, sizes and bytes stay as the input has them.
//
//   build/fuzz/fuzz_blocks_log -max_total_time=300 build/fuzz/fuzz/corpus/fuzz_blocks_log
#include <cstddef>
#include <cstdint>

#include "hive/limits.h"
#include "log_replay.h"
#include "logs/log_format.h"

namespace {

using namespace tarnu;
using namespace tarnu::fuzz;

void fix(ByteBuffer& log, size_t, const Control&) {
    put_signature(log, 0, "HvLE");
    for (size_t block = kLogHeaderSize; block + kLogBlockMinimum <= log.size(); block += kLogBlockAlignment) {
        put_signature(log, block, "DIRT");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    replay_input(data, size, kBlocksLogFormat, fix);
    return 0;
}
