// The transport over the build's real HTTP backend (libcurl natively,
// WinHTTP under Wine) against the array simulator: what goes on the wire,
// the session the login opens, the connection the three requests share, the
// certificate cases and the failures the simulator can inject.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "json/JsonNode.h"
#include "platform/testing/peak_memory.h"
#include "tests/integration_transport_fixture.h"

using marl::sim::JournalRecord;
using marl::testing::Times;
using marl::testing::TransportLogCapture;
using marl::testing::TransportTest;
using ::testing::HasSubstr;

namespace {

// The ERROR lines a capture holds.
std::vector<std::string> ErrorLines(const TransportLogCapture& log) {
    std::vector<std::string> errors;
    for (const auto& l : log.Lines()) {
        if (l.level == "ERROR") errors.push_back(l.message);
    }
    return errors;
}

TEST_F(TransportTest, LoginCommandAndLogoutShareOneConnectionAndTheSession) {
    for (bool ssl : {true, false}) {
        SCOPED_TRACE(ssl ? "HTTPS" : "HTTP");
        ASSERT_TRUE(Sim().Reset());
        ASSERT_EQ(Exchange(ssl), 0u);
        EXPECT_THAT(m_reply, HasSubstr("\"MC_OK\""));
        std::vector<JournalRecord> j = Sim().Journal();
        ASSERT_EQ(j.size(), 3u);
        EXPECT_EQ(j[0].command, "login");
        EXPECT_EQ(j[0].method, "POST");
        EXPECT_EQ(j[1].command, "vol_show");
        EXPECT_EQ(j[1].path, "/main/services/execute/vol_show/");
        EXPECT_EQ(j[2].command, "logout");
        for (const JournalRecord& r : j) {
            EXPECT_EQ(r.connection, j[0].connection);
            EXPECT_EQ(r.tls, ssl);
        }
        EXPECT_TRUE(j[1].liveSession);
        EXPECT_EQ(j[1].session, j[0].session);
        EXPECT_EQ(j[2].session, j[0].session);
        EXPECT_EQ(Sim().OpenSessionCount(), 0u);  // logged out
        EXPECT_TRUE(Errors().empty());
    }
}

TEST_F(TransportTest, NothingSurvivesFromOneCallToTheNext) {
    ASSERT_EQ(Exchange(true), 0u);
    ASSERT_EQ(Exchange(true), 0u);
    std::vector<JournalRecord> logins = Sim().JournalOf("login");
    ASSERT_EQ(logins.size(), 2u);
    EXPECT_NE(logins[0].connection, logins[1].connection);
    EXPECT_NE(logins[0].session, logins[1].session);
}

TEST_F(TransportTest, ArgumentsAndCredentialsArriveIntact) {
    ASSERT_TRUE(Sim().SetCredentials("backup op", "p&ss=w%rd+1"));
    m_settings.userName = "backup op";
    m_settings.password = "p&ss=w%rd+1";
    marl::array::ArgPair pairs[] = {{L"snapshot_name", L"cg1:VSS_snap \"x\" & y"}};
    ASSERT_EQ(Exchange(true, L"volsnap_show", BuildArgs(1, pairs)), 0u);
    std::vector<JournalRecord> cmd = Sim().JournalOf("volsnap_show");
    ASSERT_EQ(cmd.size(), 1u);
    EXPECT_EQ(cmd[0].argsError, "");
    EXPECT_EQ(cmd[0].Arg("snapshot_name"), "cg1:VSS_snap \"x\" & y");
}

TEST_F(TransportTest, WrongPasswordIsRefusedFiveTimes) {
    ASSERT_TRUE(Sim().SetCredentials("admin", "other"));
    EXPECT_EQ(Exchange(false), E_ARRAY_SESSION);
    EXPECT_EQ(Commands(), Times(5, {"login"}));
    EXPECT_EQ(Errors(), Times(5, {"Failed to login to NXA system, verify your username and "
                                  "password. Response code ('401') was received."}));
}

TEST_F(TransportTest, LoginReplyThatIsNotJsonIsARefusedLogin) {
    AddFault("login", "malformed");
    EXPECT_EQ(Exchange(true), E_ARRAY_SESSION);
    EXPECT_EQ(Commands(), Times(5, {"login"}));
}

TEST_F(TransportTest, FailedCommandsAreRepeatedWithoutLogout) {
    struct Row {
        const char* fault;
        uint32_t result;
        std::string error;
    };
    const Row rows[] = {
        {"status", 1, "Error response code ('500') was received from NXA system."},
        {"drop", E_ARRAY_SESSION, "Error ('12152') has occurred in WinHttpReceiveResponse."},
        {"truncate", 1, "Error ('12030') in WinHttpQueryDataAvailable."},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.fault);
        ASSERT_TRUE(Sim().Reset());
        TransportLogCapture log;
        AddFault("vol_show", r.fault);
        EXPECT_EQ(Exchange(true), r.result);
        EXPECT_EQ(Commands(), Times(5, {"login", "vol_show"}));
        EXPECT_EQ(ErrorLines(log), Times(5, {r.error}));
    }
}

TEST_F(TransportTest, SecondAttemptAfterADroppedConnectionSucceeds) {
    AddFault("vol_show", "drop", 1);
    EXPECT_EQ(Exchange(false), 0u);
    EXPECT_EQ(Commands(),
              (std::vector<std::string>{"login", "vol_show", "login", "vol_show", "logout"}));
    EXPECT_THAT(m_reply, HasSubstr("\"MC_OK\""));
}

// An endpoint that streams a reply without end: every attempt stops reading
// once the reply passes what the JSON reader accepts, and the process holds
// far less than the reply (the backend too must not buffer what it was not
// asked for).
TEST_F(TransportTest, EndlessRepliesAreCutAtTheTextLimitInBoundedMemory) {
    constexpr long long kReplyBytes = 1LL << 30;
    constexpr uint64_t kMaxPeakGrowth = uint64_t{512} << 20;
    const std::string limit = std::to_string(marl::json::kMaxTextBytes);
    struct Row {
        const char* target;
        bool ssl;
        std::vector<std::string> perAttempt;
    };
    const Row rows[] = {
        {"login", false, {"login"}},
        {"vol_show", true, {"login", "vol_show"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.target);
        ASSERT_TRUE(Sim().Reset());
        TransportLogCapture log;
        marl::sim::FaultRequest f;
        f.target = r.target;
        f.type = "stream";
        f.length = kReplyBytes;
        ASSERT_NE(Sim().AddFault(f), 0u) << Sim().LastError();
        uint64_t before = marl::testing::PeakMemoryBytes();
        EXPECT_EQ(Exchange(r.ssl), 1u);
        uint64_t after = marl::testing::PeakMemoryBytes();
        std::printf(
            "[ memory ] 1 GiB reply to %s: peak memory of this process %llu MiB before, "
            "%llu MiB after\n",
            r.target, static_cast<unsigned long long>(before >> 20),
            static_cast<unsigned long long>(after >> 20));
        EXPECT_EQ(Commands(), Times(5, r.perAttempt));
        EXPECT_EQ(ErrorLines(log),
                  Times(5, {"Reply to " + std::string(r.target) + " is larger than " + limit +
                            " bytes; reading stopped."}));
        ASSERT_GT(after, 0u);
        EXPECT_LT(after - before, kMaxPeakGrowth);
    }
}

// A redirect is an answer like any other status other than 200: nothing
// follows it to the address it names, where a second simulator listens
// (integration_transport.cmake starts it on MARL_ELSEWHERE_ADDRESS).
TEST_F(TransportTest, RedirectsAreRefusedAndNotFollowed) {
    const char* file = std::getenv("MARL_ELSEWHERE_PORTS_FILE");
    if (!file) GTEST_SKIP() << "needs the second simulator that ctest starts";
    marl::sim::SimulatorPorts ports;
    ASSERT_TRUE(marl::sim::ReadPortsFile(marl::sim::PortsFileForThisBuild(file), ports));
    marl::sim::SimulatorControl elsewhere(ports);
    ASSERT_TRUE(elsewhere.Reset()) << elsewhere.LastError();
    const std::string refusedLogin =
        "Failed to login to NXA system, verify your username and password. Response code "
        "('307') was received.";
    struct Row {
        const char* target;
        const char* path;
        bool ssl;
        uint32_t result;
        std::string error;
        std::vector<std::string> perAttempt;
    };
    const Row rows[] = {
        {"login", "/main/services/login/", true, E_ARRAY_SESSION, refusedLogin, {"login"}},
        {"login", "/main/services/login/", false, E_ARRAY_SESSION, refusedLogin, {"login"}},
        {"vol_show",
         "/main/services/execute/vol_show/",
         false,
         1,
         "Error response code ('307') was received from NXA system.",
         {"login", "vol_show"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.target) + (r.ssl ? " HTTPS" : " HTTP"));
        ASSERT_TRUE(Sim().Reset());
        TransportLogCapture log;
        marl::sim::FaultRequest f;
        f.target = r.target;
        f.type = "redirect";
        f.status = 307;
        f.location = std::string(r.ssl ? "https" : "http") + "://" MARL_ELSEWHERE_ADDRESS ":" +
                     std::to_string(r.ssl ? ports.https : ports.http) + r.path;
        ASSERT_NE(Sim().AddFault(f), 0u) << Sim().LastError();
        EXPECT_EQ(Exchange(r.ssl), r.result);
        EXPECT_EQ(Commands(), Times(5, r.perAttempt));
        EXPECT_EQ(ErrorLines(log), Times(5, {r.error}));
        EXPECT_TRUE(elsewhere.Journal().empty()) << "a request reached " << f.location;
    }
}

// The command has run on the array: a logout that fails is not a reason to
// run it again.
TEST_F(TransportTest, DroppedLogoutDoesNotRepeatTheCommand) {
    AddFault("logout", "drop");
    EXPECT_EQ(Exchange(true), 0u);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"login", "vol_show", "logout"}));
}

TEST_F(TransportTest, NoListenerFailsTheSendWithCannotConnect) {
    ProviderSettings settings = m_settings;
    settings.supportSsl = false;
    // Port 1 (tcpmux) has no listener on a test machine.
    marl::array::ArrayTransport transport(settings, marl::harness::RedirectingFactory({1, 1}),
                                          marl::array::CheckLoginReply);
    EXPECT_EQ(transport.SendArrayRequest(L"vol_show", L"", m_reply), E_ARRAY_SESSION);
    EXPECT_EQ(Errors(), Times(5, {"SendRequest: Error ('12029') has occurred."}));
}

}  // namespace
