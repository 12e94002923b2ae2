// JSON Lines and CSV: one line per row, the export's columns (rows/row.h) spelled by rows/cell_text.h.
#include "rows/cell_text.h"
#include "rows/row_writer.h"
#include "rows/text_encode.h"

namespace tarnu {
namespace {

// The columns of the live rows of an export, and those of an export that holds recovered rows too.
constexpr ColumnList kLiveColumns = columns_of({ColumnSet::Rows});
constexpr ColumnList kAllColumns = columns_of({ColumnSet::Rows, ColumnSet::Recovery});

// Whether a column of `list` varies by key or by source (a writer may spell it once per key), and where the run of
// such columns that it belongs to ends (past it).
constexpr bool by_key(const ColumnList& list, size_t i) { return column_spec(list.columns[i]).varies != Varies::ByRow; }
constexpr size_t run_end(const ColumnList& list, size_t i) {
    while (i < list.size && by_key(list, i)) ++i;
    return i;
}

// A line per row: each column's text after its lead, then the line's end. A run of columns that vary by key (or
// by source) is spelled once per key, at the key's first row, and copied into the key's other rows; a column that
// varies by source is spelled again only when its value is another. The columns are known as the writer is
// compiled, so that a row is spelled in one pass, each column's code made for its kind and format.
template <bool kJson>
class LineWriter : public RowWriter {
public:
    void row(const Row& row, std::string& out) final {
        if (recovery_) {
            spell_row<kAllColumns>(row, out);
        } else {
            spell_row<kLiveColumns>(row, out);
        }
        out += line_end_;
    }

protected:
    LineWriter(const ExportOptions& options, bool spreadsheet, std::string_view line_end)
        : recovery_(options.sources != RowSources::Live),
          columns_(export_columns(options)),
          text_(options.binary, spreadsheet),
          line_end_(line_end) {}

    bool recovery_;
    ColumnList columns_;
    std::array<std::string, kColumnCount> leads_;  // what comes before each column's text
    CellText text_;

private:
    template <ColumnList kList>
    void spell_row(const Row& row, std::string& out) {
        for_each_column<kList>([&]<Column C, size_t I>() {
            if constexpr (!by_key(kList, I)) {
                out += leads_[I];
                spell_cell<C>(out, row);
            } else if constexpr (I == 0 || !by_key(kList, I - 1)) {
                std::string& run = runs_[I];
                if (row.first_of_key) {
                    run.clear();
                    for_each_column<kList>([&]<Column D, size_t K>() {
                        if constexpr (K >= I && K < run_end(kList, I)) {
                            run += leads_[K];
                            spell_cell<D>(run, row);
                        }
                    });
                }
                out += run;
            }
        });
    }

    template <Column C>
    void spell_cell(std::string& out, const Row& row) {
        if constexpr (column_spec(C).varies != Varies::BySource) {
            spell<C>(out, cell(row, C));
        } else {
            Remembered& remembered = remembered_[static_cast<size_t>(C)];
            const Cell now = cell(row, C);
            if (!remembered.valid || !same_cell(remembered.cell, now)) {
                remembered.text.clear();
                spell<C>(remembered.text, now);
                remembered.cell = now;
                remembered.valid = true;
            }
            out += remembered.text;
        }
    }

    template <Column C>
    void spell(std::string& out, const Cell& cell) {
        if constexpr (kJson) {
            text_.json<column_spec(C).kind>(out, cell);
        } else {
            text_.csv<column_spec(C).kind>(out, cell);
        }
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
    std::array<Remembered, kColumnCount> remembered_;

    std::string_view line_end_;
    std::array<std::string, kColumnCount> runs_;  // the text of each run, from its first column, for the key
};

class JsonLinesWriter : public LineWriter<true> {
public:
    explicit JsonLinesWriter(const ExportOptions& options) : LineWriter(options, false, "}\n") {
        // `{"hive":`, `,"key":`, ...
        for (size_t i = 0; i < columns_.size; ++i) {
            std::string& lead = leads_[i];
            lead.assign(1, i == 0 ? '{' : ',');
            append_json_string(lead, column_spec(columns_.columns[i]).name);
            lead += ':';
        }
    }
};

class CsvWriter : public LineWriter<false> {
public:
    explicit CsvWriter(const ExportOptions& options)
        : LineWriter(options, options.spreadsheet, "\r\n"), header_(options.header) {
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
