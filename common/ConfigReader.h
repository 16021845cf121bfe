#pragma once
// The provider's reader of the configuration file "marl_vss_conf.txt".
//
// The file holds one setting per line, written by the configurator as
// KEY = [value]. The reader is looser (ConfigFormat.h: ClassifyConfigLine,
// ExtractBracketValue): a line belongs to the first key whose name occurs
// anywhere in it, and its value is the text between the first "[" and the
// first "]". Lines without a known key are ignored; a later line for a key
// replaces an earlier one.
//
// Typical use, in the provider object's constructor, which opens the file
// before its log and reads it after:
//   ConfigFile config(folder);          // opened shared, before the log
//   logger.OpenLogFile(folder + "marl_vss_log.txt");
//   ... log the version ...
//   ProviderSettings s = ReadProviderSettings(logger, config);
//
// Nothing here throws for bad input: a missing or unreadable file, binary
// bytes, endless lines or a damaged stored password give default settings
// (or those read so far) and log lines.
#include <cstdio>
#include <string>

#include "common/ConfigFormat.h"
#include "common/ProviderSettings.h"

class CQLogger;

namespace marl::common {

// The configuration file, open for reading while others may still read,
// write, rename or delete it. Not copyable; closes itself when destroyed.
class ConfigFile {
  public:
    // Opens <folder>marl_vss_conf.txt; `folder` ends with a path separator.
    explicit ConfigFile(const std::string& folder);
    ~ConfigFile();
    ConfigFile(const ConfigFile&) = delete;
    ConfigFile& operator=(const ConfigFile&) = delete;

    bool IsOpen() const { return m_file != nullptr; }
    // The C runtime's error number of a failed open (2: no such file).
    int OpenError() const { return m_openError; }

    // The next line without its line end (LF, or CR LF; a lone CR is an
    // ordinary character). False at the end of the file or on a read error.
    bool ReadLine(std::string& line);
    void Close();

  private:
    std::FILE* m_file = nullptr;
    int m_openError = 0;
};

}  // namespace marl::common

// sanitize_string(value) of ConfigFormat.h, then logs at DEBUG
// "<description>: got <before> returning <after>" (a password's values only
// by their length). The first form logs through the process's logger.
void sanitize_string(std::string& value, const wchar_t* description);
void sanitize_string(CQLogger& logger, std::string& value, const wchar_t* description);

// Reads the open `file` into settings (defaults for what it does not hold),
// applies the three log levels to `logger`, closes the file and logs
// "Set nxa_external_ip to: ...". A file that did not open is logged as
// "cannot open config file: rc = <errno>" and gives the defaults.
ProviderSettings ReadProviderSettings(CQLogger& logger, marl::common::ConfigFile& file);
// Opens <folder>marl_vss_conf.txt and reads it as above.
ProviderSettings ReadProviderSettings(CQLogger& logger, const std::string& folder);
