// The management service itself, independent of the HTTP server that carries
// it: login, execute and logout with session cookies, the inventory and its
// commands, injected faults and the journal. One lock serialises every
// request and control call, so a request sees and leaves a consistent
// inventory. Thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "Commands.h"
#include "Faults.h"
#include "Inventory.h"
#include "Journal.h"
#include "Scenario.h"
#include "Sessions.h"

namespace marl::sim {

constexpr char kLoginPath[] = "/main/services/login/";
constexpr char kExecutePrefix[] = "/main/services/execute/";
constexpr char kLogoutPath[] = "/logout/";

struct LoginSettings {
    std::string userName = "admin";
    std::string password = "password";
    // The whole login reply, written verbatim: members may be left out,
    // repeated or given as numbers to exercise a client's login checks.
    std::string replyJson =
        R"({"key":"LOGIN_SUCCESSFUL","vss_api_version":"4","version":"8.0.1.12"})";
};

struct HttpRequestInfo {
    std::string method;
    std::string target;  // raw request target, path and query
    std::string path;    // path without the query
    std::string body;
    std::string cookieHeader;
    uint64_t connection = 0;
    bool tls = false;
};

enum class ReplyAction { Respond, Drop, Truncate, Stream };

struct HttpReplyPlan {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::string setCookie;
    std::string location;       // a redirect's Location header
    long long streamBytes = 0;  // Stream: made as it is sent, never held
    int delayMs = 0;
    ReplyAction action = ReplyAction::Respond;
};

class ArrayService {
  public:
    ArrayService(Inventory initial, LoginSettings login);

    HttpReplyPlan Handle(const HttpRequestInfo& request);

    // Control. Reset brings back the start-up inventory and login settings
    // and forgets sessions, journal and faults. Loading a scenario or
    // generating an inventory does the same with that inventory instead; a
    // later Reset returns to the start-up one.
    void Reset();
    bool LoadScenarioText(const std::string& text, std::string& error);
    void Generate(const InventoryFigures& figures);
    uint64_t AddFault(const FaultRule& rule);
    void ClearFaults(const std::string& target);
    std::string FaultsJson();
    std::string JournalJson(uint64_t after);
    void ClearJournal();
    std::string StateJson();
    void SetLogin(const LoginSettings& login);
    LoginSettings Login();
    size_t ExpireSessions();

  private:
    HttpReplyPlan HandleLogin(const HttpRequestInfo& request, JournalEntry& entry);
    HttpReplyPlan LoginOutcome(JournalEntry& entry);
    HttpReplyPlan HandleExecute(const HttpRequestInfo& request, JournalEntry& entry);
    HttpReplyPlan CommandOutcome(JournalEntry& entry);
    HttpReplyPlan HandleLogout(JournalEntry& entry);
    void ShapeByFault(const FaultRule& rule, HttpReplyPlan& plan, JournalEntry& entry) const;
    JournalEntry StartEntry(const HttpRequestInfo& request);
    void ResetLocked();
    void WriteSessions(JsonWriter& w) const;

    std::mutex m_mutex;
    Inventory m_initial;
    Inventory m_inv;
    LoginSettings m_initialLogin;
    LoginSettings m_login;
    SessionTable m_sessions;
    Journal m_journal;
    FaultTable m_faults;
    std::chrono::steady_clock::time_point m_start;
};

// {"user_name": ..., "password": ..., "reply": {...}}
void WriteLoginSettings(JsonWriter& w, const LoginSettings& login);

// {"request": ..., "info": ..., "key": ..., "data": <data>}
std::string Envelope(const std::string& request, const std::string& info, const std::string& key,
                     const std::string& data);

}  // namespace marl::sim
