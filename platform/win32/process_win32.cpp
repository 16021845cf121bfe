#include <windows.h>

#include "platform/process.h"
#include "platform/win32/wide.h"

namespace marl::platform {

namespace {

// The started process must still be waited for and its handles closed, so a
// failing callback (it only logs) may not unwind past the wait.
void NotifyStarted(const std::function<void()>& onStarted) {
    if (!onStarted) return;
    try {
        onStarted();
    } catch (...) {
    }
}

// `application` may be null: the program is then the (quoted) first token of
// the line. The line must be writable and zero-terminated; std::wstring is
// both.
ProcessRun CreateAndWait(const wchar_t* application, std::wstring& commandLine,
                         const std::function<void()>& onStarted) {
    STARTUPINFOW startup;
    ::ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    ::ZeroMemory(&info, sizeof info);

    ProcessRun run;
    if (!::CreateProcessW(application, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info)) {
        run.error = ::GetLastError();
        return run;
    }
    run.started = true;
    NotifyStarted(onStarted);
    ::WaitForSingleObject(info.hProcess, INFINITE);
    ::CloseHandle(info.hProcess);
    ::CloseHandle(info.hThread);
    return run;
}

}  // namespace

ProcessRun RunProcessAndWait(std::wstring& commandLine, const std::function<void()>& onStarted) {
    return CreateAndWait(nullptr, commandLine, onStarted);
}

ProcessRun RunThroughInterpreter(const std::string& commandLine) {
    wchar_t system[MAX_PATH];
    UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        ProcessRun run;
        run.error = n == 0 ? ::GetLastError() : ERROR_BUFFER_OVERFLOW;
        return run;
    }
    std::wstring application = std::wstring(system, n) + L"\\cmd.exe";
    std::wstring line = L"cmd.exe /c " + Widen(commandLine);
    return CreateAndWait(application.c_str(), line, {});
}

}  // namespace marl::platform
