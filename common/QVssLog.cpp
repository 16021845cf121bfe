#include "common/QVssLog.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <string>

#include "common/LogMutex.h"
#include "common/QVssLogHeader.h"
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
constexpr uint64_t kRecordTag = 0x514c4f474c494e45ull;  // marks a valid last-line record
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

marl::common::QLogLineStamp Stamp(const char* function, const char* file, long line,
                                  const std::string& module, int level) {
    return marl::common::QLogLineStamp{function,
                                       file,
                                       line,
                                       module,
                                       LevelName(level),
                                       marl::platform::GetLocalTimeNow(),
                                       marl::platform::CurrentProcessId(),
                                       marl::platform::CurrentThreadId()};
}

// Completes a text formatted into `size` bytes at `buffer` (`needed`, what
// the formatter reported): cut and marked when it did not fit. Returns its
// length.
size_t FormatInto(char* buffer, size_t size, int needed) {
    MarkCutIfNeeded(buffer, size, needed);
    if (needed < 0) return std::strlen(buffer);
    return std::min(static_cast<size_t>(needed), size - 1);
}

std::string GenerationName(const std::string& base, int n) {
    return base + "_" + std::to_string(n) + ".txt";
}

}  // namespace

struct CQLogger::Impl {
    marl::common::LogMutex mutex{"q9_logger"};
    std::string fileName;
    std::FILE* file = nullptr;
    bool opened = false;  // OpenLogFile succeeded: lines may (re)open the file
    marl::platform::FileIdentity identity;
    bool identityKnown = false;
    uint64_t rotateAbove = kRotateAbove;
    uint64_t retryAbove = 0;  // after a rotation that left the file in place
    std::atomic<int> providerLevel{kInitialLevel};
    std::atomic<int> jsonLevel{kInitialLevel};
    std::atomic<int> configuratorLevel{kInitialLevel};

    // Every suppressed line comes through here, so the module is matched by
    // its length first and then compared inline, without library calls.
    std::atomic<int>* LevelOf(const std::string& module) {
        switch (module.size()) {
            case 8:
                return Is(module, "PROVIDER") ? &providerLevel : nullptr;
            case 4:
                return Is(module, "JSON") ? &jsonLevel : nullptr;
            case 12:
                return Is(module, "CONFIGURATOR") ? &configuratorLevel : nullptr;
            default:
                return nullptr;
        }
    }
    bool Enabled(const std::string& module, int level) {
        if (level >= kInvalidLevel) return false;
        std::atomic<int>* threshold = LevelOf(module);
        return threshold && threshold->load(std::memory_order_relaxed) >= level;
    }
    template <size_t N>
    static bool Is(const std::string& module, const char (&name)[N]) {
        return std::memcmp(module.data(), name, N - 1) == 0;
    }

    bool Open(const char* mode) {
        file = marl::platform::OpenSharedFile(fileName, mode);
        identityKnown = file && marl::platform::IdentityOfStream(file, &identity);
        return file != nullptr;
    }

    // The mutex's shared words remember which file the last line of any
    // process went to. When that is our own file, nobody has rotated it since
    // (a rotation forgets the record), so the lookup of the path, the dearest
    // part of a line after the write itself, can be skipped: the size comes
    // from our own stream. A file deleted meanwhile fails that read, and the
    // path is looked up again.
    bool LastLineWasOurs(uint64_t* size) {
        const uint64_t* w = mutex.SharedWords();
        return w && file && identityKnown && w[0] == kRecordTag && w[1] == identity.volume &&
               w[2] == identity.index && marl::platform::SizeOfStream(file, size);
    }

    void NoteLastLine(bool written) {
        uint64_t* w = mutex.SharedWords();
        if (!w) return;
        w[0] = written && file && identityKnown ? kRecordTag : 0;
        w[1] = identity.volume;
        w[2] = identity.index;
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
        NoteLastLine(false);  // the file the record names is about to move
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
        uint64_t size = 0;
        if (!LastLineWasOurs(&size)) size = FollowCurrentFile();
        // Without the mutex another process may be writing or rotating the
        // same file: the rotation waits until the mutex is ours again.
        if (file && mutex.Held() && size > std::max(rotateAbove, retryAbove)) Rotate(size);
        return file != nullptr;
    }

    void WriteLine(const char* function, const char* file, long line, const std::string& module,
                   int level, const char* format, va_list args, bool whole);
    void WriteCut(const marl::common::QLogLineStamp& stamp, const char* format, va_list args);
    void WriteMutexTimeOut(const std::string& module);
    void WriteWhole(const marl::common::QLogLineStamp& stamp, const char* format, va_list args);
};

CQLogger* CQLogger::getInstance() {
    static CQLogger* instance = new CQLogger();  // lives until the process ends
    return instance;
}

CQLogger::CQLogger() : m_impl(std::make_unique<Impl>()) {}

CQLogger::~CQLogger() {
    marl::common::LogMutexHold hold(m_impl->mutex);
    if (m_impl->opened) m_impl->FollowCurrentFile();  // end the file that has the name
    if (m_impl->file) {
        std::fputs("*** End of Log ***\n", m_impl->file);
        m_impl->Close();
    }
}

bool CQLogger::OpenLogFile(std::string path) {
    marl::common::LogMutexHold hold(m_impl->mutex);
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
    return m_impl->Enabled(module, level);
}

// The process and thread ids are read after the threshold check: reading
// them may cost system calls, and a suppressed line must cost no more than
// the comparison. The formatting and writing live out of line, so that the
// suppressed path does not even set up their buffers.
void CQLogger::qm_vss_log(const char* function, const char* file, long line, std::string module,
                          int level, const char* format, ...) {
    if (!m_impl->Enabled(module, level)) return;
    va_list args;
    va_start(args, format);
    m_impl->WriteLine(function, file, line, module, level, format, args, false);
    va_end(args);
}

void CQLogger::qm_vss_log_full(const char* function, const char* file, long line,
                               std::string module, int level, const char* format, ...) {
    if (!m_impl->Enabled(module, level)) return;
    va_list args;
    va_start(args, format);
    m_impl->WriteLine(function, file, line, module, level, format, args, true);
    va_end(args);
}

void CQLogger::Impl::WriteLine(const char* function, const char* file, long line,
                               const std::string& module, int level, const char* format,
                               va_list args, bool whole) {
    marl::common::QLogLineStamp stamp = Stamp(function, file, line, module, level);
    if (whole) {
        WriteWhole(stamp, format, args);
    } else {
        WriteCut(stamp, format, args);
    }
}

// Header and message are formatted into their fixed-size parts of one line
// buffer, which then goes to the file in one piece.
void CQLogger::Impl::WriteCut(const marl::common::QLogLineStamp& stamp, const char* format,
                              va_list args) {
    char line[kHeaderBuffer + kMessageBuffer];
    size_t length =
        FormatInto(line, kHeaderBuffer, marl::common::FormatLogHeader(line, kHeaderBuffer, stamp));
    char* message = line + length;
    length +=
        FormatInto(message, kMessageBuffer, std::vsnprintf(message, kMessageBuffer, format, args));
    line[length++] = '\n';

    marl::common::LogMutexHold hold(mutex);
    if (!PrepareForLine()) return;
    if (mutex.TakeTimeOutReport()) WriteMutexTimeOut(stamp.module);
    bool written = std::fwrite(line, 1, length, this->file) == length;
    NoteLastLine(std::fflush(this->file) == 0 && written);
}

// Said once per process, in the module of the line that first went without
// the mutex, before that line.
void CQLogger::Impl::WriteMutexTimeOut(const std::string& module) {
    marl::common::QLogLineStamp stamp =
        Stamp("CQLogger::qm_vss_log", kLogUnit, __LINE__, module, QLOG_ERROR);
    char header[kHeaderBuffer];
    FormatInto(header, kHeaderBuffer, marl::common::FormatLogHeader(header, kHeaderBuffer, stamp));
    std::fprintf(file,
                 "%sCould not take the log mutex \"q9_logger\" within %u ms: another process "
                 "holds it; lines are written without it until it is free again\n",
                 header, static_cast<unsigned>(mutex.WaitMilliseconds()));
}

// Header and message uncut, the message formatted straight into the file.
void CQLogger::Impl::WriteWhole(const marl::common::QLogLineStamp& stamp, const char* format,
                                va_list args) {
    char shortHeader[kHeaderBuffer];
    int needed = marl::common::FormatLogHeader(shortHeader, kHeaderBuffer, stamp);
    if (needed < 0) shortHeader[0] = '\0';
    std::string longHeader;
    if (needed >= static_cast<int>(kHeaderBuffer)) {
        longHeader.resize(static_cast<size_t>(needed) + 1);
        marl::common::FormatLogHeader(&longHeader[0], longHeader.size(), stamp);
        longHeader.resize(static_cast<size_t>(needed));
    }
    const char* header = longHeader.empty() ? shortHeader : longHeader.c_str();

    marl::common::LogMutexHold hold(mutex);
    if (!PrepareForLine()) return;
    if (mutex.TakeTimeOutReport()) WriteMutexTimeOut(stamp.module);
    bool written = std::fputs(header, file) >= 0;
    written = std::vfprintf(file, format, args) >= 0 && written;
    written = std::fputs("\n", file) >= 0 && written;
    NoteLastLine(std::fflush(file) == 0 && written);
}

void CQLogger::ResetForTesting() {
    marl::common::LogMutexHold hold(m_impl->mutex);
    m_impl->Close();
    m_impl->fileName.clear();
    m_impl->opened = false;
    m_impl->rotateAbove = kRotateAbove;
    m_impl->retryAbove = 0;
    m_impl->providerLevel = kInitialLevel;
    m_impl->jsonLevel = kInitialLevel;
    m_impl->configuratorLevel = kInitialLevel;
}

void CQLogger::SetMutexWaitForTesting(uint32_t milliseconds) {
    m_impl->mutex.SetWaitMilliseconds(milliseconds);
}

void CQLogger::SetRotationLimitForTesting(uint64_t bytes) {
    marl::common::LogMutexHold hold(m_impl->mutex);
    m_impl->rotateAbove = bytes;
}

void marl::common::DebugOutputFormatted(const wchar_t* format, ...) {
    wchar_t buffer[kTraceBuffer];
    va_list args;
    va_start(args, format);
    int n = std::vswprintf(buffer, kTraceBuffer, format, args);
    va_end(args);
    if (n >= 0 && static_cast<size_t>(n) < kTraceBuffer) marl::platform::OutputDebugText(buffer);
}

FuncTrace::FuncTrace(const wchar_t* name) : m_name(name) {
    marl::common::DebugOutputFormatted(L"Entering: %ls\n", m_name);
}

FuncTrace::~FuncTrace() { marl::common::DebugOutputFormatted(L"Exiting: %ls\n", m_name); }
