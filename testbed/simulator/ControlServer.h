// The control interface: plain HTTP on its own loopback port, JSON in and
// out, apart from the array's own paths. Routes (all under /control/):
//   GET  ping, state, journal[?after=N], faults, login, certificate[?mode=M], commands
//   POST reset [scenario], generate, journal/clear, faults, faults/clear,
//        login, sessions/expire, tls, shutdown
// Errors answer 400 with {"error": text}.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "ArrayService.h"
#include "Certificates.h"
#include "StopSignal.h"
#include "PortsFile.h"

namespace httplib {
class Server;
}

namespace marl::sim {

class ControlServer {
  public:
    ControlServer(ArrayService& service, CertificateStore& certs, StopSignal& stop);
    ~ControlServer();

    // `ports` is reported by "ping"; its control member is filled in here.
    bool Start(int port, SimulatorPorts& ports, std::string& error);
    void Stop();
    int Port() const { return m_port; }

  private:
    void InstallRoutes();
    void InstallFaultRoutes();
    void InstallSetupRoutes();
    void InstallLoginRoutes();
    void InstallTlsRoutes();

    ArrayService& m_service;
    CertificateStore& m_certs;
    StopSignal& m_stop;
    SimulatorPorts m_ports;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
};

}  // namespace marl::sim
