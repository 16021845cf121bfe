// The control side of the service: what tests and support engineers use to
// set the array up, break it on purpose, and look inside.
#include "ArrayService.h"
#include "StateWriter.h"

namespace marl::sim {

void ArrayService::ResetLocked() {
    m_inv = m_initial;
    m_login = m_initialLogin;
    m_sessions.Clear();
    m_journal.Clear();
    m_faults.Clear("");
}

void ArrayService::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ResetLocked();
}

bool ArrayService::LoadScenarioText(const std::string& text, std::string& error) {
    Inventory loaded;
    if (!LoadScenario(text, loaded, error)) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    ResetLocked();
    m_inv = std::move(loaded);
    return true;
}

void ArrayService::Generate(const InventoryFigures& figures) {
    Inventory generated;
    GenerateInventory(figures, generated);
    std::lock_guard<std::mutex> lock(m_mutex);
    ResetLocked();
    m_inv = std::move(generated);
}

uint64_t ArrayService::AddFault(const FaultRule& rule) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_faults.Add(rule);
}

void ArrayService::ClearFaults(const std::string& target) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.Clear(target);
}

std::string ArrayService::FaultsJson() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_faults.ToJson();
}

std::string ArrayService::JournalJson(uint64_t after) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_journal.ToJson(after);
}

void ArrayService::ClearJournal() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_journal.Clear();
}

void ArrayService::SetLogin(const LoginSettings& login) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_login = login;
}

LoginSettings ArrayService::Login() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_login;
}

size_t ArrayService::ExpireSessions() {
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t count = m_sessions.All().size();
    m_sessions.Clear();
    return count;
}

void ArrayService::WriteSessions(JsonWriter& w) const {
    w.Key("sessions");
    w.StartArray();
    for (const auto& s : m_sessions.All()) {
        w.StartObject();
        FieldText(w, "id", s.id);
        FieldText(w, "user_name", s.userName);
        FieldUint(w, "connection", s.connection);
        FieldUint(w, "login_seq", s.loginSeq);
        FieldUint(w, "commands", s.commands);
        w.EndObject();
    }
    w.EndArray();
}

void WriteLoginSettings(JsonWriter& w, const LoginSettings& login) {
    w.StartObject();
    FieldText(w, "user_name", login.userName);
    FieldText(w, "password", login.password);
    w.Key("reply");
    w.RawValue(login.replyJson.c_str(), login.replyJson.size(), rapidjson::kObjectType);
    w.EndObject();
}

std::string ArrayService::StateJson() {
    std::lock_guard<std::mutex> lock(m_mutex);
    rapidjson::StringBuffer buffer;
    JsonWriter w(buffer);
    w.StartObject();
    w.Key("inventory");
    w.StartObject();
    WriteInventoryMembers(w, m_inv);
    w.EndObject();
    WriteSessions(w);
    w.Key("login");
    WriteLoginSettings(w, m_login);
    FieldUint(w, "journal_next_seq", m_journal.NextSeq());
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace marl::sim
