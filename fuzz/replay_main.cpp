// The `main` of the fuzz targets when they are built without libFuzzer: runs the target's
// `LLVMFuzzerTestOneInput` once over every file named on the command line and every file in each folder named
// (not below it), in name order, so that the targets build with any compiler and replay their corpus in tests
// and CI. Arguments that begin with '-' are libFuzzer flags and are passed over. Exits non-zero when an argument
// cannot be read or when no input was found at all; a fault in the target shows as a crash or a sanitizer report.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

// The inputs an argument names: the file itself, or the regular files of a folder in name order.
bool inputs_of(const fs::path& argument, std::vector<fs::path>& inputs) {
    std::error_code error;
    if (!fs::is_directory(argument, error)) {
        if (!fs::is_regular_file(argument, error)) return false;
        inputs.push_back(argument);
        return true;
    }
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(argument, error)) {
        if (entry.is_regular_file(error)) files.push_back(entry.path());
    }
    if (error) return false;
    std::sort(files.begin(), files.end());
    inputs.insert(inputs.end(), files.begin(), files.end());
    return true;
}

bool replay(const fs::path& input) {
    std::ifstream file(input, std::ios::binary);
    if (!file) return false;
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (file.bad()) return false;
    // A copy of exactly the input's length, so that a read past its end is caught by the sanitizers.
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(data.data(), data.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-') continue;
        if (!inputs_of(argv[i], inputs)) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[i]);
            return 2;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "%s: no inputs (usage: %s FILE_OR_FOLDER...)\n", argv[0], argv[0]);
        return 2;
    }
    for (const fs::path& input : inputs) {
        if (!replay(input)) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], input.c_str());
            return 2;
        }
    }
    std::printf("%s: replayed %zu inputs\n", argv[0], inputs.size());
    return 0;
}
