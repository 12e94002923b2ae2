#include "decode/identifiers.h"

#include <cstdio>
#include <string_view>

#include "utils/format.h"

namespace tarnu::decode {
namespace {

constexpr size_t kMaxSubAuthorities = 15;

struct Known {
    const char* sid;
    const char* alias;  // nullptr when SDDL has none
    const char* name;
};

constexpr Known kKnown[] = {
    {"S-1-1-0", "WD", "Everyone"},
    {"S-1-3-0", "CO", "Creator Owner"},
    {"S-1-3-1", "CG", "Creator Group"},
    {"S-1-3-4", "OW", "Owner Rights"},
    {"S-1-5-2", "NU", "Network"},
    {"S-1-5-4", "IU", "Interactive"},
    {"S-1-5-6", "SU", "Service"},
    {"S-1-5-7", "AN", "Anonymous Logon"},
    {"S-1-5-10", "PS", "Principal Self"},
    {"S-1-5-11", "AU", "Authenticated Users"},
    {"S-1-5-12", "RC", "Restricted Code"},
    {"S-1-5-18", "SY", "SYSTEM"},
    {"S-1-5-19", "LS", "Local Service"},
    {"S-1-5-20", "NS", "Network Service"},
    {"S-1-5-33", "WR", "Write Restricted Code"},
    {"S-1-5-32-544", "BA", "Administrators"},
    {"S-1-5-32-545", "BU", "Users"},
    {"S-1-5-32-546", "BG", "Guests"},
    {"S-1-5-32-547", "PU", "Power Users"},
    {"S-1-5-32-548", "AO", "Account Operators"},
    {"S-1-5-32-549", "SO", "Server Operators"},
    {"S-1-5-32-550", "PO", "Print Operators"},
    {"S-1-5-32-551", "BO", "Backup Operators"},
    {"S-1-5-32-552", "RE", "Replicator"},
    {"S-1-5-32-554", "RU", "Pre-Windows 2000 Compatible Access"},
    {"S-1-5-32-555", "RD", "Remote Desktop Users"},
    {"S-1-5-32-556", "NO", "Network Configuration Operators"},
    {"S-1-15-2-1", "AC", "All Application Packages"},
    {"S-1-16-0", nullptr, "Untrusted Mandatory Level"},
    {"S-1-16-4096", "LW", "Low Mandatory Level"},
    {"S-1-16-8192", "ME", "Medium Mandatory Level"},
    {"S-1-16-12288", "HI", "High Mandatory Level"},
    {"S-1-16-16384", "SI", "System Mandatory Level"},
    {"S-1-16-20480", nullptr, "Protected Process Mandatory Level"},
};

const Known* known(const std::string& text) {
    for (const Known& entry : kKnown) {
        if (text == entry.sid) return &entry;
    }
    return nullptr;
}

void put_guid(Bytes data, size_t at, bool lower, std::string& out) {
    char text[40];
    std::snprintf(text, sizeof text, lower ? "%08x-%04x-%04x-" : "%08X-%04X-%04X-", le32(data, at), le16(data, at + 4),
                  le16(data, at + 6));
    out += text;
    const char* digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
    for (size_t i = 8; i < 16; ++i) {
        if (i == 10) out += '-';
        out += digits[data[at + i] >> 4];
        out += digits[data[at + i] & 0xF];
    }
}

}  // namespace

std::string guid_text(Bytes data, size_t at) {
    std::string out = "{";
    put_guid(data, at, false, out);
    return out + "}";
}

std::string guid_sddl(Bytes data, size_t at) {
    std::string out;
    put_guid(data, at, true, out);
    return out;
}

std::optional<Sid> parse_sid(Reader& in, size_t at, const char* what) {
    if (!in.need(at, 8, what)) return std::nullopt;
    const Bytes data = in.data();
    Sid sid;
    sid.revision = data[at];
    const size_t count = data[at + 1];
    if (sid.revision != 1) {
        in.note(at, std::string(what) + " of revision 1", "revision " + dec(sid.revision));
        return std::nullopt;
    }
    if (count > kMaxSubAuthorities) {
        in.note(at + 1, std::string(what) + " of at most 15 sub-authorities", dec(count));
        return std::nullopt;
    }
    if (!in.need(at, 8 + 4 * count, what)) return std::nullopt;
    for (size_t i = 2; i < 8; ++i) sid.authority = sid.authority << 8 | data[at + i];
    for (size_t i = 0; i < count; ++i) sid.sub_authorities.push_back(le32(data, at + 8 + 4 * i));
    return sid;
}

std::string sid_text(const Sid& sid) {
    std::string out = "S-";
    out += dec(sid.revision);
    out += '-';
    if (sid.authority < (uint64_t{1} << 32)) {
        out += dec(sid.authority);
    } else {
        char text[24];
        std::snprintf(text, sizeof text, "0x%012llX", static_cast<unsigned long long>(sid.authority));
        out += text;
    }
    for (uint32_t sub : sid.sub_authorities) {
        out += '-';
        out += dec(sub);
    }
    return out;
}

std::optional<std::string> sid_name(const std::string& text) {
    if (const Known* entry = known(text)) return entry->name;
    // The desktop window manager's session accounts, S-1-5-90-0-<session>.
    constexpr std::string_view kDwm = "S-1-5-90-0-";
    if (text.size() > kDwm.size() && text.compare(0, kDwm.size(), kDwm) == 0) return "DWM-" + text.substr(kDwm.size());
    return std::nullopt;
}

const char* sid_alias(const std::string& text) {
    if (const Known* entry = known(text)) return entry->alias;
    return nullptr;
}

}  // namespace tarnu::decode
