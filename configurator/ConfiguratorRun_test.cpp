// Whole runs: the two passes and their key orders, the vCenter conditions,
// log levels and debug mode, the program entry, the file rotation.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <optional>

#include "common/PasswordCipher.h"
#include "configurator/QVssConfigurator.h"
#include "configurator/testing/ConfiguratorFixture.h"
#include "configurator/testing/StoredPasswords.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using marl::testing::DecodePasswordsIn;
using marl::testing::Dialogue;
using marl::testing::ExpectSecret;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

std::string Stored(const std::string& plain) {
    return marl::common::StoredPasswordForm(plain, "abcdefghijklmnop");
}

// Every key the provider reads, none of them asked for as missing.
std::string FullConfig() {
    return "EXTERNAL_IP = [10.0.0.5]\nHOST_NAME = [host1]\nUSERNAME = [admin]\n"
           "PASSWORD = [" +
           Stored("old") +
           "]\nSNAP_PREFIX = [snap]\n"
           "RETENTION_POLICY = [gold]\nSUPPORT_SSL = [True]\nVMWARE_VM = [False]\n"
           "REPLICATION_MODE = [False]\nLOG_LEVEL_PROVIDER = [INFO]\nLOG_LEVEL_JSON = [INFO]\n"
           "LOG_LEVEL_CONFIGURATOR = [INFO]\n";
}

const char kNewFromEmpty[] =
    "EXTERNAL_IP = [10.0.0.5]\nHOST_NAME = [host1]\nUSERNAME = [admin]\n"
    "PASSWORD = [plain:pw]\nSNAP_PREFIX = [snap]\nRETENTION_POLICY = [gold]\n"
    "SUPPORT_SSL = [False]\nVMWARE_VM = [False]\nREPLICATION_MODE = [yes]\n"
    "LOG_LEVEL_PROVIDER = [INFO]\nLOG_LEVEL_JSON = [INFO]\nLOG_LEVEL_CONFIGURATOR = [INFO]\n";

const char kTypedForEmpty[] = "10.0.0.5\nhost1\nadmin\npw\rsnap\ngold\nfalse\nF\nyes\n";

struct RunCase {
    const char* name;
    std::string config;
    std::string typed;
    bool debug;
    std::string expected;  // the new file, passwords decoded
};

std::vector<RunCase> RunCases() {
    const std::string vcenterTyped = "https://vc\nvcadmin\nvcpw\rfalse\nfalse\nhttps://sso\n";
    const std::string vcenterLines =
        "VCENTER_URL = [https://vc]\nVCENTER_USERNAME = [vcadmin]\n"
        "VCENTER_PASSWORD = [plain:vcpw]\nVCENTER_IGNORECERT = [False]\n"
        "VCENTER_DISABLESSO = [False]\nVCENTER_SSOURL = [https://sso]\n";
    std::string full = FullConfig();
    std::string fullDecoded = DecodePasswordsIn(full);
    auto replace = [](std::string s, const std::string& from, const std::string& to) {
        s.replace(s.find(from), from.size(), to);
        return s;
    };
    const std::string vmTrue = replace(fullDecoded, "VMWARE_VM = [False]", "VMWARE_VM = [True]");
    return {
        {"empty file asks for every key", "", kTypedForEmpty, false, kNewFromEmpty},
        {"every key kept", full, "nnnnnnnnn", false, fullDecoded},
        {"unknown and indented lines are dropped",
         "# EXTERNAL_IP = [9.9.9.9]\nFOO = [x]\n\n EXTERNAL_IP = [1.1.1.1]\n" +
             full.substr(full.find("HOST_NAME")),
         "nnnnnnnn10.0.0.5\n", false,
         fullDecoded.substr(fullDecoded.find("HOST_NAME")) + "EXTERNAL_IP = [10.0.0.5]\n"},
        {"missing VMWARE_VM entered True asks the vCenter block",
         replace(full, "VMWARE_VM = [False]\n", ""),
         "nnnnnnnn"
         "true\n" +
             vcenterTyped,
         false,
         replace(fullDecoded, "VMWARE_VM = [False]\n", "") + "VMWARE_VM = [True]\n" + vcenterLines},
        {"vCenter lines before VMWARE_VM are dropped and asked again",
         "VCENTER_URL = [old]\nVCENTER_DISABLESSO = [True]\n" +
             replace(full, "VMWARE_VM = [False]", "VMWARE_VM = [True]"),
         "nnnnnnnnn" + vcenterTyped, false, vmTrue + vcenterLines},
        {"lower-case true leaves out the vCenter block",
         replace(full, "VMWARE_VM = [False]", "VMWARE_VM = [true]") + "VCENTER_URL = [u]\n",
         "nnnnnnnnn", false, replace(fullDecoded, "VMWARE_VM = [False]", "VMWARE_VM = [true]")},
        {"SSO address only while single sign-on is on",
         replace(full, "VMWARE_VM = [False]\n",
                 "VMWARE_VM = [True]\nVCENTER_URL = [u]\nVCENTER_USERNAME = [v]\n"
                 "VCENTER_PASSWORD = [" +
                     Stored("p") +
                     "]\nVCENTER_IGNORECERT = [True]\n"
                     "VCENTER_DISABLESSO = [True]\nVCENTER_SSOURL = [dropped]\n"),
         "nnnnnnnnnnnnnn", false,
         replace(fullDecoded, "VMWARE_VM = [False]\n",
                 "VMWARE_VM = [True]\nVCENTER_URL = [u]\nVCENTER_USERNAME = [v]\n"
                 "VCENTER_PASSWORD = [plain:p]\nVCENTER_IGNORECERT = [True]\n"
                 "VCENTER_DISABLESSO = [True]\n")},
        {"missing log levels are added as INFO", full.substr(0, full.find("LOG_LEVEL")),
         "nnnnnnnnn", false, fullDecoded},
        {"debug mode asks about log levels", full,
         "nnnnnnnnn"
         "ydebug\n"
         "n"
         "n",
         true, replace(fullDecoded, "LOG_LEVEL_PROVIDER = [INFO]", "LOG_LEVEL_PROVIDER = [debug]")},
        {"brackets reversed count as missing",
         replace(full, "SNAP_PREFIX = [snap]", "SNAP_PREFIX = ]snap["),
         "nnnn"
         "p2\n"
         "nnnn",
         false, replace(fullDecoded, "SNAP_PREFIX = [snap]", "SNAP_PREFIX = [p2]")},
        {"empty password twice leaves the key out", replace(full, Stored("old"), ""),
         "nnn"
         "\r"
         "nnnnn"
         "\r",
         false, replace(fullDecoded, "PASSWORD = [plain:old]\n", "")},
    };
}

// The new file is secret from its creation, the old one and the backup are
// made so, and the new file is on the disk before it is closed and renamed
// into place.
const std::vector<std::string> kWrittenAndReplaced = {
    "create secret marl_vss_conf_out.txt",
    "make secret marl_vss_conf.txt",
    "make secret marl_vss_conf.bck",
    "flush",
    "close",
    "remove marl_vss_conf.bck",
    "rename marl_vss_conf.txt marl_vss_conf.bck",
    "rename marl_vss_conf_out.txt marl_vss_conf.txt",
};

TEST(ConfiguratorRun, WholeDialogues) {
    for (const RunCase& c : RunCases()) {
        SCOPED_TRACE(c.name);
        Dialogue d;
        d.WriteConfig(c.config);
        EXPECT_EQ(d.Run(c.typed, c.debug), ConfiguratorOutcome::Replaced);
        EXPECT_EQ(DecodePasswordsIn(d.Config()), c.expected);
        EXPECT_EQ(d.Console().Unread(), 0u) << d.Console().Screen();
        EXPECT_EQ(marl::testing::ReadText(d.File("marl_vss_conf.bck")), c.config);
        EXPECT_FALSE(std::filesystem::exists(d.File("marl_vss_conf_out.txt")));
        EXPECT_EQ(d.Files().Calls(), kWrittenAndReplaced);
        ExpectSecret(d.File("marl_vss_conf.txt"));
        ExpectSecret(d.File("marl_vss_conf.bck"));
    }
}

TEST(ConfiguratorRun, ScreenOfAnEmptyFile) {
    Dialogue d;
    d.WriteConfig("");
    d.Run(kTypedForEmpty);
    EXPECT_EQ(
        d.Console().Screen(),
        "EXTERNAL_IP is missing, please enter a value: 10.0.0.5\nNew EXTERNAL_IP: 10.0.0.5\n\n"
        "HOST_NAME is missing, please enter a value: host1\nNew HOST_NAME: host1\n\n"
        "USERNAME is missing, please enter a value: admin\nNew USERNAME: admin\n\n"
        "PASSWORD is missing, please enter a value: **\n\n"
        "SNAP_PREFIX is missing, please enter a value: snap\nNew SNAP_PREFIX: snap\n\n"
        "RETENTION_POLICY is missing, please enter a value: gold\n"
        "New RETENTION_POLICY: gold\n\n"
        "SUPPORT_SSL is missing, please enter a value (True/False): false\n"
        "New SUPPORT_SSL: False\n\n"
        "VMWARE_VM is missing, please enter a value (True/False): F\n"
        "New VMWARE_VM: False\n\n"
        "REPLICATION_MODE is missing, please enter a value: yes\n"
        "New REPLICATION_MODE: yes\n\n");
}

TEST(ConfiguratorRun, LogOfAShortRun) {
    Dialogue d;
    d.WriteConfig(FullConfig());
    d.Run("nnnnnnnnn");
    std::vector<std::string> log = d.Log();
    std::string input = d.FolderText() + "marl_vss_conf.txt";
    EXPECT_EQ(log.front(), "INFO Start parsing conf-file: " + input);
    EXPECT_THAT(log, Contains("INFO curline: EXTERNAL_IP = [10.0.0.5]"));
    EXPECT_THAT(log, Contains("INFO curline: PASSWORD = [<" + std::to_string(Stored("old").size()) +
                              " characters hidden>]"));
    EXPECT_THAT(d.LogText(), Not(HasSubstr(Stored("old"))));
    EXPECT_THAT(log, Contains("INFO Trying to restart marlvssprovider service"));
    EXPECT_EQ(d.Services().Starts(), 1);
    EXPECT_EQ(d.Services().OpenHandles(), 0);
    EXPECT_THAT(log, Not(Contains(HasSubstr("Failed protecting"))));
}

// A file that cannot be made secret is logged; the run goes on.
TEST(ConfiguratorRun, FailedProtectionIsLogged) {
    Dialogue d;
    d.WriteConfig(FullConfig());
    d.Files().SetScript({false, {{"make secret marl_vss_conf.txt", 13}}});
    EXPECT_EQ(d.Run("nnnnnnnnn"), ConfiguratorOutcome::Replaced);
    EXPECT_THAT(d.Log(), Contains("ERROR Failed protecting '" + d.FolderText() +
                                  "marl_vss_conf.txt': rc =13"));
    EXPECT_EQ(d.Services().Starts(), 1);
}

TEST(ConfiguratorRun, ConfiguratorLevelIsAppliedBeforeTheRestart) {
    Dialogue d;
    d.WriteConfig(FullConfig());
    d.Run(
        "nnnnnnnnn"
        "n"
        "n"
        "yerror\n",
        true);
    EXPECT_THAT(d.Config(), HasSubstr("LOG_LEVEL_CONFIGURATOR = [error]\n"));
    EXPECT_THAT(d.Log(), Not(Contains("INFO Trying to restart marlvssprovider service")));
    EXPECT_EQ(d.Services().Starts(), 1);
}

// What stands in the way of opening the files, and the error number the run
// reports for it: the C runtime's in both builds, from the OS layer's result.
enum class Obstacle { NoInput, OutputIsAFolder, OutputHeldWithoutSharing };

#ifdef _WIN32
// Another program's handle on a new file, without sharing, while it lives.
class HeldFile {
  public:
    explicit HeldFile(const std::filesystem::path& path)
        : m_handle(CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               CREATE_NEW, 0, nullptr)) {}
    ~HeldFile() {
        if (Held()) CloseHandle(m_handle);
    }
    bool Held() const { return m_handle != INVALID_HANDLE_VALUE; }

  private:
    HANDLE m_handle;
};
#endif

struct OpenFailureCase {
    const char* name;
    Obstacle obstacle;
    int rc;
};

std::vector<OpenFailureCase> OpenFailureCases() {
    std::vector<OpenFailureCase> cases = {{"no configuration file", Obstacle::NoInput, 2}};
#ifdef _WIN32
    // CreateFileW fails with ERROR_ACCESS_DENIED (5) for the folder and with
    // ERROR_SHARING_VIOLATION (32) for the held file, on Windows and under
    // Wine; the C runtime reports both as EACCES.
    cases.push_back({"output name taken by a folder", Obstacle::OutputIsAFolder, 13});
    cases.push_back(
        {"output held by another handle without sharing", Obstacle::OutputHeldWithoutSharing, 13});
#else
    cases.push_back({"output name taken by a folder", Obstacle::OutputIsAFolder, EISDIR});
#endif
    return cases;
}

TEST(ConfiguratorRun, MissingFileStopsWithTheOpenError) {
    for (const OpenFailureCase& c : OpenFailureCases()) {
        SCOPED_TRACE(c.name);
        Dialogue d;
        const std::string config = "EXTERNAL_IP = [10.0.0.5]\n";
        if (c.obstacle != Obstacle::NoInput) d.WriteConfig(config);
        // A backup of an earlier run, written before backups were secret.
        marl::testing::WriteBytes(d.File("marl_vss_conf.bck"), "old\n");
        const std::filesystem::path out = d.File("marl_vss_conf_out.txt");
        if (c.obstacle == Obstacle::OutputIsAFolder) std::filesystem::create_directory(out);
#ifdef _WIN32
        std::optional<HeldFile> held;
        if (c.obstacle == Obstacle::OutputHeldWithoutSharing) {
            held.emplace(out);
            ASSERT_TRUE(held->Held());
        }
#endif
        EXPECT_EQ(d.Run(""), ConfiguratorOutcome::OpenFailed);
        std::string rc = std::to_string(c.rc);
        EXPECT_EQ(d.Console().Screen(), "cannot open config file: rc = " + rc + "\n");
        EXPECT_EQ(d.Log().back(), "ERROR cannot open config file: rc =" + rc);
        if (c.obstacle == Obstacle::NoInput) {
            EXPECT_TRUE(std::filesystem::exists(out));
            EXPECT_EQ(std::filesystem::file_size(out), 0u);
            EXPECT_FALSE(std::filesystem::exists(d.File("marl_vss_conf.txt")));
        } else {
            EXPECT_EQ(d.Config(), config);
        }
        EXPECT_EQ(marl::testing::ReadText(d.File("marl_vss_conf.bck")), "old\n");
        ExpectSecret(d.File("marl_vss_conf.bck"));
        EXPECT_THAT(d.Log(), Not(Contains(HasSubstr("Failed protecting"))));
        EXPECT_TRUE(d.Services().Calls().empty());
    }
}

TEST(ConfiguratorRun, SecondRunReplacesTheBackup) {
    Dialogue d;
    d.WriteConfig("");
    d.Run(kTypedForEmpty);
    std::string first = d.Config();
    d.Run("y10.0.0.9\nnnnnnnnn");
    EXPECT_EQ(marl::testing::ReadText(d.File("marl_vss_conf.bck")), first);
    EXPECT_THAT(d.Config(), HasSubstr("EXTERNAL_IP = [10.0.0.9]\n"));
}

struct EntryCase {
    const char* off;  // nullptr: not set
    std::vector<const char*> args;
    bool runs;
    bool debug;
};

TEST(ConfiguratorProgram, OffSwitchAndDebugOption) {
    const EntryCase cases[] = {
        {"true", {"conf"}, false, false},
        {"TRUE", {"conf"}, false, false},
        {"tRuE", {"conf"}, false, false},
        {"1", {"conf"}, true, false},
        {"yes", {"conf"}, true, false},
        {"true ", {"conf"}, true, false},
        {nullptr, {"conf", "/debug"}, true, true},
        {nullptr, {"conf", "/DEBUG"}, true, false},
        {nullptr, {"conf", "x", "/debug"}, true, false},
    };
    for (const EntryCase& c : cases) {
        SCOPED_TRACE(std::string(c.off ? c.off : "(unset)") + " " + c.args.back());
        Dialogue d;
        d.WriteConfig(FullConfig());
        d.Console().SetScript(std::string("nnnnnnnnn") + "nnn");
        EXPECT_EQ(RunConfiguratorProgram(static_cast<int>(c.args.size()), c.args.data(), c.off,
                                         d.Environment()),
                  0);
        EXPECT_EQ(std::filesystem::exists(d.File("marl_vss_conf_log.txt")), c.runs);
        EXPECT_EQ(std::filesystem::exists(d.File("marl_vss_conf.bck")), c.runs);
        EXPECT_EQ(d.Console().Screen().find("LOG_LEVEL") != std::string::npos, c.debug);
        if (!c.runs) {
            EXPECT_TRUE(d.Services().Calls().empty());
        }
    }
}

}  // namespace
