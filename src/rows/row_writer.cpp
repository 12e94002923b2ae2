#include "rows/row_writer.h"

namespace tarnu {
namespace {

class CountWriter : public RowWriter {
public:
    void row(const Row&, std::string&) override {}
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

std::string export_header(const ExportOptions& options) {
    std::string out;
    if (options.format != ExportFormat::Csv && options.format != ExportFormat::TimelineCsv) return out;
    ExportOptions header = options;
    header.header = true;
    make_row_writer(header)->begin(out);
    return out;
}

ColumnList export_columns(const ExportOptions& options) {
    if (options.sources == RowSources::Live) return columns_of({ColumnSet::Rows});
    return columns_of({ColumnSet::Rows, ColumnSet::Recovery});
}

}  // namespace tarnu
