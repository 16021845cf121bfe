#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/shared_file.h"

namespace marl::platform {

namespace {
constexpr mode_t kSecretMode = 0600;
}  // namespace

std::FILE* OpenSharedFile(const std::string& path, const char* mode, int* error,
                          FileAccess access) {
    const bool append = std::strcmp(mode, "a") == 0;
    const bool secret = access == FileAccess::Secret;
    int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (append ? 0 : O_TRUNC),
               secret ? kSecretMode : 0666);
    if (fd >= 0 && secret && ::fchmod(fd, kSecretMode) != 0) {
        const int cause = errno;
        ::close(fd);
        fd = -1;
        errno = cause;
    }
    std::FILE* f = fd < 0 ? nullptr : ::fdopen(fd, "a");
    if (f) return f;
    const int cause = errno;  // close must not overwrite it
    if (fd >= 0) ::close(fd);
    if (error) *error = cause;
    return nullptr;
}

bool MakeFileSecret(const std::string& path, int* error) {
    if (::chmod(path.c_str(), kSecretMode) == 0) return true;
    *error = errno;
    return false;
}

std::string SecretFileAccess() { return "0600"; }

bool FlushToDisk(std::FILE* stream) {
    return std::fflush(stream) == 0 && ::fsync(fileno(stream)) == 0;
}

// statx is asked for no time stamp: on file systems with fine-grained time
// stamps, a query of the modification time makes the next write update it
// precisely, which dirties the inode at every logged line.
namespace {
bool Query(int dirfd, const char* path, int flags, unsigned mask, struct statx* st) {
    return ::statx(dirfd, path, flags, mask, st) == 0 && (st->stx_mask & mask) == mask;
}

FileIdentity IdentityOf(const struct statx& st) {
    return FileIdentity{::makedev(st.stx_dev_major, st.stx_dev_minor), st.stx_ino};
}
}  // namespace

bool IdentityOfStream(std::FILE* stream, FileIdentity* id) {
    struct statx st {};
    if (!Query(fileno(stream), "", AT_EMPTY_PATH, STATX_INO, &st)) return false;
    *id = IdentityOf(st);
    return true;
}

bool IdentityOfPath(const std::string& path, FileIdentity* id, uint64_t* size) {
    struct statx st {};
    if (!Query(AT_FDCWD, path.c_str(), 0, STATX_INO | STATX_SIZE, &st)) return false;
    *id = IdentityOf(st);
    *size = st.stx_size;
    return true;
}

bool SizeOfStream(std::FILE* stream, uint64_t* size) {
    struct statx st {};
    if (!Query(fileno(stream), "", AT_EMPTY_PATH, STATX_SIZE | STATX_NLINK, &st) ||
        st.stx_nlink == 0) {
        return false;
    }
    *size = st.stx_size;
    return true;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

}  // namespace marl::platform
