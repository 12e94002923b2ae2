// DirtyPage, what every log format yields: bytes of a log file that belong at a position of the hive image.
//
// A page is a view of the log's buffer, never a copy, so the pages of a log take no more memory than the log
// file itself however often its records overlap; the buffer must outlive the pages.
#pragma once

#include <cstdint>
#include <vector>

#include "hive/file_io.h"
#include "utils/bytes.h"

namespace tarnu {

struct DirtyPage {
    uint32_t hive_offset = 0;  // from the first byte of the hive file
    uint32_t page_size = 0;
    Bytes page_data;           // `page_size` bytes of the log file
};

// Copies `page` into `image`, first growing the image with zero bytes up to the page's end if it ends past it.
// The caller has checked the page's end against the replay limits.
void write_page(ByteBuffer& image, const DirtyPage& page);

}  // namespace tarnu
