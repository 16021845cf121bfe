#include <windows.h>

#include "platform/process.h"

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

}  // namespace

ProcessRun RunProcessAndWait(std::wstring& commandLine, const std::function<void()>& onStarted) {
    STARTUPINFOW startup;
    ::ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    ::ZeroMemory(&info, sizeof info);

    ProcessRun run;
    // No application name: the program is the (quoted) first token. The
    // buffer must be writable and zero-terminated; std::wstring is both.
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
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

}  // namespace marl::platform
