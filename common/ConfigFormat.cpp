#include "common/ConfigFormat.h"

#include <algorithm>
#include <cctype>

namespace marl::common {

using K = ConfigKey;
using V = ConfigValueKind;
const ConfigKeyInfo kConfigKeys[kConfigKeyCount] = {
    {K::ExternalIp, "EXTERNAL_IP", V::Text, L"NXA External IP"},
    {K::HostName, "HOST_NAME", V::Text, L"NXA Host Name"},
    {K::UserName, "USERNAME", V::Text, L"NXA User Name"},
    {K::Password, "PASSWORD", V::Secret, L"NXA Password"},
    {K::SnapPrefix, "SNAP_PREFIX", V::Text, L"NXA Snap Prefix"},
    {K::RetentionPolicy, "RETENTION_POLICY", V::Text, L"NXA Retention Policy"},
    {K::SupportSsl, "SUPPORT_SSL", V::Flag, L"NXA Support SSL"},
    {K::VmwareVm, "VMWARE_VM", V::Flag, L"Running as VmWare VM"},
    {K::VCenterUrl, "VCENTER_URL", V::Text, nullptr},
    {K::VCenterUserName, "VCENTER_USERNAME", V::Text, nullptr},
    {K::VCenterPassword, "VCENTER_PASSWORD", V::Secret, nullptr},
    {K::VCenterIgnoreCert, "VCENTER_IGNORECERT", V::Flag, nullptr},
    {K::VCenterDisableSso, "VCENTER_DISABLESSO", V::Flag, nullptr},
    {K::VCenterSsoUrl, "VCENTER_SSOURL", V::Text, nullptr},
    {K::ReplicationMode, "REPLICATION_MODE", V::Flag, L"NXA Replication Mode"},
    {K::LogLevelProvider, "LOG_LEVEL_PROVIDER", V::LogLevel, L"NXA provider log level"},
    {K::LogLevelJson, "LOG_LEVEL_JSON", V::LogLevel, L"NXA json log level"},
    {K::LogLevelConfigurator, "LOG_LEVEL_CONFIGURATOR", V::LogLevel, L"NXA configurator log level"},
};

namespace {

bool SameChar(char a, char b, bool ignoreCase) {
    if (!ignoreCase) return a == b;
    return std::toupper(static_cast<unsigned char>(a)) ==
           std::toupper(static_cast<unsigned char>(b));
}

size_t Find(const std::string& line, const char* text, bool ignoreCase) {
    auto it =
        std::search(line.begin(), line.end(), text, text + std::char_traits<char>::length(text),
                    [ignoreCase](char a, char b) { return SameChar(a, b, ignoreCase); });
    return it == line.end() ? std::string::npos : static_cast<size_t>(it - line.begin());
}

bool Contains(const std::string& line, const char* text) {
    return line.find(text) != std::string::npos;
}

// Whether `line` holds another key whose text contains `info`'s, so that
// `info`'s occurrence may be part of that key.
bool HoldsLongerKey(const std::string& line, const ConfigKeyInfo& info) {
    for (const ConfigKeyInfo& other : kConfigKeys) {
        if (other.key != info.key && std::string(other.text).find(info.text) != std::string::npos &&
            Contains(line, other.text))
            return true;
    }
    return false;
}

}  // namespace

const ConfigKeyInfo& ConfigKeyOf(ConfigKey key) {
    for (const ConfigKeyInfo& info : kConfigKeys) {
        if (info.key == key) return info;
    }
    return kConfigKeys[0];  // unreachable for a key other than None
}

ConfigKey ClassifyConfigLine(const std::string& line) {
    for (const ConfigKeyInfo& info : kConfigKeys) {
        if (!info.description || !Contains(line, info.text)) continue;
        if (HoldsLongerKey(line, info)) continue;
        return info.key;
    }
    return ConfigKey::None;
}

bool ExtractBracketValue(const std::string& line, std::string& value) {
    size_t open = line.find('[');
    size_t close = line.find(']');
    // A missing bracket counts as lying beyond every real position.
    if (open == std::string::npos || !(open < close)) return false;
    value = line.substr(open + 1, close == std::string::npos ? close : close - open - 1);
    return true;
}

std::string ConfigLine(const std::string& keyText, const std::string& value) {
    return keyText + " = [" + value + "]";
}

const char* FlagText(bool on) { return on ? "True" : "False"; }

bool IsFalseFlag(const std::string& value) {
    return value.size() == 5 && Find(value, "false", true) == 0;
}

size_t FindSecretKeyEnd(const std::string& line, bool ignoreCase) {
    size_t end = std::string::npos;
    for (const ConfigKeyInfo& info : kConfigKeys) {
        if (info.kind != ConfigValueKind::Secret) continue;
        size_t at = Find(line, info.text, ignoreCase);
        if (at != std::string::npos)
            end = std::min(end, at + std::char_traits<char>::length(info.text));
    }
    return end;
}

}  // namespace marl::common

void sanitize_string(std::string& value) {
    value.erase(std::remove_if(value.begin(), value.end(),
                               [](char c) {
                                   return c == '\'' || c == '\\' || c == '\t' || c == '\n' ||
                                          c == ' ' || c == '"';
                               }),
                value.end());
}
