// Hive files on disk through the operating system's calls: read and mapped whole, saved over without leaving a
// temporary file, the logs found beside a hive, and the errors of missing files and folders. The same checks hold
// on POSIX systems and on Windows (built with tools/windows-cross.cmake and run under Wine); file names that are
// not ASCII test the way from UTF-8 to the system's own paths.
#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "check.h"
#include "hive/limits.h"
#include "hive/save.h"
#include "image.h"
#include "logs/logs_beside.h"

using namespace tarnu;
using namespace tarnu::test;
namespace fs = std::filesystem;

namespace {

const std::string kName = "h\xC3\xAFve-\xE2\x82\xAC";  // "hïve-€"

std::string utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

fs::path path_of(const std::string& utf8_path) { return fs::path(std::u8string(utf8_path.begin(), utf8_path.end())); }

// A new folder for one test, removed with everything in it at the end.
class Folder {
public:
    Folder() : path_(fs::temp_directory_path() / ("tarnu-files-" + std::to_string(std::random_device()()))) {
        fs::create_directory(path_);
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string path() const { return utf8(path_); }
    // The UTF-8 path of `name` in the folder.
    std::string operator/(const std::string& name) const { return utf8(path_) + "/" + name; }
    void write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream(path_of(*this / name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(path_)) found.insert(utf8(entry.path().filename()));
        return found;
    }

private:
    fs::path path_;
};

std::vector<uint8_t> contents(const std::string& path) {
    std::ifstream file(path_of(path), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> small_hive() {
    ImageBuilder builder;
    const uint32_t root = builder.cell(key_node("ROOT"));
    return builder.image(root);
}

// An error of the operating system: its errno value, and a message "<the system's text> (os error N)" where N is
// the Windows error code on Windows and the errno value elsewhere.
template <typename T>
void check_os_error(const Result<T>& result, int expected_errno, const char* what) {
    if (result.ok()) return report_failure(__FILE__, __LINE__, std::string(what) + " succeeded");
    const HiveError& error = result.error();
#ifdef _WIN32
    const uint32_t code = error.windows_code();
#else
    const int code = expected_errno;
#endif
    const std::string message = error.message();
    const std::string ending = " (os error " + std::to_string(code) + ")";
    const bool shaped = code != 0 && message.size() > ending.size() && message.ends_with(ending) &&
                        message[message.size() - ending.size() - 1] != ' ' && !message.starts_with("Unknown error");
    if (error.kind() != ErrorKind::Io || error.os_code() != expected_errno || !shaped) {
        report_failure(__FILE__, __LINE__, std::string(what) + ": errno " + std::to_string(error.os_code()) +
                                               ", message " + message);
    }
}

}  // namespace

TEST(files_are_read_and_mapped_whole) {
    Folder folder;
    const std::vector<uint8_t> image = small_hive();
    folder.write(kName, image);
    auto read = read_whole_file(folder / kName);
    CHECK(read.ok() && std::vector<uint8_t>(read->begin(), read->end()) == image);
    auto mapped = map_hive_file(folder / kName, kBaseBlockSize);
    CHECK(mapped.ok() && mapped->is_mapped() && std::vector<uint8_t>(mapped->bytes().begin(), mapped->bytes().end()) == image);
    // The head is read through the file: the same bytes as the mapping's first ones.
    std::array<uint8_t, kBaseBlockSize> head{};
    auto with_head = map_hive_file(folder / kName, kBaseBlockSize, head);
    CHECK(with_head.ok() && std::equal(head.begin(), head.end(), image.begin()));
    auto hive = open_hive(folder / kName);
    CHECK(hive.ok() && hive.value()->bytes().size() == image.size());
    // The base block is checked from that copy exactly as build_hive checks an image.
    auto built = build_hive(HiveImage::from_buffer(ByteBuffer(image.begin(), image.end())));
    CHECK(built.ok() && hive.ok() && built.value()->base_block.checksum == hive.value()->base_block.checksum &&
          built.value()->base_block.file_name == hive.value()->base_block.file_name);
    std::vector<uint8_t> damaged = image;
    damaged[kChecksumPosition] ^= 1;
    folder.write("damaged", damaged);
    auto opened = open_hive(folder / "damaged");
    auto from_memory = build_hive(HiveImage::from_buffer(ByteBuffer(damaged.begin(), damaged.end())));
    CHECK(!opened.ok() && !from_memory.ok() && opened.error().message() == from_memory.error().message());
    // Too short to map: refused before anything is mapped, an empty file (which Windows cannot map) included.
    folder.write("short", std::vector<uint8_t>(100, 1));
    folder.write("empty", {});
    CHECK_ERROR(map_hive_file(folder / "short", kBaseBlockSize), "Hive too small: 100 bytes (minimum: 4096 bytes)");
    CHECK_ERROR(map_hive_file(folder / "empty", kBaseBlockSize), "Hive too small: 0 bytes (minimum: 4096 bytes)");
    auto empty = read_whole_file(folder / "empty");
    CHECK(empty.ok() && empty->empty());
}

TEST(missing_files_and_folders_fail_with_the_system_error) {
    Folder folder;
    check_os_error(map_hive_file(folder / "absent", kBaseBlockSize), ENOENT, "mapping a missing file");
    check_os_error(read_whole_file(folder / "absent"), ENOENT, "reading a missing file");
    check_os_error(read_whole_file(folder / "absent/inner"), ENOENT, "reading in a missing folder");
    check_os_error(map_hive_file(folder.path(), kBaseBlockSize), EISDIR, "mapping a folder");
    check_os_error(read_whole_file(folder.path()), EISDIR, "reading a folder");
    CHECK_ERROR(read_whole_file(std::string("a\0b", 3)), "path contains a NUL character");
}

TEST(save_replaces_the_target_whole) {
    Folder folder;
    const std::vector<uint8_t> image = small_hive();
    const SharedHive hive = hive_of(image);
    if (!hive) return;
    CHECK(save_hive(*hive, folder / kName).ok());
    CHECK(contents(folder / kName) == image);
    folder.write("longer.hiv", std::vector<uint8_t>(3 * image.size(), 'x'));
    CHECK(save_hive(*hive, folder / "longer.hiv").ok());
    CHECK(contents(folder / "longer.hiv") == image);
    CHECK(folder.names() == std::set<std::string>({kName, "longer.hiv"}));
}

TEST(failed_saves_leave_the_folder_as_it_was) {
    Folder folder;
    const SharedHive hive = hive_of(small_hive());
    if (!hive) return;
    fs::create_directory(path_of(folder / "inner"));
    check_os_error(save_hive(*hive, folder / "absent/out.hiv"), ENOENT, "saving into a missing folder");
    check_os_error(save_hive(*hive, folder / "inner"), EISDIR, "saving over a folder");
    CHECK(folder.names() == std::set<std::string>({"inner"}));
    CHECK(fs::is_empty(path_of(folder / "inner")));
}

TEST(logs_beside_a_hive_in_any_letter_case) {
    Folder folder;
    folder.write(kName, small_hive());
    folder.write(kName + ".log1", {1});
    folder.write("other.LOG2", {2});
    fs::create_directory(path_of(folder / (kName + ".LOG2")));  // a folder is no log
    const LogsBeside logs = logs_beside(folder / kName);
    CHECK(logs.log1 == folder / (kName + ".log1"));
    CHECK(!logs.log2);
    CHECK(logs_beside(folder / "absent/hive").empty());
}
