// Writing a hive image to a file, with the base-block checksum recomputed in a private copy of the base block.
//
// The image is written to a new temporary file beside the target, flushed and renamed over it, so a failed save
// leaves an existing file as it was (and saving over the file that backs a mapped hive cannot disturb the
// mapping). A target that exists and is not a regular file (a pipe, a device) is written directly. What differs
// between POSIX systems and Windows (links, permissions, files Windows will not replace): platform/save_file.h.
#pragma once

#include <string>

#include "hive/hive.h"
#include "utils/error.h"

namespace tarnu {

Status save_hive(const Hive& hive, const std::string& path);

}  // namespace tarnu
