#include <windows.h>

#include <cstring>

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
    HANDLE mapping = nullptr;  // the shared words: a page of the paging file
    uint64_t* words = nullptr;
    bool held = false;  // the kernel mutex; read and written under `local`
};

namespace {
constexpr DWORD kMappingBytes = NamedMutex::kSharedWords * sizeof(uint64_t);
}

NamedMutex::NamedMutex(const std::string& name) : m_impl(std::make_unique<Impl>()) {
    m_impl->handle = ::CreateMutexA(nullptr, FALSE, name.c_str());
    if (!m_impl->handle) return;
    // Created zeroed by the first process, opened by the others.
    m_impl->mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                           kMappingBytes, (name + "_shared").c_str());
    if (m_impl->mapping) {
        m_impl->words = static_cast<uint64_t*>(
            ::MapViewOfFile(m_impl->mapping, FILE_MAP_ALL_ACCESS, 0, 0, kMappingBytes));
    }
}

NamedMutex::~NamedMutex() {
    if (m_impl->words) ::UnmapViewOfFile(m_impl->words);
    if (m_impl->mapping) ::CloseHandle(m_impl->mapping);
    if (m_impl->handle) ::CloseHandle(m_impl->handle);
}

bool NamedMutex::IsValid() const { return m_impl->handle != nullptr; }

void NamedMutex::Lock() { LockWithin(INFINITE); }

bool NamedMutex::LockWithin(uint32_t milliseconds) {
    ::AcquireSRWLockExclusive(&m_impl->local);
    if (!m_impl->handle) return true;
    DWORD wait = ::WaitForSingleObject(m_impl->handle, milliseconds);
    // An abandoned mutex (its holder died) is ours now; what the holder was
    // writing into the shared words may be half done.
    if (wait == WAIT_ABANDONED && m_impl->words) std::memset(m_impl->words, 0, kMappingBytes);
    m_impl->held = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    return m_impl->held;
}

void NamedMutex::Unlock() {
    if (m_impl->held) ::ReleaseMutex(m_impl->handle);
    m_impl->held = false;
    ::ReleaseSRWLockExclusive(&m_impl->local);
}

uint64_t* NamedMutex::SharedWords() { return m_impl->words; }

}  // namespace marl::platform
