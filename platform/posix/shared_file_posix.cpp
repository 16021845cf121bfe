#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/shared_file.h"

namespace marl::platform {

std::FILE* OpenSharedFile(const std::string& path, const char* mode) {
    const bool append = std::strcmp(mode, "a") == 0;
    int fd = ::open(path.c_str(),
                    O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (append ? 0 : O_TRUNC), 0666);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, "a");
    if (!f) ::close(fd);
    return f;
}

bool IdentityOfStream(std::FILE* stream, FileIdentity* id) {
    struct stat st {};
    if (fstat(fileno(stream), &st) != 0) return false;
    *id = FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return true;
}

bool IdentityOfPath(const std::string& path, FileIdentity* id, uint64_t* size) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    *id = FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

}  // namespace marl::platform
