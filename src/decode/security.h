// Security descriptors in their self-relative form (key security cells, and values such as a SAM user's `V` entry
// 0, a TaskCache `SD`, a service's `Security`): control flags, owner and group SIDs, the DACL and SACL with every
// ACE, and the descriptor as SDDL text.
//
// Each part is found through its offset and checked before it is read. An ACE's object GUIDs and SID are decoded
// for the types that carry them; the application data of callback and attribute ACEs, and the whole body of ACE
// types without a known layout, are kept as bytes. The SDDL text follows Windows' rendering, with the aliases of
// well-known SIDs and key rights; an ACE type without an SDDL token is written as its number, and the text is then
// flagged as not standard.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decode/identifiers.h"
#include "decode/reader.h"

namespace tarnu::decode {

// Control bits used by the decoder and the SDDL writer.
inline constexpr uint16_t kDaclPresent = 0x0004, kSaclPresent = 0x0010;
inline constexpr uint16_t kDaclAutoInheritReq = 0x0100, kSaclAutoInheritReq = 0x0200;
inline constexpr uint16_t kDaclAutoInherited = 0x0400, kSaclAutoInherited = 0x0800;
inline constexpr uint16_t kDaclProtected = 0x1000, kSaclProtected = 0x2000;

struct Ace {
    size_t offset = 0;  // from the start of the descriptor
    uint8_t type = 0;
    uint8_t flags = 0;
    uint16_t size = 0;
    std::optional<uint32_t> mask;
    std::optional<uint32_t> object_flags;  // object ACEs: 1 = object type present, 2 = inherited type present
    std::optional<std::string> object_type, inherited_object_type;  // GUID text with braces
    std::optional<Sid> sid;
    std::vector<uint8_t> application_data;  // callback and attribute ACEs: what follows the SID
    std::vector<uint8_t> body;              // ACE types without a known layout: everything after the header
};

struct Acl {
    size_t offset = 0;
    uint8_t revision = 0;
    uint16_t size = 0;   // as stored, header included
    uint16_t count = 0;  // as stored; `aces` holds those that could be read
    std::vector<Ace> aces;
};

struct SecurityDescriptor {
    uint8_t revision = 0;
    uint8_t sbz1 = 0;
    uint16_t control = 0;
    uint32_t owner_offset = 0, group_offset = 0, sacl_offset = 0, dacl_offset = 0;
    std::optional<Sid> owner, group;
    // Absent when the control's PRESENT bit is clear, or for a NULL ACL (PRESENT with offset 0).
    std::optional<Acl> dacl, sacl;
    std::string sddl;
    bool sddl_standard = true;
    Notes notes;
};

SecurityDescriptor parse_security_descriptor(Bytes data);

// The SDDL token of an ACE type ("A", "OA", ...), or nullptr for a type without one.
const char* ace_type_token(uint8_t type);
// The SDDL rights of an access mask: "KR", "CCDCLC", or "0x1f01ff".
std::string sddl_rights(uint32_t mask);

}  // namespace tarnu::decode
