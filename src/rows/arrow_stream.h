// The rows of one hive as Arrow record batches (rows/arrow_batch.h), made one at a time, and the Arrow C stream
// interface (rows/arrow_abi.h) over them.
//
// `ArrowRows` reads the row sources (rows/row_source.h) of the hive, the live walk from a key, what recovery finds,
// or the one after the other, as the exports do. What could not be read becomes an error row where it was met, and
// the walk goes on; a hive that cannot be opened, or a start key that is not there, gives one error row with key
// null. The hive is opened at the first batch. A batch ends before the row that could bring its buffers past the
// byte budget, or at the row budget; a row larger than the byte budget makes a batch of its own.
//
// `export_arrow_stream` hands the batches out as an ArrowArrayStream whose calls may come from any thread: they take
// turns, and each batch is made inside the caller's `AroundBatch` (the Python layer lets go of the interpreter lock
// there).
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hive/hive.h"
#include "rows/arrow_batch.h"
#include "rows/row_source.h"
#include "rows/row_writer.h"

namespace tarnu {

// The budget of a batch: the bytes of its buffers, and its rows.
inline constexpr size_t kArrowBatchBytes = size_t{8} << 20;
inline constexpr size_t kArrowBatchRows = 65536;

struct ArrowRowsOptions {
    RowSources sources = RowSources::Live;
    std::optional<std::string> hive_name;  // the "hive" of every row
    std::string key;                       // where the live walk starts, from the root ("" for the root)
    size_t batch_bytes = kArrowBatchBytes;
    size_t batch_rows = kArrowBatchRows;
};

// The columns of the batches: those of every row, of recovery when recovered rows are read, and the error column.
ColumnList arrow_columns(RowSources sources);

// What the rows have read so far, for a reader on another thread.
struct ArrowRowCounts {
    std::atomic<size_t> keys{0}, values{0};  // of the live walk
    std::atomic<size_t> skipped{0};          // error rows
};

// Opens the hive the rows come from; called once, without any lock of the caller's.
using HiveOpener = std::function<Result<SharedHive>()>;

class ArrowRows {
public:
    ArrowRows(HiveOpener open, ArrowRowsOptions options);

    const ArrowField& schema() const { return writer_.schema(); }
    // Fills `out` with the next batch; false, leaving `out` as it is, once the rows are over.
    bool next(ArrowArray& out);
    const std::shared_ptr<ArrowRowCounts>& counts() const { return counts_; }

private:
    struct PendingError {
        RecordProblem problem;
        bool has_key;
    };

    void start();
    // Points `current_` at the next rows: an error row, or the rows the sources gave; false once they are over.
    bool next_group();

    HiveOpener open_;
    ArrowRowsOptions options_;
    ArrowBatchWriter writer_;
    SharedHive hive_;
    std::vector<std::unique_ptr<RowSource>> sources_;
    RowSource* live_ = nullptr;
    size_t source_ = 0;
    RowGroup fetched_, error_;
    bool has_fetched_ = false;
    std::deque<PendingError> errors_;
    const RowGroup* current_ = nullptr;
    size_t row_ = 0;  // the next row of `current_`
    bool started_ = false;
    bool over_ = false;
    std::shared_ptr<ArrowRowCounts> counts_ = std::make_shared<ArrowRowCounts>();
};

// Runs `work(context)`, wrapped as the caller needs.
using AroundBatch = void (*)(void (*work)(void*), void* context);

// Fills `out` with a stream of the batches of `rows`; `around`, when given, wraps the making of each batch.
void export_arrow_stream(std::unique_ptr<ArrowRows> rows, AroundBatch around, ArrowArrayStream& out);

}  // namespace tarnu
