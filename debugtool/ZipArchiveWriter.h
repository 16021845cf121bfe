#pragma once
// A small self-contained ZIP writer: creates a new archive, adds regular
// files one by one (deflated, or stored when the entry name looks like an
// already compressed archive) and writes the central directory at the end.
// No encryption, no archive comment, no data descriptors, no ZIP64.
//
// Usage: h = Create(path); AddFile(h, name, source)...; Close(h). Every
// operation answers one of the result codes below; nothing is printed or
// logged.
//
// Ownership: Create returns an opaque handle owned by the caller until it is
// given to Close, which ends the archive, closes its file and releases the
// writer (the handle is then no longer a writer handle). Handles are checked
// before use: a value that is not a live writer is answered with
// kZipNotAWriter instead of being followed.
//
// Failure: a failed add leaves no entry in the central directory; bytes it
// had already written stay in the file, and the next entry starts after
// them, so the archive remains valid. An entry that would carry a size, an
// offset or the entry count past what the format's 32-bit (16-bit for the
// count) fields hold is refused with kZipWriteFailed before anything of it
// is written. When the archive has no output file where data or a header
// must be written, it is marked failed and every later add answers
// kZipFailedState.
//
// Thread safety: one writer belongs to one thread at a time; different
// writers may be used on different threads.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/files.h"

namespace marl::debugtool {

constexpr uint32_t kZipOk = 0;
constexpr uint32_t kZipOpenFailed = 0x200;     // archive or source not opened or created
constexpr uint32_t kZipWriteFailed = 0x400;    // write, short copy, encoder error, too large
constexpr uint32_t kZipBadArgument = 0x10000;  // no writer, empty entry name, no source path
constexpr uint32_t kZipFailedState = 0x40000;  // an earlier fatal error
constexpr uint32_t kZipEnded = 0x50000;        // the central directory was written
constexpr uint32_t kZipNotAWriter = 0x80000;   // the handle is not a writer handle
constexpr uint32_t kZipNoOutputFile = 0x1000000;
constexpr uint32_t kZipRewriteFailed = 0x2000000;  // local header not rewritten: no file

using ZipHandle = void*;

class ZipArchiveWriter {
  public:
    // Turns the whole content of a source into the bytes to archive.
    using ContentFilter = std::function<std::string(const std::string& content)>;

    // Creates (or replaces) the archive file. nullptr on failure, with
    // `*result` (when given) set to kZipOpenFailed; kZipOk otherwise.
    static ZipHandle Create(const std::wstring& archivePath, uint32_t* result = nullptr);
    // A writer on a file the caller opened (tests give it files that fail);
    // a null file makes a writer that has no output file.
    static ZipHandle CreateOn(std::unique_ptr<platform::OutputFile> file);

    // Adds the regular file `sourcePath` as `entryName` (backslashes become
    // "/"; at most 259 bytes in UTF-8, else kZipBadArgument). The source is
    // opened for reading with read sharing only; its attributes, size and
    // times come from the open file.
    static uint32_t AddFile(ZipHandle writer, const std::wstring& entryName,
                            const std::wstring& sourcePath);
    // The same, but the source's content passes through `filter` before it
    // is archived; attributes and times are still the source's. The whole
    // source is read into memory: meant for small files.
    static uint32_t AddFilteredFile(ZipHandle writer, const std::wstring& entryName,
                                    const std::wstring& sourcePath, const ContentFilter& filter);

    // Ends the archive (central directory and end record), closes the file
    // and releases the writer. nullptr gives kZipBadArgument, a value that is
    // not a writer kZipNotAWriter; kZipWriteFailed when a central header or
    // the end record could not be written.
    static uint32_t Close(ZipHandle writer);

    ZipArchiveWriter(const ZipArchiveWriter&) = delete;
    ZipArchiveWriter& operator=(const ZipArchiveWriter&) = delete;
    ~ZipArchiveWriter();

  private:
    explicit ZipArchiveWriter(std::unique_ptr<platform::OutputFile> file);
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace marl::debugtool
