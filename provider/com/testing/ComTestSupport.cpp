#include "ComTestSupport.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace marl::comtest {

std::wstring HostPath(const std::string& unixPath) {
    std::wstring path = L"Z:";
    for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return path;
}

// A process start that fails is tried again a few times: under a loaded
// Wine the start of a process was once seen to fail where the same start at
// once succeeded. Every failure is reported on stderr with its error code.
long RunProgram(const std::wstring& commandLine) {
    constexpr int kAttempts = 3;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        std::wstring line = commandLine;  // CreateProcessW may write into it
        if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &process)) {
            std::fprintf(stderr, "RunProgram: CreateProcessW failed (%lu), attempt %d: %ls\n",
                         ::GetLastError(), attempt, commandLine.c_str());
            ::Sleep(500);
            continue;
        }
        DWORD waited = ::WaitForSingleObject(process.hProcess, 120000);
        DWORD code = 0;
        bool done = waited == WAIT_OBJECT_0 && ::GetExitCodeProcess(process.hProcess, &code);
        if (!done)
            std::fprintf(stderr, "RunProgram: no exit code (wait %lu, error %lu): %ls\n", waited,
                         ::GetLastError(), commandLine.c_str());
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
        return done ? static_cast<long>(code) : -1;
    }
    return -1;
}

bool ReadText(HKEY root, const std::wstring& key, const std::wstring& name, std::wstring& value) {
    wchar_t buffer[2048] = {};
    DWORD bytes = sizeof buffer - sizeof(wchar_t);
    DWORD type = 0;
    HKEY handle = nullptr;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    LONG error = ::RegQueryValueExW(handle, name.empty() ? nullptr : name.c_str(), nullptr, &type,
                                    reinterpret_cast<BYTE*>(buffer), &bytes);
    ::RegCloseKey(handle);
    if (error != ERROR_SUCCESS || type != REG_SZ) return false;
    value = buffer;
    return true;
}

bool KeyExists(HKEY root, const std::wstring& key) {
    HKEY handle = nullptr;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    ::RegCloseKey(handle);
    return true;
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    return static_cast<bool>(out);
}

bool ReadBytes(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    bytes = text.str();
    return true;
}

ExportedServer::ExportedServer(const std::wstring& path) : m_module(::LoadLibraryW(path.c_str())) {}

ExportedServer::~ExportedServer() {
    if (m_module != nullptr) ::FreeLibrary(m_module);
}

void* ExportedServer::Export(const char* name) const {
    return m_module != nullptr ? reinterpret_cast<void*>(::GetProcAddress(m_module, name))
                               : nullptr;
}

namespace {
using NoArguments = HRESULT(STDAPICALLTYPE*)();
using ClassObjectGetter = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CClassObjectGetter = HRESULT(STDAPICALLTYPE*)(const CLSID*, const IID*, void**);
}  // namespace

HRESULT ExportedServer::RegisterServer() const {
    auto call = reinterpret_cast<NoArguments>(Export("DllRegisterServer"));
    return call != nullptr ? call() : E_NOTIMPL;
}

HRESULT ExportedServer::UnregisterServer() const {
    auto call = reinterpret_cast<NoArguments>(Export("DllUnregisterServer"));
    return call != nullptr ? call() : E_NOTIMPL;
}

HRESULT ExportedServer::CanUnloadNow() const {
    auto call = reinterpret_cast<NoArguments>(Export("DllCanUnloadNow"));
    return call != nullptr ? call() : E_NOTIMPL;
}

HRESULT ExportedServer::GetClassObject(REFCLSID clsid, REFIID iid, void** ppv) const {
    auto call = reinterpret_cast<ClassObjectGetter>(Export("DllGetClassObject"));
    return call != nullptr ? call(clsid, iid, ppv) : E_NOTIMPL;
}

HRESULT ExportedServer::GetClassObjectFromC(const CLSID* clsid, const IID* iid, void** ppv) const {
    auto call = reinterpret_cast<CClassObjectGetter>(Export("DllGetClassObject"));
    return call != nullptr ? call(clsid, iid, ppv) : E_NOTIMPL;
}

}  // namespace marl::comtest
