// The collector run against the installation folder given as the only
// argument (tests point it at a folder of their own); otherwise exactly what
// MarlVssDebugTool does.
#include "debugtool/Collector.h"
#include "platform/install_folder.h"

int main(int argc, char** argv) {
    if (argc != 2) return 64;
    marl::platform::SetInstallFolder(argv[1]);
    return marl::debugtool::RunCollector();
}
