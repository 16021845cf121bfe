#include "Journal.h"

namespace marl::sim {

uint64_t Journal::Add(JournalEntry entry) {
    entry.seq = m_nextSeq++;
    m_entries.push_back(std::move(entry));
    if (m_entries.size() > kJournalCapacity) m_entries.pop_front();
    return m_entries.back().seq;
}

void WriteJournalEntry(JsonWriter& w, const JournalEntry& e) {
    w.StartObject();
    FieldUint(w, "seq", e.seq);
    FieldInt(w, "time_ms", e.timeMs);
    FieldUint(w, "connection", e.connection);
    FieldBool(w, "tls", e.tls);
    FieldText(w, "method", e.method);
    FieldText(w, "path", e.path);
    FieldText(w, "query", e.query);
    FieldText(w, "command", e.command);
    w.Key("args");
    WritePairsObject(w, e.args);
    if (!e.argsError.empty()) {
        FieldText(w, "args_error", e.argsError);
    }
    FieldText(w, "body", e.body);
    FieldBool(w, "live_session", e.liveSession);
    FieldText(w, "session", e.session);
    FieldInt(w, "status", e.status);
    FieldText(w, "key", e.key);
    FieldText(w, "fault", e.fault);
    w.EndObject();
}

std::string Journal::ToJson(uint64_t after) const {
    rapidjson::StringBuffer buffer;
    JsonWriter w(buffer);
    w.StartObject();
    FieldUint(w, "next_seq", m_nextSeq);
    w.Key("entries");
    w.StartArray();
    for (const auto& e : m_entries) {
        if (e.seq > after) WriteJournalEntry(w, e);
    }
    w.EndArray();
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace marl::sim
