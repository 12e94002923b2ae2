#include "logs/replay.h"

#include <vector>

#include "hive/file_io.h"
#include "logs/log_base_block.h"
#include "logs/log_format.h"

namespace tarnu {
namespace {

// The logs of one replay: their buffers, which the pages view, what each was recognised as, and their reports.
struct GivenLogs {
    std::vector<ByteBuffer> files;          // in the order of `report.logs`; empty for an unreadable log
    std::vector<size_t> slots;              // 0 for the first log, 1 for the second
    std::vector<const LogFormat*> formats;  // none for a log that is no log of any format
    ReplayReport report;
};

GivenLogs recognise_logs(std::optional<GivenLog> log1, std::optional<GivenLog> log2) {
    GivenLogs given;
    std::optional<GivenLog>* inputs[2] = {&log1, &log2};
    for (size_t slot = 0; slot < 2; ++slot) {
        std::optional<GivenLog>& input = *inputs[slot];
        if (!input.has_value()) continue;
        given.slots.push_back(slot);
        LogReport log;
        log.path = std::move(input->path);
        if (input->file.ok()) {
            RecognisedFile recognised = recognise_log(input->file.value());
            log.kind = std::move(recognised.kind);
            log.reason = std::move(recognised.reason);
            given.formats.push_back(recognised.format);
            given.files.push_back(std::move(input->file).value());
        } else {
            log.kind = "unreadable";
            log.reason = input->file.error().message();
            given.formats.push_back(nullptr);
            given.files.emplace_back();
        }
        given.report.logs.push_back(std::move(log));
    }
    return given;
}

// The usable logs of `format`, in the order given.
std::vector<RecognisedLog> usable_logs(GivenLogs& given, const LogFormat& format) {
    std::vector<RecognisedLog> logs;
    for (size_t i = 0; i < given.files.size(); ++i) {
        LogReport& report = given.report.logs[i];
        if (given.formats[i] == &format && report.reason.empty()) {
            logs.push_back(RecognisedLog{given.slots[i], given.files[i], &report});
        }
    }
    return logs;
}

// Recovers a dirty primary from the usable Windows logs of the highest-ranked format given (the first in the table
// when ranks are equal): a system that writes a newer format has left the older ones behind. A clean primary is
// read as it stands.
Status recover_windows_logs(ByteBuffer& image, GivenLogs& given) {
    const LogFormat* chosen = nullptr;
    for (const LogFormat* format : kLogFormats) {
        if (format->family != LogFamily::Windows || usable_logs(given, *format).empty()) continue;
        if (chosen == nullptr || format->rank > chosen->rank) chosen = format;
    }
    if (chosen == nullptr) return Ok{};
    for (const LogFormat* format : kLogFormats) {
        if (format->family != LogFamily::Windows || (format == chosen && given.report.primary_dirty)) continue;
        const std::string reason = given.report.primary_dirty
                                       ? std::string(chosen->name) + "-format logs are given too"
                                       : "the primary is clean";
        for (const RecognisedLog& log : usable_logs(given, *format)) log.report->reason = reason;
    }
    if (!given.report.primary_dirty) return Ok{};
    return chosen->recover(image, usable_logs(given, *chosen), given.report);
}

// Applies the usable logs of the reader's own formats, in table order, whatever the primary.
Status apply_reader_logs(ByteBuffer& image, GivenLogs& given) {
    for (const LogFormat* format : kLogFormats) {
        if (format->family != LogFamily::Reader) continue;
        std::vector<RecognisedLog> logs = usable_logs(given, *format);
        if (!logs.empty()) TARNU_CHECK(format->recover(image, std::move(logs), given.report));
    }
    return Ok{};
}

}  // namespace

Result<ReplayedHive> replay_logs(ByteBuffer image, std::optional<GivenLog> log1, std::optional<GivenLog> log2) {
    GivenLogs given = recognise_logs(std::move(log1), std::move(log2));
    given.report.primary_dirty = primary_is_dirty(image);
    TARNU_CHECK(recover_windows_logs(image, given));
    TARNU_CHECK(apply_reader_logs(image, given));
    TARNU_TRY(SharedHive hive, build_hive(HiveImage::from_buffer(std::move(image))));
    return ReplayedHive{std::move(hive), std::move(given.report)};
}

Result<ReplayedHive> open_hive_with_logs(const std::string& hive_path, const std::optional<std::string>& log1_path,
                                         const std::optional<std::string>& log2_path) {
    TARNU_TRY(ByteBuffer image, read_whole_file(hive_path));
    auto read = [](const std::optional<std::string>& path) -> std::optional<GivenLog> {
        if (!path) return std::nullopt;
        return GivenLog{*path, read_whole_file(*path)};
    };
    return replay_logs(std::move(image), read(log1_path), read(log2_path));
}

}  // namespace tarnu
