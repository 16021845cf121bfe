// The journal: every request the array's ports received, in arrival order,
// with what a test needs to check a client's conversation: method, path,
// decoded arguments, whether it carried a live session cookie, the connection
// it came on and how it was answered. Bounded: beyond kJournalCapacity entries
// the oldest are dropped (sequence numbers keep counting). Not thread-safe.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "SimJson.h"

namespace marl::sim {

constexpr size_t kJournalCapacity = 100000;

struct JournalEntry {
    uint64_t seq = 0;
    int64_t timeMs = 0;  // since the simulator started
    uint64_t connection = 0;
    bool tls = false;
    std::string method;
    std::string path;
    std::string query;    // raw, as received
    std::string command;  // execute requests; "login" and "logout" for those
    StringPairs args;     // decoded arguments or login form fields
    std::string argsError;
    std::string body;  // raw request body
    bool liveSession = false;
    std::string session;  // session id of the cookie, or of the login's new session
    int status = 0;
    std::string key;    // reply key when the reply had one
    std::string fault;  // "<id>:<type>" of the fault that shaped the reply
};

class Journal {
  public:
    uint64_t NextSeq() const { return m_nextSeq; }
    uint64_t Add(JournalEntry entry);
    void Clear() { m_entries.clear(); }
    // Entries with seq greater than `after`, as {"next_seq": n, "entries": [...]}.
    std::string ToJson(uint64_t after) const;

  private:
    std::deque<JournalEntry> m_entries;
    uint64_t m_nextSeq = 1;
};

void WriteJournalEntry(JsonWriter& w, const JournalEntry& e);

}  // namespace marl::sim
