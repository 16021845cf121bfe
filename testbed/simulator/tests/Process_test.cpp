// The simulator program as a process: announcing its ports, stopping cleanly,
// running detached for ctest, and its command line.
#include <gmock/gmock.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "CommandLine.h"
#include "testing/LoopbackHttp.h"
#include "testing/SimulatorControl.h"
#include "testing/SimulatorProcess.h"

namespace marl::sim {
namespace {

using ::testing::HasSubstr;

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

TEST(Process, AnnouncesPortsAndStopsCleanlyOnSigterm) {
    std::string error;
    auto p = SimulatorProcess::Launch({"--verbose"}, error);
    ASSERT_NE(p, nullptr) << error;
    const SimulatorPorts& ports = p->Ports();
    EXPECT_GT(ports.http, 0);
    EXPECT_GT(ports.https, 0);
    EXPECT_NE(ports.http, ports.control);
    EXPECT_TRUE(SimulatorControl(ports).Ping());
    EXPECT_EQ(LoopbackHttp(ports.http, "GET", "/main/services/execute/vol_show/").status, 401);
    ASSERT_TRUE(p->SendSignal(SIGTERM));
    int code = -1;
    ASSERT_TRUE(p->WaitForExit(20000, code));
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(Exists(p->PortsFile()));
    EXPECT_THAT(p->Log(), HasSubstr("MARL_SIMULATOR_STOPPED"));
    EXPECT_THAT(p->Log(), HasSubstr("vol_show"));  // --verbose request line
}

TEST(Process, ControlShutdownEndsTheProcess) {
    std::string error;
    auto p =
        SimulatorProcess::Launch({"--no-https", "--generate", "volumes=40,snapshots=4"}, error);
    ASSERT_NE(p, nullptr) << error;
    EXPECT_EQ(p->Ports().https, 0);
    SimulatorControl control(p->Ports());
    EXPECT_THAT(control.State(), HasSubstr("gvol000040"));
    ASSERT_TRUE(control.Shutdown());
    int code = -1;
    ASSERT_TRUE(p->WaitForExit(20000, code));
    EXPECT_EQ(code, 0);
}

TEST(Process, DetachedSimulatorIsStoppedThroughItsPortsFile) {
    std::string ports = testing::TempDir() + "/detached_ports";
    std::string binary = SimulatorBinaryPath();
    ASSERT_EQ(std::system((binary + " --detach --ports-file " + ports + " > /dev/null").c_str()),
              0);
    SimulatorPorts found;
    ASSERT_TRUE(ReadPortsFile(ports, found));
    EXPECT_TRUE(SimulatorControl(found).Ping());
    ASSERT_EQ(std::system((binary + " --stop --ports-file " + ports).c_str()), 0);
    EXPECT_FALSE(Exists(ports));
    EXPECT_FALSE(SimulatorControl(found).Ping());
}

TEST(Process, BadStartsFailWithAReason) {
    std::string error;
    EXPECT_EQ(SimulatorProcess::Launch({"--scenario", "/nonexistent/scenario.json"}, error),
              nullptr);
    EXPECT_THAT(error, HasSubstr("could not read scenario file"));
    EXPECT_EQ(SimulatorProcess::Launch({"--bogus"}, error), nullptr);
    EXPECT_THAT(error, HasSubstr("unknown option --bogus"));
}

TEST(CommandLineParse, OptionsAndTheirValues) {
    const char* argv[] = {"sim",       "--http-port", "0",          "--https-port=8443",
                          "--no-http", "--tls-mode",  "wrong_host", "--user",
                          "op",        "--password",  "pw",         "--generate=volumes=5"};
    CommandLine cl;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(12, argv, cl, error)) << error;
    EXPECT_EQ(cl.options.frontend.httpsPort, 8443);
    EXPECT_FALSE(cl.options.frontend.http);
    EXPECT_EQ(cl.options.tlsMode, TlsMode::WrongHost);
    EXPECT_EQ(cl.options.login.userName, "op");
    EXPECT_TRUE(cl.options.generate);
    EXPECT_EQ(cl.options.generator.volumes, 5u);

    struct Bad {
        std::vector<const char*> args;
        const char* reason;
    } bad[] = {{{"sim", "--http-port", "70000"}, "port number"},
               {{"sim", "--tls-mode", "odd"}, "--tls-mode"},
               {{"sim", "--stop"}, "--stop needs --ports-file"},
               {{"sim", "--cert", "c.pem"}, "--cert and --key"},
               {{"sim", "--scenario", "a", "--generate", "volumes=1"}, "either"},
               {{"sim", "--ports-file"}, "needs a value"},
               {{"sim", "--login-reply", "{\"key\":"}, "JSON object"},
               {{"sim", "--listen-address", "10.0.0.2"}, "loopback address"}};
    for (const auto& b : bad) {
        CommandLine c;
        EXPECT_FALSE(ParseCommandLine(static_cast<int>(b.args.size()), b.args.data(), c, error));
        EXPECT_THAT(error, HasSubstr(b.reason));
    }
}

}  // namespace
}  // namespace marl::sim
