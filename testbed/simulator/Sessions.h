// Login sessions of the management service. A successful login opens one and
// hands its id to the client as the "sessionid" cookie; commands need a live
// one; logout (or the control interface) ends it. Not thread-safe: the
// service's lock guards it.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace marl::sim {

constexpr char kSessionCookie[] = "sessionid";

struct LoginSession {
    std::string id;
    std::string userName;
    uint64_t connection = 0;  // connection the login came on
    uint64_t loginSeq = 0;    // journal sequence number of the login
    uint64_t commands = 0;    // commands run under this session
};

class SessionTable {
  public:
    SessionTable();
    // Opens a session and returns its id (32 random hex digits).
    std::string Open(const std::string& userName, uint64_t connection, uint64_t loginSeq);
    LoginSession* Find(const std::string& id);
    bool Close(const std::string& id);
    void Clear() { m_sessions.clear(); }
    const std::vector<LoginSession>& All() const { return m_sessions; }

  private:
    std::vector<LoginSession> m_sessions;
    std::mt19937_64 m_random;
};

}  // namespace marl::sim
