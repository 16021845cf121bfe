#pragma once
// Test support: start a program without waiting for it (CreateProcessW), so
// that several processes can run at once, and collect its exit code later.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/wide.h"

namespace marl::platform::testing {

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess() { Wait(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Arguments are quoted whole; they must not contain double quotes.
    bool Start(const std::string& program, const std::vector<std::string>& args) {
        std::wstring commandLine = L"\"" + Widen(program) + L"\"";
        for (const std::string& a : args) commandLine += L" \"" + Widen(a) + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &si, &pi)) {
            return false;
        }
        ::CloseHandle(pi.hThread);
        m_process = pi.hProcess;
        return true;
    }

    // The exit code; -1 when there is none.
    int Wait() {
        if (!m_process) return m_exitCode;
        ::WaitForSingleObject(m_process, INFINITE);
        DWORD code = 0;
        m_exitCode = ::GetExitCodeProcess(m_process, &code) ? static_cast<int>(code) : -1;
        ::CloseHandle(m_process);
        m_process = nullptr;
        return m_exitCode;
    }

  private:
    HANDLE m_process = nullptr;
    int m_exitCode = -1;
};

}  // namespace marl::platform::testing
