#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "platform/clock.h"

namespace marl::platform {

LocalTime GetLocalTimeNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    localtime_r(&ts.tv_sec, &t);
    return LocalTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                     t.tm_min,         t.tm_sec,     static_cast<int>(ts.tv_nsec / 1000000)};
}

// Both ids are asked for at every logged line and each costs a system call,
// so they are kept once read. A forked child starts with fresh ones.
namespace {
std::atomic<uint32_t> g_processId{0};
thread_local uint32_t t_threadId = 0;

void ForgetIdsInChild() {
    g_processId.store(0, std::memory_order_relaxed);
    t_threadId = 0;
}
const int g_forkHook = pthread_atfork(nullptr, nullptr, ForgetIdsInChild);
}  // namespace

uint32_t CurrentProcessId() {
    uint32_t id = g_processId.load(std::memory_order_relaxed);
    if (id == 0) {
        id = static_cast<uint32_t>(getpid());
        g_processId.store(id, std::memory_order_relaxed);
    }
    return id;
}

uint32_t CurrentThreadId() {
    if (t_threadId == 0) t_threadId = static_cast<uint32_t>(syscall(SYS_gettid));
    return t_threadId;
}

void SleepMilliseconds(uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

}  // namespace marl::platform
