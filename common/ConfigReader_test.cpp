#include "common/ConfigReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/PasswordCipher.h"
#include "common/QVssLog.h"
#include "platform/install_folder.h"
#include "platform/testing/recorder.h"

namespace {

namespace fs = std::filesystem;

class ConfigReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_folder = marl::testing::MakeScratchFolder("config");
        m_folderText = m_folder.string() + marl::platform::PathSeparator();
        ASSERT_TRUE(m_logger.OpenLogFile((m_folder / "marl_vss_log.txt").string()));
    }
    void TearDown() override {
        m_logger.ResetForTesting();
        std::error_code ec;
        fs::remove_all(m_folder, ec);
    }

    void WriteConfig(const std::string& bytes) {
        std::ofstream out(m_folder / marl::common::kConfigFileName,
                          std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    ProviderSettings Read(const std::string& bytes) {
        WriteConfig(bytes);
        return ReadProviderSettings(m_logger, m_folderText);
    }

    // The log's lines, Windows line ends folded.
    std::vector<std::string> LogLines() {
        std::ifstream in(m_folder / "marl_vss_log.txt", std::ios::binary);
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }
    // Lines of `level` whose message (the text after the header) is `message`.
    int Count(const std::string& level, const std::string& message) {
        int n = 0;
        for (const std::string& l : LogLines()) {
            size_t tid = l.find("][TID:0x");
            size_t end = tid == std::string::npos ? tid : l.find(']', tid + 1);
            if (end == std::string::npos || l.find("[" + level + "]") == std::string::npos)
                continue;
            n += l.substr(end + 1) == message;
        }
        return n;
    }
    bool LogContains(const std::string& text) {
        for (const std::string& l : LogLines()) {
            if (l.find(text) != std::string::npos) return true;
        }
        return false;
    }

    CQLogger m_logger;
    fs::path m_folder;
    std::string m_folderText;
};

TEST_F(ConfigReaderTest, SanitizingRemovesTheSixCharactersAnywhereAndLogsBeforeAndAfter) {
    m_logger.SetLogLevel("PROVIDER", QLOG_DEBUG);
    const struct {
        std::string in, out;
    } cases[] = {
        {" 10.0.0.1 ", "10.0.0.1"},
        {"'my host'", "myhost"},
        {"a\\b\tc\nd\"e f'", "abcdef"},
        {"keep\rcr", "keep\rcr"},
        {"", ""},
    };
    for (const auto& c : cases) {
        std::string value = c.in;
        sanitize_string(m_logger, value, L"NXA Host Name");
        EXPECT_EQ(value, c.out);
    }
    EXPECT_EQ(Count("DEBUG", "NXA Host Name: got 'my host' returning myhost"), 1);
}

TEST_F(ConfigReaderTest, ConfiguratorFileIsReadCompletely) {
    std::string stored = marl::common::StoredPasswordForm("Pa$$ w0rd", "abcdefghijklmnop");
    m_logger.SetLogLevel("PROVIDER", QLOG_DEBUG);
    ProviderSettings s = Read(
        "EXTERNAL_IP = [10.20.30.40]\r\n"
        "HOST_NAME = [win-host_1]\r\n"
        "USERNAME = [admin@corp]\r\n"
        "PASSWORD = [" +
        stored +
        "]\r\n"
        "SNAP_PREFIX = [nightly]\r\n"
        "RETENTION_POLICY = [keep7]\r\n"
        "SUPPORT_SSL = [False]\r\n"
        "VMWARE_VM = [True]\r\n"
        "VCENTER_URL = [https://vc]\r\n"
        "VCENTER_USERNAME = [vcuser]\r\n"
        "VCENTER_PASSWORD = [" +
        marl::common::StoredPasswordForm("vcpw", "ponmlkjihgfedcba") +
        "]\r\n"
        "REPLICATION_MODE = [True]\r\n"
        "LOG_LEVEL_PROVIDER = [INFO]\r\n"
        "LOG_LEVEL_JSON = [Debug]\r\n"
        "LOG_LEVEL_CONFIGURATOR = [trace]\r\n");
    EXPECT_EQ(s.externalIp, "10.20.30.40");
    EXPECT_EQ(s.hostName, "win-host_1");
    EXPECT_EQ(s.userName, "admin@corp");
    EXPECT_EQ(s.password, "Pa$$ w0rd");
    EXPECT_EQ(s.snapPrefix, "nightly");
    EXPECT_EQ(s.retentionPolicy, "keep7");
    EXPECT_FALSE(s.supportSsl);
    EXPECT_TRUE(s.vmwareVm);
    EXPECT_TRUE(s.replicationMode);
    EXPECT_FALSE(m_logger.IsLogLevelEnabled("PROVIDER", QLOG_DEBUG));
    EXPECT_TRUE(m_logger.IsLogLevelEnabled("JSON", QLOG_DEBUG));
    EXPECT_TRUE(m_logger.IsLogLevelEnabled("CONFIGURATOR", QLOG_TRACE));
    EXPECT_EQ(Count("INFO", "Turn off SSL"), 1);
    EXPECT_EQ(Count("INFO", "Run as VmWare VM"), 1);
    EXPECT_EQ(Count("INFO", "Will replicate snapshots for replicated CGs"), 1);
    EXPECT_EQ(Count("INFO", "Set nxa_external_ip to: 10.20.30.40"), 1);
    EXPECT_EQ(Count("DEBUG", "NXA External IP: got 10.20.30.40 returning 10.20.30.40"), 1);
    EXPECT_FALSE(LogContains("vcuser"));
}

TEST_F(ConfigReaderTest, OnlyTheWordFalseInAnyCaseTurnsAFlagOff) {
    const struct {
        const char* value;
        bool on;
    } cases[] = {{"False", false},   {"FALSE", false}, {"false", false},
                 {" fAlSe ", false}, {"True", true},   {"0", true},
                 {"no", true},       {"", true},       {"falsey", true}};
    const struct {
        const char* key;
        bool ProviderSettings::*flag;
        const char* offMessage;
        const char* onMessage;
    } flags[] = {
        {"SUPPORT_SSL", &ProviderSettings::supportSsl, "Turn off SSL", "Turn on SSL"},
        {"VMWARE_VM", &ProviderSettings::vmwareVm, "Run as physical machine", "Run as VmWare VM"},
        {"REPLICATION_MODE", &ProviderSettings::replicationMode, "Not replicating snapshots",
         "Will replicate snapshots for replicated CGs"},
    };
    for (const auto& f : flags) {
        for (const auto& c : cases) {
            ProviderSettings s = Read(std::string(f.key) + " = [" + c.value + "]\r\n");
            EXPECT_EQ(s.*f.flag, c.on) << f.key << " = [" << c.value << "]";
        }
        EXPECT_EQ(Count("INFO", f.offMessage), 4) << f.key;
        EXPECT_EQ(Count("INFO", f.onMessage), 5) << f.key;
    }
}

TEST_F(ConfigReaderTest, AbsentKeysGiveTheDefaults) {
    ProviderSettings s = Read("VCENTER_URL = [x]\r\nnothing here\r\n");
    EXPECT_EQ(s.externalIp, "");
    EXPECT_EQ(s.password, "");
    EXPECT_TRUE(s.supportSsl);
    EXPECT_FALSE(s.vmwareVm);
    EXPECT_FALSE(s.replicationMode);
    EXPECT_EQ(Count("INFO", "Set nxa_external_ip to: "), 1);
}

TEST_F(ConfigReaderTest, LinesAreReadLooselyAndTheLastOneWins) {
    ProviderSettings s = Read(
        "# EXTERNAL_IP = [10.0.0.1]\n"
        "EXTERNAL_IP = [ 10.0.0.2 ]\n"
        "HOST_NAME = ['my host']\n"
        "HOST_NAME = ]ignored[\n"
        "HOST_NAME = ignored]\n"
        "USERNAME = [first]\n"
        "VCENTER_USERNAME = [vcenter-user]\n"
        "SNAP_PREFIX = [ open to the end\n"
        "SUPPORT_SSL = [false]\n"
        "SUPPORT_SSL = [True]\n");
    EXPECT_EQ(s.externalIp, "10.0.0.2");
    EXPECT_EQ(s.hostName, "myhost");
    EXPECT_EQ(s.userName, "first");
    EXPECT_EQ(s.snapPrefix, "opentotheend");
    EXPECT_TRUE(s.supportSsl);
}

TEST_F(ConfigReaderTest, LogLevelValuesThatAreNoLevelNameChangeNothing) {
    Read("LOG_LEVEL_JSON = [Debug]\r\n");
    EXPECT_TRUE(m_logger.IsLogLevelEnabled("JSON", QLOG_DEBUG));
    Read("LOG_LEVEL_JSON = [verbose]\r\nLOG_LEVEL_PROVIDER = []\r\n");
    EXPECT_TRUE(m_logger.IsLogLevelEnabled("JSON", QLOG_DEBUG));
    EXPECT_TRUE(m_logger.IsLogLevelEnabled("PROVIDER", QLOG_INFO));
    EXPECT_FALSE(m_logger.IsLogLevelEnabled("PROVIDER", QLOG_DEBUG));
}

TEST_F(ConfigReaderTest, StoredPasswordIsDeciphered) {
    const std::string key = GenerateKey(16);
    for (const char* password : {"p", "exactly8", "nine char", "a much longer password, 1234567"}) {
        ProviderSettings s = Read(std::string("PASSWORD = [") +
                                  marl::common::StoredPasswordForm(password, key) + "]\r\n");
        EXPECT_EQ(s.password, password);
    }
    EXPECT_EQ(Count("ERROR", "PASSWORD value ignored"), 0);
}

// A damaged value must neither bring the reader down nor be written to the
// log at ERROR; the password is left empty, even when an earlier line held a
// good one.
TEST_F(ConfigReaderTest, MalformedStoredPasswordIsLoggedOnceWithoutItsValueAndLeftEmpty) {
    const std::string good = marl::common::StoredPasswordForm("earlier", "abcdefghijklmnop");
    const char* const values[] = {
        "Secret-no-separators", "0123456789ABCDEF$$0",           "0123456789ABC$Secretkey$0",
        "$Secretkey$0",         "0123456789ABCDEF$Secretkey$12", "",
    };
    int errors = 0;
    for (const char* value : values) {
        ProviderSettings s = Read("PASSWORD = [" + good + "]\r\nPASSWORD = [" + value +
                                  "]\r\nUSERNAME = [after]\r\n");
        EXPECT_EQ(s.password, "") << value;
        EXPECT_EQ(s.userName, "after") << value;
        int now = 0;
        for (const std::string& l : LogLines()) now += l.find("[ERROR]") != std::string::npos;
        EXPECT_EQ(now - errors, 1) << value;
        errors = now;
    }
    for (const std::string& l : LogLines()) {
        if (l.find("[ERROR]") == std::string::npos) continue;
        EXPECT_EQ(l.find("Secret"), std::string::npos) << l;
        EXPECT_EQ(l.find("0123456789ABC"), std::string::npos) << l;
    }
}

// Even at DEBUG the stored password form (which carries its key) never
// reaches the log.
TEST_F(ConfigReaderTest, StoredPasswordNeverReachesTheLog) {
    m_logger.SetLogLevel("PROVIDER", QLOG_TRACE);
    const std::string stored = marl::common::StoredPasswordForm("s3cret-pass", "abcdefghijklmnop");
    ProviderSettings s = Read("PASSWORD = [ " + stored + "]\r\nHOST_NAME = [h1]\r\n");
    EXPECT_EQ(s.password, "s3cret-pass");
    EXPECT_FALSE(LogContains(stored.substr(0, 16)));
    EXPECT_FALSE(LogContains("abcdefghijklmnop"));
    EXPECT_FALSE(LogContains("s3cret"));
    EXPECT_EQ(Count("DEBUG", "NXA Password: got <" + std::to_string(stored.size() + 1) +
                                 " characters hidden> returning <" + std::to_string(stored.size()) +
                                 " characters hidden>"),
              1);
    EXPECT_EQ(Count("DEBUG", "NXA Host Name: got h1 returning h1"), 1);
}

TEST_F(ConfigReaderTest, MissingFileIsLoggedWithErrnoAndGivesDefaults) {
    ProviderSettings s = ReadProviderSettings(m_logger, m_folderText);
    EXPECT_EQ(Count("ERROR", "cannot open config file: rc = 2"), 1);
    EXPECT_TRUE(s.supportSsl);
    EXPECT_EQ(s.externalIp, "");
    EXPECT_FALSE(LogContains("Set nxa_external_ip"));
}

TEST_F(ConfigReaderTest, UnreadableFileIsLoggedWithErrnoAndGivesDefaults) {
    fs::create_directories(m_folder /
                           marl::common::kConfigFileName);  // a folder where the file should be
    ProviderSettings s = ReadProviderSettings(m_logger, m_folderText);
    EXPECT_EQ(Count("ERROR", "cannot open config file: rc = 13"), 1);
    EXPECT_TRUE(s.supportSsl);
}

TEST_F(ConfigReaderTest, BinaryBytesDoNotDisturbTheLinesAround) {
    std::string junk;
    for (int b = 0; b < 256; ++b) {
        if (b != '\n') junk += static_cast<char>(b);
    }
    ProviderSettings s = Read("EXTERNAL_IP = [10.0.0.9]\n" + junk + "\n" +
                              std::string("HOST_NAME = [a\0b]\n", 17) + junk + "\nUSERNAME = [u]");
    EXPECT_EQ(s.externalIp, "10.0.0.9");
    EXPECT_EQ(s.hostName, std::string("a\0b", 3));
    EXPECT_EQ(s.userName, "u");  // last line without a line end
}

TEST_F(ConfigReaderTest, MegabyteLineIsReadWhole) {
    std::string big(1 << 20, 'x');
    m_logger.SetLogLevel("PROVIDER", QLOG_DEBUG);
    ProviderSettings s = Read("SNAP_PREFIX = [" + big + "]\r\nHOST_NAME = [h]\r\n");
    EXPECT_EQ(s.snapPrefix, big);
    EXPECT_EQ(s.hostName, "h");
}

// Only LF ends a line (CR LF counts as one line end); a file with bare CRs is
// one long line, as the runtime's text mode would read it.
TEST_F(ConfigReaderTest, BareCarriageReturnsDoNotEndLines) {
    ProviderSettings s = Read("EXTERNAL_IP = [10.0.0.3]\rHOST_NAME = [h]\r");
    EXPECT_EQ(s.externalIp, "10.0.0.3");
    EXPECT_EQ(s.hostName, "");
}

// The configurator renames the file while a provider object may be reading
// it; the reader must not stand in its way.
TEST_F(ConfigReaderTest, OpenFileCanBeRenamedAndRewrittenByOthers) {
    WriteConfig("EXTERNAL_IP = [10.0.0.7]\r\n");
    marl::common::ConfigFile file(m_folderText);
    ASSERT_TRUE(file.IsOpen());
    {
        std::ofstream writer(m_folder / marl::common::kConfigFileName,
                             std::ios::binary | std::ios::app);
        EXPECT_TRUE(writer.is_open());
    }
    std::error_code ec;
    fs::rename(m_folder / marl::common::kConfigFileName, m_folder / "marl_vss_conf_bck", ec);
    EXPECT_FALSE(ec) << ec.message();
    ProviderSettings s = ReadProviderSettings(m_logger, file);
    EXPECT_EQ(s.externalIp, "10.0.0.7");
    EXPECT_FALSE(file.IsOpen());
}

}  // namespace
