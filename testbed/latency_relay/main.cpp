// marl_latency_relay: a loopback TCP relay that delays both directions, so
// that the provider, the harness or a benchmark can be run against the
// simulator as if the array were far away (the kernel here has no netem).
#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "LatencyRelay.h"

using namespace marl::relay;

namespace {

const char kUsage[] =
    R"(usage: marl_latency_relay --listen 127.0.0.1:PORT --target 127.0.0.1:PORT --delay-ms N
                          [--max-connections N] [--count-file PATH]

Forwards every TCP connection accepted on --listen to --target, each direction
delayed by N milliseconds (a round trip costs 2N; the connect to the target
waits one round trip first, as a TCP handshake would). Both addresses must be
loopback (127.x.y.z). PORT 0 on --listen takes an ephemeral port. Prints
"listening on ADDRESS:PORT" once it serves, and on SIGTERM or SIGINT stops,
closing open connections, and prints "connections: N", the number of
connections accepted (also written to --count-file).
)";

struct ProgramOptions {
    RelayOptions relay;
    std::string countFile;
};

bool ParseCount(const std::string& text, int& value) {
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || number < 0 || number > 1000000) return false;
    value = static_cast<int>(number);
    return true;
}

bool ParseOption(const std::string& name, const std::string& value, ProgramOptions& o,
                 std::string& error) {
    if (name == "--listen") return ParseEndpoint(value, o.relay.listen, error);
    if (name == "--target") return ParseEndpoint(value, o.relay.target, error);
    if (name == "--count-file") {
        o.countFile = value;
        return true;
    }
    int* number = name == "--delay-ms"          ? &o.relay.delayMs
                  : name == "--max-connections" ? &o.relay.maxConnections
                                                : nullptr;
    if (number == nullptr) {
        error = "unknown option " + name;
        return false;
    }
    if (!ParseCount(value, *number)) error = name + " needs a number, not '" + value + "'";
    return error.empty();
}

bool ParseArguments(int argc, char** argv, ProgramOptions& o, std::string& error) {
    bool listen = false, target = false, delay = false;
    for (int i = 1; i < argc; i += 2) {
        const std::string name = argv[i];
        if (i + 1 >= argc) {
            error = name + " needs a value";
            return false;
        }
        if (!ParseOption(name, argv[i + 1], o, error)) return false;
        listen |= name == "--listen";
        target |= name == "--target";
        delay |= name == "--delay-ms";
    }
    if (!(listen && target && delay)) error = "--listen, --target and --delay-ms are required";
    return error.empty();
}

// Blocks SIGTERM and SIGINT in every thread, so that only the sigwait below
// takes them; called before the relay starts its threads.
sigset_t BlockStopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

}  // namespace

int main(int argc, char** argv) {
    ProgramOptions options;
    std::string error;
    if (argc == 2 && std::string(argv[1]) == "--help") {
        std::cout << kUsage;
        return 0;
    }
    if (!ParseArguments(argc, argv, options, error)) {
        std::cerr << "marl_latency_relay: " << error << "\n\n" << kUsage;
        return 2;
    }
    const sigset_t signals = BlockStopSignals();
    LatencyRelay relay;
    if (!relay.Start(options.relay, error)) {
        std::cerr << "marl_latency_relay: " << error << "\n";
        return 1;
    }
    std::cout << "listening on " << options.relay.listen.address << ":" << relay.Port()
              << std::endl;
    int signal = 0;
    sigwait(&signals, &signal);
    relay.Stop();
    std::cout << "connections: " << relay.Connections() << std::endl;
    if (!options.countFile.empty()) {
        std::ofstream(options.countFile) << relay.Connections() << "\n";
    }
    return 0;
}
