// The encodings and time texts of the export formats, at the edges that a hive's bytes reach.
#include <cstdint>
#include <string>
#include <vector>

#include "check.h"
#include "rows/text_encode.h"
#include "utils/filetime.h"

using namespace tarnu;
using namespace tarnu::test;

namespace {

std::string json(std::string_view text) {
    std::string out;
    append_json_string(out, text);
    return out;
}

std::string csv(std::string_view text) {
    std::string out;
    append_csv_field(out, text);
    return out;
}

std::string base64(std::vector<uint8_t> bytes) {
    std::string out;
    append_base64(out, bytes);
    return out;
}

}  // namespace

TEST(json_strings_escape_quotes_backslashes_and_every_control_character) {
    CHECK_EQ(json(""), "\"\"");
    CHECK_EQ(json("plain é ™"), "\"plain é ™\"");
    CHECK_EQ(json("a\"b\\c"), "\"a\\\"b\\\\c\"");
    CHECK_EQ(json(std::string_view("\0\x01\x1f\x7f", 4)), "\"\\u0000\\u0001\\u001f\x7f\"");
    CHECK_EQ(json("\b\f\n\r\t"), "\"\\b\\f\\n\\r\\t\"");
}

TEST(csv_fields_are_quoted_only_when_they_must_be) {
    CHECK_EQ(csv("plain text"), "plain text");
    CHECK_EQ(csv("a,b"), "\"a,b\"");
    CHECK_EQ(csv("say \"hi\""), "\"say \"\"hi\"\"\"");
    CHECK_EQ(csv("line\r\nbreak"), "\"line\r\nbreak\"");
}

TEST(base64_pads_every_remainder) {
    CHECK_EQ(base64({}), "");
    CHECK_EQ(base64({'f'}), "Zg==");
    CHECK_EQ(base64({'f', 'o'}), "Zm8=");
    CHECK_EQ(base64({'f', 'o', 'o'}), "Zm9v");
    CHECK_EQ(base64({0xFF, 0xEF, 0xBE, 0x00}), "/+++AA==");
}

TEST(utf16le_from_utf8_writes_surrogate_pairs) {
    CHECK_EQ(utf16le_from_utf8("A\xC3\xA9\xE2\x84\xA2\xF0\x9F\x98\x80"),
             std::string("A\0\xE9\0\x22\x21\x3D\xD8\x00\xDE", 10));
}

TEST(iso8601_and_unix_seconds) {
    CHECK_EQ(iso8601(116444736000000000), "1970-01-01T00:00:00.000000+00:00");
    CHECK_EQ(iso8601(129780136266875000), "2012-04-04T11:47:06.687500+00:00");
    CHECK_EQ(iso8601(1), "1601-01-01T00:00:00.000000+00:00");  // ticks below a microsecond are dropped
    CHECK_EQ(iso8601(kFirstFiletimePastYear9999 - 1), "9999-12-31T23:59:59.999999+00:00");
    CHECK_EQ(unix_seconds(116444736000000000 + 15000000), 1);
    CHECK_EQ(unix_seconds(116444736000000000 - 1), -1);  // rounded down, before 1970 too
}
