#pragma once
// The relay's work on one connection: bytes pass both ways between two
// connected sockets, each chunk written no earlier than `delay` after it was
// read, in order. Both directions share one poll loop, so a chunk waiting
// for its time never holds up the other direction, and reading goes on
// while earlier chunks wait (a long transfer pays the delay once, not once
// per chunk). An end of stream is delayed like data and passed on as a
// half-close (shutdown for writing).
//
// At most about 1 MiB waits per direction; beyond that the relay stops
// reading until the queue drains, so a slow reader slows its writer as TCP
// would. Returns when both directions have ended, a socket fails, or
// `stopFd` turns readable. The caller closes the sockets.
#include <chrono>

namespace marl::relay {

void ForwardDelayed(int client, int target, int stopFd, std::chrono::milliseconds delay);

}  // namespace marl::relay
