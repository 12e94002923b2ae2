// What recovery from the Windows formats shares: the names of the log slots in reasons, taking a log's copy of a
// damaged base block, making the base block clean by Windows' rules once pages are applied, and the range of
// sequence numbers applied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "hive/file_io.h"
#include "logs/log_format.h"
#include "logs/replay_report.h"
#include "utils/bytes.h"

namespace tarnu {

// "the first log" or "the second log".
const char* slot_name(size_t slot);

// Replaces the image's base block with a log's copy of one: its 512 bytes, then zeros up to 4096.
void take_base_block_from(ByteBuffer& image, Bytes log);

// What recovery leaves in the base block: both sequence numbers equal, the hive bins data size and flags bit 0
// of the last thing applied, file type 0 and a checksum that fits.
struct CleanState {
    uint32_t sequence;
    uint32_t bins_size;
    uint32_t flags;
};

// Writes `state` into the base block, first growing the image with zeros to hold the hive bins data.
void make_clean(ByteBuffer& image, const CleanState& state);

// Sets the range of sequence numbers applied in `report`, over the logs' reports in order.
void note_sequences(ReplayReport& report, const std::vector<RecognisedLog>& logs);

}  // namespace tarnu
