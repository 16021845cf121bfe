#pragma once
// The logger's named mutex "q9_logger", taken with a bounded wait.
//
// Any local user may create a mutex of that name and hold it for ever. The
// provider logs from the constructor VSS calls, so an unbounded wait would
// hang every shadow copy on the host. A line therefore waits at most
// `WaitMilliseconds()` for the mutex and is then written without it. After
// such a time-out, lines only try the mutex (no wait) until one gets it
// again: one stalled wait per hostile hold, not one per line.
//
// While the mutex is not held the threads of this process are still kept
// apart (the named mutex's local lock), but other processes are not: the
// shared words are then not to be used (SharedWords() gives nullptr) and
// the file is not rotated (Held() is false).
//
// Take/Release pair up like a lock; one Take at a time (callers hold it
// through LogMutexHold). TakeTimeOutReport answers true once per object
// after the first time-out, so the logger can say so once per process.
#include <cstdint>

#include "platform/named_mutex.h"

namespace marl::common {

class LogMutex {
  public:
    static constexpr uint32_t kDefaultWaitMilliseconds = 5000;

    explicit LogMutex(const char* name) : m_mutex(name) {}

    void Take() {
        m_held = m_mutex.LockWithin(m_gaveUp ? 0 : m_wait);
        if (m_held) {
            m_gaveUp = false;
        } else if (!m_gaveUp) {
            m_gaveUp = true;
            m_reportDue = !m_reported;
        }
    }
    void Release() {
        m_held = false;
        m_mutex.Unlock();
    }

    // Between Take and Release: whether the named mutex itself is held.
    bool Held() const { return m_held; }
    uint64_t* SharedWords() { return m_held ? m_mutex.SharedWords() : nullptr; }

    // Between Take and Release: true the first time after a wait ran out.
    bool TakeTimeOutReport() {
        if (!m_reportDue) return false;
        m_reportDue = false;
        m_reported = true;
        return true;
    }

    uint32_t WaitMilliseconds() const { return m_wait; }
    void SetWaitMilliseconds(uint32_t milliseconds) { m_wait = milliseconds; }

  private:
    marl::platform::NamedMutex m_mutex;
    // The rest is read and written only between Take and Release, or (the
    // wait) before a second thread logs.
    uint32_t m_wait = kDefaultWaitMilliseconds;
    bool m_held = false;
    bool m_gaveUp = false;
    bool m_reportDue = false;
    bool m_reported = false;
};

class LogMutexHold {
  public:
    explicit LogMutexHold(LogMutex& m) : m_mutex(m) { m_mutex.Take(); }
    ~LogMutexHold() { m_mutex.Release(); }
    LogMutexHold(const LogMutexHold&) = delete;
    LogMutexHold& operator=(const LogMutexHold&) = delete;

  private:
    LogMutex& m_mutex;
};

}  // namespace marl::common
