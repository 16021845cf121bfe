// The array's ports on another loopback address (--listen-address), for a
// product whose ports are fixed: each test program gets an address of its own.
#include <gmock/gmock.h>
#include <httplib.h>

#include "SimTestSupport.h"
#include "testing/SimulatorControl.h"

namespace marl::sim::test {
namespace {

TEST(ListenAddress, OnlyDottedLoopbackAddressesAreAccepted) {
    struct Case {
        const char* text;
        bool loopback;
    } cases[] = {{"127.0.0.1", true},
                 {"127.0.0.2", true},
                 {"127.255.255.254", true},
                 {"127.1.2.3", true},
                 {"10.0.0.2", false},
                 {"128.0.0.1", false},
                 {"127.0.0", false},
                 {"127.0.0.1.5", false},
                 {"127.0.0.256", false},
                 {"127..0.1", false},
                 {"127.0.0.", false},
                 {"1270.0.0.1", false},
                 {"localhost", false},
                 {"::1", false},
                 {" 127.0.0.2", false},
                 {"127.0.0.2 ", false},
                 {"", false},
                 {"127.0.0.-1", false}};
    for (const Case& c : cases) EXPECT_EQ(IsLoopbackAddress(c.text), c.loopback) << c.text;
}

int StatusAt(const std::string& address, int port) {
    httplib::Client client("http://" + address + ":" + std::to_string(port));
    client.set_connection_timeout(5);
    auto result = client.Get("/logout/");
    return result ? result->status : 0;
}

TEST(ListenAddress, ArrayPortsMoveAndTheControlPortStays) {
    SimulatorOptions options;
    options.frontend.address = "127.0.0.9";
    options.frontend.https = false;
    Simulator simulator;
    std::string error;
    ASSERT_TRUE(simulator.Start(options, error)) << error;
    const int http = simulator.Ports().http;
    EXPECT_EQ(StatusAt("127.0.0.9", http), 200);
    EXPECT_EQ(StatusAt("127.0.0.1", http), 0) << "the array port is not on 127.0.0.1 too";
    EXPECT_TRUE(SimulatorControl(simulator.Ports()).Ping());
    simulator.Stop();
}

}  // namespace
}  // namespace marl::sim::test
