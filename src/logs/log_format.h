// The interface every log format offers the replay, and the table of the formats in the order recognition tries
// them. A format names itself as the report shows it, says whether a file that begins with its signature is one of
// its logs (and whether that log is usable), describes such a log on its own, and recovers an image from its
// usable logs, saying in their reports what it did.
//
// The replay decides between formats only by what their entries declare: the family (Windows logs recover a
// dirty primary, before the reader's own logs are applied to any primary) and, among Windows formats, the rank
// (of the formats given, the highest is used). A new format is a unit that defines its entry, declared and listed
// below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hive/file_io.h"
#include "logs/replay_report.h"
#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

enum class LogFamily : uint8_t {
    Windows,  // recovers a dirty primary; only the highest-ranked Windows format given is used
    Reader,   // the reader's own layout: applied to any primary, after Windows recovery
};

// What a format makes of a file that begins with its signature.
struct Recognition {
    bool claimed = false;  // the file is a log of this format
    std::string reason;    // claimed: why the log cannot be used, empty when it can; otherwise why it is no log
};

// A log of the format described on its own, without a primary.
struct LogDescription {
    std::vector<uint32_t> sequences;                // as its header or base block copy holds them
    std::optional<uint32_t> hive_bins_data_size;    // as its base block copy states it
    std::optional<size_t> entries;                  // formats with entries: the valid ones from its first number
    std::optional<size_t> pages;                    // the pages or dirty units those hold, when they can be read
    std::string stop;                               // why the reading of its pages ended; empty when not read
};

// A usable log of one format, as its recovery takes it.
struct RecognisedLog {
    size_t slot;        // 0 for the first log given, 1 for the second
    Bytes file;         // the whole log file
    LogReport* report;  // where the recovery says what it did with the log
};

struct LogFormat {
    std::string_view name;  // as the report shows it
    char signature[5];      // the four bytes its logs begin with
    LogFamily family;
    int rank;  // among Windows formats: the highest given is used

    // Called only for a file of at least four bytes that begins with `signature`.
    Recognition (*recognise)(Bytes file);
    // Called only for a file that `recognise` claimed, usable or not.
    LogDescription (*describe)(Bytes file);
    // Applies `logs` (usable logs of this format, in the order given) to `image` and fills in `report` and the
    // logs' reports. Fails only where a replay limit is broken or the image cannot make a hive.
    Status (*recover)(ByteBuffer& image, std::vector<RecognisedLog> logs, ReplayReport& report);
};

// The formats, each defined by its own unit, and the order in which recognition tries them.
extern const LogFormat kBlocksLogFormat;  // transaction_log.cpp
extern const LogFormat kOldLogFormat;     // old_format_log.cpp
extern const LogFormat kNewLogFormat;     // new_format_log.cpp
inline constexpr const LogFormat* kLogFormats[] = {&kBlocksLogFormat, &kOldLogFormat, &kNewLogFormat};

// What a log file is, by its bytes: its format, or none for the kinds that are no log at all.
struct RecognisedFile {
    const LogFormat* format = nullptr;
    std::string kind;    // the format's name, "empty" or "not a log"
    std::string reason;  // why the log cannot be used or is no log; empty for a usable log
};
RecognisedFile recognise_log(Bytes file);

// A log file described on its own: what `recognise_log` makes of it and, for a log of a format, what the format
// reads in it.
struct DescribedLog {
    RecognisedFile recognised;
    LogDescription description;
};
DescribedLog describe_log(Bytes file);

}  // namespace tarnu
