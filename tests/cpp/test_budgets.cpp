// What bounds one call: the budget and its error, the small offset set of lists and paths, and the stored-length
// test that lets a lookup pass over a name without decoding it, which must never pass over a name that matches.
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "check.h"
#include "tree/budget.h"
#include "tree/name_compare.h"
#include "tree/offset_set.h"
#include "utils/text.h"

using namespace tarnu;

TEST(a_budget_allows_twice_the_image_and_names_the_key) {
    GatherBudget budget(100, 0x20, malformed::Budget::Call::Subkeys);
    CHECK(budget.spend(150).ok() && budget.spend(50).ok());
    CHECK_ERROR(Result<Ok>(budget.spend(1)), "Invalid format: Subkeys of key at offset 0x20 hold more than 200 bytes "
                                             "of names, 2 times the hive's size");
}

TEST(few_offsets_agree_with_a_tree_set_past_the_first_eight) {
    std::mt19937 random(3);
    std::set<uint32_t> expected;
    FewOffsets few;
    for (int i = 0; i < 2000; ++i) {
        const uint32_t offset = 8 * (random() % (i < 40 ? 12 : 600));
        CHECK_EQ(few.insert(offset), expected.insert(offset).second);
    }
}

TEST(a_stored_length_passes_over_no_name_that_matches) {
    // Stored names of a few bytes drawn from those that matter (letters, U+0000, the bytes of byte-order marks),
    // both ways; whenever the name decodes to the wanted one, the length test must have let it through.
    const uint8_t alphabet[] = {'a', 'A', 'b', 0, 0xFF, 0xFE, 0xEF, 0xBB, 0xBF, 0xE9};
    const std::vector<std::string> wanted = {"", "a", "AB", "ab\xc3\xa9", "\xef\xbb\xbf" "a"};
    std::mt19937 random(5);
    size_t matched = 0;
    for (int i = 0; i < 200000; ++i) {
        std::vector<uint8_t> stored(random() % 9);
        for (uint8_t& byte : stored) byte = alphabet[random() % sizeof alphabet];
        const bool compressed = random() % 2 == 0;
        std::string name;
        if (compressed) {
            decode_compressed_name(Bytes(stored), name);
        } else if (!decode_utf16_string(Bytes(stored), 0, name).ok()) {
            continue;
        }
        for (const std::string& text : wanted) {
            const WantedName want(text);
            if (!want.matches(name)) continue;
            ++matched;
            CHECK(want.may_match_stored(Bytes(stored), compressed));
        }
    }
    CHECK(matched > 1000);
}
