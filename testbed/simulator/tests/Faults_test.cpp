// Injected faults, seen from a client over HTTP.
#include <gmock/gmock.h>

#include <chrono>

#include "SimTestSupport.h"
#include "testing/SimulatorControl.h"

namespace marl::sim::test {
namespace {

using ::testing::HasSubstr;

class Faults : public SimulatorCase {
  protected:
    SimulatorControl Control() { return SimulatorControl(Sim().Ports()); }
    HttpResult Run(const std::string& command, const Args& args = {}) {
        return Exchange(Sim().Ports().http, false, command, args);
    }
    uint64_t Add(FaultRequest f) {
        uint64_t id = Control().AddFault(f);
        EXPECT_NE(id, 0u) << Control().LastError();
        return id;
    }
    static FaultRequest Fault(const std::string& target, const std::string& type) {
        FaultRequest f;
        f.target = target;
        f.type = type;
        return f;
    }
};

TEST_F(Faults, EachTypeShapesTheReply) {
    struct Case {
        FaultRequest fault;
        int status;       // 0: no usable response
        std::string key;  // of a JSON reply; empty when the body is not JSON
    };
    FaultRequest status = Fault("vol_show", "status");
    status.status = 503;
    FaultRequest key = Fault("vol_show", "key");
    key.key = "MC_ARRAY_BUSY";
    key.info = "try later";
    FaultRequest raw = Fault("vol_show", "raw");
    raw.status = 202;
    raw.body = R"({"key":"MC_OK","data":"not an object"})";
    FaultRequest redirect = Fault("vol_show", "redirect");
    redirect.location = "http://127.0.0.9:8080/main/services/execute/vol_show/";
    FaultRequest stream = Fault("vol_show", "stream");
    stream.length = 3 * 65536 + 7;  // several blocks and a part of one
    std::vector<Case> cases = {
        {status, 503, "MC_HTTP_ERROR"},
        {key, 200, "MC_ARRAY_BUSY"},
        {Fault("vol_show", "malformed"), 200, ""},
        {raw, 202, "MC_OK"},
        {Fault("vol_show", "drop"), 0, ""},
        {Fault("vol_show", "truncate"), 0, ""},
        {Fault("*", "status"), 500, "MC_HTTP_ERROR"},
        {redirect, 307, "MC_MOVED"},
        {stream, 200, ""},
    };
    for (const auto& c : cases) {
        Service().Reset();
        FaultRequest once = c.fault;
        once.count = 1;
        Add(once);
        HttpResult r = Run("vol_show");
        EXPECT_EQ(r.status, c.status) << c.fault.type;
        EXPECT_EQ(r.Key(), c.key) << c.fault.type;
        if (c.fault.type == "raw") {
            EXPECT_EQ(r.body, raw.body);
        }
        if (c.fault.type == "stream") {
            EXPECT_EQ(r.body, std::string(static_cast<size_t>(stream.length), 'x'));
        }
        EXPECT_EQ(Run("vol_show").Key(), "MC_OK") << c.fault.type << " outlived its count";
        auto journal = Control().JournalOf("vol_show");
        ASSERT_EQ(journal.size(), 2u);
        EXPECT_THAT(journal[0].fault, HasSubstr(c.fault.type));
        EXPECT_EQ(journal[0].status, c.fault.type == "drop" ? 0 : (c.status ? c.status : 200));
    }
}

TEST_F(Faults, SkipAndCountChooseWhichRequestsFail) {
    FaultRequest f = Fault("volsnap_show", "status");
    f.skip = 1;
    f.count = 2;
    Add(f);
    int expected[] = {200, 500, 500, 200};
    for (int status : expected) EXPECT_EQ(Run("volsnap_show").status, status);
    EXPECT_EQ(Run("vol_show").status, 200);  // other commands are untouched
}

TEST_F(Faults, DropWithoutExecuteLeavesTheArrayUnchanged) {
    Args create{{"snapshot_names_list", "S_un"}, {"source_names_list", "vg_db"}};
    FaultRequest f = Fault("unexposable_snapshot_create", "drop");
    f.count = 1;
    Add(f);
    EXPECT_EQ(Run("unexposable_snapshot_create", create).status, 0);
    EXPECT_THAT(Control().State(), ::testing::Not(HasSubstr("S_un")));
    f.execute = true;
    Add(f);
    EXPECT_EQ(Run("unexposable_snapshot_create", create).status, 0);
    EXPECT_THAT(Control().State(), HasSubstr("S_un"));  // done, but the answer was lost
    EXPECT_EQ(Run("unexposable_snapshot_create", create).Key(), keys::kNameExists);
}

TEST_F(Faults, DelayWaitsAndThenAnswers) {
    FaultRequest f = Fault("vg_show", "delay");
    f.delayMs = 400;
    f.count = 1;
    Add(f);
    auto start = std::chrono::steady_clock::now();
    HttpResult r = Run("vg_show");
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_EQ(r.Key(), "MC_OK");
    EXPECT_GE(ms.count(), 400);
}

TEST_F(Faults, LoginAndLogoutCanFail) {
    FaultRequest login = Fault("login", "status");
    login.status = 401;
    login.count = 1;
    Add(login);
    ArrayClient client(Sim().Ports().http, false);
    EXPECT_EQ(client.Login().status, 401);
    EXPECT_TRUE(client.Cookie().empty());
    Add(Fault("logout", "drop"));
    EXPECT_EQ(client.Login().status, 200);
    EXPECT_EQ(client.Logout().status, 0);
    EXPECT_EQ(Control().OpenSessionCount(), 1u);  // the logout never happened
    FaultRequest key = Fault("login", "key");
    key.key = "LOGIN_DENIED";
    Add(key);
    EXPECT_EQ(ArrayClient(Sim().Ports().http, false).Login().Key(), "LOGIN_DENIED");
    // A wildcard fault is for commands only.
    Add(Fault("*", "drop"));
    EXPECT_EQ(client.Login().Key(), "LOGIN_DENIED");
}

TEST_F(Faults, ClearingByTargetKeepsTheOthers) {
    Add(Fault("vol_show", "status"));
    Add(Fault("vg_show", "status"));
    ASSERT_TRUE(Control().ClearFaults("vol_show"));
    EXPECT_EQ(Run("vol_show").status, 200);
    EXPECT_EQ(Run("vg_show").status, 500);
    ASSERT_TRUE(Control().ClearFaults());
    EXPECT_EQ(Run("vg_show").status, 200);
}

}  // namespace
}  // namespace marl::sim::test
