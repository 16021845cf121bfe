#include "common/ConfigReader.h"

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

// What the provider does with each key it reads. Exactly one of text, flag or
// module is set.
struct KeyRule {
    marl::common::ConfigKey key;
    std::string ProviderSettings::*text;
    bool ProviderSettings::*flag;
    const char* offMessage;
    const char* onMessage;
    const char* module;
};

using marl::common::ConfigKey;
const KeyRule kRules[] = {
    {ConfigKey::ExternalIp, &ProviderSettings::externalIp, nullptr, nullptr, nullptr, nullptr},
    {ConfigKey::HostName, &ProviderSettings::hostName, nullptr, nullptr, nullptr, nullptr},
    {ConfigKey::UserName, &ProviderSettings::userName, nullptr, nullptr, nullptr, nullptr},
    {ConfigKey::Password, &ProviderSettings::password, nullptr, nullptr, nullptr, nullptr},
    {ConfigKey::SnapPrefix, &ProviderSettings::snapPrefix, nullptr, nullptr, nullptr, nullptr},
    {ConfigKey::RetentionPolicy, &ProviderSettings::retentionPolicy, nullptr, nullptr, nullptr,
     nullptr},
    {ConfigKey::SupportSsl, nullptr, &ProviderSettings::supportSsl, "Turn off SSL", "Turn on SSL",
     nullptr},
    {ConfigKey::VmwareVm, nullptr, &ProviderSettings::vmwareVm, "Run as physical machine",
     "Run as VmWare VM", nullptr},
    {ConfigKey::ReplicationMode, nullptr, &ProviderSettings::replicationMode,
     "Not replicating snapshots", "Will replicate snapshots for replicated CGs", nullptr},
    {ConfigKey::LogLevelProvider, nullptr, nullptr, nullptr, nullptr, "PROVIDER"},
    {ConfigKey::LogLevelJson, nullptr, nullptr, nullptr, nullptr, "JSON"},
    {ConfigKey::LogLevelConfigurator, nullptr, nullptr, nullptr, nullptr, "CONFIGURATOR"},
};

const KeyRule* RuleFor(const std::string& line) {
    ConfigKey key = marl::common::ClassifyConfigLine(line);
    for (const KeyRule& rule : kRules) {
        if (rule.key == key) return &rule;
    }
    return nullptr;
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
               "%s value ignored (%s); the array password is left empty",
               marl::common::ConfigKeyText(marl::common::ConfigKey::Password), problem);
}

void ApplyFlag(CQLogger& logger, const KeyRule& rule, const std::string& value,
               ProviderSettings& settings) {
    bool on = !marl::common::IsFalseFlag(value);
    settings.*rule.flag = on;
    CONFIG_LOG(logger, kReader, QLOG_INFO, "%s", on ? rule.onMessage : rule.offMessage);
}

void ApplyLine(CQLogger& logger, const std::string& line, ProviderSettings& settings) {
    const KeyRule* rule = RuleFor(line);
    std::string value;
    if (!rule || !marl::common::ExtractBracketValue(line, value)) return;
    sanitize_string(logger, value, marl::common::ConfigKeyOf(rule->key).description);
    if (rule->text) {
        settings.*rule->text = std::move(value);
        if (rule->key == ConfigKey::Password) DecodePassword(logger, settings.password);
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

namespace {
bool IsSecret(const wchar_t* description) {
    if (!description) return false;
    for (const marl::common::ConfigKeyInfo& info : marl::common::kConfigKeys) {
        if (info.kind == marl::common::ConfigValueKind::Secret && info.description &&
            std::wcscmp(description, info.description) == 0)
            return true;
    }
    return false;
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
    sanitize_string(value);
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
