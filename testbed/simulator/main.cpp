// marl_simulator: a local stand-in for the NXA array's management service.
#include <cstdio>

#include "CommandLine.h"
#include "ProcessControl.h"
#include "Scenario.h"

int main(int argc, char** argv) {
    using namespace marl::sim;
    CommandLine cl;
    std::string error;
    if (!ParseCommandLine(argc, argv, cl, error)) {
        std::fprintf(stderr, "marl_simulator: %s\n\n%s", error.c_str(), UsageText());
        return 2;
    }
    if (cl.help) {
        std::printf("%s", UsageText());
        return 0;
    }
    if (cl.printScenario) {
        std::printf("%s", DefaultScenarioText().c_str());
        return 0;
    }
    if (cl.stop) return StopRunning(cl.portsFile);
    if (cl.detach) return RunDetached(cl);
    return RunInForeground(cl, -1);
}
