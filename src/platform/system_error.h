// The errors of failed system calls: the `Io` error of an errno value or a Windows error code with the system's text
// for it, and on Windows the errno value that stands for a Windows error code.
#pragma once

#include <string>

#include "utils/error.h"

namespace tarnu::platform {

// The Io error of errno value `code`.
HiveError os_error(int code);

// The system's description of errno value `code`, trailing white space dropped.
std::string errno_text(int code);

#ifdef _WIN32
// The system's description of Windows error code `code` (its message table, in the user's language), trailing
// white space dropped.
std::string windows_error_text(unsigned long code);

// The errno value of a Windows error code, by which the Python layer picks the class of OSError: a file or
// folder that is missing is ENOENT, a refusal EACCES, and so on; a code with no counterpart is EINVAL.
int errno_of_windows_error(unsigned long code);

// The Io error of Windows error code `code` (which its message shows), with the errno value that stands for it.
HiveError windows_error(unsigned long code);
#endif

}  // namespace tarnu::platform
