#include "decode/mru.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "utils/format.h"

namespace tarnu::decode {
namespace {

bool is_letter_name(const std::string& name) {
    return name.size() == 1 && ((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= 'A' && name[0] <= 'Z'));
}

bool is_number_name(const std::string& name) {
    return !name.empty() && name.size() <= 10 && std::all_of(name.begin(), name.end(), [](char c) {
        return c >= '0' && c <= '9';
    });
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

// Adds `wanted` to the order unless it repeats or names no value; `is_mru` picks the names the list ranks.
class Ranking {
public:
    Ranking(const std::optional<std::vector<std::string>>& names, bool (*is_mru)(const std::string&), Notes& notes)
        : names_(names), is_mru_(is_mru), notes_(notes) {
        if (names_) {
            for (const std::string& name : *names_) by_lower_.emplace(lower(name), name);
        }
    }

    void add(const std::string& wanted, size_t offset) {
        std::string found = wanted;
        if (names_) {
            const auto it = by_lower_.find(lower(wanted));
            if (it == by_lower_.end()) {
                notes_.push_back(Note{offset, "a value named " + wanted, "none"});
                return;
            }
            found = it->second;
        }
        if (!seen_.insert(found).second) {
            notes_.push_back(Note{offset, "a value not listed before", wanted + " again"});
            return;
        }
        order_.ranked.push_back(found);
    }

    MruOrder finish() {
        if (names_) {
            for (const std::string& name : *names_) {
                if (is_mru_(name) && !seen_.count(name)) order_.unranked.push_back(name);
            }
        }
        order_.notes = std::move(notes_);
        return std::move(order_);
    }

private:
    const std::optional<std::vector<std::string>>& names_;
    bool (*is_mru_)(const std::string&);
    Notes& notes_;
    std::unordered_map<std::string, std::string> by_lower_;
    std::unordered_set<std::string> seen_;
    MruOrder order_;
};

}  // namespace

MruOrder mru_list(const std::string& letters, const std::optional<std::vector<std::string>>& names) {
    Notes notes;
    Ranking ranking(names, is_letter_name, notes);
    for (size_t i = 0; i < letters.size(); ++i) {
        const std::string name(1, letters[i]);
        if (is_letter_name(name)) {
            ranking.add(name, i);
        } else {
            notes.push_back(Note{i, "a letter from a to z", hex(static_cast<uint8_t>(letters[i]))});
        }
    }
    return ranking.finish();
}

MruOrder mru_list_ex(Bytes data, const std::optional<std::vector<std::string>>& names) {
    Notes notes;
    Ranking ranking(names, is_number_name, notes);
    size_t at = 0;
    bool ended = false;
    for (; at + 4 <= data.size(); at += 4) {
        const uint32_t number = le32(data, at);
        if (number == 0xFFFFFFFF) {
            ended = true;
            break;
        }
        ranking.add(dec(number), at);
    }
    if (!ended) notes.push_back(Note{at, "a 0xffffffff end marker", byte_count(data.size() - at)});
    return ranking.finish();
}

}  // namespace tarnu::decode
