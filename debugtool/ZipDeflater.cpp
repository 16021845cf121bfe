#include "debugtool/ZipDeflater.h"

#include <zlib.h>

namespace marl::debugtool::zip {

namespace {

constexpr int kLevel = 8;
constexpr int kRawWindowBits = -15;  // negative: raw deflate, as ZIP stores it
constexpr int kMemLevel = 8;

}  // namespace

struct ZipDeflater::State {
    z_stream stream{};
    bool ready = false;
    bool fresh = true;
    uint8_t* buffer = nullptr;
    size_t capacity = 0;
    Sink sink;
};

ZipDeflater::ZipDeflater() : m_state(std::make_unique<State>()) {
    m_state->ready = deflateInit2(&m_state->stream, kLevel, Z_DEFLATED, kRawWindowBits, kMemLevel,
                                  Z_DEFAULT_STRATEGY) == Z_OK;
}

ZipDeflater::~ZipDeflater() {
    if (m_state->ready) deflateEnd(&m_state->stream);
}

bool ZipDeflater::Ready() const { return m_state->ready; }

uint64_t ZipDeflater::Bound(uint64_t size) const {
    // zlib's own bound for these parameters, computed in 64 bits since
    // deflateBound takes an unsigned long (32 bits on Windows): stored
    // blocks cost 5 bytes per 16 KiB at worst, plus a small constant.
    return size + (size >> 12) + (size >> 14) + (size >> 25) + 7 + 64;
}

bool ZipDeflater::Begin(uint8_t* buffer, size_t capacity, Sink sink) {
    if (!m_state->ready) return false;
    if (!m_state->fresh && deflateReset(&m_state->stream) != Z_OK) return false;
    m_state->fresh = false;
    m_state->buffer = buffer;
    m_state->capacity = capacity;
    m_state->sink = std::move(sink);
    m_state->stream.next_out = buffer;
    m_state->stream.avail_out = static_cast<uInt>(capacity);
    return true;
}

bool ZipDeflater::Feed(const uint8_t* data, size_t size) {
    m_state->stream.next_in = const_cast<Bytef*>(data);
    m_state->stream.avail_in = static_cast<uInt>(size);
    return Run(Z_NO_FLUSH);
}

bool ZipDeflater::Finish() {
    m_state->stream.next_in = nullptr;
    m_state->stream.avail_in = 0;
    if (!Run(Z_FINISH)) return false;
    size_t used = m_state->capacity - m_state->stream.avail_out;
    return used == 0 || m_state->sink(m_state->buffer, used);
}

// Runs the encoder until it has taken all input (or, when finishing, ended
// the stream), emptying the buffer into the sink each time it fills.
bool ZipDeflater::Run(int flush) {
    z_stream& z = m_state->stream;
    for (;;) {
        int rc = deflate(&z, flush);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return false;
        if (z.avail_out == 0) {
            if (!m_state->sink(m_state->buffer, m_state->capacity)) return false;
            z.next_out = m_state->buffer;
            z.avail_out = static_cast<uInt>(m_state->capacity);
            continue;
        }
        if (flush == Z_FINISH ? rc == Z_STREAM_END : z.avail_in == 0) return true;
        if (rc == Z_BUF_ERROR) return false;  // no progress possible
    }
}

}  // namespace marl::debugtool::zip
