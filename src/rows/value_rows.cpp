// JSON Lines and CSV: one line per row, the export's columns (rows/row.h) spelled by rows/cell_text.h.
#include "rows/cell_text.h"
#include "rows/row_writer.h"
#include "rows/text_encode.h"

namespace tarnu {
namespace {

// A line per row: each column's text after its lead, then the line's end. A run of columns that vary by key (or
// by source) is spelled once per key, at the key's first row, and copied into the key's other rows; a column that
// varies by source is spelled again only when its value is another.
class LineWriter : public RowWriter {
public:
    void row(const Row& row, std::string& out) final {
        for (size_t i = 0; i < columns_.size;) {
            if (run_end_[i] == i) {
                out += leads_[i];
                spell_cell(out, row, i);
                ++i;
                continue;
            }
            std::string& run = runs_[i];
            if (row.first_of_key) {
                run.clear();
                for (size_t k = i; k < run_end_[i]; ++k) {
                    run += leads_[k];
                    spell_cell(run, row, k);
                }
            }
            out += run;
            i = run_end_[i];
        }
        out += line_end_;
    }

protected:
    LineWriter(const ExportOptions& options, bool spreadsheet, std::string_view line_end,
               CellSpeller (*speller)(Column))
        : columns_(export_columns(options)), text_(options.binary, spreadsheet), line_end_(line_end) {
        for (size_t i = 0; i < columns_.size; ++i) spellers_[i] = speller(columns_.columns[i]);
        for (size_t i = columns_.size; i-- > 0;) {
            const Varies varies = column_spec(columns_.columns[i]).varies;
            by_source_[i] = varies == Varies::BySource;
            const bool by_key = varies != Varies::ByRow;
            run_end_[i] = !by_key ? i : i + 1 < columns_.size && run_end_[i + 1] != i + 1 ? run_end_[i + 1] : i + 1;
        }
    }

    ColumnList columns_;
    std::array<std::string, kColumnCount> leads_;  // what comes before each column's text
    CellText text_;

private:
    void spell_cell(std::string& out, const Row& row, size_t i) {
        if (!by_source_[i]) {
            spellers_[i](text_, out, row);
            return;
        }
        Remembered& remembered = remembered_[i];
        const Cell now = cell(row, columns_.columns[i]);
        if (!remembered.valid || !same_cell(remembered.cell, now)) {
            remembered.text.clear();
            spellers_[i](text_, remembered.text, row);
            remembered.cell = now;
            remembered.valid = true;
        }
        out += remembered.text;
    }

    static bool same_cell(const Cell& a, const Cell& b) {
        return a.null == b.null && a.text.data() == b.text.data() && a.text.size() == b.text.size() &&
               a.number == b.number;
    }

    // The text of a column that varies by source, and the cell it was spelled from.
    struct Remembered {
        Cell cell;
        std::string text;
        bool valid = false;
    };
    std::array<bool, kColumnCount> by_source_{};
    std::array<Remembered, kColumnCount> remembered_;

    std::array<CellSpeller, kColumnCount> spellers_{};
    std::string_view line_end_;
    // For a column that varies by key, where its run of such columns ends (past it); for the others, itself.
    std::array<size_t, kColumnCount> run_end_{};
    std::array<std::string, kColumnCount> runs_;  // the text of each run, from its first column, for the key
};

class JsonLinesWriter : public LineWriter {
public:
    explicit JsonLinesWriter(const ExportOptions& options) : LineWriter(options, false, "}\n", json_speller) {
        // `{"hive":`, `,"key":`, ...
        for (size_t i = 0; i < columns_.size; ++i) {
            std::string& lead = leads_[i];
            lead.assign(1, i == 0 ? '{' : ',');
            append_json_string(lead, column_spec(columns_.columns[i]).name);
            lead += ':';
        }
    }
};

class CsvWriter : public LineWriter {
public:
    explicit CsvWriter(const ExportOptions& options)
        : LineWriter(options, options.spreadsheet, "\r\n", csv_speller), header_(options.header) {
        for (size_t i = 1; i < columns_.size; ++i) leads_[i].assign(1, ',');
    }

    void begin(std::string& out) override {
        if (header_) text_.csv_header(out, columns_.view());
    }

private:
    bool header_;
};

}  // namespace

std::unique_ptr<RowWriter> make_json_lines_writer(const ExportOptions& options) {
    return std::make_unique<JsonLinesWriter>(options);
}

std::unique_ptr<RowWriter> make_csv_writer(const ExportOptions& options) { return std::make_unique<CsvWriter>(options); }

}  // namespace tarnu
