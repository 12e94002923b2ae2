#include "logs/log_format.h"

#include <algorithm>

namespace tarnu {
namespace {

// Why a file that begins with no format's signature is no log, naming each signature once, in table order:
// "it begins with neither "HvLE" nor "regf"".
std::string no_signature_reason() {
    std::vector<std::string_view> signatures;
    for (const LogFormat* format : kLogFormats) {
        const std::string_view signature(format->signature, 4);
        if (std::find(signatures.begin(), signatures.end(), signature) == signatures.end()) {
            signatures.push_back(signature);
        }
    }
    std::string text = signatures.size() == 1   ? "it does not begin with "
                       : signatures.size() == 2 ? "it begins with neither "
                                                : "it begins with none of ";
    for (size_t i = 0; i < signatures.size(); ++i) {
        if (i != 0) text += i + 1 < signatures.size() ? ", " : signatures.size() == 2 ? " nor " : " or ";
        text.append(1, '"').append(signatures[i]).append(1, '"');
    }
    return text;
}

}  // namespace

RecognisedFile recognise_log(Bytes file) {
    if (file.empty()) return RecognisedFile{nullptr, "empty", "no bytes"};
    // The first format that claims the file has it; otherwise the first that explains why the file is none of its
    // logs says why it is no log.
    std::string reason;
    for (const LogFormat* format : kLogFormats) {
        if (!has_signature(file, format->signature)) continue;
        Recognition seen = format->recognise(file);
        if (seen.claimed) return RecognisedFile{format, std::string(format->name), std::move(seen.reason)};
        if (reason.empty()) reason = std::move(seen.reason);
    }
    return RecognisedFile{nullptr, "not a log", reason.empty() ? no_signature_reason() : std::move(reason)};
}

DescribedLog describe_log(Bytes file) {
    DescribedLog described{recognise_log(file), {}};
    if (described.recognised.format != nullptr) described.description = described.recognised.format->describe(file);
    return described;
}

}  // namespace tarnu
