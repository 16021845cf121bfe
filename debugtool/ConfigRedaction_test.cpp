#include "debugtool/ConfigRedaction.h"

#include <gtest/gtest.h>

namespace marl::debugtool {
namespace {

TEST(ConfigRedaction, PasswordValuesAreHiddenAndEveryOtherByteKept) {
    struct {
        const char* what;
        const char* in;
        const char* out;
    } cases[] = {
        {"array password", "PASSWORD = [0a1b2c3d]\r\n", "PASSWORD = [<hidden>]\r\n"},
        {"vCenter password", "VCENTER_PASSWORD = [ffee]\r\n", "VCENTER_PASSWORD = [<hidden>]\r\n"},
        {"other keys kept", "USERNAME = [admin]\r\nEXTERNAL_IP = [10.0.0.1]\r\n",
         "USERNAME = [admin]\r\nEXTERNAL_IP = [10.0.0.1]\r\n"},
        {"no closing bracket", "PASSWORD = [secret\r\n", "PASSWORD = [<hidden>]\r\n"},
        {"bracket inside the value", "PASSWORD = [ab]cd]\n", "PASSWORD = [<hidden>]\n"},
        {"no brackets at all", "PASSWORD = secret\n", "PASSWORD = [<hidden>]\n"},
        {"closing before opening", "PASSWORD ] x [\n", "PASSWORD = [<hidden>]\n"},
        {"any case", "password = [x]\n", "password = [<hidden>]\n"},
        {"last line without line end", "A = [1]\nPASSWORD = [x]", "A = [1]\nPASSWORD = [<hidden>]"},
        {"empty value", "PASSWORD = []\r\n", "PASSWORD = [<hidden>]\r\n"},
        {"blank lines and spaces kept", "\r\n  HOST_NAME = [h] \r\n\n",
         "\r\n  HOST_NAME = [h] \r\n\n"},
        {"empty file", "", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(RedactPasswords(c.in), c.out) << c.what;
}

TEST(ConfigRedaction, AConfiguratorFileKeepsItsShapeWithoutItsPasswords) {
    const std::string file =
        "EXTERNAL_IP = [192.168.7.10]\r\nHOST_NAME = [vsshost1]\r\nUSERNAME = [admin]\r\n"
        "PASSWORD = [4a6f686e31323334]\r\nVMWARE_VM = [True]\r\nVCENTER_USERNAME = [root]\r\n"
        "VCENTER_PASSWORD = [73656372657421]\r\nLOG_LEVEL_PROVIDER = [INFO]\r\n";
    std::string out = RedactPasswords(file);
    EXPECT_EQ(out.find("4a6f686e31323334"), std::string::npos);
    EXPECT_EQ(out.find("73656372657421"), std::string::npos);
    EXPECT_EQ(out,
              "EXTERNAL_IP = [192.168.7.10]\r\nHOST_NAME = [vsshost1]\r\nUSERNAME = [admin]\r\n"
              "PASSWORD = [<hidden>]\r\nVMWARE_VM = [True]\r\nVCENTER_USERNAME = [root]\r\n"
              "VCENTER_PASSWORD = [<hidden>]\r\nLOG_LEVEL_PROVIDER = [INFO]\r\n");
}

}  // namespace
}  // namespace marl::debugtool
