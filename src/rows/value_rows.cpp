// JSON Lines and CSV: one line per row, the export's columns (rows/row.h) spelled by rows/cell_text.h.
#include "rows/cell_text.h"
#include "rows/row_writer.h"
#include "rows/text_encode.h"

namespace tarnu {
namespace {

class JsonLinesWriter : public RowWriter {
public:
    explicit JsonLinesWriter(const ExportOptions& options)
        : columns_(export_columns(options)), text_(options.binary, false) {
        // What comes before each column's value: `{"hive":`, `,"key":`, ...
        for (size_t i = 0; i < columns_.size; ++i) {
            std::string& lead = leads_[i];
            lead.assign(1, i == 0 ? '{' : ',');
            append_json_string(lead, column_spec(columns_.columns[i]).name);
            lead += ':';
        }
    }

    void row(const Row& row, std::string& out) override {
        for (size_t i = 0; i < columns_.size; ++i) {
            const Column column = columns_.columns[i];
            out += leads_[i];
            text_.json(out, cell(row, column), column_spec(column).kind);
        }
        out += "}\n";
    }

private:
    ColumnList columns_;
    std::array<std::string, kColumnCount> leads_;
    CellText text_;
};

class CsvWriter : public RowWriter {
public:
    explicit CsvWriter(const ExportOptions& options)
        : columns_(export_columns(options)),
          text_(options.binary, options.spreadsheet),
          header_(options.header) {}

    void begin(std::string& out) override {
        if (header_) text_.csv_header(out, columns_.view());
    }

    void row(const Row& row, std::string& out) override {
        for (size_t i = 0; i < columns_.size; ++i) {
            const Column column = columns_.columns[i];
            if (i != 0) out += ',';
            text_.csv(out, cell(row, column), column_spec(column).kind);
        }
        out += "\r\n";
    }

private:
    ColumnList columns_;
    CellText text_;
    bool header_;
};

}  // namespace

std::unique_ptr<RowWriter> make_json_lines_writer(const ExportOptions& options) {
    return std::make_unique<JsonLinesWriter>(options);
}

std::unique_ptr<RowWriter> make_csv_writer(const ExportOptions& options) { return std::make_unique<CsvWriter>(options); }

}  // namespace tarnu
