#include <windows.h>

#include "debugtool/os/debug_os.h"

namespace marl::debugtool::os {

bool CreateFolder(const std::string& path, uint32_t* error) {
    if (::CreateDirectoryW(WidenPath(path).c_str(), nullptr)) return true;
    *error = ::GetLastError();
    return false;
}

uint32_t ChangeFolder(const std::string& path) {
    return ::SetCurrentDirectoryW(WidenPath(path).c_str()) ? 0 : ::GetLastError();
}

uint32_t DeleteOneFile(const std::string& path) {
    return ::DeleteFileW(WidenPath(path).c_str()) ? 0 : ::GetLastError();
}

uint32_t RemoveFolder(const std::string& path) {
    return ::RemoveDirectoryW(WidenPath(path).c_str()) ? 0 : ::GetLastError();
}

LocalTime CurrentLocalTime() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    LocalTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    return t;
}

bool RunThroughInterpreter(const std::string& commandLine) {
    // The interpreter is taken from the system folder by its full path: the
    // current directory is the installation folder, and a program of the
    // same name there must not be started in its place.
    wchar_t system[MAX_PATH];
    UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    std::wstring application = std::wstring(system, n) + L"\\cmd.exe";
    std::wstring line = L"cmd.exe /c " + WidenPath(commandLine);

    STARTUPINFOW startup;
    ::ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    ::ZeroMemory(&info, sizeof info);
    if (!::CreateProcessW(application.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info)) {
        return false;
    }
    ::WaitForSingleObject(info.hProcess, INFINITE);
    ::CloseHandle(info.hProcess);
    ::CloseHandle(info.hThread);
    return true;
}

}  // namespace marl::debugtool::os
