// libFuzzer target for carving: the input is taken as an image and carved twice, as a disk and as memory, into
// outputs kept in memory. What the carver promises is checked: items come in image order, a hive or log is the
// image's own bytes, outputs stay within the bytes the carver may make, and every fragment is written as a hive
// that opens, whose hive bins list without error and whose cells walk.
//
//   cmake -S . -B build/fuzz -G Ninja -DTARNU_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ && cmake --build build/fuzz
//   build/fuzz/fuzz_carve -max_total_time=300 build/fuzz/fuzz/corpus/fuzz_carve
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hive/cell.h"
#include "hive/cell_walk.h"
#include "hive/hive.h"
#include "hive/limits.h"
#include "recovery/carve_image.h"
#include "seen.h"

namespace {

using namespace tarnu;

void check(bool promise) {
    if (!promise) std::abort();
}

// An output kept as the writes made to it, so that a fragment stated far into a hive costs no memory for its gaps.
struct Kept {
    std::map<uint64_t, std::vector<uint8_t>> writes;
    uint64_t length = 0;
    bool finished = false;

    uint64_t bytes_written() const {
        uint64_t total = 0;
        for (const auto& write : writes) total += write.second.size();
        return total;
    }
    ByteBuffer image() const {
        ByteBuffer bytes(length, 0);
        for (const auto& [at, data] : writes) {
            if (at < length) std::memcpy(bytes.data() + at, data.data(), std::min<uint64_t>(data.size(), length - at));
        }
        return bytes;
    }
};

class KeptOutput : public CarveOutput {
public:
    explicit KeptOutput(Kept& kept) : kept_(kept) {}
    Status write(uint64_t position, Bytes data) override {
        check(!kept_.finished);
        kept_.writes[position].assign(data.begin(), data.end());
        return Ok{};
    }
    Status finish(uint64_t length) override {
        kept_.length = length;
        kept_.finished = true;
        return Ok{};
    }

private:
    Kept& kept_;
};

class KeptSink : public CarveSink {
public:
    Result<std::unique_ptr<CarveOutput>> open(const std::string& name) override {
        check(outputs.find(name) == outputs.end());
        return std::unique_ptr<CarveOutput>(new KeptOutput(outputs[name]));
    }
    Status found(const CarvedItem& item) override {
        check(items.empty() || items.back().offset < item.offset);
        items.push_back(item);
        return Ok{};
    }

    std::map<std::string, Kept> outputs;
    std::vector<CarvedItem> items;
};

// Fragments made this large or larger are not opened: their gaps would be filled in memory here.
constexpr uint64_t kLargestOpened = uint64_t{1} << 20;

void check_fragment(const Kept& kept) {
    if (kept.length >= kLargestOpened) return;
    auto hive = build_hive(HiveImage::from_buffer(kept.image()));
    check(hive.ok());
    check(hbins(*hive.value()).ok());
    CellWalk walk(*hive.value());
    while (walk.next()) {
    }
}

void carve(Bytes image, CarveMode mode) {
    MemorySource source(image);
    KeptSink sink;
    auto summary = carve_image(source, sink, mode);
    check(summary.ok() && summary->image_size == image.size() && summary->items == sink.items.size());
    uint64_t made = 0;
    for (const CarvedItem& item : sink.items) {
        check(item.offset + item.size <= image.size());
        if (!item.written) continue;
        const Kept& kept = sink.outputs.at(item.name);
        check(kept.finished);
        if (item.kind == CarvedKind::Fragment) {
            made += kept.bytes_written();
            check_fragment(kept);
        } else {
            check(kept.length == item.size && kept.image() == ByteBuffer(image.begin() + item.offset,
                                                                         image.begin() + item.offset + item.size));
        }
    }
    check(made <= kCarveMadeAllowance + (kCarveMadePerImageByte + 2) * image.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Bytes image(data, size);
    carve(image, CarveMode::Disk);
    carve(image, CarveMode::Memory);
    (void)guess_carve_mode(image);
    return 0;
}
