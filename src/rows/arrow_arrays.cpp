#include "rows/arrow_arrays.h"

namespace tarnu {
namespace {

// What one exported schema owns.
struct SchemaParts {
    std::string format, name;
    std::vector<std::unique_ptr<ArrowSchema>> children;
    std::vector<ArrowSchema*> child_pointers;
    std::unique_ptr<ArrowSchema> dictionary;
};

void release_schema(ArrowSchema* schema) {
    auto* parts = static_cast<SchemaParts*>(schema->private_data);
    for (ArrowSchema* child : parts->child_pointers) {
        if (child->release != nullptr) child->release(child);
    }
    if (parts->dictionary && parts->dictionary->release != nullptr) parts->dictionary->release(parts->dictionary.get());
    delete parts;
    schema->release = nullptr;
}

}  // namespace

alignas(64) const uint8_t ArrayParts::kNothing[64] = {};

void export_schema(const ArrowField& field, ArrowSchema& out) {
    auto parts = std::make_unique<SchemaParts>();
    parts->format = field.format;
    parts->name = field.name;
    for (const ArrowField& child : field.children) {
        parts->children.push_back(std::make_unique<ArrowSchema>());
        export_schema(child, *parts->children.back());
        parts->child_pointers.push_back(parts->children.back().get());
    }
    if (!field.dictionary.empty()) {
        parts->dictionary = std::make_unique<ArrowSchema>();
        export_schema(field.dictionary.front(), *parts->dictionary);
    }
    out.format = parts->format.c_str();
    out.name = parts->name.c_str();
    out.metadata = nullptr;
    out.flags = field.nullable ? ARROW_FLAG_NULLABLE : 0;
    out.n_children = static_cast<int64_t>(parts->child_pointers.size());
    out.children = parts->child_pointers.empty() ? nullptr : parts->child_pointers.data();
    out.dictionary = parts->dictionary.get();
    out.release = release_schema;
    out.private_data = parts.release();
}

std::vector<uint8_t> BitBuffer::take(size_t reserve) {
    std::vector<uint8_t> out = std::move(bytes_);
    bytes_ = {};
    bytes_.reserve((reserve + 7) / 8);
    size_ = ones_ = 0;
    return out;
}

int64_t ArrayParts::add_validity(BitBuffer& valid, size_t reserve) {
    const auto nulls = static_cast<int64_t>(valid.size() - valid.ones());
    if (nulls == 0) {
        (void)valid.take(reserve);
        buffers_.push_back(nullptr);
    } else {
        add_buffer(valid.take(reserve));
    }
    return nulls;
}

ArrowArray& ArrayParts::add_child() {
    children_.push_back(std::make_unique<ArrowArray>());
    child_pointers_.push_back(children_.back().get());
    return *children_.back();
}

ArrowArray& ArrayParts::dictionary() {
    if (!dictionary_) dictionary_ = std::make_unique<ArrowArray>();
    return *dictionary_;
}

void release_array(ArrowArray* array) {
    auto* parts = static_cast<ArrayParts*>(array->private_data);
    for (ArrowArray* child : parts->child_pointers_) {
        if (child->release != nullptr) child->release(child);
    }
    if (parts->dictionary_ && parts->dictionary_->release != nullptr) parts->dictionary_->release(parts->dictionary_.get());
    delete parts;
    array->release = nullptr;
}

void export_array(ArrowArray& out, std::unique_ptr<ArrayParts> parts, int64_t length, int64_t null_count) {
    out.length = length;
    out.null_count = null_count;
    out.offset = 0;
    out.n_buffers = static_cast<int64_t>(parts->buffers_.size());
    out.n_children = static_cast<int64_t>(parts->child_pointers_.size());
    out.buffers = parts->buffers_.empty() ? nullptr : parts->buffers_.data();
    out.children = parts->child_pointers_.empty() ? nullptr : parts->child_pointers_.data();
    out.dictionary = parts->dictionary_.get();
    out.release = release_array;
    out.private_data = parts.release();
}

}  // namespace tarnu
