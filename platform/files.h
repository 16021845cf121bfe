#pragma once
// Files read and written through a handle of their own, and one-folder
// operations: what a program needs that reads other programs' files whole and
// writes a file of its own with seeks (the support-archive collector).
//
// Backends: win32/ (CreateFileW, GetFileInformationByHandle) and posix/
// (open, fstat/statx), chosen by CMake.
//
// Error codes are the system's own numbers: GetLastError() values on Windows,
// errno values elsewhere (2 is "not found" on both).
//
// Thread safety: every function may be called from any thread; a file object
// belongs to one thread at a time.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace marl::platform {

// Windows file attribute bits.
constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeHidden = 0x02;
constexpr uint32_t kAttributeSystem = 0x04;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;

// What an open file tells about itself. Times are Windows file times: 100 ns
// ticks since 1601-01-01 UTC.
struct FileFacts {
    uint32_t attributes = 0;
    uint64_t size = 0;
    uint64_t lastWriteTime = 0;
    uint64_t lastAccessTime = 0;
    // POSIX: the birth time when the file system reports one (statx), else
    // the last status change time, the nearest thing POSIX offers.
    uint64_t creationTime = 0;
};

// A file opened for reading. Windows: shared with other readers only, so a
// file that another process holds open for writing cannot be opened.
class InputFile {
  public:
    virtual ~InputFile() = default;
    // Reads up to `capacity` bytes; `*got` is 0 at the end of the file.
    // False on a read error.
    virtual bool Read(void* buffer, size_t capacity, size_t* got) = 0;
    virtual bool Rewind() = 0;
    virtual bool Facts(FileFacts* facts) = 0;
};

// Opens an existing regular file; nullptr with `*error` set on failure (a
// folder is refused too). POSIX: the path is given to the system as UTF-8.
std::unique_ptr<InputFile> OpenFileForReading(const std::wstring& path, uint32_t* error);

// A file being written: write access only, not shared.
class OutputFile {
  public:
    virtual ~OutputFile() = default;
    // Writes at the current position; returns the number of bytes actually
    // written (less than `size` on failure).
    virtual size_t Write(const void* data, size_t size) = 0;
    // Moves the position to `offset` from the start of the file.
    virtual bool SeekTo(uint64_t offset) = 0;
    // False once the file has been closed (or was never there).
    virtual bool IsOpen() const = 0;
    virtual void Close() = 0;
};

// Always newly created: an existing file is replaced.
std::unique_ptr<OutputFile> CreateFileForWriting(const std::wstring& path, uint32_t* error);

// Narrow paths of this system (active code page on Windows, UTF-8 elsewhere)
// in their wide form.
std::wstring WidenPath(const std::string& path);

// Creates one folder; false with `*error` set when it could not (an existing
// folder is reported as error 183 on Windows, 17 elsewhere).
bool CreateFolder(const std::string& path, uint32_t* error);
// Makes `path` the current directory; 0 or the system error code.
uint32_t ChangeFolder(const std::string& path);
// Deletes one file; 0 or the system error code.
uint32_t DeleteOneFile(const std::string& path);
// Removes an empty folder; 0 or the system error code.
uint32_t RemoveFolder(const std::string& path);

}  // namespace marl::platform
