#include "platform/named_mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#ifdef _WIN32
#include "platform/win32/child_process_for_tests.h"
#else
#include "platform/posix/child_process_for_tests.h"
#endif

// The cases between processes start this test program again as a child that
// runs one of the NamedMutexChild tests (disabled in a normal run) and reads
// its parameters from the words after "--marl-child".
namespace marl::platform {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using Clock = std::chrono::steady_clock;

constexpr char kChildFlag[] = "--marl-child";
constexpr int kDiedHoldingLock = 7;

// A name no other test run on this machine uses at the same time.
std::string UniqueName(const std::string& tag) {
    static std::atomic<int> counter{0};
    return "marl_test_" + tag + "_" + std::to_string(CurrentProcessId()) + "_" +
           std::to_string(counter++);
}

class ScratchDir {
  public:
    ScratchDir() : m_path(fs::temp_directory_path() / UniqueName("dir")) {
        fs::create_directories(m_path);
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    std::string File(const std::string& name) const { return (m_path / name).string(); }
    std::string Path() const { return m_path.string(); }

  private:
    fs::path m_path;
};

void Touch(const std::string& path) { std::ofstream(path) << "x"; }

// Waits up to `seconds` for `done`; every wait in these tests is bounded.
template <typename Done>
bool WaitUntil(Done done, int seconds = 30) {
    Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (Clock::now() > end) return false;
        SleepMilliseconds(5);
    }
    return true;
}

bool WaitForFile(const std::string& path, int seconds = 30) {
    return WaitUntil([&] { return fs::exists(path); }, seconds);
}

int ReadCounter(const std::string& path) {
    std::ifstream in(path);
    int value = 0;
    in >> value;
    return value;
}

// Runs NamedMutexChild.DISABLED_<role> in a new process of this program.
bool StartChild(ChildProcess& child, const std::string& role,
                const std::vector<std::string>& params) {
    std::vector<std::string> args = {"--gtest_filter=NamedMutexChild.DISABLED_" + role,
                                     "--gtest_also_run_disabled_tests", kChildFlag};
    args.insert(args.end(), params.begin(), params.end());
    return child.Start(::testing::internal::GetArgvs().at(0), args);
}

std::vector<std::string> ChildParams() {
    std::vector<std::string> argv = ::testing::internal::GetArgvs();
    for (size_t i = 0; i < argv.size(); ++i) {
        if (argv[i] == kChildFlag)
            return std::vector<std::string>(argv.begin() + i + 1, argv.end());
    }
    return {};
}

// Counts to `iterations` in a shared file, each step a read, a pause and a
// write under the mutex: without exclusion, steps of the other side are lost.
void CountUnderLock(NamedMutex& mutex, const std::string& counter, int iterations) {
    for (int i = 0; i < iterations; ++i) {
        mutex.Lock();
        int value = ReadCounter(counter);
        std::this_thread::yield();
        SleepMilliseconds(1);
        std::ofstream(counter, std::ios::trunc) << value + 1;
        mutex.Unlock();
    }
}

// A thread that takes the mutex and holds it until told to let go. Its state
// is shared so that a thread that never gets the lock can be left behind.
struct LockingThread {
    struct State {
        explicit State(const std::string& name) : mutex(name) {}
        NamedMutex mutex;
        std::atomic<bool> acquired{false};
        std::atomic<bool> release{false};
    };
    std::shared_ptr<State> state;
    std::thread thread;

    explicit LockingThread(const std::string& name) : state(std::make_shared<State>(name)) {
        thread = std::thread([s = state] {
            s->mutex.Lock();
            s->acquired = true;
            while (!s->release) SleepMilliseconds(1);
            s->mutex.Unlock();
        });
    }
    bool WaitAcquired(int seconds) {
        return WaitUntil([&] { return state->acquired.load(); }, seconds);
    }
    ~LockingThread() {
        state->release = true;
        if (state->acquired) {
            thread.join();
        } else {
            thread.detach();  // stuck in Lock: the test has already failed
        }
    }
};

TEST(NamedMutex, ExcludesThreadsThroughOneOrSeveralObjects) {
    const std::string name = UniqueName("threads");
    NamedMutex shared(name);
    NamedMutex second(name);
    ASSERT_TRUE(shared.IsValid());
    int counter = 0;
    std::atomic<bool> inside{false};
    std::atomic<int> overlaps{0};
    auto work = [&](NamedMutex& m) {
        for (int i = 0; i < 2000; ++i) {
            m.Lock();
            if (inside.exchange(true)) ++overlaps;
            int v = counter;
            std::this_thread::yield();
            counter = v + 1;
            inside = false;
            m.Unlock();
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(work, std::ref(t % 2 ? shared : second));
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(counter, 8000);
}

TEST(NamedMutex, ExcludesProcesses) {
    ScratchDir dir;
    const std::string name = UniqueName("processes");
    const int iterations = 150;
    ChildProcess children[2];
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(StartChild(children[i], "CountWithOthers",
                               {dir.Path(), name, std::to_string(i), std::to_string(iterations)}));
    }
    EXPECT_EQ(children[0].Wait(), 0);
    EXPECT_EQ(children[1].Wait(), 0);
    EXPECT_EQ(ReadCounter(dir.File("counter")), 2 * iterations);
}

// Parameters: folder, mutex name, own index, iterations. The two children
// start counting together, so that they contend for the whole run.
TEST(NamedMutexChild, DISABLED_CountWithOthers) {
    std::vector<std::string> p = ChildParams();
    if (p.size() != 4) GTEST_SKIP() << "started without " << kChildFlag;
    const fs::path dir = p[0];
    NamedMutex mutex(p[1]);
    ASSERT_TRUE(mutex.IsValid());
    Touch((dir / ("ready" + p[2])).string());
    ASSERT_TRUE(
        WaitUntil([&] { return fs::exists(dir / "ready0") && fs::exists(dir / "ready1"); }));
    CountUnderLock(mutex, (dir / "counter").string(), std::stoi(p[3]));
}

TEST(NamedMutex, HolderThatDiesReleasesTheLock) {
    ScratchDir dir;
    const std::string name = UniqueName("dies");
    ChildProcess child;
    ASSERT_TRUE(StartChild(child, "DieHoldingLock", {dir.Path(), name}));
    ASSERT_TRUE(WaitForFile(dir.File("locked")));

    // A bounded wait gives up on the other process's hold.
    NamedMutex probe(name);
    EXPECT_FALSE(probe.LockWithin(100)) << "the lock was taken while the child held it";
    probe.Unlock();

    {
        LockingThread waiter(name);
        SleepMilliseconds(300);
        EXPECT_FALSE(waiter.state->acquired) << "the lock was taken while the child held it";
        Touch(dir.File("go"));
        EXPECT_EQ(child.Wait(), kDiedHoldingLock);
        ASSERT_TRUE(waiter.WaitAcquired(20)) << "the dead holder's lock was never released";
        ASSERT_NE(waiter.state->mutex.SharedWords(), nullptr);
        EXPECT_EQ(waiter.state->mutex.SharedWords()[2], 0u) << "words of a dead holder kept";
        // ... and on another thread's hold, through another object.
        EXPECT_FALSE(probe.LockWithin(0));
        probe.Unlock();
    }
    ASSERT_TRUE(probe.LockWithin(20000)) << "a free lock was not taken";
    EXPECT_NE(probe.SharedWords(), nullptr);
    probe.Unlock();
}

// Parameters: folder, mutex name. Takes the lock, reports it, and on the
// signal ends the process without unlocking.
TEST(NamedMutexChild, DISABLED_DieHoldingLock) {
    std::vector<std::string> p = ChildParams();
    if (p.size() != 2) GTEST_SKIP() << "started without " << kChildFlag;
    auto* mutex = new NamedMutex(p[1]);  // never destroyed: the process dies holding it
    mutex->Lock();
    ASSERT_NE(mutex->SharedWords(), nullptr);
    mutex->SharedWords()[2] = 99;  // left half done, as far as the others know
    Touch(p[0] + "/locked");
    WaitForFile(p[0] + "/go");
    std::_Exit(kDiedHoldingLock);
}

TEST(NamedMutex, SharedWordsAreSeenByEveryHolder) {
    const std::string name = UniqueName("words");
    NamedMutex first(name);
    NamedMutex second(name);
    first.Lock();
    uint64_t* words = first.SharedWords();
    ASSERT_NE(words, nullptr);
    for (size_t i = 0; i < NamedMutex::kSharedWords; ++i) EXPECT_EQ(words[i], 0u) << i;
    words[NamedMutex::kSharedWords - 1] = 0x1122334455667788ull;
    first.Unlock();
    second.Lock();
    EXPECT_EQ(second.SharedWords()[NamedMutex::kSharedWords - 1], 0x1122334455667788ull);
    second.Unlock();

    ChildProcess child;
    ASSERT_TRUE(StartChild(child, "AddToWord", {name}));
    EXPECT_EQ(child.Wait(), 0);
    first.Lock();
    EXPECT_EQ(first.SharedWords()[0], 5u);
    first.Unlock();
    NamedMutex other(UniqueName("words"));
    other.Lock();
    EXPECT_EQ(other.SharedWords()[0], 0u);  // another name, other words
    other.Unlock();
}

// Parameter: mutex name. Adds 5 to the first shared word.
TEST(NamedMutexChild, DISABLED_AddToWord) {
    std::vector<std::string> p = ChildParams();
    if (p.size() != 1) GTEST_SKIP() << "started without " << kChildFlag;
    NamedMutex mutex(p[0]);
    mutex.Lock();
    ASSERT_NE(mutex.SharedWords(), nullptr);
    mutex.SharedWords()[0] += 5;
    mutex.Unlock();
}

TEST(NamedMutex, DifferentNamesDoNotExclude) {
    ScratchDir dir;
    const std::string held = UniqueName("held");
    ChildProcess child;
    ASSERT_TRUE(StartChild(child, "DieHoldingLock", {dir.Path(), held}));
    ASSERT_TRUE(WaitForFile(dir.File("locked")));
    {
        LockingThread other(UniqueName("other"));
        EXPECT_TRUE(other.WaitAcquired(10));
        LockingThread same(held);
        SleepMilliseconds(100);
        EXPECT_FALSE(same.state->acquired);
        Touch(dir.File("go"));
        EXPECT_EQ(child.Wait(), kDiedHoldingLock);
        EXPECT_TRUE(same.WaitAcquired(20));
    }
}

}  // namespace
}  // namespace marl::platform
