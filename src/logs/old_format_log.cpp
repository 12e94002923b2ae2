#include "logs/old_format_log.h"

#include <algorithm>
#include <bit>

#include "hive/hive.h"
#include "hive/limits.h"
#include "logs/bin_check.h"
#include "logs/log_base_block.h"
#include "logs/log_format.h"
#include "logs/windows_recovery.h"
#include "utils/format.h"

namespace tarnu {
namespace {

struct Layout {
    size_t bitmap_size;  // bytes
    size_t data_start;   // the first unit's bytes
};

Layout layout_of(Bytes file) {
    const size_t bitmap_size = le32(file, base_block_field::kHiveBinsDataSize) / kBytesPerBitmapByte;
    const size_t bitmap_end = kLogBaseBlockSize + kDirtyVectorHeaderSize + bitmap_size;
    return Layout{bitmap_size, (bitmap_end + kDirtyUnitSize - 1) / kDirtyUnitSize * kDirtyUnitSize};
}

}  // namespace

std::optional<std::string> dirty_vector_problem(Bytes file) {
    if (!has_signature(file.subspan(kLogBaseBlockSize), "DIRT")) {
        return "no \"DIRT\" at " + hex(kLogBaseBlockSize);
    }
    const Layout layout = layout_of(file);
    if (kLogBaseBlockSize + kDirtyVectorHeaderSize + layout.bitmap_size > file.size()) {
        return "the bitmap of " + dec(layout.bitmap_size) + " bytes runs past the end of the file";
    }
    return std::nullopt;
}

DirtyVector read_dirty_vector(Bytes file) {
    const Layout layout = layout_of(file);
    const Bytes bitmap = file.subspan(kLogBaseBlockSize + kDirtyVectorHeaderSize, layout.bitmap_size);
    const size_t available = file.size() > layout.data_start ? (file.size() - layout.data_start) / kDirtyUnitSize : 0;
    size_t marked = 0;
    for (uint8_t byte : bitmap) marked += static_cast<size_t>(std::popcount(byte));
    DirtyVector vector;
    size_t next_data = layout.data_start;
    for (size_t byte = 0; byte < bitmap.size(); ++byte) {
        if (bitmap[byte] == 0) continue;
        for (size_t bit = 0; bit < 8; ++bit) {
            if ((bitmap[byte] >> bit & 1) == 0) continue;
            if (vector.units == available) {
                vector.stop = "the bitmap marks " + dec(marked) + " units, the file holds " + dec(available);
                return vector;
            }
            const uint32_t hive_offset = kHiveBinsStart + static_cast<uint32_t>((byte * 8 + bit) * kDirtyUnitSize);
            DirtyPage* last = vector.runs.empty() ? nullptr : &vector.runs.back();
            if (last != nullptr && last->hive_offset + last->page_size == hive_offset) {
                last->page_size += kDirtyUnitSize;
                last->page_data = Bytes(last->page_data.data(), last->page_size);
            } else {
                vector.runs.push_back(DirtyPage{hive_offset, kDirtyUnitSize, file.subspan(next_data, kDirtyUnitSize)});
            }
            next_data += kDirtyUnitSize;
            ++vector.units;
        }
    }
    vector.stop = "end of dirty vector";
    return vector;
}

namespace {

namespace field = base_block_field;

// Where a hive bin header keeps its last-written time.
constexpr size_t kBinTimestampField = 20;

Recognition recognise(Bytes file) {
    Recognition recognition = recognise_windows_log(file, {kOldLogFileType, kOldestLogFileType});
    if (recognition.claimed && recognition.reason.empty()) {
        if (auto problem = dirty_vector_problem(file)) recognition.reason = "unusable dirty vector: " + *problem;
    }
    return recognition;
}

LogDescription describe(Bytes file) {
    LogDescription description = describe_windows_log(file);
    if (!dirty_vector_problem(file)) {
        const DirtyVector vector = read_dirty_vector(file);
        description.pages = vector.units;
        description.stop = vector.stop;
    }
    return description;
}

// One log is chosen by its last-written time, and its dirty units are applied up to the first broken hive bin
// among them.
Status recover(ByteBuffer& image, std::vector<RecognisedLog> logs, ReplayReport& report) {
    const bool primary_valid = !primary_base_block_problem(image);
    // A log belongs to this primary when it was written at the primary's last-written time, or, when the
    // primary's base block is damaged, at the time in its first hive bin's header, as Windows compares. A damaged
    // block often keeps its own last-written field whole (a version or another field spoilt, the checksum left
    // stale), so that time is taken too: a log written at either belongs to the primary.
    std::optional<uint64_t> time;
    std::optional<uint64_t> damaged_block_time;
    if (primary_valid) {
        time = le64(image.data() + field::kLastWritten);
    } else {
        if (image.size() >= kHiveBinsStart + kBinTimestampField + 8) {
            time = le64(image.data() + kHiveBinsStart + kBinTimestampField);
        }
        if (image.size() >= field::kLastWritten + 8) damaged_block_time = le64(image.data() + field::kLastWritten);
    }
    const RecognisedLog* by_slot[2] = {nullptr, nullptr};
    for (const RecognisedLog& log : logs) by_slot[log.slot] = &log;
    auto written = [](const RecognisedLog* log) { return le64(log->file.data() + field::kLastWritten); };
    auto eligible = [&](const RecognisedLog* log) {
        return log != nullptr && ((time && written(log) == *time) ||
                                  (damaged_block_time && written(log) == *damaged_block_time));
    };

    // The first log if it belongs to the primary; else the second if it does and is newer than a usable first.
    const RecognisedLog* chosen = nullptr;
    if (eligible(by_slot[0])) {
        chosen = by_slot[0];
    } else if (eligible(by_slot[1]) && (by_slot[0] == nullptr || written(by_slot[1]) > written(by_slot[0]))) {
        chosen = by_slot[1];
    }
    for (const RecognisedLog& log : logs) {
        if (&log == chosen) continue;
        if (chosen != nullptr && eligible(&log)) {
            log.report->reason = std::string(slot_name(chosen->slot)) + " was used";
        } else if (!time && !damaged_block_time) {
            log.report->reason = "the primary's base block is damaged and it has no hive bin to take a time from";
        } else if (!eligible(&log)) {
            log.report->reason = "written at " + dec(written(&log)) + ", not at the primary's time " +
                                 dec(time ? *time : *damaged_block_time);
            if (time && damaged_block_time) log.report->reason += " nor at " + dec(*damaged_block_time);
        } else {
            log.report->reason = "not newer than the first log";
        }
    }
    if (chosen == nullptr) return Ok{};

    DirtyVector vector = read_dirty_vector(chosen->file);
    const uint32_t bins_size = le32(chosen->file.data() + field::kHiveBinsDataSize);
    const uint32_t broken = first_broken_dirty_bin(image, vector.runs, bins_size);
    if (broken < bins_size) {
        // Units from the broken bin on are not applied.
        const uint64_t limit = kHiveBinsStart + uint64_t{broken};
        auto cut = std::find_if(vector.runs.begin(), vector.runs.end(), [&](const DirtyPage& run) {
            return run.hive_offset + uint64_t{run.page_size} > limit;
        });
        if (cut != vector.runs.end() && cut->hive_offset < limit) {
            cut->page_size = static_cast<uint32_t>(limit - cut->hive_offset);
            cut->page_data = cut->page_data.first(cut->page_size);
            ++cut;
        }
        vector.runs.erase(cut, vector.runs.end());
        vector.stop = "the hive bin at " + hex(broken) + " is broken";
    }
    if (!primary_valid) {
        take_base_block_from(image, chosen->file);
        report.base_block_from_log = true;
    }
    LogReport& log_report = *chosen->report;
    log_report.used = true;
    log_report.stop = vector.stop;
    for (const DirtyPage& run : vector.runs) {
        write_page(image, run);
        log_report.pages_applied += run.page_size / kDirtyUnitSize;
    }
    if (log_report.pages_applied == 0 && primary_valid) return Ok{};
    const uint32_t sequence = le32(image.data() + field::kPrimarySequence);
    log_report.first_sequence = log_report.last_sequence = le32(chosen->file.data() + field::kPrimarySequence);
    make_clean(image, CleanState{sequence, bins_size, le32(chosen->file.data() + field::kFlags)});
    report.recovered = true;
    note_sequences(report, logs);
    return Ok{};
}

}  // namespace

const LogFormat kOldLogFormat{"old", "regf", LogFamily::Windows, 1, recognise, describe, recover};

}  // namespace tarnu
