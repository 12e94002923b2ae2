#include "rows/exporter.h"

#include "rows/text_encode.h"

namespace tarnu {

Exporter::Exporter(const Hive& hive, KeyNode start, std::string start_path, const ExportOptions& options)
    : records_(hive, std::move(start), std::move(start_path)),
      writer_(make_row_writer(options)),
      stop_at_first_problem_(options.stop_at_first_problem),
      utf16_(options.format == ExportFormat::Reg) {}

bool Exporter::fill(std::string& chunk, size_t target) {
    if (over_) return false;
    std::string text;
    // Room for the target and the key that passes it, so that the text is rarely copied while it grows.
    text.reserve(target + target / 4);
    if (!begun_) {
        writer_->begin(text);
        begun_ = true;
    }
    while (text.size() < target) {
        std::optional<KeyRecord> key = records_.next();
        // Stopping early ends the format all the same (a timeline writes the keys it has gathered).
        if (!key || (stop_at_first_problem_ && records_.skipped() != 0)) {
            writer_->end(text);
            over_ = true;
            break;
        }
        writer_->key(*key, text);
        for (RecordProblem& problem : writer_->take_problems()) records_.add_problem(std::move(problem));
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
