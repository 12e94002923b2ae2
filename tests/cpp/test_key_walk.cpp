// KeyWalk: next() and advance() hand out the same keys with the same paths; a key reached twice is handed out once.
#include <string>
#include <utility>
#include <vector>

#include "check.h"
#include "image.h"
#include "tree/nodes.h"
#include "tree/walk.h"

using namespace tarnu;
using namespace tarnu::test;

namespace {

using Steps = std::vector<std::pair<std::string, uint32_t>>;

// root -> {a -> {c}, b -> {a, c}, a}: `a` is listed twice under the root and both of b's children were reached
// before.
struct Tree {
    SharedHive hive;
    uint32_t root, a, b, c;
};

Tree tree() {
    ImageBuilder builder;
    Tree t{};
    t.c = builder.cell(key_node("c"));
    t.a = builder.cell(key_node("a").u32(20, 1).u32(28, builder.cell(subkey_list("li", {t.c}))));
    t.b = builder.cell(key_node("b").u32(20, 2).u32(28, builder.cell(subkey_list("li", {t.a, t.c}))));
    const uint32_t root_list = builder.cell(subkey_list("li", {t.a, t.b, t.a}));
    t.root = builder.cell(key_node("root").u32(20, 3).u32(28, root_list));
    t.hive = builder.hive(t.root);
    return t;
}

}  // namespace

TEST(next_and_advance_agree) {
    Tree t = tree();
    auto root = parse_key_node(*t.hive, t.root);
    if (!root.ok()) return CHECK(root.ok());
    Steps by_next, by_advance;
    KeyWalk first(*t.hive, *root, WalkErrors::Raise);
    for (auto step = first.next(); step.ok() && step.value(); step = first.next()) {
        by_next.emplace_back(step.value()->path, step.value()->node.offset);
    }
    KeyWalk second(*t.hive, *root, WalkErrors::Raise);
    for (auto node = second.advance(); node.ok() && node.value() != nullptr; node = second.advance()) {
        by_advance.emplace_back(second.path(), node.value()->offset);
    }
    CHECK(by_next == by_advance);
    CHECK(by_next == Steps({{"", t.root}, {"a", t.a}, {"a\\c", t.c}, {"b", t.b}}));
}

TEST(a_node_moved_away_is_read_again) {
    // The binding moves each node out of the walk; the next step reads into the emptied node.
    Tree t = tree();
    auto root = parse_key_node(*t.hive, t.root);
    if (!root.ok()) return CHECK(root.ok());
    KeyWalk walk(*t.hive, *root, WalkErrors::Raise);
    std::vector<std::string> names;
    for (auto node = walk.advance(); node.ok() && node.value() != nullptr; node = walk.advance()) {
        KeyNode taken = std::move(*node.value());
        names.push_back(taken.name);
    }
    CHECK(names == std::vector<std::string>({"root", "a", "c", "b"}));
}
