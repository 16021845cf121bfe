#include "provider/array/ArrayTransport.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "common/QVssLog.h"
#include "json/JsonNode.h"

static constexpr char kLogUnit[] = "QProviderInterface";

using marl::platform::HttpClient;
using marl::platform::HttpHandle;

namespace {

constexpr char kModule[] = "PROVIDER";
constexpr int kAttempts = 5;
constexpr uint32_t kStatusOk = 200;
constexpr uint32_t kLoginSecurityFlags =
    marl::platform::kHttpIgnoreUnknownCa | marl::platform::kHttpIgnoreCertCnInvalid;  // 0x1100
constexpr wchar_t kLoginPath[] = L"/main/services/login/";
constexpr wchar_t kExecutePath[] = L"/main/services/execute/";
constexpr wchar_t kLogoutPath[] = L"/logout/";
constexpr wchar_t kFormHeader[] = L"Content-Type: application/x-www-form-urlencoded";
// A reply the JSON reader would refuse for its length is not worth holding:
// reading stops there, so that an endpoint streaming without end cannot
// exhaust the host's memory.
constexpr size_t kMaxBodyBytes = marl::json::kMaxTextBytes;
constexpr wchar_t kLoginName[] = L"login";

// Narrow settings reach the HTTP client widened character by character.
std::wstring WidenByChar(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}

}  // namespace

// What tells the two senders apart; everything else is shared.
struct marl::array::ArrayTransport::SenderProfile {
    const char* function;
    const char* entryFormat;
    const wchar_t* userAgent;
    uint16_t port;
    bool secure;
    const char* commandStatusError;  // reading the command's status failed
};

namespace {

const marl::array::ArrayTransport::SenderProfile kHttpsSender{
    "CQProvider::SendQ9HttpsRequest",
    "SendQ9HttpsRequest: %s / %S / %S ? %S",
    L"QVssProvider HTTP Client",
    443,
    true,
    "Error ('%d') has occurred XXXXX ."};

const marl::array::ArrayTransport::SenderProfile kHttpSender{
    "CQProvider::SendNxaHttpRequest",
    "SendNxaHttpRequest: %s / %S / %S ? %S",
    L"MarlVssProvider HTTP Client",
    80,
    false,
    "Error ('%d') has occurred."};

}  // namespace

void winHttpStatusCallback(uint32_t failureFlags) {
    QVSS_LOG("winHttpStatusCallback", kModule, QLOG_ERROR, "winHttpStatusCallback test: 0x%X",
             failureFlags);
}

// One attempt: its four handles, its login text, its steps.
class marl::array::ArrayTransport::Attempt {
  public:
    Attempt(marl::array::ArrayTransport& transport, const SenderProfile& profile,
            HttpClient& client)
        : m_transport(transport), m_profile(profile), m_client(client) {}
    ~Attempt() { CloseHandles(); }
    Attempt(const Attempt&) = delete;
    Attempt& operator=(const Attempt&) = delete;

    uint32_t Run(const std::wstring& command, const std::wstring& args, std::string& reply);
    // Login request, command-or-logout request, connection, session: each
    // only if it was opened.
    void CloseHandles();

  private:
    uint32_t OpenConnection();
    uint32_t Login();
    uint32_t RunCommand(const std::wstring& command, const std::wstring& args, std::string& reply);
    uint32_t Logout();
    bool ReadBody(HttpHandle request, const wchar_t* name, std::string& target);
    bool AppendChunk(std::string& target, const char* chunk);
    bool FitsTheLimit(const wchar_t* name, const std::string& target, const char* chunk);
    bool QueryStatus(HttpHandle request, const char* failureFormat, uint32_t* status);
    bool AdmitsLogin(const std::string& loginText);
    void Close(HttpHandle& handle);
    // Logs ERROR `format` with the client's error number of the failed step.
    void LogStepError(const char* format);

    marl::array::ArrayTransport& m_transport;
    const SenderProfile& m_profile;
    HttpClient& m_client;
    HttpHandle m_session = nullptr;
    HttpHandle m_connection = nullptr;
    HttpHandle m_loginRequest = nullptr;
    HttpHandle m_request = nullptr;  // the command's, then the logout's
};

void marl::array::ArrayTransport::Attempt::LogStepError(const char* format) {
    QVSS_LOG(m_profile.function, kModule, QLOG_ERROR, format,
             static_cast<int>(m_client.LastError()));
}

void marl::array::ArrayTransport::Attempt::Close(HttpHandle& handle) {
    if (handle) m_client.CloseHandle(handle);
    handle = nullptr;
}

void marl::array::ArrayTransport::Attempt::CloseHandles() {
    Close(m_loginRequest);
    Close(m_request);
    Close(m_connection);
    Close(m_session);
}

uint32_t marl::array::ArrayTransport::Attempt::Run(const std::wstring& command,
                                                   const std::wstring& args, std::string& reply) {
    uint32_t result = OpenConnection();
    if (result == 0) result = Login();
    if (result == 0) result = RunCommand(command, args, reply);
    if (result == 0) result = Logout();
    return result;
}

uint32_t marl::array::ArrayTransport::Attempt::OpenConnection() {
    m_session = m_client.OpenSession(m_profile.userAgent);
    if (!m_session) {
        LogStepError("HTTPOpen: Error ('%d') has occurred.");
        return E_ARRAY_SESSION;
    }
    if (m_profile.secure) m_client.SetSecureFailureCallback(m_session, winHttpStatusCallback);
    const std::string& ip = m_transport.m_settings.externalIp;
    m_connection = m_client.Connect(m_session, WidenByChar(ip), m_profile.port);
    if (!m_profile.secure) {
        QVSS_LOG(m_profile.function, kModule, QLOG_DEBUG,
                 "Connecting: status: %d, handle: %p, IP: %s",
                 static_cast<int>(m_client.LastError()), m_connection, ip.c_str());
    }
    if (!m_connection) {
        LogStepError("HTTPConnect: Error ('%d') has occurred.");
        return E_ARRAY_SESSION;
    }
    return 0;
}

bool marl::array::ArrayTransport::Attempt::QueryStatus(HttpHandle request,
                                                       const char* failureFormat,
                                                       uint32_t* status) {
    if (m_client.QueryStatusCode(request, status)) return true;
    LogStepError(failureFormat);
    return false;
}

// A check that throws (text it cannot parse, for one) refuses the login
// rather than ending the call; only a shortage of memory goes on up.
bool marl::array::ArrayTransport::Attempt::AdmitsLogin(const std::string& loginText) {
    try {
        return m_transport.m_loginCheck(loginText);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        return false;
    }
}

uint32_t marl::array::ArrayTransport::Attempt::Login() {
    const char* fn = m_profile.function;
    m_loginRequest =
        m_client.OpenRequest(m_connection, L"POST", kLoginPath, m_profile.secure, true);
    if (!m_loginRequest) {
        LogStepError("HTTPOpenRequest: Error ('%d') has occurred.");
        return E_ARRAY_SESSION;
    }
    // The outcome is deliberately not examined: a client that cannot relax
    // the checks still gets its chance with a certificate that passes them.
    if (m_profile.secure) m_client.SetSecurityFlags(m_loginRequest, kLoginSecurityFlags);
    const ProviderSettings& settings = m_transport.m_settings;
    std::string body = marl::array::BuildLoginForm(settings.userName, settings.password);
    if (!m_client.SendRequest(m_loginRequest, kFormHeader, body)) {
        LogStepError("SendRequest: Error ('%d') has occurred.");
        return E_ARRAY_SESSION;
    }
    if (!m_client.ReceiveResponse(m_loginRequest)) {
        LogStepError("ReceiveResponse: Error ('%d') has occurred.");
        return E_ARRAY_SESSION;
    }
    uint32_t status = 0;
    if (!QueryStatus(m_loginRequest, "Error ('%d') has occurred.", &status)) return E_ARRAY_SESSION;
    if (status != kStatusOk) {
        QVSS_LOG(fn, kModule, QLOG_ERROR,
                 "Failed to login to NXA system, verify your username and password. Response "
                 "code ('%d') was received.",
                 static_cast<int>(status));
        return E_ARRAY_SESSION;
    }
    QVSS_LOG(fn, kModule, QLOG_TRACE,
             "Response code ('%d') was received for login request from NXA system.",
             static_cast<int>(status));
    std::string loginText;
    if (!ReadBody(m_loginRequest, kLoginName, loginText)) return 1;
    QVSS_LOG(fn, kModule, QLOG_TRACE, "Login response: %s", loginText.c_str());
    return AdmitsLogin(loginText) ? 0 : E_ARRAY_SESSION;
}

uint32_t marl::array::ArrayTransport::Attempt::RunCommand(const std::wstring& command,
                                                          const std::wstring& args,
                                                          std::string& reply) {
    const char* fn = m_profile.function;
    std::wstring path = kExecutePath + command + L"/" + args;
    m_request = m_client.OpenRequest(m_connection, L"GET", path, m_profile.secure, true);
    if (!m_request) {
        LogStepError("OpenRequest: Error ('%d') has occurred.");
        return E_ARRAY_SESSION;
    }
    if (!m_client.SendRequest(m_request, std::wstring(), std::string())) {
        LogStepError("Error ('%d') has occurred in WinHttpSendRequest.");
        return E_ARRAY_SESSION;
    }
    if (!m_client.ReceiveResponse(m_request)) {
        LogStepError("Error ('%d') has occurred in WinHttpReceiveResponse.");
        return E_ARRAY_SESSION;
    }
    uint32_t status = 0;
    if (!QueryStatus(m_request, m_profile.commandStatusError, &status)) return E_ARRAY_SESSION;
    if (status != kStatusOk) {
        QVSS_LOG(fn, kModule, QLOG_ERROR,
                 "Error response code ('%d') was received from NXA system.",
                 static_cast<int>(status));
        return 1;
    }
    QVSS_LOG(fn, kModule, QLOG_DEBUG, "Response code ('%d') was received from NXA system.",
             static_cast<int>(status));
    return ReadBody(m_request, command.c_str(), reply) ? 0 : 1;
}

// The command has run and its reply is in: a logout that fails is logged,
// and the exchange still counts as done (see the class comment).
uint32_t marl::array::ArrayTransport::Attempt::Logout() {
    // The command's request is finished with; closing it here keeps the
    // handle from being lost when the logout request takes its place.
    Close(m_request);
    m_request = m_client.OpenRequest(m_connection, L"GET", kLogoutPath, m_profile.secure, true);
    if (!m_request) {
        LogStepError("OpenRequest: Error ('%d') has occurred.");
        return 0;
    }
    if (!m_client.SendRequest(m_request, std::wstring(), std::string())) {
        LogStepError("Error ('%d') has occurred ||||| .");
        return 0;
    }
    QVSS_LOG(m_profile.function, kModule, QLOG_TRACE, "Logged out");
    return 0;
}

// Appends one chunk as a zero-terminated text. Running out of memory ends
// the body where it is, as a failed buffer does.
bool marl::array::ArrayTransport::Attempt::AppendChunk(std::string& target, const char* chunk) {
    try {
        target.append(chunk);
        return true;
    } catch (const std::bad_alloc&) {
        QVSS_LOG(m_profile.function, kModule, QLOG_ERROR, "Out Of Memory");
        return false;
    }
}

// Whether the chunk, as AppendChunk would append it, keeps the body within
// the limit; logs why not. `name` is the request's: "login" or the command.
bool marl::array::ArrayTransport::Attempt::FitsTheLimit(const wchar_t* name,
                                                        const std::string& target,
                                                        const char* chunk) {
    if (std::strlen(chunk) <= kMaxBodyBytes - target.size()) return true;
    QVSS_LOG(m_profile.function, kModule, QLOG_ERROR,
             "Reply to %S is larger than %llu bytes; reading stopped.", name,
             static_cast<unsigned long long>(kMaxBodyBytes));
    return false;
}

// Reads a body in the chunks the client reports until it reports none left.
// False (with the step's message logged) when asking or reading fails, or
// when the body outgrows the limit.
bool marl::array::ArrayTransport::Attempt::ReadBody(HttpHandle request, const wchar_t* name,
                                                    std::string& target) {
    uint32_t available = 0;
    do {
        if (!m_client.QueryDataAvailable(request, &available)) {
            LogStepError("Error ('%d') in WinHttpQueryDataAvailable.");
            return false;
        }
        std::unique_ptr<char[]> chunk = m_transport.NewChunk(static_cast<size_t>(available) + 1);
        if (!chunk) {
            QVSS_LOG(m_profile.function, kModule, QLOG_ERROR, "Out Of Memory");
            return true;
        }
        uint32_t read = 0;
        if (!m_client.ReadData(request, chunk.get(), available, &read)) {
            LogStepError("Error ('%d') in WinHttpReadData.");
            return false;
        }
        if (!FitsTheLimit(name, target, chunk.get())) return false;
        if (!AppendChunk(target, chunk.get())) return true;
    } while (available > 0);
    return true;
}

marl::array::ArrayTransport::ArrayTransport(const ProviderSettings& settings,
                                            marl::platform::HttpClientFactory factory,
                                            marl::array::LoginCheck loginCheck)
    : m_settings(settings), m_factory(std::move(factory)), m_loginCheck(std::move(loginCheck)) {}

marl::array::ArrayTransport::~ArrayTransport() = default;

std::unique_ptr<char[]> marl::array::ArrayTransport::NewChunk(size_t bytes) {
    return std::unique_ptr<char[]>(new (std::nothrow) char[bytes]());
}

uint32_t marl::array::ArrayTransport::SendArrayRequest(const std::wstring& command,
                                                       const std::wstring& args,
                                                       std::string& reply) {
    return m_settings.supportSsl ? SendQ9HttpsRequest(command, args, reply)
                                 : SendNxaHttpRequest(command, args, reply);
}

uint32_t marl::array::ArrayTransport::SendQ9HttpsRequest(const std::wstring& command,
                                                         const std::wstring& args,
                                                         std::string& reply) {
    return Send(kHttpsSender, command, args, reply);
}

uint32_t marl::array::ArrayTransport::SendNxaHttpRequest(const std::wstring& command,
                                                         const std::wstring& args,
                                                         std::string& reply) {
    return Send(kHttpSender, command, args, reply);
}

uint32_t marl::array::ArrayTransport::Send(const SenderProfile& profile,
                                           const std::wstring& command, const std::wstring& args,
                                           std::string& reply) {
    QVSS_LOG_FULL(profile.function, kModule, QLOG_DEBUG, profile.entryFormat,
                  m_settings.externalIp.c_str(), kExecutePath, command.c_str(), args.c_str());
    std::unique_ptr<HttpClient> client = m_factory ? m_factory() : nullptr;
    if (!client) client = marl::platform::CreateHttpClient();
    uint32_t result = 0;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        reply.clear();
        Attempt run(*this, profile, *client);
        result = run.Run(command, args, reply);
        QVSS_LOG(profile.function, kModule, QLOG_DEBUG, "Closing handles");
        run.CloseHandles();
        if (result == 0) break;
    }
    QVSS_LOG(profile.function, kModule, QLOG_TRACE, "done: 0x%08x", result);
    return result;
}
