#include "common/QVssLog.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <cwchar>

#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/shared_file.h"

namespace {

constexpr char kLogUnit[] = "QVssLog";
constexpr size_t kHeaderBuffer = 130;
constexpr size_t kMessageBuffer = 300;
constexpr uint64_t kRotateAbove = 0x100000;  // 1,048,576 bytes
// When a rotation could not move the current file away (a reader without
// delete sharing holds a generation open, say), the file keeps its lines and
// the next attempt waits for this much more growth: retrying at every line
// would shift, and so delete, one older generation per line.
constexpr uint64_t kRotateRetryGrowth = 0x10000;
constexpr size_t kTraceBuffer = 4096;
constexpr int kInitialLevel = QLOG_INFO;
constexpr int kInvalidLevel = 5;

const char* LevelName(int level) {
    static const char* const names[] = {"ERROR", "WARN", "INFO", "DEBUG", "TRACE"};
    return (level >= 0 && level < kInvalidLevel) ? names[level] : "UKNOWN";
}

// Text that did not fit its buffer (with the terminating zero) keeps its
// first size - 2 characters and is marked with "<".
void MarkCutIfNeeded(char* buffer, size_t size, int needed) {
    if (needed < 0 || static_cast<size_t>(needed) >= size) {
        buffer[size - 2] = '<';
        buffer[size - 1] = '\0';
    }
}

// What the header says about one line; read before the mutex is taken.
struct LineStamp {
    const char* function;
    const char* file;
    long line;
    const std::string& module;
    int level;
    marl::platform::LocalTime time;
    uint32_t pid;
    uint32_t tid;
};

LineStamp Stamp(const char* function, const char* file, long line, const std::string& module,
                int level) {
    return LineStamp{function,
                     file,
                     line,
                     module,
                     level,
                     marl::platform::GetLocalTimeNow(),
                     marl::platform::CurrentProcessId(),
                     marl::platform::CurrentThreadId()};
}

// Writes as much of the header as fits and returns the length of the whole.
int FormatHeader(char* buffer, size_t size, const LineStamp& s) {
    const marl::platform::LocalTime& t = s.time;
    return std::snprintf(
        buffer, size,
        "[%04d/%02d/%02d-%02d:%02d:%02d.%03ld][%s][%s][%s:%ld][%s][PID:0x%x][TID:0x%x]", t.year,
        t.month, t.day, t.hour, t.minute, t.second, static_cast<long>(t.millisecond),
        s.module.c_str(), LevelName(s.level), s.file, s.line, s.function, s.pid, s.tid);
}

std::string GenerationName(const std::string& base, int n) {
    return base + "_" + std::to_string(n) + ".txt";
}

}  // namespace

struct CQLogger::Impl {
    marl::platform::NamedMutex mutex{"q9_logger"};
    std::string fileName;
    std::FILE* file = nullptr;
    bool opened = false;  // OpenLogFile succeeded: lines may (re)open the file
    marl::platform::FileIdentity identity;
    uint64_t rotateAbove = kRotateAbove;
    uint64_t retryAbove = 0;  // after a rotation that left the file in place
    std::atomic<int> providerLevel{kInitialLevel};
    std::atomic<int> jsonLevel{kInitialLevel};
    std::atomic<int> configuratorLevel{kInitialLevel};

    std::atomic<int>* LevelOf(const std::string& module) {
        if (module == "PROVIDER") return &providerLevel;
        if (module == "JSON") return &jsonLevel;
        if (module == "CONFIGURATOR") return &configuratorLevel;
        return nullptr;
    }

    bool Open(const char* mode) {
        file = marl::platform::OpenSharedFile(fileName, mode);
        if (file && !marl::platform::IdentityOfStream(file, &identity)) identity = {};
        return file != nullptr;
    }

    void Close() {
        if (file) std::fclose(file);
        file = nullptr;
    }

    // Called with the mutex held, before each line. Another process sharing
    // the file may have rotated it since our last line: then our stream
    // points at a generation, and we follow the file that now has the name.
    // Returns the current size of the file, for the rotation check.
    uint64_t FollowCurrentFile() {
        marl::platform::FileIdentity now;
        uint64_t size = 0;
        if (!marl::platform::IdentityOfPath(fileName, &now, &size)) {
            Close();  // renamed away and not yet replaced
            retryAbove = 0;
            Open("a");
            return 0;
        }
        if (!file || now != identity) {
            Close();
            retryAbove = 0;
            Open("a");
        }
        return size;
    }

    void Rotate(uint64_t size) {
        std::string base = fileName.substr(0, fileName.find('.'));
        for (int n = 3; n >= 1; --n) {
            std::string newer = GenerationName(base, n);
            if (marl::platform::PathExists(newer)) std::remove(newer.c_str());
            std::rename(GenerationName(base, n - 1).c_str(), newer.c_str());
        }
        Close();
        std::string first = GenerationName(base, 0);
        if (marl::platform::PathExists(first)) std::remove(first.c_str());
        if (std::rename(fileName.c_str(), first.c_str()) == 0) {
            Open("w");
            return;
        }
        // The lines are still at the path: truncating them ("w") would lose
        // them, so keep appending and try again later.
        Open("a");
        retryAbove = size + kRotateRetryGrowth;
    }

    // With the mutex held: follow a rotation made elsewhere, rotate when the
    // file has grown past the limit, and report whether there is a stream.
    bool PrepareForLine() {
        if (!opened) return false;
        uint64_t size = FollowCurrentFile();
        if (file && size > std::max(rotateAbove, retryAbove)) Rotate(size);
        return file != nullptr;
    }
};

namespace {
class MutexHold {
  public:
    explicit MutexHold(marl::platform::NamedMutex& m) : m_mutex(m) { m_mutex.Lock(); }
    ~MutexHold() { m_mutex.Unlock(); }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;

  private:
    marl::platform::NamedMutex& m_mutex;
};
}  // namespace

CQLogger* CQLogger::getInstance() {
    static CQLogger* instance = new CQLogger();  // lives until the process ends
    return instance;
}

CQLogger::CQLogger() : m_impl(std::make_unique<Impl>()) {}

CQLogger::~CQLogger() {
    MutexHold hold(m_impl->mutex);
    if (m_impl->opened) m_impl->FollowCurrentFile();  // end the file that has the name
    if (m_impl->file) {
        std::fputs("*** End of Log ***\n", m_impl->file);
        m_impl->Close();
    }
}

bool CQLogger::OpenLogFile(std::string path) {
    MutexHold hold(m_impl->mutex);
    if (m_impl->file) return true;
    m_impl->fileName = path;
    m_impl->opened = m_impl->Open("a");
    if (!m_impl->opened) return false;
    m_impl->retryAbove = 0;
    std::fputs("**\n** Marl VSS Provider log\n**\n", m_impl->file);
    std::fflush(m_impl->file);
    return true;
}

void CQLogger::SetLogLevel(const std::string& module, const std::string& levelName) {
    static const char* const names[] = {"error", "warn", "info", "debug", "trace"};
    int level = kInvalidLevel;
    for (int i = 0; i < kInvalidLevel && level == kInvalidLevel; ++i) {
        if (levelName.size() == std::strlen(names[i])) {
            bool same = true;
            for (size_t k = 0; k < levelName.size() && same; ++k) {
                char c = levelName[k];
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
                same = c == names[i][k];
            }
            if (same) level = i;
        }
    }
    SetLogLevel(module, level);
}

void CQLogger::SetLogLevel(const std::string& module, int level) {
    if (level >= kInvalidLevel) return;
    if (std::atomic<int>* threshold = m_impl->LevelOf(module)) threshold->store(level);
    qm_vss_log("CQLogger::SetLogLevel", kLogUnit, __LINE__, module, QLOG_INFO,
               "Change log level of '%s' module to '%s'", module.c_str(), LevelName(level));
}

bool CQLogger::IsLogLevelEnabled(const std::string& module, int level) {
    if (level >= kInvalidLevel) return false;
    std::atomic<int>* threshold = m_impl->LevelOf(module);
    return threshold && threshold->load(std::memory_order_relaxed) >= level;
}

// The process and thread ids are read after the threshold check: reading
// them costs system calls on POSIX, and a suppressed line must cost no more
// than the comparison.
void CQLogger::qm_vss_log(const char* function, const char* file, long line, std::string module,
                          int level, const char* format, ...) {
    if (!IsLogLevelEnabled(module, level)) return;
    LineStamp stamp = Stamp(function, file, line, module, level);
    char header[kHeaderBuffer];
    MarkCutIfNeeded(header, kHeaderBuffer, FormatHeader(header, kHeaderBuffer, stamp));
    char message[kMessageBuffer];
    va_list args;
    va_start(args, format);
    int needed = std::vsnprintf(message, kMessageBuffer, format, args);
    va_end(args);
    MarkCutIfNeeded(message, kMessageBuffer, needed);

    MutexHold hold(m_impl->mutex);
    if (!m_impl->PrepareForLine()) return;
    std::fprintf(m_impl->file, "%s%s\n", header, message);
    std::fflush(m_impl->file);
}

void CQLogger::qm_vss_log_full(const char* function, const char* file, long line,
                               std::string module, int level, const char* format, ...) {
    if (!IsLogLevelEnabled(module, level)) return;
    LineStamp stamp = Stamp(function, file, line, module, level);
    char shortHeader[kHeaderBuffer];
    int needed = FormatHeader(shortHeader, kHeaderBuffer, stamp);
    std::string longHeader;
    if (needed >= static_cast<int>(kHeaderBuffer)) {  // no cut here: the header is written whole
        longHeader.resize(static_cast<size_t>(needed) + 1);
        FormatHeader(&longHeader[0], longHeader.size(), stamp);
        longHeader.resize(static_cast<size_t>(needed));
    }
    const char* header = longHeader.empty() ? shortHeader : longHeader.c_str();
    if (needed < 0) shortHeader[0] = '\0';

    MutexHold hold(m_impl->mutex);
    if (!m_impl->PrepareForLine()) return;
    std::fputs(header, m_impl->file);
    va_list args;
    va_start(args, format);
    std::vfprintf(m_impl->file, format, args);
    va_end(args);
    std::fputs("\n", m_impl->file);
    std::fflush(m_impl->file);
}

void CQLogger::ResetForTesting() {
    MutexHold hold(m_impl->mutex);
    m_impl->Close();
    m_impl->fileName.clear();
    m_impl->opened = false;
    m_impl->rotateAbove = kRotateAbove;
    m_impl->retryAbove = 0;
    m_impl->providerLevel = kInitialLevel;
    m_impl->jsonLevel = kInitialLevel;
    m_impl->configuratorLevel = kInitialLevel;
}

void CQLogger::SetRotationLimitForTesting(uint64_t bytes) {
    MutexHold hold(m_impl->mutex);
    m_impl->rotateAbove = bytes;
}

void DebugOutputFormatted(const wchar_t* format, ...) {
    wchar_t buffer[kTraceBuffer];
    va_list args;
    va_start(args, format);
    int n = std::vswprintf(buffer, kTraceBuffer, format, args);
    va_end(args);
    if (n >= 0 && static_cast<size_t>(n) < kTraceBuffer) marl::platform::OutputDebugText(buffer);
}

FuncTrace::FuncTrace(const wchar_t* name) : m_name(name) {
    DebugOutputFormatted(L"Entering: %ls\n", m_name);
}

FuncTrace::~FuncTrace() { DebugOutputFormatted(L"Exiting: %ls\n", m_name); }
