#include <windows.h>

#include "platform/named_mutex.h"

namespace marl::platform {

// Threads of this process queue on a slim reader/writer lock first, so that
// only one of them at a time waits on the kernel mutex: a kernel wait costs a
// system call (under Wine a server round trip) even when it is uncontended,
// and a handoff between threads through the kernel mutex costs far more. The
// local lock also keeps the threads apart when the mutex could not be created.
struct NamedMutex::Impl {
    SRWLOCK local = SRWLOCK_INIT;
    HANDLE handle = nullptr;
};

NamedMutex::NamedMutex(const std::string& name) : m_impl(std::make_unique<Impl>()) {
    m_impl->handle = ::CreateMutexA(nullptr, FALSE, name.c_str());
}

NamedMutex::~NamedMutex() {
    if (m_impl->handle) ::CloseHandle(m_impl->handle);
}

bool NamedMutex::IsValid() const { return m_impl->handle != nullptr; }

void NamedMutex::Lock() {
    ::AcquireSRWLockExclusive(&m_impl->local);
    // An abandoned mutex (its holder died) is owned by us now; carry on.
    if (m_impl->handle) ::WaitForSingleObject(m_impl->handle, INFINITE);
}

void NamedMutex::Unlock() {
    if (m_impl->handle) ::ReleaseMutex(m_impl->handle);
    ::ReleaseSRWLockExclusive(&m_impl->local);
}

}  // namespace marl::platform
