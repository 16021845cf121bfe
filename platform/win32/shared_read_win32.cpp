#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>

#include "platform/shared_read.h"
#include "platform/win32/wide.h"

namespace marl::platform {

namespace {

// The C runtime's numbers for the failures CreateFileW reports here.
int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_PATHNAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        default:
            return EINVAL;
    }
}

}  // namespace

std::FILE* OpenSharedForReading(const std::string& path, int* errorNumber) {
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE h = ::CreateFileW(Widen(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *errorNumber = ErrnoOf(::GetLastError());
        return nullptr;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(h);
        *errorNumber = EMFILE;
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, "rb");
    if (!f) {
        *errorNumber = errno;
        _close(fd);
        return nullptr;
    }
    return f;
}

}  // namespace marl::platform
