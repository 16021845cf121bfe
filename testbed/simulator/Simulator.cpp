#include "Simulator.h"

#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>

namespace marl::sim {

namespace {

bool ReadFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream out;
    out << in.rdbuf();
    text = out.str();
    return true;
}

}  // namespace

bool BuildInventory(const SimulatorOptions& options, Inventory& inv, std::string& error) {
    if (options.generate) {
        GenerateInventory(options.generator, inv);
        return true;
    }
    std::string text = DefaultScenarioText();
    if (!options.scenarioFile.empty() && !ReadFile(options.scenarioFile, text)) {
        error = "could not read scenario file " + options.scenarioFile;
        return false;
    }
    if (LoadScenario(text, inv, error)) return true;
    error =
        (options.scenarioFile.empty() ? "default scenario" : options.scenarioFile) + ": " + error;
    return false;
}

Simulator::~Simulator() { Stop(); }

bool Simulator::Start(const SimulatorOptions& options, std::string& error) {
    // A client that goes away mid-reply must not take the simulator with it.
    std::signal(SIGPIPE, SIG_IGN);
    Inventory inv;
    if (!BuildInventory(options, inv, error)) return false;
    if (!m_certs.Generate(error)) return false;
    if (!options.certFile.empty() && !m_certs.LoadFiles(options.certFile, options.keyFile, error)) {
        return false;
    }
    m_certs.SetMode(options.tlsMode);
    m_service = std::make_unique<ArrayService>(std::move(inv), options.login);
    m_frontend = std::make_unique<HttpFrontend>(*m_service, m_certs, m_stop);
    m_control = std::make_unique<ControlServer>(*m_service, m_certs, m_stop);
    bool ok = m_frontend->Start(options.frontend, error);
    m_ports.http = m_frontend->HttpPort();
    m_ports.https = m_frontend->HttpsPort();
    m_ports.pid = static_cast<long>(getpid());
    ok = ok && m_control->Start(options.controlPort, m_ports, error);
    if (!ok) Stop();
    return ok;
}

void Simulator::Stop() {
    m_stop.Raise();
    if (m_control) m_control->Stop();
    if (m_frontend) m_frontend->Stop();
}

}  // namespace marl::sim
