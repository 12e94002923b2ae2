// The walk over every cell of the hive bins: each cell with its offset, its size and whether it is allocated (the
// sign of its size field), and the record signature a cell begins with. `Hive.cells()` shows it; recovery
// (src/recovery) finds free space and intact key nodes through it, in the form that goes on past damaged bins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "utils/bytes.h"

namespace tarnu {

struct Hive;

// One cell as the walk over its hive bin finds it. A negative size field marks an allocated cell.
struct CellInfo {
    uint32_t offset = 0;  // relative to the hive bins
    uint32_t size = 0;    // the magnitude of the size field: the whole cell, size field included
    bool allocated = false;
    Bytes payload;        // the cell after its size field, as a view of the image
};

// The two bytes that begin `payload` when they are the signature of a record ("nk", "vk", "sk", "lf", "lh", "li",
// "ri", "db"); empty for anything else (data, value lists, segment lists).
std::string_view record_signature(Bytes payload);

// What the walk does where `hbins` fails inside the stated hive-bins data size (a bin missing, or a header that
// names another position or a size of 0).
enum class BinDamage : uint8_t {
    EndsWalk,    // the walk ends there, as the listing of `hbins` does
    PassedOver,  // the walk passes over 4096-byte blocks up to the next one that begins a sound bin, and goes on
};

// Every cell of every hive bin, in image order. Bins are found as `hbins` finds them; where `hbins` fails the walk
// ends, or passes the damage over as `BinDamage` says. Past the stated size the walk goes on while bins name their
// own positions; the first position that holds no such bin ends it. Within a bin the walk goes from its header to
// its end (or the end of the image); a cell whose size is below 4 or that runs past the bin's end ends that bin's
// walk. The walk only moves forward, so it ends on any input and never hands out a cell twice.
class CellWalk {
public:
    // `hive` must outlive the walk.
    explicit CellWalk(const Hive& hive, BinDamage damage = BinDamage::EndsWalk);

    // The next cell, or nothing once the walk is over.
    std::optional<CellInfo> next();

    // Once the walk is over: where its bins end (from the start of the hive bins), and how many places it passed
    // over: broken cells, and under PassedOver runs of missing or broken bins and an image that ends before the
    // stated size (a truncated file).
    uint64_t end() const { return end_; }
    size_t passed_over() const { return passed_over_; }

private:
    // Moves to the next hive bin; false when there is none.
    bool next_bin();

    const Hive& hive_;
    const BinDamage damage_;
    uint64_t next_bin_ = 0;  // hive-bins position of the next bin's header
    uint64_t position_ = 0;  // of the next cell in the current bin
    uint64_t bin_end_ = 0;   // where the current bin's cells end
    uint64_t end_ = 0;
    size_t passed_over_ = 0;
    bool over_ = false;
};

}  // namespace tarnu
