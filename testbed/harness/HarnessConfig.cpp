#include "HarnessConfig.h"

#include <fstream>

#include "common/ConfigFormat.h"
#include "common/PasswordCipher.h"

namespace marl::harness {
namespace {

using marl::common::ConfigKey;

std::string Line(ConfigKey key, const std::string& value) {
    return marl::common::ConfigLine(marl::common::ConfigKeyText(key), value) + "\n";
}

std::string Flag(bool on) { return marl::common::FlagText(on); }

}  // namespace

std::string ConfigFileText(const HarnessConfig& c) {
    std::string text;
    text += Line(ConfigKey::ExternalIp, c.externalIp);
    text += Line(ConfigKey::HostName, c.hostName);
    text += Line(ConfigKey::UserName, c.userName);
    // The stored form carries its own key, as the configurator writes it.
    text += Line(
        ConfigKey::Password,
        c.password.empty() ? "" : marl::common::StoredPasswordForm(c.password, GenerateKey(16)));
    text += Line(ConfigKey::SnapPrefix, c.snapPrefix);
    text += Line(ConfigKey::RetentionPolicy, c.retentionPolicy);
    text += Line(ConfigKey::SupportSsl, Flag(c.supportSsl));
    text += Line(ConfigKey::VmwareVm, Flag(c.vmwareVm));
    text += Line(ConfigKey::ReplicationMode, Flag(c.replicationMode));
    text += Line(ConfigKey::LogLevelProvider, c.logLevel);
    text += Line(ConfigKey::LogLevelJson, c.logLevel);
    text += Line(ConfigKey::LogLevelConfigurator, c.logLevel);
    return text;
}

bool WriteConfigFile(const std::string& folder, const HarnessConfig& config, std::string& error) {
    const std::string path = folder + marl::common::kConfigFileName;
    std::ofstream file(path);  // text mode: CR LF on Windows, as the configurator writes
    if (!file) {
        error = "cannot write " + path;
        return false;
    }
    file << ConfigFileText(config);
    file.close();
    if (!file) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace marl::harness
