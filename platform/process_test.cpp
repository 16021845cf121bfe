#include "platform/process.h"

#include <gtest/gtest.h>

#include "platform/testing/recorder.h"

namespace marl::platform {
namespace {

using marl::testing::Narrow;
using marl::testing::Wide;
using Args = std::vector<std::wstring>;

struct SplitCase {
    const wchar_t* line;
    Args expected;
};

// The Microsoft C runtime's rules, case by case.
const SplitCase kSplitCases[] = {
    {LR"("C:\Program Files\Marl VSS\QVCenter\QVCENTER.exe" --operation set_rdm --scsi_sn 6001405AB,6001405CD)",
     {LR"(C:\Program Files\Marl VSS\QVCenter\QVCENTER.exe)", L"--operation", L"set_rdm",
      L"--scsi_sn", L"6001405AB,6001405CD"}},
    {L"prog a b", {L"prog", L"a", L"b"}},
    {L"prog \t a\t\tb  ", {L"prog", L"a", L"b"}},
    {L"prog \"a b\" c", {L"prog", L"a b", L"c"}},
    {L"prog a\"b c\"d", {L"prog", L"ab cd"}},
    {L"prog \"\" x \"\"", {L"prog", L"", L"x", L""}},
    {LR"(prog a\\b c\)", {L"prog", LR"(a\\b)", LR"(c\)"}},
    {LR"(prog a\"b)", {L"prog", L"a\"b"}},
    {LR"(prog a\\"b c")", {L"prog", LR"(a\b c)"}},
    {LR"(prog a\\\"b)", {L"prog", LR"(a\"b)"}},
    {LR"(prog "a\\\\" b)", {L"prog", LR"(a\\)", L"b"}},
    {LR"(prog "a""b" c)", {L"prog", L"a\"b", L"c"}},
    {LR"(prog "a"" b")", {L"prog", L"a\" b"}},
    {LR"(prog "unclosed quote)", {L"prog", L"unclosed quote"}},
    {LR"("C:\dir\" x)", {LR"(C:\dir\)", L"x"}},
    {L"", {L""}},
};

TEST(Process, SplitsCommandLinesAsTheMicrosoftRuntime) {
    for (const SplitCase& c : kSplitCases) {
        SCOPED_TRACE(Narrow(c.line));
        EXPECT_EQ(SplitCommandLine(c.line), c.expected);
    }
}

class ProcessRunTest : public ::testing::Test {
  protected:
    void SetUp() override { m_folder = marl::testing::MakeScratchFolder("process"); }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
    }

    std::filesystem::path Install(const std::string& relative) {
#ifdef _WIN32
        return marl::testing::InstallRecorder(m_folder / (relative + ".exe"));
#else
        return marl::testing::InstallRecorder(m_folder / relative);
#endif
    }

    std::filesystem::path m_folder;
};

// The tail of each line is given to a real started program. On Windows its own
// C runtime splits it, which checks SplitCommandLine against the real thing;
// on POSIX it checks that the backend hands over exactly the split arguments.
TEST_F(ProcessRunTest, ProgramReceivesTheArgumentsTheRuntimeWouldSplit) {
    const char* const tails[] = {
        " --operation set_rdm --scsi_sn 6001405AB,6001405CD",
        " a \"b c\" \t d",
        R"( a\\b a\"b a\\"b c" a\\\"b)",
        R"( "x\\\\" "" end\)",
    };
    auto program = Install("dir with blanks/recorder");
    for (const char* tail : tails) {
        std::wstring line = L"\"" + Wide(program.string()) + L"\"" + Wide(tail);
        Args expected = SplitCommandLine(line);
        int notified = 0;
        ProcessRun run = RunProcessAndWait(line, [&] { ++notified; });
        EXPECT_TRUE(run.started) << tail;
        EXPECT_EQ(run.error, 0u);
        EXPECT_EQ(notified, 1);
        auto runs = marl::testing::ReadRecordedRuns(program);
        ASSERT_FALSE(runs.empty()) << tail;
        std::vector<std::string> got(runs.back().begin() + 1, runs.back().end());
        std::vector<std::string> want;
        for (size_t i = 1; i < expected.size(); ++i) want.push_back(Narrow(expected[i]));
        EXPECT_EQ(got, want) << tail;
    }
    EXPECT_EQ(marl::testing::ReadRecordedRuns(program).size(), std::size(tails));
}

TEST_F(ProcessRunTest, UnquotedProgramWithoutBlanksRuns) {
    auto program = Install("plain");
    std::wstring line = Wide(program.string()) + L" one";
    EXPECT_TRUE(RunProcessAndWait(line).started);
    auto runs = marl::testing::ReadRecordedRuns(program);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].back(), "one");
}

TEST_F(ProcessRunTest, MissingProgramIsReportedAsFileNotFound) {
    std::filesystem::create_directories(m_folder / "QVCenter");
    std::wstring line =
        L"\"" + Wide((m_folder / "QVCenter" / "QVCENTER.exe").string()) + L"\" --operation x";
    bool notified = false;
    ProcessRun run = RunProcessAndWait(line, [&] { notified = true; });
    EXPECT_FALSE(run.started);
    EXPECT_EQ(run.error, 2u);
    EXPECT_FALSE(notified);
}

TEST_F(ProcessRunTest, FailingStartNotificationStillWaitsForTheProgram) {
    auto program = Install("waited");
    std::wstring line = L"\"" + Wide(program.string()) + L"\" x";
    ProcessRun run = RunProcessAndWait(line, [] { throw std::runtime_error("log failed"); });
    EXPECT_TRUE(run.started);
    EXPECT_EQ(marl::testing::ReadRecordedRuns(program).size(), 1u);
}

}  // namespace
}  // namespace marl::platform
