// The logger's cost per line against spdlog's basic_file_sink_mt flushing
// after every line of the same text. spdlog takes no lock between processes;
// our written line pays for the named mutex, the size check that follows
// other processes' rotations, the write and the flush.
//
// Prints the ratio written/spdlog measured in turns within one loop (goal: at
// most 1.2, judged on CPU time, with the spread of the repetitions), the
// figures of the two measured separately for context, and the cost of a
// suppressed DEBUG line (goal: at most 10 ns).
#include <benchmark/benchmark.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "FigureReporter.h"
#include "InTurns.h"
#include "common/QVssLog.h"

namespace {

namespace fs = std::filesystem;

// One folder for the run (its path holds no "."), removed at the end.
const fs::path& BenchFolder() {
    static const fs::path folder = [] {
        fs::path p = fs::temp_directory_path() /
                     ("marl_logger_bench_" + std::to_string(std::random_device()()));
        fs::create_directories(p);
        return p;
    }();
    return folder;
}

const char kFunction[] = "CQProvider::TakeSnap";
const char kUnit[] = "QProviderInterface";
const char kGroup[] = "cg_finance:VSS_fin_0305140709";

void WrittenInfoLine(benchmark::State& state) {
    CQLogger log;
    if (!log.OpenLogFile((BenchFolder() / "marl_vss_log.txt").string())) {
        state.SkipWithError("cannot open the log");
        return;
    }
    for (auto _ : state) {
        log.qm_vss_log(kFunction, kUnit, 968, "PROVIDER", QLOG_INFO, "TakeRegularSnap %s %d",
                       kGroup, 42);
    }
}
BENCHMARK(WrittenInfoLine)->Unit(benchmark::kNanosecond);

void SuppressedDebugLine(benchmark::State& state) {
    CQLogger log;
    log.OpenLogFile((BenchFolder() / "marl_vss_log.txt").string());
    for (auto _ : state) {
        log.qm_vss_log(kFunction, kUnit, 968, "PROVIDER", QLOG_DEBUG, "TakeRegularSnap %s %d",
                       kGroup, 42);
    }
}
BENCHMARK(SuppressedDebugLine)->Unit(benchmark::kNanosecond);

void SpdlogFlushedLine(benchmark::State& state) {
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(
        (BenchFolder() / "spdlog_log.txt").string(), true);
    spdlog::logger logger("bench", sink);
    logger.set_pattern(
        "[%Y/%m/%d-%H:%M:%S.%e][PROVIDER][%l][QProviderInterface:968][CQProvider::TakeSnap]"
        "[PID:0x%P][TID:0x%t]%v");
    logger.flush_on(spdlog::level::trace);
    for (auto _ : state) logger.info("TakeRegularSnap {} {}", kGroup, 42);
}
BENCHMARK(SpdlogFlushedLine)->Unit(benchmark::kNanosecond);

// The two in turns: a few lines of ours, then as many of spdlog's, over and
// over, each side timed by itself.
constexpr int kLinesPerTurn = 16;
constexpr int kTurns = 4000;

void WrittenAndSpdlogInTurns(benchmark::State& state) {
    CQLogger log;
    if (!log.OpenLogFile((BenchFolder() / "marl_vss_log_turns.txt").string())) {
        state.SkipWithError("cannot open the log");
        return;
    }
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(
        (BenchFolder() / "spdlog_log_turns.txt").string(), true);
    spdlog::logger logger("bench_turns", sink);
    logger.set_pattern(
        "[%Y/%m/%d-%H:%M:%S.%e][PROVIDER][%l][QProviderInterface:968][CQProvider::TakeSnap]"
        "[PID:0x%P][TID:0x%t]%v");
    logger.flush_on(spdlog::level::trace);
    marl::bench::TurnTimes times;
    for (auto _ : state) {
        marl::bench::TimeTurn(
            times,
            [&] {
                for (int i = 0; i < kLinesPerTurn; ++i)
                    log.qm_vss_log(kFunction, kUnit, 968, "PROVIDER", QLOG_INFO,
                                   "TakeRegularSnap %s %d", kGroup, 42);
            },
            [&] {
                for (int i = 0; i < kLinesPerTurn; ++i)
                    logger.info("TakeRegularSnap {} {}", kGroup, 42);
            });
    }
    marl::bench::TurnRatios::Get().Add("lines", times, kTurns);
}
BENCHMARK(WrittenAndSpdlogInTurns)->Unit(benchmark::kMillisecond)->Iterations(kTurns);

using marl::bench::Figure;
using marl::bench::FigureReporter;
using marl::bench::RunTimes;

// Both clocks: on a busy machine real time also counts the waits for a CPU,
// which CPU time leaves out.
void PrintFigures(const FigureReporter& r) {
    const RunTimes written = r.Median("WrittenInfoLine"), spdlog = r.Median("SpdlogFlushedLine");
    const RunTimes suppressed = r.Median("SuppressedDebugLine");
    if (written.real > 0 && spdlog.real > 0) {
        Figure("written INFO line", written.real, "ns real", 0)
            .Context(marl::bench::Format("%.0f ns CPU", written.cpu))
            .Print();
        Figure("spdlog flushed line", spdlog.real, "ns real", 0)
            .Context(marl::bench::Format("%.0f ns CPU", spdlog.cpu))
            .Print();
        Figure("ratio written/spdlog, separate runs (for context)", written.real / spdlog.real,
               "x real", 2)
            .Context(marl::bench::Format("%.2fx CPU", written.cpu / spdlog.cpu))
            .Print();
    }
    marl::bench::TurnRatios::Get().Print("written INFO lines / spdlog flushed lines, in turns",
                                         "lines", 1.2, /*judgeOnCpu=*/true, kLinesPerTurn / 1000.0,
                                         "ns per line");
    if (suppressed.real > 0) {
        Figure("suppressed DEBUG line, real time", suppressed.real, "ns", 2).AtMost(10).Print();
        Figure("suppressed DEBUG line, CPU time", suppressed.cpu, "ns", 2).AtMost(10).Print();
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintFigures(reporter);
    std::error_code ec;
    fs::remove_all(BenchFolder(), ec);
    return 0;
}
