// Two processes of four threads each log into one file while it rotates: no
// line may be lost, cut, doubled or interleaved with another.
//
// The test program starts itself twice as a child ("--reliability-child
// <folder> <index>"); each child writes kThreads x kLinesPerThread lines and
// then leaves a "done<index>" file. The rotation limit is lowered so that this
// many lines rotate the file several times, yet all of them still fit in the
// current file and its four generations, and so can all be counted.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/QVssLog.h"
#include "platform/clock.h"
#include "platform/process.h"

namespace {

namespace fs = std::filesystem;

constexpr char kChildFlag[] = "--reliability-child";
constexpr int kProcesses = 2;
constexpr int kThreads = 4;
constexpr int kLinesPerThread = 20000;
// About 128 bytes a line, 20 MB in all: four rotations at most at 5 MiB.
constexpr uint64_t kRotationLimit = 5 * 1048576;
const std::string kPadding(12, 'x');

std::string g_self;  // this program, as it was started

std::string LogPath(const fs::path& dir) { return (dir / "marl_vss_log.txt").string(); }

int RunChild(const fs::path& dir, int index) {
    CQLogger* log = CQLogger::getInstance();
    log->SetRotationLimitForTesting(kRotationLimit);
    if (!log->OpenLogFile(LogPath(dir))) return 2;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([=] {
            for (int n = 0; n < kLinesPerThread; ++n) {
                log->qm_vss_log("Reliability::Writer", "logger_reliability", 42, "PROVIDER",
                                QLOG_INFO, "p%d t%d n%06d %s", index, t, n, kPadding.c_str());
            }
        });
    }
    for (std::thread& t : threads) t.join();
    std::ofstream((dir / ("done" + std::to_string(index))).string()) << "ok";
    return 0;
}

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// Starts both children at once and waits for them.
void RunChildren(const fs::path& dir) {
    std::vector<std::thread> runners;
    for (int i = 0; i < kProcesses; ++i) {
        runners.emplace_back([&dir, i] {
            std::wstring commandLine = L"\"" + Widen(g_self) + L"\" " + Widen(kChildFlag) + L" \"" +
                                       Widen(dir.string()) + L"\" " + std::to_wstring(i);
            marl::platform::ProcessRun run = marl::platform::RunProcessAndWait(commandLine);
            EXPECT_TRUE(run.started) << "child " << i << " error " << run.error;
        });
    }
    for (std::thread& r : runners) r.join();
}

// The lines of one file; on Windows each must end with the text-mode "\r\n".
std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
#ifdef _WIN32
        EXPECT_FALSE(line.empty() || line.back() != '\r') << path << ": " << line;
        if (!line.empty() && line.back() == '\r') line.pop_back();
#endif
        lines.push_back(line);
    }
    return lines;
}

struct Writer {
    std::string pid, tid;
    int next = 0;  // the sequence number its next line must carry
};

// Checks every line against the format and each writer's sequence: a lost,
// doubled or reordered line breaks the sequence, an interleaved one the format.
class LineChecker {
  public:
    void Check(const std::string& file, const std::string& line) {
        if (line == "**" || line == "** Marl VSS Provider log") {
            ++m_bannerLines;
            return;
        }
        std::smatch m;
        if (!std::regex_match(line, m, m_format)) {
            if (++m_malformed <= 5) ADD_FAILURE() << file << ": malformed line: " << line;
            return;
        }
        Writer& w = m_writers[m[3].str() + " " + m[4].str()];
        if (w.pid.empty()) {
            w.pid = m[1];
            w.tid = m[2];
        }
        EXPECT_EQ(w.pid + w.tid, m[1].str() + m[2].str()) << line;
        int n = std::stoi(m[5]);
        if (n != w.next && ++m_outOfSequence <= 5) {
            ADD_FAILURE() << file << ": expected n" << w.next << ", found " << line;
        }
        w.next = n + 1;
        ++m_lines;
    }

    void ExpectComplete() const {
        EXPECT_EQ(m_malformed, 0);
        EXPECT_EQ(m_outOfSequence, 0);
        EXPECT_EQ(m_bannerLines, 3 * kProcesses);  // one banner per process
        EXPECT_EQ(m_lines, kProcesses * kThreads * kLinesPerThread);
        EXPECT_EQ(m_writers.size(), static_cast<size_t>(kProcesses * kThreads));
        std::set<std::string> pids;
        for (const auto& [name, w] : m_writers) {
            EXPECT_EQ(w.next, kLinesPerThread) << name;
            pids.insert(w.pid);
        }
        EXPECT_EQ(pids.size(), static_cast<size_t>(kProcesses));
    }

  private:
    const std::regex m_format{
        R"(\[\d{4}/\d\d/\d\d-\d\d:\d\d:\d\d\.\d{3}\]\[PROVIDER\]\[INFO\]\[logger_reliability:42\])"
        R"(\[Reliability::Writer\]\[PID:0x([1-9a-f][0-9a-f]*)\]\[TID:0x([1-9a-f][0-9a-f]*)\])"
        R"((p\d) (t\d) n(\d{6}) x{12})"};
    std::map<std::string, Writer> m_writers;
    int m_lines = 0;
    int m_bannerLines = 0;
    int m_malformed = 0;
    int m_outOfSequence = 0;
};

fs::path MakeScratchFolder() {
    std::random_device rd;
    fs::path dir = fs::temp_directory_path() /
                   ("logger_reliability_" + std::to_string(marl::platform::CurrentProcessId()) +
                    "_" + std::to_string(rd()));
    fs::create_directories(dir);
    return dir;
}

TEST(LoggerReliability, TwoProcessesOfFourThreadsLoseNoLineAcrossRotations) {
    const fs::path dir = MakeScratchFolder();
    ASSERT_EQ(dir.string().find('.'), std::string::npos) << dir;
    auto start = std::chrono::steady_clock::now();
    RunChildren(dir);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d lines from %d processes in %.1f s\n", kProcesses * kThreads * kLinesPerThread,
                kProcesses, seconds);
    for (int i = 0; i < kProcesses; ++i) {
        ASSERT_TRUE(fs::exists(dir / ("done" + std::to_string(i)))) << "child " << i << " failed";
    }

    // Oldest generation first, so that each writer's lines come in order.
    const std::string base = (dir / "marl_vss_log").string();
    std::vector<std::string> files;
    for (int n = 3; n >= 0; --n) files.push_back(base + "_" + std::to_string(n) + ".txt");
    files.push_back(LogPath(dir));
    EXPECT_TRUE(fs::exists(files[1])) << "fewer than three rotations";  // _2
    EXPECT_FALSE(fs::exists(base + "_4.txt"));
    LineChecker checker;
    for (const std::string& file : files) {
        if (!fs::exists(file)) continue;
        for (const std::string& line : ReadLines(file)) checker.Check(file, line);
    }
    checker.ExpectComplete();
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == kChildFlag)
        return RunChild(argv[2], std::stoi(argv[3]));
    g_self = argv[0];
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
