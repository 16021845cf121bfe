// The management protocol as a client meets it: login form, session cookie,
// execute with "?args=", logout, and what the journal makes of it.
#include <gmock/gmock.h>

#include "SimTestSupport.h"
#include "testing/LoopbackHttp.h"
#include "testing/SimulatorControl.h"

namespace marl::sim::test {
namespace {

using ::testing::HasSubstr;

class Protocol : public SimulatorCase {
  protected:
    int Http() { return Sim().Ports().http; }
    std::vector<JournalRecord> Journal() { return SimulatorControl(Sim().Ports()).Journal(); }
};

TEST_F(Protocol, LoginSetsCookieAndAnswersTheConfiguredReply) {
    ArrayClient client(Http(), false);
    HttpResult login = client.Login();
    EXPECT_EQ(login.status, 200);
    EXPECT_EQ(login.body,
              R"({"key":"LOGIN_SUCCESSFUL","vss_api_version":"4","version":"8.0.1.12"})");
    EXPECT_THAT(login.setCookie, HasSubstr("sessionid="));
    EXPECT_EQ(client.Execute("vol_show").Key(), "MC_OK");
}

TEST_F(Protocol, WrongCredentialsGet401AndNoSession) {
    struct Case {
        const char* user;
        const char* password;
    } cases[] = {{"admin", "wrong"}, {"root", "password"}, {"", ""}, {"admin", "password2"}};
    for (const auto& c : cases) {
        ArrayClient client(Http(), false);
        HttpResult login = client.Login(c.user, c.password);
        EXPECT_EQ(login.status, 401) << c.user << "/" << c.password;
        EXPECT_TRUE(login.setCookie.empty());
        EXPECT_EQ(client.Execute("vol_show").status, 401);
    }
}

TEST_F(Protocol, FormFieldsArePercentDecoded) {
    SimulatorControl(Sim().Ports()).SetCredentials("adm in", "p&ss=1");
    ArrayClient client(Http(), false);
    EXPECT_EQ(client.Login("adm+in", "p%26ss%3D1").status, 200);
    // Sent raw, the ampersand splits the form and the password no longer matches.
    ArrayClient raw(Http(), false);
    EXPECT_EQ(raw.Login("adm+in", "p&ss=1").status, 401);
    auto journal = Journal();
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal[1].Arg("password"), "p");
    EXPECT_EQ(journal[1].body, "user_name=adm+in&password=p&ss=1");
}

TEST_F(Protocol, CommandsNeedALiveSession) {
    ArrayClient client(Http(), false);
    EXPECT_EQ(client.Execute("vol_show").status, 401);
    client.Login();
    std::string cookie = client.Cookie();
    EXPECT_EQ(client.Execute("vol_show").status, 200);
    EXPECT_EQ(client.Logout().status, 200);
    client.SetCookie(cookie);  // the ended session's cookie
    EXPECT_EQ(client.Execute("vol_show").status, 401);
    client.SetCookie("sessionid=0123456789abcdef0123456789abcdef");
    EXPECT_EQ(client.Execute("vol_show").status, 401);
}

TEST_F(Protocol, ExpiredSessionsAreRefused) {
    ArrayClient client(Http(), false);
    client.Login();
    EXPECT_EQ(Service().ExpireSessions(), 1u);
    EXPECT_EQ(client.Execute("vol_show").status, 401);
}

TEST_F(Protocol, JournalShowsOneConnectionPerExchange) {
    Exchange(Http(), false, "vol_show");
    Exchange(Http(), false, "vg_show", {{"vg_name", "vg_db"}});
    auto journal = Journal();
    ASSERT_EQ(journal.size(), 6u);
    const char* commands[] = {"login", "vol_show", "logout", "login", "vg_show", "logout"};
    for (size_t i = 0; i < journal.size(); ++i) EXPECT_EQ(journal[i].command, commands[i]);
    EXPECT_EQ(journal[0].connection, journal[1].connection);
    EXPECT_EQ(journal[1].connection, journal[2].connection);
    EXPECT_NE(journal[2].connection, journal[3].connection);
    EXPECT_FALSE(journal[0].liveSession);
    EXPECT_TRUE(journal[1].liveSession);
    EXPECT_TRUE(journal[2].liveSession);
    EXPECT_EQ(journal[4].Arg("vg_name"), "vg_db");
    EXPECT_EQ(journal[0].session, journal[1].session);
    EXPECT_EQ(SimulatorControl(Sim().Ports()).OpenSessionCount(), 0u);
}

TEST_F(Protocol, ArgumentsAreOneJsonObjectEvenWithAmpersands) {
    ArrayClient client(Http(), false);
    client.Login();
    HttpResult r =
        client.Execute("snapshot_show", {{"full", "true"}, {"snapshot_name", "vg_app:nightly"}});
    EXPECT_EQ(r.Key(), "MC_OK");
    EXPECT_TRUE(r.Data().HasMember("vg_app:nightly"));
    r = client.Execute("vg_show", {{"vg_name", "a&b=c"}});
    EXPECT_EQ(r.Key(), keys::kGroupNotFound);
    EXPECT_EQ(Journal().back().Arg("vg_name"), "a&b=c");
}

TEST_F(Protocol, BadRequestsAreAnsweredAsTheArrayWould) {
    ArrayClient client(Http(), false);
    client.Login();
    struct Case {
        std::string target;
        int status;
        std::string key;
    } cases[] = {
        {"/main/services/execute/no_such_command/", 200, keys::kUnknownCommand},
        {"/main/services/execute/vg_show/?args=%7B%22vg_name%22%3A%20%22a%22b%22%7D", 200,
         keys::kInvalidArgument},
        {"/main/services/execute/vg_show/?vg_name=vg_db", 200, keys::kInvalidArgument},
        {"/main/services/execute/vol_show", 404, "MC_NOT_FOUND"},
        {"/main/services/vol_show/", 404, "MC_NOT_FOUND"},
    };
    for (const auto& c : cases) {
        HttpResult r = client.Get(c.target);
        EXPECT_EQ(r.status, c.status) << c.target;
        EXPECT_EQ(r.Key(), c.key) << c.target;
    }
    EXPECT_FALSE(Journal()[2].argsError.empty());
}

TEST_F(Protocol, LoginReplyIsWhateverWasConfigured) {
    SimulatorControl control(Sim().Ports());
    const std::string reply =
        R"({"key":"LOGIN_SUCCESSFUL","version":"latest-build","version":"8.0"})";
    ASSERT_TRUE(control.SetLoginReply(reply));
    ArrayClient client(Http(), false);
    EXPECT_EQ(client.Login().body, reply);
    Service().Reset();
    EXPECT_NE(ArrayClient(Http(), false).Login().body, reply);
}

TEST_F(Protocol, HttpsCarriesTheSameProtocol) {
    HttpResult r = Exchange(Sim().Ports().https, true, "replication_session_show");
    EXPECT_EQ(r.Key(), "MC_OK");
    EXPECT_TRUE(r.Data().HasMember("rs_repl"));
    auto journal = Journal();
    ASSERT_EQ(journal.size(), 3u);
    EXPECT_TRUE(journal[1].tls);
}

TEST_F(Protocol, ControlInterfaceRefusesBadRequests) {
    struct Case {
        std::string path;
        std::string body;
    } cases[] = {
        {"/control/faults", R"({"target":"vol_show","type":"explode"})"},
        {"/control/faults", R"({"type":"status"})"},
        {"/control/faults", R"({"target":"vol_show","type":"delay","delay_ms":600000})"},
        {"/control/faults", R"({"target":"vol_show","count":0})"},
        {"/control/reset", R"({"volumes":[{"name":"a:b"}]})"},
        {"/control/tls", R"({"mode":"broken"})"},
        {"/control/login", R"({"reply":"not an object"})"},
        {"/control/faults", "not json"},
    };
    for (const auto& c : cases) {
        LoopbackReply r = LoopbackHttp(Sim().Ports().control, "POST", c.path, c.body);
        EXPECT_EQ(r.status, 400) << c.path << " " << c.body;
        EXPECT_THAT(r.body, HasSubstr("\"error\"")) << c.path;
    }
}

}  // namespace
}  // namespace marl::sim::test
