// The Arrow writer of the row model on rows made by hand, and the stream of a hive that cannot be opened: the
// buffers each field hands out, nulls, times, data by shape, the hive's dictionary, and the C stream's calls.
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "rows/arrow_stream.h"
#include "utils/text.h"

using namespace tarnu;
using namespace tarnu::test;

namespace {

template <typename T>
T item(const ArrowArray& array, size_t buffer, size_t i) {
    T out;
    std::memcpy(&out, static_cast<const uint8_t*>(array.buffers[buffer]) + i * sizeof(T), sizeof(T));
    return out;
}

bool valid(const ArrowArray& array, size_t i) {
    if (array.buffers[0] == nullptr) return true;
    return (static_cast<const uint8_t*>(array.buffers[0])[i / 8] >> (i % 8)) & 1;
}

// Item `i` of a utf8 (Offset int32_t) or large (int64_t) array.
template <typename Offset>
std::string text(const ArrowArray& array, size_t i) {
    const auto begin = static_cast<size_t>(item<Offset>(array, 1, i));
    const auto end = static_cast<size_t>(item<Offset>(array, 1, i + 1));
    return std::string(static_cast<const char*>(array.buffers[2]) + begin, end - begin);
}

// The bytes of `array`'s buffers as its format and length say: validity, offsets, values and items.
size_t buffer_bytes(const ArrowArray& array, std::string_view format) {
    const auto length = static_cast<size_t>(array.length);
    size_t bytes = array.buffers[0] != nullptr ? (length + 7) / 8 : 0;
    if (array.dictionary != nullptr) bytes += buffer_bytes(*array.dictionary, "u");
    if (format == "u") return bytes + 4 * (length + 1) + static_cast<size_t>(item<int32_t>(array, 1, length));
    if (format == "U" || format == "Z") return bytes + 8 * (length + 1) + static_cast<size_t>(item<int64_t>(array, 1, length));
    if (format == "+l") return bytes + 4 * (length + 1) + buffer_bytes(*array.children[0], "U");
    if (format == "b") return bytes + (length + 7) / 8;
    if (format == "i" || format == "I") return bytes + 4 * length;
    return bytes + 8 * length;
}

const std::vector<uint8_t> kText = {'h', 0, 0xE9, 0, 0, 0};              // "hé"
const std::vector<uint8_t> kList = {'a', 0, 0, 0, 'b', 0, 'c', 0, 0, 0, 0, 0};  // ["a", "bc"]
const std::vector<uint8_t> kDword = {7, 0, 0, 0};
const std::vector<uint8_t> kBad = {0, 0xD8, 'x', 0};  // a lone surrogate: does not decode

Row value_row(std::string_view name, uint32_t type, const std::vector<uint8_t>& data) {
    Row row;
    row.hive = "H";
    row.key = "A\\B";
    row.last_written = 116444736000000000 + 15;  // 1.5 microseconds after 1970: 1 microsecond
    row.value = name;
    row.type = ValueType{type};
    row.raw = Bytes(data);
    return row;
}

}  // namespace

TEST(every_field_of_a_batch) {
    const ColumnList columns = arrow_columns(RowSources::Live);
    ArrowBatchWriter writer(columns.view(), std::string("H"));
    CHECK_EQ(writer.schema().children.size(), size_t{10});
    Row key_only;
    key_only.hive = "H";
    key_only.key = "";
    writer.add(key_only);
    writer.add(value_row("s", kRegSz, kText));
    writer.add(value_row("m", kRegMultiSz, kList));
    writer.add(value_row("d", kRegDword, kDword));
    writer.add(value_row("bad", kRegSz, kBad));
    writer.add(value_row("u", 0x1c, kDword));
    Row error;
    error.hive = "H";
    error.error = "broken";
    writer.add(error);
    const size_t bytes = writer.bytes();
    CHECK(bytes > 0 && writer.rows() == 7);

    ArrowArray batch{};
    writer.finish(batch);
    CHECK(writer.rows() == 0 && writer.bytes() < bytes);
    // What the writer counts, against which batches are cut, is at least what its buffers hold (a validity bitmap
    // with no null in it is left out, after it was counted).
    size_t held = 0;
    for (size_t i = 0; i < writer.schema().children.size(); ++i) {
        held += buffer_bytes(*batch.children[i], writer.schema().children[i].format);
    }
    CHECK(held <= bytes && held + 16 >= bytes);
    CHECK(batch.length == 7 && batch.n_children == 10 && batch.null_count == 0 && batch.release != nullptr);
    const ArrowArray& hive = *batch.children[0];
    CHECK(hive.dictionary != nullptr && hive.dictionary->length == 1 && text<int32_t>(*hive.dictionary, 0) == "H");
    CHECK(item<int32_t>(hive, 1, 6) == 0 && hive.null_count == 0);
    const ArrowArray& key = *batch.children[1];
    CHECK(text<int32_t>(key, 0).empty() && valid(key, 0) && text<int32_t>(key, 1) == "A\\B" && !valid(key, 6));
    const ArrowArray& time = *batch.children[2];
    CHECK(!valid(time, 0) && item<int64_t>(time, 1, 1) == 1 && time.null_count == 2);
    CHECK(!valid(*batch.children[3], 0) && text<int32_t>(*batch.children[3], 4) == "bad");
    const ArrowArray& type = *batch.children[4];
    CHECK(text<int32_t>(type, 2) == "REG_MULTI_SZ" && text<int32_t>(type, 5) == "REG_UNKNOWN_0x0000001c");
    CHECK(text<int64_t>(*batch.children[5], 3) == std::string("\x07\0\0\0", 4));
    const ArrowArray& data_text = *batch.children[6];
    CHECK(text<int64_t>(data_text, 1) == "h\xC3\xA9" && !valid(data_text, 4) && data_text.null_count == 6);
    const ArrowArray& list = *batch.children[7];
    CHECK(valid(list, 2) && item<int32_t>(list, 1, 2) == 0 && item<int32_t>(list, 1, 3) == 2 && list.null_count == 6);
    CHECK(text<int64_t>(*list.children[0], 1) == "bc");
    const ArrowArray& number = *batch.children[8];
    CHECK(valid(number, 3) && item<uint64_t>(number, 1, 3) == 7 && !valid(number, 5) && number.null_count == 6);
    CHECK(text<int32_t>(*batch.children[9], 6) == "broken" && batch.children[9]->null_count == 6);
    batch.release(&batch);
    CHECK(batch.release == nullptr);
}

TEST(recovery_columns_and_a_hive_without_a_name) {
    const ColumnList columns = arrow_columns(RowSources::LiveThenRecovered);
    ArrowBatchWriter writer(columns.view(), std::nullopt);
    Row row = value_row("v", kRegDword, kDword);
    row.hive = std::nullopt;
    row.deleted = true;
    row.offset = 0x120;
    writer.add(row);
    ArrowArray batch{};
    writer.finish(batch);
    CHECK(batch.n_children == 14);
    CHECK(batch.children[0]->null_count == 1 && batch.children[0]->dictionary->length == 0);
    const ArrowArray& deleted = *batch.children[9];
    CHECK(deleted.buffers[0] == nullptr && (static_cast<const uint8_t*>(deleted.buffers[1])[0] & 1) == 1);
    CHECK(batch.children[10]->null_count == 1 && item<uint32_t>(*batch.children[11], 1, 0) == 0x120);
    batch.release(&batch);
}

TEST(text_written_into_room_is_the_text_appended) {
    using Form = StoredText::Form;
    const std::vector<std::pair<std::vector<uint8_t>, Form>> texts = {
        {{'a', 0, 'b', 0}, Form::Utf16Le},
        {{0, 'a', 0, 0xE9}, Form::Utf16Be},
        {{0xAC, 0x20, 'x', 0, 0x3D, 0xD8, 0x00, 0xDE}, Form::Utf16Le},  // a three-byte character and a pair
        {{0x3D, 0xD8, 'x', 0}, Form::Utf16Le},                          // a lone surrogate: nothing
        {{'o', 0xC3, 0xA9}, Form::Utf8},
        {{'o', 0xC3}, Form::Utf8},  // cut inside a sequence: nothing
        {{}, Form::Utf16Le},
    };
    for (const auto& [units, form] : texts) {
        const StoredText text{Bytes(units), form};
        std::string appended = "<";
        append_utf8(text, appended);
        std::string room(utf8_bound(text) + 1, '<');
        room.resize(1 + utf8_into(text, room.data() + 1));
        CHECK_EQ(room, appended);
    }
}

TEST(buffers_grow_past_their_room_and_keep_every_bit) {
    ArrowBatchWriter writer(arrow_columns(RowSources::Live).view(), std::nullopt);
    std::vector<std::string> names;
    for (int i = 0; i < 1001; ++i) names.push_back(std::string(static_cast<size_t>(i % 37), 'n') + std::to_string(i));
    for (size_t i = 0; i < names.size(); ++i) {
        Row row = value_row(names[i], kRegSz, kText);
        if (i % 3 == 1) row.value = std::nullopt;
        writer.add(row);
    }
    ArrowArray batch{};
    writer.finish(batch);
    const ArrowArray& value = *batch.children[3];
    CHECK(value.length == 1001 && value.null_count == 334);
    for (size_t i = 0; i < names.size(); ++i) {
        CHECK_EQ(valid(value, i), i % 3 != 1);
        if (i % 3 != 1) CHECK_EQ(text<int32_t>(value, i), names[i]);
        CHECK_EQ(text<int64_t>(*batch.children[6], i), std::string("h\xC3\xA9"));
    }
    batch.release(&batch);
}

TEST(strings_that_decode_only_before_their_end) {
    ArrowBatchWriter writer(arrow_columns(RowSources::Live).view(), std::nullopt);
    const std::vector<uint8_t> before_end = {'o', 0, 0, 0, 0x00, 0xD8};  // "o", its terminator, a lone surrogate
    const std::vector<uint8_t> utf8 = {0xEF, 0xBB, 0xBF, 'u', 0xC3, 0xA9, 0, 0xFF};  // marked UTF-8 "ué", then junk
    writer.add(value_row("s", kRegSz, before_end));
    writer.add(value_row("e", kRegExpandSz, utf8));
    writer.add(value_row("bad", kRegExpandSz, kBad));
    ArrowArray batch{};
    writer.finish(batch);
    const ArrowArray& data_text = *batch.children[6];
    CHECK_EQ(text<int64_t>(data_text, 0), std::string("o"));
    CHECK_EQ(text<int64_t>(data_text, 1), std::string("u\xC3\xA9"));
    CHECK(!valid(data_text, 2) && data_text.null_count == 1);
    batch.release(&batch);
}

TEST(columns_of_no_stream_of_their_own) {
    const std::array<Column, 2> columns = {Column::Type, Column::Value};
    ArrowBatchWriter writer(columns, std::nullopt);
    writer.add(value_row("v", kRegDword, kDword));
    ArrowArray batch{};
    writer.finish(batch);
    CHECK(batch.n_children == 2 && text<int32_t>(*batch.children[0], 0) == "REG_DWORD");
    CHECK_EQ(text<int32_t>(*batch.children[1], 0), std::string("v"));
    batch.release(&batch);
}

TEST(a_stream_of_a_hive_that_cannot_be_opened_is_one_error_row) {
    ArrowRowsOptions options;
    options.hive_name = "gone";
    auto rows = std::make_unique<ArrowRows>([] { return Result<SharedHive>(HiveError::io_text("no such hive")); },
                                            options);
    const auto counts = rows->counts();
    ArrowArrayStream stream{};
    export_arrow_stream(std::move(rows), nullptr, stream);
    ArrowSchema schema{};
    CHECK(stream.get_schema(&stream, &schema) == 0 && schema.n_children == 10);
    CHECK(std::string(schema.children[0]->format) == "i" && std::string(schema.children[0]->dictionary->format) == "u");
    CHECK(std::string(schema.children[2]->format) == "tsu:UTC" && std::string(schema.children[7]->format) == "+l");
    schema.release(&schema);
    ArrowArray batch{};
    CHECK(stream.get_next(&stream, &batch) == 0 && batch.release != nullptr && batch.length == 1);
    if (batch.release == nullptr) return;
    CHECK(!valid(*batch.children[1], 0) && text<int32_t>(*batch.children[9], 0) == "no such hive");
    batch.release(&batch);
    CHECK(stream.get_next(&stream, &batch) == 0 && batch.release == nullptr);
    CHECK(stream.get_last_error(&stream) == nullptr && counts->skipped == 1);
    stream.release(&stream);
    CHECK(stream.release == nullptr);
}
