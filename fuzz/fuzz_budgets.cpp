// libFuzzer target for what one call costs: the input, as a hive whose base block is made valid, is read through
// each call of the key API, the exports and recovery, and the bytes each call holds at once are counted by this
// program's own operator new and delete. A call that holds more than kBytesPerImageByte times the image plus
// kAllowance aborts, so that an input making one call gather far more than the hive holds (a list naming one long
// name over and over, keys sharing one large value) is reported as a crash and kept, rather than found by hand.
// What the core allocates with malloc (the walk's bitmaps) is not counted; those are sized by the image.
//
//   build/fuzz/fuzz_budgets -max_total_time=300 build/fuzz/fuzz/corpus/fuzz_budgets
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "fuzz_image.h"
#include "hive/hive.h"
#include "recovery/recovery.h"
#include "rows/exporter.h"
#include "seen.h"
#include "tree/key.h"
#include "tree/key_path.h"
#include "tree/lookup.h"
#include "tree/nodes.h"
#include "tree/value_reader.h"
#include "tree/walk.h"

namespace {

// Every real call holds a few times the image at most (its data, names, and per-entry records of a few dozen bytes
// for entries of four bytes or more); the amplifications this target looks for hold thousands of times.
constexpr size_t kBytesPerImageByte = 64;
constexpr size_t kAllowance = size_t{256} << 10;
// Keys read one by one, so that an input of many keys stays quick.
constexpr size_t kKeysRead = 256;

size_t live_bytes = 0;
size_t peak_bytes = 0;

// The size of each block sits before it, in a header that keeps the alignment malloc gives.
constexpr size_t kHeader = alignof(std::max_align_t);

void* counted_new(size_t size) {
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (block == nullptr) throw std::bad_alloc();
    *reinterpret_cast<size_t*>(block) = size;
    live_bytes += size;
    if (live_bytes > peak_bytes) peak_bytes = live_bytes;
    return block + kHeader;
}

void counted_delete(void* pointer) noexcept {
    if (pointer == nullptr) return;
    unsigned char* block = static_cast<unsigned char*>(pointer) - kHeader;
    live_bytes -= *reinterpret_cast<size_t*>(block);
    std::free(block);
}

using namespace tarnu;

// Runs `call` and aborts when the bytes it holds at once pass the bound for an image of `image` bytes.
template <typename Call>
void bounded(const char* what, size_t image, Call&& call) {
    const size_t before = live_bytes;
    peak_bytes = before;
    call();
    const size_t held = peak_bytes - before;
    if (held > kBytesPerImageByte * image + kAllowance) {
        std::fprintf(stderr, "%s held %zu bytes at once, from an image of %zu bytes\n", what, held, image);
        std::abort();
    }
}

void read_key(const Hive& hive, const KeyNode& node, size_t image) {
    bounded("read_subkeys", image, [&] { (void)fuzz::seen(read_subkeys(hive, node)); });
    bounded("read_values", image, [&] { (void)fuzz::seen(read_values(hive, node)); });
    bounded("find_value", image, [&] { (void)fuzz::seen(find_value(hive, node, "missing")); });
    bounded("find_key", image, [&] { (void)fuzz::seen(find_key(hive, node, node.name + "\\" + node.name)); });
    bounded("key_path", image, [&] { (void)fuzz::seen(key_path(hive, node)); });
}

void export_all(const Hive& hive, const KeyNode& root, RowSources sources, size_t image) {
    ExportOptions options;
    options.format = ExportFormat::JsonLines;
    options.sources = sources;
    Exporter exporter(hive, root, std::string(), options);
    for (bool more = true; more;) {
        bounded("Exporter::fill", image, [&] {
            std::string chunk;
            more = exporter.fill(chunk, 4096);
            (void)exporter.take_problems();
        });
    }
}

}  // namespace

// Every form that pairs with the plain delete is replaced, the forms libFuzzer uses itself (nothrow) included, so
// that no block reaches a delete other than the one its new pairs with.
void* operator new(size_t size) { return counted_new(size); }
void* operator new[](size_t size) { return counted_new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return counted_new(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t& nothrow) noexcept { return operator new(size, nothrow); }
void operator delete(void* pointer) noexcept { counted_delete(pointer); }
void operator delete[](void* pointer) noexcept { counted_delete(pointer); }
void operator delete(void* pointer, size_t) noexcept { counted_delete(pointer); }
void operator delete[](void* pointer, size_t) noexcept { counted_delete(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { counted_delete(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { counted_delete(pointer); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto hive = build_hive(HiveImage::from_buffer(fuzz::image_with_valid_header(data, size)));
    if (!fuzz::seen(hive)) return 0;
    const Hive& opened = *hive.value();
    const size_t image = opened.bytes().size();
    auto root = parse_key_node(opened, opened.base_block.root_cell_offset);
    if (!fuzz::seen(root)) return 0;
    KeyWalk walk(opened, root.value(), WalkErrors::Skip);
    size_t keys = 0;
    for (auto step = walk.next(); fuzz::seen(step) && step.value() && keys < kKeysRead; step = walk.next(), ++keys) {
        read_key(opened, step.value()->node, image);
        bounded("find_key_from_root", image, [&] { (void)fuzz::seen(find_key_from_root(opened, step.value()->path)); });
    }
    export_all(opened, root.value(), RowSources::Live, image);
    export_all(opened, root.value(), RowSources::Recovered, image);
    bounded("recover_deleted", image, [&] {
        const Recovery recovery = recover_deleted(opened);
        for (const RecoveredKey& key : recovery.keys) (void)recovered_key_path(opened, recovery, key);
    });
    return 0;
}
