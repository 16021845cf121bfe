// How long the simulator takes to answer "vol_show" for large inventories,
// next to how long the provider's own reply handling takes for the same
// reply, so that client benchmarks run against the simulator measure the
// client and not the simulator.
//   SimulatorVolShow:        the service builds the reply (no network)
//   SimulatorVolShowOverHttp: login, vol_show and logout over loopback HTTP
//   ClientParseVolShow:      the provider parses the reply and reads its records
// The summary puts the simulator's times beside the client's for each size
// (no goal: they say which side a client benchmark's time belongs to).
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <stdlib.h>

#include <cstdio>
#include <string>

#include "FigureReporter.h"
#include "Simulator.h"
#include "json/JsonNode.h"
#include "platform/install_folder.h"
#include "provider/array/ResponseEnvelope.h"
#include "provider/array/ResponseParsers.h"

namespace {

using namespace marl::sim;

Inventory Generated(size_t volumes) {
    Inventory inv;
    InventoryFigures figures;
    figures.volumes = volumes;
    figures.replication = volumes / 10;
    GenerateInventory(figures, inv);
    return inv;
}

HttpRequestInfo Request(const std::string& method, const std::string& path, std::string body = "",
                        std::string cookie = "") {
    HttpRequestInfo r;
    r.method = method;
    r.target = r.path = path;
    r.body = std::move(body);
    r.cookieHeader = std::move(cookie);
    r.connection = 1;
    return r;
}

// A logged-in service and the vol_show request that its session may send.
struct LoggedIn {
    explicit LoggedIn(size_t volumes) : service(Generated(volumes), LoginSettings{}) {
        HttpReplyPlan login =
            service.Handle(Request("POST", kLoginPath, "user_name=admin&password=password"));
        std::string cookie = login.setCookie.substr(0, login.setCookie.find(';'));
        volShow = Request("GET", std::string(kExecutePrefix) + "vol_show/", "", cookie);
    }
    ArrayService service;
    HttpRequestInfo volShow;
};

void SimulatorVolShow(benchmark::State& state) {
    LoggedIn array(static_cast<size_t>(state.range(0)));
    size_t bytes = 0;
    for (auto _ : state) bytes = array.service.Handle(array.volShow).body.size();
    state.counters["reply_bytes"] = static_cast<double>(bytes);
}

void SimulatorVolShowOverHttp(benchmark::State& state) {
    Simulator sim;
    SimulatorOptions options;
    options.generate = true;
    options.generator.volumes = static_cast<size_t>(state.range(0));
    options.frontend.https = false;
    std::string error;
    if (!sim.Start(options, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    for (auto _ : state) {
        httplib::Client client("127.0.0.1", sim.Ports().http);
        client.set_keep_alive(true);
        auto login = client.Post(kLoginPath, "user_name=admin&password=password",
                                 "application/x-www-form-urlencoded");
        std::string cookie = login->get_header_value("Set-Cookie");
        httplib::Headers headers{{"Cookie", cookie.substr(0, cookie.find(';'))}};
        auto reply = client.Get("/main/services/execute/vol_show/", headers);
        client.Get("/logout/", headers);
        benchmark::DoNotOptimize(reply->body.size());
    }
    sim.Stop();
}

void ClientParseVolShow(benchmark::State& state) {
    LoggedIn array(static_cast<size_t>(state.range(0)));
    std::string body = array.service.Handle(array.volShow).body;
    size_t records = 0;
    for (auto _ : state) {
        marl::json::JsonNode root = marl::json::Parse(body);
        marl::json::JsonNode data;
        ParseResponse(root, data);
        marl::array::LunInfoList list;
        ParseVolShow(data, list);
        records = list.size();
    }
    state.counters["records"] = static_cast<double>(records);
}

BENCHMARK(SimulatorVolShow)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(SimulatorVolShowOverHttp)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(ClientParseVolShow)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void PrintFigures(const marl::bench::FigureReporter& r) {
    std::printf("\nvol_show, the simulator's reply against the client's parsing (real time):\n");
    for (const char* volumes : {"1000", "10000"}) {
        const std::string size = std::string("/") + volumes;
        const double build = r.Median("SimulatorVolShow" + size).real;
        const double http = r.Median("SimulatorVolShowOverHttp" + size).real;
        const double parse = r.Median("ClientParseVolShow" + size).real;
        const std::string name = std::string("  ") + volumes + " volumes, simulator / client";
        if (build <= 0 || parse <= 0) {
            marl::bench::PrintNotMeasured(name);
            continue;
        }
        marl::bench::Figure(name, build / parse, "x", 2)
            .Context(marl::bench::Format("reply built in %.2f ms, %.2f ms over HTTP; parsed in "
                                         "%.2f ms",
                                         build, http, parse))
            .Print();
    }
}

}  // namespace

int main(int argc, char** argv) {
    // The client's log goes to a folder of its own (no "." in the path).
    char folder[] = "/tmp/marl_simulator_bench_XXXXXX";
    if (mkdtemp(folder)) marl::platform::SetInstallFolder(folder);
    benchmark::Initialize(&argc, argv);
    marl::bench::FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintFigures(reporter);
    return 0;
}
