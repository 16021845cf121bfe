#pragma once
// What the benchmarks that drive a provider object against the simulator
// share: one private simulator on ephemeral ports of 127.0.0.1 for the whole
// program, an installation folder with the configuration file a configurator
// would have written for it (removed at exit), provider objects whose
// connections go to the simulator or to a port in front of it, and the
// journal's command count.
//
// Not thread-safe: benchmarks run one at a time.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "HarnessConfig.h"
#include "RedirectingHttpClient.h"
#include "SimulatorControl.h"
#include "SimulatorProcess.h"
#include "platform/install_folder.h"
#include "provider/CQProvider.h"

namespace marl::bench {

class SimulatorEnvironment {
  public:
    // Started on first use; Ready() says whether the simulator serves.
    static SimulatorEnvironment& Get() {
        static SimulatorEnvironment env;
        return env;
    }
    bool Ready() const { return m_sim != nullptr; }
    const std::string& Error() const { return m_error; }
    marl::sim::SimulatorControl& Sim() { return *m_control; }
    uint16_t HttpsPort() const { return static_cast<uint16_t>(m_sim->Ports().https); }

    // A provider whose HTTPS connections go to the simulator.
    std::unique_ptr<CQProvider> NewProvider() { return NewProvider(HttpsPort()); }
    // A provider whose HTTPS connections go to `httpsPort` (a relay in front
    // of the simulator); plain HTTP still goes to the simulator.
    std::unique_ptr<CQProvider> NewProvider(uint16_t httpsPort) {
        return std::make_unique<CQProvider>(marl::harness::RedirectingFactory(
            {httpsPort, static_cast<uint16_t>(m_sim->Ports().http)}));
    }

    ~SimulatorEnvironment() {
        m_control.reset();
        m_sim.reset();
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

  private:
    SimulatorEnvironment() {
        m_sim = marl::sim::SimulatorProcess::Launch({}, m_error);
        if (!m_sim) return;
        m_control = std::make_unique<marl::sim::SimulatorControl>(m_sim->Ports());
        // No "." in the folder: the logger names rotations after the first one.
        m_folder = std::filesystem::temp_directory_path() /
                   ("marlproviderbench" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(m_folder);
        marl::platform::SetInstallFolder(m_folder.string());
        marl::harness::HarnessConfig config;  // the simulator's credentials, log at INFO
        std::string error;
        marl::harness::WriteConfigFile(marl::platform::InstallFolder(), config, error);
    }
    std::unique_ptr<marl::sim::SimulatorProcess> m_sim;
    std::unique_ptr<marl::sim::SimulatorControl> m_control;
    std::filesystem::path m_folder;
    std::string m_error;
};

// The array commands in the simulator's journal (logins and logouts left out).
inline size_t Commands(marl::sim::SimulatorControl& sim) {
    size_t n = 0;
    for (const auto& r : sim.Journal())
        if (r.command != "login" && r.command != "logout") ++n;
    return n;
}

// The serials of the first `count` volumes of a generated inventory; its
// groups hold consecutive volumes, so the first 4 are the first group's.
inline std::vector<std::string> GeneratedSerials(size_t count) {
    std::vector<std::string> serials;
    char text[32];
    for (size_t i = 1; i <= count; ++i) {
        std::snprintf(text, sizeof text, "6001405a%07zx", i);  // the generator's volume serials
        serials.push_back(text);
    }
    return serials;
}

}  // namespace marl::bench
