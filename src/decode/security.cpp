#include "decode/security.h"

#include <cstdio>

#include "utils/format.h"

namespace tarnu::decode {
namespace {

constexpr size_t kHeaderSize = 20;
constexpr size_t kAclHeaderSize = 8;
constexpr size_t kAceHeaderSize = 4;

enum class Body { Basic, Object, Raw };

struct AceKind {
    Body body;
    bool application_data;  // what follows the SID belongs to the ACE
};

AceKind ace_kind(uint8_t type) {
    switch (type) {
        case 0x00: case 0x01: case 0x02: case 0x03: case 0x11: return {Body::Basic, false};
        case 0x09: case 0x0A: case 0x0D: case 0x12: case 0x13: case 0x14: case 0x15: return {Body::Basic, true};
        case 0x05: case 0x06: case 0x07: case 0x08: return {Body::Object, false};
        case 0x0B: case 0x0C: return {Body::Object, true};
        default: return {Body::Raw, false};
    }
}

// The body of the ACE that `in` views (its header included).
Ace parse_ace(Reader in, size_t offset) {
    const Bytes data = in.data();
    Ace ace;
    ace.offset = offset;
    ace.type = data[0];
    ace.flags = data[1];
    ace.size = le16(data, 2);
    const AceKind kind = ace_kind(ace.type);
    if (kind.body == Body::Raw) {
        ace.body.assign(data.begin() + kAceHeaderSize, data.end());
        return ace;
    }
    ace.mask = in.u32(4, "an access mask");
    if (!ace.mask) return ace;
    size_t at = 8;
    if (kind.body == Body::Object) {
        ace.object_flags = in.u32(8, "object ACE flags");
        if (!ace.object_flags) return ace;
        at = 12;
        for (auto [bit, field] : {std::pair{1u, &ace.object_type}, std::pair{2u, &ace.inherited_object_type}}) {
            if (!(*ace.object_flags & bit)) continue;
            if (!in.need(at, kGuidSize, "an object GUID")) return ace;
            *field = guid_text(data, at);
            at += kGuidSize;
        }
    }
    ace.sid = parse_sid(in, at, "an ACE's SID");
    if (ace.sid && kind.application_data) {
        const Bytes rest = in.rest(at + ace.sid->size());
        ace.application_data.assign(rest.begin(), rest.end());
    }
    return ace;
}

Acl parse_acl(Reader& in, size_t offset, const char* what) {
    Acl acl;
    acl.offset = offset;
    if (!in.need(offset, kAclHeaderSize, what)) return acl;
    const Bytes data = in.data();
    acl.revision = data[offset];
    acl.size = le16(data, offset + 2);
    acl.count = le16(data, offset + 4);
    if (acl.revision < 2 || acl.revision > 4) {
        in.note(offset, std::string(what) + " of revision 2 to 4", dec(acl.revision));
    }
    if (acl.size < kAclHeaderSize) {
        in.note(offset + 2, "an ACL size of at least 8", dec(acl.size));
        return acl;
    }
    size_t end = offset + acl.size;
    if (end > data.size()) {
        in.note(offset + 2, "an ACL of " + byte_count(acl.size), byte_count(data.size() - offset));
        end = data.size();
    }
    size_t at = offset + kAclHeaderSize;
    for (size_t i = 0; i < acl.count; ++i) {
        if (end - at < kAceHeaderSize) {
            in.note(at, "ACE " + dec(i) + " of " + dec(acl.count), byte_count(end - at) + " left in the ACL");
            break;
        }
        const uint16_t size = le16(data, at + 2);
        if (size < 8 || size > end - at) {
            in.note(at + 2, "an ACE size from 8 to " + dec(end - at), dec(size));
            break;
        }
        acl.aces.push_back(parse_ace(in.sub(at, size), at));
        at += size;
    }
    return acl;
}

std::string sid_sddl(const Sid& sid) {
    const std::string text = sid_text(sid);
    const char* alias = sid_alias(text);
    return alias ? alias : text;
}

std::string ace_flags(const Ace& ace) {
    static constexpr std::pair<uint8_t, const char*> kFlags[] = {
        {0x01, "OI"}, {0x02, "CI"}, {0x04, "NP"}, {0x08, "IO"}, {0x10, "ID"}, {0x40, "SA"}, {0x80, "FA"}, {0x20, "CR"}};
    std::string out;
    for (const auto& [bit, token] : kFlags) {
        if (!(ace.flags & bit)) continue;
        // In an access-filter ACE, 0x40 marks a trust-protected filter.
        out += bit == 0x40 && ace.type == 0x15 ? "" : token;
    }
    if (ace.type == 0x15 && (ace.flags & 0x40)) out += "TP";
    return out;
}

std::string ace_sddl(const Ace& ace, bool& standard) {
    std::string out = "(";
    if (const char* token = ace_type_token(ace.type)) {
        out += token;
    } else {
        char number[8];
        std::snprintf(number, sizeof number, "0x%02X", ace.type);
        out += number;
        standard = false;
    }
    auto guid = [](const std::optional<std::string>& text) {
        // Braces off and lower case, as SDDL writes object GUIDs.
        std::string plain = text ? text->substr(1, text->size() - 2) : std::string();
        for (char& c : plain) c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
        return plain;
    };
    for (const std::string& part : {ace_flags(ace), ace.mask ? sddl_rights(*ace.mask) : std::string(),
                                     guid(ace.object_type), guid(ace.inherited_object_type),
                                     ace.sid ? sid_sddl(*ace.sid) : std::string()}) {
        out += ';';
        out += part;
    }
    out += ')';
    return out;
}

void acl_sddl(const SecurityDescriptor& sd, const std::optional<Acl>& acl, uint32_t offset, bool dacl,
              std::string& out, bool& standard) {
    out += dacl ? "D:" : "S:";
    if (sd.control & (dacl ? kDaclProtected : kSaclProtected)) out += "P";
    if (sd.control & (dacl ? kDaclAutoInheritReq : kSaclAutoInheritReq)) out += "AR";
    if (sd.control & (dacl ? kDaclAutoInherited : kSaclAutoInherited)) out += "AI";
    if (offset == 0) {
        out += "NO_ACCESS_CONTROL";
        return;
    }
    if (acl) {
        for (const Ace& ace : acl->aces) out += ace_sddl(ace, standard);
    }
}

}  // namespace

const char* ace_type_token(uint8_t type) {
    switch (type) {
        case 0x00: return "A";
        case 0x01: return "D";
        case 0x02: return "AU";
        case 0x03: return "AL";
        case 0x05: return "OA";
        case 0x06: return "OD";
        case 0x07: return "OU";
        case 0x08: return "OL";
        case 0x09: return "XA";
        case 0x0A: return "XD";
        case 0x0B: return "ZA";
        case 0x0D: return "XU";
        case 0x11: return "ML";
        case 0x12: return "RA";
        case 0x13: return "SP";
        case 0x14: return "TL";
        case 0x15: return "FL";
        default: return nullptr;
    }
}

std::string sddl_rights(uint32_t mask) {
    // KX equals KR (0x20019); KR is the one written.
    if (mask == 0xF003F) return "KA";
    if (mask == 0x20019) return "KR";
    if (mask == 0x20006) return "KW";
    static constexpr std::pair<uint32_t, const char*> kRights[] = {
        {0x1, "CC"},      {0x2, "DC"},      {0x4, "LC"},      {0x8, "SW"},       {0x10, "RP"},       {0x20, "WP"},
        {0x40, "DT"},     {0x80, "LO"},     {0x100, "CR"},    {0x10000, "SD"},   {0x20000, "RC"},    {0x40000, "WD"},
        {0x80000, "WO"},  {0x10000000, "GA"}, {0x20000000, "GX"}, {0x40000000, "GW"}, {0x80000000, "GR"},
    };
    std::string out;
    uint32_t left = mask;
    for (const auto& [bit, token] : kRights) {
        if (!(mask & bit)) continue;
        out += token;
        left &= ~bit;
    }
    return left == 0 ? out : hex(mask);
}

SecurityDescriptor parse_security_descriptor(Bytes data) {
    SecurityDescriptor sd;
    Reader in(data, sd.notes);
    if (!in.need(0, kHeaderSize, "a security descriptor header")) return sd;
    sd.revision = data[0];
    sd.sbz1 = data[1];
    sd.control = le16(data, 2);
    sd.owner_offset = le32(data, 4);
    sd.group_offset = le32(data, 8);
    sd.sacl_offset = le32(data, 12);
    sd.dacl_offset = le32(data, 16);
    if (sd.revision != 1) {
        in.note(0, "a security descriptor of revision 1", "revision " + dec(sd.revision));
        return sd;
    }
    if (sd.owner_offset != 0) sd.owner = parse_sid(in, sd.owner_offset, "the owner SID");
    if (sd.group_offset != 0) sd.group = parse_sid(in, sd.group_offset, "the group SID");
    if ((sd.control & kDaclPresent) && sd.dacl_offset != 0) sd.dacl = parse_acl(in, sd.dacl_offset, "the DACL");
    if ((sd.control & kSaclPresent) && sd.sacl_offset != 0) sd.sacl = parse_acl(in, sd.sacl_offset, "the SACL");

    if (sd.owner) sd.sddl += "O:" + sid_sddl(*sd.owner);
    if (sd.group) sd.sddl += "G:" + sid_sddl(*sd.group);
    if (sd.control & kDaclPresent) acl_sddl(sd, sd.dacl, sd.dacl_offset, true, sd.sddl, sd.sddl_standard);
    if (sd.control & kSaclPresent) acl_sddl(sd, sd.sacl, sd.sacl_offset, false, sd.sddl, sd.sddl_standard);
    return sd;
}

}  // namespace tarnu::decode
