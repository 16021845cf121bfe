#pragma once
// How every benchmark states a figure after its run, in one form:
//
//   name: 1.150x (spread 1.100-1.200 over 5 repetitions; context); goal <= 1.2x: met
//
// the spread, the context and the goal each optional, and the statistics the
// summaries take of their repetitions. A MISSED goal is printed, never
// turned into an exit status: the figures are read, not gated on.
//
// Plain C++17 on <cstdio>: the Windows program run under Wine prints through
// it without Google Benchmark.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace marl::bench {

// The middle value (the mean of the two middle ones for an even count); 0
// for no values.
inline double Median(const std::vector<double>& repetitions) {
    if (repetitions.empty()) return 0;
    std::vector<double> values = repetitions;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The smallest and largest value; 0 for no values.
inline double Min(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}
inline double Max(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

// printf into a string, for the context of a figure.
inline std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// One measured value with its unit (a unit that starts with "x" or "%"
// stands right after the number: "1.02x wall"), printed with `decimals`
// digits after the point.
class Figure {
  public:
    Figure(std::string name, double value, std::string unit, int decimals)
        : m_name(std::move(name)), m_value(value), m_unit(std::move(unit)), m_decimals(decimals) {}

    // The range of the repetitions the value stands for.
    Figure& Spread(const std::vector<double>& repetitions) {
        m_spread = repetitions;
        return *this;
    }
    // What the value alone does not say (the sides of a ratio, another clock).
    Figure& Context(std::string text) {
        m_context = std::move(text);
        return *this;
    }
    Figure& AtMost(double bound) { return Goal("<=", bound); }
    Figure& AtLeast(double bound) { return Goal(">=", bound); }
    Figure& Below(double bound) { return Goal("<", bound); }

    // Whether the value meets the goal; true without one.
    bool Met() const {
        if (m_goal.empty()) return true;
        if (m_goal == "<=") return m_value <= m_bound;
        if (m_goal == ">=") return m_value >= m_bound;
        return m_value < m_bound;
    }

    void Print() const {
        std::printf("%s: %s", m_name.c_str(), WithUnit(m_value, m_decimals).c_str());
        std::string details;
        if (!m_spread.empty()) {
            details = Format("spread %s-%s over %zu repetition%s",
                             Number(Min(m_spread), m_decimals).c_str(),
                             Number(Max(m_spread), m_decimals).c_str(), m_spread.size(),
                             m_spread.size() == 1 ? "" : "s");
        }
        if (!m_context.empty()) details += (details.empty() ? "" : "; ") + m_context;
        if (!details.empty()) std::printf(" (%s)", details.c_str());
        if (!m_goal.empty()) {
            std::printf("; goal %s %s: %s", m_goal.c_str(), WithUnit(m_bound, -1).c_str(),
                        Met() ? "met" : "MISSED");
        }
        std::printf("\n");
    }

  private:
    Figure& Goal(const char* comparison, double bound) {
        m_goal = comparison;
        m_bound = bound;
        return *this;
    }
    // `decimals` below 0: as few digits as the number needs (goals).
    static std::string Number(double value, int decimals) {
        return decimals < 0 ? Format("%g", value) : Format("%.*f", decimals, value);
    }
    std::string WithUnit(double value, int decimals) const {
        const bool glued = m_unit.empty() || m_unit[0] == 'x' || m_unit[0] == '%';
        return Number(value, decimals) + (glued ? "" : " ") + m_unit;
    }

    std::string m_name;
    double m_value;
    std::string m_unit;
    int m_decimals;
    std::vector<double> m_spread;
    std::string m_context;
    std::string m_goal;  // "<=", ">=", "<", or empty for a figure without one
    double m_bound = 0;
};

// The line of a figure the run did not produce (filtered out, failed).
inline void PrintNotMeasured(const std::string& name,
                             const char* why = "not measured in this run") {
    std::printf("%s: %s\n", name.c_str(), why);
}

}  // namespace marl::bench
