// Timelines of key last-written times: the bodyfile that `mactime` reads, and a CSV ordered by time. Both write one
// line per key, at its first row; a value that no recovered key lists has no time and no line.
#include <algorithm>
#include <vector>

#include "rows/cell_text.h"
#include "rows/row_writer.h"
#include "rows/text_encode.h"

namespace tarnu {
namespace {

bool writes_key(const Row& row) { return row.first_of_key && row.key.has_value(); }

// A bodyfile line has eleven fields split at '|' and ends at a line break, so these characters of a name are
// written as %XX, and so is '%' itself to keep the name readable back.
void append_bodyfile_name(std::string& out, std::string_view name) {
    for (char c : name) {
        switch (c) {
            case '|': out += "%7C"; break;
            case '\n': out += "%0A"; break;
            case '\r': out += "%0D"; break;
            case '%': out += "%25"; break;
            default: out += c;
        }
    }
}

// MD5|name|inode|mode_as_string|UID|GID|size|atime|mtime|ctime|crtime, with the key's path as
// "HIVE:\path" (and " (deleted, SOURCE)" after a recovered key's, SOURCE saying where recovery found it) and its last-written time as mtime in Unix seconds; 0
// marks the times a key does not have, and a last-written time that rows show as null.
class BodyfileWriter : public RowWriter {
public:
    explicit BodyfileWriter(const ExportOptions& options) {
        if (options.hive_name) append_bodyfile_name(prefix_, *options.hive_name);
        prefix_ += ":\\";
    }

    void row(const Row& row, std::string& out) override {
        if (!writes_key(row)) return;
        out += "0|";
        out += prefix_;
        append_bodyfile_name(out, *row.key);
        if (row.deleted) {
            out += " (deleted, ";
            out += row.source.value_or("");
            out += ')';
        }
        out += "|0|0|0|0|0|0|";
        out += has_time(row.last_written) ? std::to_string(unix_seconds(row.last_written)) : "0";
        out += "|0|0\n";
    }

private:
    std::string prefix_;  // "HIVE:\\", escaped
};

// "last_written,hive,key" per key (with "deleted,path_complete,source" when recovered rows are written), ordered by time
// and then by path once the export is over; a time that rows show as null is an empty field and comes first.
class TimelineCsvWriter : public RowWriter {
public:
    explicit TimelineCsvWriter(const ExportOptions& options)
        : text_(options.binary, options.spreadsheet), header_(options.header) {
        for (Column column : {Column::LastWritten, Column::Hive, Column::Key}) columns_[size_++] = column;
        if (options.sources != RowSources::Live) {
            for (Column column : {Column::Deleted, Column::PathComplete, Column::Source}) columns_[size_++] = column;
        }
    }

    void begin(std::string& out) override {
        if (header_) text_.csv_header(out, columns());
    }

    void row(const Row& row, std::string&) override {
        if (!writes_key(row)) return;
        Line line{has_time(row.last_written) ? row.last_written : 0, std::string(*row.key), {}};
        for (size_t i = 0; i < size_; ++i) {
            if (i != 0) line.text += ',';
            csv_speller(columns_[i])(text_, line.text, row);
        }
        line.text += "\r\n";
        lines_.push_back(std::move(line));
    }

    void end(std::string& out) override {
        std::stable_sort(lines_.begin(), lines_.end(), [](const Line& a, const Line& b) {
            return a.time != b.time ? a.time < b.time : a.path < b.path;
        });
        for (const Line& line : lines_) out += line.text;
        lines_.clear();
    }

private:
    std::span<const Column> columns() const { return std::span<const Column>(columns_.data(), size_); }

    struct Line {
        uint64_t time;
        std::string path;
        std::string text;
    };
    CellText text_;
    bool header_;
    std::array<Column, 6> columns_{};
    size_t size_ = 0;
    std::vector<Line> lines_;
};

}  // namespace

std::unique_ptr<RowWriter> make_bodyfile_writer(const ExportOptions& options) {
    return std::make_unique<BodyfileWriter>(options);
}

std::unique_ptr<RowWriter> make_timeline_csv_writer(const ExportOptions& options) {
    return std::make_unique<TimelineCsvWriter>(options);
}

}  // namespace tarnu
