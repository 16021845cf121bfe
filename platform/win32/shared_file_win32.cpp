#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <memory>

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

// The C runtime's error number for a system error code, as Microsoft's C
// runtime maps them when one of its own file calls fails, so that both builds
// report a failed open with the same numbers.
int RuntimeErrorOf(DWORD code) {
    static const struct {
        DWORD code;
        int error;
    } kMapped[] = {
        {ERROR_FILE_NOT_FOUND, ENOENT},
        {ERROR_PATH_NOT_FOUND, ENOENT},
        {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
        {ERROR_ACCESS_DENIED, EACCES},
        {ERROR_INVALID_HANDLE, EBADF},
        {ERROR_ARENA_TRASHED, ENOMEM},
        {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
        {ERROR_INVALID_BLOCK, ENOMEM},
        {ERROR_BAD_ENVIRONMENT, E2BIG},
        {ERROR_BAD_FORMAT, ENOEXEC},
        {ERROR_INVALID_DRIVE, ENOENT},
        {ERROR_CURRENT_DIRECTORY, EACCES},
        {ERROR_NOT_SAME_DEVICE, EXDEV},
        {ERROR_NO_MORE_FILES, ENOENT},
        {ERROR_LOCK_VIOLATION, EACCES},
        {ERROR_BAD_NETPATH, ENOENT},
        {ERROR_NETWORK_ACCESS_DENIED, EACCES},
        {ERROR_BAD_NET_NAME, ENOENT},
        {ERROR_FILE_EXISTS, EEXIST},
        {ERROR_CANNOT_MAKE, EACCES},
        {ERROR_FAIL_I24, EACCES},
        {ERROR_NO_PROC_SLOTS, EAGAIN},
        {ERROR_DRIVE_LOCKED, EACCES},
        {ERROR_BROKEN_PIPE, EPIPE},
        {ERROR_DISK_FULL, ENOSPC},
        {ERROR_INVALID_TARGET_HANDLE, EBADF},
        {ERROR_WAIT_NO_CHILDREN, ECHILD},
        {ERROR_CHILD_NOT_COMPLETE, ECHILD},
        {ERROR_DIRECT_ACCESS_HANDLE, EBADF},
        {ERROR_SEEK_ON_DEVICE, EACCES},
        {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
        {ERROR_NOT_LOCKED, EACCES},
        {ERROR_BAD_PATHNAME, ENOENT},
        {ERROR_MAX_THRDS_REACHED, EAGAIN},
        {ERROR_LOCK_FAILED, EACCES},
        {ERROR_ALREADY_EXISTS, EEXIST},
        {ERROR_FILENAME_EXCED_RANGE, ENOENT},
        {ERROR_NESTING_NOT_ALLOWED, EAGAIN},
        {ERROR_NOT_ENOUGH_QUOTA, ENOMEM},
    };
    for (const auto& m : kMapped) {
        if (m.code == code) return m.error;
    }
    // Write protection up to an exceeded sharing buffer, the sharing
    // violation among them: the file is there but may not be touched.
    if (code >= ERROR_WRITE_PROTECT && code <= ERROR_SHARING_BUFFER_EXCEEDED) return EACCES;
    if (code >= ERROR_INVALID_STARTING_CODESEG && code <= ERROR_INFLOOP_IN_RELOC_CHAIN)
        return ENOEXEC;
    return EINVAL;
}

struct LocalFreeDeleter {
    void operator()(void* p) const { ::LocalFree(p); }
};

// The one descriptor every secret file gets, built once from its SDDL text;
// null when it cannot be built.
PSECURITY_DESCRIPTOR SecretDescriptor() {
    static const std::unique_ptr<void, LocalFreeDeleter> descriptor([] {
        PSECURITY_DESCRIPTOR sd = nullptr;
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                L"D:P(A;;FA;;;SY)(A;;FA;;;BA)", SDDL_REVISION_1, &sd, nullptr)) {
            return PSECURITY_DESCRIPTOR{};
        }
        return sd;
    }());
    return descriptor.get();
}

// The descriptor's access list; null when there is none.
PACL SecretAccessList() {
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = SecretDescriptor();
    if (!sd || !::GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) || !present)
        return nullptr;
    return dacl;
}

// Protected: the folder's inheritable entries do not reach the file.
constexpr SECURITY_INFORMATION kSecretInformation =
    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;

// An existing file keeps its own access list when it is emptied (CreateFileW
// ignores the descriptor then), so the list is set on the handle as well.
DWORD MakeHandleSecret(HANDLE h) {
    PACL dacl = SecretAccessList();
    if (!dacl) return ERROR_INVALID_SECURITY_DESCR;
    return ::SetSecurityInfo(h, SE_FILE_OBJECT, kSecretInformation, nullptr, nullptr, dacl,
                             nullptr);
}

std::FILE* StreamOfHandle(HANDLE h) {
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_APPEND | _O_TEXT);
    if (fd < 0) {
        ::CloseHandle(h);
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, "a");
    if (!f) {
        const int cause = errno;  // _close must not overwrite it
        _close(fd);
        errno = cause;
        return nullptr;
    }
    std::fseek(f, 0, SEEK_END);
    return f;
}
}  // namespace

std::FILE* OpenSharedFile(const std::string& path, const char* mode, int* error,
                          FileAccess access) {
    const bool append = std::strcmp(mode, "a") == 0;
    const bool secret = access == FileAccess::Secret;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, SecretDescriptor(), FALSE};
    HANDLE h = ::CreateFileW(Widen(path).c_str(), GENERIC_WRITE | (secret ? WRITE_DAC : 0),
                             kShareAll, secret ? &attributes : nullptr,
                             append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD failure = h == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    if (secret && h != INVALID_HANDLE_VALUE) {
        failure = MakeHandleSecret(h);
        if (failure != ERROR_SUCCESS) ::CloseHandle(h);
    }
    if (failure != ERROR_SUCCESS) {
        if (error) *error = RuntimeErrorOf(failure);
        return nullptr;
    }
    std::FILE* f = StreamOfHandle(h);
    if (!f && error) *error = errno;  // the runtime's own calls set it
    return f;
}

bool MakeFileSecret(const std::string& path, int* error) {
    PACL dacl = SecretAccessList();
    std::wstring wide = Widen(path);
    DWORD rc = dacl ? ::SetNamedSecurityInfoW(&wide[0], SE_FILE_OBJECT, kSecretInformation, nullptr,
                                              nullptr, dacl, nullptr)
                    : ERROR_INVALID_SECURITY_DESCR;
    if (rc == ERROR_SUCCESS) return true;
    *error = RuntimeErrorOf(rc);
    return false;
}

std::string SecretFileAccess() {
    PSECURITY_DESCRIPTOR sd = SecretDescriptor();
    LPWSTR text = nullptr;
    if (!sd || !::ConvertSecurityDescriptorToStringSecurityDescriptorW(
                   sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        return std::string();
    }
    std::unique_ptr<void, LocalFreeDeleter> owned(text);
    std::string narrow;
    for (const wchar_t* c = text; *c; ++c) narrow += static_cast<char>(*c);  // SDDL is ASCII
    return narrow;
}

bool FlushToDisk(std::FILE* stream) {
    if (std::fflush(stream) != 0) return false;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return h != INVALID_HANDLE_VALUE && ::FlushFileBuffers(h);
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
