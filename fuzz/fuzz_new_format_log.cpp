// libFuzzer target for recovery from new-format Windows logs (file type 6): one or two logs (fuzz/log_replay.h)
// replayed onto a small dirty primary, then the recovered hive read completely.
//
// Fixing a log makes its header a new-format log header and, entry by entry along the chain from offset 512, writes
// "HvLE", the next sequence number (unless kKeepNumbers) and both Marvin32 hashes (hash-2 unless kKeepSecondHash),
// as long as the entry's size lets the chain go on. Sizes, page counts, page references and the pages themselves
// stay as the input has them.
//
//   build/fuzz/fuzz_new_format_log -max_total_time=300 build/fuzz/fuzz/corpus/fuzz_new_format_log
#include <cstddef>
#include <cstdint>

#include "hive/limits.h"
#include "log_replay.h"
#include "logs/log_base_block.h"
#include "logs/log_format.h"
#include "utils/marvin32.h"

namespace {

using namespace tarnu;
using namespace tarnu::fuzz;

// Positions of an entry's fields.
constexpr size_t kEntrySize = 4;
constexpr size_t kEntrySequence = 12;
constexpr size_t kEntryHash1 = 24;
constexpr size_t kEntryHash2 = 32;

void fix(ByteBuffer& log, size_t, const Control& control) {
    fix_log_header(log, kNewLogFileType, {kNewLogFileType}, [](ByteBuffer&) {});
    if (log.size() < kLogBaseBlockSize) return;
    uint32_t number = le32(log.data() + base_block_field::kPrimarySequence);
    // Every step moves on by at least 512 bytes, so the loop ends.
    for (size_t at = kLogBaseBlockSize; at + kLogEntryFixedSize <= log.size(); ++number) {
        uint8_t* entry = log.data() + at;
        put_signature(log, at, "HvLE");
        if (!(control.flags & kKeepNumbers)) put_le32(entry + kEntrySequence, number);
        const uint32_t size = le32(entry + kEntrySize);
        if (size < kLogEntryAlignment || size % kLogEntryAlignment != 0 || size > log.size() - at) return;
        put_le64(entry + kEntryHash1, marvin32(Bytes(entry + kLogEntryFixedSize, size - kLogEntryFixedSize)));
        if (!(control.flags & kKeepSecondHash)) put_le64(entry + kEntryHash2, marvin32(Bytes(entry, kEntryHash2)));
        at += size;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    replay_input(data, size, kNewLogFormat, fix);
    return 0;
}
