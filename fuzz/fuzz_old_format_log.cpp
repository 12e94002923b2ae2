// libFuzzer target for recovery from old-format Windows logs (file types 1 and 2): one or two logs
// (fuzz/log_replay.h) replayed onto a small dirty primary, then the recovered hive read completely.
//
// Fixing a log makes its header an old-format log header written at the primary's time (one tick earlier for log 1
// when bit 0 of the skew is set, for log 2 when bit 1 is), and writes "DIRT" after it. The hive bins data size
// that sizes the bitmap, the bitmap and the units stay as the input has them.
//
//   build/fuzz/fuzz_old_format_log -max_total_time=300 build/fuzz/fuzz/corpus/fuzz_old_format_log
#include <cstddef>
#include <cstdint>

#include "hive/hive.h"
#include "hive/limits.h"
#include "log_replay.h"
#include "logs/log_base_block.h"
#include "logs/log_format.h"

namespace {

using namespace tarnu;
using namespace tarnu::fuzz;

void fix(ByteBuffer& log, size_t slot, const Control& control) {
    const uint64_t early = static_cast<uint8_t>(control.skew) >> slot & 1;
    fix_log_header(log, kOldLogFileType, {kOldLogFileType, kOldestLogFileType}, [&](ByteBuffer& header) {
        put_le64(header.data() + base_block_field::kLastWritten, kPrimaryTime - early);
    });
    put_signature(log, kLogBaseBlockSize, "DIRT");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    replay_input(data, size, kOldLogFormat, fix);
    return 0;
}
