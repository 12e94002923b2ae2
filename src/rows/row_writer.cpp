#include "rows/row_writer.h"

namespace tarnu {
namespace {

class CountWriter : public RowWriter {
public:
    void key(const KeyRecord&, std::string&) override {}
};

}  // namespace

std::unique_ptr<RowWriter> make_row_writer(const ExportOptions& options) {
    switch (options.format) {
        case ExportFormat::Count: return std::make_unique<CountWriter>();
        case ExportFormat::JsonLines: return make_json_lines_writer(options);
        case ExportFormat::Csv: return make_csv_writer(options);
        case ExportFormat::Bodyfile: return make_bodyfile_writer(options);
        case ExportFormat::TimelineCsv: return make_timeline_csv_writer(options);
        case ExportFormat::Reg: return make_reg_writer(options);
    }
    return std::make_unique<CountWriter>();
}

}  // namespace tarnu
