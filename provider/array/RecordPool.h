#pragma once
// RecordAllocator: the allocator of the inventory record lists.
//
// An inventory listing ("vol_show" of every array volume, the volume
// snapshots of a set) makes one list node per record, all allocated within
// one call and freed together when the caller's list goes. With tens of
// thousands of volumes that is tens of megabytes obtained and handed back at
// every VSS call, and allocators that return such memory to the system at
// once (glibc trims the top of its heap) make the next call fault every page
// in again, which costs more than the parsing. The nodes therefore come from
// a process-wide pool of fixed-size blocks that keeps freed blocks for the
// next listing.
//
// Memory: the pool never gives memory back; it holds at most the largest
// number of list nodes alive at once in the process (about 22 MB for a
// listing of 100,000 volumes), and is reclaimed when the process ends.
// Failure: allocation throws std::bad_alloc, as std::allocator does.
// Thread safety: any thread may allocate and free; one lock per call.
#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace marl::records {

// Blocks of one size and alignment, carved from chunks that are never freed.
class FixedBlockPool {
  public:
    FixedBlockPool(size_t blockSize, size_t alignment);
    // Frees every chunk: no block of the pool may be in use any more.
    ~FixedBlockPool();
    FixedBlockPool(const FixedBlockPool&) = delete;
    FixedBlockPool& operator=(const FixedBlockPool&) = delete;

    void* Allocate();
    void Free(void* block) noexcept;

    // Blocks carved so far (in use or free), for tests.
    size_t BlocksCarved() const;

  private:
    struct FreeBlock {
        FreeBlock* next;
    };
    void Carve();

    const size_t m_blockSize;
    const std::align_val_t m_alignment;
    mutable std::mutex m_lock;
    FreeBlock* m_free = nullptr;
    size_t m_carved = 0;
    std::vector<void*> m_chunks;
};

// The pool of blocks of `Size` bytes aligned to `Align`: made on first use and
// deliberately never destroyed, so that a list freed during the process's
// static destruction still finds it.
template <size_t Size, size_t Align>
FixedBlockPool& PoolFor() {
    static FixedBlockPool* pool = new FixedBlockPool(Size, Align);
    return *pool;
}

template <class T>
class RecordAllocator {
  public:
    using value_type = T;

    RecordAllocator() noexcept = default;
    template <class U>
    RecordAllocator(const RecordAllocator<U>&) noexcept {}

    T* allocate(size_t n) {
        if (n == 1) return static_cast<T*>(PoolFor<sizeof(T), alignof(T)>().Allocate());
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, size_t n) noexcept {
        if (n == 1) {
            PoolFor<sizeof(T), alignof(T)>().Free(p);
        } else {
            std::allocator<T>().deallocate(p, n);
        }
    }

    template <class U>
    bool operator==(const RecordAllocator<U>&) const noexcept {
        return true;
    }
    template <class U>
    bool operator!=(const RecordAllocator<U>&) const noexcept {
        return false;
    }
};

}  // namespace marl::records
