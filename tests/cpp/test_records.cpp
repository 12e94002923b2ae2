// The records parsed straight from bytes, with no hive: security keys, big data, subkey lists and hive-bin headers,
// each field from its position, and the faults in order with the offset and details they carry.
#include "check.h"
#include "image.h"
#include "records/big_data.h"
#include "records/hive_bin.h"
#include "records/security_key.h"
#include "records/subkey_list.h"

using namespace tarnu;
using namespace tarnu::test;

namespace {

// True when `result` failed with `kind` concerning `offset` (none when nullopt).
template <typename T>
bool failed_with(const Result<T>& result, ErrorKind kind, std::optional<uint64_t> offset) {
    return !result.ok() && result.error().kind() == kind && result.error().offset() == offset;
}

}  // namespace

TEST(security_key_fields_and_faults) {
    const Fields sk = Fields(24).text(0, "sk").u32(4, 0x100).u32(8, 0x200).u32(12, 3).u32(16, 4).text(20, "SDSD");
    auto parsed = parse_security_key(sk, 0x40);
    if (!parsed.ok()) return CHECK(parsed.ok());
    CHECK(parsed->previous == 0x100 && parsed->next == 0x200 && parsed->reference_count == 3);
    CHECK_EQ(std::string_view(reinterpret_cast<const char*>(parsed->descriptor.data()), 4), "SDSD");
    CHECK_ERROR(parse_security_key(Fields(19).text(0, "sk"), 0x40),
                "Truncated data at offset 0x40: expected 20 bytes, got 19 bytes");
    const Fields ks = Fields(24).text(0, "ks");
    CHECK_ERROR(parse_security_key(ks, 0x40), "Invalid format: Expected 'sk' signature at offset 0x40");
    CHECK(failed_with(parse_security_key(ks, 0x40), ErrorKind::InvalidFormat, 0x40));
    CHECK_ERROR(parse_security_key(Fields(sk).u32(16, 5), 0x40),
                "Truncated data at offset 0x40: expected 25 bytes, got 24 bytes");
}

TEST(big_data_fields_and_faults) {
    auto parsed = parse_big_data(big_data(3, 0x1230), 0x88);
    CHECK(parsed.ok() && parsed->segment_count == 3 && parsed->segment_list_offset == 0x1230);
    CHECK_ERROR(parse_big_data(Fields(7).text(0, "db"), 0x88),
                "Truncated data at offset 0x88: expected 8 bytes, got 7 bytes");
    auto other = parse_big_data(Fields(8).text(0, "xy"), 0x88);
    CHECK_ERROR(other, "Invalid format: Expected 'db' signature at offset 0x88, found [120, 121]");
    CHECK(failed_with(other, ErrorKind::InvalidFormat, 0x88) && std::string(other.error().problem()) == "Signature");
}

TEST(subkey_lists_of_each_kind_and_their_faults) {
    // The lists' entries are views of the bytes, which stay alive in these.
    const Fields lf_bytes = subkey_list("lf", {0x40, 0x80}).u32(8, 0xABCD).u32(16, 0);
    const Fields lh_bytes = subkey_list("lh", {0x40}).u32(8, 0);
    auto lf = parse_subkey_list(lf_bytes, 0x20);
    CHECK(lf.ok() && lf->count == 2 && !lf->index && lf->kind == SubkeyHint::NameHint);
    CHECK(lf.ok() && (*lf)[0].offset == 0x40 && (*lf)[0].hint == 0xABCD && (*lf)[1].offset == 0x80);
    auto lh = parse_subkey_list(lh_bytes, 0x20);
    CHECK(lh.ok() && lh->kind == SubkeyHint::NameHash && lh->entries.size() == 8);
    for (const char* kind : {"li", "ri"}) {
        const Fields bytes = subkey_list(kind, {0x40, 0x80});
        auto list = parse_subkey_list(bytes, 0x20);
        CHECK(list.ok() && list->kind == SubkeyHint::None && list->index == (kind[0] == 'r'));
        CHECK(list.ok() && list->entries.size() == 8 && (*list)[1].offset == 0x80);
    }
    CHECK_ERROR(parse_subkey_list(Fields(3).text(0, "lf"), 0x20),
                "Truncated data at offset 0x20: expected 4 bytes, got 3 bytes");
    auto unknown = parse_subkey_list(Fields(4).text(0, "lx"), 0x20);
    CHECK_ERROR(unknown, "Invalid subkey list type: [108, 120]");
    CHECK(failed_with(unknown, ErrorKind::InvalidSubkeyListType, 0x20));  // the text shows no offset; the error has it
    CHECK_ERROR(parse_subkey_list(Fields(lh_bytes).u16(2, 2), 0x20),
                "Truncated data at offset 0x20: expected 20 bytes, got 12 bytes");
}

TEST(hbin_headers) {
    const Fields header = Fields(32).text(0, "hbin").u32(4, 0x1000).u32(8, 0x2000).u64(20, 0x0102030405060708);
    auto parsed = parse_hbin_header(header, 0x1000);
    CHECK(parsed.ok() && parsed->has_value() && (*parsed)->offset == 0x1000 && (*parsed)->size == 0x2000);
    CHECK(parsed.ok() && parsed->has_value() && (*parsed)->timestamp == 0x0102030405060708u);
    auto elsewhere = parse_hbin_header(Fields(32).text(0, "nbih"), 0x1000);
    CHECK(elsewhere.ok() && !elsewhere->has_value());
    auto cut = parse_hbin_header(Fields(31).text(0, "hbin"), 0x1000);
    CHECK_ERROR(cut, "Truncated data at offset 0x1000: expected 32 bytes, got 31 bytes");
    CHECK(failed_with(cut, ErrorKind::TruncatedData, 0x1000));
}
