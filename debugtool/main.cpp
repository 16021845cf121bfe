// MarlVssDebugTool: gathers the configuration, the logs and Windows
// diagnostics into one support archive in the installation folder. It takes
// no arguments.
#include "debugtool/Collector.h"

int main() { return marl::debugtool::RunCollector(); }
