#include "rows/arrow_stream.h"

#include <cerrno>
#include <algorithm>
#include <exception>
#include <mutex>
#include <new>
#include <utility>

#include "tree/key_path.h"
#include "tree/lookup.h"
#include "tree/nodes.h"

namespace tarnu {
namespace {

// The room made for the first batch: as many rows as its budget holds of the smallest rows, and its budget in each
// column of text or data, up to a size that is never worth more.
constexpr size_t kLeastRowBytes = 48;
constexpr size_t kMostReserved = size_t{2} << 20;

// The key the live walk starts at, and its path.
Result<std::pair<KeyNode, std::string>> start_key(const Hive& hive, const std::string& path) {
    if (path.empty()) {
        TARNU_TRY(KeyNode root, parse_key_node(hive, hive.base_block.root_cell_offset));
        return std::pair<KeyNode, std::string>(std::move(root), std::string());
    }
    TARNU_TRY(std::optional<KeyNode> start, find_key_from_root(hive, path));
    if (!start) return HiveError::key_not_found(path);
    TARNU_TRY(std::string start_path, key_path(hive, *start));
    return std::pair<KeyNode, std::string>(std::move(*start), std::move(start_path));
}

}  // namespace

ColumnList arrow_columns(RowSources sources) {
    if (sources == RowSources::Live) return columns_of({ColumnSet::Rows, ColumnSet::Records});
    return columns_of({ColumnSet::Rows, ColumnSet::Recovery, ColumnSet::Records});
}

ArrowRows::ArrowRows(HiveOpener open, ArrowRowsOptions options)
    : open_(std::move(open)),
      options_(std::move(options)),
      writer_(arrow_columns(options_.sources).view(), options_.hive_name) {
    // The first batch is written into room made for it at once, rather than grown into by copies.
    writer_.reserve(std::min(options_.batch_rows, options_.batch_bytes / kLeastRowBytes + 1),
                    std::min(options_.batch_bytes, kMostReserved));
}

void ArrowRows::start() {
    started_ = true;
    auto hive = open_();
    auto start = hive.ok() ? start_key(*hive.value(), options_.key)
                           : Result<std::pair<KeyNode, std::string>>(hive.error());
    if (!start.ok()) {
        errors_.push_back({{std::string(), start.error().message()}, false});
        return;
    }
    hive_ = std::move(hive).value();
    auto [node, path] = std::move(start).value();
    if (options_.sources != RowSources::Recovered) {
        sources_.push_back(std::make_unique<LiveRows>(*hive_, std::move(node), std::move(path), options_.hive_name));
        live_ = sources_.back().get();
    }
    if (options_.sources != RowSources::Live) {
        sources_.push_back(std::make_unique<RecoveredRows>(*hive_, options_.hive_name));
    }
}

bool ArrowRows::next_group() {
    row_ = 0;
    for (;;) {
        // What could not be read comes before the rows of the key where it was met.
        if (!errors_.empty()) {
            PendingError error = std::move(errors_.front());
            errors_.pop_front();
            const std::optional<std::string_view> hive =
                options_.hive_name ? std::optional<std::string_view>(*options_.hive_name) : std::nullopt;
            error_.set_error(hive, std::move(error.problem), error.has_key);
            counts_->skipped += 1;
            current_ = &error_;
            return true;
        }
        if (has_fetched_) {
            has_fetched_ = false;
            current_ = &fetched_;
            return true;
        }
        if (source_ == sources_.size()) return false;
        RowSource& source = *sources_[source_];
        has_fetched_ = source.next(fetched_);
        if (!has_fetched_) ++source_;
        for (RecordProblem& problem : source.take_problems()) errors_.push_back({std::move(problem), true});
    }
}

bool ArrowRows::next(ArrowArray& out) {
    if (!started_) start();
    while (!over_ && writer_.rows() < options_.batch_rows) {
        if (current_ == nullptr || row_ == current_->rows.size()) {
            if (!next_group()) {
                over_ = true;
                break;
            }
            continue;
        }
        const Row& row = current_->rows[row_];
        if (writer_.rows() != 0 && writer_.bytes() + ArrowBatchWriter::row_bound(row) > options_.batch_bytes) break;
        writer_.add(row);
        ++row_;
    }
    if (live_ != nullptr) {
        counts_->keys = live_->keys();
        counts_->values = live_->values();
    }
    if (writer_.rows() == 0) return false;
    writer_.finish(out);
    return true;
}

namespace {

struct StreamState {
    std::unique_ptr<ArrowRows> rows;
    AroundBatch around;
    std::mutex turn;
    std::string last_error;
};

StreamState& state_of(ArrowArrayStream* stream) { return *static_cast<StreamState*>(stream->private_data); }

// Runs `body`, turning an exception into an error code and the stream's last error.
template <typename Body>
int guarded(StreamState& state, Body&& body) {
    try {
        body();
        return 0;
    } catch (const std::bad_alloc&) {
        state.last_error = "out of memory";
        return ENOMEM;
    } catch (const std::exception& e) {
        state.last_error = e.what();
        return EIO;
    } catch (...) {
        state.last_error = "unknown failure";
        return EIO;
    }
}

int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
    StreamState& state = state_of(stream);
    std::lock_guard<std::mutex> lock(state.turn);
    return guarded(state, [&] { export_schema(state.rows->schema(), *out); });
}

struct NextCall {
    StreamState* state;
    ArrowArray* out;
    int code;
};

void make_next(void* context) {
    NextCall& call = *static_cast<NextCall*>(context);
    StreamState& state = *call.state;
    std::lock_guard<std::mutex> lock(state.turn);
    call.code = guarded(state, [&] {
        // The end of the stream is a released array.
        if (!state.rows->next(*call.out)) call.out->release = nullptr;
    });
}

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) {
    NextCall call{&state_of(stream), out, 0};
    if (call.state->around != nullptr) {
        call.state->around(make_next, &call);
    } else {
        make_next(&call);
    }
    return call.code;
}

const char* stream_last_error(ArrowArrayStream* stream) {
    const StreamState& state = state_of(stream);
    return state.last_error.empty() ? nullptr : state.last_error.c_str();
}

void stream_release(ArrowArrayStream* stream) {
    delete static_cast<StreamState*>(stream->private_data);
    stream->release = nullptr;
}

}  // namespace

void export_arrow_stream(std::unique_ptr<ArrowRows> rows, AroundBatch around, ArrowArrayStream& out) {
    auto state = std::make_unique<StreamState>();
    state->rows = std::move(rows);
    state->around = around;
    out.get_schema = stream_get_schema;
    out.get_next = stream_get_next;
    out.get_last_error = stream_last_error;
    out.release = stream_release;
    out.private_data = state.release();
}

}  // namespace tarnu
