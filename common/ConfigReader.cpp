#include "common/ConfigReader.h"

#include <algorithm>
#include <cwchar>
#include <exception>
#include <utility>

#include "common/PasswordCipher.h"
#include "common/QVssLog.h"
#include "platform/shared_read.h"

static constexpr char kLogUnit[] = "ConfigReader";

#define CONFIG_LOG(logger, function, level, ...) \
    (logger).qm_vss_log(function, kLogUnit, __LINE__, "PROVIDER", level, __VA_ARGS__)

namespace {

constexpr char kReader[] = "ReadProviderSettings";

// What each key does. Exactly one of text, flag or module is set.
struct KeyRule {
    marl::common::ConfigKey key;
    const char* name;
    const char* unless;  // a longer key that contains `name`
    const wchar_t* description;
    std::string ProviderSettings::*text;
    bool ProviderSettings::*flag;
    const char* offMessage;
    const char* onMessage;
    const char* module;
};

const KeyRule kRules[] = {
    {marl::common::ConfigKey::ExternalIp, "EXTERNAL_IP", nullptr, L"NXA External IP",
     &ProviderSettings::externalIp, nullptr, nullptr, nullptr, nullptr},
    {marl::common::ConfigKey::HostName, "HOST_NAME", nullptr, L"NXA Host Name",
     &ProviderSettings::hostName, nullptr, nullptr, nullptr, nullptr},
    {marl::common::ConfigKey::UserName, "USERNAME", "VCENTER_USERNAME", L"NXA User Name",
     &ProviderSettings::userName, nullptr, nullptr, nullptr, nullptr},
    {marl::common::ConfigKey::Password, "PASSWORD", "VCENTER_PASSWORD", L"NXA Password",
     &ProviderSettings::password, nullptr, nullptr, nullptr, nullptr},
    {marl::common::ConfigKey::SnapPrefix, "SNAP_PREFIX", nullptr, L"NXA Snap Prefix",
     &ProviderSettings::snapPrefix, nullptr, nullptr, nullptr, nullptr},
    {marl::common::ConfigKey::RetentionPolicy, "RETENTION_POLICY", nullptr, L"NXA Retention Policy",
     &ProviderSettings::retentionPolicy, nullptr, nullptr, nullptr, nullptr},
    {marl::common::ConfigKey::SupportSsl, "SUPPORT_SSL", nullptr, L"NXA Support SSL", nullptr,
     &ProviderSettings::supportSsl, "Turn off SSL", "Turn on SSL", nullptr},
    {marl::common::ConfigKey::VmwareVm, "VMWARE_VM", nullptr, L"Running as VmWare VM", nullptr,
     &ProviderSettings::vmwareVm, "Run as physical machine", "Run as VmWare VM", nullptr},
    {marl::common::ConfigKey::ReplicationMode, "REPLICATION_MODE", nullptr, L"NXA Replication Mode",
     nullptr, &ProviderSettings::replicationMode, "Not replicating snapshots",
     "Will replicate snapshots for replicated CGs", nullptr},
    {marl::common::ConfigKey::LogLevelProvider, "LOG_LEVEL_PROVIDER", nullptr,
     L"NXA provider log level", nullptr, nullptr, nullptr, nullptr, "PROVIDER"},
    {marl::common::ConfigKey::LogLevelJson, "LOG_LEVEL_JSON", nullptr, L"NXA json log level",
     nullptr, nullptr, nullptr, nullptr, "JSON"},
    {marl::common::ConfigKey::LogLevelConfigurator, "LOG_LEVEL_CONFIGURATOR", nullptr,
     L"NXA configurator log level", nullptr, nullptr, nullptr, nullptr, "CONFIGURATOR"},
};

const KeyRule* RuleFor(const std::string& line) {
    for (const KeyRule& rule : kRules) {
        if (line.find(rule.name) == std::string::npos) continue;
        if (rule.unless && line.find(rule.unless) != std::string::npos) continue;
        return &rule;
    }
    return nullptr;
}

bool EqualsFalseIgnoringCase(const std::string& value) {
    static constexpr char kFalse[] = "false";
    if (value.size() != sizeof kFalse - 1) return false;
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kFalse[i]) return false;
    }
    return true;
}

// A damaged stored password must not take the provider down: it is logged
// (without the value) and the password stays empty.
void DecodePassword(CQLogger& logger, std::string& password) {
    const char* problem = nullptr;
    try {
        marl::common::StoredPasswordStatus status = DecodeStoredPassword(password);
        if (status != marl::common::StoredPasswordStatus::Ok)
            problem = marl::common::DescribeStoredPasswordStatus(status);
    } catch (const std::exception& e) {
        problem = e.what();
    }
    if (!problem) return;
    password.clear();
    CONFIG_LOG(logger, kReader, QLOG_ERROR,
               "PASSWORD value ignored (%s); the array password is left empty", problem);
}

void ApplyFlag(CQLogger& logger, const KeyRule& rule, const std::string& value,
               ProviderSettings& settings) {
    bool on = !EqualsFalseIgnoringCase(value);
    settings.*rule.flag = on;
    CONFIG_LOG(logger, kReader, QLOG_INFO, "%s", on ? rule.onMessage : rule.offMessage);
}

void ApplyLine(CQLogger& logger, const std::string& line, ProviderSettings& settings) {
    const KeyRule* rule = RuleFor(line);
    std::string value;
    if (!rule || !marl::common::ExtractBracketValue(line, value)) return;
    sanitize_string(logger, value, rule->description);
    if (rule->text) {
        settings.*rule->text = std::move(value);
        if (rule->key == marl::common::ConfigKey::Password)
            DecodePassword(logger, settings.password);
    } else if (rule->flag) {
        ApplyFlag(logger, *rule, value, settings);
    } else {
        logger.SetLogLevel(rule->module, value);
    }
}

}  // namespace

marl::common::ConfigFile::ConfigFile(const std::string& folder) {
    m_file =
        marl::platform::OpenSharedForReading(folder + marl::common::kConfigFileName, &m_openError);
    if (m_file) m_openError = 0;
}

marl::common::ConfigFile::~ConfigFile() { Close(); }

void marl::common::ConfigFile::Close() {
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
}

bool marl::common::ConfigFile::ReadLine(std::string& line) {
    line.clear();
    if (!m_file) return false;
    int c = 0;
    bool any = false;
    while ((c = std::getc(m_file)) != EOF) {
        any = true;
        if (c == '\n') break;
        line += static_cast<char>(c);
    }
    if (c == '\n' && !line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

marl::common::ConfigKey marl::common::ClassifyConfigLine(const std::string& line) {
    const KeyRule* rule = RuleFor(line);
    return rule ? rule->key : marl::common::ConfigKey::None;
}

bool marl::common::ExtractBracketValue(const std::string& line, std::string& value) {
    size_t open = line.find('[');
    size_t close = line.find(']');
    // A missing bracket counts as lying beyond every real position.
    if (open == std::string::npos || !(open < close)) return false;
    value = line.substr(open + 1, close == std::string::npos ? close : close - open - 1);
    return true;
}

namespace {
bool IsSecret(const wchar_t* description) {
    return description && std::wcscmp(description, L"NXA Password") == 0;
}
std::string Masked(const std::string& value) {
    return "<" + std::to_string(value.size()) + " characters hidden>";
}
}  // namespace

void sanitize_string(std::string& value, const wchar_t* description) {
    sanitize_string(*CQLogger::getInstance(), value, description);
}

void sanitize_string(CQLogger& logger, std::string& value, const wchar_t* description) {
    // Keep the original only when it will be logged: values can be long.
    const bool logged = logger.IsLogLevelEnabled("PROVIDER", QLOG_DEBUG);
    std::string before = logged ? value : std::string();
    value.erase(std::remove_if(value.begin(), value.end(),
                               [](char c) {
                                   return c == '\'' || c == '\\' || c == '\t' || c == '\n' ||
                                          c == ' ' || c == '"';
                               }),
                value.end());
    if (logged) {
        // The stored password form carries its own key: logging it would hand
        // the password to whoever reads a DEBUG log. Its length is enough to
        // diagnose a damaged line.
        if (IsSecret(description)) {
            std::string shownBefore = Masked(before), shownAfter = Masked(value);
            CONFIG_LOG(logger, "sanitize_string", QLOG_DEBUG, "%S: got %s returning %s",
                       description, shownBefore.c_str(), shownAfter.c_str());
            return;
        }
        CONFIG_LOG(logger, "sanitize_string", QLOG_DEBUG, "%S: got %s returning %s", description,
                   before.c_str(), value.c_str());
    }
}

ProviderSettings ReadProviderSettings(CQLogger& logger, marl::common::ConfigFile& file) {
    ProviderSettings settings;
    if (!file.IsOpen()) {
        CONFIG_LOG(logger, kReader, QLOG_ERROR, "cannot open config file: rc = %d",
                   file.OpenError());
        return settings;
    }
    // The reader never fails its caller; whatever was read before an
    // exhausted allocation is kept.
    try {
        std::string line;
        while (file.ReadLine(line)) ApplyLine(logger, line, settings);
    } catch (const std::exception& e) {
        CONFIG_LOG(logger, kReader, QLOG_ERROR, "stopped reading config file: %s", e.what());
    }
    file.Close();
    CONFIG_LOG(logger, kReader, QLOG_INFO, "Set nxa_external_ip to: %s",
               settings.externalIp.c_str());
    return settings;
}

ProviderSettings ReadProviderSettings(CQLogger& logger, const std::string& folder) {
    marl::common::ConfigFile file(folder);
    return ReadProviderSettings(logger, file);
}
