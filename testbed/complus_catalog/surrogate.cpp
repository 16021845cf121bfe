// marl_complus_surrogate SERVICE APPLICATION_ID
//
// The stand-in for the COM+ surrogate (dllhost) that runs a COM+ server
// application as its Windows service (test-only): started by the service
// manager, it creates the provider object through the installed DLL, in its
// own process, and holds it while the service runs; the stop control releases
// it, so that the next start creates a fresh one that reads the configuration
// anew. Each start and stop is recorded in the stand-in catalog's calls.
#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "CatalogStore.h"
#include "provider/com/ProductGuids.h"

namespace {

std::wstring g_service;
std::wstring g_application;
SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stopEvent = nullptr;

void Report(DWORD state, DWORD exitCode = NO_ERROR) {
    SERVICE_STATUS s{};
    s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.dwCurrentState = state;
    s.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    s.dwWin32ExitCode = exitCode == NO_ERROR ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    s.dwServiceSpecificExitCode = exitCode;
    s.dwWaitHint = 1000;
    ::SetServiceStatus(g_status, &s);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING);
        ::SetEvent(g_stopEvent);
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

std::wstring Hex(HRESULT hr) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08X", static_cast<unsigned>(hr));
    return text;
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    g_status = ::RegisterServiceCtrlHandlerExW(g_service.c_str(), Control, nullptr);
    if (g_status == nullptr) return;
    g_stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IUnknown* provider = nullptr;
    const HRESULT created =
        ::CoCreateInstance(marl::com::kClsidQProvider, nullptr, CLSCTX_INPROC_SERVER,
                           __uuidof(IUnknown), reinterpret_cast<void**>(&provider));
    marl::testcatalog::LogCall(L"surrogate " + g_application + L" created the provider " +
                               Hex(created));
    if (FAILED(created)) {
        if (SUCCEEDED(com)) ::CoUninitialize();
        Report(SERVICE_STOPPED, static_cast<DWORD>(created));
        return;
    }
    Report(SERVICE_RUNNING);
    ::WaitForSingleObject(g_stopEvent, INFINITE);
    provider->Release();
    marl::testcatalog::LogCall(L"surrogate " + g_application + L" released the provider");
    if (SUCCEEDED(com)) ::CoUninitialize();
    Report(SERVICE_STOPPED);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: marl_complus_surrogate SERVICE APPLICATION_ID\n");
        return 2;
    }
    g_service = argv[1];
    g_application = argv[2];
    SERVICE_TABLE_ENTRYW table[] = {{&g_service[0], ServiceMain}, {nullptr, nullptr}};
    return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
