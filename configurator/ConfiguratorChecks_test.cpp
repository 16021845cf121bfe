#include "configurator/ConfiguratorChecks.h"

#include <gtest/gtest.h>

namespace {

struct CheckCase {
    const char* text;
    bool ip;
    bool host;
    bool user;
};

const CheckCase kCheckCases[] = {
    {"10.0.0.7", true, true, false},
    {"300.1.1.1", false, true, false},
    {"1.2.3", false, true, false},
    {"1.2.3.4.5", false, true, false},
    {"1.2.a.4", false, true, false},
    {"1.2.3.4.", true, true, false},  // a trailing dot adds no piece
    {"1..2.3", true, true, false},    // the empty piece counts as 0
    {".1.2.3", true, true, false},
    {"010.000.001.001", true, true, false},
    {"255.255.255.255", true, true, false},
    {"256.0.0.0", false, true, false},
    {"1.2.3.99999999999999999999", false, true, false},
    {"1.2.3.-1", false, true, false},
    {"", false, true, true},
    {"my-host_1.example", false, true, false},
    {"admin@corp", false, false, true},
    {"user name", false, false, false},
    {"user-_9", false, true, true},
    {"ü", false, false, false},
};

TEST(ConfiguratorChecks, TableOfValues) {
    for (const CheckCase& c : kCheckCases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(verify_ipaddress(c.text), c.ip);
        EXPECT_EQ(verify_hostname(c.text), c.host);
        EXPECT_EQ(verify_username(c.text), c.user);
    }
}

TEST(ConfiguratorChecks, HostNameLengthLimit) {
    EXPECT_TRUE(verify_hostname(std::string(255, 'a')));
    EXPECT_FALSE(verify_hostname(std::string(256, 'a')));
    EXPECT_TRUE(verify_username(std::string(10000, 'a')));
}

TEST(ConfiguratorChecks, SplitPieces) {
    using V = std::vector<std::string>;
    EXPECT_EQ(split("a..b", '.'), (V{"a", "", "b"}));
    EXPECT_EQ(split("a.", '.'), (V{"a"}));
    EXPECT_EQ(split(".a", '.'), (V{"", "a"}));
    EXPECT_EQ(split("", '.'), V{});
    EXPECT_EQ(split("..", '.'), (V{"", ""}));
}

TEST(ConfiguratorChecks, PasswordLinesAreMaskedForTheLog) {
    struct {
        const char* line;
        const char* logged;
    } cases[] = {
        {"PASSWORD = [0123456789ABCDEF$abcdefghijklmnop$3]", "PASSWORD = [<35 characters hidden>]"},
        {"VCENTER_PASSWORD = [secret]", "VCENTER_PASSWORD = [<6 characters hidden>]"},
        {"PASSWORD = [open ended", "PASSWORD = [<10 characters hidden>"},
        {"PASSWORD = [a] [b]", "PASSWORD = [<5 characters hidden>]"},
        {"PASSWORD = hunter2", "PASSWORD<10 characters hidden>"},
        {"PASSWORD = []", "PASSWORD = []"},
        {" x ]PASSWORD[secret", " x ]PASSWORD[<6 characters hidden>"},
        {"USERNAME = [admin]", "USERNAME = [admin]"},
    };
    for (const auto& c : cases) EXPECT_EQ(MaskPasswordLine(c.line), c.logged) << c.line;
}

}  // namespace
