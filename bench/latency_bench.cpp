// The array exchange and the provider's lifecycle over a link with latency:
// the loopback relay (testbed/latency_relay) sits between the provider and a
// private simulator on 127.0.0.1 and delays each direction by half the round
// trip, its connect to the simulator by a whole one, as a TCP handshake would.
//
// - Round trips per exchange: SendArrayRequest (login, vol_show, logout over
//   HTTPS) at a 20 ms round trip, the wall time per exchange divided by the
//   round trip. The protocol cannot do with fewer than the TCP connect, the
//   TLS handshake (one round trip with TLS 1.3, two with TLS 1.2), the login
//   and the command: the logout is sent and its reply not awaited. Goal: at
//   most that floor, for the TLS version the simulator negotiates with this
//   build's libcurl, plus 0.2. The relay's connection count per exchange is
//   printed beside it (one connection per exchange is what the array expects).
// - A shadow copy of 8 LUNs in 2 consistency groups (AreLunsSupported to
//   LocateLuns, then OnLunEmpty for each snapshot LUN) at 0 (no relay), 2, 20
//   and 50 ms round trip, with its exchanges and its wall time in round trips
//   per exchange, the share the round trips explain.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "CurlBenchmarkMain.h"
#include "Figures.h"
#include "HarnessSession.h"
#include "RedirectingHttpClient.h"
#include "SimulatorLink.h"
#include "SimulatorSettings.h"
#include "common/QVssLog.h"
#include "platform/install_folder.h"
#include "provider/CQProvider.h"
#include "provider/array/ArrayTransport.h"
#include "provider/array/ResponseEnvelope.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kExchangeDelayMs = 10;  // a 20 ms round trip
constexpr int kExchangesPerRun = 20;
constexpr double kFloorSlack = 0.2;

using Environment = marl::bench::SimulatorEnvironment;
using Link = marl::bench::SimulatorLink;

// The transport alone logs only once a log file is open: at INFO, in the
// environment's installation folder.
void OpenInfoLog() {
    CQLogger::getInstance()->OpenLogFile(marl::platform::InstallFolder() + "marl_vss_log.txt");
    CQLogger::getInstance()->SetLogLevel("PROVIDER", QLOG_INFO);
}

// ---- round trips per exchange ----

// What one TLS connection of libcurl to the simulator negotiates: the
// version this build's backend gets, since it uses the same library with
// its default protocol range.
std::string NegotiatedTlsVersion() {
    struct Probe {
        CURL* easy;
        std::string version;
    } probe{curl_easy_init(), ""};
    auto onHeader = [](char*, size_t size, size_t count, void* p) -> size_t {
        Probe* probe = static_cast<Probe*>(p);
        curl_tlssessioninfo* info = nullptr;
        if (probe->version.empty() &&
            curl_easy_getinfo(probe->easy, CURLINFO_TLS_SSL_PTR, &info) == CURLE_OK && info &&
            info->backend == CURLSSLBACKEND_OPENSSL && info->internals) {
            probe->version = SSL_get_version(static_cast<SSL*>(info->internals));
        }
        return size * count;
    };
    std::string url =
        "https://127.0.0.1:" + std::to_string(Environment::Get().HttpsPort()) + "/logout/";
    curl_easy_setopt(probe.easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(probe.easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(probe.easy, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(probe.easy, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(probe.easy, CURLOPT_HEADERFUNCTION,
                     static_cast<size_t (*)(char*, size_t, size_t, void*)>(onHeader));
    curl_easy_setopt(probe.easy, CURLOPT_HEADERDATA, &probe);
    curl_easy_setopt(probe.easy, CURLOPT_WRITEFUNCTION,
                     static_cast<size_t (*)(char*, size_t, size_t, void*)>(
                         [](char*, size_t size, size_t count, void*) { return size * count; }));
    curl_easy_perform(probe.easy);
    curl_easy_cleanup(probe.easy);
    return probe.version;
}

// Round trips the protocol cannot do without over HTTPS: connect, the
// handshake's, login and command.
double FloorRoundTrips(const std::string& tlsVersion) { return tlsVersion == "TLSv1.3" ? 4 : 5; }

struct RoundTripFigures {
    std::vector<double> perExchange;
    std::vector<double> connectionsPerExchange;
    std::vector<double> msWithoutLatency;  // one exchange straight to the simulator
};
RoundTripFigures g_roundTrips;

void BM_RoundTripsPerExchange(benchmark::State& state) {
    Environment& env = Environment::Get();
    if (!env.Ready()) return state.SkipWithError(env.Error().c_str());
    Link link(2 * kExchangeDelayMs);
    if (!link.Ready()) return state.SkipWithError(link.Error().c_str());
    Link direct(0);
    OpenInfoLog();
    const ProviderSettings settings = marl::bench::SimulatorSettings();
    marl::array::ArrayTransport far(settings, marl::harness::RedirectingFactory({link.Port(), 0}),
                                    marl::array::CheckLoginReply);
    marl::array::ArrayTransport near(settings,
                                     marl::harness::RedirectingFactory({direct.Port(), 0}),
                                     marl::array::CheckLoginReply);
    // Microseconds per exchange of `transport`; negative when one failed.
    auto timeExchanges = [](marl::array::ArrayTransport& transport) {
        std::string reply;
        Clock::time_point start = Clock::now();
        for (int i = 0; i < kExchangesPerRun; ++i) {
            if (transport.SendArrayRequest(L"vol_show", L"", reply) != 0) return -1.0;
        }
        return std::chrono::duration<double, std::micro>(Clock::now() - start).count() /
               kExchangesPerRun;
    };
    for (auto _ : state) {
        env.Sim().ClearJournal();
        uint64_t connections = link.Connections();
        const double micros = timeExchanges(far);
        // The same exchanges without latency, in turns with those that pay
        // it: what an exchange costs the two ends' processors.
        const double nearMicros = timeExchanges(near);
        if (micros < 0 || nearMicros < 0) return state.SkipWithError("an exchange failed");
        g_roundTrips.perExchange.push_back(micros / (2e3 * kExchangeDelayMs));
        g_roundTrips.msWithoutLatency.push_back(nearMicros / 1000);
        g_roundTrips.connectionsPerExchange.push_back(
            static_cast<double>(link.Connections() - connections) / kExchangesPerRun);
    }
}
BENCHMARK(BM_RoundTripsPerExchange)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// ---- the lifecycle ----

struct LifecycleFigures {
    std::vector<double> wallMillis;
    size_t exchanges = 0;
};
std::map<int, LifecycleFigures> g_lifecycles;  // by round trip in ms

// state.range(0): the round trip in ms.
void BM_Lifecycle8Luns2Groups(benchmark::State& state) {
    Environment& env = Environment::Get();
    if (!env.Ready()) return state.SkipWithError(env.Error().c_str());
    const int roundTripMs = static_cast<int>(state.range(0));
    Link link(roundTripMs);
    if (!link.Ready()) return state.SkipWithError(link.Error().c_str());
    const std::vector<std::string> serials = marl::bench::GeneratedSerials(8);
    std::ostream quiet(nullptr);
    for (auto _ : state) {
        state.PauseTiming();
        env.Sim().Generate(8, 0, 0);  // 2 groups of 4 volumes
        CQProvider provider(marl::harness::RedirectingFactory({link.Port(), 0}));
        marl::harness::HarnessSession session(provider, quiet);
        marl::harness::ExchangeTally before = marl::harness::RedirectedExchanges();
        state.ResumeTiming();
        Clock::time_point start = Clock::now();
        bool ok = session.Create(serials, "MARL") && session.Delete();
        double wall = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (!ok) return state.SkipWithError("the lifecycle failed");
        LifecycleFigures& figures = g_lifecycles[roundTripMs];
        figures.wallMillis.push_back(wall);
        figures.exchanges = marl::harness::RedirectedExchanges().sessions - before.sessions;
    }
}
BENCHMARK(BM_Lifecycle8Luns2Groups)
    ->ArgName("rtt_ms")
    ->Arg(0)
    ->Arg(2)
    ->Arg(20)
    ->Arg(50)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

// ---- the commit ----

// VSS holds the source volumes' writes while CommitSnapshots runs, for at
// most this long.
constexpr double kCommitHoldLimitMs = 10000;
constexpr size_t kVolumesPerGroup = 4;  // the generated inventory's groups

std::map<int, std::vector<double>> g_commitMillis;  // by groups

// A set of every volume of `groups` groups, prepared and pre-committed; only
// CommitSnapshots is timed. state.range(0): the groups.
void BM_CommitAt20Ms(benchmark::State& state) {
    Environment& env = Environment::Get();
    if (!env.Ready()) return state.SkipWithError(env.Error().c_str());
    const int groups = static_cast<int>(state.range(0));
    Link link(2 * kExchangeDelayMs);
    if (!link.Ready()) return state.SkipWithError(link.Error().c_str());
    const std::vector<std::string> serials =
        marl::bench::GeneratedSerials(kVolumesPerGroup * static_cast<size_t>(groups));
    const VSS_ID setId{0x5e7, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    const VSS_ID snapshotId{0x5e7, 2, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    for (auto _ : state) {
        state.PauseTiming();
        env.Sim().Generate(serials.size(), 0, 0);
        CQProvider provider(marl::harness::RedirectingFactory({link.Port(), 0}));
        marl::harness::LunSet luns = marl::harness::LunSet::FromSerials(serials, "MARL");
        BOOL supported = FALSE;
        bool ready =
            provider.AreLunsSupported(luns.Count(), 0, nullptr, luns.Data(), &supported) == S_OK &&
            supported &&
            provider.BeginPrepareSnapshot(setId, snapshotId, 0, luns.Count(), nullptr,
                                          luns.Data()) == S_OK &&
            provider.EndPrepareSnapshots(setId) == S_OK &&
            provider.PreCommitSnapshots(setId) == S_OK;
        if (!ready) return state.SkipWithError("the set could not be prepared");
        state.ResumeTiming();
        Clock::time_point start = Clock::now();
        HRESULT committed = provider.CommitSnapshots(setId);
        double wall = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (committed != S_OK) return state.SkipWithError("CommitSnapshots failed");
        g_commitMillis[groups].push_back(wall);
    }
}
BENCHMARK(BM_CommitAt20Ms)
    ->ArgName("groups")
    ->Arg(1)
    ->Arg(8)
    ->Arg(32)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

// ---- summary ----

void PrintSummary() {
    using marl::bench::Figure;
    using marl::bench::Format;
    using marl::bench::Median;
    std::string tls = Environment::Get().Ready() ? NegotiatedTlsVersion() : "";
    std::printf(
        "\nRound trips per exchange over HTTPS (login, vol_show, logout), %d ms round "
        "trip:\n",
        2 * kExchangeDelayMs);
    if (g_roundTrips.perExchange.empty() || tls.empty()) {
        marl::bench::PrintNotMeasured("  round trips per exchange");
    } else {
        const double floor = FloorRoundTrips(tls);
        std::printf("  TLS version negotiated: %s (floor %.0f round trips)\n", tls.c_str(), floor);
        Figure("  round trips per exchange", Median(g_roundTrips.perExchange), "", 2)
            .Spread(g_roundTrips.perExchange)
            .Context(Format("%.2f connections per exchange; the floor + %.1f; an exchange "
                            "without latency takes %.2f ms, %.2f of these round trips",
                            Median(g_roundTrips.connectionsPerExchange), kFloorSlack,
                            Median(g_roundTrips.msWithoutLatency),
                            Median(g_roundTrips.msWithoutLatency) / (2.0 * kExchangeDelayMs)))
            .AtMost(floor + kFloorSlack)
            .Print();
    }
    std::printf(
        "Time inside CommitSnapshots at %d ms round trip (VSS holds the writes for at "
        "most %.0f s):\n",
        2 * kExchangeDelayMs, kCommitHoldLimitMs / 1000);
    for (const auto& [groups, millis] : g_commitMillis) {
        const double worst = marl::bench::Max(millis);
        Figure(Format("  %2d groups (%3zu LUNs), the slowest", groups,
                      kVolumesPerGroup * static_cast<size_t>(groups)),
               worst, "ms", 1)
            .Spread(millis)
            .Context(Format("median %.1f ms, margin %.1f s", Median(millis),
                            (kCommitHoldLimitMs - worst) / 1000))
            .Below(kCommitHoldLimitMs)
            .Print();
    }
    std::printf("Shadow copy of 8 LUNs in 2 groups (create and delete), by round trip:\n");
    for (const auto& [roundTripMs, f] : g_lifecycles) {
        const double wall = Median(f.wallMillis);
        Figure figure(Format("  %2d ms", roundTripMs), wall, "ms", 1);
        std::string context = Format("%zu exchanges", f.exchanges);
        if (roundTripMs > 0 && f.exchanges > 0)
            context += Format(", %.2f round trips per exchange", wall / f.exchanges / roundTripMs);
        figure.Spread(f.wallMillis).Context(context).Print();
    }
}

}  // namespace

int main(int argc, char** argv) { return marl::bench::RunCurlBenchmarks(argc, argv, PrintSummary); }
