#pragma once
// The buffer a reply text is copied into to be parsed in place.
//
// Large replies (a listing of every volume runs to megabytes) need a buffer
// of that size at every parse. Freshly obtained memory of that size comes
// from the system as untouched pages (both glibc and the Windows heap map
// such blocks directly), and filling it faults every page in again, which
// costs as much as the parse. So the largest freed buffer is kept for the
// next parse: one buffer for the whole process, handed to one parse at a
// time, never larger than the facade's text limit.
//
// Ownership: a TextBuffer owns its storage; destroying it offers the storage
// back for reuse. Failure: Acquire throws std::bad_alloc. Thread safety: any
// thread may acquire and release; the spare buffer is guarded by a lock.
#include <cstddef>
#include <memory>

namespace marl::json::detail {

class TextBuffer {
  public:
    TextBuffer() = default;
    ~TextBuffer();
    TextBuffer(TextBuffer&& other) noexcept;
    TextBuffer& operator=(TextBuffer&& other) noexcept;
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    // A buffer of at least `bytes` bytes, its contents undefined.
    static TextBuffer Acquire(size_t bytes);

    char* Data() const { return m_data.get(); }
    size_t Capacity() const { return m_capacity; }

  private:
    TextBuffer(std::unique_ptr<char[]> data, size_t capacity)
        : m_data(std::move(data)), m_capacity(capacity) {}
    void Release() noexcept;

    std::unique_ptr<char[]> m_data;
    size_t m_capacity = 0;
};

}  // namespace marl::json::detail
