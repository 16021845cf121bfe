#pragma once
// A mutex shared by every process of this machine that uses the same name.
//
// Windows: a named kernel mutex (CreateMutexA, not initially owned, default
// security). POSIX: an advisory lock (flock) on a lock file in the system's
// temporary folder, which the kernel releases when the holder dies, combined
// with a process-local mutex because flock does not exclude threads that share
// one open file.
//
// Lock() waits without time limit. A holder that dies releases the lock (POSIX:
// its descriptor closes; Windows: the next waiter gets the abandoned mutex).
// The object is not copyable and must not be destroyed while locked.
// Thread safe.
#include <memory>
#include <string>

namespace marl::platform {

class NamedMutex {
  public:
    explicit NamedMutex(const std::string& name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // False when the system object could not be created; Lock/Unlock then
    // still serialise the threads of this process.
    bool IsValid() const;
    void Lock();
    void Unlock();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace marl::platform
