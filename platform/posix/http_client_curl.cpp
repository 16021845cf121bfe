// The HTTP client seam over libcurl (with OpenSSL), behaving as WinHTTP does
// for the requests this system makes.
//
// One easy handle and one multi handle per session: the easy handle's
// in-memory cookie engine keeps what a login sets for the later requests of
// the session, and the multi handle's connection cache keeps the connection
// alive between them. Only the TLS session cache is shared between sessions
// (process-wide, as Schannel does for WinHTTP), so a later session resumes
// instead of making a full handshake; connections and cookies never outlive
// their session.
//
// WinHTTP splits a request into send and receive and hands the body out as
// it arrives; so does this client. Sending drives the transfer until the
// whole request has been written to the connection, not until it is
// answered: a caller that awaits no answer (the array's logout) closes the
// request right away and pays no round trip for it, and the request still
// reaches the peer, since the bytes are in the socket's send queue before the
// connection is closed. Receiving drives on to the response headers. Each
// outcome is reported at the step where WinHTTP would have reported it: a
// failure before the request went out (name, connection, TLS) fails the send;
// no or broken response headers fail the receive; a body cut short fails the
// reading once the bytes that did arrive have been read. The body is
// received only as it is read: at most kBufferedBytes wait unread (the
// transfer pauses beyond that), so a body of any length costs the process
// bounded memory. Closing a request
// whose body was not read to its end aborts its transfer and its connection.
//
// Redirects are never followed (the contract in http_client.h): a 3xx answer
// is handed to the caller like any other status.
//
// Certificate leniency follows WinHTTP's security flags: "unknown CA" accepts
// a chain that does not lead to a trusted root (self-signed included), "CN
// invalid" accepts a host-name mismatch. Expired or not-yet-valid
// certificates, bad signatures and every other verification error stay fatal.
// Flags set on a request stay on its session, because curl verifies once per
// connection and only reuses a connection for requests with the same checks.
//
// Time-outs are WinHTTP's defaults: name resolution unlimited (the name is
// resolved here, before curl sees it), connection 60 s, sending and receiving
// 30 s without progress.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <netdb.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/select.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "platform/http_client.h"
#include "platform/utf8.h"

namespace marl::platform {
namespace {

constexpr uint32_t kErrInvalidHandle = 6;
constexpr uint32_t kErrNoMemory = 8;
constexpr uint32_t kErrInvalidParameter = 87;
constexpr uint32_t kErrTimeout = 12002;
constexpr uint32_t kErrInternal = 12004;
constexpr uint32_t kErrInvalidUrl = 12005;
constexpr uint32_t kErrNameNotResolved = 12007;
constexpr uint32_t kErrIncorrectHandleState = 12019;
constexpr uint32_t kErrCannotConnect = 12029;
constexpr uint32_t kErrConnection = 12030;
constexpr uint32_t kErrInvalidServerResponse = 12152;
constexpr uint32_t kErrSecureFailure = 12175;

constexpr long kConnectTimeoutSeconds = 60;
constexpr long kStallSeconds = 30;                  // sending or receiving without progress
constexpr size_t kChunkBytes = 65536;               // the most one QueryDataAvailable reports
constexpr size_t kBufferedBytes = size_t{1} << 20;  // unread body held per request
constexpr int kPollMillis = 1000;  // wait for the socket; curl's time-outs end the transfer

// curl's global state and the TLS session cache shared by all sessions of
// the process. Created on first use; released when the process ends.
class CurlProcess {
  public:
    static CurlProcess& Get() {
        static CurlProcess process;
        return process;
    }
    CURLSH* Share() const { return m_share; }

  private:
    CurlProcess() {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        m_share = curl_share_init();
        if (!m_share) return;
        curl_share_setopt(m_share, CURLSHOPT_LOCKFUNC, &CurlProcess::Lock);
        curl_share_setopt(m_share, CURLSHOPT_UNLOCKFUNC, &CurlProcess::Unlock);
        curl_share_setopt(m_share, CURLSHOPT_USERDATA, this);
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    ~CurlProcess() {
        if (m_share) curl_share_cleanup(m_share);
        curl_global_cleanup();
    }
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<CurlProcess*>(self)->m_locks[data].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* self) {
        static_cast<CurlProcess*>(self)->m_locks[data].unlock();
    }

    std::mutex m_locks[CURL_LOCK_DATA_LAST];
    CURLSH* m_share = nullptr;
};

struct Handle {
    enum Kind { kSession, kConnection, kRequest };
    explicit Handle(Kind k) : kind(k) {}
    virtual ~Handle() = default;
    const Kind kind;
};

struct Request;

struct Session : Handle {
    Session() : Handle(kSession) {}
    ~Session() override {
        if (attached) curl_multi_remove_handle(multi, easy);
        if (multi) curl_multi_cleanup(multi);
        if (easy) curl_easy_cleanup(easy);
        curl_slist_free_all(resolved);
    }
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    bool attached = false;       // the easy handle is in the multi handle
    Request* current = nullptr;  // the request the easy handle is set up for
    uint32_t securityFlags = 0;
    HttpSecureFailureCallback secureFailure = nullptr;
    uint32_t failureFlags = 0;  // certificate problems of the handshake under way
    curl_slist* resolved = nullptr;
};

struct Connection : Handle {
    Connection() : Handle(kConnection) {}
    Session* session = nullptr;
    std::string host;
    uint16_t port = 0;
    bool resolved = false;
};

struct Request : Handle {
    Request() : Handle(kRequest) {}
    ~Request() override { curl_slist_free_all(headers); }
    Connection* connection = nullptr;
    std::string verb;
    std::string path;
    bool secure = false;
    bool refresh = false;
    bool sent = false;
    bool started = false;          // the request itself began to go out
    bool responseStarted = false;  // a status line arrived
    bool resendRefused = false;    // curl wanted to send it a second time
    bool headersComplete = false;  // a complete response header block arrived
    bool settled = false;          // the transfer's end has been reported
    uint32_t lastStatus = 0;       // of the latest status line
    bool outOfMemory = false;
    bool received = false;
    bool paused = false;    // the transfer waits for the body to be read
    bool finished = false;  // the transfer ended; `result` says how
    CURLcode result = CURLE_OK;
    uint32_t receiveError = 0;
    uint32_t bodyError = 0;  // reported once the buffered body is read
    uint32_t status = 0;
    curl_slist* headers = nullptr;  // curl reads both while the transfer runs
    std::string postBody;
    std::string body;  // received, not yet read from `offset` on
    size_t offset = 0;
};

// ---- texts ----

// Narrow texts of this system reach the wide seam widened character by
// character; narrowing reverses that.
std::string NarrowByChar(const std::wstring& w) {
    std::string s;
    s.reserve(w.size());
    for (wchar_t c : w)
        s.push_back(static_cast<unsigned long>(c) <= 0xFF ? static_cast<char>(c) : '?');
    return s;
}

// WinHTTP sends the object name as UTF-8 with unsafe bytes escaped; curl
// would reject blanks and cut the path at "#", so those are escaped too.
std::string EscapePath(const std::wstring& path) {
    std::string utf8;
    for (wchar_t c : path) {
        auto cp = static_cast<uint32_t>(c);
        AppendUtf8(utf8, cp > 0x10FFFF ? 0xFFFD : cp);
    }
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : utf8) {
        if (b <= 0x20 || b >= 0x7F || b == '#') {
            out.push_back('%');
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 0xF]);
        } else {
            out.push_back(static_cast<char>(b));
        }
    }
    return out;
}

bool IsNumericAddress(const std::string& host, bool* ipv6) {
    unsigned char buffer[sizeof(in6_addr)];
    *ipv6 = inet_pton(AF_INET6, host.c_str(), buffer) == 1;
    return *ipv6 || inet_pton(AF_INET, host.c_str(), buffer) == 1;
}

// A host name that cannot be put into a URL as it stands is one that no
// resolver would find.
bool IsPlainHostName(const std::string& host) {
    if (host.empty()) return false;
    for (unsigned char c : host) {
        if (c <= 0x20 || c >= 0x7F || std::strchr("/?#@[]\\%", c)) return false;
    }
    return true;
}

std::string UrlOf(const Request& r) {
    const Connection& c = *r.connection;
    bool ipv6 = false;
    IsNumericAddress(c.host, &ipv6);
    std::string host = ipv6 ? "[" + c.host + "]" : c.host;
    return std::string(r.secure ? "https://" : "http://") + host + ":" + std::to_string(c.port) +
           r.path;
}

// ---- error numbers ----

bool IsTlsFailure(CURLcode rc) {
    switch (rc) {
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
            return true;
        default:
            return false;
    }
}

uint32_t WinHttpErrorOf(CURLcode rc) {
    if (IsTlsFailure(rc)) return kErrSecureFailure;
    switch (rc) {
        case CURLE_OK:
            return 0;
        case CURLE_OUT_OF_MEMORY:
            return kErrNoMemory;
        case CURLE_URL_MALFORMAT:
            return kErrInvalidUrl;
        case CURLE_COULDNT_RESOLVE_HOST:
            return kErrNameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return kErrCannotConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return kErrTimeout;
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_HTTP2:
        case CURLE_TOO_MANY_REDIRECTS:
        case CURLE_BAD_CONTENT_ENCODING:
            return kErrInvalidServerResponse;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
            return kErrConnection;
        default:
            return kErrInternal;
    }
}

// ---- certificate checks ----

int SessionIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// The errors WinHTTP's SECURITY_FLAG_IGNORE_UNKNOWN_CA forgives: the chain
// does not end at a trusted root.
bool IsUnknownAuthority(int error) {
    switch (error) {
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_UNTRUSTED:
            return true;
        default:
            return false;
    }
}

uint32_t FailureFlagOf(int error) {
    if (IsUnknownAuthority(error)) return kHttpSecureFailureInvalidCa;
    switch (error) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
        case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
        case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
            return kHttpSecureFailureCertDateInvalid;
        case X509_V_ERR_CERT_REVOKED:
            return kHttpSecureFailureCertRevoked;
        case X509_V_ERR_UNABLE_TO_GET_CRL:
            return kHttpSecureFailureRevocationFailed;
        default:
            return kHttpSecureFailureInvalidCert;
    }
}

int VerifyCertificate(int preverifyOk, X509_STORE_CTX* store) {
    if (preverifyOk) return 1;
    void* sslData = X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx());
    SSL* ssl = static_cast<SSL*>(sslData);
    Session* session =
        ssl ? static_cast<Session*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), SessionIndex()))
            : nullptr;
    int error = X509_STORE_CTX_get_error(store);
    if (!session) return 0;
    if ((session->securityFlags & kHttpIgnoreUnknownCa) && IsUnknownAuthority(error)) return 1;
    session->failureFlags |= FailureFlagOf(error);
    return 0;
}

// curl calls this for every new TLS connection, after its own verification
// set-up, so the verification callback installed here has the last word.
CURLcode PrepareTlsContext(CURL*, void* context, void* session) {
    SSL_CTX* ctx = static_cast<SSL_CTX*>(context);
    SSL_CTX_set_ex_data(ctx, SessionIndex(), session);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, VerifyCertificate);
    return CURLE_OK;
}

// ---- transfer callbacks ----

size_t CollectBody(char* data, size_t size, size_t count, void* request) {
    Request* r = static_cast<Request*>(request);
    if (r->offset == r->body.size()) {
        r->body.clear();
        r->offset = 0;
    }
    if (r->body.size() - r->offset >= kBufferedBytes) {
        r->paused = true;  // curl hands the same data again when resumed
        return CURL_WRITEFUNC_PAUSE;
    }
    try {
        r->body.append(data, size * count);
    } catch (const std::bad_alloc&) {
        r->outOfMemory = true;
        return 0;
    }
    return size * count;
}

// The code of a status line ("HTTP/1.1 200 OK"); 0 when it has none.
uint32_t StatusOfLine(const char* line, size_t n) {
    const char* end = line + n;
    const char* p = static_cast<const char*>(std::memchr(line, ' ', n));
    uint32_t code = 0;
    for (p = p ? p + 1 : end; p < end && *p >= '0' && *p <= '9' && code < 1000; ++p) {
        code = code * 10 + static_cast<uint32_t>(*p - '0');
    }
    return code;
}

size_t WatchHeaders(char* data, size_t size, size_t count, void* request) {
    Request* r = static_cast<Request*>(request);
    size_t n = size * count;
    if (n >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
        r->responseStarted = true;
        r->headersComplete = false;
        r->lastStatus = StatusOfLine(data, n);
    }
    if ((n == 2 && data[0] == '\r' && data[1] == '\n') || (n == 1 && data[0] == '\n')) {
        r->headersComplete = true;
    }
    return n;
}

// The final response's headers are in (a 1xx answer is not final).
bool HeadersIn(const Request& r) { return r.headersComplete && r.lastStatus >= 200; }

// Whether curl waits for the socket to take more of what it writes. Unknown
// (no socket listed, as for a descriptor beyond FD_SETSIZE) counts as yes.
bool WaitsToWrite(CURLM* multi) {
    fd_set read, write, error;
    FD_ZERO(&read);
    FD_ZERO(&write);
    FD_ZERO(&error);
    int maxFd = -1;
    if (curl_multi_fdset(multi, &read, &write, &error, &maxFd) != CURLM_OK || maxFd < 0)
        return true;
    for (int fd = 0; fd <= maxFd; ++fd) {
        if (FD_ISSET(fd, &write)) return true;
    }
    return false;
}

// The whole request is on its way, or already answered. curl counts a
// request as issued from its first write on (the pre-request callback has
// run, so the count is this request's); what a first write left over, and a
// body sent after the header block, keep curl waiting to write until they
// are out. Asked of curl rather than read from its debug stream, which
// would make it format its informational texts for every transfer.
bool SentWhole(const Request& r) {
    if (HeadersIn(r)) return true;
    if (!r.started) return false;
    const Session& s = *r.connection->session;
    long issued = 0;
    return curl_easy_getinfo(s.easy, CURLINFO_REQUEST_SIZE, &issued) == CURLE_OK && issued > 0 &&
           !WaitsToWrite(s.multi);
}

// curl resends a request on a fresh connection when a reused one died before
// any answer. WinHTTP reports that as no response, and so must this client:
// the array may already have run the command, and the transport decides
// about repeating it.
int NoteRequestStart(void* request, char*, char*, int, int) {
    Request* r = static_cast<Request*>(request);
    if (r->started && !r->responseStarted) {
        r->resendRefused = true;
        return CURL_PREREQFUNC_ABORT;
    }
    r->started = true;
    return CURL_PREREQFUNC_OK;
}

// ---- the client ----

class CurlHttpClient final : public HttpClient {
  public:
    HttpHandle OpenSession(const std::wstring& userAgent) override;
    bool SetSecureFailureCallback(HttpHandle session, HttpSecureFailureCallback callback) override;
    HttpHandle Connect(HttpHandle session, const std::wstring& host, uint16_t port) override;
    HttpHandle OpenRequest(HttpHandle connection, const std::wstring& verb,
                           const std::wstring& path, bool secure, bool refresh) override;
    bool SetSecurityFlags(HttpHandle request, uint32_t flags) override;
    bool SendRequest(HttpHandle request, const std::wstring& headers,
                     const std::string& body) override;
    bool ReceiveResponse(HttpHandle request) override;
    bool QueryStatusCode(HttpHandle request, uint32_t* status) override;
    bool QueryDataAvailable(HttpHandle request, uint32_t* available) override;
    bool ReadData(HttpHandle request, void* buffer, uint32_t size, uint32_t* read) override;
    bool CloseHandle(HttpHandle handle) override;
    uint32_t LastError() const override { return m_lastError; }

  private:
    template <typename T>
    T* As(HttpHandle h, Handle::Kind kind) {
        Handle* handle = static_cast<Handle*>(h);
        return handle && handle->kind == kind ? static_cast<T*>(handle) : nullptr;
    }
    bool Fail(uint32_t error) {
        m_lastError = error;
        return false;
    }
    HttpHandle FailHandle(uint32_t error) {
        m_lastError = error;
        return nullptr;
    }
    bool Succeed() {
        m_lastError = 0;
        return true;
    }
    bool ResolveOnce(Connection& c);
    void ConfigureTransfer(Request& r);
    bool FinishTransfer(Request& r, CURLcode rc);
    bool Settle(Request& r);
    void Drive(Request& r, bool (*ready)(const Request&));
    void End(Request& r, CURLcode rc);
    void Release(Session& s);
    void WaitForBody(Request& r);

    uint32_t m_lastError = 0;
};

bool ConfigureSession(CURL* easy, const std::string& userAgent, Session* session) {
    bool ok = curl_easy_setopt(easy, CURLOPT_USERAGENT, userAgent.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "") == CURLE_OK;
    if (CURLSH* share = CurlProcess::Get().Share()) curl_easy_setopt(easy, CURLOPT_SHARE, share);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &PrepareTlsContext);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, session);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CollectBody);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &WatchHeaders);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &NoteRequestStart);
    return ok;
}

HttpHandle CurlHttpClient::OpenSession(const std::wstring& userAgent) {
    CurlProcess::Get();
    auto* session = new (std::nothrow) Session();
    if (!session) return FailHandle(kErrNoMemory);
    session->easy = curl_easy_init();
    session->multi = curl_multi_init();
    if (!session->easy || !session->multi ||
        !ConfigureSession(session->easy, NarrowByChar(userAgent), session)) {
        delete session;
        return FailHandle(kErrNoMemory);
    }
    Succeed();
    return session;
}

bool CurlHttpClient::SetSecureFailureCallback(HttpHandle h, HttpSecureFailureCallback callback) {
    Session* session = As<Session>(h, Handle::kSession);
    if (!session) return Fail(kErrInvalidHandle);
    session->secureFailure = callback;
    return Succeed();
}

HttpHandle CurlHttpClient::Connect(HttpHandle h, const std::wstring& host, uint16_t port) {
    Session* session = As<Session>(h, Handle::kSession);
    if (!session) return FailHandle(kErrInvalidHandle);
    if (host.empty()) return FailHandle(kErrInvalidParameter);
    auto* connection = new (std::nothrow) Connection();
    if (!connection) return FailHandle(kErrNoMemory);
    connection->session = session;
    connection->host = NarrowByChar(host);
    connection->port = port;
    Succeed();
    return connection;
}

HttpHandle CurlHttpClient::OpenRequest(HttpHandle h, const std::wstring& verb,
                                       const std::wstring& path, bool secure, bool refresh) {
    Connection* connection = As<Connection>(h, Handle::kConnection);
    if (!connection) return FailHandle(kErrInvalidHandle);
    if (!path.empty() && path[0] != L'/') return FailHandle(kErrInvalidUrl);
    auto* request = new (std::nothrow) Request();
    if (!request) return FailHandle(kErrNoMemory);
    request->connection = connection;
    request->verb = verb.empty() ? "GET" : NarrowByChar(verb);
    request->path = path.empty() ? "/" : EscapePath(path);
    request->secure = secure;
    request->refresh = refresh;
    Succeed();
    return request;
}

bool CurlHttpClient::SetSecurityFlags(HttpHandle h, uint32_t flags) {
    Request* request = As<Request>(h, Handle::kRequest);
    if (!request) return Fail(kErrInvalidHandle);
    request->connection->session->securityFlags = flags;
    return Succeed();
}

// Resolution happens here, without a time limit as in WinHTTP, so that curl's
// connection time-out covers connecting only.
bool CurlHttpClient::ResolveOnce(Connection& c) {
    bool ipv6 = false;
    if (c.resolved || IsNumericAddress(c.host, &ipv6)) return true;
    if (!IsPlainHostName(c.host)) return false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(c.host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    std::string entry = c.host + ":" + std::to_string(c.port) + ":";
    char text[INET6_ADDRSTRLEN];
    bool first = true;
    for (addrinfo* a = found; a; a = a->ai_next) {
        const void* address =
            a->ai_family == AF_INET6
                ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(a->ai_addr)->sin6_addr)
                : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr);
        if (!inet_ntop(a->ai_family, address, text, sizeof text)) continue;
        entry += (first ? "" : ",") +
                 (a->ai_family == AF_INET6 ? "[" + std::string(text) + "]" : std::string(text));
        first = false;
    }
    freeaddrinfo(found);
    if (first) return false;
    Session& s = *c.session;
    s.resolved = curl_slist_append(s.resolved, entry.c_str());
    curl_easy_setopt(s.easy, CURLOPT_RESOLVE, s.resolved);
    c.resolved = true;
    return true;
}

bool HasHeader(const std::wstring& headers, const wchar_t* name) {
    std::wstring lower;
    for (wchar_t c : headers) lower.push_back(c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c);
    return lower.find(name) != std::wstring::npos;
}

// The caller's header lines, plus what WinHTTP would send or leave out:
// curl's own "Accept" and "Expect" are suppressed, the refresh flag adds the
// no-cache pair.
curl_slist* HeaderList(const std::wstring& headers, bool refresh, bool posting) {
    curl_slist* list = nullptr;
    size_t start = 0;
    while (start < headers.size()) {
        size_t end = headers.find(L"\r\n", start);
        if (end == std::wstring::npos) end = headers.size();
        if (end > start) {
            list =
                curl_slist_append(list, NarrowByChar(headers.substr(start, end - start)).c_str());
        }
        start = end + 2;
    }
    list = curl_slist_append(list, "Accept:");
    list = curl_slist_append(list, "Expect:");
    if (posting && !HasHeader(headers, L"content-type:"))
        list = curl_slist_append(list, "Content-Type:");
    if (refresh) {
        list = curl_slist_append(list, "Pragma: no-cache");
        list = curl_slist_append(list, "Cache-Control: no-cache");
    }
    return list;
}

void CurlHttpClient::ConfigureTransfer(Request& r) {
    Session& s = *r.connection->session;
    CURL* e = s.easy;
    curl_easy_setopt(e, CURLOPT_URL, UrlOf(r).c_str());
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, r.headers);
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, nullptr);
    if (r.verb == "GET" && r.postBody.empty()) {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(r.postBody.size()));
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.postBody.data());
        if (r.verb != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.verb.c_str());
    }
    bool anyCa = (s.securityFlags & kHttpIgnoreUnknownCa) != 0;
    bool anyName = (s.securityFlags & kHttpIgnoreCertCnInvalid) != 0;
    // Without a trusted root to check against, the chain is judged by
    // VerifyCertificate alone; curl would otherwise refuse it afterwards.
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, anyCa ? 0L : 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, anyName ? 0L : 2L);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &r);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &r);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, &r);
}

bool CurlHttpClient::SendRequest(HttpHandle h, const std::wstring& headers,
                                 const std::string& body) {
    Request* r = As<Request>(h, Handle::kRequest);
    if (!r) return Fail(kErrInvalidHandle);
    if (r->sent) return Fail(kErrIncorrectHandleState);
    r->sent = true;
    if (!ResolveOnce(*r->connection)) return Fail(kErrNameNotResolved);
    Session& s = *r->connection->session;
    Release(s);
    r->headers = HeaderList(headers, r->refresh, !body.empty() || r->verb == "POST");
    r->postBody = body;
    ConfigureTransfer(*r);
    s.failureFlags = 0;
    s.current = r;
    if (curl_multi_add_handle(s.multi, s.easy) != CURLM_OK) return Fail(kErrInternal);
    s.attached = true;
    Drive(*r, SentWhole);
    return Settle(*r);
}

// Takes in what the transfer has come to: its end (reported once), or the
// response headers.
bool CurlHttpClient::Settle(Request& r) {
    if (r.finished && !r.settled && !r.received) {
        r.settled = true;
        return FinishTransfer(r, r.result);
    }
    if (!r.received && HeadersIn(r)) {
        r.received = true;
        r.status = r.lastStatus;
    }
    return Succeed();
}

// Runs the session's transfer until `ready` holds or the transfer ends; the
// loop ends at the latest with curl's own time-outs.
void CurlHttpClient::Drive(Request& r, bool (*ready)(const Request&)) {
    Session& s = *r.connection->session;
    if (r.paused) {
        r.paused = false;
        curl_easy_pause(s.easy, CURLPAUSE_CONT);
    }
    while (!r.finished && !ready(r)) {
        int running = 0;
        if (curl_multi_perform(s.multi, &running) != CURLM_OK) {
            End(r, CURLE_FAILED_INIT);
            return;
        }
        int queued = 0;
        while (CURLMsg* m = curl_multi_info_read(s.multi, &queued)) {
            if (m->msg == CURLMSG_DONE && m->easy_handle == s.easy) End(r, m->data.result);
        }
        if (r.finished || ready(r)) return;
        curl_multi_poll(s.multi, nullptr, 0, kPollMillis, nullptr);
    }
}

// The transfer is over: its connection goes back to the session's cache (or
// is closed, after a failure). A body that ends in a failure fails the
// reading once what did arrive has been read.
void CurlHttpClient::End(Request& r, CURLcode rc) {
    Session& s = *r.connection->session;
    if (s.attached) curl_multi_remove_handle(s.multi, s.easy);
    s.attached = false;
    r.finished = true;
    r.result = rc;
    bool complete = rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && r.outOfMemory);
    if (r.received && !complete) r.bodyError = WinHttpErrorOf(rc);
}

// Ends what the session's previous request left running (a body not read
// to its end) and lets curl forget that request's header list and body.
void CurlHttpClient::Release(Session& s) {
    Request* previous = s.current;
    if (!previous) return;
    if (!previous->finished) End(*previous, CURLE_RECV_ERROR);
    curl_easy_setopt(s.easy, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(s.easy, CURLOPT_POSTFIELDS, nullptr);
    s.current = nullptr;
}

// Reads on until some body is waiting or the transfer has ended.
void CurlHttpClient::WaitForBody(Request& r) {
    if (r.offset < r.body.size() || r.finished) return;
    Drive(r, [](const Request& q) { return q.offset < q.body.size(); });
}

bool CurlHttpClient::FinishTransfer(Request& r, CURLcode rc) {
    Session& s = *r.connection->session;
    long status = 0;
    curl_easy_getinfo(s.easy, CURLINFO_RESPONSE_CODE, &status);
    r.status = static_cast<uint32_t>(status);
    if (rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && r.outOfMemory)) {
        // Out of memory while collecting: the part that fitted is the body.
        r.received = true;
        return Succeed();
    }
    if (!r.started || rc == CURLE_SEND_ERROR || IsTlsFailure(rc)) {
        if (IsTlsFailure(rc) && s.secureFailure) {
            uint32_t flags = s.failureFlags;
            if (!flags)
                flags = rc == CURLE_PEER_FAILED_VERIFICATION ? kHttpSecureFailureCertCnInvalid
                                                             : kHttpSecureFailureChannelError;
            s.secureFailure(flags);
        }
        return Fail(WinHttpErrorOf(rc));
    }
    uint32_t error = r.resendRefused ? kErrInvalidServerResponse : WinHttpErrorOf(rc);
    if (r.headersComplete && status > 0) {
        r.received = true;
        r.bodyError = error;
    } else {
        r.receiveError = error;
    }
    return Succeed();
}

bool CurlHttpClient::ReceiveResponse(HttpHandle h) {
    Request* r = As<Request>(h, Handle::kRequest);
    if (!r) return Fail(kErrInvalidHandle);
    if (!r->sent) return Fail(kErrIncorrectHandleState);
    if (!r->received && !r->finished) Drive(*r, HeadersIn);
    // A failure that ends the transfer now fails the receive, whatever its
    // cause: the request did go out.
    if (!Settle(*r) && !r->receiveError) r->receiveError = m_lastError;
    if (!r->received) return Fail(r->receiveError ? r->receiveError : kErrIncorrectHandleState);
    return Succeed();
}

bool CurlHttpClient::QueryStatusCode(HttpHandle h, uint32_t* status) {
    Request* r = As<Request>(h, Handle::kRequest);
    if (!r) return Fail(kErrInvalidHandle);
    if (!r->received) return Fail(kErrIncorrectHandleState);
    *status = r->status;
    return Succeed();
}

bool CurlHttpClient::QueryDataAvailable(HttpHandle h, uint32_t* available) {
    *available = 0;
    Request* r = As<Request>(h, Handle::kRequest);
    if (!r) return Fail(kErrInvalidHandle);
    if (!r->received) return Fail(kErrIncorrectHandleState);
    WaitForBody(*r);
    size_t left = r->body.size() - r->offset;
    if (left == 0 && r->bodyError) return Fail(r->bodyError);
    *available = static_cast<uint32_t>(std::min(left, kChunkBytes));
    return Succeed();
}

bool CurlHttpClient::ReadData(HttpHandle h, void* buffer, uint32_t size, uint32_t* read) {
    *read = 0;
    Request* r = As<Request>(h, Handle::kRequest);
    if (!r) return Fail(kErrInvalidHandle);
    if (!r->received) return Fail(kErrIncorrectHandleState);
    if (size > 0) WaitForBody(*r);
    size_t left = r->body.size() - r->offset;
    if (left == 0 && size > 0 && r->bodyError) return Fail(r->bodyError);
    size_t n = std::min<size_t>(left, size);
    if (n) std::memcpy(buffer, r->body.data() + r->offset, n);
    r->offset += n;
    *read = static_cast<uint32_t>(n);
    return Succeed();
}

bool CurlHttpClient::CloseHandle(HttpHandle h) {
    Handle* handle = static_cast<Handle*>(h);
    if (!handle) return Fail(kErrInvalidHandle);
    if (handle->kind == Handle::kRequest) {
        Session& s = *static_cast<Request*>(handle)->connection->session;
        if (s.current == handle) Release(s);
    }
    delete handle;
    return Succeed();
}

}  // namespace

std::unique_ptr<HttpClient> CreateHttpClient() { return std::make_unique<CurlHttpClient>(); }

}  // namespace marl::platform
