#include "logs/windows_recovery.h"

#include <algorithm>

#include "hive/hive.h"
#include "hive/limits.h"
#include "logs/log_base_block.h"

namespace tarnu {

namespace field = base_block_field;

const char* slot_name(size_t slot) { return slot == 0 ? "the first log" : "the second log"; }

void take_base_block_from(ByteBuffer& image, Bytes log) {
    if (image.size() < kBaseBlockSize) image.resize(kBaseBlockSize, 0);
    std::copy_n(log.begin(), kLogBaseBlockSize, image.begin());
    std::fill(image.begin() + kLogBaseBlockSize, image.begin() + kBaseBlockSize, 0);
}

void make_clean(ByteBuffer& image, const CleanState& state) {
    const size_t end = kHiveBinsStart + size_t{state.bins_size};
    if (image.size() < end) image.resize(end, 0);
    uint8_t* block = image.data();
    put_le32(block + field::kPrimarySequence, state.sequence);
    put_le32(block + field::kSecondarySequence, state.sequence);
    put_le32(block + field::kFileType, kPrimaryFileType);
    put_le32(block + field::kHiveBinsDataSize, state.bins_size);
    put_le32(block + field::kFlags, (le32(block + field::kFlags) & ~1u) | (state.flags & 1u));
    put_le32(block + kChecksumPosition, base_block_checksum(image));
}

void note_sequences(ReplayReport& report, const std::vector<RecognisedLog>& logs) {
    for (const RecognisedLog& log : logs) {
        if (!log.report->first_sequence) continue;
        if (!report.first_sequence) report.first_sequence = log.report->first_sequence;
        report.last_sequence = log.report->last_sequence;
    }
}

}  // namespace tarnu
