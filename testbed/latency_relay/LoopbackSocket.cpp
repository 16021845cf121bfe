#include "LoopbackSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace marl::relay {
namespace {

bool ToSockaddr(const Endpoint& endpoint, sockaddr_in& addr) {
    addr = sockaddr_in{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(endpoint.port);
    if (!IsLoopback(endpoint.address)) {
        errno = EADDRNOTAVAIL;
        return false;
    }
    return inet_pton(AF_INET, endpoint.address.c_str(), &addr.sin_addr) == 1;
}

// Waits for a non-blocking connect to finish; false when it failed or
// `cancelFd` turned readable first.
bool AwaitConnected(int fd, int cancelFd) {
    for (;;) {
        pollfd fds[2] = {{fd, POLLOUT, 0}, {cancelFd, POLLIN, 0}};
        const int ready = poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return false;
        if (fds[1].revents != 0) {
            errno = ECANCELED;
            return false;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
        errno = error;
        return error == 0;
    }
}

}  // namespace

bool IsLoopback(const std::string& address) {
    in_addr addr{};
    // inet_pton takes only the four-part dotted form, so "127.1" or a host
    // name never slips through as some other address.
    if (inet_pton(AF_INET, address.c_str(), &addr) != 1) return false;
    return (ntohl(addr.s_addr) >> 24) == 127;
}

bool ParseEndpoint(const std::string& text, Endpoint& endpoint, std::string& error) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        error = "'" + text + "' is not ADDRESS:PORT";
        return false;
    }
    const std::string address = text.substr(0, colon);
    const std::string port = text.substr(colon + 1);
    if (!IsLoopback(address)) {
        error = "'" + address +
                "' is not a loopback address (127.x.y.z); the relay only "
                "forwards between local endpoints";
        return false;
    }
    char* end = nullptr;
    const unsigned long number = port.empty() ? 70000 : std::strtoul(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || port[0] == '-' || port[0] == '+' || number > 65535) {
        error = "'" + port + "' is not a port number (0 to 65535)";
        return false;
    }
    endpoint = {address, static_cast<uint16_t>(number)};
    return true;
}

int ListenOn(const Endpoint& at, uint16_t& boundPort) {
    sockaddr_in addr{};
    if (!ToSockaddr(at, addr)) return -1;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    socklen_t length = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 64) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        CloseSocket(fd);
        return -1;
    }
    boundPort = ntohs(addr.sin_port);
    return fd;
}

int ConnectTo(const Endpoint& to, int cancelFd) {
    sockaddr_in addr{};
    if (!ToSockaddr(to, addr)) return -1;
    // Non-blocking, so that a target whose backlog is full cannot hold the
    // caller past a cancel.
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 &&
        !(errno == EINPROGRESS && AwaitConnected(fd, cancelFd))) {
        CloseSocket(fd);
        return -1;
    }
    if (!SetNonBlocking(fd, false)) CloseSocket(fd);
    if (fd >= 0) SendAtOnce(fd);
    return fd;
}

void SendAtOnce(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool SetNonBlocking(int fd, bool nonBlocking) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0) return false;
    return fcntl(fd, F_SETFL, nonBlocking ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
}

void CloseSocket(int& fd) {
    if (fd < 0) return;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    fd = -1;
}

}  // namespace marl::relay
