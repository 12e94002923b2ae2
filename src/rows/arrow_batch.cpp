#include "rows/arrow_batch.h"

#include <algorithm>
#include <string_view>
#include <type_traits>
#include <utility>

#include "decode/value_data.h"
#include "utils/text.h"

namespace tarnu {
namespace {

// What a row adds besides the text and data it carries: every field's offset or value, validity bits, the name of
// a type.
constexpr size_t kFixedRowBytes = 128;

// Microseconds between 1601 (the FILETIME epoch) and 1970.
constexpr int64_t kUnixEpochMicroseconds = 11644473600000000;

// Writes the UTF-8 of `text` at the end of `out`; returns the bytes written.
size_t write_utf8(const StoredText& text, PooledBytes& out) {
    const size_t written = utf8_into(text, out.room(utf8_bound(text)));
    out.commit(written);
    return written;
}

// Variable-size items (utf8, large_utf8, large_binary): validity, offsets, data.
template <typename Offset>
class VariableField {
public:
    // What every batch of the field holds however many items it has: the offset before the first item.
    static constexpr size_t kBatchBytes = sizeof(Offset);

    explicit VariableField(BufferSlots& slots) : valid_(slots), offsets_(slots), data_(slots) {
        offsets_.push(Offset{0});
    }

    size_t add(std::string_view text) {
        data_.append(text.data(), text.size());
        return close(text.size());
    }
    size_t add_null() { return valid_.push(false) + push_offset(); }
    // For an item written straight into `data()`: ends it once `added` bytes were written and committed.
    PooledBytes& data() { return data_; }
    size_t close(size_t added) { return valid_.push(true) + push_offset() + added; }
    size_t size() const { return size_; }
    void reserve(size_t rows, size_t bytes) {
        offsets_.reserve((rows + 1) * sizeof(Offset));
        data_.reserve(bytes);
    }

    void finish(ArrowArray& out) {
        auto parts = std::make_unique<ArrayParts>();
        const int64_t nulls = valid_.hand_validity_to(*parts);
        offsets_.hand_to(*parts);
        data_.hand_to(*parts);
        offsets_.push(Offset{0});
        export_array(out, std::move(parts), static_cast<int64_t>(std::exchange(size_, 0)), nulls);
    }

private:
    size_t push_offset() {
        offsets_.push(static_cast<Offset>(data_.size()));
        ++size_;
        return sizeof(Offset);
    }

    BitBuffer valid_;
    PooledBytes offsets_, data_;
    size_t size_ = 0;
};

// Fixed-width values: validity, values.
template <typename T>
class FixedField {
public:
    explicit FixedField(BufferSlots& slots) : valid_(slots), values_(slots) {}
    size_t add(T value) {
        values_.push(value);
        return valid_.push(true) + sizeof(T);
    }
    size_t add_null() {
        values_.push(T{});
        return valid_.push(false) + sizeof(T);
    }
    void reserve(size_t rows, size_t) { values_.reserve(rows * sizeof(T)); }

    // The array's parts, for a caller that adds a dictionary before handing them out.
    std::unique_ptr<ArrayParts> take(int64_t& length, int64_t& nulls) {
        auto parts = std::make_unique<ArrayParts>();
        length = static_cast<int64_t>(values_.size() / sizeof(T));
        nulls = valid_.hand_validity_to(*parts);
        values_.hand_to(*parts);
        return parts;
    }
    void finish(ArrowArray& out) {
        int64_t length = 0, nulls = 0;
        std::unique_ptr<ArrayParts> parts = take(length, nulls);
        export_array(out, std::move(parts), length, nulls);
    }

private:
    BitBuffer valid_;
    PooledBytes values_;
};

// Booleans: validity, values as bits.
class FlagField {
public:
    explicit FlagField(BufferSlots& slots) : valid_(slots), values_(slots) {}
    size_t add(std::optional<bool> flag) { return valid_.push(flag.has_value()) + values_.push(flag.value_or(false)); }
    void finish(ArrowArray& out) {
        auto parts = std::make_unique<ArrayParts>();
        const auto length = static_cast<int64_t>(values_.size());
        const int64_t nulls = valid_.hand_validity_to(*parts);
        values_.hand_to(*parts);
        export_array(out, std::move(parts), length, nulls);
    }

private:
    BitBuffer valid_, values_;
};

// A list of large_utf8 items per row: validity, int32 offsets into the items, the items.
class TextListField {
public:
    // The offset before the first list, and the one before the first item.
    static constexpr size_t kBatchBytes = sizeof(int32_t) + VariableField<int64_t>::kBatchBytes;

    explicit TextListField(BufferSlots& slots) : valid_(slots), offsets_(slots), items_(slots) { offsets_.push(0); }
    size_t add_null() { return valid_.push(false) + push_offset(); }
    // Appends an item of the row's list, written by `write` into the buffer it is given; returns the bytes added.
    template <typename Write>
    size_t add_item(Write&& write) {
        PooledBytes& data = items_.data();
        const size_t before = data.size();
        write(data);
        return items_.close(data.size() - before);
    }
    // Ends the row's list.
    size_t close() { return valid_.push(true) + push_offset(); }
    void reserve(size_t rows, size_t bytes) {
        offsets_.reserve((rows + 1) * sizeof(int32_t));
        items_.reserve(0, bytes);
    }

    void finish(ArrowArray& out) {
        auto parts = std::make_unique<ArrayParts>();
        const int64_t nulls = valid_.hand_validity_to(*parts);
        offsets_.hand_to(*parts);
        offsets_.push(0);
        items_.finish(parts->add_child());
        export_array(out, std::move(parts), static_cast<int64_t>(std::exchange(size_, 0)), nulls);
    }

private:
    size_t push_offset() {
        offsets_.push(static_cast<int32_t>(items_.size()));
        ++size_;
        return sizeof(int32_t);
    }

    BitBuffer valid_;
    PooledBytes offsets_;
    VariableField<int64_t> items_;
    size_t size_ = 0;
};

// One column of the row model, as one field or more.
class ColumnField {
public:
    explicit ColumnField(Column column) : column_(column) {}
    virtual ~ColumnField() = default;
    ColumnField(const ColumnField&) = delete;
    ColumnField& operator=(const ColumnField&) = delete;

    // Appends the column's value in `row`; returns the bytes the buffers grew by.
    virtual size_t add(const Row& row) = 0;
    // Appends its fields to `fields`.
    virtual void describe(std::vector<ArrowField>& fields) const = 0;
    // Adds one array per field to `batch`, and starts again.
    virtual void finish(ArrayParts& batch) = 0;
    // Bytes that every batch carries however many rows it has.
    virtual size_t batch_bytes() const { return 0; }
    // Makes room for a batch of `rows` rows and `bytes` bytes of text or data in each buffer of them.
    virtual void reserve(size_t rows, size_t bytes) = 0;

protected:
    // The column's value in `row`: each column's field is made for it, so that `cell` is resolved as it is compiled.
    template <Column C>
    static Cell value(const Row& row) {
        return cell(row, C);
    }
    std::string name() const { return std::string(column_spec(column_).name); }

    Column column_;
};

template <Column C>
class TextColumn final : public ColumnField {
public:
    TextColumn(Column column, BufferSlots& slots) : ColumnField(column), field_(slots) {}
    size_t add(const Row& row) override {
        const Cell text = value<C>(row);
        return text.null ? field_.add_null() : field_.add(text.text);
    }
    void describe(std::vector<ArrowField>& fields) const override { fields.push_back({name(), "u"}); }
    void reserve(size_t rows, size_t bytes) override { field_.reserve(rows, bytes); }
    size_t batch_bytes() const override { return VariableField<int32_t>::kBatchBytes; }
    void finish(ArrayParts& batch) override { field_.finish(batch.add_child()); }

private:
    VariableField<int32_t> field_;
};

// Text that is the same in every row of a source: int32 indices into a dictionary of that one text.
template <Column C>
class SourceTextColumn final : public ColumnField {
public:
    SourceTextColumn(Column column, std::optional<std::string> text, BufferSlots& slots)
        : ColumnField(column), text_(std::move(text)), indices_(slots), dictionary_(slots) {}
    size_t add(const Row& row) override { return value<C>(row).null ? indices_.add_null() : indices_.add(0); }
    void describe(std::vector<ArrowField>& fields) const override {
        fields.push_back({name(), "i", true, {}, {ArrowField{"", "u"}}});
    }
    void reserve(size_t rows, size_t bytes) override { indices_.reserve(rows, bytes); }
    void finish(ArrayParts& batch) override {
        ArrowArray& out = batch.add_child();
        int64_t length = 0, nulls = 0;
        std::unique_ptr<ArrayParts> parts = indices_.take(length, nulls);
        if (text_) dictionary_.add(*text_);
        dictionary_.finish(parts->dictionary());
        export_array(out, std::move(parts), length, nulls);
    }
    size_t batch_bytes() const override { return (text_ ? text_->size() + 1 : 0) + 2 * sizeof(int32_t); }

private:
    std::optional<std::string> text_;
    FixedField<int32_t> indices_;
    VariableField<int32_t> dictionary_;
};

template <Column C>
class TimeColumn final : public ColumnField {
public:
    TimeColumn(Column column, BufferSlots& slots) : ColumnField(column), field_(slots) {}
    size_t add(const Row& row) override {
        const Cell time = value<C>(row);
        if (time.null) return field_.add_null();
        return field_.add(static_cast<int64_t>(time.number / 10) - kUnixEpochMicroseconds);
    }
    void describe(std::vector<ArrowField>& fields) const override { fields.push_back({name(), "tsu:UTC"}); }
    void reserve(size_t rows, size_t bytes) override { field_.reserve(rows, bytes); }
    void finish(ArrayParts& batch) override { field_.finish(batch.add_child()); }

private:
    FixedField<int64_t> field_;
};

// The type's name; the names of the known types are made once.
template <Column C>
class TypeColumn final : public ColumnField {
public:
    TypeColumn(Column column, BufferSlots& slots) : ColumnField(column), field_(slots) {
        for (uint32_t id = 0; id < known_.size(); ++id) known_[id] = ValueType{id}.name();
    }
    size_t add(const Row& row) override {
        const Cell type = value<C>(row);
        if (type.null) return field_.add_null();
        return field_.add(type.type.known() ? std::string_view(known_[type.type.id]) : type.type.name());
    }
    void describe(std::vector<ArrowField>& fields) const override { fields.push_back({name(), "u"}); }
    void reserve(size_t rows, size_t bytes) override { field_.reserve(rows, bytes); }
    size_t batch_bytes() const override { return VariableField<int32_t>::kBatchBytes; }
    void finish(ArrayParts& batch) override { field_.finish(batch.add_child()); }

private:
    std::array<std::string, kRegQword + 1> known_;
    VariableField<int32_t> field_;
};

template <Column C>
class BytesColumn final : public ColumnField {
public:
    BytesColumn(Column column, BufferSlots& slots) : ColumnField(column), field_(slots) {}
    size_t add(const Row& row) override {
        const Cell bytes = value<C>(row);
        if (bytes.null) return field_.add_null();
        return field_.add(std::string_view(reinterpret_cast<const char*>(bytes.bytes.data()), bytes.bytes.size()));
    }
    void describe(std::vector<ArrowField>& fields) const override { fields.push_back({name(), "Z"}); }
    void reserve(size_t rows, size_t bytes) override { field_.reserve(rows, bytes); }
    size_t batch_bytes() const override { return VariableField<int64_t>::kBatchBytes; }
    void finish(ArrayParts& batch) override { field_.finish(batch.add_child()); }

private:
    VariableField<int64_t> field_;
};

// The decoded data in the field of its shape: text, a list of texts, or a number.
template <Column C>
class DataColumn final : public ColumnField {
public:
    DataColumn(Column column, BufferSlots& slots) : ColumnField(column), text_(slots), list_(slots), number_(slots) {}
    size_t add(const Row& row) override {
        const Cell data = value<C>(row);
        // The decoded value is read where decoding left it: copying it out stalls on its parts just written.
        const Result<DecodedValue> result =
            data.null ? Result<DecodedValue>(DecodedValue{}) : decode_value_data(data.type, data.bytes);
        const DecodedValue* decoded = result.ok() ? &result.value() : nullptr;
        const ValueDataKind kind = decoded != nullptr ? decoded->kind : ValueDataKind::None;
        size_t added = 0;
        if (kind == ValueDataKind::String || kind == ValueDataKind::ExpandString) {
            added += text_.close(write_utf8(decoded->text, text_.data()));
        } else {
            added += text_.add_null();
        }
        if (kind == ValueDataKind::MultiString) {
            for_each_piece(decoded->text, [&](const StoredText& piece) {
                added += list_.add_item([&](PooledBytes& out) { write_utf8(piece, out); });
                return true;
            });
            added += list_.close();
        } else {
            added += list_.add_null();
        }
        const bool number = kind == ValueDataKind::Dword || kind == ValueDataKind::DwordBigEndian ||
                            kind == ValueDataKind::Qword;
        added += number ? number_.add(decoded->number) : number_.add_null();
        return added;
    }
    void describe(std::vector<ArrowField>& fields) const override {
        fields.push_back({name() + "_text", "U"});
        fields.push_back({name() + "_list", "+l", true, {ArrowField{"item", "U", false}}});
        fields.push_back({name() + "_number", "L"});
    }
    void reserve(size_t rows, size_t bytes) override {
        text_.reserve(rows, bytes);
        list_.reserve(rows, bytes);
        number_.reserve(rows, bytes);
    }
    void finish(ArrayParts& batch) override {
        text_.finish(batch.add_child());
        list_.finish(batch.add_child());
        number_.finish(batch.add_child());
    }
    size_t batch_bytes() const override { return VariableField<int64_t>::kBatchBytes + TextListField::kBatchBytes; }

private:
    VariableField<int64_t> text_;
    TextListField list_;
    FixedField<uint64_t> number_;
};

template <Column C>
class FlagColumn final : public ColumnField {
public:
    FlagColumn(Column column, BufferSlots& slots) : ColumnField(column), field_(slots) {}
    size_t add(const Row& row) override {
        const Cell flag = value<C>(row);
        return field_.add(flag.null ? std::nullopt : std::optional<bool>(flag.number != 0));
    }
    void describe(std::vector<ArrowField>& fields) const override {
        fields.push_back({name(), "b", column_ != Column::Deleted});
    }
    void reserve(size_t rows, size_t bytes) override { (void)rows, (void)bytes; }
    void finish(ArrayParts& batch) override { field_.finish(batch.add_child()); }

private:
    FlagField field_;
};

template <Column C>
class NumberColumn final : public ColumnField {
public:
    NumberColumn(Column column, BufferSlots& slots) : ColumnField(column), field_(slots) {}
    size_t add(const Row& row) override {
        const Cell number = value<C>(row);
        return number.null ? field_.add_null() : field_.add(static_cast<uint32_t>(number.number));
    }
    void describe(std::vector<ArrowField>& fields) const override { fields.push_back({name(), "I"}); }
    void reserve(size_t rows, size_t bytes) override { field_.reserve(rows, bytes); }
    void finish(ArrayParts& batch) override { field_.finish(batch.add_child()); }

private:
    FixedField<uint32_t> field_;
};

// The field that column `C` becomes, as the type it names.
template <Column C>
constexpr auto field_type() {
    constexpr ColumnSpec shape = column_spec(C);
    if constexpr (shape.kind == CellKind::Text && shape.varies == Varies::BySource) {
        return std::type_identity<SourceTextColumn<C>>{};
    } else if constexpr (shape.kind == CellKind::Text) {
        return std::type_identity<TextColumn<C>>{};
    } else if constexpr (shape.kind == CellKind::Time) {
        return std::type_identity<TimeColumn<C>>{};
    } else if constexpr (shape.kind == CellKind::Type) {
        return std::type_identity<TypeColumn<C>>{};
    } else if constexpr (shape.kind == CellKind::Bytes) {
        return std::type_identity<BytesColumn<C>>{};
    } else if constexpr (shape.kind == CellKind::Data) {
        return std::type_identity<DataColumn<C>>{};
    } else if constexpr (shape.kind == CellKind::Flag) {
        return std::type_identity<FlagColumn<C>>{};
    } else {
        return std::type_identity<NumberColumn<C>>{};
    }
}
template <Column C>
using FieldOf = typename decltype(field_type<C>())::type;

template <Column C>
std::unique_ptr<ColumnField> make_field_of(const std::optional<std::string>& hive_name, BufferSlots& slots) {
    using Field = FieldOf<C>;
    if constexpr (std::is_same_v<Field, SourceTextColumn<C>>) {
        return std::make_unique<Field>(C, hive_name, slots);
    } else {
        return std::make_unique<Field>(C, slots);
    }
}

std::unique_ptr<ColumnField> make_field(Column column, const std::optional<std::string>& hive_name,
                                        BufferSlots& slots) {
    std::unique_ptr<ColumnField> out;
    [&]<size_t... I>(std::index_sequence<I...>) {
        ((static_cast<size_t>(column) == I ? (void)(out = make_field_of<static_cast<Column>(I)>(hive_name, slots))
                                           : void()),
         ...);
    }(std::make_index_sequence<kColumnCount>());
    return out;
}

using Fields = std::vector<std::unique_ptr<ColumnField>>;

// Adds a row to fields of any columns, each through a virtual call.
size_t add_to_any(const Fields& fields, const Row& row) {
    size_t added = 0;
    for (const auto& field : fields) added += field->add(row);
    return added;
}

// Adds a row to the fields of the columns of `kList`, whose types are known: each field's code is inlined here.
template <ColumnList kList>
size_t add_to_known(const Fields& fields, const Row& row) {
    size_t added = 0;
    for_each_column<kList>([&]<Column C, size_t I>() {
        added += static_cast<FieldOf<C>&>(*fields[I]).add(row);
    });
    return added;
}

// The columns of the Arrow streams (rows/arrow_stream.h), whose rows are added by `add_to_known`.
constexpr ColumnList kLiveColumns = columns_of({ColumnSet::Rows, ColumnSet::Records});
constexpr ColumnList kAllColumns = columns_of({ColumnSet::Rows, ColumnSet::Recovery, ColumnSet::Records});

bool same_columns(std::span<const Column> columns, const ColumnList& list) {
    return std::ranges::equal(columns, list.view());
}

}  // namespace

struct ArrowBatchWriter::Builders {
    Fields fields;
    size_t (*add)(const Fields&, const Row&) = add_to_any;
    size_t batch_bytes = 0;
};

ArrowBatchWriter::ArrowBatchWriter(std::span<const Column> columns, std::optional<std::string> hive_name)
    : schema_{"", "+s", false}, columns_(columns.begin(), columns.end()), builders_(std::make_unique<Builders>()) {
    BufferSlots slots;
    for (Column column : columns_) {
        builders_->fields.push_back(make_field(column, hive_name, slots));
        builders_->fields.back()->describe(schema_.children);
        builders_->batch_bytes += builders_->fields.back()->batch_bytes();
    }
    if (same_columns(columns_, kLiveColumns)) builders_->add = add_to_known<kLiveColumns>;
    if (same_columns(columns_, kAllColumns)) builders_->add = add_to_known<kAllColumns>;
    bytes_ = builders_->batch_bytes;
}

ArrowBatchWriter::~ArrowBatchWriter() = default;

void ArrowBatchWriter::reserve(size_t rows, size_t bytes) {
    for (const auto& field : builders_->fields) field->reserve(rows, bytes);
}

void ArrowBatchWriter::add(const Row& row) {
    bytes_ += builders_->add(builders_->fields, row);
    ++rows_;
}

size_t ArrowBatchWriter::row_bound(const Row& row) {
    // Besides the raw bytes, decoded data takes at most 6.5 bytes for each stored byte: its text 1.5 (3 bytes of
    // UTF-8 for 2 of UTF-16), and a list 12 bytes of offsets for each item (4 in the list, 8 in its strings) and the
    // item's text, where an item takes at least 2 stored bytes (a character and its terminator, in UTF-8): 13 bytes
    // for 2. Other readings of the same bytes take less.
    const size_t raw = row.raw ? row.raw->size() : 0;
    return kFixedRowBytes + row.key.value_or("").size() + row.value.value_or("").size() +
           row.error.value_or("").size() + raw * 8;
}

void ArrowBatchWriter::finish(ArrowArray& out) {
    auto parts = std::make_unique<ArrayParts>();
    parts->add_all_valid();
    for (const auto& field : builders_->fields) field->finish(*parts);
    export_array(out, std::move(parts), static_cast<int64_t>(rows_), 0);
    rows_ = 0;
    bytes_ = builders_->batch_bytes;
}

}  // namespace tarnu
