// Writing a hive image to a file, with the base-block checksum recomputed in a private copy of the base block.
//
// The image is written to a new temporary file beside the target, flushed and renamed over it, so a failed save
// leaves an existing file as it was (and saving over the file that backs a mapped hive cannot disturb the
// mapping). A target that exists and is not a regular file (a pipe, a device) is written directly.
#pragma once

#include <string>

#include "error/error.h"
#include "hive/hive.h"

namespace tarnu {

Status save_hive(const Hive& hive, const std::string& path);

}  // namespace tarnu
