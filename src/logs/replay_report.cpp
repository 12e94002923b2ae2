#include "logs/replay_report.h"

namespace tarnu {

const char* log_kind_name(LogKind kind) {
    switch (kind) {
        case LogKind::Unreadable:
            return "unreadable";
        case LogKind::Empty:
            return "empty";
        case LogKind::NotALog:
            return "not a log";
        case LogKind::Blocks:
            return "blocks";
        case LogKind::OldFormat:
            return "old";
        case LogKind::NewFormat:
            return "new";
    }
    return "not a log";
}

}  // namespace tarnu
