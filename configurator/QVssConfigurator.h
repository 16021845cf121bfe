#pragma once
// The configuration program's dialogue: CQConfigurator rewrites
// "marl_vss_conf.txt" by asking the administrator about each key, keeps the
// previous file as "marl_vss_conf.bck" and restarts the provider's service
// "marlvssprovider", all in its constructor.
//
// What a run touches comes in through ConfiguratorEnvironment, so that whole
// dialogues run against a scripted console and a scripted service manager in
// tests. The objects it points to are borrowed for the constructor's duration.
//
// Failure: nothing is thrown out of the constructor. A file that cannot be
// opened ends the run with a console line and an ERROR line; so does the end
// of standard input during the dialogue (the configuration file then stays
// as it was and the unfinished output file is removed), and so does a failed
// write (a failed flush to the disk included) or a failed replacement of the
// file (the answers are then kept in "marl_vss_conf_out.txt" and the service
// is not restarted; when the old file cannot be put back either, the console
// and the log say that it is "marl_vss_conf.bck"). Passwords, typed or
// stored, never reach the console or the log.
//
// The files that hold them, the configuration file, its backup and the output
// file, are open to the system and the administrators only (FileAccess::Secret).
//
// Thread safety: single-threaded; one object per run.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/console.h"
#include "platform/file_operations.h"
#include "platform/service_control.h"

class CQLogger;
namespace marl::common {
class ConfigFile;
}  // namespace marl::common

struct ConfiguratorEnvironment {
    std::string folder;  // where the files live; ends with a path separator
    marl::platform::Console* console = nullptr;
    marl::platform::ServiceControl* services = nullptr;
    marl::platform::FileOperations* files = nullptr;  // the output file and the renames
    CQLogger* logger = nullptr;
    std::function<void(uint32_t ms)> sleep;  // between service status queries
};

// How the run ended; the program's exit code is 0 in every case.
enum class ConfiguratorOutcome {
    Replaced,       // the new file is in place (the service restart may still have failed)
    OpenFailed,     // input or output could not be opened
    InputEnded,     // standard input ended or failed during the dialogue
    WriteFailed,    // the output file could not be written completely
    ReplaceFailed,  // the file could not be replaced; answers kept in the output file
    RestoreFailed,  // as ReplaceFailed, and the old file stays under the backup name
};

class CQConfigurator {
  public:
    using Check = bool (*)(const std::string&);

    // The whole run. `debug`: log-level keys are asked for like the others.
    CQConfigurator(bool debug, const ConfiguratorEnvironment& env);
    CQConfigurator(const CQConfigurator&) = delete;
    CQConfigurator& operator=(const CQConfigurator&) = delete;

    ConfiguratorOutcome Outcome() const { return m_outcome; }
    // Whether the last RestartService call ended with the service started.
    bool ServiceRestarted() const { return m_restarted; }

    // One line for one key; true when the line was the key's and something
    // was written to `out`. `value` receives the key's value.
    bool ChangeParam(std::FILE* out, std::string line, const std::string& key, std::string& value,
                     Check check, bool isFlag);
    bool ChangeDebugParam(std::FILE* out, std::string line, const std::string& key,
                          std::string& value);
    bool ChangePassword(std::FILE* out, std::string line, const std::string& key,
                        std::string& value);
    bool SetNewPassword(std::FILE* out, std::string line, const std::string& key,
                        std::string& value);
    // Stops "marlvssprovider", waits up to ten status queries for it to stop,
    // and starts it again; true when it was started.
    bool RestartService();

  private:
    struct KeyEntry;
    enum class Pass { First, Second };

    void Run();
    void FirstPass(marl::common::ConfigFile& in, std::FILE* out);
    void SecondPass(std::FILE* out);
    bool Offer(std::FILE* out, const std::string& line, const KeyEntry& entry, Pass pass);
    bool InBlock(const KeyEntry& entry) const;
    ConfiguratorOutcome ReplaceConfigFile();
    void ReportFailedRename(const std::string& from, const std::string& to, int rc);
    void ReportFailedRestore(int rc);
    void MakeSecret(const std::string& path);
    void StopForEndOfInput(std::FILE* out, marl::common::ConfigFile& in);

    char ReadKeyOrStop();
    std::string ReadWordOrStop();
    std::string ReadHiddenOrStop();
    void Print(const std::string& text);
    void WriteLine(std::FILE* out, const std::string& text);
    std::string Path(const char* name) const;

    static const KeyEntry kKeys[];

    ConfiguratorEnvironment m_env;
    CQLogger* m_logger;
    bool m_debug;
    ConfiguratorOutcome m_outcome = ConfiguratorOutcome::Replaced;
    bool m_restarted = false;
    bool m_met[18] = {};  // per entry of kKeys: its line was handled in the first pass

    std::string m_externalIp;
    std::string m_hostName;
    std::string m_userName;
    std::string m_password;
    std::string m_snapPrefix;
    std::string m_retentionPolicy;
    std::string m_supportSsl;
    std::string m_vmwareVm;
    std::string m_vcenterUrl;
    std::string m_vcenterUserName;
    std::string m_vcenterPassword;
    std::string m_vcenterIgnoreCert;
    std::string m_vcenterDisableSso;
    std::string m_vcenterSsoUrl;
    std::string m_replicationMode;
    std::string m_logLevelProvider;
    std::string m_logLevelJson;
    std::string m_logLevelConfigurator;
};

// The program: exits at once when `offSwitch` (the value of the environment
// variable "VSS_CONFIGURATOR_OFF", or null) is "TRUE" in any case; debug mode
// when the first argument is exactly "/debug". Returns the exit code, 0.
int RunConfiguratorProgram(int argc, const char* const* argv, const char* offSwitch,
                           const ConfiguratorEnvironment& env);
