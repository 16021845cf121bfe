#pragma once
// The configuration file a configurator would have written, for a provider
// aimed at a test array: every line KEY = [value], the array password in its
// stored (enciphered) form.
#include <string>

namespace marl::harness {

struct HarnessConfig {
    std::string externalIp = "127.0.0.1";
    std::string hostName = "vsshost1";
    std::string userName = "admin";
    std::string password = "password";  // the simulator's default
    std::string snapPrefix = "harness";
    std::string retentionPolicy;
    bool supportSsl = true;
    bool vmwareVm = false;
    bool replicationMode = false;
    std::string logLevel = "INFO";  // all three modules
};

// The file's text.
std::string ConfigFileText(const HarnessConfig& config);

// Writes "<folder>marl_vss_conf.txt" (folder ends with a separator); false
// with `error` set when the file cannot be written.
bool WriteConfigFile(const std::string& folder, const HarnessConfig& config, std::string& error);

}  // namespace marl::harness
