// Names of the GUIDs that shell items and UserAssist value names hold: shell folders (root folder items, This PC
// folders, control panel items) and known folders (the path a UserAssist name's leading GUID stands for).
#pragma once

#include <string>

namespace tarnu::decode {

// "My Computer", "Desktop", ... for a GUID text with braces (any letter case), or nullptr.
const char* shell_folder_name(const std::string& guid);
// "%ProgramData%\Microsoft\Windows\Start Menu\Programs", "System32", ... for a known-folder GUID text, or nullptr.
const char* known_folder_path(const std::string& guid);

}  // namespace tarnu::decode
