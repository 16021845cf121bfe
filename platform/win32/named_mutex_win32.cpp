#include <windows.h>

#include "platform/named_mutex.h"

namespace marl::platform {

struct NamedMutex::Impl {
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
    // An abandoned mutex (its holder died) is owned by us now; carry on.
    if (m_impl->handle) ::WaitForSingleObject(m_impl->handle, INFINITE);
}

void NamedMutex::Unlock() {
    if (m_impl->handle) ::ReleaseMutex(m_impl->handle);
}

}  // namespace marl::platform
