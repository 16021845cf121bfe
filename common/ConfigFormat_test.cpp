#include "common/ConfigFormat.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ConfigLine, EachLineBelongsToTheFirstKeyItContains) {
    const struct {
        const char* line;
        marl::common::ConfigKey key;
    } cases[] = {
        {"EXTERNAL_IP = [10.0.0.1]", marl::common::ConfigKey::ExternalIp},
        {"# EXTERNAL_IP = [10.0.0.1]", marl::common::ConfigKey::ExternalIp},
        {"HOST_NAME = [h] EXTERNAL_IP", marl::common::ConfigKey::ExternalIp},
        {"HOST_NAME = [h]", marl::common::ConfigKey::HostName},
        {"USERNAME = [u]", marl::common::ConfigKey::UserName},
        {"VCENTER_USERNAME = [v]", marl::common::ConfigKey::None},
        {"VCENTER_USERNAME USERNAME", marl::common::ConfigKey::None},
        {"VCENTER_PASSWORD USERNAME", marl::common::ConfigKey::UserName},
        {"PASSWORD = [x$y$0]", marl::common::ConfigKey::Password},
        {"VCENTER_PASSWORD = [x$y$0]", marl::common::ConfigKey::None},
        {"SNAP_PREFIX = [p]", marl::common::ConfigKey::SnapPrefix},
        {"RETENTION_POLICY = [r]", marl::common::ConfigKey::RetentionPolicy},
        {"SUPPORT_SSL = [True]", marl::common::ConfigKey::SupportSsl},
        {"VMWARE_VM = [True]", marl::common::ConfigKey::VmwareVm},
        {"REPLICATION_MODE = [True]", marl::common::ConfigKey::ReplicationMode},
        {"LOG_LEVEL_PROVIDER = [INFO]", marl::common::ConfigKey::LogLevelProvider},
        {"LOG_LEVEL_JSON = [INFO]", marl::common::ConfigKey::LogLevelJson},
        {"LOG_LEVEL_CONFIGURATOR = [INFO]", marl::common::ConfigKey::LogLevelConfigurator},
        {"VCENTER_URL = [https://vc]", marl::common::ConfigKey::None},
        {"VCENTER_SSOURL = [https://sso]", marl::common::ConfigKey::None},
        {"external_ip = [10.0.0.1]", marl::common::ConfigKey::None},
        {"", marl::common::ConfigKey::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(marl::common::ClassifyConfigLine(c.line), c.key) << c.line;
}

TEST(ConfigLine, ValueIsBetweenTheFirstOpeningAndTheFirstClosingBracket) {
    const struct {
        const char* line;
        bool taken;
        const char* value;
    } cases[] = {
        {"K = [v]", true, "v"},     {"K = []", true, ""},        {"K = [a]b]", true, "a"},
        {"K = [a[b]", true, "a[b"}, {"K = [rest", true, "rest"}, {"K = v]", false, ""},
        {"K = ]v[", false, ""},     {"K = v", false, ""},        {"[", true, ""},
    };
    for (const auto& c : cases) {
        std::string value = "untouched";
        EXPECT_EQ(marl::common::ExtractBracketValue(c.line, value), c.taken) << c.line;
        EXPECT_EQ(value, c.taken ? c.value : "untouched") << c.line;
    }
}

TEST(ConfigLine, SanitizeRemovesTheSixCharacters) {
    std::string v = " 'my\\ \"host\"\t\n' ";
    sanitize_string(v);
    EXPECT_EQ(v, "myhost");
}

}  // namespace
