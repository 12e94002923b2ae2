// Timelines of key last-written times: the bodyfile that `mactime` reads, and a CSV ordered by time.
#include <algorithm>
#include <vector>

#include "rows/row_writer.h"
#include "rows/text_encode.h"
#include "utils/filetime.h"

namespace tarnu {
namespace {

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
// "HIVE:\path" and its last-written time as mtime in Unix seconds; 0 marks the times a key does not have.
class BodyfileWriter : public RowWriter {
public:
    explicit BodyfileWriter(const ExportOptions& options) {
        if (options.hive_name) append_bodyfile_name(prefix_, *options.hive_name);
        prefix_ += ":\\";
    }

    void key(const KeyRecord& key, std::string& out) override {
        out += "0|";
        out += prefix_;
        append_bodyfile_name(out, key.path);
        out += "|0|0|0|0|0|0|";
        out += key.last_written == 0 ? "0" : std::to_string(unix_seconds(key.last_written));
        out += "|0|0\n";
    }

private:
    std::string prefix_;  // "HIVE:\\", escaped
};

// "last_written,hive,key" per key, ordered by time and then by path once the walk is over; a time of 0 or past
// the year 9999 is an empty field and comes first.
class TimelineCsvWriter : public RowWriter {
public:
    explicit TimelineCsvWriter(const ExportOptions& options) : header_(options.header) {
        if (options.hive_name) append_csv_field(hive_, *options.hive_name);
    }

    void begin(std::string& out) override {
        if (header_) out += "last_written,hive,key\r\n";
    }

    void key(const KeyRecord& key, std::string&) override {
        const bool shown = key.last_written != 0 && key.last_written < kFirstFiletimePastYear9999;
        rows_.push_back(Row{shown ? key.last_written : 0, key.path});
    }

    void end(std::string& out) override {
        std::sort(rows_.begin(), rows_.end(),
                  [](const Row& a, const Row& b) { return a.time != b.time ? a.time < b.time : a.path < b.path; });
        for (const Row& row : rows_) {
            if (row.time != 0) out += iso8601(row.time);
            out += ',';
            out += hive_;
            out += ',';
            append_csv_field(out, row.path);
            out += "\r\n";
        }
        rows_.clear();
    }

private:
    struct Row {
        uint64_t time;
        std::string path;
    };
    bool header_;
    std::string hive_;
    std::vector<Row> rows_;
};

}  // namespace

std::unique_ptr<RowWriter> make_bodyfile_writer(const ExportOptions& options) {
    return std::make_unique<BodyfileWriter>(options);
}

std::unique_ptr<RowWriter> make_timeline_csv_writer(const ExportOptions& options) {
    return std::make_unique<TimelineCsvWriter>(options);
}

}  // namespace tarnu
