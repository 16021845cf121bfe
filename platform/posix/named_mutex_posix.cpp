#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/named_mutex.h"

namespace marl::platform {

namespace {

// The lock file's contents. The tag also names the layout, so that a file
// left by another layout is set up afresh.
struct SharedPage {
    std::atomic<uint64_t> tag;
    pthread_mutex_t mutex;
    uint64_t words[NamedMutex::kSharedWords];
};
constexpr uint64_t kPageTag = 0x4d41524c00010000ull | sizeof(SharedPage);
constexpr size_t kPageBytes = 4096;
static_assert(sizeof(SharedPage) <= kPageBytes, "the shared page must fit one page");

std::string LockFilePath(const std::string& name) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = (tmp && *tmp) ? tmp : "/tmp";
    return dir + "/" + name + ".lock";
}

void FlockWait(int fd, int operation) {
    while (::flock(fd, operation) != 0 && errno == EINTR) {
    }
}

bool InitialiseMutex(pthread_mutex_t* mutex) {
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) return false;
    bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
              pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
              pthread_mutex_init(mutex, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

// Maps the lock file and sets up its mutex when no process has yet. The
// set-up runs under flock, so that two processes starting together agree.
SharedPage* MapSharedPage(int fd) {
    FlockWait(fd, LOCK_EX);
    SharedPage* page = nullptr;
    struct stat st {};
    bool sized = ::fstat(fd, &st) == 0 &&
                 (st.st_size >= static_cast<off_t>(kPageBytes) || ::ftruncate(fd, kPageBytes) == 0);
    void* p =
        sized ? ::mmap(nullptr, kPageBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    if (p != MAP_FAILED) {
        page = static_cast<SharedPage*>(p);
        if (page->tag.load(std::memory_order_acquire) != kPageTag) {
            std::memset(page->words, 0, sizeof page->words);
            if (InitialiseMutex(&page->mutex)) {
                page->tag.store(kPageTag, std::memory_order_release);
            } else {
                ::munmap(p, kPageBytes);
                page = nullptr;
            }
        }
    }
    FlockWait(fd, LOCK_UN);
    return page;
}

// Takes the page's mutex, also when its last holder died holding it.
void LockPage(SharedPage* page, int fd) {
    for (;;) {
        int rc = pthread_mutex_lock(&page->mutex);
        if (rc == EOWNERDEAD) {
            // The holder died: whatever it was writing may be half done.
            std::memset(page->words, 0, sizeof page->words);
            pthread_mutex_consistent(&page->mutex);
        }
        if (rc != ENOTRECOVERABLE) return;
        // A holder died before marking the mutex consistent again, so nobody
        // can take it any more: set it up afresh, under flock like the first
        // set-up, unless another process has already done so.
        FlockWait(fd, LOCK_EX);
        rc = pthread_mutex_trylock(&page->mutex);
        if (rc == ENOTRECOVERABLE) {
            std::memset(page->words, 0, sizeof page->words);
            InitialiseMutex(&page->mutex);
        } else if (rc == 0 || rc == EOWNERDEAD) {
            if (rc == EOWNERDEAD) pthread_mutex_consistent(&page->mutex);
            FlockWait(fd, LOCK_UN);
            return;
        }
        FlockWait(fd, LOCK_UN);
    }
}

}  // namespace

struct NamedMutex::Impl {
    int fd = -1;
    SharedPage* page = nullptr;  // the robust mutex; without it, flock and `local`
    std::mutex local;            // flock does not exclude threads sharing one open file
};

NamedMutex::NamedMutex(const std::string& name) : m_impl(std::make_unique<Impl>()) {
    std::string path = LockFilePath(name);
    m_impl->fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (m_impl->fd >= 0) {
        ::fchmod(m_impl->fd, 0666);  // every user's processes share it (umask aside)
        m_impl->page = MapSharedPage(m_impl->fd);
        return;
    }
    // The lock file may belong to another user who created it read-only for
    // us; flock works on a read-only descriptor too.
    m_impl->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

NamedMutex::~NamedMutex() {
    if (m_impl->page) ::munmap(m_impl->page, kPageBytes);
    if (m_impl->fd >= 0) ::close(m_impl->fd);
}

bool NamedMutex::IsValid() const { return m_impl->fd >= 0; }

void NamedMutex::Lock() {
    if (m_impl->page) {
        LockPage(m_impl->page, m_impl->fd);
        return;
    }
    m_impl->local.lock();
    if (m_impl->fd >= 0) FlockWait(m_impl->fd, LOCK_EX);
}

void NamedMutex::Unlock() {
    if (SharedPage* page = m_impl->page) {
        pthread_mutex_unlock(&page->mutex);
        return;
    }
    if (m_impl->fd >= 0) ::flock(m_impl->fd, LOCK_UN);
    m_impl->local.unlock();
}

uint64_t* NamedMutex::SharedWords() { return m_impl->page ? m_impl->page->words : nullptr; }

}  // namespace marl::platform
