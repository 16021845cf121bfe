// marl_test_service RECORD_FILE [ignore-stop]
//
// An own-process Windows service that appends "start" to RECORD_FILE each time
// it starts and "stop" when it stops. With "ignore-stop" it acknowledges the
// stop control but keeps running, like a service that hangs on shut-down.
// Tests create it under the provider's service name in a Wine prefix of their
// own and watch the configurator restart it.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string g_record;
bool g_ignoreStop = false;
SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stopEvent = nullptr;

void Record(const char* what) {
    if (FILE* f = std::fopen(g_record.c_str(), "a")) {
        std::fprintf(f, "%s\n", what);
        std::fclose(f);
    }
}

void Report(DWORD state) {
    SERVICE_STATUS s{};
    s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.dwCurrentState = state;
    s.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    s.dwWin32ExitCode = NO_ERROR;
    s.dwWaitHint = 1000;
    SetServiceStatus(g_status, &s);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP) {
        if (g_ignoreStop) {
            Record("stop ignored");
            Report(SERVICE_RUNNING);
        } else {
            Report(SERVICE_STOP_PENDING);
            SetEvent(g_stopEvent);
        }
        return NO_ERROR;
    }
    if (control == SERVICE_CONTROL_INTERROGATE) return NO_ERROR;
    return ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    g_status = RegisterServiceCtrlHandlerExW(L"marlvssprovider", Control, nullptr);
    if (!g_status) return;
    g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Report(SERVICE_RUNNING);
    Record("start");
    WaitForSingleObject(g_stopEvent, INFINITE);
    Record("stop");
    Report(SERVICE_STOPPED);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: marl_test_service RECORD_FILE [ignore-stop]\n");
        return 2;
    }
    g_record = argv[1];
    g_ignoreStop = argc > 2 && std::string(argv[2]) == "ignore-stop";
    wchar_t name[] = L"marlvssprovider";
    SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
