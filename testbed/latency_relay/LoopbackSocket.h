#pragma once
// Plain TCP sockets on loopback addresses, for the latency relay and its
// tests. Linux only, like the simulator: the relay is a tool of the native
// test bed and reaches the sockets directly.
//
// Every function returns -1 (or false) on failure and leaves errno set.
#include <cstdint>
#include <string>

namespace marl::relay {

struct Endpoint {
    std::string address;  // dotted 127.x.y.z
    uint16_t port = 0;
};

// True for a dotted IPv4 address in 127.0.0.0/8.
bool IsLoopback(const std::string& address);

// "127.x.y.z:PORT" into `endpoint`; false with `error` saying why (an address
// outside 127.0.0.0/8 is refused: the relay must never reach another host).
bool ParseEndpoint(const std::string& text, Endpoint& endpoint, std::string& error);

// A listening socket on `at` (port 0: an ephemeral one); `boundPort` receives
// the port it got.
int ListenOn(const Endpoint& at, uint16_t& boundPort);

// A connected, blocking socket to `to`, sending at once (SendAtOnce). When `cancelFd` is not -1 the
// connect gives up as soon as that descriptor turns readable.
int ConnectTo(const Endpoint& to, int cancelFd = -1);

// Turns Nagle's algorithm off on `fd`. The relay writes each chunk when its
// delay is up; with Nagle on, a chunk written while the previous one is
// unacknowledged would wait for the peer's delayed acknowledgement (up to
// 40 ms), a stall the link being imitated would not have.
void SendAtOnce(int fd);

// Sets or clears O_NONBLOCK.
bool SetNonBlocking(int fd, bool nonBlocking);

// Closes `fd` if it is open and sets it to -1.
void CloseSocket(int& fd);

}  // namespace marl::relay
