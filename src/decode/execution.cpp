#include "decode/execution.h"

#include <bit>

#include "utils/format.h"

namespace tarnu::decode {
namespace {

// Reads of fields that may be cut short: each gives nothing past the end, without a note of its own (the record's
// one `need` notes the shortfall).
struct Partial {
    Bytes d;
    std::optional<uint32_t> u32(size_t at) const {
        return at <= d.size() && d.size() - at >= 4 ? std::optional<uint32_t>(le32(d, at)) : std::nullopt;
    }
    std::optional<Instant> time(size_t at) const { return filetime_at(d, at); }
};

}  // namespace

UserAssistEntry parse_userassist(Bytes data, unsigned version) {
    UserAssistEntry e;
    Reader in(data, e.notes);
    if (version == 0) version = data.size() == 16 ? 3 : data.size() >= 72 ? 5 : 0;
    if (version != 3 && version != 5) {
        in.note(0, "a version 3 entry (16 bytes) or a version 5 entry (72 bytes)",
                version ? "version " + dec(version) : byte_count(data.size()));
        return e;
    }
    e.version = version;
    const Partial p{data};
    e.session = p.u32(0);
    e.run_count = p.u32(4);
    if (version == 3) {
        (void)in.need(0, 16, "a version 3 entry");
        e.last_run = p.time(8);
        return e;
    }
    (void)in.need(0, 72, "a version 5 entry");
    e.focus_count = p.u32(8);
    e.focus_time_ms = p.u32(12);
    for (size_t i = 0; i < 10; ++i) {
        if (const auto bits = p.u32(16 + 4 * i)) e.scores.push_back(std::bit_cast<float>(*bits));
    }
    e.score_index = p.u32(56);
    e.last_run = p.time(60);
    return e;
}

std::string rot13(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>('a' + (c - 'a' + 13) % 26);
        else if (c >= 'A' && c <= 'Z') c = static_cast<char>('A' + (c - 'A' + 13) % 26);
    }
    return text;
}

BamEntry parse_bam(Bytes data) {
    BamEntry e;
    Reader in(data, e.notes);
    if (!in.need(0, 8, "a FILETIME")) return e;
    e.last_run = from_filetime(le64(data, 0));
    if (data.size() == 24) {
        e.packaged = le32(data, 16);
        e.version = le32(data, 20);
    } else {
        e.rest.assign(data.begin() + 8, data.end());
    }
    return e;
}

StartupApproved parse_startup_approved(Bytes data) {
    StartupApproved s;
    Reader in(data, s.notes);
    const Partial p{data};
    (void)in.need(0, 12, "a StartupApproved value");
    s.state = p.u32(0);
    s.changed = p.time(4);
    return s;
}

DynamicInfo parse_dynamic_info(Bytes data) {
    DynamicInfo info;
    Reader in(data, info.notes);
    if (data.size() != 28 && data.size() != 36) {
        in.note(0, "DynamicInfo of 28 or 36 bytes", byte_count(data.size()));
    }
    const Partial p{data};
    info.version = p.u32(0);
    info.created = p.time(4);
    info.last_run = p.time(12);
    info.state = p.u32(20);
    info.last_result = p.u32(24);
    if (data.size() == 36) info.last_completed = p.time(28);
    return info;
}

}  // namespace tarnu::decode
