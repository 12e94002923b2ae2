#include "decode/shim_cache.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "utils/format.h"

namespace tarnu::decode {
namespace {

constexpr uint32_t kXp = 0xDEADBEEF, kVista = 0xBADC0FFE, kSeven = 0xBADC0FEE;
constexpr size_t kXpHeaderSize = 400, kXpEntrySize = 552, kXpPathSize = 528, kXpSlots = 96;
constexpr size_t kSevenHeaderSize = 128;
constexpr size_t kChainedStart = 128;  // 8.0 and 8.1
constexpr size_t kChainedHeaderSize = 12;

size_t to_size(uint64_t v) { return static_cast<size_t>(std::min<uint64_t>(v, std::numeric_limits<size_t>::max())); }

bool tag_at(Bytes d, size_t at, const char (&tag)[5]) {
    return at <= d.size() && d.size() - at >= 4 && std::memcmp(d.data() + at, tag, 4) == 0;
}

// The counted entries of a 2003/Vista/7 layout share a start: a UTF-16 path of u16 length and maximum length,
// whose offset (from the value's start) is a u32, or a u64 after 4 bytes of padding in the 64-bit forms.
bool is_64_bit(Bytes d, size_t first) {
    return d.size() - first >= 8 && le16(d, first + 2) - le16(d, first) == 2 && le32(d, first + 4) == 0;
}

// What the entries of a counted layout copy out of the value, together at most the value's size: their paths and
// data lie apart in what Windows writes, and entries that all name the same large region would otherwise copy it
// once each.
class CopyBudget {
public:
    explicit CopyBudget(size_t size) : left_(size) {}
    // True when `size` bytes may still be copied; notes the first refusal.
    bool take(Reader& in, size_t at, size_t size) {
        if (size <= left_) {
            left_ -= size;
            return true;
        }
        if (!refused_) in.note(at, "paths and data that fit the value once", "more, shared between entries");
        refused_ = true;
        return false;
    }

private:
    size_t left_;
    bool refused_ = false;
};

void counted_path(Reader& in, size_t at, bool wide, ShimEntry& e, CopyBudget& budget) {
    const Bytes d = in.data();
    const size_t length = le16(d, at);
    const size_t offset = wide ? to_size(le64(d, at + 8)) : le32(d, at + 4);
    if (in.need(offset, length, "an entry's path") && budget.take(in, at, length)) {
        e.path = utf16_text(d.subspan(offset, length));
    }
}

// The number of entries of `size` bytes from `first` to visit: the header's count, cut to what the data holds.
size_t entry_count(Reader& in, ShimCache& cache, size_t first, size_t size) {
    return in.clamp_count(*cache.header_count, first, size, 4, "entries");
}

void xp(Reader& in, ShimCache& cache) {
    cache.layout = "XP";
    if (!in.need(0, kXpHeaderSize, "an XP header")) return;
    const Bytes d = in.data();
    cache.header_count = le32(d, 4);
    // Neither header count is trusted: every slot the data holds is visited, and empty ones are passed over.
    const size_t slots = std::min((d.size() - kXpHeaderSize) / kXpEntrySize, kXpSlots);
    for (size_t i = 0; i < slots; ++i) {
        const size_t at = kXpHeaderSize + i * kXpEntrySize;
        ShimEntry e;
        e.offset = at;
        e.path = utf16_text(d.subspan(at, kXpPathSize));
        if (e.path.empty()) continue;
        e.modified = from_filetime(le64(d, at + 528));
        e.file_size = le64(d, at + 536);
        e.last_update = from_filetime(le64(d, at + 544));
        cache.entries.push_back(std::move(e));
    }
}

void vista(Reader& in, ShimCache& cache) {
    if (!in.need(0, 8, "a 2003/Vista header")) return;
    const Bytes d = in.data();
    cache.header_count = le32(d, 4);
    const bool wide = is_64_bit(d, 8);
    const size_t size = wide ? 32 : 24, tail = wide ? 24 : 16;
    const size_t count = entry_count(in, cache, 8, size);
    // 2003 stores a file size where Vista stores two small flag dwords.
    bool sizes = false;
    for (size_t i = 0; i < count; ++i) sizes = sizes || le32(d, 8 + i * size + tail) > 3;
    cache.layout = std::string(sizes ? "2003" : "Vista") + (wide ? " 64-bit" : " 32-bit");
    CopyBudget budget(d.size());
    for (size_t i = 0; i < count; ++i) {
        const size_t at = 8 + i * size;
        ShimEntry e;
        e.offset = at;
        counted_path(in, at, wide, e, budget);
        e.modified = from_filetime(le64(d, at + tail - 8));
        if (sizes) {
            e.file_size = le64(d, at + tail);
        } else {
            e.insertion_flags = le32(d, at + tail);
            e.shim_flags = le32(d, at + tail + 4);
            e.executed = (*e.insertion_flags & 0x2) != 0;
        }
        cache.entries.push_back(std::move(e));
    }
}

void seven(Reader& in, ShimCache& cache) {
    if (!in.need(0, kSevenHeaderSize, "a 7 header")) return;
    const Bytes d = in.data();
    cache.header_count = le32(d, 4);
    const bool wide = is_64_bit(d, kSevenHeaderSize);
    cache.layout = wide ? "7 64-bit" : "7 32-bit";
    const size_t size = wide ? 48 : 32;
    const size_t count = entry_count(in, cache, kSevenHeaderSize, size);
    CopyBudget budget(d.size());
    for (size_t i = 0; i < count; ++i) {
        const size_t at = kSevenHeaderSize + i * size;
        const size_t flags_at = wide ? at + 24 : at + 16;
        ShimEntry e;
        e.offset = at;
        counted_path(in, at, wide, e, budget);
        e.modified = from_filetime(le64(d, flags_at - 8));
        e.insertion_flags = le32(d, flags_at);
        e.shim_flags = le32(d, flags_at + 4);
        e.executed = (*e.insertion_flags & 0x2) != 0;
        const size_t data_size = wide ? to_size(le64(d, at + 32)) : le32(d, at + 24);
        const size_t data_offset = wide ? to_size(le64(d, at + 40)) : le32(d, at + 28);
        if (data_size != 0 && in.need(data_offset, data_size, "an entry's data") && budget.take(in, at, data_size)) {
            e.data.assign(d.begin() + data_offset, d.begin() + data_offset + data_size);
        }
        cache.entries.push_back(std::move(e));
    }
}

// The fields after the path of one chained entry (`in` views the entry without its 12-byte header).
void chained_entry(Reader& in, const std::string& layout, ShimEntry& e) {
    const auto length = in.u16(0, "an entry's path length");
    if (!length || !in.need(2, *length, "an entry's path")) return;
    const Bytes d = in.data();
    e.path = utf16_text(d.subspan(2, *length));
    size_t at = 2 + size_t{*length};
    if (layout != "10") {
        const auto insertion = in.u32(at, "insertion flags");
        const auto shim = in.u32(at + 4, "shim flags");
        if (!insertion || !shim) return;
        e.insertion_flags = insertion;
        e.shim_flags = shim;
        at += layout == "8.0" ? 8 : 10;  // 8.1 has a u16 more before the time
    }
    const auto modified = in.u64(at, "a FILETIME");
    if (!modified) return;
    e.modified = from_filetime(*modified);
    const auto data_size = in.u32(at + 8, "an entry's data size");
    if (!data_size || !in.need(at + 12, *data_size, "an entry's data")) return;
    e.data.assign(d.begin() + at + 12, d.begin() + at + 12 + *data_size);
}

void chained(Reader& in, ShimCache& cache, size_t at, const char (&tag)[5]) {
    const Bytes d = in.data();
    while (at < d.size()) {
        if (!in.need(at, kChainedHeaderSize, "an entry header")) return;
        if (!tag_at(d, at, tag)) {
            in.note(at, std::string("an entry signature \"") + tag + "\"", hex_head(d.subspan(at), 4));
            return;
        }
        const size_t size = le32(d, at + 8);
        if (size > d.size() - at - kChainedHeaderSize) {
            in.note(at + 8, "an entry of at most " + byte_count(d.size() - at - kChainedHeaderSize), byte_count(size));
            return;
        }
        ShimEntry e;
        e.offset = at;
        Reader entry = in.sub(at + kChainedHeaderSize, size);
        chained_entry(entry, cache.layout, e);
        cache.entries.push_back(std::move(e));
        at += kChainedHeaderSize + size;
    }
}

}  // namespace

ShimCache parse_shim_cache(Bytes data) {
    ShimCache cache;
    Reader in(data, cache.notes);
    const uint32_t first = data.size() >= 4 ? le32(data, 0) : 0;
    cache.signature = first;
    if (data.size() >= 4 && first == kXp) {
        xp(in, cache);
    } else if (data.size() >= 4 && first == kVista) {
        vista(in, cache);
    } else if (data.size() >= 4 && first == kSeven) {
        seven(in, cache);
    } else if (first >= 0x30 && first <= 0x7F && tag_at(data, first, "10ts")) {
        cache.layout = "10";
        chained(in, cache, first, "10ts");
    } else if (tag_at(data, kChainedStart, "00ts")) {
        cache.layout = "8.0";
        chained(in, cache, kChainedStart, "00ts");
    } else if (tag_at(data, kChainedStart, "10ts")) {
        cache.layout = "8.1";
        chained(in, cache, kChainedStart, "10ts");
    } else {
        cache.head = hex_head(data);
        in.note(0, "a known AppCompatCache layout", cache.head.empty() ? "no data" : cache.head);
    }
    return cache;
}

}  // namespace tarnu::decode
