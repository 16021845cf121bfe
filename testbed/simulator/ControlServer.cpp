#include "ControlServer.h"

#include <httplib.h>

#include <cstdlib>

#include "HttpFrontend.h"
#include "SimJson.h"

namespace marl::sim {

namespace {

using httplib::Request;
using httplib::Response;

constexpr char kJson[] = "application/json";

void Ok(Response& res, const std::string& json = R"({"ok":true})") {
    res.status = 200;
    res.set_content(json, kJson);
}

void Bad(Response& res, const std::string& error) {
    res.status = 400;
    res.set_content(BuildJson([&](JsonWriter& w) {
                        w.StartObject();
                        FieldText(w, "error", error);
                        w.EndObject();
                    }),
                    kJson);
}

// The request body as a JSON object; an empty body reads as {}.
bool BodyObject(const Request& req, rapidjson::Document& doc, Response& res) {
    std::string error;
    if (!ParseDocument(req.body.empty() ? "{}" : req.body, doc, error)) {
        Bad(res, "body is not JSON: " + error);
        return false;
    }
    if (!doc.IsObject()) {
        Bad(res, "body must be a JSON object");
        return false;
    }
    return true;
}

std::string PingJson(const SimulatorPorts& p) {
    return BuildJson([&](JsonWriter& w) {
        w.StartObject();
        FieldBool(w, "ok", true);
        FieldInt(w, "http_port", p.http);
        FieldInt(w, "https_port", p.https);
        FieldInt(w, "control_port", p.control);
        FieldInt(w, "pid", p.pid);
        w.EndObject();
    });
}

bool ReadLogin(const rapidjson::Document& doc, LoginSettings& login, std::string& error) {
    login.userName = MemberText(doc, "user_name", login.userName);
    login.password = MemberText(doc, "password", login.password);
    auto reply = doc.FindMember("reply");
    if (reply == doc.MemberEnd()) return true;
    if (!reply->value.IsObject()) {
        error = "reply must be a JSON object";
        return false;
    }
    login.replyJson = ValueText(reply->value);
    return true;
}

}  // namespace

ControlServer::ControlServer(ArrayService& service, CertificateStore& certs, StopSignal& stop)
    : m_service(service), m_certs(certs), m_stop(stop), m_server(new httplib::Server) {}

ControlServer::~ControlServer() { Stop(); }

bool ControlServer::Start(int port, SimulatorPorts& ports, std::string& error) {
    InstallRoutes();
    m_server->set_keep_alive_timeout(2);
    m_server->set_tcp_nodelay(true);
    m_port = port == 0 ? m_server->bind_to_any_port("127.0.0.1")
                       : (m_server->bind_to_port("127.0.0.1", port) ? port : -1);
    if (m_port <= 0) {
        error = "could not bind the control port 127.0.0.1:" + std::to_string(port);
        return false;
    }
    ports.control = m_port;
    m_ports = ports;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    if (WaitUntilListening(*m_server)) return true;
    error = "the control server did not start";
    return false;
}

void ControlServer::Stop() {
    m_server->stop();
    if (m_thread.joinable()) m_thread.join();
}

void ControlServer::InstallRoutes() {
    auto& s = *m_server;
    s.Get("/control/ping", [this](const Request&, Response& res) { Ok(res, PingJson(m_ports)); });
    s.Get("/control/state",
          [this](const Request&, Response& res) { Ok(res, m_service.StateJson()); });
    s.Get("/control/journal", [this](const Request& req, Response& res) {
        uint64_t after = std::strtoull(req.get_param_value("after").c_str(), nullptr, 10);
        Ok(res, m_service.JournalJson(after));
    });
    s.Post("/control/journal/clear", [this](const Request&, Response& res) {
        m_service.ClearJournal();
        Ok(res);
    });
    s.Get("/control/commands", [](const Request&, Response& res) {
        Ok(res, BuildJson([](JsonWriter& w) {
               w.StartArray();
               for (const auto& name : ArrayCommands().Names()) WriteString(w, name);
               w.EndArray();
           }));
    });
    s.Post("/control/shutdown", [this](const Request&, Response& res) {
        Ok(res);
        m_stop.Raise();
    });
    InstallFaultRoutes();
    InstallSetupRoutes();
}

void ControlServer::InstallFaultRoutes() {
    auto& s = *m_server;
    s.Get("/control/faults",
          [this](const Request&, Response& res) { Ok(res, m_service.FaultsJson()); });
    s.Post("/control/faults", [this](const Request& req, Response& res) {
        rapidjson::Document doc;
        if (!BodyObject(req, doc, res)) return;
        FaultRule rule;
        std::string error;
        if (!FaultFromJson(doc, rule, error)) return Bad(res, error);
        Ok(res, "{\"ok\":true,\"id\":" + std::to_string(m_service.AddFault(rule)) + "}");
    });
    s.Post("/control/faults/clear", [this](const Request& req, Response& res) {
        rapidjson::Document doc;
        if (!BodyObject(req, doc, res)) return;
        m_service.ClearFaults(MemberText(doc, "target"));
        Ok(res);
    });
}

void ControlServer::InstallSetupRoutes() {
    auto& s = *m_server;
    s.Post("/control/reset", [this](const Request& req, Response& res) {
        std::string error;
        if (req.body.empty()) {
            m_service.Reset();
            return Ok(res);
        }
        if (!m_service.LoadScenarioText(req.body, error)) return Bad(res, error);
        Ok(res);
    });
    s.Post("/control/generate", [this](const Request& req, Response& res) {
        rapidjson::Document doc;
        if (!BodyObject(req, doc, res)) return;
        InventoryFigures figures;
        figures.volumes = static_cast<size_t>(MemberInt(doc, "volumes", 0));
        figures.snapshots = static_cast<size_t>(MemberInt(doc, "snapshots", 0));
        figures.replication = static_cast<size_t>(MemberInt(doc, "replication", 0));
        figures.volumesPerGroup = static_cast<size_t>(MemberInt(doc, "per_group", 4));
        m_service.Generate(figures);
        Ok(res);
    });
    InstallLoginRoutes();
    InstallTlsRoutes();
}

void ControlServer::InstallLoginRoutes() {
    auto& s = *m_server;
    s.Get("/control/login", [this](const Request&, Response& res) {
        LoginSettings login = m_service.Login();
        Ok(res, BuildJson([&](JsonWriter& w) { WriteLoginSettings(w, login); }));
    });
    s.Post("/control/login", [this](const Request& req, Response& res) {
        rapidjson::Document doc;
        if (!BodyObject(req, doc, res)) return;
        LoginSettings login = m_service.Login();
        std::string error;
        if (!ReadLogin(doc, login, error)) return Bad(res, error);
        m_service.SetLogin(login);
        Ok(res);
    });
    s.Post("/control/sessions/expire", [this](const Request&, Response& res) {
        Ok(res, "{\"ok\":true,\"expired\":" + std::to_string(m_service.ExpireSessions()) + "}");
    });
}

void ControlServer::InstallTlsRoutes() {
    auto& s = *m_server;
    s.Post("/control/tls", [this](const Request& req, Response& res) {
        rapidjson::Document doc;
        if (!BodyObject(req, doc, res)) return;
        TlsMode mode;
        if (!TlsModeFromName(MemberText(doc, "mode"), mode)) {
            return Bad(res, "mode must be valid, expired or wrong_host");
        }
        m_certs.SetMode(mode);
        Ok(res);
    });
    s.Get("/control/certificate", [this](const Request& req, Response& res) {
        TlsMode mode = m_certs.Mode();
        if (req.has_param("mode") && !TlsModeFromName(req.get_param_value("mode"), mode)) {
            return Bad(res, "mode must be valid, expired or wrong_host");
        }
        res.set_content(m_certs.CertificatePem(mode), "application/x-pem-file");
    });
}

}  // namespace marl::sim
