#pragma once
// The DEFLATE encoder of the ZIP writer: zlib's raw deflate (no zlib or gzip
// wrapper) at level 8, a 32 KiB window (window bits 15), memLevel 8 (32768
// hash heads) and the default strategy. zlib's level 8 is the tuning the
// archive is meant to have: good length 32, maximum lazy length 128, nice
// length 258, maximum chain 1024.
//
// One encoder is created for the first deflated entry and reset for every
// later one, so its window and hash tables are allocated once per archive.
// Not thread-safe; owned by one writer.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace marl::debugtool::zip {

class ZipDeflater {
  public:
    // Receives each full output buffer, and the rest at the end of an entry.
    // Returns false when the bytes could not be written; the entry then ends.
    using Sink = std::function<bool(const uint8_t* data, size_t size)>;

    ZipDeflater();
    ~ZipDeflater();
    ZipDeflater(const ZipDeflater&) = delete;
    ZipDeflater& operator=(const ZipDeflater&) = delete;

    // False when zlib could not set up its state (out of memory).
    bool Ready() const;
    // The most bytes the encoding of `size` input bytes can take.
    uint64_t Bound(uint64_t size) const;

    // Starts a new entry whose output goes through `buffer` of `capacity`
    // bytes into `sink`.
    bool Begin(uint8_t* buffer, size_t capacity, Sink sink);
    // Encodes one piece of input; false on an encoder or sink failure.
    bool Feed(const uint8_t* data, size_t size);
    // Ends the stream and empties the buffer into the sink.
    bool Finish();

  private:
    bool Run(int flush);

    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace marl::debugtool::zip
