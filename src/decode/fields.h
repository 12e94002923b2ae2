// Named fields for structures whose shape depends on a type byte (a shell item's class, a resource descriptor's
// union): each decoded part is a name and a number, text, time or bytes, in the order the data holds them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "decode/times.h"

namespace tarnu::decode {

using FieldValue = std::variant<uint64_t, std::string, Instant, std::vector<uint8_t>>;

struct Field {
    const char* name;  // a literal of the decoder
    FieldValue value;
};

class Fields {
public:
    void add(const char* name, FieldValue value) { items_.push_back(Field{name, std::move(value)}); }
    void add_bytes(const char* name, Bytes bytes) { add(name, std::vector<uint8_t>(bytes.begin(), bytes.end())); }
    const std::vector<Field>& items() const { return items_; }
    // The text or number of the first field of that name, if any.
    const std::string* text(const char* name) const;
    const uint64_t* number(const char* name) const;

private:
    std::vector<Field> items_;
};

}  // namespace tarnu::decode
