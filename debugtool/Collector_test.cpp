// The collector end to end: the real program (with its installation folder
// pointed at a folder of the test's own) runs the three diagnostic commands
// through the command interpreter. Stand-ins for diskshadow, wevtutil and
// msinfo32, first on its PATH, record their command lines and write outputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "debugtool/CollectorPlan.h"
#include "debugtool/ConfigRedaction.h"
#include "debugtool/testing/DebugToolTesting.h"

namespace marl::debugtool {
namespace {

namespace t = marl::debugtool::testing;
namespace fs = std::filesystem;

#ifdef _WIN32
constexpr const char* kExe = ".exe";
constexpr char kSep = '\\';
#else
constexpr const char* kExe = "";
constexpr char kSep = '/';
#endif

const char* const kTools[] = {"diskshadow", "wevtutil", "msinfo32"};

const std::string kConfiguration =
    "EXTERNAL_IP = [192.168.7.10]\r\nUSERNAME = [admin]\r\nPASSWORD = [4a6f686e31323334]\r\n"
    "VMWARE_VM = [True]\r\nVCENTER_PASSWORD = [73656372657421]\r\nLOG_LEVEL_PROVIDER = [INFO]\r\n";

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

struct RunOutcome {
    int exitCode = -1;
    std::string output;
};

// An installation folder of the test's own, with the stand-ins in bin/.
class Installation {
  public:
    explicit Installation(bool standIns = true) {
        fs::create_directories(m_folder);
        fs::create_directories(m_bin);
        if (standIns) {
            for (const char* tool : kTools) {
                fs::copy_file(
                    fs::path(t::TargetPath(MARL_STAND_INS_DIR)) / (std::string(tool) + kExe),
                    m_bin / (std::string(tool) + kExe));
            }
        }
        fs::copy_file(t::TargetPath(MARL_DISKSHADOW_SCRIPT), m_folder / "diskshadow_cmd.txt");
    }

    // Natively the folder goes with the test; under Wine the archive check
    // that follows the suite still needs it (it is emptied at the next run).
    ~Installation() {
#ifndef _WIN32
        std::error_code ec;
        fs::remove_all(m_root, ec);
#endif
    }
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    const fs::path& Folder() const { return m_folder; }
    std::string FolderText() const { return m_folder.string() + kSep; }
    fs::path Put(const std::string& name, const std::string& bytes) const {
        t::WriteBytes(m_folder / name, bytes);
        return m_folder / name;
    }
    // The configuration file, both current logs and all their generations.
    void PutEverything() const {
        Put("marl_vss_conf.txt", kConfiguration);
        for (const ArchiveItem& i : InstallationItems()) {
            if (i.entryName != kConfigurationEntry) Put(i.source, "line of " + i.source + "\r\n");
        }
    }

    RunOutcome Run(const std::string& folderArgument) const {
        RunOutcome r;
        fs::path out = m_root / "stdout.txt";
        r.exitCode = t::RunProgram(t::TargetPath(MARL_DEBUGTOOL_HOST), {folderArgument},
                                   m_bin.string(), out);
        r.output = t::ReadBytes(out);
        return r;
    }
    RunOutcome Run() const { return Run(FolderText()); }

    std::vector<fs::path> Archives() const {
        std::vector<fs::path> found;
        for (const auto& e : fs::directory_iterator(m_folder)) {
            std::string name = e.path().filename().string();
            if (name.rfind("Snap_VSS_", 0) == 0 && e.is_regular_file()) found.push_back(e.path());
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    // The command lines each stand-in received, one per run.
    std::vector<std::string> Recorded(const char* tool) const {
        std::vector<std::string> lines;
        std::string all = t::ReadBytes(m_bin / (std::string(tool) + ".cmdline"));
        for (size_t start = 0; start < all.size();) {
            size_t end = all.find('\n', start);
            lines.push_back(all.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }

    // The expected entries, in order, for the names present; the
    // configuration as it must appear (passwords hidden) and the stand-ins'
    // outputs are written beside the installation for the comparison.
    std::vector<t::ExpectedEntry> Expected(const std::vector<std::string>& names) const {
        std::vector<t::ExpectedEntry> out;
        fs::path expected = m_root / "expected";
        fs::create_directories(expected);
        for (const std::string& n : names) {
            fs::path source = m_folder / n;
            if (n == kConfigurationEntry) {
                source = expected / n;
                t::WriteBytes(source, RedactPasswords(t::ReadBytes(m_folder / n)));
            } else if (n == kDiskShadowLog) {
                source = expected / n;
                t::WriteBytes(source, "DiskShadow stand-in log\r\n");
            } else if (n == kSystemInfoOutput) {
                source = expected / n;
                t::WriteBytes(source, "System information stand-in\r\n");
            } else if (n == kEventLogOutput) {
                source = expected / n;
                t::WriteBytes(source,
                              "Event[0]:\r\n  Log Name: Application\r\n  Source: stand-in\r\n");
            }
            out.push_back({n, source});
        }
        return out;
    }

    const fs::path& Root() const { return m_root; }

  private:
    fs::path m_root = t::MakeTestFolder("collector");
    fs::path m_folder = m_root / "install";
    fs::path m_bin = m_root / "bin";
};

const std::vector<std::string> kEveryEntry = {
    "marl_vss_conf.txt",       "marl_vss_log.txt",        "marl_vss_log_0.txt",
    "marl_vss_log_1.txt",      "marl_vss_log_2.txt",      "marl_vss_log_3.txt",
    "marl_vss_conf_log.txt",   "marl_vss_conf_log_0.txt", "marl_vss_conf_log_1.txt",
    "marl_vss_conf_log_2.txt", "marl_vss_conf_log_3.txt", "diskshadow_log.txt",
    "wevtutil_log.txt",        "msinfo_log.txt"};

TEST(Collector, ArchivesEverythingInOrderWithPasswordsHidden) {
    Installation inst;
    inst.PutEverything();
    RunOutcome r = inst.Run();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "");
    std::vector<fs::path> archives = inst.Archives();
    ASSERT_EQ(archives.size(), 1u);
    std::string name = archives[0].filename().string();
    EXPECT_EQ(name.size(), std::string("Snap_VSS_20240305-04.07.09.zip").size());
    EXPECT_EQ(t::EntryNames(archives[0]), kEveryEntry);
    std::string bytes = t::ReadBytes(archives[0]);
    EXPECT_EQ(bytes.find("4a6f686e31323334"), std::string::npos);
    EXPECT_EQ(bytes.find("73656372657421"), std::string::npos);
    EXPECT_EQ(t::CheckArchive(archives[0], inst.Expected(kEveryEntry), inst.Root()), "");
    EXPECT_FALSE(fs::exists(inst.Folder() / "Snap_VSS"));
}

TEST(Collector, CommandLinesReachTheProgramsAsWritten) {
    Installation inst;
    inst.PutEverything();
    ASSERT_EQ(inst.Run().exitCode, 0);
    const std::string f = inst.FolderText();
#ifdef _WIN32
    // The interpreter hands each program the command line as written, less
    // the redirection of the event query's output.
    EXPECT_EQ(inst.Recorded("diskshadow"),
              std::vector<std::string>{"diskshadow /s diskshadow_cmd.txt /l \"" + f +
                                       "Snap_VSS\\diskshadow_log.txt\""});
    std::vector<std::string> events = inst.Recorded("wevtutil");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(Trimmed(events[0]),
              "wevtutil qe Application  /rd:true /f:text "
              "/q:\"*[System[TimeCreated[timediff(@SystemTime) >= 30000] and "
              "TimeCreated[timediff(@SystemTime) <= 172800000]]]\"");
    EXPECT_EQ(inst.Recorded("msinfo32"),
              std::vector<std::string>{"msinfo32 /report \"" + f + "Snap_VSS\\msinfo_log.txt\""});
#else
    // The shell splits the words and takes the quotes away.
    EXPECT_EQ(inst.Recorded("diskshadow"),
              std::vector<std::string>{"diskshadow /s diskshadow_cmd.txt /l " + f +
                                       "Snap_VSS/diskshadow_log.txt"});
    EXPECT_EQ(
        inst.Recorded("wevtutil"),
        std::vector<std::string>{"wevtutil qe Application /rd:true /f:text "
                                 "/q:*[System[TimeCreated[timediff(@SystemTime) >= 30000] and "
                                 "TimeCreated[timediff(@SystemTime) <= 172800000]]]"});
    EXPECT_EQ(inst.Recorded("msinfo32"),
              std::vector<std::string>{"msinfo32 /report " + f + "Snap_VSS/msinfo_log.txt"});
#endif
}

TEST(Collector, MissingGenerationsAreAbsent) {
    Installation inst;
    inst.Put("marl_vss_conf.txt", kConfiguration);
    inst.Put("marl_vss_log.txt", "provider\r\n");
    inst.Put("marl_vss_conf_log.txt", "configurator\r\n");
    inst.Put("marl_vss_log_2.txt", "an older generation\r\n");
    ASSERT_EQ(inst.Run().exitCode, 0);
    std::vector<fs::path> archives = inst.Archives();
    ASSERT_EQ(archives.size(), 1u);
    const std::vector<std::string> names = {
        "marl_vss_conf.txt",  "marl_vss_log.txt", "marl_vss_log_2.txt", "marl_vss_conf_log.txt",
        "diskshadow_log.txt", "wevtutil_log.txt", "msinfo_log.txt"};
    EXPECT_EQ(t::EntryNames(archives[0]), names);
    EXPECT_EQ(t::CheckArchive(archives[0], inst.Expected(names), inst.Root()), "");
}

#ifndef _WIN32
// Natively the three Windows programs do not exist: their logs are absent,
// and the event query's redirection leaves the empty file the shell created.
TEST(Collector, WithoutTheWindowsProgramsOnlyTheRedirectedOutputRemainsEmpty) {
    Installation inst(false);
    inst.PutEverything();
    RunOutcome r = inst.Run();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "");
    std::vector<fs::path> archives = inst.Archives();
    ASSERT_EQ(archives.size(), 1u);
    std::vector<std::string> names(kEveryEntry.begin(), kEveryEntry.begin() + 11);
    names.push_back("wevtutil_log.txt");
    EXPECT_EQ(t::EntryNames(archives[0]), names);
    std::vector<t::ExpectedEntry> expected = inst.Expected(names);
    t::WriteBytes(expected.back().source, "");
    EXPECT_EQ(t::CheckArchive(archives[0], expected, inst.Root()), "");
    EXPECT_FALSE(fs::exists(inst.Folder() / "Snap_VSS"));
}
#endif

TEST(Collector, MissingInstallationFolderEndsWithTheSystemErrorAndExitCodeOne) {
    Installation inst;
    fs::path missing = inst.Root() / "absent";
    RunOutcome r = inst.Run(missing.string() + kSep);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Trimmed(r.output), "SetCurrentDirectory failed (2)");
    EXPECT_FALSE(fs::exists(missing));
    for (const char* tool : kTools) EXPECT_TRUE(inst.Recorded(tool).empty()) << tool;
}

// The archive's names for the next seconds, to occupy them before a run.
std::vector<std::string> NamesOfTheNextSeconds(int seconds) {
    std::vector<std::string> names;
    std::time_t now = std::time(nullptr);
    for (int i = 0; i < seconds; ++i) {
        std::time_t at = now + i;
        std::tm tm = *std::localtime(&at);
        platform::LocalTime lt{};
        lt.year = tm.tm_year + 1900;
        lt.month = tm.tm_mon + 1;
        lt.day = tm.tm_mday;
        lt.hour = tm.tm_hour;
        lt.minute = tm.tm_min;
        lt.second = tm.tm_sec;
        names.push_back(ArchiveName(lt));
    }
    return names;
}

TEST(Collector, AnArchiveThatCannotBeCreatedStillRunsTheThreeCommands) {
    Installation inst;
    inst.PutEverything();
    // Folders where the archive would go: it cannot be created.
    for (const std::string& n : NamesOfTheNextSeconds(60)) fs::create_directory(inst.Folder() / n);
    RunOutcome r = inst.Run();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "");
    EXPECT_TRUE(inst.Archives().empty());
    for (const char* tool : kTools) EXPECT_EQ(inst.Recorded(tool).size(), 1u) << tool;
    EXPECT_FALSE(fs::exists(inst.Folder() / "Snap_VSS"));
}

// A second run within the same second meets the first run's archive under
// its own name: it replaces it whole. The first archive is copied under the
// names of the coming seconds so that the second run surely meets one.
TEST(Collector, ASecondRunInTheSameSecondReplacesTheArchive) {
    Installation inst;
    inst.PutEverything();
    ASSERT_EQ(inst.Run().exitCode, 0);
    std::vector<fs::path> first = inst.Archives();
    ASSERT_EQ(first.size(), 1u);
    std::string firstBytes = t::ReadBytes(first[0]);
    fs::remove(first[0]);
    inst.Put("marl_vss_log.txt", "a longer line of the second run's provider log\r\n");
    fs::remove(inst.Folder() / "marl_vss_log_3.txt");
    for (const std::string& n : NamesOfTheNextSeconds(60))
        t::WriteBytes(inst.Folder() / n, firstBytes);
    ASSERT_EQ(inst.Run().exitCode, 0);
    std::vector<fs::path> replaced;
    for (const fs::path& a : inst.Archives()) {
        if (t::ReadBytes(a) != firstBytes) replaced.push_back(a);
    }
    ASSERT_EQ(replaced.size(), 1u);
    std::vector<std::string> names = kEveryEntry;
    names.erase(names.begin() + 5);  // marl_vss_log_3.txt
    EXPECT_EQ(t::EntryNames(replaced[0]), names);
    EXPECT_EQ(t::CheckArchive(replaced[0], inst.Expected(names), inst.Root()), "");
}

TEST(Collector, AScratchFolderThatCannotBeRemovedIsReported) {
    Installation inst;
    inst.PutEverything();
    fs::create_directory(inst.Folder() / "Snap_VSS");
    inst.Put("Snap_VSS/keep.txt", "not ours");
    RunOutcome r = inst.Run();
    EXPECT_EQ(r.exitCode, 0);
#ifdef _WIN32
    EXPECT_EQ(Trimmed(r.output), "RemoveDirectory failed (145)");  // ERROR_DIR_NOT_EMPTY
#else
    EXPECT_EQ(Trimmed(r.output), "RemoveDirectory failed (39)");  // ENOTEMPTY
#endif
    ASSERT_EQ(inst.Archives().size(), 1u);
    EXPECT_EQ(t::EntryNames(inst.Archives()[0]), kEveryEntry);
    // The outputs of the commands are gone; what was there before stays.
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(inst.Folder() / "Snap_VSS")) {
        left.push_back(e.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{"keep.txt"});
}

#ifdef _WIN32
// A running provider holds its current log open for writing through the
// logger; the collector cannot open it with read sharing only and leaves it
// out, while the closed generations are archived.
TEST(Collector, AProviderLogHeldOpenByTheLoggerIsLeftOutAndItsGenerationsKept) {
    Installation inst;
    inst.PutEverything();
    fs::path log = inst.Folder() / "marl_vss_log.txt";
    fs::path ready = inst.Root() / "ready", release = inst.Root() / "release";
    std::wstring line = L"\"" + fs::path(t::TargetPath(MARL_DEBUGTOOL_HOLDER)).wstring() +
                        L"\" log \"" + log.wstring() + L"\" \"" + ready.wstring() + L"\" \"" +
                        release.wstring() + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &si, &pi));
    for (int i = 0; i < 300 && !fs::exists(ready); ++i) ::Sleep(100);
    ASSERT_TRUE(fs::exists(ready));
    RunOutcome r = inst.Run();
    t::WriteBytes(release, "");
    ::WaitForSingleObject(pi.hProcess, 30000);
    DWORD code = 1;
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(pi.hThread);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(r.exitCode, 0);
    ASSERT_EQ(inst.Archives().size(), 1u);
    std::vector<std::string> names = kEveryEntry;
    names.erase(names.begin() + 1);  // marl_vss_log.txt
    EXPECT_EQ(t::EntryNames(inst.Archives()[0]), names);
    EXPECT_EQ(t::CheckArchive(inst.Archives()[0], inst.Expected(names), inst.Root()), "");
}
#endif

}  // namespace
}  // namespace marl::debugtool
