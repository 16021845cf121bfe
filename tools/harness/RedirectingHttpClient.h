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

// How many exchanges (sessions opened) clients of this process's redirecting
// factories have made; the benchmark counts them against the journal.
uint64_t RedirectedSessionCount();

}  // namespace marl::harness
