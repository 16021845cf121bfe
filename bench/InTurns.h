#pragma once
// Two operations timed in turns within one loop (a, b, a, b, ...), so that
// whatever else the shared machine runs weighs on both alike, and the ratio
// of each benchmark repetition kept for a summary with its spread.
//
// Used by the benchmarks whose goal is a ratio of two things. Not
// thread-safe: benchmarks run one at a time.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

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

    // "label: a x.xx ms, b y.yy ms; wall r (spread lo-hi), CPU r (spread lo-hi);
    // goal <= g (judged on wall or CPU): met". Median of the repetitions.
    void Print(const char* label, const std::string& name, double goal, bool judgeOnCpu,
               double unitMicros, const char* unit) const {
        auto it = m_runs.find(name);
        if (it == m_runs.end() || it->second.empty()) {
            std::printf("%s: not measured in this run\n", label);
            return;
        }
        std::vector<double> wall, cpu, a, b;
        for (const Ratio& r : it->second) {
            wall.push_back(r.wall);
            cpu.push_back(r.cpu);
            a.push_back(r.wallA);
            b.push_back(r.wallB);
        }
        const double judged = Median(judgeOnCpu ? cpu : wall);
        std::printf("%s: %.1f %s against %.1f %s, %zu repetitions\n", label, Median(a) / unitMicros,
                    unit, Median(b) / unitMicros, unit, wall.size());
        std::printf("  ratio wall %.3fx (spread %.3f-%.3f), CPU %.3fx (spread %.3f-%.3f)\n",
                    Median(wall), Min(wall), Max(wall), Median(cpu), Min(cpu), Max(cpu));
        std::printf("  goal <= %.2fx, judged on %s time: %s\n", goal, judgeOnCpu ? "CPU" : "wall",
                    judged <= goal ? "met" : "MISSED");
    }

  private:
    struct Ratio {
        double wall, cpu, wallA, wallB;
    };
    static double Median(std::vector<double> v) {
        std::sort(v.begin(), v.end());
        size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }
    static double Min(const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
    }
    static double Max(const std::vector<double>& v) {
        return *std::max_element(v.begin(), v.end());
    }

    std::map<std::string, std::vector<Ratio>> m_runs;
};

}  // namespace marl::bench
