#pragma once
// Two operations timed in turns within one loop (a, b, a, b, ...), so that
// whatever else the shared machine runs weighs on both alike, and the ratio
// of each benchmark repetition kept for a summary with its spread.
//
// Used by the benchmarks whose goal is a ratio of two things. Not
// thread-safe: benchmarks run one at a time.
#include <time.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "Figures.h"

namespace marl::bench {

// Wall and this thread's CPU time (user and kernel) of each side, summed over
// the turns of one repetition.
struct TurnTimes {
    double wallA = 0, wallB = 0, cpuA = 0, cpuB = 0;
    size_t turns = 0;
};

inline double ThreadCpuMicros() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

// Adds the wall and CPU time of one call of `f` to `wall` and `cpu`.
template <typename F>
void TimeSide(double& wall, double& cpu, F&& f) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point w0 = Clock::now();
    double c0 = ThreadCpuMicros();
    f();
    cpu += ThreadCpuMicros() - c0;
    wall += std::chrono::duration<double, std::micro>(Clock::now() - w0).count();
}

// One turn: `a` once, then `b` once, each timed.
template <typename A, typename B>
void TimeTurn(TurnTimes& t, A&& a, B&& b) {
    TimeSide(t.wallA, t.cpuA, a);
    TimeSide(t.wallB, t.cpuB, b);
    ++t.turns;
}

// The ratios a/b of every repetition of each in-turns benchmark, by name.
class TurnRatios {
  public:
    static TurnRatios& Get() {
        static TurnRatios ratios;
        return ratios;
    }

    // Called at the end of a benchmark run; the framework's short trial runs
    // (fewer turns than `minTurns`) are left out.
    void Add(const std::string& name, const TurnTimes& t, size_t minTurns) {
        if (t.turns < minTurns || t.wallB <= 0 || t.cpuB <= 0) return;
        m_runs[name].push_back(
            Ratio{t.wallA / t.wallB, t.cpuA / t.cpuB, t.wallA / t.turns, t.wallB / t.turns});
    }

    // The ratio on the judged clock against its goal, the other clock's, and
    // each side's time per turn in `unit` (`unitMicros` microseconds): the
    // medians of the repetitions, with their spread.
    void Print(const std::string& label, const std::string& name, double goal, bool judgeOnCpu,
               double unitMicros, const char* unit) const {
        auto it = m_runs.find(name);
        if (it == m_runs.end() || it->second.empty()) return PrintNotMeasured(label);
        std::vector<double> wall, cpu, a, b;
        for (const Ratio& r : it->second) {
            wall.push_back(r.wall);
            cpu.push_back(r.cpu);
            a.push_back(r.wallA / unitMicros);
            b.push_back(r.wallB / unitMicros);
        }
        const std::vector<double>& judged = judgeOnCpu ? cpu : wall;
        const std::vector<double>& other = judgeOnCpu ? wall : cpu;
        const char* judgedClock = judgeOnCpu ? "CPU" : "wall";
        const char* otherClock = judgeOnCpu ? "wall" : "CPU";
        Figure(label + ", " + judgedClock + " time", Median(judged), "x", 3)
            .Spread(judged)
            .AtMost(goal)
            .Print();
        Figure("  " + label + ", " + otherClock + " time", Median(other), "x", 3)
            .Spread(other)
            .Print();
        Figure("  " + label + ", wall time of each side", Median(a), unit, 1)
            .Context(Format("against %.1f %s", Median(b), unit))
            .Print();
    }

  private:
    struct Ratio {
        double wall, cpu, wallA, wallB;
    };

    std::map<std::string, std::vector<Ratio>> m_runs;
};

}  // namespace marl::bench
