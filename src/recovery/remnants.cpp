#include "recovery/remnants.h"

#include <algorithm>

#include "hive/hive.h"
#include "hive/limits.h"
#include "records/cell.h"
#include "records/hive_bin.h"
#include "recovery/carve_signatures.h"

namespace tarnu {

RemnantArea::RemnantArea(const Hive& hive, uint64_t begin)
    : data_(hive.bytes().subspan(kHiveBinsStart)), begin_(std::min<uint64_t>(begin, data_.size())),
      end_(data_.size()) {
    // Bins begin at multiples of 4096; a bin's bytes are passed over whole, and a block that begins none is read
    // as bytes outside bins.
    uint64_t q = (begin_ + kHiveBlockSize - 1) / kHiveBlockSize * kHiveBlockSize;
    while (q + kHbinHeaderSize <= end_) {
        const Bytes at = data_.subspan(static_cast<size_t>(q));
        if (std::optional<FoundBin> bin = recognise_bin(at)) {
            bins_.push_back(Bin{q, std::min<uint64_t>(q + bin->size, end_), bin->offset});
            q += bin->size;
            continue;
        }
        if (has_signature(at, "hbin")) ++broken_bins_;
        q += kHiveBlockSize;
    }
    by_offset_.resize(bins_.size());
    for (size_t i = 0; i < bins_.size(); ++i) by_offset_[i] = i;
    std::stable_sort(by_offset_.begin(), by_offset_.end(),
                     [&](size_t a, size_t b) { return bins_[a].offset < bins_[b].offset; });
}

const RemnantArea::Bin* RemnantArea::bin_at(uint64_t position) const {
    auto after = std::upper_bound(bins_.begin(), bins_.end(), position,
                                  [](uint64_t at, const Bin& bin) { return at < bin.position; });
    if (after == bins_.begin()) return nullptr;
    const Bin& bin = *(after - 1);
    return position < bin.end ? &bin : nullptr;
}

uint64_t RemnantArea::end_of_bin_at(uint64_t position) const {
    const Bin* bin = bin_at(position);
    return bin != nullptr ? bin->end : end_;
}

bool RemnantArea::in_bin_header(uint64_t position) const {
    const Bin* bin = bin_at(position);
    return bin != nullptr && position < bin->position + kHbinHeaderSize;
}

Bytes RemnantArea::record_bytes(uint64_t position) const {
    const uint64_t payload = position + kCellHeaderSize;
    if (payload >= end_) return {};
    const uint64_t limit = end_of_bin_at(payload);
    if (position >= begin_) {
        const uint64_t size = parse_cell_header(data_, static_cast<size_t>(position)).size();
        if (size >= kCellHeaderSize && position + size <= limit) {
            return data_.subspan(static_cast<size_t>(payload), static_cast<size_t>(size - kCellHeaderSize));
        }
    }
    return data_.subspan(static_cast<size_t>(payload), static_cast<size_t>(limit - payload));
}

std::optional<uint32_t> RemnantArea::position_of(uint32_t offset) const {
    // The bin whose offset field is the last at or below `offset`; bins named twice are taken in position order.
    auto after = std::upper_bound(by_offset_.begin(), by_offset_.end(), offset,
                                  [&](uint32_t at, size_t bin) { return at < bins_[bin].offset; });
    if (after != by_offset_.begin()) {
        const Bin& bin = bins_[*(after - 1)];
        const uint64_t position = bin.position + (offset - bin.offset);
        if (position < bin.end) return static_cast<uint32_t>(position);
    }
    if (offset >= begin_ && offset < end_ && bin_at(offset) == nullptr) return offset;
    return std::nullopt;
}

std::optional<Bytes> RemnantArea::cell(uint32_t position) const {
    if (position < begin_ || uint64_t{position} + kCellHeaderSize > end_) return std::nullopt;
    const uint64_t size = parse_cell_header(data_, position).size();
    if (size < kCellHeaderSize || position + size > end_of_bin_at(position)) return std::nullopt;
    return data_.subspan(size_t{position} + kCellHeaderSize, static_cast<size_t>(size - kCellHeaderSize));
}

}  // namespace tarnu
