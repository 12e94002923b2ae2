// The replay over a primary and logs held in memory: how each given log is recognised and reported.
#include "check.h"
#include "image.h"
#include "logs/log_base_block.h"
#include "logs/replay.h"
#include "platform/system_error.h"

using namespace tarnu;
using namespace tarnu::test;

namespace {

ByteBuffer buffer(const std::vector<uint8_t>& bytes) { return ByteBuffer(bytes.begin(), bytes.end()); }

ByteBuffer primary() {
    ImageBuilder builder;
    builder.cell(key_node("root"));
    return buffer(builder.image());
}

}  // namespace

TEST(logs_are_reported_by_slot_and_kind) {
    auto replayed = replay_logs(primary(), std::nullopt, GivenLog{"second", platform::os_error(2)});
    if (!replayed.ok()) return CHECK(replayed.ok());
    const ReplayReport& report = replayed->report;
    if (report.logs.size() != 1) return CHECK_EQ(report.logs.size(), 1u);
    CHECK_EQ(report.logs[0].path, std::string("second"));
    CHECK(report.logs[0].kind == "unreadable" && !report.logs[0].used);
    CHECK_EQ(report.logs[0].reason, std::string("No such file or directory (os error 2)"));

    struct Case {
        std::vector<uint8_t> log;
        std::string kind;
        std::string reason;
    };
    const std::vector<uint8_t> new_header = log_base_block(kNewLogFileType, 1, 0x1000);
    std::vector<uint8_t> primary_copy = base_block(0x1000);
    primary_copy.resize(512);
    const Case cases[] = {
        {{}, "empty", "no bytes"},
        {{'H', 'v', 'L', 'E'}, "blocks", "too small: 4 bytes"},
        {{'x'}, "not a log", "it begins with neither \"HvLE\" nor \"regf\""},
        {{'r', 'e', 'g', 'f'}, "not a log", "too small: 4 bytes"},
        {primary_copy, "not a log", "a \"regf\" file of type 0, not a log"},
        // The base_block helper writes clustering factor 0: the primary cannot be trusted, so it is dirty.
        {new_header, "new", ""},
        {log_base_block(kOldLogFileType, 1, 0x1000), "old", "unusable dirty vector: no \"DIRT\" at 0x200"},
    };
    for (const Case& c : cases) {
        auto result = replay_logs(primary(), GivenLog{"first", buffer(c.log)}, std::nullopt);
        if (!result.ok()) {
            CHECK(result.ok());
            continue;
        }
        const LogReport& log = result->report.logs.at(0);
        CHECK_EQ(log.kind, c.kind);
        CHECK_EQ(log.reason, c.reason);
    }
}
