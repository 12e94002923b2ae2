#include "decode/guid_names.h"

#include <utility>

namespace tarnu::decode {
namespace {

using Entry = std::pair<const char*, const char*>;

constexpr Entry kShellFolders[] = {
    {"{20D04FE0-3AEA-1069-A2D8-08002B30309D}", "My Computer"},
    {"{208D2C60-3AEA-1069-A2D7-08002B30309D}", "My Network Places"},
    {"{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}", "Network"},
    {"{645FF040-5081-101B-9F08-00AA002F954E}", "Recycle Bin"},
    {"{21EC2020-3AEA-1069-A2DD-08002B30309D}", "All Control Panel Items"},
    {"{26EE0668-A00A-44D7-9371-BEB064C98683}", "Control Panel"},
    {"{031E4825-7B94-4DC3-B131-E946B44C8DD5}", "Libraries"},
    {"{59031A47-3F72-44A7-89C5-5595FE6B30EE}", "Users files"},
    {"{450D8FBA-AD25-11D0-98A8-0800361B1103}", "My Documents"},
    {"{871C5380-42A0-1069-A2EA-08002B30309D}", "Internet Explorer"},
    {"{679F85CB-0220-4080-B29B-5540CC05AAB6}", "Quick access"},
    {"{018D5C66-4533-4307-9B53-224DE2ED1FE6}", "OneDrive"},
    {"{B4BFCC3A-DB2C-424C-B029-7FE99A87C641}", "Desktop"},
    {"{D3162B92-9365-467A-956B-92703ACA08AF}", "Documents"},
    {"{088E3905-0323-4B02-9826-5D99428E115F}", "Downloads"},
    {"{3DFDF296-DBEC-4FB4-81D1-6A3438BCF4DE}", "Music"},
    {"{24AD3AD4-A569-4530-98E1-AB02F9417AA8}", "Pictures"},
    {"{F86FA3AB-70D2-4FC7-9C99-FCBF05467F3A}", "Videos"},
};

constexpr Entry kKnownFolders[] = {
    {"{1AC14E77-02E7-4E5D-B744-2EB1AE5198B7}", "System32"},
    {"{D65231B0-B2F1-4857-A4CE-A8E7C6EA7D27}", "SysWOW64"},
    {"{F38BF404-1D43-42F2-9305-67DE0B28FC23}", "Windows"},
    {"{905E63B6-C1BF-494E-B29C-65B732D3D21A}", "Program Files"},
    {"{6D809377-6AF0-444B-8957-A3773F02200E}", "Program Files (x64)"},
    {"{7C5A40EF-A0FB-4BFC-874A-C0F2E0B9FA8E}", "Program Files (x86)"},
    {"{F7F1ED05-9F6D-47A2-AAAE-29D317C6F066}", "Common Files"},
    {"{0139D44E-6AFE-49F2-8690-3DAFCAE6FFB8}", "%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs"},
    {"{A77F5D77-2E2B-44C3-A6A2-ABA601054A51}", "%APPDATA%\\Microsoft\\Windows\\Start Menu\\Programs"},
    {"{9E3995AB-1F9C-4F13-B827-48B24B6C7174}", "%APPDATA%\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned"},
    {"{B4BFCC3A-DB2C-424C-B029-7FE99A87C641}", "Desktop"},
    {"{FDD39AD0-238F-46AF-ADB4-6C85480369C7}", "Documents"},
    {"{374DE290-123F-4565-9164-39C4925E467B}", "Downloads"},
    {"{5E6C858F-0E22-4760-9AFE-EA3317B67173}", "%USERPROFILE%"},
    {"{3EB685DB-65F9-4CF6-A03A-E3EF65729F3D}", "AppData\\Roaming"},
    {"{F1B32785-6FBA-4FCF-9D55-7B8E7F157091}", "AppData\\Local"},
    {"{62AB5D82-FDC1-4DC3-A9DD-070D1D495D97}", "%ProgramData%"},
    {"{A4115719-D62E-491D-AA7C-E74B8BE3B067}", "%ProgramData%\\Microsoft\\Windows\\Start Menu"},
    {"{625B53C3-AB48-4EC1-BA1F-A1EF4146FC19}", "%APPDATA%\\Microsoft\\Windows\\Start Menu"},
    {"{82A5EA35-D9CD-47C5-9629-E15D2F714E6E}", "%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
    {"{B97D20BB-F46A-4C97-BA10-5E3608430854}", "%APPDATA%\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
};

bool same_guid(const char* a, const std::string& b) {
    for (size_t i = 0;; ++i) {
        if (a[i] == 0) return i == b.size();
        if (i >= b.size()) return false;
        char c = b[i];
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
        if (a[i] != c) return false;
    }
}

template <size_t N>
const char* lookup(const Entry (&table)[N], const std::string& guid) {
    for (const auto& [key, name] : table) {
        if (same_guid(key, guid)) return name;
    }
    return nullptr;
}

}  // namespace

const char* shell_folder_name(const std::string& guid) { return lookup(kShellFolders, guid); }

const char* known_folder_path(const std::string& guid) { return lookup(kKnownFolders, guid); }

}  // namespace tarnu::decode
