// The hive-bin checks Windows makes after replaying a log, over the bins whose header the replay wrote: the new
// format puts an empty placeholder bin where such a bin is broken and goes on; the old format stops before it.
//
// A bin header is sound when it reads "hbin", names its own position, and has a size that is a non-zero multiple
// of 4096 and ends within the hive bins data. The walk follows the bins from position 0 and ends at the first
// broken bin that the replay did not write: damage the primary already had is left as it was.
#pragma once

#include <cstdint>
#include <vector>

#include "hive/file_io.h"
#include "logs/dirty_page.h"
#include "utils/bytes.h"

namespace tarnu {

// Which 4096-byte blocks of the hive bins data a replay wrote.
class DirtyBlocks {
public:
    void mark(const DirtyPage& page);
    bool contains(uint64_t bins_position) const;

private:
    std::vector<bool> blocks_;
};

// Puts an empty placeholder bin over every broken bin that `dirty` holds the header of, in the first
// `bins_size` bytes of the hive bins data of `image` (which covers them). A placeholder reaches to the next sound
// bin header or to the end of the hive bins data. Returns the placeholders' positions in the hive bins data.
std::vector<uint32_t> place_placeholder_bins(ByteBuffer& image, uint32_t bins_size, const DirtyBlocks& dirty);

// The position in the hive bins data of the first broken bin whose header lies in `runs` (dirty runs in hive
// order, not yet copied), when the bins are read through the runs laid over `image`; `bins_size` if there is none.
uint32_t first_broken_dirty_bin(Bytes image, const std::vector<DirtyPage>& runs, uint32_t bins_size);

}  // namespace tarnu
