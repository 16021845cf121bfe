#pragma once
// Google Benchmark's console table, plus the times of every benchmark kept
// for the figures printed after the run, whether the framework reports each
// repetition or only their aggregates (bench/run asks for the aggregates
// only; a benchmark that wants its fastest and slowest repetition then
// computes "min" and "max" statistics of its own, see MinMaxStatistics).
//
// A benchmark is named as its function, with its arguments after a "/"
// ("BM_ParseVolShow/10000/0"). Not thread-safe: the framework reports from
// one thread.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

#include "Figures.h"

namespace marl::bench {

// Wall and CPU time of one benchmark, in the unit it reports in.
struct RunTimes {
    double real = 0;
    double cpu = 0;
};

class FigureReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            Kept& kept = m_kept[NameOf(run)];
            const RunTimes times{run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
            if (run.run_type == Run::RT_Iteration)
                kept.repetitions.push_back(times);
            else
                kept.aggregates[run.aggregate_name] = times;
        }
    }

    // The median of the repetitions (the one run without repetitions);
    // zeros when the benchmark did not run.
    RunTimes Median(const std::string& name) const {
        return Of(name, "median", marl::bench::Median);
    }
    // The fastest and the slowest repetition, each clock by itself.
    RunTimes Fastest(const std::string& name) const { return Of(name, "min", Min); }
    RunTimes Slowest(const std::string& name) const { return Of(name, "max", Max); }

  private:
    struct Kept {
        std::vector<RunTimes> repetitions;
        std::map<std::string, RunTimes> aggregates;
    };

    static std::string NameOf(const Run& run) {
        const std::string& args = run.run_name.args;
        return run.run_name.function_name + (args.empty() ? "" : "/" + args);
    }

    // The framework's aggregate `aggregate` when it reported one, else
    // `statistic` of the repetitions it reported.
    RunTimes Of(const std::string& name, const char* aggregate,
                double (*statistic)(const std::vector<double>&)) const {
        auto it = m_kept.find(name);
        if (it == m_kept.end()) return {};
        auto found = it->second.aggregates.find(aggregate);
        if (found != it->second.aggregates.end()) return found->second;
        std::vector<double> real, cpu;
        for (const RunTimes& t : it->second.repetitions) {
            real.push_back(t.real);
            cpu.push_back(t.cpu);
        }
        return {statistic(real), statistic(cpu)};
    }

    std::map<std::string, Kept> m_kept;
};

// Adds the fastest and slowest repetition to the aggregates `b` reports.
inline void MinMaxStatistics(benchmark::internal::Benchmark* b) {
    b->ComputeStatistics("min", Min);
    b->ComputeStatistics("max", Max);
}

}  // namespace marl::bench
