#include "provider/array/ArrayTransport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "json/JsonNode.h"
#include "provider/array/testing/FakeHttpClient.h"
#include "provider/array/testing/TransportLogCapture.h"

using marl::testing::FakeArray;
using marl::testing::FakeFailure;
using marl::testing::FakeReply;
using marl::testing::HttpStep;
using marl::testing::TransportLogCapture;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

const std::string kLogin = "/main/services/login/";
const std::string kLogout = "/logout/";
const std::wstring kArgs = L"?args=%7B%22a%22%3A%20%22b%22%7D";
const std::string kCommand = "/main/services/execute/vol_show/?args=%7B%22a%22%3A%20%22b%22%7D";

ProviderSettings Settings(bool ssl) {
    ProviderSettings s;
    s.externalIp = "10.1.2.3";
    s.userName = "admin";
    s.password = "secret";
    s.supportSsl = ssl;
    return s;
}

std::vector<std::string> Repeat(const std::vector<std::string>& once, int times) {
    std::vector<std::string> all;
    for (int i = 0; i < times; ++i) all.insert(all.end(), once.begin(), once.end());
    return all;
}

std::vector<std::string> SentPaths(const FakeArray& array) {
    std::vector<std::string> paths;
    for (const auto& s : array.sent) paths.push_back(s.path);
    return paths;
}

std::vector<std::string> Errors(const TransportLogCapture& log) {
    std::vector<std::string> errors;
    for (const auto& l : log.Lines()) {
        if (l.level == "ERROR") errors.push_back(l.message);
    }
    return errors;
}

struct Exchange {
    explicit Exchange(bool ssl) : settings(Settings(ssl)) {}
    uint32_t Run(const std::wstring& command = L"vol_show", const std::wstring& args = kArgs) {
        marl::array::ArrayTransport transport(settings, array.Factory(), check);
        return transport.SendArrayRequest(command, args, reply);
    }
    ProviderSettings settings;
    FakeArray array;
    std::vector<std::string> loginTexts;
    marl::array::LoginCheck check = [this](const std::string& text) {
        loginTexts.push_back(text);
        return text == "login-ok";
    };
    std::string reply = "stale";
};

// One row per step that can fail: what the call returns, the one ERROR line
// each attempt writes, what went on the wire and what was closed per attempt.
struct StepCase {
    const char* name;
    FakeFailure failure;
    uint32_t result;
    const char* httpsError;  // nullptr: no ERROR line
    const char* httpError;
    std::vector<std::string> sentPerAttempt;
    std::vector<std::string> closedPerAttempt;
    int attempts;
};

const std::vector<StepCase>& StepCases() {
    static const std::vector<StepCase> cases = {
        {"open session",
         {HttpStep::kOpenSession, L"", 0, 8},
         E_ARRAY_SESSION,
         "HTTPOpen: Error ('8') has occurred.",
         nullptr,
         {},
         {},
         5},
        {"connect",
         {HttpStep::kConnect, L"", 0, 87},
         E_ARRAY_SESSION,
         "HTTPConnect: Error ('87') has occurred.",
         nullptr,
         {},
         {"session"},
         5},
        {"open login",
         {HttpStep::kOpenRequest, L"/main/services/login/", 0, 12005},
         E_ARRAY_SESSION,
         "HTTPOpenRequest: Error ('12005') has occurred.",
         nullptr,
         {},
         {"connection", "session"},
         5},
        {"send login",
         {HttpStep::kSend, L"/main/services/login/", 0, 12029},
         E_ARRAY_SESSION,
         "SendRequest: Error ('12029') has occurred.",
         nullptr,
         {},
         {kLogin, "connection", "session"},
         5},
        {"receive login",
         {HttpStep::kReceive, L"/main/services/login/", 0, 12002},
         E_ARRAY_SESSION,
         "ReceiveResponse: Error ('12002') has occurred.",
         nullptr,
         {kLogin},
         {kLogin, "connection", "session"},
         5},
        {"login status",
         {HttpStep::kQueryStatus, L"/main/services/login/", 0, 12150},
         E_ARRAY_SESSION,
         "Error ('12150') has occurred.",
         nullptr,
         {kLogin},
         {kLogin, "connection", "session"},
         5},
        {"login available",
         {HttpStep::kQueryDataAvailable, L"/main/services/login/", 0, 12030},
         1,
         "Error ('12030') in WinHttpQueryDataAvailable.",
         nullptr,
         {kLogin},
         {kLogin, "connection", "session"},
         5},
        {"login read",
         {HttpStep::kReadData, L"/main/services/login/", 0, 12030},
         1,
         "Error ('12030') in WinHttpReadData.",
         nullptr,
         {kLogin},
         {kLogin, "connection", "session"},
         5},
        {"open command",
         {HttpStep::kOpenRequest, L"/main/services/execute/", 0, 12005},
         E_ARRAY_SESSION,
         "OpenRequest: Error ('12005') has occurred.",
         nullptr,
         {kLogin},
         {kLogin, "connection", "session"},
         5},
        {"send command",
         {HttpStep::kSend, L"/main/services/execute/", 0, 12030},
         E_ARRAY_SESSION,
         "Error ('12030') has occurred in WinHttpSendRequest.",
         nullptr,
         {kLogin},
         {kLogin, kCommand, "connection", "session"},
         5},
        {"receive command",
         {HttpStep::kReceive, L"/main/services/execute/", 0, 12002},
         E_ARRAY_SESSION,
         "Error ('12002') has occurred in WinHttpReceiveResponse.",
         nullptr,
         {kLogin, kCommand},
         {kLogin, kCommand, "connection", "session"},
         5},
        {"command status",
         {HttpStep::kQueryStatus, L"/main/services/execute/", 0, 12150},
         E_ARRAY_SESSION,
         "Error ('12150') has occurred XXXXX .",
         "Error ('12150') has occurred.",
         {kLogin, kCommand},
         {kLogin, kCommand, "connection", "session"},
         5},
        {"command available",
         {HttpStep::kQueryDataAvailable, L"/main/services/execute/", 0, 12030},
         1,
         "Error ('12030') in WinHttpQueryDataAvailable.",
         nullptr,
         {kLogin, kCommand},
         {kLogin, kCommand, "connection", "session"},
         5},
        {"command read",
         {HttpStep::kReadData, L"/main/services/execute/", 0, 12030},
         1,
         "Error ('12030') in WinHttpReadData.",
         nullptr,
         {kLogin, kCommand},
         {kLogin, kCommand, "connection", "session"},
         5},
        // The command has run: a failing logout is reported, not repeated.
        // The command's request is closed before the logout's is opened.
        {"open logout",
         {HttpStep::kOpenRequest, L"/logout/", 0, 12005},
         0,
         "OpenRequest: Error ('12005') has occurred.",
         nullptr,
         {kLogin, kCommand},
         {kCommand, kLogin, "connection", "session"},
         1},
        {"send logout",
         {HttpStep::kSend, L"/logout/", 0, 12030},
         0,
         "Error ('12030') has occurred ||||| .",
         nullptr,
         {kLogin, kCommand},
         {kCommand, kLogin, kLogout, "connection", "session"},
         1},
    };
    return cases;
}

void CheckStepCase(const StepCase& c, bool ssl) {
    SCOPED_TRACE(std::string(c.name) + (ssl ? " (HTTPS)" : " (HTTP)"));
    TransportLogCapture log;
    Exchange x(ssl);
    x.array.failures.push_back(c.failure);
    EXPECT_EQ(x.Run(), c.result);
    const char* message = (!ssl && c.httpError) ? c.httpError : c.httpsError;
    EXPECT_EQ(Errors(log), Repeat({message}, c.attempts));
    EXPECT_EQ(SentPaths(x.array), Repeat(c.sentPerAttempt, c.attempts));
    EXPECT_EQ(x.array.closed, Repeat(c.closedPerAttempt, c.attempts));
    EXPECT_EQ(x.array.Attempt(), c.attempts);
    EXPECT_EQ(x.array.OpenHandles(), 0u);
    EXPECT_TRUE(x.array.misuse.empty());
    std::vector<std::string> messages = log.Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(),
              "TRACE done: 0x" +
                  std::string(c.result ? (c.result == 1 ? "00000001" : "8000401d") : "00000000"));
}

TEST(ArrayTransport, EveryFailingStepLogsItsMessageAndEndsTheAttempt) {
    for (const StepCase& c : StepCases()) {
        CheckStepCase(c, true);
        CheckStepCase(c, false);
    }
}

TEST(ArrayTransport, RefusedLoginStatusIsTriedFiveTimesWithoutCommandOrLogout) {
    TransportLogCapture log;
    Exchange x(true);
    x.array.respond = [](const std::string&, const std::string&) { return FakeReply{401, "no"}; };
    EXPECT_EQ(x.Run(), E_ARRAY_SESSION);
    EXPECT_EQ(SentPaths(x.array), Repeat({kLogin}, 5));
    EXPECT_EQ(Errors(log), Repeat({"Failed to login to NXA system, verify your username and "
                                   "password. Response code ('401') was received."},
                                  5));
    EXPECT_TRUE(x.loginTexts.empty());
}

TEST(ArrayTransport, LoginRefusedByTheCheckIsRetriedSilently) {
    TransportLogCapture log;
    Exchange x(true);
    x.check = [&](const std::string& text) {
        x.loginTexts.push_back(text);
        return false;
    };
    EXPECT_EQ(x.Run(), E_ARRAY_SESSION);
    EXPECT_EQ(SentPaths(x.array), Repeat({kLogin}, 5));
    EXPECT_TRUE(Errors(log).empty());
    EXPECT_EQ(x.loginTexts, Repeat({"login-ok"}, 5));
}

TEST(ArrayTransport, LoginCheckThatThrowsCountsAsRefusal) {
    TransportLogCapture log;
    Exchange x(false);
    x.check = [](const std::string&) -> bool { throw std::invalid_argument("not JSON"); };
    EXPECT_EQ(x.Run(), E_ARRAY_SESSION);
    EXPECT_EQ(x.array.Attempt(), 5);
    EXPECT_EQ(x.array.OpenHandles(), 0u);
}

TEST(ArrayTransport, CommandStatus500ReturnsOneAfterFiveLoginsAndNoLogout) {
    TransportLogCapture log;
    Exchange x(true);
    x.array.respond = [](const std::string& path, const std::string&) {
        if (path == kLogin) return FakeReply{200, "login-ok"};
        return FakeReply{500, "boom"};
    };
    EXPECT_EQ(x.Run(), 1u);
    EXPECT_EQ(SentPaths(x.array), Repeat({kLogin, kCommand}, 5));
    EXPECT_EQ(Errors(log),
              Repeat({"Error response code ('500') was received from NXA system."}, 5));
}

TEST(ArrayTransport, SuccessfulExchangeLogsEachStepInOrder) {
    for (bool ssl : {true, false}) {
        SCOPED_TRACE(ssl ? "HTTPS" : "HTTP");
        TransportLogCapture log;
        Exchange x(ssl);
        EXPECT_EQ(x.Run(), 0u);
        EXPECT_EQ(x.reply, "reply:" + kCommand);
        std::vector<std::string> m = log.Messages();
        std::string entry = std::string(ssl ? "SendQ9HttpsRequest" : "SendNxaHttpRequest") +
                            ": 10.1.2.3 / /main/services/execute/ / vol_show ? " +
                            std::string(kArgs.begin(), kArgs.end());
        ASSERT_EQ(m.size(), ssl ? 7u : 8u);
        size_t i = 0;
        EXPECT_EQ(m[i++], "DEBUG " + entry);
        if (!ssl) {
            EXPECT_THAT(m[i], StartsWith("DEBUG Connecting: status: 0, handle: "));
            EXPECT_THAT(m[i++], HasSubstr(", IP: 10.1.2.3"));
        }
        EXPECT_EQ(m[i++],
                  "TRACE Response code ('200') was received for login request from NXA system.");
        EXPECT_EQ(m[i++], "TRACE Login response: login-ok");
        EXPECT_EQ(m[i++], "DEBUG Response code ('200') was received from NXA system.");
        EXPECT_EQ(m[i++], "TRACE Logged out");
        EXPECT_EQ(m[i++], "DEBUG Closing handles");
        EXPECT_EQ(m[i++], "TRACE done: 0x00000000");
        for (const auto& line : log.Lines()) {
            EXPECT_EQ(line.module, "PROVIDER");
            EXPECT_EQ(line.unit, "QProviderInterface");
            EXPECT_EQ(line.function,
                      ssl ? "CQProvider::SendQ9HttpsRequest" : "CQProvider::SendNxaHttpRequest");
        }
        EXPECT_EQ(x.array.closed,
                  (std::vector<std::string>{kCommand, kLogin, kLogout, "connection", "session"}));
    }
}

TEST(ArrayTransport, SendersDifferInAgentPortFlagsAndCallback) {
    struct Row {
        bool ssl;
        const char* agent;
        const char* connect;
        const char* secure;
        std::vector<uint32_t> securityFlags;
        int callbacks;
    };
    const Row rows[] = {
        {true, "QVssProvider HTTP Client", "10.1.2.3:443", "secure=1", {0x1100}, 1},
        {false, "MarlVssProvider HTTP Client", "10.1.2.3:80", "secure=0", {}, 0},
    };
    for (const Row& r : rows) {
        TransportLogCapture log;
        Exchange x(r.ssl);
        ASSERT_EQ(x.Run(), 0u);
        EXPECT_THAT(x.array.userAgents, ElementsAre(r.agent));
        EXPECT_THAT(x.array.connects, ElementsAre(r.connect));
        std::string flags = std::string(r.secure) + " refresh=1";
        EXPECT_THAT(x.array.openedRequests,
                    ElementsAre("POST " + kLogin + " " + flags, "GET " + kCommand + " " + flags,
                                "GET " + kLogout + " " + flags));
        EXPECT_EQ(x.array.securityFlags, r.securityFlags);
        EXPECT_EQ(x.array.callbacksSet, r.callbacks);
    }
}

TEST(ArrayTransport, RequestsCarryTheFormOnlyOnTheLogin) {
    TransportLogCapture log;
    Exchange x(true);
    x.settings.password = "p&w=d%+\xE9";
    ASSERT_EQ(x.Run(L"vol_show", L""), 0u);
    ASSERT_EQ(x.array.sent.size(), 3u);
    EXPECT_EQ(x.array.sent[0].headers, "Content-Type: application/x-www-form-urlencoded");
    EXPECT_EQ(x.array.sent[0].body, "user_name=admin&password=p%26w%3Dd%25%2B%E9");
    EXPECT_EQ(x.array.sent[1].path, "/main/services/execute/vol_show/");
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(x.array.sent[i].headers, "");
        EXPECT_EQ(x.array.sent[i].body, "");
    }
}

TEST(ArrayTransport, SecureFailureReachesTheStatusCallback) {
    TransportLogCapture log;
    Exchange x(true);
    FakeFailure f{HttpStep::kSend, L"/main/services/login/", 1, 12175};
    f.secureFailureFlags = 0x20;
    x.array.failures.push_back(f);
    EXPECT_EQ(x.Run(), 0u);
    std::vector<marl::testing::LogLine> lines = log.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1].function, "winHttpStatusCallback");
    EXPECT_EQ(lines[1].level + " " + lines[1].message, "ERROR winHttpStatusCallback test: 0x20");
    EXPECT_EQ(lines[2].message, "SendRequest: Error ('12175') has occurred.");
    EXPECT_EQ(x.array.Attempt(), 2);
}

// Each attempt starts with empty texts: a body read halfway before a failure
// leaves nothing behind.
TEST(ArrayTransport, TextsStartEmptyInEveryAttempt) {
    struct Row {
        const char* name;
        std::wstring prefix;
    };
    const Row rows[] = {{"login", L"/main/services/login/"},
                        {"command", L"/main/services/execute/"}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TransportLogCapture log;
        Exchange x(true);
        x.array.respond = [&x](const std::string& path, const std::string&) {
            std::string n = std::to_string(x.array.Attempt());
            if (path == kLogin) return FakeReply{200, "login-ok", 3};
            return FakeReply{200, "body-of-attempt-" + n, 4};
        };
        x.array.failures.push_back({HttpStep::kReadData, r.prefix, 1, 12030, 2});
        EXPECT_EQ(x.Run(), 0u);
        EXPECT_EQ(x.reply, "body-of-attempt-2");
        EXPECT_EQ(x.loginTexts.back(), "login-ok");
        EXPECT_EQ(x.array.Attempt(), 2);
    }
}

TEST(ArrayTransport, BodiesAreReadChunkByChunk) {
    struct Row {
        std::string body;
        size_t chunk;
        std::string expected;
    };
    const Row rows[] = {
        {"", 0, ""},
        {"0123456789", 3, "0123456789"},
        {"0123456789", 1, "0123456789"},
        {std::string(100000, 'x'), 4096, std::string(100000, 'x')},
        // A chunk is appended as a zero-terminated text.
        {std::string("ab\0cd", 5), 0, "ab"},
        {std::string("ab\0cdef", 7), 4, "abdef"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.body.substr(0, 12));
        TransportLogCapture log;
        Exchange x(false);
        x.array.respond = [&r](const std::string& path, const std::string&) {
            if (path == kLogin) return FakeReply{200, "login-ok"};
            return FakeReply{200, r.body, r.chunk};
        };
        EXPECT_EQ(x.Run(), 0u);
        EXPECT_EQ(x.reply, r.expected);
    }
}

// A body the JSON reader would refuse for its length is not read to its end:
// the attempt fails once it passes the limit, and the next one starts over.
TEST(ArrayTransport, BodiesPastTheTextLimitFailTheAttempt) {
    constexpr size_t kLimit = marl::json::kMaxTextBytes;
    struct Row {
        const char* name;
        size_t loginBytes;
        size_t commandBytes;
        uint32_t result;
        std::string error;  // empty: none
        std::vector<std::string> sentPerAttempt;
        int attempts;
    };
    const std::string larger = " is larger than " + std::to_string(kLimit) + " bytes";
    const Row rows[] = {
        {"login past the limit",
         kLimit + 1,
         1,
         1,
         "Reply to login" + larger + "; reading stopped.",
         {kLogin},
         5},
        {"command past the limit",
         8,
         kLimit + 1,
         1,
         "Reply to vol_show" + larger + "; reading stopped.",
         {kLogin, kCommand},
         5},
        {"command at the limit", 8, kLimit, 0, "", {kLogin, kCommand, kLogout}, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TransportLogCapture log;
        Exchange x(false);
        x.check = [](const std::string& text) { return !text.empty(); };
        x.array.respond = [&r](const std::string& path, const std::string&) {
            size_t bytes = path == kLogin ? r.loginBytes : r.commandBytes;
            return FakeReply{200, std::string(bytes, 'x'), 65536};
        };
        EXPECT_EQ(x.Run(), r.result);
        EXPECT_EQ(Errors(log),
                  r.error.empty() ? std::vector<std::string>{} : Repeat({r.error}, r.attempts));
        EXPECT_EQ(SentPaths(x.array), Repeat(r.sentPerAttempt, r.attempts));
        EXPECT_EQ(x.array.OpenHandles(), 0u);
        if (r.result == 0) {
            EXPECT_EQ(x.reply.size(), r.commandBytes);
        }
    }
}

// A transport whose chunk buffers run out after a given number.
class ShortOfMemory : public marl::array::ArrayTransport {
  public:
    ShortOfMemory(const ProviderSettings& s, marl::platform::HttpClientFactory f,
                  marl::array::LoginCheck c, int chunks)
        : marl::array::ArrayTransport(s, std::move(f), std::move(c)), m_left(chunks) {}

  protected:
    std::unique_ptr<char[]> NewChunk(size_t bytes) override {
        if (m_left-- <= 0) return nullptr;
        return marl::array::ArrayTransport::NewChunk(bytes);
    }

  private:
    int m_left;
};

TEST(ArrayTransport, OutOfMemoryEndsTheBodyWithoutFailingTheExchange) {
    TransportLogCapture log;
    Exchange x(true);
    x.array.respond = [](const std::string& path, const std::string&) {
        if (path == kLogin) return FakeReply{200, "login-ok"};
        return FakeReply{200, "abcdefgh", 3};
    };
    // One chunk for the login body, its closing empty chunk, then one
    // chunk of the command body.
    ShortOfMemory transport(x.settings, x.array.Factory(), x.check, 3);
    EXPECT_EQ(transport.SendArrayRequest(L"vol_show", L"", x.reply), 0u);
    EXPECT_EQ(x.reply, "abc");
    EXPECT_EQ(Errors(log), std::vector<std::string>{"Out Of Memory"});
    EXPECT_EQ(SentPaths(x.array).back(), kLogout);
}

}  // namespace
