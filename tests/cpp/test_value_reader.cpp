// ValueReader: the two steps of reading a key's values, the views they give, a reader used for key after key, and
// the bound on the data one key's values gather under each policy.
#include "check.h"
#include "hive/limits.h"
#include "image.h"
#include "records/big_data.h"
#include "tree/key.h"
#include "tree/nodes.h"
#include "tree/value_reader.h"
#include "utils/format.h"

using namespace tarnu;
using namespace tarnu::test;

namespace {

std::vector<uint8_t> pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

// A key node named `name` over a value list of `values` (value-key offsets).
uint32_t key_with_values(ImageBuilder& builder, const char* name, const std::vector<uint32_t>& values) {
    Fields list;
    for (size_t i = 0; i < values.size(); ++i) list.u32(4 * i, values[i]);
    const uint32_t at = builder.cell(list);
    return builder.cell(key_node(name).u32(36, static_cast<uint32_t>(values.size())).u32(40, at));
}

std::vector<uint8_t> bytes_of(Bytes view) { return std::vector<uint8_t>(view.begin(), view.end()); }

}  // namespace

TEST(views_agree_with_read_values) {
    ImageBuilder builder;
    const std::vector<uint8_t> cell = pattern(100, 1), first = pattern(kBigDataSegmentSize + 4, 2), second = pattern(50, 3);
    Fields segments = Fields().u32(0, builder.cell(first)).u32(4, builder.cell(second));
    const uint32_t record = builder.cell(big_data(2, builder.cell(segments)));
    const uint32_t values[] = {
        builder.cell(value_key("inline", 0x80000003, 0x00332211)),
        builder.cell(value_key("cell", 100, builder.cell(cell))),
        builder.cell(value_key("big", kBigDataSegmentSize + 50, record)),
        builder.cell(value_key("far", 100, 0x7FFFFFF0)),
        builder.cell(value_key("", 0, kNoCell)),
    };
    const uint32_t key_at = key_with_values(builder, "k", {values, values + 5});
    SharedHive hive = builder.hive(key_at);
    auto key = parse_key_node(*hive, key_at);
    if (!key.ok()) return CHECK(key.ok());

    ValueReader reader;
    CHECK(reader.read_list(*hive, *key).ok());
    CHECK_EQ(reader.size(), 5u);
    CHECK_EQ(reader.declared_data_size(), 3u + 100 + kBigDataSegmentSize + 50 + 100);
    CHECK(reader.read_data(*hive, *key, ValueErrors::Raise).ok());
    auto copied = read_values(*hive, *key);
    if (!copied.ok()) return CHECK(copied.ok());
    // Big data left in pieces: views of its segments in the image, cut at the declared size.
    const Bytes image = hive->bytes();
    auto in_image = [&](Bytes view) { return view.data() >= image.data() && view.data() < image.data() + image.size(); };
    for (size_t i = 0; i < 5; ++i) {
        std::vector<uint8_t> joined;
        for (const Bytes piece : reader.pieces(i)) {
            CHECK(i == 0 || in_image(piece));
            joined.insert(joined.end(), piece.begin(), piece.end());
        }
        CHECK_EQ(reader.key(i).name, copied->at(i).key.name);
        CHECK(joined == bytes_of(copied->at(i).data.view()));
        CHECK_EQ(reader.data_size(i), joined.size());
        CHECK(reader.readable(i) == (i != 3));
    }
    CHECK_EQ(reader.pieces(2).size(), 2u);
    CHECK_EQ(reader.pieces(2)[0].size(), kBigDataSegmentSize);
    CHECK_EQ(reader.pieces(2)[1].size(), 50u);
    CHECK(reader.pieces(3).empty() && reader.pieces(4).empty());
    // Taken out, data in one cell is a view of the image itself; inline and joined data are the value's own.
    const KeyValue inline_value = reader.take(0), cell_value = reader.take(1), big_value = reader.take(2);
    CHECK(bytes_of(inline_value.data.view()) == std::vector<uint8_t>({0x11, 0x22, 0x33}));
    CHECK(bytes_of(cell_value.data.view()) == cell);
    CHECK_EQ(big_value.data.view().size(), kBigDataSegmentSize + 50);
    CHECK(!in_image(inline_value.data.view()) && in_image(cell_value.data.view()) && !in_image(big_value.data.view()));
    CHECK(copied->at(3).data.view().empty() && !copied->at(3).readable && copied->at(4).data.view().empty());
}

TEST(a_reader_reused_for_other_keys) {
    ImageBuilder builder;
    const uint32_t a = builder.cell(value_key("a", 0x80000001, 0x41));
    const uint32_t long_name = builder.cell(value_key("a name longer than sixteen bytes", 0x80000002, 0x4242));
    const uint32_t c = builder.cell(value_key("c", 0x80000001, 0x43));
    const uint32_t many = key_with_values(builder, "many", {long_name, a, c});
    const uint32_t one = key_with_values(builder, "one", {c});
    const uint32_t none = key_with_values(builder, "none", {});
    SharedHive hive = builder.hive(many);
    ValueReader reader;
    auto read = [&](uint32_t at) {
        std::vector<std::string> seen;
        auto key = parse_key_node(*hive, at);
        if (!key.ok() || !reader.read_list(*hive, *key).ok() ||
            !reader.read_data(*hive, *key, ValueErrors::Raise).ok()) {
            return seen;
        }
        for (size_t i = 0; i < reader.size(); ++i) {
            const KeyValue value = reader.take(i);
            seen.push_back(value.key.name + "=" + std::string(value.data.view().begin(), value.data.view().end()));
        }
        return seen;
    };
    using Seen = std::vector<std::string>;
    CHECK(read(many) == Seen({"a name longer than sixteen bytes=BB", "a=A", "c=C"}));
    CHECK(read(one) == Seen({"c=C"}));
    CHECK(read(none).empty());
    CHECK(read(many) == Seen({"a name longer than sixteen bytes=BB", "a=A", "c=C"}));
}

TEST(the_bound_on_gathered_data) {
    // One data cell named over and over: more than twice the image fails the data step, not the list, or under
    // ValueErrors::Note cuts the list before the value that passes the bound, with the same text noted.
    ImageBuilder builder;
    const uint32_t data = builder.cell(pattern(kMaxSingleCellData, 4));
    const uint32_t value = builder.cell(value_key("d", kMaxSingleCellData, data));
    const uint32_t far = builder.cell(value_key("far", 100, 0x7FFFFFF0));
    std::vector<uint32_t> repeated(8, value);
    repeated.insert(repeated.begin(), far);
    const uint32_t key_at = key_with_values(builder, "k", repeated);
    SharedHive hive = builder.hive(key_at);
    auto key = parse_key_node(*hive, key_at);
    if (!key.ok()) return CHECK(key.ok());
    ValueReader reader;
    CHECK(reader.read_list(*hive, *key).ok());
    const uint64_t limit = 2 * hive->bytes().size();
    const std::string message = "Invalid format: Values of key at offset " + hex(key_at) + " hold more than " +
                                dec(limit) + " bytes of data, 2 times the hive's size";
    CHECK_ERROR(reader.read_data(*hive, *key, ValueErrors::Raise), message);
    CHECK(reader.read_data(*hive, *key, ValueErrors::Note).ok());
    const size_t kept = limit / kMaxSingleCellData + 1;  // the unreadable value, then those within the bound
    CHECK_EQ(reader.size(), kept);
    CHECK(!reader.readable(0) && reader.readable(1));
    CHECK_EQ(reader.problems().size(), 2u);
    CHECK(reader.problems().front().starts_with("value 'far': Invalid offset 0x7ffffff0 (hive size: "));
    CHECK_EQ(reader.problems().back(), message);
}
