#pragma once
// The settings of an array client that talks to the test simulator as its
// administrator, over HTTPS, on 127.0.0.1 (a redirecting HTTP client sends
// its connections to the simulator's port, or to a relay in front of it).
// Plain C++: the Windows build's benchmark uses it too.
#include "common/ProviderSettings.h"

namespace marl::bench {

inline ProviderSettings SimulatorSettings() {
    ProviderSettings settings;
    settings.externalIp = "127.0.0.1";
    settings.userName = "admin";
    settings.password = "password";
    settings.supportSsl = true;
    return settings;
}

}  // namespace marl::bench
