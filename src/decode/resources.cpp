#include "decode/resources.h"

#include <algorithm>
#include <optional>

#include "utils/format.h"

namespace tarnu::decode {
namespace {

constexpr size_t kFullHeaderSize = 16;
constexpr size_t kRequirementsHeaderSize = 32;
constexpr size_t kAlternativeHeaderSize = 8;
constexpr size_t kRequirementSize = 32;
constexpr uint8_t kDeviceSpecific = 5;

// The union of the partial descriptor at `at`, `size` bytes long with its header.
void partial_union(Bytes d, size_t at, size_t size, PartialResource& p) {
    Fields& f = p.fields;
    switch (p.type) {
        case 1:
        case 3:
            f.add("start", le64(d, at + 4));
            f.add("length", uint64_t{le32(d, at + 12)});
            break;
        case 2: {
            const uint64_t affinity = size == 20 ? le64(d, at + 12) : le32(d, at + 12);
            if (p.flags & 0x2) {
                f.add("message_count", uint64_t{le16(d, at + 6)});
            } else {
                f.add("level", uint64_t{le16(d, at + 4)});
                f.add("group", uint64_t{le16(d, at + 6)});
            }
            f.add("vector", uint64_t{le32(d, at + 8)});
            f.add("affinity", affinity);
            break;
        }
        case 4:
            f.add("channel", uint64_t{le32(d, at + 4)});
            f.add("port", uint64_t{le32(d, at + 8)});
            break;
        case kDeviceSpecific:
            f.add("data_size", uint64_t{le32(d, at + 4)});
            break;
        case 6:
            f.add("start", uint64_t{le32(d, at + 4)});
            f.add("length", uint64_t{le32(d, at + 8)});
            break;
        case 7: {
            const unsigned shift = p.flags & 0x800 ? 32 : p.flags & 0x400 ? 16 : p.flags & 0x200 ? 8 : 0;
            f.add("start", le64(d, at + 4));
            f.add("length", uint64_t{le32(d, at + 12)} << shift);
            break;
        }
        case 132:
            f.add("class", uint64_t{d[at + 4]});
            f.add("connection_type", uint64_t{d[at + 5]});
            f.add("id_low", uint64_t{le32(d, at + 8)});
            f.add("id_high", uint64_t{le32(d, at + 12)});
            break;
        default:  // 0 Null, 128 ConfigData, 129 DevicePrivate and types without a known union: three numbers
            f.add("data0", uint64_t{le32(d, at + 4)});
            f.add("data1", uint64_t{le32(d, at + 8)});
            f.add("data2", uint64_t{le32(d, at + 12)});
            break;
    }
}

// Walks `lists` full descriptors from `at` with partial descriptors of `size` bytes, into `out` when given. The
// end of what was walked, or nothing when something runs past the data (noted into `out` only).
std::optional<size_t> walk_lists(Reader& in, size_t at, size_t lists, size_t size, ResourceList* out) {
    const Bytes d = in.data();
    Notes scratch;
    Reader quiet(d, scratch);
    Reader& r = out ? in : quiet;
    for (size_t l = 0; l < lists; ++l) {
        if (!r.need(at, kFullHeaderSize, "a full resource descriptor")) return std::nullopt;
        FullResource full;
        full.offset = at;
        full.interface_type = static_cast<int32_t>(le32(d, at));
        full.bus_number = le32(d, at + 4);
        full.version = le16(d, at + 8);
        full.revision = le16(d, at + 10);
        full.count = le32(d, at + 12);
        at += kFullHeaderSize;
        const size_t count = r.clamp_count(full.count, at, size, at - 4, "partial descriptors");
        if (count < full.count && !out) return std::nullopt;
        for (size_t i = 0; i < count; ++i) {
            // The count was clamped to what the data holds without device-specific data; data that came before moves
            // the rest further on, so each descriptor is checked again.
            if (!r.need(at, size, "a partial descriptor")) {
                if (out) out->lists.push_back(std::move(full));
                return std::nullopt;
            }
            PartialResource p;
            p.offset = at;
            p.type = d[at];
            p.share_disposition = d[at + 1];
            p.flags = le16(d, at + 2);
            partial_union(d, at, size, p);
            at += size;
            if (p.type == kDeviceSpecific) {
                const size_t data_size = le32(d, p.offset + 4);
                if (!r.need(at, data_size, "device-specific data")) {
                    if (out) full.partials.push_back(std::move(p));
                    if (out) out->lists.push_back(std::move(full));
                    return std::nullopt;
                }
                p.fields.add_bytes("data", d.subspan(at, data_size));
                at += data_size;
            }
            if (out) full.partials.push_back(std::move(p));
        }
        const bool cut = count < full.count;
        if (out) out->lists.push_back(std::move(full));
        if (cut) return std::nullopt;
    }
    return at;
}

}  // namespace

ResourceList parse_resource_list(Bytes data, bool with_count) {
    ResourceList list;
    Reader in(data, list.notes);
    size_t lists = 1, at = 0;
    if (with_count) {
        const auto count = in.u32(0, "the count of full descriptors");
        if (!count) return list;
        at = 4;
        lists = in.clamp_count(*count, at, kFullHeaderSize, 0, "full descriptors");
    }
    // The partial descriptor size whose lengths add up to the data's length; 16 when neither does.
    const auto with_16 = walk_lists(in, at, lists, 16, nullptr);
    const auto with_20 = walk_lists(in, at, lists, 20, nullptr);
    if (with_16 == data.size()) {
        list.partial_size = 16;
    } else if (with_20 == data.size()) {
        list.partial_size = 20;
    } else {
        list.partial_size = !with_16 && with_20 ? 20 : 16;
        in.note(0, "lengths that add up with 16- or 20-byte partial descriptors", byte_count(data.size()));
    }
    (void)walk_lists(in, at, lists, list.partial_size, &list);
    return list;
}

RequirementsList parse_requirements_list(Bytes data) {
    RequirementsList list;
    Reader in(data, list.notes);
    if (!in.need(0, kRequirementsHeaderSize, "a requirements list header")) return list;
    list.list_size = le32(data, 0);
    list.interface_type = static_cast<int32_t>(le32(data, 4));
    list.bus_number = le32(data, 8);
    list.slot_number = le32(data, 12);
    list.alternative_count = le32(data, 28);
    size_t at = kRequirementsHeaderSize;
    for (size_t a = 0; a < list.alternative_count; ++a) {
        if (!in.need(at, kAlternativeHeaderSize, "an alternative list")) break;
        Alternative alt;
        alt.offset = at;
        alt.version = le16(data, at);
        alt.revision = le16(data, at + 2);
        alt.count = le32(data, at + 4);
        at += kAlternativeHeaderSize;
        const size_t count = in.clamp_count(alt.count, at, kRequirementSize, at - 4, "descriptors");
        for (size_t i = 0; i < count; ++i, at += kRequirementSize) {
            Requirement r;
            r.offset = at;
            r.option = data[at];
            r.type = data[at + 1];
            r.share_disposition = data[at + 2];
            r.flags = le16(data, at + 4);
            Fields& f = r.fields;
            switch (r.type) {
                case 1:
                case 3:
                case 7:
                    f.add("length", uint64_t{le32(data, at + 8)});
                    f.add("alignment", uint64_t{le32(data, at + 12)});
                    f.add("minimum", le64(data, at + 16));
                    f.add("maximum", le64(data, at + 24));
                    break;
                case 2:
                    f.add("minimum", uint64_t{le32(data, at + 8)});
                    f.add("maximum", uint64_t{le32(data, at + 12)});
                    f.add("affinity_policy", uint64_t{le16(data, at + 16)});
                    f.add("group", uint64_t{le16(data, at + 18)});
                    f.add("priority_policy", uint64_t{le32(data, at + 20)});
                    f.add("targeted_processors", le64(data, at + 24));
                    break;
                case 4:
                    f.add("minimum", uint64_t{le32(data, at + 8)});
                    f.add("maximum", uint64_t{le32(data, at + 12)});
                    break;
                case 6:
                    f.add("length", uint64_t{le32(data, at + 8)});
                    f.add("minimum", uint64_t{le32(data, at + 12)});
                    f.add("maximum", uint64_t{le32(data, at + 16)});
                    break;
                default:
                    f.add_bytes("data", data.subspan(at + 8, 24));
                    break;
            }
            alt.descriptors.push_back(std::move(r));
        }
        const bool cut = count < alt.count;
        list.alternatives.push_back(std::move(alt));
        if (cut) break;
    }
    return list;
}

const char* interface_type_name(int32_t type) {
    static constexpr const char* kNames[] = {
        "Internal", "Isa",      "Eisa",  "MicroChannel",      "TurboChannel",     "PCIBus",
        "VMEBus",   "NuBus",    "PCMCIABus", "CBus",          "MPIBus",           "MPSABus",
        "ProcessorInternal", "InternalPowerBus", "PNPISABus", "PNPBus", "Vmcs", "ACPIBus",
    };
    if (type == -1) return "Undefined";
    if (type < 0 || static_cast<size_t>(type) >= std::size(kNames)) return nullptr;
    return kNames[type];
}

}  // namespace tarnu::decode
