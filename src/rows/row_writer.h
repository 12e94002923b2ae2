// The export formats: each writer turns rows (rows/row.h), whatever their source, into text, one row at a time.
//
// - JSON Lines: one object per row, on its own line (UTF-8, LF), with the columns of the export (rows/row.h
//   `kColumns`: those of every row, then those of recovery when recovered rows are written) as its members.
// - CSV: the same columns under a header line made from the column table, RFC 4180 quoting, CRLF line ends; null is
//   an empty field and a list of strings is written as its JSON array. For spreadsheet programs: a UTF-8
//   byte-order mark first, and each cell made inert and cut to what a spreadsheet cell holds (rows/text_encode.h).
// - Bodyfile: one line per key in the layout that `mactime` reads, the key's last-written time as mtime; a
//   recovered key's name ends in " (deleted)".
// - Timeline CSV: "last_written,hive,key" per key (and "deleted,path_complete" with recovered rows), ordered by
//   time.
// - .reg: the text of a file that regedit imports (turned into UTF-16LE by the exporter); a key or value whose
//   name holds a line break cannot be written and is a problem instead, and a value without a key has no place.
// - Count: nothing; the export only counts.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "rows/key_records.h"
#include "rows/row.h"

namespace tarnu {

enum class ExportFormat : uint8_t { Count, JsonLines, Csv, Bodyfile, TimelineCsv, Reg };
enum class BinaryText : uint8_t { Hex, Base64 };
// Which rows an export writes: the live keys', those of what recovery finds after them, or those of recovery alone.
enum class RowSources : uint8_t { Live, LiveThenRecovered, Recovered };

struct ExportOptions {
    ExportFormat format = ExportFormat::JsonLines;
    BinaryText binary = BinaryText::Hex;
    RowSources sources = RowSources::Live;
    std::optional<std::string> hive_name;  // the "hive" of every row; null when there is none
    std::string reg_prefix;                // the root of the key lines of a .reg file
    bool stop_at_first_problem = false;    // end the export before the key where something could not be read
    bool header = true;        // the header line of a CSV format (and the byte-order mark), which several hives share
    bool spreadsheet = false;  // CSV formats: written for spreadsheet programs
};

class RowWriter {
public:
    virtual ~RowWriter() = default;
    virtual void begin(std::string&) {}
    virtual void row(const Row& row, std::string& out) = 0;
    virtual void end(std::string&) {}

    // What a format could not hold, since the last call (a .reg file cannot hold a line break in a name).
    std::vector<RecordProblem> take_problems() { return std::exchange(problems_, {}); }
    bool has_problems() const { return !problems_.empty(); }

protected:
    std::vector<RecordProblem> problems_;
};

std::unique_ptr<RowWriter> make_row_writer(const ExportOptions& options);

// What a format writes before its rows when `options.header` is set, for a CSV format: the byte-order mark of a
// spreadsheet CSV and the header line; nothing for the other formats.
std::string export_header(const ExportOptions& options);

// The columns of JSON Lines and CSV rows of an export.
ColumnList export_columns(const ExportOptions& options);

// Each format's writer.
std::unique_ptr<RowWriter> make_json_lines_writer(const ExportOptions& options);
std::unique_ptr<RowWriter> make_csv_writer(const ExportOptions& options);
std::unique_ptr<RowWriter> make_bodyfile_writer(const ExportOptions& options);
std::unique_ptr<RowWriter> make_timeline_csv_writer(const ExportOptions& options);
std::unique_ptr<RowWriter> make_reg_writer(const ExportOptions& options);

}  // namespace tarnu
