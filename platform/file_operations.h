#pragma once
// The file calls of a program that writes a new version of a file and then
// puts it in place of the old one by renaming: create the new file, put it on
// the disk, close it, delete and rename. Callers take them through this
// interface so that tests can make any one of them fail, the way a full disk,
// a power cut or another program holding a file would.
//
// Backend: portable (file_operations.cpp), over OpenSharedFile, MakeFileSecret
// and FlushToDisk of shared_file.h and the C runtime's remove and rename.
//
// Error numbers are the C runtime's (errno values) in both builds.
//
// Thread safety: the system implementation keeps no state.
#include <cstdio>
#include <memory>
#include <string>

#include "platform/shared_file.h"

namespace marl::platform {

class FileOperations {
  public:
    virtual ~FileOperations() = default;

    // Creates or empties `path` for writing, shared like OpenSharedFile's "w",
    // with the given access; nullptr on failure, with its error number in `*error`.
    virtual std::FILE* Create(const std::string& path, FileAccess access, int* error) = 0;
    // MakeFileSecret of shared_file.h: 2 (ENOENT) in `*error` when there is no file.
    virtual bool MakeSecret(const std::string& path, int* error) = 0;
    // FlushToDisk of shared_file.h: false when the data may not be on the disk.
    virtual bool FlushToDisk(std::FILE* stream) = 0;
    // Closes `stream` in every case; false when buffered data could not be written.
    virtual bool Close(std::FILE* stream) = 0;
    virtual bool Remove(const std::string& path) = 0;
    // Renames `from` to `to`, which must not exist; on failure its error
    // number is in `*error`.
    virtual bool Rename(const std::string& from, const std::string& to, int* error) = 0;
};

std::unique_ptr<FileOperations> MakeSystemFileOperations();

}  // namespace marl::platform
