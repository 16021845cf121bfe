#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "platform/named_mutex.h"

namespace marl::platform {

struct NamedMutex::Impl {
    std::mutex local;  // flock does not exclude threads sharing one open file
    int fd = -1;
};

namespace {
std::string LockFilePath(const std::string& name) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = (tmp && *tmp) ? tmp : "/tmp";
    return dir + "/" + name + ".lock";
}
}  // namespace

NamedMutex::NamedMutex(const std::string& name) : m_impl(std::make_unique<Impl>()) {
    std::string path = LockFilePath(name);
    m_impl->fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    // The lock file may belong to another user who created it first (umask
    // leaves it read-only for us); flock works on a read-only descriptor too.
    if (m_impl->fd < 0) m_impl->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

NamedMutex::~NamedMutex() {
    if (m_impl->fd >= 0) ::close(m_impl->fd);
}

bool NamedMutex::IsValid() const { return m_impl->fd >= 0; }

void NamedMutex::Lock() {
    m_impl->local.lock();
    if (m_impl->fd < 0) return;
    while (::flock(m_impl->fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

void NamedMutex::Unlock() {
    if (m_impl->fd >= 0) ::flock(m_impl->fd, LOCK_UN);
    m_impl->local.unlock();
}

}  // namespace marl::platform
