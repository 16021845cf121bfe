// MarlVssRegister.exe: registers or unregisters a COM server DLL, as regsvr32
// does, but a registration that fails is undone at once and the outcome is
// the process's exit code (see RegisterRun.h); and installs or uninstalls the
// provider as a COM+ application with its Windows service (ComPlusRun.h).
// The installer runs it; an administrator may too.
#include <objbase.h>
#include <windows.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "installer/register/RegisterRun.h"
#include "installer/register/win32/ComPlusCatalogWin32.h"
#include "installer/register/win32/ServerModuleWin32.h"
#include "platform/utf8.h"

namespace {

// One line on the console as it is, or as UTF-8 into a file or pipe. Nothing
// when the stream is not there (a custom action may have none).
void WriteLine(DWORD which, const std::wstring& message) {
    HANDLE stream = ::GetStdHandle(which);
    if (stream == nullptr || stream == INVALID_HANDLE_VALUE) return;
    const std::wstring line = message + L"\r\n";
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(stream, &mode)) {
        ::WriteConsoleW(stream, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    const std::string bytes = marl::platform::Utf8Of(line);
    ::WriteFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// COM for the exports, in an apartment as regsvr32 gives them: a DLL that
// contacts VSS while registering needs it.
class ComApartment {
  public:
    ComApartment() : m_ok(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (m_ok) ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    bool m_ok;
};

int Run(int argc, wchar_t** argv) {
    using namespace marl::installer;
    const std::vector<std::wstring> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const RegisterCommand command = ParseRegisterCommand(args);
    RegisterOutcome outcome;
    {
        ComApartment com;
        std::unique_ptr<ServerModuleLoader> loader = MakeSystemServerLoader();
        std::unique_ptr<ComPlusCatalogOpener> catalogs = MakeSystemComPlusCatalogs();
        // The DLL and the catalog are released before COM is shut down.
        outcome = RunRegisterCommand(command, *loader, *catalogs);
    }
    WriteLine(outcome.isError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE, outcome.message);
    return static_cast<int>(outcome.exitCode);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        WriteLine(STD_ERROR_HANDLE, L"MarlVssRegister: out of memory (0x8007000E)");
        return static_cast<int>(marl::installer::kOutOfMemory);
    }
}
