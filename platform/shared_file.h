#pragma once
// Log files that several processes append to and that any of them may rotate
// (rename away and replace) while the others still hold them open.
//
// Windows: the file is opened with CreateFileW sharing read, write and delete,
// so that another process can rename it while it is open, then wrapped in a
// text-mode stdio stream. POSIX: plain fopen.
#include <cstdint>
#include <cstdio>
#include <string>

namespace marl::platform {

// Identity of a file on its volume: equal ids mean the same file.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity& o) const { return volume == o.volume && index == o.index; }
    bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

// `mode` is "a" (append, create if missing) or "w" (create or truncate). In
// both modes every write goes to the end of the file, wherever other processes
// have brought it: a process that truncated the file at a rotation must not
// overwrite the lines another one appended since. Returns nullptr on failure,
// with the C runtime's error number for its cause in `*error` when `error` is
// given (2 ENOENT for a missing folder, 13 EACCES for a file another program
// holds without sharing), in both builds: the Windows backend maps the system
// error the way Microsoft's C runtime does, since CreateFileW sets no errno.
std::FILE* OpenSharedFile(const std::string& path, const char* mode, int* error = nullptr);

// Writes what `stream` has buffered and then has the system put the file's
// data on the disk (FlushFileBuffers, fsync), so that a file renamed into
// place afterwards survives a power cut with its content. False when either
// step fails: the data may not be on the disk.
bool FlushToDisk(std::FILE* stream);

// Identity of an open stream; false when it cannot be read.
bool IdentityOfStream(std::FILE* stream, FileIdentity* id);

// Identity and size of the file now at `path`; false when there is none.
bool IdentityOfPath(const std::string& path, FileIdentity* id, uint64_t* size);

// Size of the file `stream` writes to, read through the stream (no lookup of
// a path); false when it cannot be read or the file has been deleted.
bool SizeOfStream(std::FILE* stream, uint64_t* size);

bool PathExists(const std::string& path);

}  // namespace marl::platform
