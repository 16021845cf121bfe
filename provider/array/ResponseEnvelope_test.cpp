#include "provider/array/ResponseEnvelope.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "provider/array/testing/ReplyLogCapture.h"

namespace {

using marl::json::JsonNode;
using marl::json::Parse;

LoggedLine Login(const char* level, const std::string& message, const char* module = "JSON") {
    return LoggedLine{module, level, "QProviderInterface", "ParseLoginResponse", message};
}

LoggedLine Envelope(const char* level, const std::string& message) {
    return LoggedLine{"JSON", level, "QProviderInterface", "ParseResponse", message};
}

std::vector<LoggedLine> Accepted(const std::string& version, const std::string& api) {
    return {Login("DEBUG", "found key with value: LOGIN_SUCCESSFUL"),
            Login("INFO", "NXA version: " + version + "  vss_api_version: " + api)};
}

std::vector<LoggedLine> operator+(std::vector<LoggedLine> a, const std::vector<LoggedLine>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string LoginReply(const std::string& api, const std::string& version) {
    return R"({"key":"LOGIN_SUCCESSFUL","vss_api_version":")" + api + R"(","version":")" + version +
           R"("})";
}

std::string LoginReplyWithoutApi(const std::string& version) {
    return R"({"version":")" + version + R"(","key":"LOGIN_SUCCESSFUL"})";
}

const LoggedLine kApiLine = Login("INFO", "VSS provider API version 4.");

LoggedLine Incompatible(const std::string& api) {
    return Login("ERROR",
                 "Target NXA VSS API is incompatible with VSS API of the provider. NXA API "
                 "version: " +
                     api + ". Provider API version 4.");
}

LoggedLine Mismatch(const std::string& version) {
    return Login("ERROR",
                 "Login failed. Mismatched version number: supports 8.0.x.x to 8.0.x.x. "
                 "Received " +
                     version,
                 "PROVIDER");
}

LoggedLine Fields(const std::string& major, const std::string& minor) {
    return Login("DEBUG", "NXA version: major:" + major + " minor:" + minor);
}

struct LoginCase {
    const char* label;
    std::string reply;
    bool admitted;
    std::vector<LoggedLine> lines;
};

TEST(ParseLoginResponse, VersionRules) {
    const std::vector<LoginCase> cases = {
        {"api 4 whatever the version", LoginReply("4", "5.0"), true,
         Accepted("5.0", "4") + std::vector<LoggedLine>{kApiLine}},
        {"api 4.1", LoginReply("4.1", "x"), true, Accepted("x", "4.1") + std::vector{kApiLine}},
        {"api 04", LoginReply("04", ""), true, Accepted("", "04") + std::vector{kApiLine}},
        {"api as a number", R"({"key":"LOGIN_SUCCESSFUL","vss_api_version":4})", true,
         Accepted("", "4") + std::vector{kApiLine}},
        {"api 5", LoginReply("5", "8.0"), false,
         Accepted("8.0", "5") + std::vector{kApiLine, Incompatible("5")}},
        {"api 3", LoginReply("3", "8.0"), false,
         Accepted("8.0", "3") + std::vector{kApiLine, Incompatible("3")}},
        {"api four", LoginReply("four", "8.0"), false,
         Accepted("8.0", "four") + std::vector{kApiLine, Incompatible("four")}},
        {"api beyond int is not 4", LoginReply("4294967300", "8.0"), false,
         Accepted("8.0", "4294967300") + std::vector{kApiLine, Incompatible("4294967300")}},
        {"empty api: version decides", LoginReply("", "8.0.1.12"), true,
         Accepted("8.0.1.12", "") + std::vector{Fields("8", "0")}},
        {"8.0", LoginReplyWithoutApi("8.0"), true,
         Accepted("8.0", "") + std::vector{Fields("8", "0")}},
        {"8.0x", LoginReplyWithoutApi("8.0x"), true,
         Accepted("8.0x", "") + std::vector{Fields("8", "0x")}},
        {"8.1.0.0", LoginReplyWithoutApi("8.1.0.0"), false,
         Accepted("8.1.0.0", "") + std::vector{Fields("8", "1"), Mismatch("8.1.0.0")}},
        {"7.9.9.9", LoginReplyWithoutApi("7.9.9.9"), false,
         Accepted("7.9.9.9", "") + std::vector{Fields("7", "9"), Mismatch("7.9.9.9")}},
        {"9.0.0.0", LoginReplyWithoutApi("9.0.0.0"), false,
         Accepted("9.0.0.0", "") + std::vector{Fields("9", "0"), Mismatch("9.0.0.0")}},
        {"8", LoginReplyWithoutApi("8"), false,
         Accepted("8", "") + std::vector{Fields("8", "8"), Mismatch("8")}},
        {"10.0.1", LoginReplyWithoutApi("10.0.1"), false,
         Accepted("10.0.1", "") + std::vector{Fields("10", "0"), Mismatch("10.0.1")}},
        {"8.01.0.0", LoginReplyWithoutApi("8.01.0.0"), false,
         Accepted("8.01.0.0", "") + std::vector{Fields("8", "01"), Mismatch("8.01.0.0")}},
        {"latest-build", LoginReplyWithoutApi("latest-build"), true,
         Accepted("latest-build", "") +
             std::vector{Login("INFO", "NXA non-official version: latest-build. Allowing login.")}},
        {"Latest-build", LoginReplyWithoutApi("Latest-build"), false,
         Accepted("Latest-build", "") +
             std::vector{Fields("Latest-build", "Latest-build"), Mismatch("Latest-build")}},
        {"no version at all", R"({"key":"LOGIN_SUCCESSFUL"})", false,
         Accepted("", "") +
             std::vector{Login("ERROR",
                               "Cannot verify API compatibility. Neither 'version' nor "
                               "'vss_api_version' parameter specified.")}},
        {"later members replace earlier ones",
         R"({"key":"NO","vss_api_version":"5","key":"LOGIN_SUCCESSFUL","vss_api_version":"4"})",
         true,
         std::vector{Login("DEBUG", "found key with value: NO")} + Accepted("", "4") +
             std::vector{kApiLine}},
        {"refused key",
         R"({"key":"LOGIN_FAILED","vss_api_version":"4"})",
         false,
         {Login("DEBUG", "found key with value: LOGIN_FAILED")}},
        {"key differs in case",
         R"({"key":"login_successful","vss_api_version":"4"})",
         false,
         {Login("DEBUG", "found key with value: login_successful")}},
        {"no key", R"({"vss_api_version":"4","version":"8.0"})", false, {}},
        {"empty object", "{}", false, {}},
    };
    for (const LoginCase& c : cases) {
        ReplyLogCapture log;
        EXPECT_EQ(ParseLoginResponse(Parse(c.reply)), c.admitted) << c.label;
        EXPECT_EQ(log.Lines(), c.lines) << c.label;
    }
}

TEST(CheckLoginReply, TextThatIsNotJsonIsARefusal) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {LoginReply("4", "8.0"), true},
        {LoginReplyWithoutApi("8.0.3"), true},
        {LoginReply("5", "8.0"), false},
        {"", false},
        {"<html><body>Service Unavailable</body></html>", false},
        {R"({"key":"LOGIN_SUCCESSFUL","vss_api_version":"4")", false},
        {R"("LOGIN_SUCCESSFUL")", false},
        {std::string(100000, '['), false},
    };
    for (const auto& c : cases) {
        ReplyLogCapture log;
        EXPECT_EQ(marl::array::CheckLoginReply(c.first), c.second) << c.first.substr(0, 60);
    }
}

TEST(LeadingDigitsValue, FollowsAtoiWithoutOverflow) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"4", 4},
        {"4.1", 4},
        {"04", 4},
        {"4a", 4},
        {"", 0},
        {"abc", 0},
        {" \t\n+7", 7},
        {"-3", -3},
        {"+-3", 0},
        {"- 3", 0},
        {"2147483647", INT_MAX},
        {"4294967300", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-99999999999999999999", INT_MIN},
        {"99999999999999999999", INT_MAX},
    };
    for (const auto& c : cases)
        EXPECT_EQ(marl::array::LeadingDigitsValue(c.first), c.second) << c.first;
}

struct EnvelopeCase {
    const char* label;
    std::string reply;
    bool failed;
    std::vector<std::string> dataMembers;  // names of the data node's children
    std::vector<LoggedLine> lines;
};

const LoggedLine kMember = Envelope("DEBUG", "(i != n.end())");

TEST(ParseResponse, JudgesTheEnvelope) {
    const std::vector<EnvelopeCase> cases = {
        {"success with request and data",
         R"({"request":"vol_show","key":"MC_OK","data":{"v1":{},"v2":{}}})",
         false,
         {"v1", "v2"},
         {kMember, Envelope("DEBUG", "found request with value: vol_show"), kMember,
          Envelope("DEBUG", "found key with value: MC_OK"), kMember,
          Envelope("DEBUG", "found data"), Envelope("INFO", "request vol_show succeeded")}},
        {"no key and no data is success",
         R"({"other":"x"})",
         false,
         {},
         {kMember, Envelope("INFO", "request  succeeded")}},
        {"failure keeps the data",
         R"({"info":"no such group","key":"MC_NOT_FOUND","data":{"g":"1"}})",
         true,
         {"g"},
         {kMember, Envelope("DEBUG", "found info with value: no such group"), kMember,
          Envelope("DEBUG", "found key with value: MC_NOT_FOUND"), kMember,
          Envelope("DEBUG", "found data"), Envelope("ERROR", "no such group (MC_NOT_FOUND)")}},
        {"failure without info",
         R"({"key":"MC_BUSY"})",
         true,
         {},
         {kMember, Envelope("DEBUG", "found key with value: MC_BUSY"),
          Envelope("ERROR", " (MC_BUSY)")}},
        {"a later failing key wins over MC_OK",
         R"({"key":"MC_OK","key":"MC_ERR"})",
         true,
         {},
         {kMember, Envelope("DEBUG", "found key with value: MC_OK"), kMember,
          Envelope("DEBUG", "found key with value: MC_ERR"), Envelope("ERROR", " (MC_ERR)")}},
        {"a later MC_OK does not clear a failure",
         R"({"key":"MC_ERR","key":"MC_OK"})",
         true,
         {},
         {kMember, Envelope("DEBUG", "found key with value: MC_ERR"), kMember,
          Envelope("DEBUG", "found key with value: MC_OK"), Envelope("ERROR", " (MC_ERR)")}},
        {"the last failing key and info are reported",
         R"({"info":"a","key":"E1","info":"b","key":"E2"})",
         true,
         {},
         {kMember, Envelope("DEBUG", "found info with value: a"), kMember,
          Envelope("DEBUG", "found key with value: E1"), kMember,
          Envelope("DEBUG", "found info with value: b"), kMember,
          Envelope("DEBUG", "found key with value: E2"), Envelope("ERROR", "b (E2)")}},
        {"a repeated data member replaces the first",
         R"({"data":{"first":"1"},"data":{"second":"2"}})",
         false,
         {"second"},
         {kMember, Envelope("DEBUG", "found data"), kMember, Envelope("DEBUG", "found data"),
          Envelope("INFO", "request  succeeded")}},
        {"a key that is a number",
         R"({"key":5})",
         true,
         {},
         {kMember, Envelope("DEBUG", "found key with value: 5"), Envelope("ERROR", " (5)")}},
        {"empty object", "{}", true, {}, {}},
    };
    for (const EnvelopeCase& c : cases) {
        ReplyLogCapture log;
        JsonNode data;
        EXPECT_EQ(ParseResponse(Parse(c.reply), data), c.failed) << c.label;
        std::vector<std::string> names;
        for (const JsonNode& member : data) names.emplace_back(member.Name());
        EXPECT_EQ(names, c.dataMembers) << c.label;
        EXPECT_EQ(log.Lines(), c.lines) << c.label;
    }
}

TEST(ParseResponse, DataCopyOutlivesTheReply) {
    JsonNode data;
    {
        JsonNode root = Parse(R"({"key":"MC_OK","data":{"vol1":{"scsi_sn":"AB"}}})");
        EXPECT_FALSE(ParseResponse(root, data));
    }
    ASSERT_EQ(data.Size(), 1u);
    EXPECT_EQ(data.begin()->Name(), "vol1");
    EXPECT_EQ(data.begin()->begin()->AsString(), "AB");
}

}  // namespace
