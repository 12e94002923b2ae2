#include "tree/value_reader.h"

#include <utility>

#include "hive/hive.h"
#include "tree/nodes.h"

namespace tarnu {

Status ValueReader::read_list(const Hive& hive, const KeyNode& key) {
    count_ = 0;
    pieces_.clear();
    starts_.assign(1, 0);
    TARNU_TRY(count_, read_value_list(hive, key, keys_));
    return Ok{};
}

uint64_t ValueReader::declared_data_size() const {
    uint64_t total = 0;
    for (size_t i = 0; i < count_; ++i) total += keys_[i].data_size;
    return total;
}

Status ValueReader::read_data(const Hive& hive, const KeyNode& key, ValueErrors errors) {
    const uint64_t limit = kMaxValueDataPerImageByte * hive.bytes().size();
    uint64_t gathered = 0;
    inline_.resize(count_);
    readable_.assign(count_, 1);
    pieces_.clear();
    starts_.assign(1, 0);
    problems_.clear();
    problem_kinds_.clear();
    for (size_t i = 0; i < count_; ++i) {
        auto found = append_value_data_pieces(keys_[i], inline_[i], pieces_);
        if (!found.ok()) {
            readable_[i] = 0;
            if (errors == ValueErrors::Note) {
                problems_.push_back("value '" + keys_[i].name + "': " + found.error().message());
                problem_kinds_.push_back(found.error().kind());
            }
        }
        gathered += found.ok() ? found.value() : 0;
        if (gathered > limit) {
            HiveError error =
                HiveError::invalid_format(key.offset, malformed::ValueDataSize{limit, kMaxValueDataPerImageByte});
            if (errors == ValueErrors::Raise) return error;
            problems_.push_back(error.message());
            problem_kinds_.push_back(error.kind());
            count_ = i;
            break;
        }
        starts_.push_back(pieces_.size());
    }
    return Ok{};
}

void ValueReader::trim(size_t values) {
    if (keys_.capacity() > values || pieces_.capacity() > values) *this = ValueReader();
}

size_t ValueReader::data_size(size_t i) const {
    size_t size = 0;
    for (const Bytes piece : pieces(i)) size += piece.size();
    return size;
}

void ValueReader::take(size_t i, KeyValue& into) {
    // The name's buffer is swapped, every other field copied. Binding each member by name makes this fail to compile
    // once ValueKey gains one that is not copied here.
    auto& [type, name, size, offset, length, flags, hive] = keys_[i];
    into.key.name.swap(name);
    into.key.value_type = type;
    into.key.data_size = size;
    into.key.data_offset = offset;
    into.key.name_length = length;
    into.key.flags = flags;
    into.key.hive = hive;
    into.readable = readable(i);
    if (has_inline_data(into.key)) {
        into.data.assign_inline(into.key.data_offset, into.key.data_size);
    } else {
        const std::span<const Bytes> parts = pieces(i);
        into.data.assign_pieces(parts, parts.size() == 1 ? parts[0].size() : data_size(i));
    }
}

KeyValue ValueReader::take(size_t i) {
    KeyValue value;
    take(i, value);
    return value;
}

Result<std::vector<KeyValue>> read_values(const Hive& hive, const KeyNode& key) {
    ValueReader reader;
    TARNU_CHECK(reader.read_list(hive, key));
    TARNU_CHECK(reader.read_data(hive, key, ValueErrors::Raise));
    std::vector<KeyValue> values;
    values.reserve(reader.size());
    for (size_t i = 0; i < reader.size(); ++i) values.push_back(reader.take(i));
    return values;
}

}  // namespace tarnu
