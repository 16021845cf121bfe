#pragma once
// Test support: the one reader of the log's line format for every suite.
//
//   [time][MODULE][LEVEL][unit:line][function][PID:0x..][TID:0x..]message
//
// Lines that do not have the seven bracketed fields (the banner, a line torn
// by a crash) are not log lines and are skipped. Test-only.
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace marl::testing {

struct LogLine {
    std::string module;
    std::string level;
    std::string unit;  // the source unit, without its line number
    std::string function;
    std::string message;
};

inline bool operator==(const LogLine& a, const LogLine& b) {
    return a.module == b.module && a.level == b.level && a.unit == b.unit &&
           a.function == b.function && a.message == b.message;
}

inline std::ostream& operator<<(std::ostream& os, const LogLine& l) {
    return os << "[" << l.module << "][" << l.level << "][" << l.unit << "][" << l.function << "] "
              << l.message;
}

// Splits one line (without its line end); false when it is not a log line.
inline bool SplitLogLine(const std::string& text, LogLine& line) {
    std::string fields[7];
    size_t pos = 0;
    for (std::string& field : fields) {
        if (pos >= text.size() || text[pos] != '[') return false;
        size_t close = text.find(']', pos);
        if (close == std::string::npos) return false;
        field = text.substr(pos + 1, close - pos - 1);
        pos = close + 1;
    }
    line.module = fields[1];
    line.level = fields[2];
    line.unit = fields[3].substr(0, fields[3].rfind(':'));
    line.function = fields[4];
    line.message = text.substr(pos);
    return true;
}

// Every log line of a file, in order; CR LF and LF line ends alike.
inline std::vector<LogLine> ReadLogFile(const std::filesystem::path& path) {
    std::vector<LogLine> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string text; std::getline(in, text);) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        LogLine line;
        if (SplitLogLine(text, line)) lines.push_back(line);
    }
    return lines;
}

}  // namespace marl::testing
