#include "common/QVssLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/named_mutex.h"

namespace {

namespace fs = std::filesystem;

static constexpr char kLogUnit[] = "QVssLog_test";
const std::string kBanner = "**\n** Marl VSS Provider log\n**\n";
constexpr uint64_t kLimit = 1048576;

// A fresh folder whose path holds no "." (rotation cuts at the first ".").
class ScratchDir {
  public:
    ScratchDir() {
        std::random_device rd;
        for (const fs::path& root : {fs::temp_directory_path(), fs::current_path()}) {
            if (root.string().find('.') != std::string::npos) continue;
            m_path = root / ("qvsslog_" + std::to_string(marl::platform::CurrentProcessId()) + "_" +
                             std::to_string(rd()));
            if (fs::create_directories(m_path)) return;
        }
        throw std::runtime_error("no scratch folder without a dot in its path");
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    std::string File(const std::string& name) const { return (m_path / name).string(); }
    std::string Log() const { return File("marl_vss_log.txt"); }
    std::string Generation(int n) const {
        return File("marl_vss_log_" + std::to_string(n) + ".txt");
    }

  private:
    fs::path m_path;
};

// File contents with the text-mode line ends of Windows folded to "\n".
std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string s = ss.str(), out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
        out += s[i];
    }
    return out;
}

// The lines after the banner.
std::vector<std::string> LogLines(const std::string& path) {
    std::string text = ReadText(path);
    if (text.compare(0, kBanner.size(), kBanner) == 0) text.erase(0, kBanner.size());
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The message part of a line whose header was not cut.
std::string MessageOf(const std::string& line) {
    size_t tid = line.find("][TID:0x");
    size_t end = tid == std::string::npos ? tid : line.find(']', tid + 1);
    return end == std::string::npos ? "<no header>" : line.substr(end + 1);
}

void AppendBytes(const std::string& path, uint64_t count) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    std::string chunk(4096, 'x');
    for (size_t i = 63; i < chunk.size(); i += 64) chunk[i] = '\n';
    for (; count >= chunk.size(); count -= chunk.size()) out.write(chunk.data(), chunk.size());
    out.write(chunk.data(), static_cast<std::streamsize>(count));
}

// Grows the log file to exactly `size` bytes.
void PadTo(const std::string& path, uint64_t size) {
    uint64_t now = fs::file_size(path);
    ASSERT_LE(now, size);
    AppendBytes(path, size - now);
    ASSERT_EQ(fs::file_size(path), size);
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

void Info(CQLogger& log, const char* text) {
    log.qm_vss_log("Test::Info", kLogUnit, 7, "PROVIDER", QLOG_INFO, "%s", text);
}

std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", v);
    return buf;
}

TEST(QVssLog, OpenWritesTheBannerThenTheLines) {
    ScratchDir dir;
    {
        CQLogger log;
        ASSERT_TRUE(log.OpenLogFile(dir.Log()));
        Info(log, "first");
        EXPECT_EQ(ReadText(dir.Log()).substr(0, kBanner.size()), kBanner);
        ASSERT_EQ(LogLines(dir.Log()).size(), 1u);
    }
    // Reopening appends: a second banner follows the first run's end marker.
    CQLogger again;
    ASSERT_TRUE(again.OpenLogFile(dir.Log()));
    std::string text = ReadText(dir.Log());
    EXPECT_NE(text.find("first\n*** End of Log ***\n" + kBanner), std::string::npos) << text;
}

TEST(QVssLog, LineHasTheExactFormat) {
    ScratchDir dir;
    CQLogger log;
    ASSERT_TRUE(log.OpenLogFile(dir.Log()));
    int year = marl::platform::GetLocalTimeNow().year;
    log.qm_vss_log("CQProvider::TakeSnap", "QProviderInterface", 968, "PROVIDER", QLOG_INFO,
                   "TakeRegularSnap %d", 5);
    std::vector<std::string> lines = LogLines(dir.Log());
    ASSERT_EQ(lines.size(), 1u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        lines[0], m,
        std::regex(
            R"(\[(\d{4})/(\d\d)/(\d\d)-(\d\d):(\d\d):(\d\d)\.(\d{3})\]\[PROVIDER\]\[INFO\])"
            R"(\[QProviderInterface:968\]\[CQProvider::TakeSnap\])"
            R"(\[PID:0x([1-9a-f][0-9a-f]*)\]\[TID:0x([1-9a-f][0-9a-f]*)\]TakeRegularSnap 5)")))
        << lines[0];
    EXPECT_NEAR(std::stoi(m[1]), year, 1);
    EXPECT_EQ(m[8], Hex(marl::platform::CurrentProcessId()));
    EXPECT_EQ(m[9], Hex(marl::platform::CurrentThreadId()));
#ifdef _WIN32
    // The file is a text-mode stream, as Windows tools expect.
    std::ifstream raw(dir.Log(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(raw)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
#endif
}

TEST(QVssLog, MacroPassesTheUnitAndLine) {
    ScratchDir dir;
    CQLogger* log = CQLogger::getInstance();
    EXPECT_EQ(log, CQLogger::getInstance());
    log->ResetForTesting();
    ASSERT_TRUE(log->OpenLogFile(dir.Log()));
    int line = __LINE__ + 1;
    QVSS_LOG("Test::Macro", "PROVIDER", QLOG_WARN, "value %s", "v");
    QVSS_LOG_FULL("Test::Macro", "JSON", QLOG_ERROR, "whole");
    log->ResetForTesting();
    std::vector<std::string> lines = LogLines(dir.Log());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("][PROVIDER][WARN][QVssLog_test:" + std::to_string(line) +
                            "][Test::Macro][PID:0x"),
              std::string::npos)
        << lines[0];
    EXPECT_EQ(MessageOf(lines[0]), "value v");
    EXPECT_NE(lines[1].find("][JSON][ERROR][QVssLog_test:"), std::string::npos) << lines[1];
    EXPECT_EQ(MessageOf(lines[1]), "whole");
}

TEST(QVssLog, InitialThresholdsPassInfoAndMoreSevere) {
    struct Case {
        const char* module;
        bool known;
    };
    const Case cases[] = {{"PROVIDER", true},  {"JSON", true},  {"CONFIGURATOR", true},
                          {"provider", false}, {"Json", false}, {"OTHER", false},
                          {"", false}};
    for (const Case& c : cases) {
        ScratchDir dir;
        CQLogger log;
        ASSERT_TRUE(log.OpenLogFile(dir.Log()));
        std::string expected;
        for (int level = 0; level <= 6; ++level) {
            bool pass = c.known && level <= QLOG_INFO;
            EXPECT_EQ(log.IsLogLevelEnabled(c.module, level), pass) << c.module << " " << level;
            std::string text = "level " + std::to_string(level);
            log.qm_vss_log("Test::Level", kLogUnit, 1, c.module, level, "%s", text.c_str());
            log.qm_vss_log_full("Test::Level", kLogUnit, 1, c.module, level, "%s", text.c_str());
            if (pass) expected += text + "|" + text + "|";
        }
        std::string seen;
        for (const std::string& line : LogLines(dir.Log())) seen += MessageOf(line) + "|";
        EXPECT_EQ(seen, expected) << c.module;
    }
}

TEST(QVssLog, EachLevelHasItsName) {
    ScratchDir dir;
    CQLogger log;
    ASSERT_TRUE(log.OpenLogFile(dir.Log()));
    log.SetLogLevel("JSON", QLOG_TRACE);
    const char* names[] = {"ERROR", "WARN", "INFO", "DEBUG", "TRACE"};
    for (int level = 0; level <= 4; ++level) {
        log.qm_vss_log("F", "U", 1, "JSON", level, "x");
    }
    std::vector<std::string> lines = LogLines(dir.Log());
    ASSERT_EQ(lines.size(), 6u);  // the confirmation, then one per level
    for (int level = 0; level <= 4; ++level) {
        EXPECT_NE(lines[level + 1].find(std::string("][JSON][") + names[level] + "][U:1][F]"),
                  std::string::npos)
            << lines[level + 1];
    }
}

struct LevelNameCase {
    const char* module;
    const char* name;
    int provider, json, configurator;  // thresholds afterwards
    const char* confirmation;          // message written, or nullptr
};

class SetLogLevelByName : public ::testing::TestWithParam<LevelNameCase> {};

TEST_P(SetLogLevelByName, SetsThresholdAndConfirmsFromInfoUp) {
    const LevelNameCase& c = GetParam();
    ScratchDir dir;
    CQLogger log;
    ASSERT_TRUE(log.OpenLogFile(dir.Log()));
    log.SetLogLevel(c.module, c.name);
    const std::pair<const char*, int> expected[] = {
        {"PROVIDER", c.provider}, {"JSON", c.json}, {"CONFIGURATOR", c.configurator}};
    for (const auto& [module, threshold] : expected) {
        for (int level = 0; level <= 4; ++level) {
            EXPECT_EQ(log.IsLogLevelEnabled(module, level), level <= threshold)
                << module << " level " << level;
        }
    }
    std::vector<std::string> lines = LogLines(dir.Log());
    if (!c.confirmation) {
        EXPECT_TRUE(lines.empty()) << lines[0];
        return;
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_search(
        lines[0], std::regex(std::string(R"(\]\[)") + c.module +
                             R"(\]\[INFO\]\[QVssLog:\d+\]\[CQLogger::SetLogLevel\]\[PID:)")))
        << lines[0];
    EXPECT_EQ(MessageOf(lines[0]), c.confirmation);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SetLogLevelByName,
    ::testing::Values(LevelNameCase{"PROVIDER", "dEbUg", 3, 2, 2,
                                    "Change log level of 'PROVIDER' module to 'DEBUG'"},
                      LevelNameCase{"PROVIDER", "TRACE", 4, 2, 2,
                                    "Change log level of 'PROVIDER' module to 'TRACE'"},
                      LevelNameCase{"PROVIDER", "Info", 2, 2, 2,
                                    "Change log level of 'PROVIDER' module to 'INFO'"},
                      LevelNameCase{"PROVIDER", "error", 0, 2, 2, nullptr},
                      LevelNameCase{"PROVIDER", "WARN", 1, 2, 2, nullptr},
                      LevelNameCase{"PROVIDER", "verbose", 2, 2, 2, nullptr},
                      LevelNameCase{"PROVIDER", "debug ", 2, 2, 2, nullptr},
                      LevelNameCase{"PROVIDER", "", 2, 2, 2, nullptr},
                      LevelNameCase{"provider", "debug", 2, 2, 2, nullptr},
                      LevelNameCase{"OTHER", "trace", 2, 2, 2, nullptr},
                      LevelNameCase{"JSON", "Trace", 2, 4, 2,
                                    "Change log level of 'JSON' module to 'TRACE'"},
                      LevelNameCase{"CONFIGURATOR", "DEBUG", 2, 2, 3,
                                    "Change log level of 'CONFIGURATOR' module to 'DEBUG'"},
                      LevelNameCase{"CONFIGURATOR", "error", 2, 2, 0, nullptr}));

TEST(QVssLog, NumericLevelFiveOrMoreChangesNothing) {
    ScratchDir dir;
    CQLogger log;
    ASSERT_TRUE(log.OpenLogFile(dir.Log()));
    for (int level : {5, 6, 1000}) log.SetLogLevel("PROVIDER", level);
    EXPECT_TRUE(log.IsLogLevelEnabled("PROVIDER", QLOG_INFO));
    EXPECT_FALSE(log.IsLogLevelEnabled("PROVIDER", QLOG_DEBUG));
    EXPECT_TRUE(LogLines(dir.Log()).empty());
    // An ERROR threshold silences everything else, its confirmation included.
    log.SetLogLevel("PROVIDER", QLOG_ERROR);
    log.qm_vss_log("F", "U", 1, "PROVIDER", QLOG_WARN, "warn");
    log.qm_vss_log("F", "U", 1, "PROVIDER", QLOG_ERROR, "error");
    std::vector<std::string> lines = LogLines(dir.Log());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "error");
}

TEST(QVssLog, MessageIsCutAt298CharactersUnlessLoggedInFull) {
    struct Case {
        size_t length;
        bool full;
        std::string Expected(const std::string& text) const {
            return full || length < 300 ? text : text.substr(0, 298) + "<";
        }
    };
    const Case cases[] = {{298, false}, {299, false}, {300, false}, {400, false},
                          {400, true},  {5000, true}, {0, false}};
    for (const Case& c : cases) {
        ScratchDir dir;
        CQLogger log;
        ASSERT_TRUE(log.OpenLogFile(dir.Log()));
        std::string text;
        for (size_t i = 0; i < c.length; ++i) text += static_cast<char>('a' + i % 26);
        if (c.full) {
            log.qm_vss_log_full("F", "U", 1, "PROVIDER", QLOG_INFO, "%s", text.c_str());
        } else {
            log.qm_vss_log("F", "U", 1, "PROVIDER", QLOG_INFO, "%s", text.c_str());
        }
        std::vector<std::string> lines = LogLines(dir.Log());
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(MessageOf(lines[0]), c.Expected(text)) << c.length << (c.full ? " full" : "");
    }
}

// The header's length depends on ids and line numbers; measure it with a
// one-character function name, then pick names that land on the 130-byte edge.
TEST(QVssLog, HeaderIsCutAt128CharactersUnlessLoggedInFull) {
    ScratchDir dir;
    CQLogger log;
    ASSERT_TRUE(log.OpenLogFile(dir.Log()));
    log.qm_vss_log("f", "U", 1, "PROVIDER", QLOG_INFO, "m");
    size_t shortHeader = LogLines(dir.Log())[0].size() - 1;
    ASSERT_LT(shortHeader, 129u);
    const size_t fitting = 129 - shortHeader + 1;  // a header of exactly 129 characters
    const std::vector<std::string> names = {std::string(fitting, 'f'),
                                            std::string(fitting + 1, 'f'), std::string(300, 'f')};
    for (const std::string& name : names) {
        log.qm_vss_log(name.c_str(), "U", 1, "PROVIDER", QLOG_INFO, "MSG");
        log.qm_vss_log_full(name.c_str(), "U", 1, "PROVIDER", QLOG_INFO, "MSG");
    }
    std::vector<std::string> lines = LogLines(dir.Log());
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[1].size(), 129u + 3);  // fits: written whole
    EXPECT_EQ(MessageOf(lines[1]), "MSG");
    for (size_t i : {3u, 5u}) {  // one character more, and far more: cut
        EXPECT_EQ(lines[i].size(), 129u + 3) << lines[i];
        EXPECT_EQ(lines[i].substr(128), "<MSG");
        // Same header as the whole one logged next, but for the time stamp.
        EXPECT_EQ(lines[i].substr(25, 128 - 25), lines[i + 1].substr(25, 128 - 25));
    }
    for (size_t k = 0; k < names.size(); ++k) {  // in full the header is never cut
        const std::string& line = lines[2 + 2 * k];
        EXPECT_NE(line.find("][U:1][" + names[k] + "][PID:0x"), std::string::npos) << line;
        EXPECT_EQ(MessageOf(line), "MSG");
    }
}

TEST(QVssLog, PercentSignsAndWideTextInArgumentsAreWrittenAsGiven) {
    ScratchDir dir;
    CQLogger log;
    ASSERT_TRUE(log.OpenLogFile(dir.Log()));
    const char* tricky = "%s%n%d%%%S%p 100%";
    std::string longTricky;
    for (int i = 0; i < 100; ++i) longTricky += "%n%s";
    log.qm_vss_log("F", "U", 1, "PROVIDER", QLOG_INFO, "a %s b", tricky);
    log.qm_vss_log_full("F", "U", 1, "PROVIDER", QLOG_INFO, "%s", tricky);
    log.qm_vss_log("F", "U", 1, "PROVIDER", QLOG_INFO, "%s", longTricky.c_str());
    log.qm_vss_log("F", "U", 1, "PROVIDER", QLOG_INFO, "name %S, %d%%", L"Vol{1-2} %s", 50);
    log.qm_vss_log_full("F", "U", 1, "PROVIDER", QLOG_INFO, "[%S]", L"wide");
    std::vector<std::string> lines = LogLines(dir.Log());
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(MessageOf(lines[0]), std::string("a ") + tricky + " b");
    EXPECT_EQ(MessageOf(lines[1]), tricky);
    EXPECT_EQ(MessageOf(lines[2]), longTricky.substr(0, 298) + "<");
    EXPECT_EQ(MessageOf(lines[3]), "name Vol{1-2} %s, 50%");
    EXPECT_EQ(MessageOf(lines[4]), "[wide]");
}

TEST(QVssLog, RotatesOnlyWhenTheFileIsLargerThanOneMebibyte) {
    for (uint64_t size : {kLimit - 1, kLimit, kLimit + 1, kLimit + 5000}) {
        ScratchDir dir;
        CQLogger log;
        ASSERT_TRUE(log.OpenLogFile(dir.Log()));
        PadTo(dir.Log(), size);
        Info(log, "next");
        if (size <= kLimit) {
            EXPECT_FALSE(fs::exists(dir.Generation(0))) << size;
            EXPECT_EQ(MessageOf(LogLines(dir.Log()).back()), "next");
            EXPECT_GT(fs::file_size(dir.Log()), size);
        } else {
            ASSERT_TRUE(fs::exists(dir.Generation(0))) << size;
            EXPECT_EQ(fs::file_size(dir.Generation(0)), size);
            // A fresh file: no banner, just the line.
            std::vector<std::string> lines = LogLines(dir.Log());
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(MessageOf(lines[0]), "next");
            EXPECT_NE(ReadText(dir.Log()).substr(0, 2), "**");
        }
    }
}

TEST(QVssLog, RotationShiftsGenerationsAndDropsTheOldest) {
    struct Case {
        std::vector<int> existing;       // generations on disk before, holding "gen<n>"
        std::vector<std::string> after;  // contents of _0.._3 after ("" missing, "cur" old file)
    };
    const Case cases[] = {
        {{}, {"cur", "", "", ""}},
        {{0}, {"cur", "gen0", "", ""}},
        {{0, 1, 2, 3}, {"cur", "gen0", "gen1", "gen2"}},
        {{0, 1, 2}, {"cur", "gen0", "gen1", "gen2"}},
        // A gap: each generation moves only into the next name.
        {{1, 3}, {"cur", "", "gen1", ""}},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        for (int n : c.existing) WriteFile(dir.Generation(n), "gen" + std::to_string(n));
        CQLogger log;
        ASSERT_TRUE(log.OpenLogFile(dir.Log()));
        PadTo(dir.Log(), kLimit + 1);
        Info(log, "after");
        for (int n = 0; n < 4; ++n) {
            const std::string& want = c.after[n];
            if (want.empty()) {
                EXPECT_FALSE(fs::exists(dir.Generation(n))) << n;
            } else if (want == "cur") {
                EXPECT_EQ(fs::file_size(dir.Generation(n)), kLimit + 1);
            } else {
                EXPECT_EQ(ReadText(dir.Generation(n)), want) << n;
            }
        }
        EXPECT_FALSE(fs::exists(dir.File("marl_vss_log_4.txt")));
        EXPECT_EQ(LogLines(dir.Log()).size(), 1u);
    }
}

// Generations that cannot be replaced (here folders with content, which
// neither move onto each other nor can be deleted) keep the current file in
// place: its lines must survive, not be truncated by the reopen.
TEST(QVssLog, RotationThatCannotMoveTheFileKeepsItsLines) {
    ScratchDir dir;
    for (int n = 0; n < 4; ++n) {
        fs::create_directories(dir.Generation(n));
        WriteFile(dir.Generation(n) + "/keep", "x");
    }
    CQLogger log;
    ASSERT_TRUE(log.OpenLogFile(dir.Log()));
    PadTo(dir.Log(), kLimit + 1);
    Info(log, "kept 1");
    Info(log, "kept 2");
    EXPECT_GT(fs::file_size(dir.Log()), kLimit + 1);
    std::vector<std::string> lines = LogLines(dir.Log());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(MessageOf(lines[lines.size() - 2]), "kept 1");
    EXPECT_EQ(MessageOf(lines.back()), "kept 2");

    // Once the way is free, rotation resumes after some further growth.
    for (int n = 0; n < 4; ++n) fs::remove_all(dir.Generation(n));
    Info(log, "still here");
    EXPECT_FALSE(fs::exists(dir.Generation(0)));
    AppendBytes(dir.Log(), 0x10000);
    Info(log, "fresh");
    ASSERT_TRUE(fs::exists(dir.Generation(0)));
    EXPECT_NE(ReadText(dir.Generation(0)).find("still here"), std::string::npos);
    lines = LogLines(dir.Log());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "fresh");
}

#ifdef _WIN32
// On Windows a reader that opened a generation without delete sharing (the
// C runtime's default) blocks its rename. One failed rotation shifts the
// older generations once; the lines that follow must not shift them again,
// or each line would delete another generation.
TEST(QVssLog, HeldGenerationDoesNotShiftTheOthersAtEveryLine) {
    ScratchDir dir;
    WriteFile(dir.Generation(0), "gen0");
    WriteFile(dir.Generation(1), "gen1");
    WriteFile(dir.Generation(2), "gen2");
    CQLogger log;
    ASSERT_TRUE(log.OpenLogFile(dir.Log()));
    PadTo(dir.Log(), kLimit + 1);
    {
        std::ifstream reader(dir.Generation(0));
        ASSERT_TRUE(reader.is_open());
        Info(log, "kept 1");
        Info(log, "kept 2");
        Info(log, "kept 3");
    }
    EXPECT_EQ(ReadText(dir.Generation(0)), "gen0");
    EXPECT_FALSE(fs::exists(dir.Generation(1)));
    EXPECT_EQ(ReadText(dir.Generation(2)), "gen1");
    EXPECT_EQ(ReadText(dir.Generation(3)), "gen2");
    EXPECT_EQ(MessageOf(LogLines(dir.Log()).back()), "kept 3");
    EXPECT_GT(fs::file_size(dir.Log()), kLimit + 1);
}
#endif

// Two loggers on one path behave like two processes sharing the log.
TEST(QVssLog, FollowsARotationMadeByAnotherLogger) {
    ScratchDir dir;
    CQLogger first, second;
    ASSERT_TRUE(first.OpenLogFile(dir.Log()));
    ASSERT_TRUE(second.OpenLogFile(dir.Log()));
    PadTo(dir.Log(), kLimit + 1);
    Info(first, "from first");
    Info(second, "from second");
    std::vector<std::string> lines = LogLines(dir.Log());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(MessageOf(lines[0]), "from first");
    EXPECT_EQ(MessageOf(lines[1]), "from second");
    EXPECT_EQ(ReadText(dir.Generation(0)).find("from"), std::string::npos);
}

// Not on Windows: a file deleted while we hold it keeps its name until the
// last handle closes (Wine does so even where Windows now frees the name), so
// the next line cannot tell that it was deleted.
#ifndef _WIN32
TEST(QVssLog, RecreatesTheFileWhenItVanished) {
    ScratchDir dir;
    CQLogger log;
    ASSERT_TRUE(log.OpenLogFile(dir.Log()));
    Info(log, "before");
    fs::remove(dir.Log());
    Info(log, "after");
    std::vector<std::string> lines = LogLines(dir.Log());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "after");
}
#endif

// Holds the named mutex from a thread of its own (a kernel mutex is
// re-entrant for the thread that holds it) until destroyed.
class MutexHolder {
  public:
    explicit MutexHolder(const std::string& name) : m_mutex(name) {
        m_thread = std::thread([this] {
            m_mutex.Lock();
            m_held = true;
            while (!m_release) marl::platform::SleepMilliseconds(1);
            m_mutex.Unlock();
        });
        for (int i = 0; i < 10000 && !m_held; ++i) marl::platform::SleepMilliseconds(1);
    }
    ~MutexHolder() {
        m_release = true;
        m_thread.join();
    }
    bool Held() const { return m_held; }

  private:
    marl::platform::NamedMutex m_mutex;
    std::atomic<bool> m_held{false}, m_release{false};
    std::thread m_thread;
};

// Anybody may hold "q9_logger": lines then go without it, and the log says
// so once, before the first such line.
TEST(QVssLog, LinesGoWithoutTheMutexWhileSomebodyElseHoldsIt) {
    ScratchDir dir;
    CQLogger log;
    log.SetMutexWaitForTesting(100);
    ASSERT_TRUE(log.OpenLogFile(dir.Log()));
    Info(log, "before");
    {
        MutexHolder holder("q9_logger");
        ASSERT_TRUE(holder.Held());
        Info(log, "first while held");
        log.qm_vss_log_full("Test::Full", kLogUnit, 9, "JSON", QLOG_INFO, "%s", "whole while held");
    }
    Info(log, "after");
    {
        MutexHolder again("q9_logger");
        Info(log, "held again");
    }
    std::vector<std::string> lines = LogLines(dir.Log());
    std::vector<std::string> messages;
    for (const std::string& line : lines) messages.push_back(MessageOf(line));
    const std::string report =
        "Could not take the log mutex \"q9_logger\" within 100 ms: another process holds it; "
        "lines are written without it until it is free again";
    EXPECT_EQ(messages, (std::vector<std::string>{"before", report, "first while held",
                                                  "whole while held", "after", "held again"}));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_NE(lines[1].find("[PROVIDER][ERROR][QVssLog:"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("][CQLogger::qm_vss_log][PID:"), std::string::npos) << lines[1];
}

TEST(QVssLog, SecondOpenKeepsTheFirstFile) {
    ScratchDir dir;
    CQLogger log;
    ASSERT_TRUE(log.OpenLogFile(dir.Log()));
    EXPECT_TRUE(log.OpenLogFile(dir.File("other_log.txt")));
    Info(log, "line");
    EXPECT_FALSE(fs::exists(dir.File("other_log.txt")));
    EXPECT_EQ(LogLines(dir.Log()).size(), 1u);
    EXPECT_EQ(ReadText(dir.Log()).find(kBanner, 1), std::string::npos);  // one banner
}

TEST(QVssLog, LinesWithoutAnOpenFileAreDropped) {
    ScratchDir dir;
    CQLogger log;
    Info(log, "before any open");
    log.qm_vss_log_full("F", "U", 1, "PROVIDER", QLOG_ERROR, "%s", "full before any open");
    std::string missing = dir.File("missing/marl_vss_log.txt");
    EXPECT_FALSE(log.OpenLogFile(missing));
    Info(log, "after a failed open");
    // Lines do not open the file behind the caller's back, even once they could.
    fs::create_directories(dir.File("missing"));
    Info(log, "folder now exists");
    EXPECT_FALSE(fs::exists(missing));
    ASSERT_TRUE(log.OpenLogFile(dir.Log()));
    Info(log, "written");
    EXPECT_EQ(ReadText(dir.Log()).substr(0, kBanner.size()), kBanner);
    std::vector<std::string> lines = LogLines(dir.Log());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "written");
}

TEST(QVssLog, DestructorEndsTheLog) {
    ScratchDir dir;
    {
        CQLogger log;
        ASSERT_TRUE(log.OpenLogFile(dir.Log()));
        Info(log, "last");
    }
    std::string text = ReadText(dir.Log());
    const std::string end = "last\n*** End of Log ***\n";
    ASSERT_GE(text.size(), end.size());
    EXPECT_EQ(text.substr(text.size() - end.size()), end);
}

TEST(QVssLog, ResetForTestingRestoresInitialState) {
    ScratchDir dir;
    CQLogger* log = CQLogger::getInstance();
    log->ResetForTesting();
    ASSERT_TRUE(log->OpenLogFile(dir.File("one_log.txt")));
    log->SetLogLevel("PROVIDER", "trace");
    log->ResetForTesting();
    EXPECT_FALSE(log->IsLogLevelEnabled("PROVIDER", QLOG_DEBUG));
    ASSERT_TRUE(log->OpenLogFile(dir.File("two_log.txt")));
    Info(*log, "second");
    log->ResetForTesting();
    EXPECT_EQ(LogLines(dir.File("two_log.txt")).size(), 1u);
}

// Captures the debugger output for the length of a test.
class DebugOutputCapture {
  public:
    DebugOutputCapture() {
        m_previous = marl::platform::SetDebugOutputSink(
            [this](const std::wstring& text) { m_texts.push_back(text); });
    }
    ~DebugOutputCapture() { marl::platform::SetDebugOutputSink(m_previous); }
    const std::vector<std::wstring>& Texts() const { return m_texts; }

  private:
    std::vector<std::wstring> m_texts;
    marl::platform::DebugOutputSink m_previous;
};

void TracedThatThrows() {
    FuncTrace trace(L"CQProvider::Throws");
    throw std::runtime_error("boom");
}

TEST(FuncTrace, WritesEnteringAndExitingAtEveryExit) {
    DebugOutputCapture capture;
    { FuncTrace trace(L"CQProvider::TakeSnap"); }
    EXPECT_THROW(TracedThatThrows(), std::runtime_error);
    const std::vector<std::wstring> expected = {
        L"Entering: CQProvider::TakeSnap\n", L"Exiting: CQProvider::TakeSnap\n",
        L"Entering: CQProvider::Throws\n", L"Exiting: CQProvider::Throws\n"};
    EXPECT_EQ(capture.Texts(), expected);
}

// "Entering: " + name + "\n" and its zero must fit 4096 wide characters;
// "Exiting: " is one shorter, so one name length passes only on the way out.
TEST(FuncTrace, SendsOnlyTextsThatFitTheBuffer) {
    struct Case {
        size_t nameLength;
        bool entering, exiting;
    };
    const Case cases[] = {
        {4084, true, true}, {4085, false, true}, {4086, false, false}, {10000, false, false}};
    for (const Case& c : cases) {
        std::wstring name(c.nameLength, L'n');
        DebugOutputCapture capture;
        { FuncTrace trace(name.c_str()); }
        std::vector<std::wstring> expected;
        if (c.entering) expected.push_back(L"Entering: " + name + L"\n");
        if (c.exiting) expected.push_back(L"Exiting: " + name + L"\n");
        EXPECT_EQ(capture.Texts(), expected) << c.nameLength;
    }
}

TEST(DebugOutputFormatted, FormatsWideText) {
    DebugOutputCapture capture;
    marl::common::DebugOutputFormatted(L"returning 0x%08x\n", 0x80042306u);
    marl::common::DebugOutputFormatted(L"%ls %d\n", L"name", 7);
    const std::vector<std::wstring> expected = {L"returning 0x80042306\n", L"name 7\n"};
    EXPECT_EQ(capture.Texts(), expected);
}

}  // namespace
