// One export: the rows of its sources (rows/row_source.h) — the walk from a key of a hive, what recovery finds, or
// the one after the other — written in one of the export formats (rows/row_writer.h) chunk by chunk, so that a
// caller can pass each chunk on (to a file, a pipe, Python) while the next is made.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "rows/row_source.h"
#include "rows/row_writer.h"

namespace tarnu {

class Exporter {
public:
    // `hive` must outlive the exporter; `start_path` is the path of `start` from the root key. Recovery covers the
    // whole hive, wherever the walk starts.
    Exporter(const Hive& hive, KeyNode start, std::string start_path, const ExportOptions& options);

    // Appends output to `chunk` until it has grown by at least `target` bytes (or by one row past it) or the export
    // is over; returns whether there is more. With `stop_at_first_problem`, the export ends before the key where
    // the first problem was met.
    bool fill(std::string& chunk, size_t target);

    // What could not be read, or written, since the last call, in the order it was met.
    std::vector<RecordProblem> take_problems() { return std::exchange(problems_, {}); }
    // The keys and values of the live walk so far, and the parts passed over by every source and the writer.
    size_t keys() const { return live_ ? live_->keys() : 0; }
    size_t values() const { return live_ ? live_->values() : 0; }
    size_t skipped() const { return skipped_; }
    // The keys and value rows of recovery so far.
    size_t recovered_keys() const { return recovered_ ? recovered_->keys() : 0; }
    size_t recovered_values() const { return recovered_ ? recovered_->values() : 0; }

private:
    // Fills `group_` from the sources in turn; false when they are over or a problem ends the export.
    bool next_group();
    void add_problems(std::vector<RecordProblem> problems);

    std::vector<std::unique_ptr<RowSource>> sources_;
    RowSource* live_ = nullptr;
    RowSource* recovered_ = nullptr;
    size_t source_ = 0;  // the one being read
    RowGroup group_;
    size_t row_ = 0;  // the next row of `group_` to write
    std::unique_ptr<RowWriter> writer_;
    std::vector<RecordProblem> problems_;
    size_t skipped_ = 0;
    bool stop_at_first_problem_;
    bool utf16_;
    bool begun_ = false;
    bool over_ = false;
};

}  // namespace tarnu
