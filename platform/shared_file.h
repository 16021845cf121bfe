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

// Who may open a file. Secret: only the system and the administrators, for
// files holding passwords in a form that whoever reads it can undo. Windows: a
// protected access list (nothing inherited from the folder) granting full
// control to SYSTEM and to the Administrators group, SDDL
// "D:P(A;;FA;;;SY)(A;;FA;;;BA)"; POSIX: mode 0600.
enum class FileAccess { Default, Secret };

// `mode` is "a" (append, create if missing) or "w" (create or truncate). In
// both modes every write goes to the end of the file, wherever other processes
// have brought it: a process that truncated the file at a rotation must not
// overwrite the lines another one appended since. Returns nullptr on failure,
// with the C runtime's error number for its cause in `*error` when `error` is
// given (2 ENOENT for a missing folder, 13 EACCES for a file another program
// holds without sharing), in both builds: the Windows backend maps the system
// error the way Microsoft's C runtime does, since CreateFileW sets no errno.
// A secret file gets its access whether it is created or already there (an
// existing file would keep its own); when that fails the open fails.
std::FILE* OpenSharedFile(const std::string& path, const char* mode, int* error = nullptr,
                          FileAccess access = FileAccess::Default);

// Gives the existing file at `path` the secret access. False on failure, with
// the C runtime's error number in `*error` (2 ENOENT when there is no file).
bool MakeFileSecret(const std::string& path, int* error);

// What a secret file is given, as text: in the Windows build the security
// descriptor the backend applies, converted back to SDDL; in the POSIX build
// the mode in octal, "0600". Empty when the descriptor cannot be built.
std::string SecretFileAccess();

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
