// The core alone: one walk of every key and value of a hive through the key API (key and value names decoded,
// each value's data read into a buffer of the caller), against reading the image's bytes once from memory (a copy
// into a buffer of the same size). Both work on the image in memory, read from the file beforehand, and the best
// of several rounds of each counts, in CPU time of the thread (so that other processes on a busy machine count
// less): once with the image pushed out of the processor caches before every round ("walk", "copy": the image
// read from memory), once with it left in them ("walk_warm", "copy_warm"). Prints one JSON line;
// benchmarks/suite.py runs it and prints the ratios.
//
//   build/dev/core_walk HIVE [ROUNDS]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "hive/file_io.h"
#include "hive/hive.h"
#include "records/value_key.h"
#include "tree/nodes.h"
#include "tree/value_reader.h"
#include "tree/walk.h"

namespace {

using namespace tarnu;

struct Totals {
    size_t keys = 0, values = 0, name_bytes = 0, data_bytes = 0;
};

// Every key below the root, depth-first, with its values' names and data; what cannot be read is passed over.
Totals walk_all(const Hive& hive) {
    Totals totals;
    auto root = parse_key_node(hive, hive.base_block.root_cell_offset);
    if (!root.ok()) return totals;
    KeyWalk walk(hive, std::move(root).value(), WalkErrors::Skip);
    ValueReader reader;
    std::vector<uint8_t> data;
    for (auto node = walk.advance(); node.ok() && node.value() != nullptr; node = walk.advance()) {
        const KeyNode& key = *node.value();
        ++totals.keys;
        totals.name_bytes += key.name.size();
        if (!reader.read_list(hive, key).ok() || !reader.read_data(hive, key, ValueErrors::Raise).ok()) continue;
        for (size_t i = 0; i < reader.size(); ++i) {
            ++totals.values;
            totals.name_bytes += reader.key(i).name.size();
            data.clear();
            for (const Bytes piece : reader.pieces(i)) data.insert(data.end(), piece.begin(), piece.end());
            totals.data_bytes += data.size();
        }
    }
    return totals;
}

double thread_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Pushes the image out of the processor caches, so that each round reads it from memory.
void evict_caches() {
    static std::vector<uint8_t> other(std::size_t{64} << 20, 1);
    for (size_t i = 0; i < other.size(); i += 64) other[i] = static_cast<uint8_t>(other[i] + 1);
    asm volatile("" : : "r"(other.data()) : "memory");
}

template <typename F>
double best_seconds(int rounds, bool from_memory, F&& work) {
    double best = 1e30;
    for (int i = 0; i < rounds; ++i) {
        if (from_memory) evict_caches();
        const double start = thread_seconds();
        work();
        best = std::min(best, thread_seconds() - start);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s HIVE [ROUNDS]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    auto buffer = read_whole_file(argv[1]);
    if (!buffer.ok()) {
        std::fprintf(stderr, "%s\n", buffer.error().message().c_str());
        return 1;
    }
    auto hive = build_hive(HiveImage::from_buffer(std::move(buffer).value()));
    if (!hive.ok()) {
        std::fprintf(stderr, "%s\n", hive.error().message().c_str());
        return 1;
    }
    const Bytes image = hive.value()->bytes();
    std::vector<uint8_t> copy(image.size(), 1);
    auto copy_image = [&] {
        std::memcpy(copy.data(), image.data(), image.size());
        asm volatile("" : : "r"(copy.data()) : "memory");
    };
    Totals totals;
    auto walk = [&] { totals = walk_all(*hive.value()); };
    // From memory: the image is pushed out of the caches before every round, as it is when a hive is first read.
    // Warm: the image stays in the caches from round to round, which favours the copy's sequential reads most.
    const double copy_seconds = best_seconds(rounds, true, copy_image);
    const double walk_seconds = best_seconds(rounds, true, walk);
    const double copy_warm = best_seconds(rounds, false, copy_image);
    const double walk_warm = best_seconds(rounds, false, walk);
    std::printf("{\"keys\": %zu, \"values\": %zu, \"name_bytes\": %zu, \"data_bytes\": %zu, \"image_bytes\": %zu, "
                "\"walk\": %.9f, \"copy\": %.9f, \"walk_warm\": %.9f, \"copy_warm\": %.9f}\n",
                totals.keys, totals.values, totals.name_bytes, totals.data_bytes, image.size(), walk_seconds,
                copy_seconds, walk_warm, copy_warm);
    return 0;
}
