#pragma once
// The provider's settings, read once per provider object from the
// configuration file and read-only afterwards.
#include <string>

struct ProviderSettings {
    std::string externalIp;       // management address of the array
    std::string hostName;         // this host (or its host group) on the array
    std::string userName;         // array login user
    std::string password;         // array login password, deciphered
    std::string snapPrefix;       // prefix of the snapshot names
    std::string retentionPolicy;  // passed to the array when snapshots are made
    bool supportSsl = true;       // HTTPS (port 443) rather than HTTP (port 80)
    bool vmwareVm = false;        // a VMware guest: disks go through the helper
    bool replicationMode = false; // snapshot replicated groups with replication
};
