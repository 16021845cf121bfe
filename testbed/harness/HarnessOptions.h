#pragma once
// The harness's command line.
#include <cstdint>
#include <string>
#include <vector>

#include "HarnessConfig.h"

namespace marl::harness {

struct HarnessOptions {
    std::string installFolder;
    uint16_t httpsPort = 0;
    uint16_t httpPort = 0;
    std::string vendor = "MARL";
    std::vector<std::string> steps;            // create, delete, resync, abort, notify, mask
    std::vector<std::string> serials;          // source LUNs
    std::vector<std::string> snapshotSerials;  // for delete/resync without create
    uint32_t notifyFlags = 0x100;
    bool writeConfig = false;
    // Drive MarlVssProvider.dll through COM (Windows build) instead of a
    // provider object built in this process.
    bool com = false;
    HarnessConfig config;
    bool help = false;
};

// False with `error` set for an unknown option, a bad value or a missing
// install folder or step.
bool ParseHarnessOptions(int argc, const char* const* argv, HarnessOptions& options,
                         std::string& error);

const char* HarnessUsage();

}  // namespace marl::harness
