#include "logs/replay.h"

#include <algorithm>

#include "hive/file_io.h"
#include "hive/limits.h"
#include "logs/log_base_block.h"
#include "logs/old_format_log.h"
#include "logs/transaction_log.h"
#include "logs/windows_recovery.h"
#include "utils/format.h"

namespace tarnu {
namespace {

// What the bytes of a log file are; `reason` says why a file is no log, or why a Windows log cannot be used.
LogKind recognise(Bytes file, std::string& reason) {
    if (file.empty()) {
        reason = "no bytes";
        return LogKind::Empty;
    }
    if (has_signature(file, "HvLE")) {
        if (file.size() < kLogHeaderSize) reason = "too small: " + dec(file.size()) + " bytes";
        return LogKind::Blocks;
    }
    if (!has_signature(file, "regf")) {
        reason = "it begins with neither \"HvLE\" nor \"regf\"";
        return LogKind::NotALog;
    }
    if (file.size() < kLogBaseBlockSize) {
        reason = "too small: " + dec(file.size()) + " bytes";
        return LogKind::NotALog;
    }
    const uint32_t type = le32(file, base_block_field::kFileType);
    LogKind kind = LogKind::NotALog;
    if (type == kOldLogFileType || type == kOldestLogFileType) kind = LogKind::OldFormat;
    if (type == kNewLogFileType) kind = LogKind::NewFormat;
    if (kind == LogKind::NotALog) {
        reason = "a \"regf\" file of type " + dec(type) + ", not a log";
    } else if (auto problem = log_header_problem(file)) {
        reason = "unusable base block: " + *problem;
    } else if (kind == LogKind::OldFormat) {
        if (auto problem = dirty_vector_problem(file)) reason = "unusable dirty vector: " + *problem;
    }
    return kind;
}

// The logs of one replay: their buffers, which the pages view, and their reports.
struct GivenLogs {
    std::vector<ByteBuffer> files;  // in the order of `report.logs`; empty for an unreadable log
    std::vector<size_t> slots;      // 0 for the first log, 1 for the second
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
            log.kind = recognise(input->file.value(), log.reason);
            given.files.push_back(std::move(input->file).value());
        } else {
            log.kind = LogKind::Unreadable;
            log.reason = input->file.error().message();
            given.files.emplace_back();
        }
        given.report.logs.push_back(std::move(log));
    }
    return given;
}

// Recovers a dirty primary from the usable Windows logs. The new format wins when logs of both formats are
// given: a system that writes it has left the old format behind.
void recover(ByteBuffer& image, GivenLogs& given) {
    std::vector<WindowsLog> old_logs, new_logs;
    for (size_t i = 0; i < given.files.size(); ++i) {
        LogReport& log = given.report.logs[i];
        if (!log.reason.empty()) continue;
        const WindowsLog windows_log{given.slots[i], given.files[i], &log};
        if (log.kind == LogKind::OldFormat) old_logs.push_back(windows_log);
        if (log.kind == LogKind::NewFormat) new_logs.push_back(windows_log);
    }
    if (!given.report.primary_dirty) {
        for (auto* logs : {&old_logs, &new_logs}) {
            for (WindowsLog& log : *logs) log.report->reason = "the primary is clean";
        }
        return;
    }
    if (!new_logs.empty()) {
        for (WindowsLog& log : old_logs) log.report->reason = "new-format logs are given too";
        recover_from_new_format(image, std::move(new_logs), given.report);
    } else if (!old_logs.empty()) {
        recover_from_old_format(image, old_logs, given.report);
    }
}

// Applies the "blocks" logs in their sequence order, as the reader always has; returns the pages applied.
Result<size_t> apply_block_logs(ByteBuffer& image, GivenLogs& given) {
    std::vector<TransactionLog> logs;
    std::vector<LogReport*> reports;
    for (size_t i = 0; i < given.files.size(); ++i) {
        LogReport& report = given.report.logs[i];
        if (report.kind != LogKind::Blocks || !report.reason.empty()) continue;
        Result<TransactionLog> log = parse_transaction_log(given.files[i]);
        if (!log.ok()) continue;  // recognition has already ruled out every failure
        logs.push_back(std::move(log).value());
        reports.push_back(&report);
    }
    if (logs.empty()) return size_t{0};
    // Stable, so that with equal sequence numbers the first log is replayed first.
    std::vector<size_t> order(logs.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return logs[a].sequence_number < logs[b].sequence_number; });
    std::vector<TransactionLog> ordered;
    for (size_t i : order) {
        LogReport& report = *reports[i];
        report.used = true;
        report.pages_applied = logs[i].dirty_pages.size();
        if (!logs[i].dirty_pages.empty()) report.first_sequence = report.last_sequence = logs[i].sequence_number;
        report.stop = logs[i].reached_page_stop ? "more than " + dec(kLogPageStop) + " pages" : "end of file";
        ordered.push_back(std::move(logs[i]));
    }
    return apply_transaction_logs(image, ordered);
}

}  // namespace

Result<ReplayedHive> replay_logs(ByteBuffer image, std::optional<GivenLog> log1, std::optional<GivenLog> log2) {
    GivenLogs given = recognise_logs(std::move(log1), std::move(log2));
    given.report.primary_dirty = primary_is_dirty(image);
    recover(image, given);
    TARNU_TRY(size_t applied, apply_block_logs(image, given));
    if (applied != 0) {
        if (image.size() < kBaseBlockSize) return HiveError::hive_too_small(image.size(), kBaseBlockSize);
        put_le32(image.data() + kChecksumPosition, base_block_checksum(image));
    }
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
