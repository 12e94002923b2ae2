// Writing a file whole, implemented once for POSIX systems (save_file_posix.cpp) and once for Windows
// (save_file_windows.cpp). The bytes go to a new temporary file beside the target, are flushed to disk and the
// temporary file is renamed over the target, so a failed save leaves an existing file as it was. What differs:
// - POSIX: symbolic links are followed, so a link is kept and the file it names is replaced (or created); a
//   replaced file keeps its permission bits and a new one gets the umask's; the rename is flushed with its
//   folder. A target that exists and is not a regular file (a pipe, a device) is written directly.
// - Windows: the temporary file is moved over the target with MoveFileExW (write-through); a link to an existing
//   file is followed, a dangling one is replaced. A new file gets the folder's inherited permissions, and a
//   file that Windows will not replace (marked read-only, or mapped by a process, such as the hive being saved
//   when it was opened from that file) fails with "access denied" and stays as it was. A pipe or a device is
//   written directly.
#pragma once

#include <string>

#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu::platform {

// Writes `head` and then `body` as the whole contents of the file at `path`. The path holds no NUL character.
Status save_file(const std::string& path, Bytes head, Bytes body);

}  // namespace tarnu::platform
