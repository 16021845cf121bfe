#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstring>

#include "platform/shared_file.h"
#include "platform/win32/wide.h"

namespace marl::platform {

namespace {
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IdentityOfHandle(HANDLE h, FileIdentity* id, uint64_t* size) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(h, &info)) return false;
    id->volume = info.dwVolumeSerialNumber;
    id->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    if (size) *size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return true;
}
}  // namespace

std::FILE* OpenSharedFile(const std::string& path, const char* mode) {
    const bool append = std::strcmp(mode, "a") == 0;
    HANDLE h = ::CreateFileW(Widen(path).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                             append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), (append ? _O_APPEND : 0) | _O_TEXT);
    if (fd < 0) {
        ::CloseHandle(h);
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, append ? "a" : "w");
    if (!f) {
        _close(fd);
        return nullptr;
    }
    std::fseek(f, 0, SEEK_END);
    return f;
}

bool IdentityOfStream(std::FILE* stream, FileIdentity* id) {
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return h != INVALID_HANDLE_VALUE && IdentityOfHandle(h, id, nullptr);
}

bool IdentityOfPath(const std::string& path, FileIdentity* id, uint64_t* size) {
    HANDLE h = ::CreateFileW(Widen(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = IdentityOfHandle(h, id, size);
    ::CloseHandle(h);
    return ok;
}

bool PathExists(const std::string& path) {
    return ::GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace marl::platform
