// libFuzzer target for the decoders of binary value data (src/decode): the first byte of the input chooses the
// decoder, the rest is its data. Every decoder must give a result with notes, never crash, hang or read past the
// data; the results are walked so that every text they hold is touched.
//
//   build/fuzz/fuzz_decoders -max_total_time=300 build/fuzz/fuzz/corpus/fuzz_decoders
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decode/execution.h"
#include "decode/mru.h"
#include "decode/reg_link.h"
#include "decode/resources.h"
#include "decode/sam.h"
#include "decode/security.h"
#include "decode/shell_items.h"
#include "decode/shim_cache.h"
#include "decode/system_values.h"

using namespace tarnu;
using namespace tarnu::decode;

namespace {

// Touches what a result holds, so that the sanitizers see every byte the decoder wrote.
size_t sink = 0;
void touch(const std::string& text) { sink += text.size() + (text.empty() ? 0 : static_cast<uint8_t>(text.back())); }
void touch(const Notes& notes) {
    for (const Note& note : notes) touch(note.expected + note.found);
}
void touch(const Fields& fields) {
    for (const Field& field : fields.items()) {
        if (const auto* text = std::get_if<std::string>(&field.value)) touch(*text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const Bytes in(data + 1, size - 1);
    switch (data[0] % 20) {
        case 0: {
            const SecurityDescriptor sd = parse_security_descriptor(in);
            touch(sd.sddl);
            touch(sd.notes);
            break;
        }
        case 1: {
            const ShellItemList list = parse_shell_items(in);
            touch(list.path);
            touch(list.notes);
            for (const ShellItem& item : list.items) {
                touch(item.fields);
                for (const ExtensionBlock& block : item.blocks) touch(block.fields);
            }
            break;
        }
        case 2: {
            const ShimCache cache = parse_shim_cache(in);
            touch(cache.notes);
            for (const ShimEntry& entry : cache.entries) touch(entry.path);
            break;
        }
        case 3:
        case 4: {
            const ResourceList list = parse_resource_list(in, data[0] % 20 == 3);
            touch(list.notes);
            for (const FullResource& full : list.lists) {
                for (const PartialResource& partial : full.partials) touch(partial.fields);
            }
            break;
        }
        case 5: {
            const RequirementsList list = parse_requirements_list(in);
            touch(list.notes);
            for (const Alternative& alt : list.alternatives) {
                for (const Requirement& r : alt.descriptors) touch(r.fields);
            }
            break;
        }
        case 6:
        case 7: {
            // Half of the data names the key's values, NUL-separated; the rest is the list.
            const size_t half = in.size() / 2;
            std::vector<std::string> names;
            std::string name;
            for (uint8_t b : in.first(half)) {
                if (b == 0) {
                    names.push_back(name);
                    name.clear();
                } else {
                    name += static_cast<char>(b);
                }
            }
            const Bytes list = in.subspan(half);
            const MruOrder order = data[0] % 20 == 6
                                       ? mru_list(std::string(list.begin(), list.end()), names)
                                       : mru_list_ex(list, names);
            touch(order.notes);
            for (const std::string& n : order.ranked) touch(n);
            break;
        }
        case 8: {
            const RegLink link = parse_reg_link(in);
            touch(link.target);
            break;
        }
        case 9: touch(parse_userassist(in, 0).notes); break;
        case 10: touch(parse_userassist(in, 3).notes); break;
        case 11: touch(parse_bam(in).notes); break;
        case 12: touch(parse_startup_approved(in).notes); break;
        case 13: touch(parse_dynamic_info(in).notes); break;
        case 14: touch(parse_sam_f(in).notes); break;
        case 15: {
            const SamV v = parse_sam_v(in);
            touch(v.user_name + v.full_name + v.comment + v.profile_path);
            touch(v.notes);
            if (v.security) touch(v.security->sddl);
            break;
        }
        case 16: {
            const auto sid = machine_sid(in);
            if (sid) touch(*sid);
            break;
        }
        case 17: touch(parse_tzi(in).notes); break;
        case 18: {
            const MountedDevice device = parse_mounted_device(in);
            if (device.path) touch(*device.path);
            break;
        }
        default: {
            Notes notes;
            Reader reader(in, notes);
            if (const auto sid = parse_sid(reader, 0, "a SID")) touch(sid_text(*sid));
            for (size_t at = 0; at < 4 && at < in.size(); ++at) {
                (void)filetime_at(in, at);
                (void)fat_time_at(in, at);
                (void)unix_time_at(in, at, 8);
                (void)systemtime_at(in, at);
                (void)time_fields_at(in, at);
            }
            break;
        }
    }
    return sink == SIZE_MAX ? 1 : 0;
}
