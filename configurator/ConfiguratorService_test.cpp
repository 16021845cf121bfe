// RestartService against a scripted service manager, and against the
// system's own backend of whichever build this is.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "configurator/QVssConfigurator.h"
#include "configurator/testing/ConfiguratorFixture.h"

namespace {

using marl::testing::Dialogue;
using marl::testing::ServiceScript;
using V = std::vector<std::string>;

const V kHappyLog = {
    "INFO Trying to restart marlvssprovider service",
    "INFO Stopping service",
    "INFO Waiting for service to stop",
    "INFO Querying service status",
    "INFO Service is stopped",
    "INFO Starting service",
    "INFO Started service",
};

V Repeat(const V& block, int times, V tail = {}) {
    V out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), block.begin(), block.end());
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

V NotStopped(int from, int to, bool queryFails = false) {
    V out;
    for (int i = from; i <= to; ++i) {
        out.push_back("INFO Querying service status");
        if (queryFails) out.push_back("ERROR Failed querying service status: 6");
        out.push_back("INFO Service is not stopped after " + std::to_string(i) +
                      "/10 querying attempts");
    }
    return out;
}

V Concat(std::initializer_list<V> parts) {
    V out;
    for (const V& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct ServiceCase {
    const char* name;
    ServiceScript script;
    bool result;
    V log;
    V calls;
    size_t sleeps;
};

std::vector<ServiceCase> ServiceCases() {
    const V head = {"INFO Trying to restart marlvssprovider service", "INFO Stopping service",
                    "INFO Waiting for service to stop"};
    const V startTail = {"INFO Querying service status", "INFO Service is stopped",
                         "INFO Starting service"};
    ServiceScript stopsLate;
    stopsLate.queriesUntilStopped = 3;
    ServiceScript ignoresStop;
    ignoresStop.stopsOnRequest = false;
    ServiceScript alreadyStopped;
    alreadyStopped.state = 1;
    ServiceScript noManager;
    noManager.managerError = 5;
    ServiceScript noService;
    noService.serviceExists = false;
    ServiceScript queryFails;
    queryFails.queryError = 6;
    ServiceScript startFails;
    startFails.startError = 1053;
    return {
        {"stops at the first query",
         {},
         true,
         kHappyLog,
         {"OpenManager 0xF003F", "OpenNamedService marlvssprovider 0xF003F", "Stop", "Query",
          "Start", "Close manager", "Close service"},
         0},
        {"stops at the third query",
         stopsLate,
         true,
         Concat({head, NotStopped(1, 2), startTail, {"INFO Started service"}}),
         {},
         2},
        {"ignores the stop", ignoresStop, false, Concat({head, NotStopped(1, 10)}),
         Concat({{"OpenManager 0xF003F", "OpenNamedService marlvssprovider 0xF003F", "Stop"},
                 Repeat({"Query"}, 10),
                 {"Close manager", "Close service"}}),
         9},
        {"already stopped is started",
         alreadyStopped,
         true,
         Concat({{"INFO Trying to restart marlvssprovider service", "INFO Stopping service",
                  "INFO Stopping service rc: 1062", "INFO Waiting for service to stop"},
                 startTail,
                 {"INFO Started service"}}),
         {},
         0},
        {"no manager",
         noManager,
         false,
         {"INFO Trying to restart marlvssprovider service",
          "ERROR Failed opening control service manager: 5"},
         {"OpenManager 0xF003F"},
         0},
        {"no service",
         noService,
         false,
         {"INFO Trying to restart marlvssprovider service",
          "ERROR Failed opening service handler: 1060"},
         {"OpenManager 0xF003F", "OpenNamedService marlvssprovider 0xF003F", "Close manager"},
         0},
        {"queries fail", queryFails, false, Concat({head, NotStopped(1, 10, true)}), {}, 9},
        {"start fails",
         startFails,
         false,
         Concat({head, startTail, {"ERROR Failed starting service: 1053"}}),
         {},
         0},
    };
}

TEST(ConfiguratorService, RestartCases) {
    for (const ServiceCase& c : ServiceCases()) {
        SCOPED_TRACE(c.name);
        Dialogue d(c.script);
        CQConfigurator object(false, d.Environment());  // no file: the run stops at once
        size_t before = d.Log().size();
        EXPECT_EQ(object.RestartService(), c.result);
        V log = d.Log();
        EXPECT_EQ(V(log.begin() + static_cast<long>(before), log.end()), c.log);
        if (!c.calls.empty()) {
            EXPECT_EQ(d.Services().Calls(), c.calls);
        }
        EXPECT_EQ(d.Services().OpenHandles(), 0);
        EXPECT_EQ(d.Slept(), std::vector<uint32_t>(c.sleeps, 1000u));
        for (const auto& line : marl::testing::ReadLogLines(d.File("marl_vss_conf_log.txt"))) {
            if (line.message.find("ervice") != std::string::npos) {
                EXPECT_EQ(line.function, "CQConfigurator::RestartService");
            }
        }
    }
}

// The build's own service manager. The native build has none; the Windows
// test prefix has no "marlvssprovider" service.
TEST(ConfiguratorService, SystemBackend) {
    Dialogue d;
    std::unique_ptr<marl::platform::ServiceControl> system =
        marl::platform::MakeSystemServiceControl();
    ConfiguratorEnvironment env = d.Environment();
    env.services = system.get();
    CQConfigurator object(false, env);
    EXPECT_FALSE(object.RestartService());
#ifdef _WIN32
    EXPECT_EQ(d.Log().back(), "ERROR Failed opening service handler: 1060");
#else
    EXPECT_EQ(d.Log().back(), "ERROR Failed opening control service manager: 50");
#endif
}

TEST(ConfiguratorService, RunEndsNormallyWhenTheRestartFails) {
    ServiceScript noService;
    noService.serviceExists = false;
    Dialogue d(noService);
    d.WriteConfig("");
    EXPECT_EQ(d.Run("1.2.3.4\nh\nu\np\rs\nr\nTrue\nFalse\nTrue\n"), ConfiguratorOutcome::Replaced);
    EXPECT_EQ(d.Log().back(), "ERROR Failed opening service handler: 1060");
    EXPECT_THAT(d.Config(), ::testing::HasSubstr("EXTERNAL_IP = [1.2.3.4]\n"));
}

}  // namespace
