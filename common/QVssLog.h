#pragma once
// The process's logger and the function-entry tracer.
//
// One CQLogger per process (getInstance). It writes one text file, filters
// lines per module and level, stamps each line with time, module, level,
// source position, function, process and thread, and rotates the file when it
// passes 1 MiB, keeping four older generations (<base>_0.txt newest ..
// <base>_3.txt oldest, where <base> is the path up to its first ".").
//
// Thread safety: every write (size check, rotation, the line itself) happens
// under the named mutex "q9_logger", shared with the other processes of this
// machine that log. Thresholds are plain integers read without a lock.
// getInstance() is not synchronised: the first call must come before a second
// thread logs. Logging never fails its caller: a line logged while there is no
// open file is dropped (and, after a failed reopen at rotation, the next line
// tries to open the file again).
//
// Several processes may share one file: each follows a rotation made by
// another (its next line goes to the new file), and every write appends. A
// rotation that cannot move the file away keeps appending to it and tries
// again after 64 KiB more.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>


enum QLogLevel { QLOG_ERROR = 0, QLOG_WARN = 1, QLOG_INFO = 2, QLOG_DEBUG = 3, QLOG_TRACE = 4 };

class CQLogger {
  public:
    // The process's logger, created on the first call; it lives until the
    // process ends.
    static CQLogger* getInstance();

    // A separate logger; used by tests that need their own file.
    CQLogger();
    ~CQLogger();
    CQLogger(const CQLogger&) = delete;
    CQLogger& operator=(const CQLogger&) = delete;

    // Opens `path` for appending and writes the banner. A second call while a
    // file is open returns true and keeps the first file.
    bool OpenLogFile(std::string path);

    void SetLogLevel(const std::string& module, const std::string& levelName);
    void SetLogLevel(const std::string& module, int level);
    bool IsLogLevelEnabled(const std::string& module, int level);

    // printf-style; the header is cut to 128 characters and the message to
    // 298, each then marked with "<". "%S" takes a wide string.
    void qm_vss_log(const char* function, const char* file, long line, std::string module,
                    int level, const char* format, ...)
#if defined(__GNUC__) && !defined(_WIN32)
        __attribute__((format(printf, 7, 8)))
#endif
        ;
    // The same, but header and message are written whole, straight into the
    // file (for whole requests, replies and lists).
    void qm_vss_log_full(const char* function, const char* file, long line, std::string module,
                         int level, const char* format, ...)
#if defined(__GNUC__) && !defined(_WIN32)
        __attribute__((format(printf, 7, 8)))
#endif
        ;

    // Test support: close the current file (if any) so that the next
    // OpenLogFile opens another one, and restore the initial thresholds.
    void ResetForTesting();
    // Test support: rotate when the file is larger than `bytes` instead of
    // 1,048,576, so that a test can force several rotations with a line count
    // whose lines all still fit in the current file and its four generations.
    void SetRotationLimitForTesting(uint64_t bytes);
    // Test support: how long a line waits for the log mutex before it is
    // written without it (5,000 ms), set before a second thread logs.
    void SetMutexWaitForTesting(uint32_t milliseconds);

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Writes "Entering: <name>\n" to the debugger output when constructed and
// "Exiting: <name>\n" when destroyed (at every exit of the scope).
class FuncTrace {
  public:
    explicit FuncTrace(const wchar_t* name);
    ~FuncTrace();
    FuncTrace(const FuncTrace&) = delete;
    FuncTrace& operator=(const FuncTrace&) = delete;

  private:
    const wchar_t* m_name;
};

namespace marl::common {

// Writes a printf-formatted wide text to the debugger output when it fits a
// 4096-character buffer; nothing otherwise. Used for the "returning 0x%08x\n"
// lines of the provider's methods and by FuncTrace.
void DebugOutputFormatted(const wchar_t* format, ...);

}  // namespace marl::common

// Call-site helpers. Each source file defines its unit name once:
//   static constexpr char kLogUnit[] = "QProviderInterface";
// and logs with the function's qualified name:
//   QVSS_LOG("CQProvider::TakeSnap", "PROVIDER", QLOG_INFO, "TakeRegularSnap");
#define QVSS_LOG(function, module, level, ...) \
    CQLogger::getInstance()->qm_vss_log(function, kLogUnit, __LINE__, module, level, __VA_ARGS__)
#define QVSS_LOG_FULL(function, module, level, ...)                                       \
    CQLogger::getInstance()->qm_vss_log_full(function, kLogUnit, __LINE__, module, level, \
                                             __VA_ARGS__)
