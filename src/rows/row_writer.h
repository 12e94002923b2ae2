// The export formats: each turns the keys of a walk (`KeyRecord`s, in walk order) into text.
//
// - JSON Lines: one object per value, and one per key without values, each on its own line (UTF-8, LF):
//   {"hive", "key", "last_written", "value", "type", "raw", "data"}. "value" is "" for the default value and null
//   in the row of a key without values; "type" is the type's name ("REG_SZ", "REG_UNKNOWN_0x0000001c");
//   "raw" the data bytes in hex or base64, null when they could not be read; "data" the decoded data (a string,
//   a list of strings for REG_MULTI_SZ, a number for the DWORD and QWORD types), null for the other types and for
//   data that does not decode; "last_written" ISO-8601 UTC with microseconds, null for 0 and past the year 9999.
// - CSV: the same columns under a header line, RFC 4180 quoting, CRLF line ends; null is an empty field and a
//   list of strings is written as its JSON array.
// - Bodyfile: one line per key in the layout that `mactime` reads, the key's last-written time as mtime.
// - Timeline CSV: "last_written,hive,key", one line per key, ordered by time.
// - .reg: the text of a file that regedit imports (turned into UTF-16LE by the exporter); a key or value whose
//   name holds a line break cannot be written and is a problem instead.
// - Count: nothing; the walk only counts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "rows/key_records.h"

namespace tarnu {

enum class ExportFormat : uint8_t { Count, JsonLines, Csv, Bodyfile, TimelineCsv, Reg };
enum class BinaryText : uint8_t { Hex, Base64 };

struct ExportOptions {
    ExportFormat format = ExportFormat::JsonLines;
    BinaryText binary = BinaryText::Hex;
    std::optional<std::string> hive_name;  // the "hive" of every row; null when there is none
    std::string reg_prefix;                // the root of the key lines of a .reg file
    bool stop_at_first_problem = false;    // end the export before the key where something could not be read
    bool header = true;                    // the header line of a CSV format, which the text of several hives shares
    // JSON Lines and CSV: three more columns for rows that recovery adds after these: "deleted" (false here),
    // "path_complete" and "offset" (null here).
    bool deleted_columns = false;
};

class RowWriter {
public:
    virtual ~RowWriter() = default;
    virtual void begin(std::string&) {}
    virtual void key(const KeyRecord& key, std::string& out) = 0;
    virtual void end(std::string&) {}

    // What a format could not hold, since the last call (a .reg file cannot hold a line break in a name).
    std::vector<RecordProblem> take_problems() { return std::exchange(problems_, {}); }

protected:
    std::vector<RecordProblem> problems_;
};

std::unique_ptr<RowWriter> make_row_writer(const ExportOptions& options);

// Each format's writer.
std::unique_ptr<RowWriter> make_json_lines_writer(const ExportOptions& options);
std::unique_ptr<RowWriter> make_csv_writer(const ExportOptions& options);
std::unique_ptr<RowWriter> make_bodyfile_writer(const ExportOptions& options);
std::unique_ptr<RowWriter> make_timeline_csv_writer(const ExportOptions& options);
std::unique_ptr<RowWriter> make_reg_writer(const ExportOptions& options);

}  // namespace tarnu
