// libFuzzer target for the exporters: the input is taken as a hive image and written whole in every export
// format (JSON Lines in hex and base64, CSV, bodyfile, timeline CSV, .reg, and the count alone), in small chunks,
// once going on past what cannot be read and once stopping at the first problem, and with the rows of recovery
// after the live ones in JSON Lines and spreadsheet CSV; and as Arrow batches under a small budget (fuzz/arrow_check.h).
// What the exporters promise is checked as well: text formats are well-formed UTF-8, a .reg file is whole UTF-16
// units, the counts agree between the runs, and the Arrow batches hold as many rows as the export has keys at
// least.
//
//   cmake -S . -B build/fuzz -G Ninja -DTARNU_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ && cmake --build build/fuzz
//   build/fuzz/fuzz_export -max_total_time=300 build/fuzz/fuzz/corpus/fuzz_export
#include <cstddef>
#include <cstdlib>
#include <cstdint>
#include <string>

#include "arrow_check.h"
#include "fuzz_image.h"
#include "hive/hive.h"
#include "rows/exporter.h"
#include "seen.h"
#include "tree/nodes.h"
#include "utils/text.h"

namespace {

using namespace tarnu;

// Small chunks, so that the fuzzer reaches the chunk boundaries too.
constexpr size_t kChunk = 4096;

void check(bool promise) {
    if (!promise) std::abort();
}

// Exports the whole hive; returns the keys walked.
size_t export_all(const Hive& hive, const KeyNode& root, const ExportOptions& options) {
    Exporter exporter(hive, root, std::string(), options);
    std::string chunk;
    for (bool more = true; more;) {
        chunk.clear();
        more = exporter.fill(chunk, kChunk);
        if (options.format == ExportFormat::Reg) {
            check(chunk.size() % 2 == 0);
        } else {
            check(utf8_lossy(Bytes(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size())) == chunk);
        }
    }
    (void)exporter.take_problems();
    return exporter.keys();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto hive = build_hive(HiveImage::from_buffer(fuzz::image_with_valid_header(data, size)));
    if (!fuzz::seen(hive)) return 0;
    auto root = parse_key_node(*hive.value(), hive.value()->base_block.root_cell_offset);
    if (!fuzz::seen(root)) return 0;

    ExportOptions options;
    options.hive_name = "HIVE|\"x\"";
    options.reg_prefix = "HKEY_LOCAL_MACHINE\\FUZZ";
    options.format = ExportFormat::Count;
    const size_t keys = export_all(*hive.value(), root.value(), options);
    for (ExportFormat format : {ExportFormat::JsonLines, ExportFormat::Csv, ExportFormat::Bodyfile,
                                ExportFormat::TimelineCsv, ExportFormat::Reg}) {
        options.format = format;
        options.binary = data[0] % 2 ? BinaryText::Base64 : BinaryText::Hex;
        check(export_all(*hive.value(), root.value(), options) == keys);
    }
    options.sources = RowSources::LiveThenRecovered;
    for (ExportFormat format : {ExportFormat::JsonLines, ExportFormat::Csv}) {
        options.format = format;
        options.spreadsheet = format == ExportFormat::Csv;
        check(export_all(*hive.value(), root.value(), options) == keys);
    }
    // A small budget, so that batches end by bytes as well as by rows.
    const HiveOpener open = [&hive] { return Result<SharedHive>(hive.value()); };
    check(fuzz::arrow_batches(open, RowSources::Live, 2048) >= keys);
    (void)fuzz::arrow_batches(open, RowSources::LiveThenRecovered, 2048);
    options.sources = RowSources::Live;
    options.spreadsheet = false;
    options.format = ExportFormat::JsonLines;
    options.stop_at_first_problem = true;
    check(export_all(*hive.value(), root.value(), options) <= keys);
    return 0;
}
