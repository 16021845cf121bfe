#include "CommandLine.h"

#include <cstdlib>

#include "SimJson.h"

namespace marl::sim {

namespace {

bool ParsePort(const std::string& text, int& port) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 65535) return false;
    port = static_cast<int>(value);
    return true;
}

std::string* TextTarget(const std::string& name, CommandLine& cl) {
    SimulatorOptions& o = cl.options;
    const std::pair<const char*, std::string*> targets[] = {{"--scenario", &o.scenarioFile},
                                                            {"--cert", &o.certFile},
                                                            {"--key", &o.keyFile},
                                                            {"--user", &o.login.userName},
                                                            {"--password", &o.login.password},
                                                            {"--login-reply", &o.login.replyJson},
                                                            {"--ports-file", &cl.portsFile},
                                                            {"--log-file", &cl.logFile}};
    for (const auto& t : targets) {
        if (name == t.first) return t.second;
    }
    return nullptr;
}

int* PortTarget(const std::string& name, CommandLine& cl) {
    if (name == "--http-port") return &cl.options.frontend.httpPort;
    if (name == "--https-port") return &cl.options.frontend.httpsPort;
    if (name == "--control-port") return &cl.options.controlPort;
    return nullptr;
}

bool IsJsonObject(const std::string& text) {
    rapidjson::Document doc;
    std::string ignored;
    return ParseDocument(text, doc, ignored) && doc.IsObject();
}

// Options that take a value; returns false when `name` is not one of them.
bool ApplyValueOption(const std::string& name, const std::string& value, CommandLine& cl,
                      std::string& error) {
    if (std::string* text = TextTarget(name, cl)) {
        *text = value;
        if (name == "--login-reply" && !IsJsonObject(value)) {
            error = "--login-reply must be a JSON object";
        }
    } else if (int* port = PortTarget(name, cl)) {
        if (!ParsePort(value, *port)) error = name + " needs a port number between 0 and 65535";
    } else if (name == "--listen-address") {
        cl.options.frontend.address = value;
        if (!IsLoopbackAddress(value))
            error = "--listen-address needs a loopback address 127.x.y.z, not " + value;
    } else if (name == "--tls-mode") {
        if (!TlsModeFromName(value, cl.options.tlsMode)) {
            error = "--tls-mode must be valid, expired or wrong_host";
        }
    } else if (name == "--generate") {
        cl.options.generate = ParseInventoryFigures(value, cl.options.generator, error);
    } else {
        return false;
    }
    return true;
}

bool ApplyFlag(const std::string& name, CommandLine& cl) {
    const std::pair<const char*, bool*> switchedOff[] = {
        {"--no-http", &cl.options.frontend.http}, {"--no-https", &cl.options.frontend.https}};
    const std::pair<const char*, bool*> switchedOn[] = {
        {"--verbose", &cl.options.frontend.verbose},
        {"--detach", &cl.detach},
        {"--stop", &cl.stop},
        {"--print-default-scenario", &cl.printScenario},
        {"--help", &cl.help},
        {"-h", &cl.help}};
    for (const auto& f : switchedOff) {
        if (name == f.first) {
            *f.second = false;
            return true;
        }
    }
    for (const auto& f : switchedOn) {
        if (name == f.first) {
            *f.second = true;
            return true;
        }
    }
    return false;
}

bool CheckCombination(const CommandLine& cl, std::string& error) {
    if (cl.stop && cl.portsFile.empty()) error = "--stop needs --ports-file";
    if (cl.options.certFile.empty() != cl.options.keyFile.empty()) {
        error = "--cert and --key go together";
    }
    if (cl.options.generate && !cl.options.scenarioFile.empty()) {
        error = "give either --scenario or --generate";
    }
    return error.empty();
}

bool IsValueOption(const std::string& name) {
    static const char* const kNames[] = {
        "--http-port", "--https-port", "--control-port", "--scenario",      "--cert",
        "--key",       "--user",       "--password",     "--login-reply",   "--ports-file",
        "--log-file",  "--tls-mode",   "--generate",     "--listen-address"};
    for (const char* known : kNames) {
        if (name == known) return true;
    }
    return false;
}

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, CommandLine& cl, std::string& error) {
    error.clear();
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (ApplyFlag(name, cl)) continue;
        std::string value;
        size_t eq = name.find('=');
        if (name.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        } else if (!IsValueOption(name)) {
            error = "unknown option " + name;
            return false;
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            error = name + " needs a value";
            return false;
        }
        if (!ApplyValueOption(name, value, cl, error)) error = "unknown option " + name;
        if (!error.empty()) return false;
    }
    return CheckCombination(cl, error);
}

const char* UsageText() {
    return R"(usage: marl_simulator [options]
A stand-in for the NXA array's management service on 127.0.0.1.

  --http-port N          plain HTTP port (0, the default: any free port)
  --https-port N         HTTPS port (0: any free port)
  --control-port N       control interface port (0: any free port)
  --listen-address IP    loopback address of the HTTP and HTTPS ports (default
                         127.0.0.1; the control port stays on 127.0.0.1)
  --no-http, --no-https  leave that port closed
  --scenario FILE        inventory from a scenario file (default: built-in)
  --generate FIGURES     generated inventory: volumes=N,snapshots=M,replication=K[,per_group=G]
  --print-default-scenario  print the built-in scenario and exit
  --user NAME            login user name (default admin)
  --password TEXT        login password (default password)
  --login-reply JSON     login reply body (default
                         {"key":"LOGIN_SUCCESSFUL","vss_api_version":"4","version":"8.0.1.12"})
  --cert FILE --key FILE PEM certificate and key served in the valid TLS mode
  --tls-mode MODE        valid (default), expired or wrong_host
  --ports-file FILE      write the ready line there (removed on exit)
  --detach               run in the background; returns once serving
  --log-file FILE        output of a detached simulator (default /dev/null)
  --stop                 stop the simulator named by --ports-file
  --verbose              one line per array request on stderr

When serving it prints one line:
  MARL_SIMULATOR_READY http=<port> https=<port> control=<port> pid=<pid>
It stops on SIGTERM, SIGINT or POST /control/shutdown.
)";
}

}  // namespace marl::sim
