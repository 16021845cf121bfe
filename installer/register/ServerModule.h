#pragma once
// The seam between the registration policy (RegisterRun.h) and the operating
// system: loading a COM server DLL and calling the two exports with which it
// registers and unregisters itself.
//
// Backend: win32/ServerModuleWin32.cpp (LoadLibraryExW, GetProcAddress) in the
// Windows build; tests use testing/FakeServerModule.h.
//
// Results are HRESULTs carried as int32_t, so that this header and the policy
// build without Windows headers. System error numbers are Win32 error codes.
//
// Thread safety: none; one loader and its modules belong to one thread.
#include <cstdint>
#include <memory>
#include <string>

namespace marl::installer {

using ResultCode = std::int32_t;

constexpr ResultCode kOk = 0;
constexpr ResultCode kInvalidArgument = static_cast<ResultCode>(0x80070057u);  // E_INVALIDARG
constexpr ResultCode kUnexpected = static_cast<ResultCode>(0x8000FFFFu);       // E_UNEXPECTED
constexpr ResultCode kOutOfMemory = static_cast<ResultCode>(0x8007000Eu);      // E_OUTOFMEMORY
constexpr std::uint32_t kErrorProcNotFound = 127;  // ERROR_PROC_NOT_FOUND

inline bool Failed(ResultCode code) { return code < 0; }

// HRESULT_FROM_WIN32: a Win32 error number as a failure code (0 stays 0).
inline ResultCode ResultFromSystemError(std::uint32_t error) {
    if (error == 0) return kOk;
    return static_cast<ResultCode>((error & 0xFFFFu) | 0x80070000u);
}

enum class ServerExport { kRegisterServer, kUnregisterServer };

// "DllRegisterServer" or "DllUnregisterServer".
inline const wchar_t* ServerExportName(ServerExport which) {
    return which == ServerExport::kRegisterServer ? L"DllRegisterServer" : L"DllUnregisterServer";
}

// One loaded DLL. Destroying it unloads the DLL.
class ServerModule {
  public:
    virtual ~ServerModule() = default;
    // Whether the DLL exports `which`.
    virtual bool Exports(ServerExport which) const = 0;
    // Calls `which` (it must be exported) and returns its result. An export
    // that fails with a crash is not caught: it ends the process, as it would
    // end regsvr32.
    virtual ResultCode Call(ServerExport which) = 0;
};

// The outcome of Load: a module, or the system's error number (and, when
// the system has one, its text) and no module.
struct LoadedServer {
    std::unique_ptr<ServerModule> module;
    std::uint32_t systemError = 0;
    std::wstring errorText;
};

class ServerModuleLoader {
  public:
    virtual ~ServerModuleLoader() = default;
    // The absolute form of `path` (relative to the current folder), which is
    // what Load loads and what messages name; `path` itself when it cannot be
    // made absolute.
    virtual std::wstring AbsolutePath(const std::wstring& path) = 0;
    // Loads the DLL at the absolute `path`, its own dependencies looked up
    // in its folder first.
    virtual LoadedServer Load(const std::wstring& path) = 0;
    // The system's one-line text for a failure code, or "" when it has none.
    virtual std::wstring DescribeResult(ResultCode code) = 0;
    // Whether the provider's COM class is registered now. Asked before a
    // registration: what was in place then (a repair, a second run) is never
    // taken away by the undo of a failed one.
    virtual bool ProviderRegistered() = 0;
};

}  // namespace marl::installer
