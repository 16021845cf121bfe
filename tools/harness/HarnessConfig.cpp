#include "HarnessConfig.h"

#include <fstream>

#include "common/PasswordCipher.h"

namespace marl::harness {
namespace {

std::string Line(const char* key, const std::string& value) {
    return std::string(key) + " = [" + value + "]\n";
}

const char* Flag(bool on) { return on ? "True" : "False"; }

}  // namespace

std::string ConfigFileText(const HarnessConfig& c) {
    std::string text;
    text += Line("EXTERNAL_IP", c.externalIp);
    text += Line("HOST_NAME", c.hostName);
    text += Line("USERNAME", c.userName);
    // The stored form carries its own key, as the configurator writes it.
    text += Line("PASSWORD", c.password.empty()
                                 ? ""
                                 : marl::common::StoredPasswordForm(c.password, GenerateKey(16)));
    text += Line("SNAP_PREFIX", c.snapPrefix);
    text += Line("RETENTION_POLICY", c.retentionPolicy);
    text += Line("SUPPORT_SSL", Flag(c.supportSsl));
    text += Line("VMWARE_VM", Flag(c.vmwareVm));
    text += Line("REPLICATION_MODE", Flag(c.replicationMode));
    text += Line("LOG_LEVEL_PROVIDER", c.logLevel);
    text += Line("LOG_LEVEL_JSON", c.logLevel);
    text += Line("LOG_LEVEL_CONFIGURATOR", c.logLevel);
    return text;
}

bool WriteConfigFile(const std::string& folder, const HarnessConfig& config, std::string& error) {
    const std::string path = folder + "marl_vss_conf.txt";
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
