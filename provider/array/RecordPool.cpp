// The fixed-block pool behind the record lists' allocator.
#include "provider/array/RecordPool.h"

#include <algorithm>

namespace marl::records {

namespace {

// A chunk holds this many bytes of blocks: large enough that carving is rare,
// small enough that a short list does not hold much.
constexpr size_t kChunkBytes = 64 * 1024;

size_t RoundUp(size_t value, size_t multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

}  // namespace

FixedBlockPool::FixedBlockPool(size_t blockSize, size_t alignment)
    : m_blockSize(
          RoundUp(std::max(blockSize, sizeof(FreeBlock)), std::max(alignment, alignof(FreeBlock)))),
      m_alignment(static_cast<std::align_val_t>(std::max(alignment, alignof(FreeBlock)))) {}

FixedBlockPool::~FixedBlockPool() {
    for (void* chunk : m_chunks) ::operator delete(chunk, m_alignment);
}

void* FixedBlockPool::Allocate() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_free == nullptr) Carve();
    FreeBlock* block = m_free;
    m_free = block->next;
    return block;
}

void FixedBlockPool::Free(void* block) noexcept {
    if (block == nullptr) return;
    std::lock_guard<std::mutex> lock(m_lock);
    auto* freed = static_cast<FreeBlock*>(block);
    freed->next = m_free;
    m_free = freed;
}

size_t FixedBlockPool::BlocksCarved() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_carved;
}

// Chunks are aligned to the blocks' alignment and every block size is a
// multiple of it, so every carved block is aligned too.
void FixedBlockPool::Carve() {
    const size_t count = std::max<size_t>(1, kChunkBytes / m_blockSize);
    m_chunks.reserve(m_chunks.size() + 1);  // so that push_back below cannot throw
    const size_t bytes = count * m_blockSize;
    char* chunk = static_cast<char*>(::operator new(bytes, m_alignment));
    m_chunks.push_back(chunk);
    for (size_t i = count; i-- > 0;) {
        auto* block = reinterpret_cast<FreeBlock*>(chunk + i * m_blockSize);
        block->next = m_free;
        m_free = block;
    }
    m_carved += count;
}

}  // namespace marl::records
