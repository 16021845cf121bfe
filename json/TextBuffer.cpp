// The spare reply-text buffer kept between parses.
#include "json/TextBuffer.h"

#include <mutex>
#include <utility>

#include "json/JsonNode.h"

namespace marl::json::detail {

namespace {

// Buffers below this size come from the allocator's own free lists and are
// cheap to obtain; keeping one would only pin memory.
constexpr size_t kWorthKeeping = 256 * 1024;

struct Spare {
    std::mutex lock;
    std::unique_ptr<char[]> data;
    size_t capacity = 0;
};

// Made on first use and never destroyed, so that a document released during
// static destruction still finds it.
Spare& TheSpare() {
    static Spare* spare = new Spare;
    return *spare;
}

}  // namespace

TextBuffer::~TextBuffer() { Release(); }

TextBuffer::TextBuffer(TextBuffer&& other) noexcept
    : m_data(std::move(other.m_data)), m_capacity(std::exchange(other.m_capacity, 0)) {}

TextBuffer& TextBuffer::operator=(TextBuffer&& other) noexcept {
    if (this != &other) {
        Release();
        m_data = std::move(other.m_data);
        m_capacity = std::exchange(other.m_capacity, 0);
    }
    return *this;
}

TextBuffer TextBuffer::Acquire(size_t bytes) {
    if (bytes >= kWorthKeeping) {
        Spare& spare = TheSpare();
        std::lock_guard<std::mutex> lock(spare.lock);
        if (spare.data && spare.capacity >= bytes) {
            return TextBuffer(std::move(spare.data), std::exchange(spare.capacity, 0));
        }
    }
    return TextBuffer(std::unique_ptr<char[]>(new char[bytes]), bytes);
}

// The larger of this buffer and the spare is kept; the other is freed.
void TextBuffer::Release() noexcept {
    if (!m_data) return;
    if (m_capacity >= kWorthKeeping && m_capacity <= ParseLimits{}.maxTextBytes + 2) {
        Spare& spare = TheSpare();
        std::lock_guard<std::mutex> lock(spare.lock);
        if (m_capacity > spare.capacity) {
            std::swap(m_data, spare.data);
            std::swap(m_capacity, spare.capacity);
        }
    }
    m_data.reset();
    m_capacity = 0;
}

}  // namespace marl::json::detail
