// Carving hives, hive fragments and transaction logs out of any image: a disk or partition image, unallocated
// space, a memory dump. The scan reads the image once, front to back, through a bounded window, and copies what it
// finds to its outputs as it passes; it never reads a byte twice and never seeks.
//
// What it finds:
// - a hive: a base block of a primary (file type 0) at a 512-byte boundary with its first hive bin after it,
//   copied as it is for 4096 + the hive bins data size it states, or until the image ends or another structure
//   begins (then it is cut short);
// - a log: a base block of file type 1 or 2 with its "DIRT" vector (base block, bitmap and the dirty units it
//   marks), or of file type 6 with its chain of "HvLE" entries (while each has a valid size), copied as it is;
// - a fragment: hive bins without a base block. On a disk, a run of bins at 512-byte boundaries, each where the
//   one before ends and carrying the offset that follows it. In memory, bins at 4096-byte pages that may lie apart
//   or out of order: a bin joins the fragment being gathered unless it overlaps one of its bins or lies more than
//   kMaxFragmentGap past its last. Each fragment is written as a hive that opens: its bins at their stated offsets,
//   empty bins in the gaps, zeros completing a bin cut short, and a base block made for it (hive bins data size up
//   to its last bin, root cell offset at a key node found in it, checksum right).
// Inside a hive or fragment, a hive bin that is not the next of its own chain begins a new fragment; inside a log,
// hive bins are its dirty pages. A base block that begins a hive or log ends whatever came before it.
//
// The outputs go through a `CarveSink`, which the carver calls with the names it makes: the folder sink writes
// files (recovery/carve_folder.h), the fuzz target and tests keep them in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

enum class CarvedKind : uint8_t { Hive, Fragment, OldLog, NewLog };

// "hive", "fragment", "log-old", "log-new".
std::string_view carved_kind_name(CarvedKind kind);

struct CarvedItem {
    CarvedKind kind = CarvedKind::Hive;
    uint64_t offset = 0;  // in the image, of its first byte
    uint64_t size = 0;    // bytes of the image it spans, from its first byte to the end of its last
    // The hive bins data size: as its base block states it (hive, logs), or as made for it (fragment).
    uint32_t stated_size = 0;
    // The image ended, or another structure began, before its end: 4096 + the stated size for a hive, the last
    // unit the bitmap marks or the end of the current entry for a log, the end of a bin for a fragment.
    bool cut_short = false;
    std::optional<bool> checksum_ok;      // of the base block found; none for a fragment, whose base block is made
    std::optional<uint32_t> bins_offset;  // the hive-bins offset of its first bin: 0 for a hive; none for a log
    std::string name;                     // of its output, made by the carver
    bool written = false;                 // the sink took its output
    bool over_budget = false;             // a fragment whose output would have passed the made-bytes budget
};

// One carved item's output.
class CarveOutput {
public:
    virtual ~CarveOutput() = default;
    // Writes `data` at byte `position` of the output.
    virtual Status write(uint64_t position, Bytes data) = 0;
    // Gives the output its final length (bytes never written read as zeros) and closes it.
    virtual Status finish(uint64_t length) = 0;
};

// Where the carver puts what it finds. At most one output is open at a time.
class CarveSink {
public:
    virtual ~CarveSink() = default;
    // A new output named `name`, or nullptr when this sink writes none.
    virtual Result<std::unique_ptr<CarveOutput>> open(const std::string& name) = 0;
    // Called once per item, after its output is finished, in the order the items begin in the image.
    virtual Status found(const CarvedItem& item) = 0;
};

// The image, read front to back.
class ImageSource {
public:
    virtual ~ImageSource() = default;
    // Reads up to `count` bytes into `into`: how many were read, 0 at the end.
    virtual Result<size_t> read(uint8_t* into, size_t count) = 0;
};

enum class CarveMode : uint8_t { Disk, Memory, Detect };

// Whether an image is a memory dump, judged by its first bytes, and why.
struct ModeGuess {
    bool memory = false;
    std::string reason;
};

// Memory when `head` begins with the header of a memory dump: a Windows crash dump ("PAGEDUMP", "PAGEDU64"), an
// ELF core file, a LiME image ("EMiL"); a disk otherwise. A raw memory image has no header: say so with
// CarveMode::Memory.
ModeGuess guess_carve_mode(Bytes head);

// The bytes `guess_carve_mode` looks at.
inline constexpr size_t kCarveModeProbe = 64;

struct CarveSummary {
    bool memory = false;
    std::string mode_reason;  // "chosen" for Disk and Memory, the guess's reason for Detect
    uint64_t image_size = 0;  // bytes read
    size_t items = 0;
    size_t over_budget = 0;   // fragments found but not written (CarvedItem::over_budget)
};

// Scans `image` and hands what it finds to `sink`. Fails only when reading the image or the sink fails.
Result<CarveSummary> carve_image(ImageSource& image, CarveSink& sink, CarveMode mode);

// An image held in memory, for the fuzz target and tests.
class MemorySource : public ImageSource {
public:
    explicit MemorySource(Bytes bytes) : bytes_(bytes) {}
    Result<size_t> read(uint8_t* into, size_t count) override;

private:
    Bytes bytes_;
};

}  // namespace tarnu
