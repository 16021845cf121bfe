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
#include "common/testing/LogLine.h"
#include "platform/clock.h"

using LoggedLine = marl::testing::LogLine;

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
    std::vector<LoggedLine> Read() const {
        return marl::testing::ReadLogFile(m_dir / "marl_vss_log.txt");
    }

    std::filesystem::path m_dir;
    size_t m_skip = 0;
};
