#pragma once
// Test support: points the process logger at a fresh file in a temporary
// folder with every module at TRACE, and reads the lines back split into
// their fields. Test-only.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/QVssLog.h"
#include "common/testing/LogLine.h"

namespace marl::testing {

class TransportLogCapture {
  public:
    TransportLogCapture() {
        static std::atomic<unsigned> counter{0};
        std::random_device random;
        // The logger derives rotation names from the first "." of the path,
        // so the folder name has none.
        m_folder =
            std::filesystem::temp_directory_path() /
            ("marltransportlog" + std::to_string(random()) + "x" + std::to_string(counter++));
        std::filesystem::create_directories(m_folder);
        m_path = (m_folder / "marl_vss_log.txt").string();
        CQLogger* logger = CQLogger::getInstance();
        logger->ResetForTesting();
        logger->OpenLogFile(m_path);
        logger->SetLogLevel("PROVIDER", QLOG_TRACE);
        logger->SetLogLevel("JSON", QLOG_TRACE);
        m_skip = Read().size();
    }
    ~TransportLogCapture() {
        CQLogger::getInstance()->ResetForTesting();
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    TransportLogCapture(const TransportLogCapture&) = delete;
    TransportLogCapture& operator=(const TransportLogCapture&) = delete;

    const std::string& Path() const { return m_path; }

    // The lines written since the capture began.
    std::vector<LogLine> Lines() const {
        std::vector<LogLine> all = Read();
        return std::vector<LogLine>(all.begin() + static_cast<long>(m_skip), all.end());
    }

    // "LEVEL message" of each line, the form most tests compare.
    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        for (const LogLine& l : Lines()) out.push_back(l.level + " " + l.message);
        return out;
    }

  private:
    std::vector<LogLine> Read() const { return ReadLogFile(m_path); }

    std::filesystem::path m_folder;
    std::string m_path;
    size_t m_skip = 0;
};

}  // namespace marl::testing
