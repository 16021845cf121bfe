#pragma once
// An HTTP client that sends the provider's connections somewhere else.
//
// The provider always connects to its array on port 443 (HTTPS) or 80 (HTTP).
// A simulator on loopback listens on ports of its own choosing, so the
// harness, the integration tests and the benchmarks give the provider this
// client: every step goes to the build's real backend unchanged, except that
// a connection to port 443 goes to `httpsPort` and one to port 80 to
// `httpPort` (a port of 0 leaves that one as it is).
#include <cstdint>
#include <memory>

#include "platform/http_client.h"

namespace marl::harness {

struct PortRedirect {
    uint16_t httpsPort = 0;
    uint16_t httpPort = 0;
};

// Clients over the real backend (CreateHttpClient) with the redirect applied.
marl::platform::HttpClientFactory RedirectingFactory(PortRedirect redirect);

// The same over clients of another factory.
marl::platform::HttpClientFactory RedirectingFactory(PortRedirect redirect,
                                                     marl::platform::HttpClientFactory inner);

// The exchanges (sessions) that clients of this process's redirecting
// factories have made, and the wall time spent in them, from opening the
// session to closing it; the benchmark counts them against the journal and
// takes their time out of the provider's. `commands` counts the array
// commands sent (requests on the command path, logins and logouts left out),
// `connections` the connects asked for; the harness prints both.
struct ExchangeTally {
    uint64_t sessions = 0;
    uint64_t micros = 0;
    uint64_t commands = 0;
    uint64_t connections = 0;
};
ExchangeTally RedirectedExchanges();

}  // namespace marl::harness
