// Carving a file into a folder: the image read through the platform layer, each item's output a new file in the
// folder under the name the carver makes, and the index `carve.jsonl`, one JSON object per item as it is found:
//   {"kind":"hive","offset":512,"size":8192,"stated_size":4096,"cut_short":false,"checksum_ok":true,
//    "bins_offset":0,"file":"hive-0x200.regf"}
// with null for a checksum or bins offset the item has not, and for the file of an item not written. Every file is
// created new: a name that exists already fails the carve, so nothing is ever overwritten.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/files.h"
#include "platform/output_file.h"
#include "recovery/carve_image.h"

namespace tarnu {

// The name of the index in the output folder.
inline constexpr char kCarveIndexName[] = "carve.jsonl";

// The image file, read front to back.
class FileSource : public ImageSource {
public:
    static Result<FileSource> open(const std::string& path);
    Result<size_t> read(uint8_t* into, size_t count) override { return file_.read(into, count); }

private:
    explicit FileSource(platform::InputFile file) : file_(std::move(file)) {}
    platform::InputFile file_;
};

class FolderSink : public CarveSink {
public:
    // Creates the index in the existing folder `folder`.
    static Result<std::unique_ptr<FolderSink>> create(const std::string& folder);
    Result<std::unique_ptr<CarveOutput>> open(const std::string& name) override;
    Status found(const CarvedItem& item) override;
    // Closes the index.
    Status close();

private:
    FolderSink(std::string folder, platform::OutputFile index) : folder_(std::move(folder)), index_(std::move(index)) {}

    std::string folder_;
    std::optional<platform::OutputFile> index_;
    uint64_t index_size_ = 0;
};

// The path of the output `name` in `folder`.
std::string carve_output_path(const std::string& folder, const std::string& name);

// The index line of `item`, newline included.
std::string carve_index_line(const CarvedItem& item);

}  // namespace tarnu
