#pragma once
// A loopback TCP relay that adds latency, for measuring the provider as an
// array far away would make it behave: every connection accepted on the
// listening endpoint is forwarded to the target, each direction delayed by
// `delayMs` (half the round trip). The connect to the target waits one round
// trip first, as a TCP handshake over such a link would, so that connecting,
// a TLS handshake and every request pay real round trips.
//
// Both endpoints must be in 127.0.0.0/8. At most `maxConnections` are served
// at once; further clients wait in the listen backlog. Stop() (or the
// destructor) ends every connection, open ones included, and returns once
// all threads have ended. Start and Stop are called from one thread;
// Connections() from any.
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <thread>

#include "LoopbackSocket.h"

namespace marl::relay {

struct RelayOptions {
    Endpoint listen;  // port 0: an ephemeral port
    Endpoint target;
    int delayMs = 0;
    int maxConnections = 64;
};

class LatencyRelay {
  public:
    LatencyRelay() = default;
    ~LatencyRelay();
    LatencyRelay(const LatencyRelay&) = delete;
    LatencyRelay& operator=(const LatencyRelay&) = delete;

    // Listens and starts relaying; false with `error` saying why.
    bool Start(const RelayOptions& options, std::string& error);
    void Stop();

    // The listening port (the one chosen when the options asked for 0).
    uint16_t Port() const { return m_port; }
    // Connections accepted since Start.
    uint64_t Connections() const { return m_accepted.load(); }

  private:
    struct Connection {
        int client = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void AcceptLoop();
    void AcceptOne();
    void Serve(Connection& connection);
    // Joins the connections that have ended (all of them when `all`).
    void Reap(bool all);

    RelayOptions m_options;
    int m_listen = -1;
    int m_stopRead = -1;  // readable once Stop has been asked for
    int m_stopWrite = -1;
    uint16_t m_port = 0;
    std::atomic<uint64_t> m_accepted{0};
    std::thread m_acceptor;
    std::list<std::unique_ptr<Connection>> m_connections;  // the acceptor's own
};

}  // namespace marl::relay
