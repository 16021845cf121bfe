#include "ArrayService.h"

#include "HttpText.h"
#include "StateWriter.h"

namespace marl::sim {

namespace {

constexpr char kJson[] = "application/json";

HttpReplyPlan Reply(int status, std::string body) {
    HttpReplyPlan plan;
    plan.status = status;
    plan.body = std::move(body);
    return plan;
}

std::string KeyInfoBody(const std::string& key, const std::string& info) {
    return BuildJson([&](JsonWriter& w) {
        w.StartObject();
        FieldText(w, "key", key);
        FieldText(w, "info", info);
        w.EndObject();
    });
}

// A reply that stops in the middle of its "data" member.
std::string MalformedBody(const std::string& request) {
    return "{\"request\": \"" + request + "\", \"info\": \"Success\", \"key\": \"MC_OK\", " +
           "\"data\": {\"broken\": {\"scsi_sn\": \"60014";
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// "<prefix><command>/" to the command; empty when the path is not of that form.
std::string CommandOfPath(const std::string& path) {
    std::string rest = path.substr(std::char_traits<char>::length(kExecutePrefix));
    if (rest.size() < 2 || rest.back() != '/') return "";
    rest.pop_back();
    return rest.find('/') == std::string::npos ? rest : "";
}

// Whether the array still does the work of a request that a fault shapes: a
// delay or a cut-off reply happens after the work, and "execute" asks for the
// work to be done before the reply is replaced or lost.
bool RequestRuns(bool faulted, const FaultRule& rule) {
    return !faulted || rule.execute || rule.type == FaultType::Delay ||
           rule.type == FaultType::Truncate;
}

// The answer a status, key, malformed, raw or redirect fault gives instead of
// the array's own.
void ReplaceReply(const FaultRule& rule, const std::string& command, HttpReplyPlan& plan) {
    plan.status = 200;
    if (rule.type == FaultType::Status) {
        plan.status = rule.status ? rule.status : 500;
        plan.body =
            !rule.body.empty()
                ? rule.body
                : KeyInfoBody("MC_HTTP_ERROR", "injected status " + std::to_string(plan.status));
    } else if (rule.type == FaultType::Key) {
        plan.body = command == "login" ? KeyInfoBody(rule.key, rule.info)
                                       : Envelope(command, rule.info, rule.key, "{}");
    } else if (rule.type == FaultType::Malformed) {
        plan.body = MalformedBody(command);
    } else if (rule.type == FaultType::Raw) {
        plan.status = rule.status ? rule.status : 200;
        plan.body = rule.body;
        plan.contentType = rule.contentType.empty() ? kJson : rule.contentType;
    } else if (rule.type == FaultType::Redirect) {
        plan.status = rule.status ? rule.status : 307;
        plan.location = rule.location;
        plan.body = KeyInfoBody("MC_MOVED", "moved to " + rule.location);
    }
}

}  // namespace

std::string Envelope(const std::string& request, const std::string& info, const std::string& key,
                     const std::string& data) {
    // Assembled by hand: the data of a large listing is copied once, not
    // re-read character by character by a writer.
    std::string out;
    out.reserve(data.size() + request.size() + info.size() + key.size() + 64);
    out += "{\"request\":";
    AppendJsonString(out, request);
    out += ",\"info\":";
    AppendJsonString(out, info);
    out += ",\"key\":";
    AppendJsonString(out, key);
    out += ",\"data\":";
    out += data;
    out += '}';
    return out;
}

ArrayService::ArrayService(Inventory initial, LoginSettings login)
    : m_initial(std::move(initial)),
      m_inv(m_initial),
      m_initialLogin(login),
      m_login(std::move(login)),
      m_start(std::chrono::steady_clock::now()) {}

JournalEntry ArrayService::StartEntry(const HttpRequestInfo& request) {
    JournalEntry entry;
    entry.timeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - m_start)
                       .count();
    entry.connection = request.connection;
    entry.tls = request.tls;
    entry.method = request.method;
    entry.path = request.path;
    entry.query = QueryOf(request.target);
    entry.body = request.body;
    entry.session = CookieValue(request.cookieHeader, kSessionCookie);
    entry.liveSession = m_sessions.Find(entry.session) != nullptr;
    return entry;
}

HttpReplyPlan ArrayService::Handle(const HttpRequestInfo& request) {
    std::lock_guard<std::mutex> lock(m_mutex);
    JournalEntry entry = StartEntry(request);
    HttpReplyPlan plan;
    if (request.method == "POST" && request.path == kLoginPath) {
        plan = HandleLogin(request, entry);
    } else if (request.method == "GET" && StartsWith(request.path, kExecutePrefix)) {
        plan = HandleExecute(request, entry);
    } else if (request.method == "GET" && request.path == kLogoutPath) {
        plan = HandleLogout(entry);
    } else {
        plan = Reply(404, KeyInfoBody("MC_NOT_FOUND", "no such path: " + request.path));
    }
    entry.status = plan.action == ReplyAction::Drop ? 0 : plan.status;
    m_journal.Add(std::move(entry));
    return plan;
}

void ArrayService::ShapeByFault(const FaultRule& rule, HttpReplyPlan& plan,
                                JournalEntry& entry) const {
    entry.fault = std::to_string(rule.id) + ":" + FaultTypeName(rule.type);
    plan.delayMs = rule.delayMs;
    if (rule.type == FaultType::Delay) return;
    if (rule.type == FaultType::Truncate) {
        plan.action = ReplyAction::Truncate;
        return;
    }
    if (rule.type == FaultType::Drop) {
        plan.action = ReplyAction::Drop;
        entry.key.clear();
        return;
    }
    if (rule.type == FaultType::Stream) {
        plan.action = ReplyAction::Stream;
        plan.status = rule.status ? rule.status : 200;
        plan.streamBytes = rule.length;
        plan.body.clear();
        entry.key.clear();
        return;
    }
    ReplaceReply(rule, entry.command, plan);
    entry.key = rule.type == FaultType::Key ? rule.key : "";
}

HttpReplyPlan ArrayService::HandleLogin(const HttpRequestInfo& request, JournalEntry& entry) {
    entry.command = "login";
    entry.args = ParseForm(request.body);
    FaultRule rule;
    bool faulted = m_faults.Take("login", false, rule);
    bool runs = RequestRuns(faulted, rule);
    HttpReplyPlan plan = runs ? LoginOutcome(entry) : HttpReplyPlan{};
    if (faulted) ShapeByFault(rule, plan, entry);
    return plan;
}

HttpReplyPlan ArrayService::LoginOutcome(JournalEntry& entry) {
    const std::string* user = entry.args.Find("user_name");
    const std::string* password = entry.args.Find("password");
    if (!user || !password || *user != m_login.userName || *password != m_login.password) {
        entry.key = "LOGIN_FAILED";
        return Reply(401, KeyInfoBody("LOGIN_FAILED", "wrong user name or password"));
    }
    std::string id = m_sessions.Open(*user, entry.connection, m_journal.NextSeq());
    entry.session = id;
    rapidjson::Document reply;
    std::string ignored;
    if (ParseDocument(m_login.replyJson, reply, ignored)) entry.key = MemberText(reply, "key");
    HttpReplyPlan plan = Reply(200, m_login.replyJson);
    plan.setCookie = std::string(kSessionCookie) + "=" + id + "; Path=/; HttpOnly";
    return plan;
}

HttpReplyPlan ArrayService::HandleExecute(const HttpRequestInfo& request, JournalEntry& entry) {
    entry.command = CommandOfPath(request.path);
    if (entry.command.empty()) {
        return Reply(404, KeyInfoBody("MC_NOT_FOUND", "no such path: " + request.path));
    }
    ParseArgsQuery(entry.query, entry.args, entry.argsError);
    LoginSession* session = m_sessions.Find(entry.session);
    if (!session) {
        entry.key = "MC_NOT_AUTHENTICATED";
        return Reply(401, KeyInfoBody(entry.key, "log in first"));
    }
    ++session->commands;
    FaultRule rule;
    bool faulted = m_faults.Take(entry.command, true, rule);
    bool runs = RequestRuns(faulted, rule);
    HttpReplyPlan plan = runs ? CommandOutcome(entry) : HttpReplyPlan{};
    if (faulted) ShapeByFault(rule, plan, entry);
    return plan;
}

HttpReplyPlan ArrayService::CommandOutcome(JournalEntry& entry) {
    CommandResult result;
    CommandFn fn = ArrayCommands().Find(entry.command);
    if (!entry.argsError.empty()) {
        result = Failure(keys::kInvalidArgument, entry.argsError);
    } else if (!fn) {
        result = Failure(keys::kUnknownCommand, "unknown command " + entry.command);
    } else {
        result = fn(m_inv, entry.args);
    }
    entry.key = result.key;
    return Reply(200, Envelope(entry.command, result.info, result.key, result.data));
}

HttpReplyPlan ArrayService::HandleLogout(JournalEntry& entry) {
    entry.command = "logout";
    FaultRule rule;
    bool faulted = m_faults.Take("logout", false, rule);
    bool runs = RequestRuns(faulted, rule);
    HttpReplyPlan plan;
    if (runs) {
        bool closed = m_sessions.Close(entry.session);
        entry.key = "LOGOUT_SUCCESSFUL";
        plan = Reply(200, KeyInfoBody(entry.key, closed ? "logged out" : "no session to end"));
        plan.setCookie = std::string(kSessionCookie) + "=; Path=/; Max-Age=0";
    }
    if (faulted) ShapeByFault(rule, plan, entry);
    return plan;
}

}  // namespace marl::sim
