// Whole dialogues and single questions against the scripted console: what the
// administrator sees, what the new file holds, what the log says.
#include "configurator/QVssConfigurator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/PasswordCipher.h"
#include "configurator/ConfiguratorChecks.h"
#include "configurator/testing/ConfiguratorFixture.h"
#include "configurator/testing/StoredPasswords.h"

namespace {

using marl::testing::DecodePasswordsIn;
using marl::testing::Dialogue;
using marl::testing::ReadText;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

// One question handled on its own: a configurator object whose run stopped at
// once (no file), then one handler call with `typed` as the input.
struct Question {
    Dialogue dialogue;
    std::unique_ptr<CQConfigurator> object;
    std::FILE* out = nullptr;

    Question() {
        object = std::make_unique<CQConfigurator>(false, dialogue.Environment());
        dialogue.Console().ClearScreen();
        out = std::fopen(dialogue.File("answer.txt").string().c_str(), "w");
    }
    ~Question() {
        if (out) std::fclose(out);
    }
    std::string Written() {
        std::fclose(out);
        out = nullptr;
        return ReadText(dialogue.File("answer.txt"));
    }
};

struct ParamCase {
    const char* name;
    const char* line;
    const char* key;
    CQConfigurator::Check check;
    bool isFlag;
    const char* typed;
    bool result;
    const char* screen;
    const char* written;
    const char* value;
};

const ParamCase kParamCases[] = {
    {"change an address", "EXTERNAL_IP = [10.0.0.5]", "EXTERNAL_IP", verify_ipaddress, false,
     "y10.0.0.7\n", true,
     "Would you like to change EXTERNAL_IP (10.0.0.5)? [y/n]y\nEXTERNAL_IP: 10.0.0.7\n"
     "New EXTERNAL_IP: 10.0.0.7\n\n",
     "EXTERNAL_IP = [10.0.0.7]\n", "10.0.0.7"},
    {"missing flag", "SUPPORT_SSL", "SUPPORT_SSL", nullptr, true, "false\n", true,
     "SUPPORT_SSL is missing, please enter a value (True/False): false\nNew SUPPORT_SSL: False\n\n",
     "SUPPORT_SSL = [False]\n", "False"},
    {"invalid address keeps the old one", "EXTERNAL_IP = [10.0.0.5]", "EXTERNAL_IP",
     verify_ipaddress, false, "y1.2.3\n", true,
     "Would you like to change EXTERNAL_IP (10.0.0.5)? [y/n]y\nEXTERNAL_IP: 1.2.3\n"
     "New EXTERNAL_IP is not valid and won't be changed.\n",
     "EXTERNAL_IP = [10.0.0.5]\n", "10.0.0.5"},
    {"n copies the line as it stands", "EXTERNAL_IP = [ 10.0.0.5 ] tail", "EXTERNAL_IP",
     verify_ipaddress, false, "n", true,
     "Would you like to change EXTERNAL_IP (10.0.0.5)? [y/n]n\n\n",
     "EXTERNAL_IP = [ 10.0.0.5 ] tail\n", "10.0.0.5"},
    {"upper-case answers", "SNAP_PREFIX = [a]", "SNAP_PREFIX", nullptr, false, "Yb\n", true,
     "Would you like to change SNAP_PREFIX (a)? [y/n]Y\nSNAP_PREFIX: b\nNew SNAP_PREFIX: b\n\n",
     "SNAP_PREFIX = [b]\n", "b"},
    {"N", "SNAP_PREFIX = [a]", "SNAP_PREFIX", nullptr, false, "N", true,
     "Would you like to change SNAP_PREFIX (a)? [y/n]N\n\n", "SNAP_PREFIX = [a]\n", "a"},
    {"other keys repeat the question", "SNAP_PREFIX = [a]", "SNAP_PREFIX", nullptr, false, "x\rn",
     true,
     "Would you like to change SNAP_PREFIX (a)? [y/n]x\nPlease enter [y/n]\n"
     "Would you like to change SNAP_PREFIX (a)? [y/n]\r\nPlease enter [y/n]\n"
     "Would you like to change SNAP_PREFIX (a)? [y/n]n\n\n",
     "SNAP_PREFIX = [a]\n", "a"},
    {"key later in the line", "# EXTERNAL_IP = [1.2.3.4]", "EXTERNAL_IP", verify_ipaddress, false,
     "y9.9.9.9\n", false, "", "", ""},
    {"leading blank", " EXTERNAL_IP = [1.2.3.4]", "EXTERNAL_IP", verify_ipaddress, false, "", false,
     "", "", ""},
    {"key followed by more letters", "USERNAMEX = [a]", "USERNAME", verify_username, false,
     "ybob\n", true,
     "Would you like to change USERNAME (a)? [y/n]y\nUSERNAME: bob\nNew USERNAME: bob\n\n",
     "USERNAME = [bob]\n", "bob"},
    {"brackets in the wrong order", "HOST_NAME = ]h[", "HOST_NAME", verify_hostname, false, "h2\n",
     true, "HOST_NAME is missing, please enter a value: h2\nNew HOST_NAME: h2\n\n",
     "HOST_NAME = [h2]\n", "h2"},
    {"no check on a missing value", "EXTERNAL_IP", "EXTERNAL_IP", verify_ipaddress, false,
     "not-an-address\n", true,
     "EXTERNAL_IP is missing, please enter a value: not-an-address\n"
     "New EXTERNAL_IP: not-an-address\n\n",
     "EXTERNAL_IP = [not-an-address]\n", "not-an-address"},
    {"open bracket only", "RETENTION_POLICY = [gold", "RETENTION_POLICY", nullptr, false, "n", true,
     "Would you like to change RETENTION_POLICY (gold)? [y/n]n\n\n", "RETENTION_POLICY = [gold\n",
     "gold"},
    {"sanitised value is shown", "HOST_NAME = ['my host']", "HOST_NAME", verify_hostname, false,
     "n", true, "Would you like to change HOST_NAME (myhost)? [y/n]n\n\n",
     "HOST_NAME = ['my host']\n", "myhost"},
    {"flag FALSE", "VMWARE_VM = [True]", "VMWARE_VM", nullptr, true, "yFALSE\n", true,
     "Would you like to change VMWARE_VM (True)? [y/n]y\nVMWARE_VM: FALSE\n"
     "New VMWARE_VM: False\n\n",
     "VMWARE_VM = [False]\n", "False"},
    {"flag F", "VMWARE_VM = [True]", "VMWARE_VM", nullptr, true, "yF\n", true, nullptr,
     "VMWARE_VM = [False]\n", "False"},
    {"flag 0", "VMWARE_VM = [True]", "VMWARE_VM", nullptr, true, "y0\n", true, nullptr,
     "VMWARE_VM = [False]\n", "False"},
    {"flag no is True", "VMWARE_VM = [False]", "VMWARE_VM", nullptr, true, "yno\n", true, nullptr,
     "VMWARE_VM = [True]\n", "True"},
    {"missing flag anything is True", "VMWARE_VM", "VMWARE_VM", nullptr, true, "yes\n", true,
     nullptr, "VMWARE_VM = [True]\n", "True"},
    {"words come from one line", "SNAP_PREFIX = [a]", "SNAP_PREFIX", nullptr, false,
     "y  first second\n", true, nullptr, "SNAP_PREFIX = [first]\n", "first"},
    {"empty lines before a word are skipped", "SNAP_PREFIX", "SNAP_PREFIX", nullptr, false,
     "\n\n  w\n", true, nullptr, "SNAP_PREFIX = [w]\n", "w"},
};

TEST(ConfiguratorQuestion, ChangeParamCases) {
    for (const ParamCase& c : kParamCases) {
        SCOPED_TRACE(c.name);
        Question q;
        q.dialogue.Console().SetScript(c.typed);
        std::string value;
        EXPECT_EQ(q.object->ChangeParam(q.out, c.line, c.key, value, c.check, c.isFlag), c.result);
        if (c.screen) {
            EXPECT_EQ(q.dialogue.Console().Screen(), c.screen);
        }
        EXPECT_EQ(q.Written(), c.written);
        EXPECT_EQ(value, c.value);
    }
}

TEST(ConfiguratorQuestion, ChangeParamLogsSearchAndChange) {
    Question q;
    q.dialogue.Console().SetScript(
        "x"
        "y1.2.3\n");
    std::string value;
    q.object->ChangeParam(q.out, "EXTERNAL_IP = [10.0.0.5]", "EXTERNAL_IP", value, verify_ipaddress,
                          false);
    std::string missing;
    q.object->ChangeParam(q.out, "HOST_NAME = [h]", "EXTERNAL_IP", missing, nullptr, false);
    std::vector<std::string> log = q.dialogue.Log();
    std::vector<std::string> expected = {
        "INFO searching param_name: EXTERNAL_IP",
        "INFO index: 0",
        "INFO searching param_name: EXTERNAL_IP",
        "INFO index: 0",
        "ERROR Failed to change 'EXTERNAL_IP' from '10.0.0.5' to '1.2.3'. Illegal string.",
        "INFO Change 'EXTERNAL_IP' from '10.0.0.5' to '10.0.0.5'.",
        "INFO searching param_name: EXTERNAL_IP",
        "INFO index: -1",
    };
    ASSERT_GE(log.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(log.end() - expected.size(), log.end()), expected);
    for (const auto& line : marl::testing::ReadLogLines(q.dialogue.File("marl_vss_conf_log.txt")))
        if (line.message.find("param_name") != std::string::npos) {
            EXPECT_EQ(line.function, "CQConfigurator::ChangeParam");
        }
}

TEST(ConfiguratorQuestion, ManyWrongKeysDoNotExhaustTheStack) {
    Question q;
    q.dialogue.Console().SetScript(std::string(20000, 'x') + "n");
    std::string value;
    EXPECT_TRUE(
        q.object->ChangeParam(q.out, "SNAP_PREFIX = [a]", "SNAP_PREFIX", value, nullptr, false));
    EXPECT_EQ(q.Written(), "SNAP_PREFIX = [a]\n");
}

struct DebugCase {
    const char* name;
    bool debug;
    const char* line;
    const char* typed;
    bool result;
    const char* written;
    const char* value;
};

const DebugCase kDebugCases[] = {
    {"kept as it stands", false, "LOG_LEVEL_JSON = [debug]", "", true, "LOG_LEVEL_JSON = [debug]\n",
     ""},
    {"key anywhere in the line", false, "  x LOG_LEVEL_JSON = [debug]", "", true,
     "  x LOG_LEVEL_JSON = [debug]\n", ""},
    {"missing becomes INFO", false, "LOG_LEVEL_JSON", "", true, "LOG_LEVEL_JSON = [INFO]\n",
     "INFO"},
    {"reversed brackets become INFO", false, "LOG_LEVEL_JSON ]x[", "", true,
     "LOG_LEVEL_JSON = [INFO]\n", "INFO"},
    {"other key", false, "LOG_LEVEL_PROVIDER = [x]", "", false, "", ""},
    {"debug mode asks", true, "LOG_LEVEL_JSON = [info]", "ytrace\n", true,
     "LOG_LEVEL_JSON = [trace]\n", "trace"},
    {"debug mode needs the key first", true, " LOG_LEVEL_JSON = [info]", "", false, "", ""},
};

TEST(ConfiguratorQuestion, ChangeDebugParamCases) {
    for (const DebugCase& c : kDebugCases) {
        SCOPED_TRACE(c.name);
        Dialogue d;
        CQConfigurator object(c.debug, d.Environment());
        std::FILE* out = std::fopen(d.File("answer.txt").string().c_str(), "w");
        d.Console().SetScript(c.typed);
        std::string value;
        EXPECT_EQ(object.ChangeDebugParam(out, c.line, "LOG_LEVEL_JSON", value), c.result);
        std::fclose(out);
        EXPECT_EQ(ReadText(d.File("answer.txt")), c.written);
        EXPECT_EQ(value, c.value);
    }
}

struct PasswordCase {
    const char* name;
    const char* line;
    const char* typed;
    bool result;
    const char* screen;
    const char* decoded;  // the decoded file line, or the line written unchanged
};

const PasswordCase kPasswordCases[] = {
    {"change", "PASSWORD = [stored]", "ysecret\r", true,
     "Would you like to change PASSWORD? [y/n]y\nNew PASSWORD: ******\n\n",
     "PASSWORD = [plain:secret]\n"},
    {"keep", "PASSWORD = [stored]", "n", true, "Would you like to change PASSWORD? [y/n]n\n\n",
     "PASSWORD = [undecodable]\n"},
    {"no repetition for other keys", "PASSWORD = [stored]", "x", true,
     "Would you like to change PASSWORD? [y/n]x\n\n", "PASSWORD = [undecodable]\n"},
    {"empty value is missing", "PASSWORD = []", "pw\r", true,
     "PASSWORD is missing, please enter a value: **\n\n", "PASSWORD = [plain:pw]\n"},
    {"no bracket is missing", "PASSWORD", "pw\n", true,
     "PASSWORD is missing, please enter a value: **\n\n", "PASSWORD = [plain:pw]\n"},
    {"one character is a value", "PASSWORD = [a]", "n", true, nullptr, "PASSWORD = [a]\n"},
    {"three backspaces", "PASSWORD", "abcdef\b\b\b\r", true,
     "PASSWORD is missing, please enter a value: ******\b \b\b \b\b \b\n\n",
     "PASSWORD = [plain:abc]\n"},
    {"backspace on an empty entry", "PASSWORD", "\b\bab\r", true,
     "PASSWORD is missing, please enter a value: **\n\n", "PASSWORD = [plain:ab]\n"},
    {"empty password", "PASSWORD", "\r", false,
     "PASSWORD is missing, please enter a value: \n\nInvalid password\n", ""},
    {"all erased", "PASSWORD", "a\b\r", false, nullptr, ""},
    {"not at the start", "XPASSWORD = [a]", "", false, "", ""},
};

TEST(ConfiguratorQuestion, ChangePasswordCases) {
    for (const PasswordCase& c : kPasswordCases) {
        SCOPED_TRACE(c.name);
        Question q;
        q.dialogue.Console().SetScript(c.typed);
        std::string value;
        EXPECT_EQ(q.object->ChangePassword(q.out, c.line, "PASSWORD", value), c.result);
        if (c.screen) {
            EXPECT_EQ(q.dialogue.Console().Screen(), c.screen);
        }
        std::string written = q.Written();
        if (std::string(c.decoded).find('[') == std::string::npos ||
            std::string(c.line) == "PASSWORD = [a]")
            EXPECT_EQ(written, c.decoded);
        else
            EXPECT_EQ(DecodePasswordsIn(written), c.decoded);
        EXPECT_FALSE(q.dialogue.Console().HiddenActive());
        EXPECT_EQ(q.dialogue.Console().Unread(), 0u);
    }
}

TEST(ConfiguratorQuestion, EmptyPasswordIsLogged) {
    Question q;
    q.dialogue.Console().SetScript("y\r");
    std::string value;
    EXPECT_FALSE(
        q.object->ChangePassword(q.out, "VCENTER_PASSWORD = [x]", "VCENTER_PASSWORD", value));
    std::vector<std::string> log = q.dialogue.Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "INFO Changing 'VCENTER_PASSWORD'");
    EXPECT_EQ(log.back(), "ERROR Password is missing");
    EXPECT_EQ(marl::testing::ReadLogLines(q.dialogue.File("marl_vss_conf_log.txt")).back().function,
              "CQConfigurator::SetNewPassword");
}

}  // namespace
