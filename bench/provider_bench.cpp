// The provider object against a private simulator on 127.0.0.1 (HTTPS):
//
// - a whole shadow copy of 8 LUNs in 2 consistency groups (AreLunsSupported
//   to LocateLuns, then OnLunEmpty for each snapshot LUN): the number of array
//   exchanges the simulator's journal shows beside the number the provider's
//   algorithms call for, and the provider's own time beyond its exchanges as
//   a share of the lifecycle (goal <= 5%);
// - LocateLuns with 1,000 volume snapshots on the array, none of which holds
//   the LUN asked for: the snapshot listing and the listing of every volume
//   snapshot's serials (2 exchanges, both replies read whole), beside the
//   same 2 requests sent alone, the two timed in turns (goal <= 1.1x, with
//   the spread of the repetitions).
//
// The exchange time is measured around each HTTP session (the harness's
// redirecting client), so the provider's own time is everything else: the
// VSS methods, the parsers, the lists, and the log lines outside exchanges.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "Figures.h"
#include "HarnessSession.h"
#include "InTurns.h"
#include "RedirectingHttpClient.h"
#include "SimulatorEnvironment.h"
#include "common/QVssLog.h"
#include "provider/CQProvider.h"

namespace {

using Clock = std::chrono::steady_clock;
using marl::harness::RedirectedExchanges;

using Environment = marl::bench::SimulatorEnvironment;
using marl::bench::Commands;
using marl::bench::GeneratedSerials;

struct LifecycleFigures {
    double wallMicros = 0;
    double exchangeMicros = 0;
    size_t journal = 0;
    size_t required = 0;
    int runs = 0;
};
LifecycleFigures g_lifecycle;

// What the provider's algorithms call for with L LUNs in G groups:
// AreLunsSupported 1, BeginPrepareSnapshot 2, PreCommitSnapshots G + 1,
// CommitSnapshots 1, GetTargetLuns 1 + L, LocateLuns 2 + L + 1 + G (the two
// listings, the volume snapshot of each LUN, the host-group question, a
// mapping per group snapshot), OnLunEmpty L.
size_t RequiredExchanges(size_t luns, size_t groups) {
    return 1 + 2 + (groups + 1) + 1 + (1 + luns) + (2 + luns + 1 + groups) + luns;
}

void BM_Lifecycle8Luns2Groups(benchmark::State& state) {
    Environment& env = Environment::Get();
    if (!env.Ready()) return state.SkipWithError(env.Error().c_str());
    const std::vector<std::string> serials = GeneratedSerials(8);
    std::ostream quiet(nullptr);
    for (auto _ : state) {
        state.PauseTiming();
        env.Sim().Generate(8, 0, 0);  // 2 groups of 4 volumes
        std::unique_ptr<CQProvider> provider = env.NewProvider();
        marl::harness::HarnessSession session(*provider, quiet);
        marl::harness::ExchangeTally before = RedirectedExchanges();
        state.ResumeTiming();
        Clock::time_point start = Clock::now();
        bool ok = session.Create(serials, "MARL") && session.Delete();
        double wall = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        state.PauseTiming();
        if (!ok) return state.SkipWithError("the lifecycle failed");
        marl::harness::ExchangeTally after = RedirectedExchanges();
        g_lifecycle.wallMicros += wall;
        g_lifecycle.exchangeMicros += static_cast<double>(after.micros - before.micros);
        g_lifecycle.journal = Commands(env.Sim());
        g_lifecycle.required = RequiredExchanges(8, 2);
        ++g_lifecycle.runs;
        provider.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Lifecycle8Luns2Groups)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

struct LocateFigures {
    size_t locateExchanges = 0;
    size_t singleExchanges = 0;
};
LocateFigures g_locate;

// The same requests LocateLuns makes (the full snapshot listing, then the
// serials of every volume snapshot), as commands and argument texts.
std::vector<std::pair<std::wstring, std::wstring>> SingleRequests() {
    const marl::array::ArgPair listing[] = {{L"full", L"true"}};
    return {{L"snapshot_show", marl::array::CQArrayClient::BuildArgs(1, listing)},
            {L"volsnap_show", L""}};
}

// In turns: LocateLuns with 1,000 volume snapshots on the array (the LUN
// asked for is not among them, so it reads both listings whole, asks for no
// volume snapshot by name and maps nothing), then the floor: the same
// requests sent one by one with nothing done with the replies.
constexpr int kLocateTurns = 2;

void BM_LocateLunsAndSingleExchangesInTurns(benchmark::State& state) {
    Environment& env = Environment::Get();
    if (!env.Ready()) return state.SkipWithError(env.Error().c_str());
    env.Sim().Generate(4, 250, 0);  // one group of 4 volumes, 250 snapshots of it
    std::unique_ptr<CQProvider> provider = env.NewProvider();
    marl::harness::LunSet luns = marl::harness::LunSet::FromSerials({"6001405fffffff"}, "MARL");
    const auto requests = SingleRequests();
    marl::bench::TurnTimes times;
    for (auto _ : state) {
        state.PauseTiming();
        env.Sim().ClearJournal();
        state.ResumeTiming();
        marl::bench::TimeSide(times.wallA, times.cpuA,
                              [&] { provider->LocateLuns(luns.Count(), luns.Data()); });
        state.PauseTiming();
        g_locate.locateExchanges = Commands(env.Sim());
        env.Sim().ClearJournal();
        state.ResumeTiming();
        marl::bench::TimeSide(times.wallB, times.cpuB, [&] {
            for (const auto& [command, args] : requests) {
                std::string reply;
                provider->Array().SendArrayRequest(command, args, reply);
            }
        });
        ++times.turns;
        state.PauseTiming();
        g_locate.singleExchanges = Commands(env.Sim());
        state.ResumeTiming();
    }
    marl::bench::TurnRatios::Get().Add("locate", times, kLocateTurns);
}
BENCHMARK(BM_LocateLunsAndSingleExchangesInTurns)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kLocateTurns)
    ->UseRealTime();

void PrintFigures() {
    using marl::bench::Figure;
    using marl::bench::Format;
    std::printf("\nLifecycle of 8 LUNs in 2 groups (create, locate, delete), %d runs:\n",
                g_lifecycle.runs);
    if (g_lifecycle.runs > 0) {
        const double wall = g_lifecycle.wallMicros / g_lifecycle.runs / 1000;
        const double exchanges = g_lifecycle.exchangeMicros / g_lifecycle.runs / 1000;
        const double own = wall - exchanges;
        Figure("  array exchanges in the journal", static_cast<double>(g_lifecycle.journal), "", 0)
            .Context(Format("%zu required: %s", g_lifecycle.required,
                            g_lifecycle.journal == g_lifecycle.required ? "equal" : "DIFFER"))
            .Print();
        Figure("  provider's own time", 100 * own / wall, "%", 2)
            .Context(Format("lifecycle %.1f ms, in exchanges %.1f ms, own %.2f ms", wall, exchanges,
                            own))
            .AtMost(5)
            .Print();
    }
    Figure("LocateLuns with 1,000 volume snapshots on the array, exchanges",
           static_cast<double>(g_locate.locateExchanges), "", 0)
        .Context(Format("the floor: %zu", g_locate.singleExchanges))
        .Print();
    marl::bench::TurnRatios::Get().Print("LocateLuns / the same requests sent alone, in turns",
                                         "locate", 1.1, /*judgeOnCpu=*/false, 1000.0, "ms");
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintFigures();
    return 0;
}
