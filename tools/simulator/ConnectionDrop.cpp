// Dropping a connection from inside a request handler. cpp-httplib does not
// hand the socket to handlers, so the socket is found among the process's
// open descriptors by its two port numbers (unique on loopback while the
// connection is open). Linux only, like the rest of the simulator.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
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

}  // namespace

bool DropConnection(int localPort, int remotePort) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return false;
    bool dropped = false;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        int fd = std::atoi(entry->d_name);
        if (fd != dirfd(dir) && IsConnection(fd, localPort, remotePort)) {
            // Shut down rather than close: the server still owns the
            // descriptor and closes it itself.
            dropped = shutdown(fd, SHUT_RDWR) == 0;
            break;
        }
    }
    closedir(dir);
    return dropped;
}

}  // namespace marl::sim
