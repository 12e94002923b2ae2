#include "logs/dirty_page.h"

#include <algorithm>

namespace tarnu {

void write_page(ByteBuffer& image, const DirtyPage& page) {
    const size_t end = size_t{page.hive_offset} + page.page_data.size();
    if (end > image.size()) image.resize(end, 0);  // the gap before the page reads as zeros
    std::copy(page.page_data.begin(), page.page_data.end(), image.begin() + page.hive_offset);
}

}  // namespace tarnu
