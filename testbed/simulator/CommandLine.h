// Command line of the simulator program.
#pragma once

#include <string>

#include "Simulator.h"

namespace marl::sim {

struct CommandLine {
    SimulatorOptions options;
    std::string portsFile;
    std::string logFile;  // --detach: where the detached process writes its output
    bool detach = false;
    bool stop = false;
    bool help = false;
    bool printScenario = false;
};

// Returns false with `error` set on an unknown option or a bad value.
bool ParseCommandLine(int argc, const char* const* argv, CommandLine& cl, std::string& error);

const char* UsageText();

}  // namespace marl::sim
