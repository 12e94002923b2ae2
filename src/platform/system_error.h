// The texts of the operating system's error codes, and on Windows the errno value that stands for a Windows error
// code. The lowest layer of the reader: it knows no other part of it, so that error/ can build its messages here.
#pragma once

#include <string>

namespace tarnu::platform {

// The system's description of errno value `code`, trailing white space dropped.
std::string errno_text(int code);

#ifdef _WIN32
// The system's description of Windows error code `code` (its message table, in the user's language), trailing
// white space dropped.
std::string windows_error_text(unsigned long code);

// The errno value of a Windows error code, by which the Python layer picks the class of OSError: a file or
// folder that is missing is ENOENT, a refusal EACCES, and so on; a code with no counterpart is EINVAL.
int errno_of_windows_error(unsigned long code);
#endif

}  // namespace tarnu::platform
