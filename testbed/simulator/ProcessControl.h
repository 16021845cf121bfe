// The simulator program's life as a process: serving until SIGTERM, SIGINT or
// a control shutdown; running detached in the background (for ctest fixtures
// and scripts); stopping a simulator started elsewhere.
#pragma once

#include "CommandLine.h"

namespace marl::sim {

// Serves in the foreground until asked to stop. When `readyFd` is not -1 the
// ready line (or "ERROR <text>") is also written there and the descriptor
// closed. Returns the exit status.
int RunInForeground(const CommandLine& cl, int readyFd);

// Forks a detached simulator and returns once it serves (printing its ready
// line) or failed to start. Returns the exit status.
int RunDetached(const CommandLine& cl);

// Asks the simulator named by the ports file to shut down and waits (at most
// about 20 seconds) until it is gone. Returns the exit status.
int StopRunning(const std::string& portsFile);

}  // namespace marl::sim
