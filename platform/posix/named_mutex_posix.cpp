#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
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

// The moment a bounded wait gives up, on the clock pthread_mutex_timedlock
// reads; nullptr waits without limit.
struct Deadline {
    timespec at{};
    static Deadline After(uint32_t milliseconds) {
        Deadline d;
        ::clock_gettime(CLOCK_REALTIME, &d.at);
        d.at.tv_sec += milliseconds / 1000;
        d.at.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
        if (d.at.tv_nsec >= 1000000000L) {
            d.at.tv_sec += 1;
            d.at.tv_nsec -= 1000000000L;
        }
        return d;
    }
    bool Passed() const {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        return now.tv_sec > at.tv_sec || (now.tv_sec == at.tv_sec && now.tv_nsec >= at.tv_nsec);
    }
};

int TakePageMutex(SharedPage* page, const Deadline* deadline) {
    int rc;
    do {
        rc = deadline ? pthread_mutex_timedlock(&page->mutex, &deadline->at)
                      : pthread_mutex_lock(&page->mutex);
    } while (rc == EINTR);
    return rc;
}

// Takes the page's mutex, also when its last holder died holding it. False
// when the deadline passed first.
bool LockPage(SharedPage* page, int fd, const Deadline* deadline) {
    for (;;) {
        int rc = TakePageMutex(page, deadline);
        if (rc == ETIMEDOUT) return false;
        if (rc == EOWNERDEAD) {
            // The holder died: whatever it was writing may be half done.
            std::memset(page->words, 0, sizeof page->words);
            pthread_mutex_consistent(&page->mutex);
        }
        if (rc != ENOTRECOVERABLE) return true;
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
            return true;
        }
        FlockWait(fd, LOCK_UN);
    }
}

// flock has no timed form: try, and sleep a little between tries.
bool FlockWithin(int fd, const Deadline* deadline) {
    if (!deadline) {
        FlockWait(fd, LOCK_EX);
        return true;
    }
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (deadline->Passed()) return false;
        ::usleep(2000);
    }
}

}  // namespace

// Threads of this process queue on `local` first: after a bounded wait that
// gave up, only `local` keeps them apart (flock alone would not either: it
// does not exclude threads sharing one open file).
struct NamedMutex::Impl {
    int fd = -1;
    SharedPage* page = nullptr;  // the robust mutex; without it, flock
    std::mutex local;
    bool held = false;  // the page's mutex or the flock; read and written under `local`

    // Takes `local`, then the lock between processes unless the deadline
    // (nullptr: none) passes first. True when both are held.
    bool Take(const Deadline* deadline) {
        local.lock();
        if (page) {
            held = LockPage(page, fd, deadline);
        } else if (fd >= 0) {
            held = FlockWithin(fd, deadline);
        } else {
            return true;  // no lock file: the local lock is all there is
        }
        return held;
    }
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

void NamedMutex::Lock() { m_impl->Take(nullptr); }

bool NamedMutex::LockWithin(uint32_t milliseconds) {
    Deadline deadline = Deadline::After(milliseconds);
    return m_impl->Take(&deadline);
}

void NamedMutex::Unlock() {
    if (m_impl->held) {
        if (m_impl->page) {
            pthread_mutex_unlock(&m_impl->page->mutex);
        } else {
            ::flock(m_impl->fd, LOCK_UN);
        }
    }
    m_impl->held = false;
    m_impl->local.unlock();
}

uint64_t* NamedMutex::SharedWords() { return m_impl->page ? m_impl->page->words : nullptr; }

}  // namespace marl::platform
