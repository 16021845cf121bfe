#include "Sessions.h"

#include <algorithm>
#include <cstdio>

namespace marl::sim {

SessionTable::SessionTable() : m_random(std::random_device{}()) {}

std::string SessionTable::Open(const std::string& userName, uint64_t connection,
                               uint64_t loginSeq) {
    char id[40];
    std::snprintf(id, sizeof id, "%016llx%016llx", static_cast<unsigned long long>(m_random()),
                  static_cast<unsigned long long>(m_random()));
    m_sessions.push_back({id, userName, connection, loginSeq, 0});
    return id;
}

LoginSession* SessionTable::Find(const std::string& id) {
    if (id.empty()) return nullptr;
    auto it = std::find_if(m_sessions.begin(), m_sessions.end(),
                           [&](const LoginSession& s) { return s.id == id; });
    return it == m_sessions.end() ? nullptr : &*it;
}

bool SessionTable::Close(const std::string& id) {
    auto it = std::find_if(m_sessions.begin(), m_sessions.end(),
                           [&](const LoginSession& s) { return s.id == id; });
    if (it == m_sessions.end()) return false;
    m_sessions.erase(it);
    return true;
}

}  // namespace marl::sim
