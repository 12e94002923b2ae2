// The bounds this reader sets itself, each with its reason, and the sizes of the formats that are no one record's:
// where the hive bins start, the offset that names no cell, the unit of hive-bins data, and the transaction logs'
// layout. Each on-disk record of the hive keeps its own size, layout and flags in its header under src/records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "records/base_block.h"

namespace tarnu {

// Cell offsets count from the start of the hive bins, which is image position 4096, right after the base block.
inline constexpr uint32_t kHiveBinsStart = kBaseBlockSize;
// The largest cell offset whose image position (offset + 4096) still fits in 32 bits.
inline constexpr uint32_t kMaxCellOffset = 0xFFFFEFFF;

// Offsets that mean "no cell" in lists and key nodes.
inline constexpr uint32_t kNoCell = 0xFFFFFFFF;

// Subkey index lists ("ri") may name further lists. Real hives use one level; anything nested deeper than
// this is damage or a cycle.
inline constexpr size_t kMaxSubkeyListDepth = 32;

// Windows keeps keys at most 512 levels deep. Paths, parents and walks stop there, so that a chain of parents or
// children that input makes longer (or circular) ends instead of growing paths without bound.
inline constexpr size_t kMaxKeyDepth = 512;

// Recovery reads the value lists of deleted keys and the segment lists of deleted big data. In a real hive each
// entry of those lists fills four bytes of its own, so together they name at most as many entries as the image
// has four-byte words; recovery reads no more than that, however often free space names the same lists.
inline constexpr size_t kRecoveredListEntrySize = 4;

// In a real hive every record has a place of its own: a key's values, their names and their data, a key's subkeys
// and their names, the lists and candidates a lookup reads on its way down a path never hold more than the image
// (a name decoded from UTF-16 to UTF-8 grows by half at most). A list that names the same record over and over could
// make one call gather gigabytes from a small hive; a call stops once what it gathers passes this many times the
// image's size. One key's values count their data (the first bound, kept apart) and their names.
inline constexpr uint64_t kMaxGatheredPerImageByte = 2;
inline constexpr uint64_t kMaxValueDataPerImageByte = kMaxGatheredPerImageByte;

// Transaction logs.
inline constexpr size_t kLogHeaderSize = 4096;
inline constexpr size_t kLogBlockAlignment = 4096;
// A dirty block is looked at only when at least this many bytes of the file remain from its start.
inline constexpr size_t kLogBlockMinimum = 512;
inline constexpr size_t kLogBlockHeaderSize = 16;
inline constexpr size_t kLogEntryHeaderSize = 8;
inline constexpr uint32_t kMaxLogBlockEntries = 1000;
inline constexpr uint32_t kMaxLogPageSize = 65536;
// The block scan stops once a log holds more pages than this (checked between blocks).
inline constexpr size_t kLogPageStop = 10000;

// Log replay: no page may end past this image size, and no single page may grow the image by more.
inline constexpr uint32_t kMaxReplayImageSize = 0x20000000;
inline constexpr uint32_t kMaxReplayGrowth = 0x1000000;

// Windows transaction logs. A log keeps only the first 512 bytes of the base block; what follows it (the old
// format's "DIRT" dirty vector, the new format's entries) starts right after.
inline constexpr size_t kLogBaseBlockSize = 512;
// Old format: one bitmap bit per 512-byte unit of hive bins data, one bitmap byte per 4096 bytes of it.
inline constexpr uint32_t kDirtyUnitSize = 512;
inline constexpr uint32_t kBytesPerBitmapByte = 4096;
inline constexpr size_t kDirtyVectorHeaderSize = 4;  // "DIRT"
// New format: entries lie at multiples of 512, each a 40-byte header, 8-byte page references, then the pages.
inline constexpr uint32_t kLogEntryAlignment = 512;
inline constexpr size_t kLogEntryFixedSize = 40;
inline constexpr size_t kPageReferenceSize = 8;
// Hive bins data comes in whole 4096-byte blocks; a hive bin's size is a multiple of this too.
inline constexpr uint32_t kHiveBlockSize = 4096;
// The largest hive bins data size a Windows log may set: the recovered image then stays within the largest
// image a replay makes (kMaxReplayImageSize), which bounds what a small hostile log can make the reader allocate.
inline constexpr uint32_t kMaxRecoveredBinsSize = kMaxReplayImageSize - kBaseBlockSize;

// Carving hives out of images. Disks keep hives in 512-byte sectors, so base blocks and the hive bins of a hive
// or fragment begin at multiples of 512; memory keeps hive bins in 4096-byte pages, each page anywhere.
inline constexpr uint32_t kCarveSectorSize = 512;
inline constexpr uint32_t kCarvePageSize = 4096;
// The scan reads this much at a time: a piece that stays in the processor's cache while the scan looks at it.
inline constexpr size_t kCarveReadSize = size_t{1} << 20;
// Past the position it looks at, the scan holds at least the bytes that recognising a structure reads (a base
// block with its first hive bin header and first cell), and for an old-format log the whole dirty vector (131071
// bytes at most, see above).
inline constexpr size_t kCarveProbe = 8192;
inline constexpr size_t kCarveLookahead = 136 * 1024;
// A hive bin holds cells of at most this size: real bins are 4096 bytes, or as large as one big cell of a hive
// before version 1.4 (data of any size in one cell, in practice under a megabyte). A larger size field is not a bin.
inline constexpr uint32_t kMaxCarvedBinSize = 16u << 20;
// In memory, the pages of one hive lie near each other more often than not; a bin further than this from the last
// bin of the fragment being gathered begins a new fragment.
inline constexpr uint64_t kMaxFragmentGap = uint64_t{16} << 20;
// What the carver makes rather than copies (a fragment's base block, the empty bins that fill its gaps, the zeros
// that complete a bin cut short) stays under this allowance plus this many bytes per byte of the image read, so
// that an image full of fake hive bins cannot make its outputs much larger than itself. Real images stay far
// below it: a fragment's gaps are the bins the image no longer holds, and they are written as holes.
inline constexpr uint64_t kCarveMadeAllowance = uint64_t{256} << 20;
inline constexpr uint64_t kCarveMadePerImageByte = 2;

// Reading a file that is not a regular file (a pipe, a device) stops being sensible past the largest image a
// replay can make; such input fails instead of growing without end.
inline constexpr size_t kMaxStreamRead = kMaxReplayImageSize;

}  // namespace tarnu
