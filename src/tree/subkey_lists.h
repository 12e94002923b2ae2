// Subkey lists: from a key's subkey list cell to the ordered cell offsets of its children's key nodes.
//
// The lists are parsed as records/subkey_list.h says. Index lists ("ri") are followed depth-first in stored order.
// Nothing is sorted or de-duplicated. The walk is iterative and bounded: index lists nested deeper than
// `kMaxSubkeyListDepth`, or a collection that visits more lists or gathers more entries than the image could hold
// without repeating itself, fail with InvalidFormat, so cycles and fan-out end quickly.
// `visit_leaf_lists` hands out the leaf lists themselves, with what they store beside each offset (the name hint
// of "lf", the name hash of "lh"), for lookups by name that stop at the first match.
#pragma once

#include <cstdint>
#include <type_traits>
#include <vector>

#include "records/key_node.h"
#include "records/subkey_list.h"
#include "utils/error.h"

namespace tarnu {

// What a collection does with a list it cannot read (an unreadable cell, an unknown kind, too many entries, an
// index nested too deep).
enum class ListErrors : uint8_t {
    Fail,  // the first failure ends the collection and is returned
    Skip,  // the list is passed over and the collection goes on; the first failure is still returned, with
           // every readable entry collected. Running out of the entry bound ends the collection.
};

// Appends the child offsets named by the list at `list_offset` to `out`. Offsets 0 and 0xFFFFFFFF name no list.
Status collect_subkey_offsets(const KeyNode& key, uint32_t list_offset, std::vector<uint32_t>& out);
Status collect_subkey_offsets(const Hive& hive, uint32_t list_offset, ListErrors errors, std::vector<uint32_t>& out);

// A non-owning reference to a callable `bool(const LeafList&)`; the callable must outlive the call it is passed to.
class LeafVisitor {
public:
    template <typename F>
        requires(!std::is_same_v<std::remove_cv_t<F>, LeafVisitor>)
    LeafVisitor(F& visit)  // NOLINT: converts from any callable, like a function reference
        : object_(&visit), call_([](void* object, const LeafList& list) {
              return static_cast<bool>((*static_cast<F*>(object))(list));
          }) {}
    bool operator()(const LeafList& list) const { return call_(object_, list); }

private:
    void* object_;
    bool (*call_)(void*, const LeafList&);
};

// Hands each leaf list reached from the list at `list_offset` to `visit`, in stored order, until `visit` returns
// false; the lists are read and bounded as `collect_subkey_offsets` reads them.
Status visit_leaf_lists(const Hive& hive, uint32_t list_offset, ListErrors errors, LeafVisitor visit);

}  // namespace tarnu
