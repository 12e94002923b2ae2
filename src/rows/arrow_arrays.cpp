#include "rows/arrow_arrays.h"

#include <algorithm>

namespace tarnu {
namespace {

// What one exported schema owns.
struct SchemaParts {
    std::string format, name;
    std::vector<std::unique_ptr<ArrowSchema>> children;
    std::vector<ArrowSchema*> child_pointers;
    std::unique_ptr<ArrowSchema> dictionary;
};

// Releases what a schema or an array owns, its children first, and marks it released.
template <typename Node, typename Parts>
void release_owned(Node* node, Parts* parts, const std::vector<Node*>& children, Node* dictionary) {
    for (Node* child : children) {
        if (child->release != nullptr) child->release(child);
    }
    if (dictionary != nullptr && dictionary->release != nullptr) dictionary->release(dictionary);
    delete parts;
    node->release = nullptr;
}

void release_schema(ArrowSchema* schema) {
    auto* parts = static_cast<SchemaParts*>(schema->private_data);
    release_owned(schema, parts, parts->child_pointers, parts->dictionary.get());
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

namespace {

// The most room a buffer keeps for the next batch: what it held in the last one, up to this, so that a batch's
// buffers rarely grow by copying while one huge value reserves nothing for the batches after it.
constexpr size_t kMostKept = size_t{8} << 20;
// What the pool keeps: buffers from the size that malloc takes from the system on its own up to the budget of a
// large batch, and in all about what two threads' batches in flight hold (the pool never gives memory back).
constexpr size_t kLeastPooled = size_t{64} << 10;
constexpr size_t kMostPooled = size_t{32} << 20;
constexpr size_t kMostKeptInPool = size_t{64} << 20;
constexpr size_t kMostBuffersPerSlot = 4;

}  // namespace

BufferPool& BufferPool::shared() {
    // Never destroyed: batches may be released after the process's statics are gone.
    static auto* pool = new BufferPool();
    return *pool;
}

ByteBlock BufferPool::take(size_t slot, size_t wanted) {
    ByteBlock out;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (slot < spare_.size() && !spare_[slot].empty()) {
            out = std::move(spare_[slot].back());
            spare_[slot].pop_back();
            kept_ -= out.capacity();
        }
    }
    out.set_size(0);
    // Too small a block is dropped for one of at least twice its size, as a growing string would.
    if (out.capacity() < wanted) out = ByteBlock(std::max(wanted, 2 * out.capacity()));
    return out;
}

void BufferPool::give(size_t slot, ByteBlock buffer) {
    const size_t capacity = buffer.capacity();
    if (capacity < kLeastPooled || capacity > kMostPooled) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (slot >= spare_.size()) spare_.resize(slot + 1);
    std::vector<ByteBlock>& spare = spare_[slot];
    if (kept_ + capacity > kMostKeptInPool || spare.size() == kMostBuffersPerSlot) return;
    kept_ += capacity;
    // The largest last, to be taken first.
    spare.push_back(std::move(buffer));
    for (size_t i = spare.size() - 1; i > 0 && spare[i - 1].capacity() > spare[i].capacity(); --i) {
        std::swap(spare[i - 1], spare[i]);
    }
}

void PooledBytes::reserve(size_t size) {
    if (block_.capacity() >= size) return;
    ByteBlock room = BufferPool::shared().take(slot_, size);
    if (size_ != 0) std::memcpy(room.data(), block_.data(), size_);
    BufferPool::shared().give(slot_, std::exchange(block_, std::move(room)));
}

void PooledBytes::grow(size_t more) {
    // At least twice the room, so that a buffer grown item by item copies each byte a bounded number of times.
    const size_t wanted = std::max({size_ + more, 2 * block_.capacity(), size_t{64}});
    ByteBlock room(wanted);
    if (size_ != 0) std::memcpy(room.data(), block_.data(), size_);
    block_ = std::move(room);
}

void PooledBytes::hand_to(ArrayParts& parts) {
    const size_t size = std::exchange(size_, 0);
    block_.set_size(size);
    parts.add_buffer(std::exchange(block_, BufferPool::shared().take(slot_, std::min(size, kMostKept))), slot_);
}

void BitBuffer::hand_to(ArrayParts& parts) {
    if (size_ % 8 != 0) bytes_.push(current_);
    bytes_.hand_to(parts);
    size_ = ones_ = 0;
    current_ = 0;
}

int64_t BitBuffer::hand_validity_to(ArrayParts& parts) {
    const auto nulls = static_cast<int64_t>(size_ - ones_);
    if (nulls != 0) {
        hand_to(parts);
        return nulls;
    }
    bytes_.clear();
    size_ = ones_ = 0;
    current_ = 0;
    parts.add_all_valid();
    return 0;
}

void ArrayParts::add_buffer(ByteBlock bytes, size_t slot) {
    auto held = std::make_unique<Held>(std::move(bytes), slot);
    buffers_.push_back(held->bytes.empty() ? static_cast<const void*>(kNothing) : held->bytes.data());
    held_.push_back(std::move(held));
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
    release_owned(array, parts, parts->child_pointers_, parts->dictionary_.get());
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
