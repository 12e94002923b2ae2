#include "rows/exporter.h"

#include "rows/text_encode.h"

namespace tarnu {

Exporter::Exporter(const Hive& hive, KeyNode start, std::string start_path, const ExportOptions& options)
    : writer_(make_row_writer(options)),
      stop_at_first_problem_(options.stop_at_first_problem),
      utf16_(options.format == ExportFormat::Reg) {
    if (options.sources != RowSources::Recovered) {
        sources_.push_back(
            std::make_unique<LiveRows>(hive, std::move(start), std::move(start_path), options.hive_name));
        live_ = sources_.back().get();
    }
    if (options.sources != RowSources::Live) {
        sources_.push_back(std::make_unique<RecoveredRows>(hive, options.hive_name));
        recovered_ = sources_.back().get();
    }
}

void Exporter::add_problems(std::vector<RecordProblem> problems) {
    skipped_ += problems.size();
    for (RecordProblem& problem : problems) problems_.push_back(std::move(problem));
}

bool Exporter::next_group() {
    // What the writer could not hold comes before what the sources meet next.
    if (writer_->has_problems()) add_problems(writer_->take_problems());
    for (; source_ < sources_.size(); ++source_) {
        RowSource& source = *sources_[source_];
        const bool found = source.next(group_);
        if (source.has_problems()) add_problems(source.take_problems());
        // Stopping early ends the format all the same (a timeline writes the keys it has gathered).
        if (stop_at_first_problem_ && skipped_ != 0) return false;
        if (found) {
            row_ = 0;
            return true;
        }
    }
    return false;
}

bool Exporter::fill(std::string& chunk, size_t target) {
    if (over_) return false;
    std::string text;
    // Room for the target and the row that passes it, so that the text is rarely copied while it grows.
    text.reserve(target + target / 4);
    if (!begun_) {
        writer_->begin(text);
        begun_ = true;
    }
    while (text.size() < target) {
        if (row_ == group_.rows.size()) {
            if (next_group()) continue;
            writer_->end(text);
            add_problems(writer_->take_problems());
            over_ = true;
            break;
        }
        writer_->row(group_.rows[row_++], text);
    }
    if (utf16_) {
        chunk += utf16le_from_utf8(text);
    } else if (chunk.empty()) {
        chunk = std::move(text);
    } else {
        chunk += text;
    }
    return !over_;
}

}  // namespace tarnu
