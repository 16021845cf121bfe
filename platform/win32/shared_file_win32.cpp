#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstring>

#include "platform/shared_file.h"
#include "platform/win32/wide.h"

namespace marl::platform {

namespace {
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The file's index on its volume, from NtQueryInformationFile's
// FileInternalInformation. It is asked for at every logged line, so it must be
// cheap: GetFileInformationByHandle also reads the volume's serial number,
// which costs far more (milliseconds under Wine). Both files compared are
// reached through the same folder, so they are on the same volume.
using QueryInformationFile = LONG(WINAPI*)(HANDLE, void* ioStatus, void* info, ULONG length,
                                           int infoClass);
constexpr int kFileInternalInformation = 6;

QueryInformationFile NtQueryInformationFileFunction() {
    static const auto function = reinterpret_cast<QueryInformationFile>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
    return function;
}

bool IdentityOfHandle(HANDLE h, FileIdentity* id, uint64_t* size) {
    QueryInformationFile query = NtQueryInformationFileFunction();
    if (!query) return false;
    struct {
        void* status;
        ULONG_PTR information;
    } ioStatus{};
    LARGE_INTEGER index{};
    if (query(h, &ioStatus, &index, sizeof index, kFileInternalInformation) < 0) return false;
    *id = FileIdentity{0, static_cast<uint64_t>(index.QuadPart)};
    LARGE_INTEGER bytes{};
    if (size && !::GetFileSizeEx(h, &bytes)) return false;
    if (size) *size = static_cast<uint64_t>(bytes.QuadPart);
    return true;
}
}  // namespace

std::FILE* OpenSharedFile(const std::string& path, const char* mode) {
    const bool append = std::strcmp(mode, "a") == 0;
    HANDLE h = ::CreateFileW(Widen(path).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                             append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_APPEND | _O_TEXT);
    if (fd < 0) {
        ::CloseHandle(h);
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, "a");
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

bool SizeOfStream(std::FILE* stream, uint64_t* size) {
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    FILE_STANDARD_INFO info;
    if (h == INVALID_HANDLE_VALUE ||
        !::GetFileInformationByHandleEx(h, FileStandardInfo, &info, sizeof info) ||
        info.DeletePending) {
        return false;
    }
    *size = static_cast<uint64_t>(info.EndOfFile.QuadPart);
    return true;
}

bool PathExists(const std::string& path) {
    return ::GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace marl::platform
