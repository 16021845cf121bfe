#pragma once
// The format of the configuration file "marl_vss_conf.txt", the one
// definition its reader (the provider), its writer (the configurator), the
// support archive's redaction and the test harness's writer share: the keys,
// in the order the configurator writes them, with the kind of value each
// holds; the line syntax KEY = [value]; the bracket rule by which a reader
// finds a value; and the characters no value keeps.
//
// Pure functions over constant data: no logging, no state, safe from any
// thread. It links against nothing else of the product, so that the
// collector, which must not, can use it too.
#include <cstddef>
#include <string>

namespace marl::common {

constexpr char kConfigFileName[] = "marl_vss_conf.txt";

enum class ConfigKey {
    None,
    ExternalIp,
    HostName,
    UserName,
    Password,
    SnapPrefix,
    RetentionPolicy,
    SupportSsl,
    VmwareVm,
    VCenterUrl,
    VCenterUserName,
    VCenterPassword,
    VCenterIgnoreCert,
    VCenterDisableSso,
    VCenterSsoUrl,
    ReplicationMode,
    LogLevelProvider,
    LogLevelJson,
    LogLevelConfigurator,
};

enum class ConfigValueKind {
    Text,
    Secret,    // a password in its stored form, which carries its own key
    Flag,      // "True" or "False"
    LogLevel,  // a level name for one logging module
};

struct ConfigKeyInfo {
    ConfigKey key;
    const char* text;
    ConfigValueKind kind;
    // What the provider's log calls the value; null for the keys the provider
    // does not read (the vCenter keys, which only the configurator keeps).
    const wchar_t* description;
};

constexpr size_t kConfigKeyCount = 18;
// Every key, in the order the configurator writes a file.
extern const ConfigKeyInfo kConfigKeys[kConfigKeyCount];

// The entry of `key`, which is not None.
const ConfigKeyInfo& ConfigKeyOf(ConfigKey key);
inline const char* ConfigKeyText(ConfigKey key) { return ConfigKeyOf(key).text; }

// The key the provider reads from `line`: the first of its keys, in file
// order, whose text occurs anywhere in the line (case-sensitive), where an
// occurrence inside a longer key's text (USERNAME in VCENTER_USERNAME, say)
// does not count; None when there is none. There are no comments.
ConfigKey ClassifyConfigLine(const std::string& line);

// The text after the first "[" up to the first "]" (or to the end of the line
// when there is no "]"). False, leaving `value` alone, when there is no "[" or
// the first "]" stands before it.
bool ExtractBracketValue(const std::string& line, std::string& value);

// The line as the configurator writes it, without its line end:
// "<key> = [<value>]".
std::string ConfigLine(const std::string& keyText, const std::string& value);

// "True" or "False", as flags are written.
const char* FlagText(bool on);
// Whether a flag's value turns it off: only the word false, in any case.
bool IsFalseFlag(const std::string& value);

// The position just after the first secret key (PASSWORD, VCENTER_PASSWORD)
// in `line`, npos when the line holds none.
size_t FindSecretKeyEnd(const std::string& line, bool ignoreCase);

}  // namespace marl::common

// Removes every apostrophe, backslash, tab, line feed, space and double quote
// from `value`: no value of the file keeps them, whoever reads it.
void sanitize_string(std::string& value);
