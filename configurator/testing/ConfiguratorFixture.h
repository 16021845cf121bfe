#pragma once
// Test support: runs whole configurator dialogues in a scratch folder against
// the scripted console, service manager and file calls, and reads back what
// they left: the screen, the files, the calls and the log lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/QVssLog.h"
#include "common/testing/LogLine.h"
#include "configurator/QVssConfigurator.h"
#include "configurator/testing/ScriptedConsole.h"
#include "configurator/testing/ScriptedFiles.h"
#include "configurator/testing/ScriptedServices.h"

namespace marl::testing {

namespace fs = std::filesystem;

// A fresh folder whose path holds no "." (log rotation cuts at the first ".").
inline fs::path MakeConfiguratorScratch() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path p = fs::temp_directory_path() / ("marl_conf_" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directories(p, ec)) return p;
    }
    throw std::runtime_error("no scratch folder");
}

// The file's bytes, with CR LF line ends read as LF (the Windows build writes
// text mode); a lone CR stays.
inline std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string raw = ss.str(), text;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        text += raw[i];
    }
    return text;
}

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The real access of a secret file: mode 0600 natively. Wine keeps no access
// lists, so the Windows build relies on the calls the scripted files record
// and on the platform's own tests of the descriptor.
inline void ExpectSecret(const fs::path& path) {
#ifdef _WIN32
    (void)path;
#else
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write)
        << path;
#endif
}

// The log's lines after the banner.
inline std::vector<LogLine> ReadLogLines(const fs::path& path) { return ReadLogFile(path); }

// "LEVEL message" for each line, the form most expectations are written in.
inline std::vector<std::string> LogMessages(const fs::path& path) {
    std::vector<std::string> out;
    for (const LogLine& l : ReadLogLines(path)) out.push_back(l.level + " " + l.message);
    return out;
}

class Dialogue {
  public:
    explicit Dialogue(ServiceScript services = {})
        : m_folder(MakeConfiguratorScratch()), m_services(services) {}
    ~Dialogue() {
        std::error_code ec;
        fs::remove_all(m_folder, ec);
    }

    const fs::path& Folder() const { return m_folder; }
    std::string FolderText() const {
        std::string f = m_folder.string();
#ifdef _WIN32
        return f + "\\";
#else
        return f + "/";
#endif
    }
    fs::path File(const std::string& name) const { return m_folder / name; }
    void WriteConfig(const std::string& text) { WriteBytes(File("marl_vss_conf.txt"), text); }
    std::string Config() const { return ReadText(File("marl_vss_conf.txt")); }

    ConfiguratorEnvironment Environment() {
        ConfiguratorEnvironment env;
        env.folder = FolderText();
        env.console = &m_console;
        env.services = &m_services;
        env.files = &m_files;
        env.logger = &m_logger;
        env.sleep = [this](uint32_t ms) { m_slept.push_back(ms); };
        return env;
    }

    // One whole run with `typed` as the administrator's input.
    ConfiguratorOutcome Run(const std::string& typed, bool debug = false) {
        m_console.SetScript(typed);
        CQConfigurator run(debug, Environment());
        return run.Outcome();
    }

    ScriptedConsole& Console() { return m_console; }
    ScriptedServices& Services() { return m_services; }
    ScriptedFiles& Files() { return m_files; }
    CQLogger& Logger() { return m_logger; }
    const std::vector<uint32_t>& Slept() const { return m_slept; }
    std::vector<std::string> Log() const { return LogMessages(File("marl_vss_conf_log.txt")); }
    std::string LogText() const { return ReadText(File("marl_vss_conf_log.txt")); }

  private:
    fs::path m_folder;
    ScriptedConsole m_console;
    ScriptedServices m_services;
    ScriptedFiles m_files;
    CQLogger m_logger;
    std::vector<uint32_t> m_slept;
};

}  // namespace marl::testing
