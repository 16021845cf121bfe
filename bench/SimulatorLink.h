#pragma once
// How a benchmark's provider reaches the private simulator's HTTPS port
// (SimulatorEnvironment.h): straight, or through a loopback latency relay
// that delays each direction by half of `roundTripMs` (and its connect to the
// simulator by a whole round trip, as a TCP handshake would), counting the
// connections it accepts.
//
// Not thread-safe: benchmarks run one at a time.
#include <cstdint>
#include <string>

#include "LatencyRelay.h"
#include "SimulatorEnvironment.h"

namespace marl::bench {

class SimulatorLink {
  public:
    explicit SimulatorLink(int roundTripMs) {
        SimulatorEnvironment& env = SimulatorEnvironment::Get();
        if (!env.Ready()) {
            m_error = env.Error();
            return;
        }
        if (roundTripMs == 0) {
            m_port = env.HttpsPort();
            return;
        }
        marl::relay::RelayOptions options;
        options.listen = {"127.0.0.1", 0};
        options.target = {"127.0.0.1", env.HttpsPort()};
        options.delayMs = roundTripMs / 2;
        if (m_relay.Start(options, m_error)) m_port = m_relay.Port();
    }
    bool Ready() const { return m_port != 0; }
    const std::string& Error() const { return m_error; }
    uint16_t Port() const { return m_port; }
    // Connections the relay accepted (0 without a relay).
    uint64_t Connections() const { return m_relay.Connections(); }

  private:
    marl::relay::LatencyRelay m_relay;
    uint16_t m_port = 0;
    std::string m_error;
};

}  // namespace marl::bench
