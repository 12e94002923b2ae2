// One export: a walk from a key of a hive, written in one of the export formats (rows/row_writer.h) chunk by
// chunk, so that a caller can pass each chunk on (to a file, a pipe, Python) while the next is made.
#pragma once

#include <memory>
#include <string>

#include "rows/key_records.h"
#include "rows/row_writer.h"

namespace tarnu {

class Exporter {
public:
    // `hive` must outlive the exporter; `start_path` is the path of `start` from the root key.
    Exporter(const Hive& hive, KeyNode start, std::string start_path, const ExportOptions& options);

    // Appends output to `chunk` until it has grown by at least `target` bytes or the export is over; returns
    // whether there is more. With `stop_at_first_problem`, the export ends before the key where the first problem
    // was met.
    bool fill(std::string& chunk, size_t target);

    // Counts and problems of the walk so far.
    KeyRecords& records() { return records_; }

private:
    KeyRecords records_;
    std::unique_ptr<RowWriter> writer_;
    bool stop_at_first_problem_;
    bool utf16_;
    bool begun_ = false;
    bool over_ = false;
};

}  // namespace tarnu
