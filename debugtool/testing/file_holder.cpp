// Test support (Windows): keeps a file open for writing from another process
// until told to let go, as a running provider keeps its log open.
//
//   marl_debugtool_holder write <file> <ready> <release>
//       opens <file> for writing (sharing read and write), writes a line
//   marl_debugtool_holder log <file> <ready> <release>
//       opens <file> as its log through the product's logger, logs a line
//
// Then it creates <ready>, waits (at most 120 s) until <release> exists and
// exits. Exit code 0, or 2 when the file could not be opened.
#include <windows.h>

#include <string>

#include "common/QVssLog.h"

namespace {

std::wstring Wide(const char* s) { return std::wstring(s, s + std::char_traits<char>::length(s)); }

void WaitForRelease(const char* ready, const char* release) {
    HANDLE h = ::CreateFileW(Wide(ready).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    for (int i = 0; i < 1200; ++i) {
        if (::GetFileAttributesW(Wide(release).c_str()) != INVALID_FILE_ATTRIBUTES) return;
        ::Sleep(100);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) return 64;
    std::string mode = argv[1];
    if (mode == "log") {
        CQLogger* log = CQLogger::getInstance();
        if (!log->OpenLogFile(argv[2])) return 2;
        log->qm_vss_log("CQProvider::CQProvider", "QProvider", 1, "PROVIDER", QLOG_INFO,
                        "Provider Version: %s", "held open by a test");
        WaitForRelease(argv[3], argv[4]);
        return 0;
    }
    HANDLE h =
        ::CreateFileW(Wide(argv[2]).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 2;
    DWORD n = 0;
    ::WriteFile(h, "held\r\n", 6, &n, nullptr);
    WaitForRelease(argv[3], argv[4]);
    ::CloseHandle(h);
    return 0;
}
