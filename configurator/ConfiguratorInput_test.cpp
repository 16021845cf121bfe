// What the run does with input it was not designed around: the end of
// standard input at any point, files it cannot replace, unusual files and
// answers, and passwords of every shape read back by the provider's reader.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/ConfigReader.h"
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
using marl::testing::ReadText;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;

const char kEndMessage[] = "Input ended before all questions were answered: ";
const char kEndLog[] = "ERROR Input ended during the dialogue; configuration file not changed";

std::string FullConfig() {
    return "EXTERNAL_IP = [10.0.0.5]\nHOST_NAME = [host1]\nUSERNAME = [admin]\n"
           "PASSWORD = [" +
           marl::common::StoredPasswordForm("old", "abcdefghijklmnop") +
           "]\n"
           "SNAP_PREFIX = [snap]\nRETENTION_POLICY = [gold]\nSUPPORT_SSL = [True]\n"
           "VMWARE_VM = [True]\nVCENTER_URL = [u]\nVCENTER_USERNAME = [v]\n"
           "VCENTER_PASSWORD = [" +
           marl::common::StoredPasswordForm("p", "abcdefghijklmnop") +
           "]\n"
           "VCENTER_IGNORECERT = [True]\nVCENTER_DISABLESSO = [False]\n"
           "VCENTER_SSOURL = [s]\nREPLICATION_MODE = [False]\n";
}

// Every question kind, key, word and hidden reads, in both passes.
struct Script {
    std::string config;
    std::string typed;
};

const Script kScripts[] = {
    {"", "10.0.0.5\nhost1\nadmin\npw\rsnap\ngold\nfalse\ntrue\nurl\nvuser\nvpw\rF\nF\nsso\nyes\n"},
    {FullConfig(), "y10.0.0.6\nnnyab\rnnnnnnnnnnnnn"},
};

TEST(ConfiguratorInputEnd, AtEveryPointTheFileStaysAsItWas) {
    for (const Script& s : kScripts) {
        for (size_t cut = 0; cut < s.typed.size(); ++cut) {
            SCOPED_TRACE("cut after " + std::to_string(cut) + " characters");
            Dialogue d;
            d.WriteConfig(s.config);
            std::string typed = s.typed.substr(0, cut);
            ConfiguratorOutcome outcome = d.Run(typed);
            // A cut after the last word of a line may still complete the dialogue.
            if (outcome == ConfiguratorOutcome::Replaced) continue;
            EXPECT_EQ(outcome, ConfiguratorOutcome::InputEnded);
            EXPECT_EQ(d.Config(), s.config);
            EXPECT_FALSE(fs::exists(d.File("marl_vss_conf_out.txt")));
            EXPECT_FALSE(fs::exists(d.File("marl_vss_conf.bck")));
            EXPECT_THAT(d.Console().Screen(), HasSubstr(kEndMessage));
            EXPECT_EQ(d.Log().back(), kEndLog);
            EXPECT_TRUE(d.Services().Calls().empty());
            EXPECT_FALSE(d.Console().HiddenActive());
        }
        Dialogue whole;
        whole.WriteConfig(s.config);
        EXPECT_EQ(whole.Run(s.typed), ConfiguratorOutcome::Replaced);
    }
}

TEST(ConfiguratorInputEnd, EndingInsideAPasswordStoresNothing) {
    Dialogue d;
    d.WriteConfig("PASSWORD = []\n");
    EXPECT_EQ(d.Run("half"), ConfiguratorOutcome::InputEnded);
    EXPECT_EQ(d.Config(), "PASSWORD = []\n");
    EXPECT_THAT(d.Console().Screen(), HasSubstr("****\n" + std::string(kEndMessage)));
}

// What the run leaves when the new file cannot be put on the disk or in
// place. The first case is real: the backup name is taken by a folder that
// cannot be removed, so both the delete and the rename fail, as they do when
// another program holds the file; the others fail the calls themselves.
struct ReplaceCase {
    const char* name;
    bool backupIsAFolder;
    marl::testing::FileScript files;
    ConfiguratorOutcome outcome;
    bool configLeft;               // marl_vss_conf.txt still holds the old settings
    bool backupHoldsOld;           // marl_vss_conf.bck holds the old settings
    bool answersKept;              // marl_vss_conf_out.txt holds the answers
    std::string screen;            // on the console, from the first failure on
    std::vector<std::string> log;  // the last log lines, with <folder> for the folder
    std::vector<std::string> lastCalls;
};

const char kRenameOld[] = "rename marl_vss_conf.txt marl_vss_conf.bck";
const char kRenameNew[] = "rename marl_vss_conf_out.txt marl_vss_conf.txt";
const char kRestoreOld[] = "rename marl_vss_conf.bck marl_vss_conf.txt";

std::vector<ReplaceCase> ReplaceCases() {
    const std::string keptNew =
        "): the new settings are kept in <folder>marl_vss_conf_out.txt, "
        "and the service was not restarted.\n";
    const std::string renameNewFailed =
        "Could not rename <folder>marl_vss_conf_out.txt to <folder>marl_vss_conf.txt (rc = 13";
    const std::string renameNewLog =
        "ERROR Failed renaming '<folder>marl_vss_conf_out.txt' to '<folder>marl_vss_conf.txt': "
        "rc =13";
    return {
        {"backup name taken by a folder",
         true,
         {},
         ConfiguratorOutcome::ReplaceFailed,
         true,
         false,
         true,
         "Could not rename <folder>marl_vss_conf.txt to <folder>marl_vss_conf.bck (rc = ",
         {},
         {"remove marl_vss_conf.bck", kRenameOld}},
        {"new file not renamed into place, old one put back",
         false,
         {false, {{kRenameNew, 13}}},
         ConfiguratorOutcome::ReplaceFailed,
         true,
         false,
         true,
         renameNewFailed + keptNew,
         {renameNewLog},
         {kRenameOld, kRenameNew, kRestoreOld}},
        {"old one not put back either",
         false,
         {false, {{kRenameNew, 13}, {kRestoreOld, 5}}},
         ConfiguratorOutcome::RestoreFailed,
         false,
         true,
         true,
         renameNewFailed + keptNew +
             "Could not rename <folder>marl_vss_conf.bck back to <folder>marl_vss_conf.txt (rc = "
             "5): the old settings are in <folder>marl_vss_conf.bck and the new ones in "
             "<folder>marl_vss_conf_out.txt.\n",
         {renameNewLog,
          "ERROR Failed renaming '<folder>marl_vss_conf.bck' back to '<folder>marl_vss_conf.txt': "
          "rc =5; the old settings are in marl_vss_conf.bck, the new ones in "
          "marl_vss_conf_out.txt"},
         {kRenameOld, kRenameNew, kRestoreOld}},
        {"new file not flushed to the disk",
         false,
         {true, {}},
         ConfiguratorOutcome::WriteFailed,
         true,
         false,
         true,
         "Could not write <folder>marl_vss_conf_out.txt; <folder>marl_vss_conf.txt was not "
         "changed and the service was not restarted.\n",
         {"ERROR Failed writing '<folder>marl_vss_conf_out.txt'; configuration file not changed"},
         {"flush", "close"}},
    };
}

std::string InFolder(std::string text, const std::string& folder) {
    for (size_t at = text.find("<folder>"); at != std::string::npos; at = text.find("<folder>"))
        text.replace(at, 8, folder);
    return text;
}

TEST(ConfiguratorReplace, FailedRenameKeepsTheAnswersAndSkipsTheRestart) {
    const std::string old = "FOO = [old]\n";  // dropped by the run, asked for nothing
    for (const ReplaceCase& c : ReplaceCases()) {
        SCOPED_TRACE(c.name);
        Dialogue d;
        d.WriteConfig(old);
        if (c.backupIsAFolder) fs::create_directories(d.File("marl_vss_conf.bck") / "held");
        d.Files().SetScript(c.files);
        EXPECT_EQ(d.Run("10.0.0.5\nh\nu\npw\rs\nr\nTrue\nFalse\nTrue\n"), c.outcome);
        const std::string folder = d.FolderText();
        EXPECT_EQ(fs::exists(d.File("marl_vss_conf.txt")), c.configLeft);
        if (c.configLeft) {
            EXPECT_EQ(d.Config(), old);
        }
        if (c.backupHoldsOld) {
            EXPECT_EQ(ReadText(d.File("marl_vss_conf.bck")), old);
            marl::testing::ExpectSecret(d.File("marl_vss_conf.bck"));
        }
        if (!c.backupIsAFolder && !c.backupHoldsOld) {
            EXPECT_FALSE(fs::exists(d.File("marl_vss_conf.bck")));
        }
        EXPECT_EQ(fs::exists(d.File("marl_vss_conf_out.txt")), c.answersKept);
        if (c.answersKept) {
            EXPECT_THAT(ReadText(d.File("marl_vss_conf_out.txt")),
                        HasSubstr("EXTERNAL_IP = [10.0.0.5]"));
            marl::testing::ExpectSecret(d.File("marl_vss_conf_out.txt"));
        }
        EXPECT_THAT(d.Console().Screen(), HasSubstr(InFolder(c.screen, folder)));
        std::vector<std::string> log = d.Log();
        ASSERT_GE(log.size(), c.log.size());
        for (size_t i = 0; i < c.log.size(); ++i) {
            EXPECT_EQ(log[log.size() - c.log.size() + i], InFolder(c.log[i], folder));
        }
        if (c.log.empty()) {
            EXPECT_THAT(log.back(), HasSubstr("ERROR Failed renaming '"));
        }
        const std::vector<std::string>& calls = d.Files().Calls();
        ASSERT_GE(calls.size(), c.lastCalls.size());
        EXPECT_EQ(std::vector<std::string>(calls.end() - c.lastCalls.size(), calls.end()),
                  c.lastCalls);
        EXPECT_TRUE(d.Services().Calls().empty());
    }
}

#ifndef _WIN32
// A full disk: the output cannot be written, so the old file must stay.
TEST(ConfiguratorReplace, FailedWriteKeepsTheOldFile) {
    Dialogue d;
    d.WriteConfig("");
    fs::create_symlink("/dev/full", d.File("marl_vss_conf_out.txt"));
    EXPECT_EQ(d.Run("10.0.0.5\nh\nu\npw\rs\nr\nTrue\nFalse\nTrue\n"),
              ConfiguratorOutcome::WriteFailed);
    EXPECT_EQ(d.Config(), "");
    EXPECT_FALSE(fs::exists(d.File("marl_vss_conf.bck")));
    EXPECT_THAT(d.Console().Screen(), HasSubstr("Could not write "));
    EXPECT_THAT(d.Log().back(), HasSubstr("ERROR Failed writing '"));
    EXPECT_TRUE(d.Services().Calls().empty());
}
#endif

#ifdef _WIN32
// Another program reads the configuration file without delete sharing.
TEST(ConfiguratorReplace, FileHeldWithoutDeleteSharing) {
    Dialogue d;
    d.WriteConfig("");
    HANDLE held =
        CreateFileW(d.File("marl_vss_conf.txt").wstring().c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ConfiguratorOutcome outcome = d.Run("10.0.0.5\nh\nu\npw\rs\nr\nTrue\nFalse\nTrue\n");
    CloseHandle(held);
    EXPECT_EQ(outcome, ConfiguratorOutcome::ReplaceFailed);
    EXPECT_EQ(d.Config(), "");
    EXPECT_THAT(ReadText(d.File("marl_vss_conf_out.txt")), HasSubstr("EXTERNAL_IP = [10.0.0.5]"));
    EXPECT_TRUE(d.Services().Calls().empty());
}
#endif

struct OddCase {
    const char* name;
    std::string config;
    std::string typed;
    std::string expectedStart;  // the new file begins with this
};

template <size_t N>
std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

std::vector<OddCase> OddCases() {
    const std::string rest = "h\nu\npw\rs\nr\nTrue\nFalse\nTrue\n";
    return {
        {"a 1 MB line is dropped", std::string(1 << 20, 'x') + "\n", "10.0.0.5\n" + rest,
         "EXTERNAL_IP = [10.0.0.5]\n"},
        {"a 1 MB value is offered and kept", "EXTERNAL_IP = [" + std::string(1 << 20, '1') + "]\n",
         "n" + rest, "EXTERNAL_IP = [" + std::string(1 << 20, '1') + "]\n"},
        {"binary bytes", Bytes("\x00\xff\x01\nEXTERNAL_IP = [1\x00\x02]\n"), "n" + rest,
         Bytes("EXTERNAL_IP = [1\x00\x02]\n")},
        {"CR-only line ends make one line", "EXTERNAL_IP = [10.0.0.5]\rHOST_NAME = [h]\r",
         "n" + rest,
         "EXTERNAL_IP = [10.0.0.5]\rHOST_NAME = [h]"},  // then the line end, then HOST_NAME asked
        {"no final line end", "EXTERNAL_IP = [10.0.0.5]", "n" + rest,
         "EXTERNAL_IP = [10.0.0.5]\nHOST_NAME = [h]\n"},
        {"a 10,000-character answer", "EXTERNAL_IP = [10.0.0.5]\n",
         "y" + std::string(10000, '9') + "\n" + rest, "EXTERNAL_IP = [10.0.0.5]\n"},
        {"a 10,000-character value where none is checked", "",
         "10.0.0.5\n" + std::string(10000, 'h') + "\n" + rest.substr(2),
         "EXTERNAL_IP = [10.0.0.5]\nHOST_NAME = [" + std::string(10000, 'h') + "]\n"},
    };
}

TEST(ConfiguratorOddInput, FilesAndAnswers) {
    for (const OddCase& c : OddCases()) {
        SCOPED_TRACE(c.name);
        Dialogue d;
        d.WriteConfig(c.config);
        EXPECT_EQ(d.Run(c.typed), ConfiguratorOutcome::Replaced);
        std::string written = d.Config();
        EXPECT_EQ(written.substr(0, c.expectedStart.size()), c.expectedStart);
        EXPECT_THAT(written, HasSubstr("LOG_LEVEL_CONFIGURATOR = [INFO]\n"));
        EXPECT_EQ(ReadText(d.File("marl_vss_conf.bck")), c.config);
    }
}

// What was typed comes back from the stored form through the provider's own
// reader (PASSWORD) and decoder (VCENTER_PASSWORD), and never shows.
TEST(ConfiguratorPasswords, StoredFormsDecodeToWhatWasTyped) {
    const std::string passwords[] = {
        "a",
        "exactly8",
        "nine char",
        "with blanks  and\ttab",
        "p&ss=w%rd+\"quoted\"'single'",
        "back\\slash]bracket[",
        std::string(64, 'Z'),
        "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ!@",
    };
    for (const std::string& pw : passwords) {
        SCOPED_TRACE(pw);
        Dialogue d;
        d.WriteConfig("VMWARE_VM = [True]\nVCENTER_DISABLESSO = [True]\n");
        std::string typed =
            "nn"
            "1.2.3.4\nh\nu\n" +
            pw + "\r" + "s\nr\nTrue\n" + "url\nvu\n" + pw + "\r" + "True\n" + "False\n";
        ASSERT_EQ(d.Run(typed), ConfiguratorOutcome::Replaced) << d.Console().Screen();
        CQLogger reader;
        ProviderSettings settings = ReadProviderSettings(reader, d.FolderText());
        EXPECT_EQ(settings.password, pw);
        EXPECT_THAT(DecodePasswordsIn(d.Config()),
                    HasSubstr("VCENTER_PASSWORD = [plain:" + pw + "]\n"));
        EXPECT_THAT(d.Console().Screen(), HasSubstr(std::string(pw.size(), '*') + "\n\n"));
        if (pw.size() >= 8) {  // short ones occur in other texts anyway
            EXPECT_THAT(d.Console().Screen(), Not(HasSubstr(pw)));
            EXPECT_THAT(d.LogText(), Not(HasSubstr(pw)));
        }
        std::string config = d.Config();
        size_t at = config.find("PASSWORD = [") + 12;
        std::string stored = config.substr(at, config.find(']', at) - at);
        EXPECT_THAT(d.LogText(), Not(HasSubstr(stored)));
    }
}

TEST(ConfiguratorPasswords, StoredPasswordIsNotLoggedOnASecondRun) {
    Dialogue d;
    d.WriteConfig(
        "PASSWORD = []\nVMWARE_VM = [True]\nVCENTER_DISABLESSO = [True]\n"
        "VCENTER_PASSWORD = []\n");
    ASSERT_EQ(d.Run("topsecret\r"
                    "nn"
                    "vcsecret\r"
                    "1.2.3.4\nh\nu\ns\nr\nTrue\nurl\nvu\nTrue\nFalse\n"),
              ConfiguratorOutcome::Replaced);
    std::string config = d.Config();
    d.Run("nnnnnnnnnnnnnn");
    std::string log = d.LogText();
    for (const char* key : {"PASSWORD = [", "VCENTER_PASSWORD = ["}) {
        size_t at = config.find(key) + std::string(key).size();
        std::string stored = config.substr(at, config.find(']', at) - at);
        EXPECT_THAT(log, Not(HasSubstr(stored)));
        EXPECT_THAT(log, HasSubstr(std::string(key) + "<" + std::to_string(stored.size()) +
                                   " characters hidden>]"));
    }
    EXPECT_THAT(log, Not(HasSubstr("secret")));
}

}  // namespace
