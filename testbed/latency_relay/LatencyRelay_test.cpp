// The relay between a client and an echo server on 127.0.0.1: bytes pass
// unchanged both ways, round trips cost at least what the delay says (lower
// bounds only: a loaded machine is only ever slower), connections are
// counted, held at the cap, and ended by Stop.
#include "LatencyRelay.h"

#include <gmock/gmock.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <list>
#include <thread>

namespace marl::relay {
namespace {

using Clock = std::chrono::steady_clock;

// Bounds every blocking read and write of the test's own sockets, so that a
// relay that swallowed bytes fails the test instead of hanging it.
void BoundBlocking(int fd) {
    timeval limit{20, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

// The target: echoes what each connection sends as it arrives and
// half-closes once its client has.
class EchoServer {
  public:
    EchoServer() { m_listen = ListenOn({"127.0.0.1", 0}, m_port); }
    ~EchoServer() {
        shutdown(m_listen, SHUT_RDWR);  // ends the blocking accept
        m_acceptor.join();
        for (std::thread& t : m_echoes) t.join();
        CloseSocket(m_listen);
    }
    Endpoint Address() const { return {"127.0.0.1", m_port}; }
    void Run() {
        m_acceptor = std::thread([this] {
            for (int fd; (fd = accept(m_listen, nullptr, nullptr)) >= 0;)
                m_echoes.emplace_back([fd] { Echo(fd); });
        });
    }

  private:
    static void Echo(int fd) {
        BoundBlocking(fd);
        char buffer[32 * 1024];
        ssize_t got;
        while ((got = recv(fd, buffer, sizeof buffer, 0)) > 0)
            if (send(fd, buffer, static_cast<size_t>(got), MSG_NOSIGNAL) != got) break;
        shutdown(fd, SHUT_WR);
        ::close(fd);
    }

    int m_listen = -1;
    uint16_t m_port = 0;
    std::thread m_acceptor;
    std::list<std::thread> m_echoes;
};

class RelayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GE(m_echo.Address().port, 1);
        m_echo.Run();
    }
    void StartRelay(int delayMs, int maxConnections = 64) {
        std::string error;
        ASSERT_TRUE(
            m_relay.Start({{"127.0.0.1", 0}, m_echo.Address(), delayMs, maxConnections}, error))
            << error;
    }
    int Connect() {
        int fd = ConnectTo({"127.0.0.1", m_relay.Port()});
        if (fd >= 0) BoundBlocking(fd);
        return fd;
    }

    EchoServer m_echo;
    LatencyRelay m_relay;
};

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    uint32_t state = 12345;
    for (char& c : bytes) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 16);
    return bytes;
}

bool SendAll(int fd, const std::string& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        ssize_t put = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (put <= 0) return false;
        sent += static_cast<size_t>(put);
    }
    return true;
}

// Reads until the end of the stream (or `limit` bytes, or an error).
std::string ReceiveAll(int fd, size_t limit = SIZE_MAX) {
    std::string bytes;
    char buffer[64 * 1024];
    ssize_t got;
    while (bytes.size() < limit &&
           (got = recv(fd, buffer, std::min(sizeof buffer, limit - bytes.size()), 0)) > 0)
        bytes.append(buffer, static_cast<size_t>(got));
    return bytes;
}

// Sends `payload` while reading the echo, half-closes after the last byte,
// and returns what came back up to the echo's own half-close.
std::string EchoThrough(int fd, const std::string& payload) {
    std::thread writer([&] {
        SendAll(fd, payload);
        shutdown(fd, SHUT_WR);
    });
    std::string echoed = ReceiveAll(fd);
    writer.join();
    return echoed;
}

TEST_F(RelayTest, BytesPassUnchangedBothWaysUpToTheHalfClose) {
    struct Case {
        const char* what;
        int delayMs;
        size_t size;
    } cases[] = {{"nothing but the half-close", 0, 0},
                 {"one byte, delayed", 5, 1},
                 {"more than the relay holds per direction", 0, 9 * 1024 * 1024 + 7},
                 {"a large transfer, delayed", 10, 3 * 1024 * 1024 + 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_relay.Stop();
        StartRelay(c.delayMs);
        int fd = Connect();
        ASSERT_GE(fd, 0);
        const std::string payload = Pattern(c.size);
        const std::string echoed = EchoThrough(fd, payload);
        EXPECT_EQ(echoed.size(), payload.size());
        EXPECT_TRUE(echoed == payload) << "the bytes changed on the way";
        CloseSocket(fd);
    }
}

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST_F(RelayTest, ConnectAndEveryRoundTripPayTheDelay) {
    for (int delayMs : {15, 60}) {
        SCOPED_TRACE(delayMs);
        m_relay.Stop();
        StartRelay(delayMs);
        const Clock::time_point connecting = Clock::now();
        int fd = Connect();
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(SendAll(fd, "q"));
        ASSERT_EQ(ReceiveAll(fd, 1), "q");
        // The handshake's round trip, then the request's.
        EXPECT_GE(MsSince(connecting), 4 * delayMs);
        const Clock::time_point asking = Clock::now();
        ASSERT_TRUE(SendAll(fd, "r"));
        ASSERT_EQ(ReceiveAll(fd, 1), "r");
        EXPECT_GE(MsSince(asking), 2 * delayMs);
        CloseSocket(fd);
    }
}

TEST_F(RelayTest, CountsEveryAcceptedConnection) {
    StartRelay(0);
    for (uint64_t expected = 1; expected <= 3; ++expected) {
        int fd = Connect();
        ASSERT_GE(fd, 0);
        EXPECT_EQ(EchoThrough(fd, "ping"), "ping");
        CloseSocket(fd);
        EXPECT_EQ(m_relay.Connections(), expected);
    }
}

TEST_F(RelayTest, AClientBeyondTheCapWaitsUntilAConnectionEnds) {
    StartRelay(0, 1);
    int first = Connect();
    ASSERT_GE(first, 0);
    ASSERT_TRUE(SendAll(first, "a"));
    ASSERT_EQ(ReceiveAll(first, 1), "a");
    int second = Connect();  // completes in the listen backlog
    ASSERT_GE(second, 0);
    ASSERT_TRUE(SendAll(second, "b"));
    ASSERT_TRUE(SendAll(first, "c"));  // a round trip through the relay meanwhile
    ASSERT_EQ(ReceiveAll(first, 1), "c");
    EXPECT_EQ(m_relay.Connections(), 1u) << "the second client was served beyond the cap";
    CloseSocket(first);
    EXPECT_EQ(ReceiveAll(second, 1), "b");
    EXPECT_EQ(m_relay.Connections(), 2u);
    CloseSocket(second);
}

// Waits (at most `ms`, in steps) until the relay has accepted `count`.
bool AcceptedWithin(const LatencyRelay& relay, uint64_t count, int ms) {
    for (int waited = 0; relay.Connections() < count && waited < ms; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return relay.Connections() >= count;
}

TEST_F(RelayTest, StopEndsOpenConnections) {
    struct Case {
        const char* what;
        int delayMs;
        bool sendFirst;
    } cases[] = {{"waiting for the handshake's round trip", 60000, false},
                 {"a chunk waiting for its time", 30000, true},
                 {"an idle connection", 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartRelay(c.delayMs);
        int fd = Connect();
        ASSERT_GE(fd, 0);
        if (c.sendFirst) {
            ASSERT_TRUE(SendAll(fd, "x"));
        }
        ASSERT_TRUE(AcceptedWithin(m_relay, 1, 10000)) << "the relay never took the connection";
        m_relay.Stop();
        EXPECT_EQ(ReceiveAll(fd), "") << "the connection outlived the relay";
        EXPECT_EQ(m_relay.Connections(), 1u);
        CloseSocket(fd);
    }
}

TEST(RelayEndpoint, OnlyLoopbackEndpointsWithAPortAreAccepted) {
    struct Case {
        const char* text;
        bool accepted;
        const char* why;  // part of the error
    } cases[] = {{"127.0.0.1:443", true, ""},
                 {"127.0.0.20:0", true, ""},
                 {"127.255.255.254:65535", true, ""},
                 {"10.0.0.1:443", false, "not a loopback address"},
                 {"0.0.0.0:443", false, "not a loopback address"},
                 {"localhost:443", false, "not a loopback address"},
                 {"127.1:443", false, "not a loopback address"},
                 {"[::1]:443", false, "not a loopback address"},
                 {"127.0.0.1", false, "not ADDRESS:PORT"},
                 {"127.0.0.1:", false, "not a port number"},
                 {"127.0.0.1:65536", false, "not a port number"},
                 {"127.0.0.1:-1", false, "not a port number"},
                 {"127.0.0.1:44x", false, "not a port number"}};
    for (const Case& c : cases) {
        Endpoint endpoint;
        std::string error;
        EXPECT_EQ(ParseEndpoint(c.text, endpoint, error), c.accepted) << c.text;
        EXPECT_THAT(error, ::testing::HasSubstr(c.why)) << c.text;
    }
    LatencyRelay relay;
    std::string error;
    EXPECT_FALSE(relay.Start({{"127.0.0.1", 0}, {"192.168.1.1", 443}, 0, 1}, error));
    EXPECT_THAT(error, ::testing::HasSubstr("loopback"));
}

}  // namespace
}  // namespace marl::relay
