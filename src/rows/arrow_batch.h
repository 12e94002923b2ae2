// The Arrow writer of the row model: rows (rows/row.h), whatever their source, into Arrow record batches (a struct
// array of one child per field) handed out through the C data interface (rows/arrow_abi.h).
//
// Each column of the row model becomes a field typed by its kind, so that a query engine filters on it:
// - Text: utf8, null where the row has none; the hive's name (it varies by source) dictionary-encoded (int32
//   indices into the one name);
// - Time: timestamp[us, tz=UTC], null where the row model shows no time;
// - Type: the type's name as utf8 ("REG_SZ", "REG_UNKNOWN_0x0000001c");
// - Bytes: large_binary;
// - Data: three fields, "<name>_text" (large_utf8: REG_SZ, REG_EXPAND_SZ), "<name>_list" (a list of large_utf8:
//   REG_MULTI_SZ) and "<name>_number" (uint64: the DWORD and QWORD types); each null unless the data decodes to
//   its shape, so all three are null for the other types (the bytes are in the raw field) and for data that does
//   not decode;
// - Flag: bool; Number: uint32 (the numbers of the row model are cell offsets).
// Large types for data, so that no offset overflows however large one value is.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "rows/arrow_arrays.h"
#include "rows/row.h"

namespace tarnu {

class ArrowBatchWriter {
public:
    // Batches of `columns`, whose rows all carry the hive name `hive_name` (or none).
    ArrowBatchWriter(std::span<const Column> columns, std::optional<std::string> hive_name);
    ~ArrowBatchWriter();
    ArrowBatchWriter(const ArrowBatchWriter&) = delete;
    ArrowBatchWriter& operator=(const ArrowBatchWriter&) = delete;

    // The schema of the batches: a struct of the fields.
    const ArrowField& schema() const { return schema_; }

    // Makes room for a batch of `rows` rows with `bytes` bytes of text or data in each column: room that is only
    // taken from the system, and so costs nothing, until it is written.
    void reserve(size_t rows, size_t bytes);

    void add(const Row& row);
    // The most bytes that `row` adds to the batch's buffers.
    static size_t row_bound(const Row& row);
    size_t rows() const { return rows_; }
    // The bytes of the batch's buffers so far.
    size_t bytes() const { return bytes_; }

    // Hands the rows so far to `out` as one batch (no rows makes an empty one) and starts the next.
    void finish(ArrowArray& out);

private:
    struct Builders;

    ArrowField schema_;
    std::vector<Column> columns_;
    std::unique_ptr<Builders> builders_;
    size_t rows_ = 0;
    size_t bytes_ = 0;
};

}  // namespace tarnu
