#include "decode/reg_link.h"

#include <string_view>

#include "decode/reader.h"

namespace tarnu::decode {
namespace {

bool starts_with_ignoring_case(const std::string& text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != prefix[i]) return false;
    }
    return true;
}

}  // namespace

RegLink parse_reg_link(Bytes data) {
    RegLink link{utf16_text(data), std::nullopt};
    static constexpr std::pair<std::string_view, std::string_view> kRoots[] = {
        {"\\REGISTRY\\MACHINE", "HKLM"},
        {"\\REGISTRY\\USER", "HKU"},
    };
    for (const auto& [root, short_root] : kRoots) {
        if (!starts_with_ignoring_case(link.target, root)) continue;
        const std::string rest = link.target.substr(root.size());
        if (rest.empty() || rest[0] == '\\') link.short_path = std::string(short_root) + rest;
    }
    return link;
}

}  // namespace tarnu::decode
