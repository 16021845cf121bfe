// What the server does to the socket of the connection a request came on,
// beyond what cpp-httplib offers: dropping the connection, and acknowledging
// a request's headers at once. cpp-httplib does not hand the socket to
// handlers, so a plain connection's socket is found among the process's open
// descriptors by its two port numbers (unique on loopback while the
// connection is open); a TLS connection's is the one its SSL object reads.
// Linux only, like the rest of the simulator.
#include <arpa/inet.h>
#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <cstdlib>

#include "HttpFrontend.h"

namespace marl::sim {

namespace {

int PortOf(const sockaddr_storage& addr) {
    if (addr.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in&>(addr).sin_port);
    }
    if (addr.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6&>(addr).sin6_port);
    }
    return -1;
}

bool IsConnection(int fd, int localPort, int remotePort) {
    sockaddr_storage local{}, peer{};
    socklen_t localLen = sizeof local, peerLen = sizeof peer;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLen) != 0) return false;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0) return false;
    return PortOf(local) == localPort && PortOf(peer) == remotePort;
}

// The accepted socket between the two ports, or -1.
int FindConnectionSocket(int localPort, int remotePort) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    int found = -1;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        int fd = std::atoi(entry->d_name);
        if (fd != dirfd(dir) && IsConnection(fd, localPort, remotePort)) {
            found = fd;
            break;
        }
    }
    closedir(dir);
    return found;
}

// The socket of the request's connection. A connection is served on one
// worker thread from its first request to its last, so the plain socket is
// looked up once per connection and kept for the thread.
int SocketOf(const httplib::Request& req) {
    if (req.ssl) return SSL_get_fd(req.ssl);
    thread_local uint64_t connection = 0;
    thread_local int socket = -1;
    const uint64_t current = CurrentConnectionId();
    if (current == 0 || current != connection) {
        socket = FindConnectionSocket(req.local_port, req.remote_port);
        connection = socket >= 0 ? current : 0;
    }
    return socket;
}

}  // namespace

bool DropConnection(int localPort, int remotePort) {
    const int fd = FindConnectionSocket(localPort, remotePort);
    // Shut down rather than close: the server still owns the descriptor and
    // closes it itself.
    return fd >= 0 && shutdown(fd, SHUT_RDWR) == 0;
}

void AcknowledgeAtOnce(const httplib::Request& req) {
    const int fd = SocketOf(req);
    if (fd < 0) return;
    // Sends the acknowledgement now if one is pending; not sticky, so it is
    // asked again for every request.
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

}  // namespace marl::sim
