#include <windows.h>

#include "platform/files.h"
#include "platform/win32/wide.h"

namespace marl::platform {

namespace {

uint64_t TicksOf(const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

class Win32InputFile final : public InputFile {
  public:
    explicit Win32InputFile(HANDLE h) : m_handle(h) {}
    ~Win32InputFile() override { ::CloseHandle(m_handle); }

    bool Read(void* buffer, size_t capacity, size_t* got) override {
        DWORD want = capacity > 0x40000000 ? 0x40000000 : static_cast<DWORD>(capacity);
        DWORD n = 0;
        if (!::ReadFile(m_handle, buffer, want, &n, nullptr)) return false;
        *got = n;
        return true;
    }

    bool Rewind() override {
        LARGE_INTEGER zero{};
        return ::SetFilePointerEx(m_handle, zero, nullptr, FILE_BEGIN) != 0;
    }

    bool Facts(FileFacts* facts) override {
        BY_HANDLE_FILE_INFORMATION info;
        if (!::GetFileInformationByHandle(m_handle, &info)) return false;
        facts->attributes = info.dwFileAttributes;
        facts->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        facts->lastWriteTime = TicksOf(info.ftLastWriteTime);
        facts->lastAccessTime = TicksOf(info.ftLastAccessTime);
        facts->creationTime = TicksOf(info.ftCreationTime);
        return true;
    }

  private:
    HANDLE m_handle;
};

class Win32OutputFile final : public OutputFile {
  public:
    explicit Win32OutputFile(HANDLE h) : m_handle(h) {}
    ~Win32OutputFile() override { Close(); }

    size_t Write(const void* data, size_t size) override {
        if (m_handle == INVALID_HANDLE_VALUE) return 0;
        const char* p = static_cast<const char*>(data);
        size_t done = 0;
        while (done < size) {
            size_t left = size - done;
            DWORD piece = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
            DWORD n = 0;
            if (!::WriteFile(m_handle, p + done, piece, &n, nullptr) || n == 0) break;
            done += n;
        }
        return done;
    }

    bool SeekTo(uint64_t offset) override {
        if (m_handle == INVALID_HANDLE_VALUE) return false;
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        return ::SetFilePointerEx(m_handle, to, nullptr, FILE_BEGIN) != 0;
    }

    bool IsOpen() const override { return m_handle != INVALID_HANDLE_VALUE; }

    void Close() override {
        if (m_handle != INVALID_HANDLE_VALUE) ::CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE m_handle;
};

}  // namespace

std::unique_ptr<InputFile> OpenFileForReading(const std::wstring& path, uint32_t* error) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = ::GetLastError();
        return nullptr;
    }
    return std::make_unique<Win32InputFile>(h);
}

std::unique_ptr<OutputFile> CreateFileForWriting(const std::wstring& path, uint32_t* error) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = ::GetLastError();
        return nullptr;
    }
    return std::make_unique<Win32OutputFile>(h);
}

std::wstring WidenPath(const std::string& path) { return Widen(path); }

bool CreateFolder(const std::string& path, uint32_t* error) {
    if (::CreateDirectoryW(Widen(path).c_str(), nullptr)) return true;
    *error = ::GetLastError();
    return false;
}

uint32_t ChangeFolder(const std::string& path) {
    return ::SetCurrentDirectoryW(Widen(path).c_str()) ? 0 : ::GetLastError();
}

uint32_t DeleteOneFile(const std::string& path) {
    return ::DeleteFileW(Widen(path).c_str()) ? 0 : ::GetLastError();
}

uint32_t RemoveFolder(const std::string& path) {
    return ::RemoveDirectoryW(Widen(path).c_str()) ? 0 : ::GetLastError();
}

}  // namespace marl::platform
