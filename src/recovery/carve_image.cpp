#include "recovery/carve_image.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "hive/limits.h"
#include "records/cell.h"
#include "records/hive_bin.h"
#include "recovery/carve_fragment.h"
#include "recovery/carve_signatures.h"
#include "utils/format.h"

namespace tarnu {
namespace {

constexpr uint64_t kNoPosition = std::numeric_limits<uint64_t>::max();
// How far before the scan's position the window keeps bytes when it moves on: the cell walk of a fragment may wait
// there for the rest of a cell header.
constexpr uint64_t kWindowKeep = kCarveSectorSize;
constexpr size_t kWindowSize = kCarveReadSize + kCarveLookahead + kWindowKeep;

// The first bytes of the memory dumps that guess_carve_mode knows.
struct DumpHeader {
    const char* magic;
    size_t length;
    const char* what;
};
constexpr DumpHeader kDumpHeaders[] = {
    {"PAGEDUMP", 8, "a Windows crash dump header (PAGEDUMP)"},
    {"PAGEDU64", 8, "a Windows crash dump header (PAGEDU64)"},
    {"EMiL", 4, "a LiME memory image header"},
};
constexpr uint16_t kElfCoreType = 4;
constexpr size_t kElfTypePosition = 16;

// Whether the unit at the start of `at` begins with the signature of a base block or a hive bin.
bool may_begin_structure(Bytes at) {
    return at.size() >= 4 && (std::memcmp(at.data(), "regf", 4) == 0 || std::memcmp(at.data(), "hbin", 4) == 0);
}

std::string output_name(CarvedKind kind, uint64_t offset) {
    const std::string at = hex(offset);
    switch (kind) {
    case CarvedKind::Hive: return "hive-" + at + ".regf";
    case CarvedKind::Fragment: return "fragment-" + at + ".regf";
    case CarvedKind::OldLog: return "log-old-" + at + ".log";
    case CarvedKind::NewLog: return "log-new-" + at + ".log";
    }
    return at;
}

CarvedKind kind_of(BaseBlockKind kind) {
    switch (kind) {
    case BaseBlockKind::Hive: return CarvedKind::Hive;
    case BaseBlockKind::OldLog: return CarvedKind::OldLog;
    case BaseBlockKind::NewLog: return CarvedKind::NewLog;
    }
    return CarvedKind::Hive;
}

// The item being carved.
struct Current {
    CarvedItem item;
    std::unique_ptr<CarveOutput> output;
    uint64_t end = 0;                 // image position where its known extent ends
    uint64_t taken_end = 0;           // image position after the last byte copied
    uint64_t chain_at = kNoPosition;  // hive, fragment: image position of the next bin of its chain
    uint32_t chain_offset = 0;        // the offset that bin must carry
    Fragment fragment;
    uint64_t bin_position = 0;        // fragment: image position of the bin being copied
    uint32_t bin_offset = 0;          // and its offset
};

class Carver {
public:
    Carver(ImageSource& source, CarveSink& sink)
        : source_(source), sink_(sink), window_(new uint8_t[kWindowSize]) {}

    static_assert(kCarveProbe >= kBaseBlockSize + kHbinHeaderSize + kCellHeaderSize);
    static_assert(kCarveLookahead >=
                  kLogBaseBlockSize + kDirtyVectorHeaderSize + kMaxRecoveredBinsSize / kBytesPerBitmapByte);

    Result<CarveSummary> run(CarveMode mode) {
        TARNU_CHECK(refill(0, kCarveProbe));
        if (mode == CarveMode::Detect) {
            const ModeGuess guess = guess_carve_mode(view(0).first(std::min<size_t>(have_, kCarveModeProbe)));
            memory_ = guess.memory;
            summary_.mode_reason = guess.reason;
        } else {
            memory_ = mode == CarveMode::Memory;
            summary_.mode_reason = "chosen";
        }
        summary_.memory = memory_;
        for (uint64_t p = 0;; p += kCarveSectorSize) {
            TARNU_CHECK(refill(p, kCarveProbe));
            const uint64_t end = base_ + have_;
            if (p >= end) break;
            const uint64_t unit_end = std::min<uint64_t>(p + kCarveSectorSize, end);
            // Most units begin no structure and end none: they are copied to the current item, if any.
            if (!may_begin_structure(view(p)) &&
                (!current_ || (p < current_->end && current_->chain_at != p))) {
                if (current_) TARNU_CHECK(take(p, std::min(unit_end, current_->end)));
                continue;
            }
            TARNU_CHECK(step(p, unit_end));
        }
        if (current_) TARNU_CHECK(end_current());
        summary_.image_size = base_ + have_;
        return summary_;
    }

private:
    // The window's bytes from image position `p` on.
    Bytes view(uint64_t p) const {
        return Bytes(window_.get() + (p - base_), have_ - static_cast<size_t>(p - base_));
    }

    // Makes the window hold `need` bytes past `p` (at most kCarveLookahead), unless the image ends first.
    Status refill(uint64_t p, size_t need) {
        if (eof_ || p + need <= base_ + have_) return Ok{};
        TARNU_CHECK(flush());
        const uint64_t keep_from = std::max(base_, p >= kWindowKeep ? p - kWindowKeep : 0);
        const size_t dropped = static_cast<size_t>(keep_from - base_);
        std::memmove(window_.get(), window_.get() + dropped, have_ - dropped);
        have_ -= dropped;
        base_ = keep_from;
        while (have_ < kWindowSize) {
            TARNU_TRY(const size_t got, source_.read(window_.get() + have_, kWindowSize - have_));
            if (got == 0) {
                eof_ = true;
                break;
            }
            have_ += got;
        }
        return Ok{};
    }

    bool budget_allows(uint64_t more) const {
        const uint64_t budget = kCarveMadeAllowance + kCarveMadePerImageByte * (base_ + have_);
        return made_ <= budget && more <= budget - made_;
    }

    bool is_log() const {
        return current_->item.kind == CarvedKind::OldLog || current_->item.kind == CarvedKind::NewLog;
    }

    // One 512-byte unit of the image, [p, unit_end): what ends and what begins there, then the copy of its bytes.
    Status step(uint64_t p, uint64_t unit_end) {
        const Bytes here = view(p);
        const std::optional<FoundBaseBlock> block = recognise_base_block(here);
        const uint32_t alignment = memory_ ? kCarvePageSize : kCarveSectorSize;
        std::optional<FoundBin> bin;
        if (!block && (p % alignment == 0 || (current_ && current_->chain_at == p))) bin = recognise_bin(here);
        if (current_ && !block && p >= current_->end) TARNU_CHECK(reach_end(p, here, bin.has_value()));
        if (current_ && block) {
            TARNU_CHECK(end_current());
        } else if (current_ && bin && !is_log()) {
            Current& cur = *current_;
            const bool chained = cur.chain_at == p && bin->offset == cur.chain_offset;
            if (chained && cur.item.kind == CarvedKind::Hive) {
                cur.chain_at = p + bin->size;
                cur.chain_offset += bin->size;
                bin.reset();
            } else if ((chained || memory_) && cur.item.kind == CarvedKind::Fragment && join(*bin, p)) {
                bin.reset();
            } else {
                TARNU_CHECK(end_current());
            }
        } else if (current_ && current_->chain_at == p) {
            current_->chain_at = kNoPosition;  // no bin where the chain leads: only another structure ends it now
        }
        if (!current_ && block) TARNU_CHECK(begin_base_block(*block, p));
        if (!current_ && bin) TARNU_CHECK(begin_fragment(*bin, p));
        if (!current_ || p >= current_->end) return Ok{};
        return take(p, std::min(unit_end, current_->end));
    }

    // The scan has reached the end of the current item's known extent: a new-format log goes on with its next
    // entry, a fragment with a bin that joins it (which `step` tries) or, in memory, after a gap; the rest end here.
    Status reach_end(uint64_t p, Bytes here, bool bin_here) {
        Current& cur = *current_;
        if (cur.item.kind == CarvedKind::NewLog) {
            const std::optional<uint32_t> entry = new_log_entry_size(here);
            if (!entry) return end_current();
            cur.end = p + *entry;
            return Ok{};
        }
        if (cur.item.kind == CarvedKind::Fragment && (bin_here || (memory_ && p - cur.end <= kMaxFragmentGap))) {
            return Ok{};
        }
        return end_current();
    }

    Status begin_base_block(const FoundBaseBlock& block, uint64_t p) {
        current_.emplace();
        Current& cur = *current_;
        cur.item.kind = kind_of(block.kind);
        cur.item.offset = p;
        cur.item.stated_size = block.stated_size;
        cur.item.checksum_ok = block.checksum_ok;
        cur.item.name = output_name(cur.item.kind, p);
        cur.taken_end = p;
        switch (block.kind) {
        case BaseBlockKind::Hive:
            cur.item.bins_offset = 0;
            cur.end = p + kBaseBlockSize + block.stated_size;
            cur.chain_at = p + kBaseBlockSize;
            break;
        case BaseBlockKind::OldLog: {
            TARNU_CHECK(refill(p, kCarveLookahead));
            const std::optional<uint64_t> extent = old_log_extent(view(p));
            cur.end = extent ? p + *extent : kNoPosition;  // the image ends inside the bitmap
            break;
        }
        case BaseBlockKind::NewLog:
            cur.end = p + kLogBaseBlockSize + *new_log_entry_size(view(p).subspan(kLogBaseBlockSize));
            break;
        }
        TARNU_TRY(cur.output, sink_.open(cur.item.name));
        return Ok{};
    }

    Status begin_fragment(const FoundBin& bin, uint64_t p) {
        current_.emplace();
        Current& cur = *current_;
        cur.item.kind = CarvedKind::Fragment;
        cur.item.offset = p;
        cur.item.name = output_name(CarvedKind::Fragment, p);
        cur.taken_end = p;
        const uint64_t made = kBaseBlockSize + uint64_t{bin.offset} + bin.size;
        cur.item.over_budget = !budget_allows(made);
        if (!cur.item.over_budget) {
            made_ += made;
            TARNU_TRY(cur.output, sink_.open(cur.item.name));
        }
        add_bin(bin, p);
        return Ok{};
    }

    // Adds `bin`, found at `p`, to the fragment being carved, unless it overlaps one of its bins, lies too far from
    // them in memory, or would grow what is made past the budget.
    bool join(const FoundBin& bin, uint64_t p) {
        Current& cur = *current_;
        Fragment& fragment = cur.fragment;
        if (fragment.overlaps(bin) || (memory_ && p > fragment.image_end() + kMaxFragmentGap)) return false;
        const uint64_t end = uint64_t{bin.offset} + bin.size;
        const uint64_t growth = end > fragment.bins_end() ? end - fragment.bins_end() : 0;
        if (!cur.item.over_budget) {
            if (!budget_allows(growth)) return false;
            made_ += growth;
        }
        add_bin(bin, p);
        return true;
    }

    void add_bin(const FoundBin& bin, uint64_t p) {
        Current& cur = *current_;
        cur.fragment.add(bin, p, view(p));
        cur.end = p + bin.size;
        cur.bin_position = p;
        cur.bin_offset = bin.offset;
        cur.chain_at = p + bin.size;
        cur.chain_offset = bin.offset + bin.size;
    }

    // Copies the image bytes [from, to) of the current item to its output.
    Status take(uint64_t from, uint64_t to) {
        Current& cur = *current_;
        cur.taken_end = to;
        uint64_t at = from - cur.item.offset;
        if (cur.item.kind == CarvedKind::Fragment) {
            at = kBaseBlockSize + cur.bin_offset + (from - cur.bin_position);
            cur.fragment.take(to, view(base_), base_, cur.output != nullptr);
        }
        if (!cur.output) return Ok{};
        if (pending_to_ == from && pending_at_ + (pending_to_ - pending_from_) == at && pending_to_ > pending_from_) {
            pending_to_ = to;
            return Ok{};
        }
        TARNU_CHECK(flush());
        pending_from_ = from;
        pending_to_ = to;
        pending_at_ = at;
        return Ok{};
    }

    // Writes the bytes taken but not written yet; they are still in the window.
    Status flush() {
        if (pending_to_ == pending_from_) return Ok{};
        const Bytes bytes = view(pending_from_).first(static_cast<size_t>(pending_to_ - pending_from_));
        pending_from_ = pending_to_ = 0;
        return current_->output->write(pending_at_, bytes);
    }

    // Finishes the current item where the scan stands and hands it to the sink.
    Status end_current() {
        TARNU_CHECK(flush());
        Current& cur = *current_;
        CarvedItem& item = cur.item;
        if (item.kind == CarvedKind::Fragment) {
            const Fragment& fragment = cur.fragment;
            item.size = fragment.image_end() - fragment.image_begin();
            item.cut_short = fragment.cut_short();
            item.stated_size = fragment.bins_end();
            item.bins_offset = fragment.first_offset();
            if (cur.output) TARNU_CHECK(fragment.finish(*cur.output));
        } else {
            item.size = cur.taken_end - item.offset;
            item.cut_short = cur.taken_end < cur.end;
            if (cur.output) TARNU_CHECK(cur.output->finish(item.size));
        }
        item.written = cur.output != nullptr;
        ++summary_.items;
        if (item.over_budget) ++summary_.over_budget;
        const Status told = sink_.found(item);
        current_.reset();
        return told;
    }

    ImageSource& source_;
    CarveSink& sink_;
    bool memory_ = false;
    std::unique_ptr<uint8_t[]> window_;  // kWindowSize bytes, filled as they are read
    uint64_t base_ = 0;  // image position of window_[0]
    size_t have_ = 0;    // bytes of the window that hold the image
    bool eof_ = false;
    std::optional<Current> current_;
    uint64_t pending_from_ = 0, pending_to_ = 0, pending_at_ = 0;  // image bytes taken, and where they go
    uint64_t made_ = 0;
    CarveSummary summary_;
};

}  // namespace

std::string_view carved_kind_name(CarvedKind kind) {
    switch (kind) {
    case CarvedKind::Hive: return "hive";
    case CarvedKind::Fragment: return "fragment";
    case CarvedKind::OldLog: return "log-old";
    case CarvedKind::NewLog: return "log-new";
    }
    return "?";
}

ModeGuess guess_carve_mode(Bytes head) {
    for (const DumpHeader& header : kDumpHeaders) {
        if (head.size() >= header.length && std::memcmp(head.data(), header.magic, header.length) == 0) {
            return ModeGuess{true, header.what};
        }
    }
    if (head.size() >= kElfTypePosition + 2 && std::memcmp(head.data(), "\x7f" "ELF", 4) == 0 &&
        le16(head, kElfTypePosition) == kElfCoreType) {
        return ModeGuess{true, "an ELF core dump header"};
    }
    return ModeGuess{false, "no memory dump header at its start"};
}

Result<CarveSummary> carve_image(ImageSource& image, CarveSink& sink, CarveMode mode) {
    Carver carver(image, sink);
    return carver.run(mode);
}

Result<size_t> MemorySource::read(uint8_t* into, size_t count) {
    const size_t n = std::min(count, bytes_.size());
    std::memcpy(into, bytes_.data(), n);
    bytes_ = bytes_.subspan(n);
    return n;
}

}  // namespace tarnu
