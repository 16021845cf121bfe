// The transport over the build's real HTTP backend (libcurl natively,
// WinHTTP under Wine) against the array simulator: what goes on the wire,
// the session the login opens, the connection the three requests share, the
// certificate cases and the failures the simulator can inject.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/integration_transport_fixture.h"

using marl::sim::JournalRecord;
using marl::testing::Times;
using marl::testing::TransportLogCapture;
using marl::testing::TransportTest;
using ::testing::HasSubstr;

namespace {

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
        std::vector<std::string> errors;
        for (const auto& l : log.Lines()) {
            if (l.level == "ERROR") errors.push_back(l.message);
        }
        EXPECT_EQ(errors, Times(5, {r.error}));
    }
}

TEST_F(TransportTest, SecondAttemptAfterADroppedConnectionSucceeds) {
    AddFault("vol_show", "drop", 1);
    EXPECT_EQ(Exchange(false), 0u);
    EXPECT_EQ(Commands(),
              (std::vector<std::string>{"login", "vol_show", "login", "vol_show", "logout"}));
    EXPECT_THAT(m_reply, HasSubstr("\"MC_OK\""));
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
