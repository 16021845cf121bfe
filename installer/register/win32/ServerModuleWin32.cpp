#include "installer/register/win32/ServerModuleWin32.h"

#include <windows.h>

#include <vector>

#include "provider/com/ProductIds.h"

namespace marl::installer {
namespace {

using ServerEntry = HRESULT(STDAPICALLTYPE*)();

// FormatMessageW's text without its line end, or "".
std::wstring SystemText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                        FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
    const DWORD length =
        ::FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (length > 0 && buffer != nullptr) text.assign(buffer, length);
    if (buffer != nullptr) ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\r' || text.back() == L'\n')) {
        text.pop_back();
    }
    return text;
}

class Win32ServerModule : public ServerModule {
  public:
    explicit Win32ServerModule(HMODULE module) : m_module(module) {
        m_register = Entry("DllRegisterServer");
        m_unregister = Entry("DllUnregisterServer");
    }
    ~Win32ServerModule() override { ::FreeLibrary(m_module); }
    Win32ServerModule(const Win32ServerModule&) = delete;
    Win32ServerModule& operator=(const Win32ServerModule&) = delete;

    bool Exports(ServerExport which) const override { return Find(which) != nullptr; }

    ResultCode Call(ServerExport which) override {
        ServerEntry entry = Find(which);
        return entry != nullptr ? entry() : ResultFromSystemError(ERROR_PROC_NOT_FOUND);
    }

  private:
    ServerEntry Entry(const char* name) const {
        return reinterpret_cast<ServerEntry>(
            reinterpret_cast<void*>(::GetProcAddress(m_module, name)));
    }
    ServerEntry Find(ServerExport which) const {
        return which == ServerExport::kRegisterServer ? m_register : m_unregister;
    }

    HMODULE m_module;
    ServerEntry m_register = nullptr;
    ServerEntry m_unregister = nullptr;
};

class Win32ServerLoader : public ServerModuleLoader {
  public:
    std::wstring AbsolutePath(const std::wstring& path) override {
        const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
        if (needed == 0) return path;
        std::vector<wchar_t> buffer(needed);
        const DWORD length = ::GetFullPathNameW(path.c_str(), needed, buffer.data(), nullptr);
        if (length == 0 || length >= needed) return path;
        return std::wstring(buffer.data(), length);
    }

    LoadedServer Load(const std::wstring& path) override {
        // No "cannot find" or "bad image" box for the DLL or its dependencies.
        DWORD previous = 0;
        const bool quiet =
            ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous);
        HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        const DWORD error = ::GetLastError();
        if (quiet) ::SetThreadErrorMode(previous, nullptr);

        LoadedServer loaded;
        if (module == nullptr) {
            loaded.systemError = error;
            loaded.errorText = SystemText(error);
            return loaded;
        }
        loaded.module = std::make_unique<Win32ServerModule>(module);
        return loaded;
    }

    std::wstring DescribeResult(ResultCode code) override {
        return SystemText(static_cast<DWORD>(code));
    }

    // The class's in-process server key is what COM activation needs; its
    // presence means an earlier registration is in place.
    bool ProviderRegistered() override {
        static const wchar_t kServerKey[] =
            L"CLSID\\{" MARL_CLSID_QPROVIDER_TEXT L"}\\InprocServer32";
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, kServerKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        ::RegCloseKey(key);
        return true;
    }
};

}  // namespace

std::unique_ptr<ServerModuleLoader> MakeSystemServerLoader() {
    return std::make_unique<Win32ServerLoader>();
}

}  // namespace marl::installer
