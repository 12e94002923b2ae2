// Hardware resource data: REG_RESOURCE_LIST (a count of full descriptors), REG_FULL_RESOURCE_DESCRIPTOR (one full
// descriptor) and REG_RESOURCE_REQUIREMENTS_LIST (alternative lists of 32-byte requirement descriptors).
//
// Partial descriptors are 16 bytes when 32-bit Windows wrote them and 20 when 64-bit Windows did, and nothing in
// the data says which: the size whose lengths add up to the data's length is taken (16 when neither does, with a
// note). Each descriptor's union is decoded by its type into named numbers; device-specific data is kept as bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/fields.h"
#include "decode/reader.h"

namespace tarnu::decode {

struct PartialResource {
    size_t offset = 0;
    uint8_t type = 0;
    uint8_t share_disposition = 0;
    uint16_t flags = 0;
    Fields fields;  // the union by type: "start", "length", "level", "vector", "affinity", "channel", ...
};

struct FullResource {
    size_t offset = 0;
    int32_t interface_type = 0;
    uint32_t bus_number = 0;
    uint16_t version = 0, revision = 0;
    uint32_t count = 0;  // as stored
    std::vector<PartialResource> partials;
};

struct ResourceList {
    std::vector<FullResource> lists;
    unsigned partial_size = 16;  // 16 or 20
    Notes notes;
};

// REG_RESOURCE_LIST when `with_count`, else REG_FULL_RESOURCE_DESCRIPTOR (one full descriptor, no count).
ResourceList parse_resource_list(Bytes data, bool with_count);

struct Requirement {
    size_t offset = 0;
    uint8_t option = 0, type = 0, share_disposition = 0;
    uint16_t flags = 0;
    Fields fields;  // "length", "alignment", "minimum", "maximum", ... by type; the union's bytes for other types
};

struct Alternative {
    size_t offset = 0;
    uint16_t version = 0, revision = 0;
    uint32_t count = 0;
    std::vector<Requirement> descriptors;
};

struct RequirementsList {
    uint32_t list_size = 0;
    int32_t interface_type = 0;
    uint32_t bus_number = 0, slot_number = 0;
    uint32_t alternative_count = 0;  // as stored
    std::vector<Alternative> alternatives;
    Notes notes;
};

RequirementsList parse_requirements_list(Bytes data);

// "Isa", "PCIBus", ... for an interface type; nullptr for one without a name.
const char* interface_type_name(int32_t type);

}  // namespace tarnu::decode
