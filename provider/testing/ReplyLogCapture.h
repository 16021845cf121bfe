#pragma once
// Test support for the reply checks and parsers: points the process logger
// at a scratch file with every level of "JSON" and "PROVIDER" enabled, and
// reads back the lines written, split into their fields.
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/QVssLog.h"
#include "platform/clock.h"

struct LoggedLine {
    std::string module;
    std::string level;
    std::string unit;
    std::string function;
    std::string message;
};

inline bool operator==(const LoggedLine& a, const LoggedLine& b) {
    return a.module == b.module && a.level == b.level && a.function == b.function &&
           a.message == b.message;
}

inline std::ostream& operator<<(std::ostream& os, const LoggedLine& l) {
    return os << "[" << l.module << "][" << l.level << "][" << l.function << "] " << l.message;
}

class ReplyLogCapture {
  public:
    ReplyLogCapture() {
        namespace fs = std::filesystem;
        std::random_device rd;
        for (const fs::path& root : {fs::temp_directory_path(), fs::current_path()}) {
            if (root.string().find('.') != std::string::npos) continue;
            m_dir = root / ("replylog_" + std::to_string(marl::platform::CurrentProcessId()) + "_" +
                            std::to_string(rd()));
            if (fs::create_directories(m_dir)) break;
            m_dir.clear();
        }
        if (m_dir.empty()) throw std::runtime_error("no scratch folder without a dot");
        CQLogger* log = CQLogger::getInstance();
        log->ResetForTesting();
        log->OpenLogFile((m_dir / "marl_vss_log.txt").string());
        log->SetLogLevel("JSON", QLOG_TRACE);
        log->SetLogLevel("PROVIDER", QLOG_TRACE);
        m_skip = Read().size();
    }
    ~ReplyLogCapture() {
        CQLogger::getInstance()->ResetForTesting();
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    ReplyLogCapture(const ReplyLogCapture&) = delete;
    ReplyLogCapture& operator=(const ReplyLogCapture&) = delete;

    // The lines logged since the capture began.
    std::vector<LoggedLine> Lines() const {
        std::vector<LoggedLine> all = Read();
        return std::vector<LoggedLine>(all.begin() + static_cast<long>(m_skip), all.end());
    }
    // Just the messages, in order.
    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        for (const LoggedLine& l : Lines()) out.push_back(l.message);
        return out;
    }

  private:
    // "[time][MODULE][LEVEL][unit:line][function][PID:..][TID:..]message"
    static bool Split(const std::string& line, LoggedLine* out) {
        std::vector<std::string> fields;
        size_t pos = 0;
        for (int i = 0; i < 7; ++i) {
            if (pos >= line.size() || line[pos] != '[') return false;
            size_t close = line.find(']', pos);
            if (close == std::string::npos) return false;
            fields.push_back(line.substr(pos + 1, close - pos - 1));
            pos = close + 1;
        }
        out->module = fields[1];
        out->level = fields[2];
        out->unit = fields[3].substr(0, fields[3].rfind(':'));
        out->function = fields[4];
        out->message = line.substr(pos);
        return true;
    }

    std::vector<LoggedLine> Read() const {
        std::ifstream in(m_dir / "marl_vss_log.txt", std::ios::binary);
        std::vector<LoggedLine> lines;
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            LoggedLine parsed;
            if (Split(line, &parsed)) lines.push_back(parsed);
        }
        return lines;
    }

    std::filesystem::path m_dir;
    size_t m_skip = 0;
};
