#pragma once
// A mutex shared by every process of this machine that uses the same name,
// with a few words of memory that its holders share.
//
// Windows: a named kernel mutex (CreateMutexA, not initially owned, default
// security) and a named file mapping for the shared words; the threads of one
// process queue on a local lock first. POSIX: a lock file in the system's
// temporary folder, mapped into memory, holding a process-shared robust
// pthread mutex and the shared words, behind a local mutex for the threads of
// one process: taking it costs no system call unless it is contended. The
// kernel marks the mutex when a holder dies. Where the file cannot be mapped,
// an advisory lock (flock) on it serves instead, and there are no shared
// words.
//
// Lock() waits without time limit; LockWithin() waits a bounded time, since
// any process may create a mutex of a given name and hold it for ever. A
// holder that dies releases the lock (the next holder gets it, and finds the
// shared words zeroed, since the dead one may have left them half written).
// The object is not copyable and must not be destroyed while locked. Thread
// safe.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace marl::platform {

class NamedMutex {
  public:
    static constexpr size_t kSharedWords = 8;

    explicit NamedMutex(const std::string& name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // False when the system object could not be created; Lock/Unlock then
    // still serialise the threads of this process.
    bool IsValid() const;
    void Lock();
    // Waits at most `milliseconds` (0: only tries). True: the lock is held,
    // as after Lock(). False: another process held it all that time; the
    // threads of this process are still kept apart by the object's local
    // lock, the shared words must not be used, and Unlock() must still be
    // called.
    bool LockWithin(uint32_t milliseconds);
    void Unlock();

    // kSharedWords words seen by every holder of a mutex of this name, in any
    // process; zero at first. Read and write them only while holding the
    // lock. nullptr when the system could not provide them.
    uint64_t* SharedWords();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace marl::platform
