// A shadow copy and a resync of 4 LUNs against arrays that keep many
// snapshots, on a private simulator on 127.0.0.1 (HTTPS):
//
// - the inventory: 400 generated volumes in groups of 4, with 0, 100 and
//   1,000 retained snapshots spread round-robin over the groups (each with a
//   volume snapshot per volume), so that the set's own group keeps some of
//   them from 100 on;
// - the set: the 4 volumes of the first group. A shadow copy is the whole
//   lifecycle the harness plays (AreLunsSupported to LocateLuns, then
//   OnLunEmpty for each snapshot LUN); the resync (ResyncLuns of the snapshot
//   LUNs onto their sources, then the async object) runs before the deletion,
//   while the snapshot LUNs exist. Its figures are those of ResyncLuns: the
//   async object's Wait is a fixed pause of the provider's, which would hide
//   how the call itself grows;
// - two round trips: 0 ms (straight to the simulator) and 20 ms (through a
//   latency relay in this process that delays each direction by 10 ms), as
//   an array on the network would make every connect, TLS handshake and
//   request pay.
//
// Each cell's figures: wall time, array exchanges (commands sent, counted by
// the redirecting client and checked against the simulator's journal),
// connects (and the relay's connections), and the exchanges of LocateLuns and
// of ResyncLuns alone. The goals, at 20 ms: a shadow copy and a resync at
// 1,000 retained snapshots take at most 1.2x their time at 0, and LocateLuns
// and ResyncLuns each send at most the LUNs + a handful (6: the listings and
// the mapping or the restore) exchanges there, and none more than with no
// retained snapshots; a look-up that reads every retained snapshot misses
// them by far.
//
// A cell makes up to 3 runs (the median is shown) and no further one once
// its runs have taken 20 s, so that a cell of minutes runs once; its own
// runs replace the framework's repetitions. MARL_SCALE_BENCH_MAX_SNAPSHOTS
// leaves out the cells with more retained snapshots. While a step runs, the
// exchanges so far go to stderr every 10 s.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "Figures.h"
#include "HarnessSession.h"
#include "ProviderCalls.h"
#include "RedirectingHttpClient.h"
#include "SimulatorEnvironment.h"
#include "SimulatorLink.h"

namespace {

using Clock = std::chrono::steady_clock;
using marl::harness::ExchangeTally;
using marl::harness::RedirectedExchanges;

constexpr size_t kLuns = 4;  // the generator's group size
constexpr size_t kVolumes = 400;
constexpr size_t kSnapshotCounts[] = {0, 100, 1000};
constexpr int kRoundTripsMs[] = {0, 20};
constexpr int kJudgedRoundTripMs = 20;
constexpr size_t kJudgedSnapshots = 1000;
constexpr double kTimeGoal = 1.2;
constexpr size_t kHandful = 6;
constexpr size_t kExchangeGoal = kLuns + kHandful;
constexpr size_t kMaxRuns = 3;
constexpr double kRunsBudgetSeconds = 20;
constexpr auto kProgressEvery = std::chrono::seconds(10);

ExchangeTally Since(const ExchangeTally& before) {
    const ExchangeTally now = RedirectedExchanges();
    return {now.sessions - before.sessions, now.micros - before.micros,
            now.commands - before.commands, now.connections - before.connections};
}

void Add(ExchangeTally& sum, const ExchangeTally& more) {
    sum.sessions += more.sessions;
    sum.micros += more.micros;
    sum.commands += more.commands;
    sum.connections += more.connections;
}

// The relay in front of the simulator's HTTPS port, started on first use and
// kept for the program's life.
marl::bench::SimulatorLink& Relay() {
    static marl::bench::SimulatorLink relay(kJudgedRoundTripMs);
    return relay;
}

// What one part of a run cost: its wall time, the array exchanges and
// connects the provider made, and the connections the relay accepted.
struct Step {
    double ms = 0;
    ExchangeTally tally;
    uint64_t relayConnections = 0;
};

uint64_t RelayConnections(bool relayed) { return relayed ? Relay().Connections() : 0; }

// Runs `f` and adds what it cost to `into`; returns what `f` returned.
template <typename F>
auto Measure(Step& into, bool relayed, F&& f) -> decltype(f()) {
    const ExchangeTally before = RedirectedExchanges();
    const uint64_t relayBefore = RelayConnections(relayed);
    const Clock::time_point start = Clock::now();
    auto result = f();
    into.ms += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    Add(into.tally, Since(before));
    into.relayConnections += RelayConnections(relayed) - relayBefore;
    return result;
}

// The calls passed on to a provider object unchanged, LocateLuns and
// ResyncLuns measured apart from the rest of the lifecycle (the resync's
// other calls are the async object's, whose Wait is a fixed pause of the
// provider's with no exchange).
class MeasuringCalls final : public marl::harness::ProviderCalls {
  public:
    MeasuringCalls(CQProvider& provider, bool relayed, Step& locate, Step& resync)
        : m_inner(provider), m_relayed(relayed), m_locate(locate), m_resync(resync) {}

    HRESULT LocateLuns(LONG count, VDS_LUN_INFORMATION* luns) override {
        return Measure(m_locate, m_relayed, [&] { return m_inner.LocateLuns(count, luns); });
    }
    HRESULT ResyncLuns(VDS_LUN_INFORMATION* snapshots, VDS_LUN_INFORMATION* destinations,
                       DWORD count, IVssAsync** async) override {
        return Measure(m_resync, m_relayed,
                       [&] { return m_inner.ResyncLuns(snapshots, destinations, count, async); });
    }

    HRESULT AreLunsSupported(LONG count, VDS_LUN_INFORMATION* luns, BOOL* supported) override {
        return m_inner.AreLunsSupported(count, luns, supported);
    }
    HRESULT FillInLunInfo(VDS_LUN_INFORMATION* lun, BOOL* supported) override {
        return m_inner.FillInLunInfo(lun, supported);
    }
    HRESULT BeginPrepareSnapshot(const VSS_ID& setId, const VSS_ID& snapshotId, LONG count,
                                 VDS_LUN_INFORMATION* luns) override {
        return m_inner.BeginPrepareSnapshot(setId, snapshotId, count, luns);
    }
    HRESULT GetTargetLuns(LONG count, VDS_LUN_INFORMATION* sources,
                          VDS_LUN_INFORMATION* targets) override {
        return m_inner.GetTargetLuns(count, sources, targets);
    }
    HRESULT OnLunEmpty(VDS_LUN_INFORMATION* lun) override { return m_inner.OnLunEmpty(lun); }
    HRESULT OnLunStateChange(VDS_LUN_INFORMATION* snapshots, VDS_LUN_INFORMATION* originals,
                             DWORD count, DWORD flags) override {
        return m_inner.OnLunStateChange(snapshots, originals, count, flags);
    }
    HRESULT EndPrepareSnapshots(const VSS_ID& id) override {
        return m_inner.EndPrepareSnapshots(id);
    }
    HRESULT PreCommitSnapshots(const VSS_ID& id) override { return m_inner.PreCommitSnapshots(id); }
    HRESULT CommitSnapshots(const VSS_ID& id) override { return m_inner.CommitSnapshots(id); }
    HRESULT PostCommitSnapshots(const VSS_ID& id, LONG count) override {
        return m_inner.PostCommitSnapshots(id, count);
    }
    HRESULT PreFinalCommitSnapshots(const VSS_ID& id) override {
        return m_inner.PreFinalCommitSnapshots(id);
    }
    HRESULT PostFinalCommitSnapshots(const VSS_ID& id) override {
        return m_inner.PostFinalCommitSnapshots(id);
    }
    HRESULT AbortSnapshots(const VSS_ID& id) override { return m_inner.AbortSnapshots(id); }

  private:
    marl::harness::DirectCalls m_inner;
    bool m_relayed;
    Step& m_locate;
    Step& m_resync;
};

// Prints the exchanges a step has made so far every kProgressEvery on
// stderr, until it is destroyed.
class Progress {
  public:
    explicit Progress(std::string step) : m_step(std::move(step)), m_thread([this] { Loop(); }) {}
    ~Progress() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

  private:
    void Loop() {
        const ExchangeTally start = RedirectedExchanges();
        const Clock::time_point began = Clock::now();
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_wake.wait_for(lock, kProgressEvery, [this] { return m_stop; })) {
            std::fprintf(stderr, "    ... %s: %llu exchanges in %.0f s\n", m_step.c_str(),
                         static_cast<unsigned long long>(Since(start).commands),
                         std::chrono::duration<double>(Clock::now() - began).count());
        }
    }

    std::string m_step;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;  // last: started once the rest is in place
};

struct RunFigures {
    Step copy;          // creation and deletion
    Step locate;        // LocateLuns, within the creation
    Step resync;        // ResyncLuns
    uint64_t sent = 0;  // commands of the whole run, the async object's included
    size_t journal = 0;
};

struct Cell {
    size_t snapshots = 0;
    int roundTripMs = 0;
    bool selected = false;  // left out by MARL_SCALE_BENCH_MAX_SNAPSHOTS when false
    std::vector<RunFigures> runs;
    std::string error;
};

std::vector<Cell> g_cells;
std::string g_maxSnapshotsText;  // the variable's value, when set

// Runs one step of the session, with its progress on stderr.
bool RunStep(Step& into, bool relayed, const char* name, const std::function<bool()>& step) {
    std::fprintf(stderr, "  %s\n", name);
    Progress progress(name);
    return Measure(into, relayed, step);
}

std::string FirstFailure(const marl::harness::HarnessSession& session) {
    for (const marl::harness::CallRecord& call : session.Calls())
        if (!call.asExpected) return call.call + " -> " + marl::harness::ResultText(call.result);
    return "the array could not be set up";
}

// One shadow copy with a resync on a fresh inventory; false with `error`.
bool RunOnce(const Cell& cell, RunFigures& run, std::string& error) {
    marl::bench::SimulatorEnvironment& env = marl::bench::SimulatorEnvironment::Get();
    if (!env.Sim().Generate(kVolumes, cell.snapshots, 0)) {
        error = "Generate: " + env.Sim().LastError();
        return false;
    }
    const bool relayed = cell.roundTripMs > 0;
    std::unique_ptr<CQProvider> provider =
        env.NewProvider(relayed ? Relay().Port() : env.HttpsPort());
    MeasuringCalls calls(*provider, relayed, run.locate, run.resync);
    std::ostream quiet(nullptr);
    marl::harness::HarnessSession session(calls, quiet);
    const std::vector<std::string> serials = marl::bench::GeneratedSerials(kLuns);
    Step resyncStep;  // ResyncLuns and the async object
    const ExchangeTally before = RedirectedExchanges();
    const bool ok = RunStep(run.copy, relayed, "shadow copy",
                            [&] { return session.Create(serials, "MARL"); }) &&
                    RunStep(resyncStep, relayed, "resync", [&] { return session.Resync(); }) &&
                    RunStep(run.copy, relayed, "deletion", [&] { return session.Delete(); });
    if (!ok) {
        error = FirstFailure(session);
        return false;
    }
    run.sent = Since(before).commands;
    run.journal = marl::bench::Commands(env.Sim());
    return true;
}

double MedianMs(const Cell& cell, Step RunFigures::*step) {
    std::vector<double> ms;
    for (const RunFigures& run : cell.runs) ms.push_back((run.*step).ms);
    return marl::bench::Median(ms);
}

void BM_ShadowCopyAndResync(benchmark::State& state, Cell* cell) {
    marl::bench::SimulatorEnvironment& env = marl::bench::SimulatorEnvironment::Get();
    if (!env.Ready()) return state.SkipWithError(env.Error().c_str());
    if (cell->roundTripMs > 0 && !Relay().Ready())
        return state.SkipWithError(("relay: " + Relay().Error()).c_str());
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        for (size_t i = 0; i < kMaxRuns; ++i) {
            std::fprintf(stderr, "%zu retained snapshots, %d ms round trip, run %zu:\n",
                         cell->snapshots, cell->roundTripMs, i + 1);
            RunFigures run;
            if (!RunOnce(*cell, run, cell->error)) {
                cell->runs.clear();
                return state.SkipWithError(cell->error.c_str());
            }
            cell->runs.push_back(run);
            if (std::chrono::duration<double>(Clock::now() - start).count() > kRunsBudgetSeconds)
                break;
        }
        state.SetIterationTime(MedianMs(*cell, &RunFigures::copy) / 1000);
    }
    const RunFigures& last = cell->runs.back();
    state.counters["runs"] = static_cast<double>(cell->runs.size());
    state.counters["exchanges"] = static_cast<double>(last.copy.tally.commands);
    state.counters["LocateLuns_x"] = static_cast<double>(last.locate.tally.commands);
    state.counters["ResyncLuns_ms"] = MedianMs(*cell, &RunFigures::resync);
    state.counters["ResyncLuns_x"] = static_cast<double>(last.resync.tally.commands);
}

// Every cell, those above MARL_SCALE_BENCH_MAX_SNAPSHOTS marked as left out.
void MakeCells() {
    const char* max = std::getenv("MARL_SCALE_BENCH_MAX_SNAPSHOTS");
    if (max != nullptr) g_maxSnapshotsText = max;
    const size_t limit = max != nullptr ? std::strtoull(max, nullptr, 10) : kJudgedSnapshots;
    for (size_t snapshots : kSnapshotCounts)
        for (int rtt : kRoundTripsMs) {
            Cell cell;
            cell.snapshots = snapshots;
            cell.roundTripMs = rtt;
            cell.selected = snapshots <= limit;
            g_cells.push_back(cell);
        }
}

void RegisterCells() {
    for (Cell& cell : g_cells) {
        if (!cell.selected) continue;
        const std::string name =
            "ShadowCopyAndResync4Luns/snapshots:" + std::to_string(cell.snapshots) +
            "/rtt_ms:" + std::to_string(cell.roundTripMs);
        benchmark::RegisterBenchmark(name.c_str(), BM_ShadowCopyAndResync, &cell)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1)
            ->Repetitions(1)
            ->UseManualTime();
    }
}

const Cell* Measured(size_t snapshots, int roundTripMs) {
    for (const Cell& cell : g_cells)
        if (cell.snapshots == snapshots && cell.roundTripMs == roundTripMs && !cell.runs.empty())
            return &cell;
    return nullptr;
}

void PrintStep(const Step& step, bool relayed) {
    std::printf(" %10.1f %9llu %8llu", step.ms,
                static_cast<unsigned long long>(step.tally.commands),
                static_cast<unsigned long long>(step.tally.connections));
    if (relayed)
        std::printf(" %6llu |", static_cast<unsigned long long>(step.relayConnections));
    else
        std::printf(" %6s |", "-");
}

std::string WhyNotMeasured(const Cell& cell) {
    if (!cell.selected) return "left out (MARL_SCALE_BENCH_MAX_SNAPSHOTS)";
    if (!cell.error.empty()) return "failed: " + cell.error;
    return "not measured in this run";
}

// A step's counts with the median time of the cell's runs.
Step MedianStep(const Cell& cell, Step RunFigures::*step) {
    Step median = cell.runs.back().*step;
    median.ms = MedianMs(cell, step);
    return median;
}

void PrintRow(const Cell& cell) {
    std::printf("%9zu %6d", cell.snapshots, cell.roundTripMs);
    if (cell.runs.empty()) {
        std::printf("  %s\n", WhyNotMeasured(cell).c_str());
        return;
    }
    const RunFigures& last = cell.runs.back();
    const bool relayed = cell.roundTripMs > 0;
    std::printf(" %4zu |", cell.runs.size());
    PrintStep(MedianStep(cell, &RunFigures::copy), relayed);
    const Step locate = MedianStep(cell, &RunFigures::locate);
    std::printf(" %10.1f %9llu |", locate.ms,
                static_cast<unsigned long long>(locate.tally.commands));
    PrintStep(MedianStep(cell, &RunFigures::resync), relayed);
    std::printf(" %7zu %s\n", last.journal, last.journal == last.sent ? "equal" : "DIFFER");
}

void PrintTimeGoal(const char* what, Step RunFigures::*step) {
    const Cell* many = Measured(kJudgedSnapshots, kJudgedRoundTripMs);
    const Cell* none = Measured(0, kJudgedRoundTripMs);
    const std::string name =
        marl::bench::Format("%s at %zu retained snapshots against 0, %d ms round trip", what,
                            kJudgedSnapshots, kJudgedRoundTripMs);
    if (many == nullptr || none == nullptr) return marl::bench::PrintNotMeasured(name);
    const double a = MedianMs(*many, step), b = MedianMs(*none, step);
    marl::bench::Figure(name, a / b, "x", 2)
        .Context(marl::bench::Format("%.1f ms against %.1f ms", a, b))
        .AtMost(kTimeGoal)
        .Print();
}

void PrintExchangeGoal(const char* call, Step RunFigures::*step) {
    const Cell* many = Measured(kJudgedSnapshots, kJudgedRoundTripMs);
    const Cell* none = Measured(0, kJudgedRoundTripMs);
    const std::string name =
        marl::bench::Format("%s exchanges at %zu retained snapshots, %d ms round trip", call,
                            kJudgedSnapshots, kJudgedRoundTripMs);
    const std::string growth =
        marl::bench::Format("%s exchanges added by %zu retained snapshots", call, kJudgedSnapshots);
    if (many == nullptr || none == nullptr) {
        marl::bench::PrintNotMeasured(name);
        return marl::bench::PrintNotMeasured(growth);
    }
    const uint64_t n = (many->runs.back().*step).tally.commands;
    const uint64_t n0 = (none->runs.back().*step).tally.commands;
    marl::bench::Figure(name, static_cast<double>(n), "", 0)
        .Context(marl::bench::Format("the %zu LUNs + a handful (%zu) at most", kLuns, kHandful))
        .AtMost(static_cast<double>(kExchangeGoal))
        .Print();
    marl::bench::Figure(growth, static_cast<double>(n) - static_cast<double>(n0), "", 0)
        .Context(marl::bench::Format("%llu against %llu with none",
                                     static_cast<unsigned long long>(n),
                                     static_cast<unsigned long long>(n0)))
        .AtMost(0)
        .Print();
}

void PrintFigures() {
    std::printf(
        "\nA shadow copy of %zu LUNs (create to delete) and a resync of them, %zu volumes in "
        "groups of %zu, by retained snapshots and round trip; times are the median of the runs, "
        "counts those of the last run; \"relay\" is the relay's connections, \"journal\" the "
        "commands the simulator received in the run\n",
        kLuns, kVolumes, kLuns);
    std::printf("%21s | %-36s | %-20s | %-36s | %s\n", "", "shadow copy", "LocateLuns",
                "ResyncLuns", "all");
    std::printf("%9s %6s %4s | %10s %9s %8s %6s | %10s %9s | %10s %9s %8s %6s | %s\n", "snapshots",
                "rtt_ms", "runs", "ms", "exchanges", "connects", "relay", "ms", "exchanges", "ms",
                "exchanges", "connects", "relay", "journal");
    for (const Cell& cell : g_cells) PrintRow(cell);
    if (!g_maxSnapshotsText.empty())
        std::printf("(MARL_SCALE_BENCH_MAX_SNAPSHOTS=%s)\n", g_maxSnapshotsText.c_str());
    PrintTimeGoal("Shadow copy", &RunFigures::copy);
    PrintTimeGoal("Resync (ResyncLuns)", &RunFigures::resync);
    PrintExchangeGoal("LocateLuns", &RunFigures::locate);
    PrintExchangeGoal("ResyncLuns", &RunFigures::resync);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    MakeCells();
    RegisterCells();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintFigures();
    return 0;
}
