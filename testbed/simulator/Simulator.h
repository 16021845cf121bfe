// One simulated array: the service with its inventory, the HTTP and HTTPS
// ports, the certificates and the control port. Used by the simulator
// program and, in-process, by the simulator's own tests.
#pragma once

#include <memory>
#include <string>

#include "ArrayService.h"
#include "Certificates.h"
#include "ControlServer.h"
#include "HttpFrontend.h"
#include "StopSignal.h"
#include "PortsFile.h"

namespace marl::sim {

struct SimulatorOptions {
    FrontendOptions frontend;
    int controlPort = 0;
    std::string scenarioFile;  // empty: the default scenario (or the generator)
    bool generate = false;
    InventoryFigures generator;
    std::string certFile;
    std::string keyFile;
    TlsMode tlsMode = TlsMode::Valid;
    LoginSettings login;
};

// The start-up inventory the options ask for.
bool BuildInventory(const SimulatorOptions& options, Inventory& inv, std::string& error);

class Simulator {
  public:
    Simulator() = default;
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Binds every port and starts serving; false with `error` on any failure
    // (nothing is left running then).
    bool Start(const SimulatorOptions& options, std::string& error);
    // Stops serving and joins every thread; safe to call more than once.
    void Stop();
    // Asks for a stop from any thread (the control port's "shutdown" does).
    void RequestStop() { m_stop.Raise(); }
    void WaitUntilStopRequested() { m_stop.Wait(); }

    const SimulatorPorts& Ports() const { return m_ports; }
    ArrayService& Service() { return *m_service; }
    CertificateStore& Certificates() { return m_certs; }

  private:
    StopSignal m_stop;
    CertificateStore m_certs;
    std::unique_ptr<ArrayService> m_service;
    std::unique_ptr<HttpFrontend> m_frontend;
    std::unique_ptr<ControlServer> m_control;
    SimulatorPorts m_ports;
};

}  // namespace marl::sim
