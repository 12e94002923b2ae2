#include "decode/sam.h"

#include <cstring>

#include "decode/identifiers.h"
#include "utils/format.h"

namespace tarnu::decode {
namespace {

constexpr size_t kFSize = 80;
constexpr size_t kVDataStart = 0xCC;
constexpr size_t kVPartSize = 12;

}  // namespace

SamF parse_sam_f(Bytes data) {
    SamF f;
    Reader in(data, f.notes);
    (void)in.need(0, kFSize, "an F record");
    auto u16_at = [&](size_t at) { return in.fits(at, 2) ? std::optional<uint16_t>(le16(data, at)) : std::nullopt; };
    auto u32_at = [&](size_t at) { return in.fits(at, 4) ? std::optional<uint32_t>(le32(data, at)) : std::nullopt; };
    f.major = u16_at(0);
    f.minor = u16_at(2);
    f.last_logon = filetime_at(data, 8);
    f.last_logoff = filetime_at(data, 16);
    f.password_last_set = filetime_at(data, 24);
    f.account_expires = filetime_at(data, 32);
    f.last_failed_logon = filetime_at(data, 40);
    f.rid = u32_at(48);
    f.primary_group_rid = u32_at(52);
    f.account_control = u32_at(56);
    f.country_code = u16_at(60);
    f.code_page = u16_at(62);
    f.bad_password_count = u16_at(64);
    f.logon_count = u16_at(66);
    return f;
}

std::vector<const char*> account_control_names(uint32_t flags) {
    static constexpr const char* kNames[] = {
        "disabled", "home directory required", "password not required", "temporary duplicate account",
        "normal account", "MNS logon account", "interdomain trust account", "workstation trust account",
        "server trust account", "password never expires", "locked out", "encrypted text password allowed",
        "smart card required", "trusted for delegation", "not delegated", "DES key only", "no pre-authentication",
        "password expired", "trusted to authenticate for delegation", "no authorization data", "partial secrets",
        "AES keys",
    };
    std::vector<const char*> names;
    for (size_t bit = 0; bit < std::size(kNames); ++bit) {
        if (flags & (1u << bit)) names.push_back(kNames[bit]);
    }
    return names;
}

SamV parse_sam_v(Bytes data) {
    SamV v;
    Reader in(data, v.notes);
    if (!in.need(0, kVDataStart, "the 17 part descriptors of a V record")) return v;
    for (size_t i = 0; i < v.parts.size(); ++i) {
        SamVPart& part = v.parts[i];
        part.offset = le32(data, i * kVPartSize);
        part.length = le32(data, i * kVPartSize + 4);
        const size_t at = kVDataStart + size_t{part.offset};
        if (part.length == 0) continue;
        if (!in.need(at, part.length, ("part " + dec(i)).c_str())) continue;
        part.data.assign(data.begin() + at, data.begin() + at + part.length);
    }
    std::string* texts[] = {nullptr, &v.user_name, &v.full_name, &v.comment, &v.user_comment, nullptr,
                            &v.home_directory, &v.home_drive, &v.script_path, &v.profile_path, &v.workstations};
    for (size_t i = 0; i < std::size(texts); ++i) {
        if (texts[i]) *texts[i] = utf16_text(v.parts[i].data);
    }
    if (!v.parts[0].data.empty()) v.security = parse_security_descriptor(v.parts[0].data);
    return v;
}

std::optional<std::string> machine_sid(Bytes data) {
    static constexpr uint8_t kPrefix[] = {0x01, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x15, 0x00, 0x00, 0x00};
    constexpr size_t kSidSize = 24;
    for (size_t at = data.size() >= kSidSize ? data.size() - kSidSize + 1 : 0; at-- > 0;) {
        if (std::memcmp(data.data() + at, kPrefix, sizeof kPrefix) != 0) continue;
        Notes notes;
        Reader in(data, notes);
        if (const auto sid = parse_sid(in, at, "a machine SID")) return sid_text(*sid);
    }
    return std::nullopt;
}

}  // namespace tarnu::decode
