#include "LatencyRelay.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "DelayedForwarding.h"

namespace marl::relay {
namespace {

// How often a relay at its connection cap looks for ended connections.
constexpr int kFullPollMs = 20;

// True when `stopFd` turned readable within `ms`.
bool StopWithin(int stopFd, int ms) {
    pollfd entry{stopFd, POLLIN, 0};
    int ready;
    do ready = poll(&entry, 1, ms);
    while (ready < 0 && errno == EINTR);
    return ready != 0;
}

}  // namespace

LatencyRelay::~LatencyRelay() { Stop(); }

bool LatencyRelay::Start(const RelayOptions& options, std::string& error) {
    if (m_acceptor.joinable()) {
        error = "the relay is already running";
        return false;
    }
    if (!IsLoopback(options.listen.address) || !IsLoopback(options.target.address)) {
        error = "the relay only listens on and forwards to loopback addresses (127.x.y.z)";
        return false;
    }
    if (options.delayMs < 0 || options.maxConnections < 1) {
        error = "the delay must not be negative and at least one connection must be allowed";
        return false;
    }
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    m_listen = ListenOn(options.listen, m_port);
    if (m_listen < 0) {
        error = "cannot listen on " + options.listen.address + ":" +
                std::to_string(options.listen.port) + ": " + std::strerror(errno);
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        return false;
    }
    m_stopRead = pipeEnds[0];
    m_stopWrite = pipeEnds[1];
    m_options = options;
    m_accepted = 0;
    m_acceptor = std::thread([this] { AcceptLoop(); });
    return true;
}

void LatencyRelay::Stop() {
    if (!m_acceptor.joinable()) return;
    // Never drained: every loop polling it wakes now and on every later turn.
    const char stop = 1;
    while (::write(m_stopWrite, &stop, 1) < 0 && errno == EINTR) {
    }
    m_acceptor.join();
    CloseSocket(m_listen);
    CloseSocket(m_stopRead);
    CloseSocket(m_stopWrite);
}

void LatencyRelay::AcceptLoop() {
    for (;;) {
        Reap(false);
        const bool room = m_connections.size() < static_cast<size_t>(m_options.maxConnections);
        pollfd fds[2] = {{m_stopRead, POLLIN, 0}, {room ? m_listen : -1, POLLIN, 0}};
        const int ready = poll(fds, 2, room ? -1 : kFullPollMs);
        if (ready < 0 && errno != EINTR) break;
        if (fds[0].revents != 0) break;
        if (fds[1].revents & POLLIN) AcceptOne();
    }
    Reap(true);
}

void LatencyRelay::AcceptOne() {
    const int client = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;  // the client gave up meanwhile, or out of descriptors
    ++m_accepted;
    SendAtOnce(client);
    auto connection = std::make_unique<Connection>();
    connection->client = client;
    Connection& started = *connection;
    m_connections.push_back(std::move(connection));
    started.thread = std::thread([this, &started] { Serve(started); });
}

void LatencyRelay::Serve(Connection& connection) {
    // The client's connect returned at once; its first bytes go on only
    // after the round trip a handshake with the far end would have taken.
    int target = -1;
    if (!StopWithin(m_stopRead, 2 * m_options.delayMs))
        target = ConnectTo(m_options.target, m_stopRead);
    if (target >= 0) {
        ForwardDelayed(connection.client, target, m_stopRead,
                       std::chrono::milliseconds(m_options.delayMs));
    }
    CloseSocket(target);
    CloseSocket(connection.client);
    connection.done = true;
}

void LatencyRelay::Reap(bool all) {
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        if (all || (*it)->done) {
            (*it)->thread.join();
            it = m_connections.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace marl::relay
