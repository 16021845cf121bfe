// MarlVssConfigurator: the interactive editor of the provider's configuration.
#include <cstdlib>
#include <memory>

#include "common/QVssLog.h"
#include "configurator/QVssConfigurator.h"
#include "platform/clock.h"
#include "platform/install_folder.h"

int main(int argc, char** argv) {
    const char* offSwitch = std::getenv("VSS_CONFIGURATOR_OFF");
    std::unique_ptr<marl::platform::Console> console = marl::platform::MakeSystemConsole();
    std::unique_ptr<marl::platform::ServiceControl> services =
        marl::platform::MakeSystemServiceControl();
    std::unique_ptr<marl::platform::FileOperations> files =
        marl::platform::MakeSystemFileOperations();
    ConfiguratorEnvironment env;
    env.folder = marl::platform::InstallFolder();
    env.console = console.get();
    env.services = services.get();
    env.files = files.get();
    env.sleep = marl::platform::SleepMilliseconds;
    env.logger = CQLogger::getInstance();  // opens no file until the run begins
    return RunConfiguratorProgram(argc, argv, offSwitch, env);
}
