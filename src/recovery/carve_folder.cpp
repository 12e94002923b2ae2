#include "recovery/carve_folder.h"

#include <algorithm>
#include <string_view>

#include "utils/format.h"

namespace tarnu {
namespace {

class FileOutput : public CarveOutput {
public:
    explicit FileOutput(platform::OutputFile file) : file_(std::move(file)) {}
    Status write(uint64_t position, Bytes data) override {
        end_ = std::max(end_, position + data.size());
        return file_.write_at(position, data);
    }
    // The length is set only where the writes did not reach it (a fragment whose last bin was cut short): a hive or
    // log written as it lies already has it.
    Status finish(uint64_t length) override {
        if (length != end_) TARNU_CHECK(file_.set_length(length));
        return file_.close();
    }

private:
    platform::OutputFile file_;
    uint64_t end_ = 0;  // of the bytes written
};

std::string json_optional(const std::optional<uint64_t>& number) { return number ? dec(*number) : "null"; }

std::string json_bool(bool value) { return value ? "true" : "false"; }

Bytes bytes_of(const std::string& text) { return Bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size()); }

}  // namespace

Result<FileSource> FileSource::open(const std::string& path) {
    TARNU_TRY(platform::InputFile file, platform::InputFile::open(path));
    return FileSource(std::move(file));
}

Result<std::unique_ptr<FolderSink>> FolderSink::create(const std::string& folder) {
    TARNU_TRY(platform::OutputFile index, platform::OutputFile::create(carve_output_path(folder, kCarveIndexName)));
    return std::unique_ptr<FolderSink>(new FolderSink(folder, std::move(index)));
}

Result<std::unique_ptr<CarveOutput>> FolderSink::open(const std::string& name) {
    TARNU_TRY(platform::OutputFile file, platform::OutputFile::create(carve_output_path(folder_, name)));
    return std::unique_ptr<CarveOutput>(new FileOutput(std::move(file)));
}

Status FolderSink::found(const CarvedItem& item) {
    const std::string line = carve_index_line(item);
    TARNU_CHECK(index_->write_at(index_size_, bytes_of(line)));
    index_size_ += line.size();
    return Ok{};
}

Status FolderSink::close() {
    if (!index_) return Ok{};
    Status closed = index_->close();
    index_.reset();
    return closed;
}

std::string carve_output_path(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const bool separated = std::string_view(platform::kFolderSeparators).find(folder.back()) != std::string_view::npos;
    return separated ? folder + name : folder + "/" + name;
}

std::string carve_index_line(const CarvedItem& item) {
    std::string line = "{\"kind\":\"" + std::string(carved_kind_name(item.kind)) + "\"";
    line += ",\"offset\":" + dec(item.offset) + ",\"size\":" + dec(item.size);
    line += ",\"stated_size\":" + dec(item.stated_size) + ",\"cut_short\":" + json_bool(item.cut_short);
    line += ",\"checksum_ok\":" + (item.checksum_ok ? json_bool(*item.checksum_ok) : std::string("null"));
    const std::optional<uint64_t> bins_offset =
        item.bins_offset ? std::optional<uint64_t>(*item.bins_offset) : std::nullopt;
    line += ",\"bins_offset\":" + json_optional(bins_offset);
    // Names are made by the carver from a kind and a number: nothing in them needs escaping.
    line += ",\"file\":" + (item.written ? "\"" + item.name + "\"" : std::string("null")) + "}\n";
    return line;
}

}  // namespace tarnu
