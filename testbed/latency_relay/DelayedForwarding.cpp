#include "DelayedForwarding.h"

#include <poll.h>
#include <sys/socket.h>
#include <time.h>

#include <cerrno>
#include <deque>
#include <string>

namespace marl::relay {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadSize = 64 * 1024;
constexpr size_t kHeldLimit = 1024 * 1024;

struct Chunk {
    Clock::time_point due;
    std::string bytes;  // empty: the end of the stream
    size_t sent = 0;
};

// One direction: what was read from `from` and waits to be written to `to`.
class Direction {
  public:
    Direction(int from, int to, Clock::duration delay) : m_from(from), m_to(to), m_delay(delay) {}

    bool WantsRead() const { return !m_readEnded && m_held < kHeldLimit; }
    bool Due(Clock::time_point now) const { return !m_queue.empty() && m_queue.front().due <= now; }
    bool Finished() const { return m_writeEnded; }
    // Time until the first waiting chunk is due, or a negative time (none
    // waits for its time).
    Clock::duration UntilDue(Clock::time_point now) const {
        if (m_queue.empty() || m_queue.front().due <= now) return Clock::duration(-1);
        return m_queue.front().due - now;
    }

    // False when the connection broke.
    bool Read(Clock::time_point now) {
        char buffer[kReadSize];
        const ssize_t got = recv(m_from, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        if (got == 0) m_readEnded = true;
        m_queue.push_back({now + m_delay, std::string(buffer, static_cast<size_t>(got))});
        m_held += static_cast<size_t>(got);
        return true;
    }

    // Writes what is due until the socket would block. False when the
    // connection broke.
    bool Write(Clock::time_point now) {
        while (Due(now)) {
            Chunk& chunk = m_queue.front();
            if (chunk.bytes.empty()) {
                shutdown(m_to, SHUT_WR);
                m_writeEnded = true;
                m_queue.pop_front();
                return true;
            }
            const ssize_t put = send(m_to, chunk.bytes.data() + chunk.sent,
                                     chunk.bytes.size() - chunk.sent, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (put < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            chunk.sent += static_cast<size_t>(put);
            if (chunk.sent < chunk.bytes.size()) return true;
            m_held -= chunk.bytes.size();
            m_queue.pop_front();
        }
        return true;
    }

  private:
    int m_from;
    int m_to;
    Clock::duration m_delay;
    std::deque<Chunk> m_queue;
    size_t m_held = 0;  // bytes read and not yet written
    bool m_readEnded = false;
    bool m_writeEnded = false;
};

// What to poll `fd` for: reading for the direction out of it, writing for
// the one into it once a chunk is due. -1 as the descriptor when neither, so
// that a closed peer's POLLHUP cannot spin the loop.
pollfd PollEntry(int fd, const Direction& out, const Direction& in, Clock::time_point now) {
    short events = 0;
    if (out.WantsRead()) events |= POLLIN;
    if (in.Due(now)) events |= POLLOUT;
    return {events != 0 ? fd : -1, events, 0};
}

// The wait until the next chunk falls due, to the nanosecond: a wait in
// whole milliseconds, rounded up, would add up to a millisecond to every
// forward, several per request, and show as latency the link does not have.
// False when no chunk waits for its time.
bool EarliestTimeout(const Direction& a, const Direction& b, Clock::time_point now,
                     timespec& timeout) {
    Clock::duration first = a.UntilDue(now);
    const Clock::duration second = b.UntilDue(now);
    if (first.count() < 0 || (second.count() >= 0 && second < first)) first = second;
    if (first.count() < 0) return false;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(first).count();
    timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
    timeout.tv_nsec = static_cast<long>(ns % 1000000000);
    return true;
}

constexpr short kReadable = POLLIN | POLLHUP | POLLERR;
constexpr short kWritable = POLLOUT | POLLHUP | POLLERR;

// Serves what poll reported for one direction; false when it broke.
bool Serve(Direction& direction, short fromEvents, short toEvents, Clock::time_point now) {
    if ((fromEvents & kReadable) && direction.WantsRead() && !direction.Read(now)) return false;
    return !(toEvents & kWritable) || direction.Write(now);
}

}  // namespace

void ForwardDelayed(int client, int target, int stopFd, std::chrono::milliseconds delay) {
    Direction up(client, target, delay);
    Direction down(target, client, delay);
    while (!(up.Finished() && down.Finished())) {
        Clock::time_point now = Clock::now();
        pollfd fds[3] = {{stopFd, POLLIN, 0},
                         PollEntry(client, up, down, now),
                         PollEntry(target, down, up, now)};
        timespec timeout{};
        const bool timed = EarliestTimeout(up, down, now, timeout);
        const int ready = ppoll(fds, 3, timed ? &timeout : nullptr, nullptr);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || fds[0].revents != 0) return;
        now = Clock::now();
        if (!Serve(up, fds[1].revents, fds[2].revents, now) ||
            !Serve(down, fds[2].revents, fds[1].revents, now))
            return;
        // A chunk that fell due during the wait is written on the next turn
        // once poll says its socket takes it.
    }
}

}  // namespace marl::relay
