// The POSIX backend (libcurl) under the transport, against small loopback
// servers made here, for what the simulator cannot show: the exact headers on
// the wire, every certificate case (not-yet-valid included) and the TLS
// session cache shared by the exchanges of a process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "RedirectingHttpClient.h"
#include "platform/http_client.h"
#include "provider/array/ArrayTransport.h"
#include "provider/array/testing/TransportLogCapture.h"

using marl::testing::TransportLogCapture;

namespace {

constexpr char kLoginOk[] = "{\"key\": \"LOGIN_SUCCESSFUL\", \"vss_api_version\": \"4\"}";

// ---- certificates ----

struct KeyAndCert {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    ~KeyAndCert() {
        X509_free(cert);
        EVP_PKEY_free(key);
    }
};

enum class CertKind { kValid, kWrongHost, kExpired, kNotYetValid };

void AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// A self-signed certificate for 127.0.0.1 (or another name), valid now or
// outside its dates.
void MakeCertificate(CertKind kind, KeyAndCert& out) {
    out.key = EVP_EC_gen("P-256");
    out.cert = X509_new();
    X509_set_version(out.cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(out.cert), 1000 + static_cast<int>(kind));
    const long day = 86400;
    long from = kind == CertKind::kExpired ? -3 * day : kind == CertKind::kNotYetValid ? day : -day;
    long to = kind == CertKind::kExpired       ? -day
              : kind == CertKind::kNotYetValid ? 3 * day
                                               : 30 * day;
    X509_gmtime_adj(X509_getm_notBefore(out.cert), from);
    X509_gmtime_adj(X509_getm_notAfter(out.cert), to);
    X509_set_pubkey(out.cert, out.key);
    const char* cn = kind == CertKind::kWrongHost ? "array.example" : "127.0.0.1";
    X509_NAME* name = X509_get_subject_name(out.cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn),
                               -1, -1, 0);
    X509_set_issuer_name(out.cert, name);
    AddExtension(out.cert, NID_subject_alt_name,
                 kind == CertKind::kWrongHost ? "DNS:array.example" : "IP:127.0.0.1,DNS:localhost");
    X509_sign(out.cert, out.key, EVP_sha256());
}

// ---- the server ----

struct Seen {
    std::string method;
    std::string path;
    int remotePort;
    bool resumed;
    httplib::Headers headers;
    std::string body;
};

// An array stand-in on 127.0.0.1: login sets a cookie, the command answers
// 200 only with that cookie, logout answers 200 (once let go, when its
// replies are held). Records every request.
class LoopbackArray {
  public:
    explicit LoopbackArray(CertKind kind) {
        MakeCertificate(kind, m_identity);
        m_https = std::make_unique<httplib::SSLServer>(m_identity.cert, m_identity.key);
        m_http = std::make_unique<httplib::Server>();
        Start(*m_https, m_httpsPort, m_httpsThread);
        Start(*m_http, m_httpPort, m_httpThread);
    }
    ~LoopbackArray() {
        LetLogoutsGo();
        m_https->stop();
        m_http->stop();
        m_httpsThread.join();
        m_httpThread.join();
    }

    int HttpPort() const { return m_httpPort; }
    int HttpsPort() const { return m_httpsPort; }
    std::vector<Seen> Requests() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }
    // From now on a logout's reply waits until LetLogoutsGo (at most
    // kHoldLimit; a client that awaits the reply is held that long).
    void HoldLogouts() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holdLogouts = true;
    }
    void LetLogoutsGo() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holdLogouts = false;
        m_changed.notify_all();
    }
    // Waits (at most kHoldLimit) until `n` requests have been recorded.
    void AwaitRequests(size_t n) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, kHoldLimit, [&] { return m_seen.size() >= n; });
    }
    // Whether a held logout reply went out only because the hold ran out.
    bool HoldRanOut() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_holdRanOut;
    }

  private:
    void Record(const httplib::Request& req) {
        Seen s{req.method,      req.target,
               req.remote_port, req.ssl && SSL_session_reused(const_cast<SSL*>(req.ssl)) == 1,
               req.headers,     req.body};
        std::lock_guard<std::mutex> lock(m_mutex);
        m_seen.push_back(s);
        m_changed.notify_all();
    }
    void HoldWhileAsked() {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, kHoldLimit, [&] { return !m_holdLogouts; }))
            m_holdRanOut = true;
    }
    void Routes(httplib::Server& server) {
        server.Post("/main/services/login/",
                    [this](const httplib::Request& req, httplib::Response& res) {
                        Record(req);
                        std::string id = "sid=s" + std::to_string(++m_logins);
                        {
                            std::lock_guard<std::mutex> lock(m_mutex);
                            m_issued.insert(id);
                        }
                        res.set_header("Set-Cookie", id + "; Path=/");
                        res.set_content(kLoginOk, "application/json");
                    });
        server.Get(R"(/main/services/execute/.*)",
                   [this](const httplib::Request& req, httplib::Response& res) {
                       Record(req);
                       bool cookie = Issued(req.get_header_value("Cookie"));
                       res.status = cookie ? 200 : 401;
                       res.set_content(cookie ? "{\"key\": \"MC_OK\", \"data\": {}}" : "{}",
                                       "application/json");
                   });
        server.Get("/logout/", [this](const httplib::Request& req, httplib::Response& res) {
            Record(req);
            HoldWhileAsked();
            res.set_content("{}", "application/json");
        });
    }
    void Start(httplib::Server& server, int& port, std::thread& thread) {
        Routes(server);
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([&server] { server.listen_after_bind(); });
    }

    KeyAndCert m_identity;
    std::unique_ptr<httplib::SSLServer> m_https;
    std::unique_ptr<httplib::Server> m_http;
    int m_httpsPort = 0;
    int m_httpPort = 0;
    std::thread m_httpsThread;
    std::thread m_httpThread;
    bool Issued(const std::string& cookie) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_issued.count(cookie) == 1;
    }

    std::atomic<int> m_logins{0};
    std::set<std::string> m_issued;
    static constexpr std::chrono::seconds kHoldLimit{10};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Seen> m_seen;
    bool m_holdLogouts = false;
    bool m_holdRanOut = false;
};

struct Client {
    Client(LoopbackArray& array, bool ssl)
        : transport(settings,
                    marl::harness::RedirectingFactory({static_cast<uint16_t>(array.HttpsPort()),
                                                       static_cast<uint16_t>(array.HttpPort())}),
                    [](const std::string& text) { return text == kLoginOk; }) {
        settings.externalIp = "127.0.0.1";
        settings.userName = "admin";
        settings.password = "pa ss&word";
        settings.supportSsl = ssl;
    }
    uint32_t Run() { return transport.SendArrayRequest(L"vol_show", L"", reply); }
    ProviderSettings settings;
    marl::array::ArrayTransport transport;
    std::string reply;
};

std::vector<std::string> Errors(const TransportLogCapture& log) {
    std::vector<std::string> errors;
    for (const auto& l : log.Lines()) {
        if (l.level == "ERROR") errors.push_back(l.message);
    }
    return errors;
}

TEST(CurlTransport, HeadersAreThoseWinHttpSends) {
    TransportLogCapture log;
    LoopbackArray array(CertKind::kValid);
    Client client(array, true);
    ASSERT_EQ(client.Run(), 0u);
    array.AwaitRequests(3);
    std::vector<Seen> seen = array.Requests();
    ASSERT_EQ(seen.size(), 3u);
    auto header = [](const Seen& s, const char* name) {
        auto it = s.headers.find(name);
        return it == s.headers.end() ? std::string("<none>") : it->second;
    };
    for (const Seen& s : seen) {
        EXPECT_EQ(header(s, "User-Agent"), "QVssProvider HTTP Client");
        EXPECT_EQ(header(s, "Pragma"), "no-cache");
        EXPECT_EQ(header(s, "Cache-Control"), "no-cache");
        EXPECT_EQ(header(s, "Accept"), "<none>");
        EXPECT_EQ(header(s, "Expect"), "<none>");
    }
    EXPECT_EQ(header(seen[0], "Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(header(seen[0], "Content-Length"), std::to_string(seen[0].body.size()));
    EXPECT_EQ(header(seen[1], "Content-Type"), "<none>");
}

// The array's logout is sent and its reply not awaited: the exchange returns
// while the reply is held back, and the request, written whole before the
// connection closed, still arrives, over TLS and plain HTTP alike.
TEST(CurlTransport, LogoutIsSentWholeAndItsReplyNotAwaited) {
    for (bool ssl : {true, false}) {
        SCOPED_TRACE(ssl ? "HTTPS" : "HTTP");
        TransportLogCapture log;
        LoopbackArray array(CertKind::kValid);
        array.HoldLogouts();
        Client client(array, ssl);
        ASSERT_EQ(client.Run(), 0u);
        array.AwaitRequests(3);
        array.LetLogoutsGo();
        std::vector<Seen> seen = array.Requests();
        ASSERT_EQ(seen.size(), 3u);
        EXPECT_EQ(seen[2].method, "GET");
        EXPECT_EQ(seen[2].path, "/logout/");
        EXPECT_EQ(seen[2].remotePort, seen[0].remotePort);
        EXPECT_FALSE(array.HoldRanOut()) << "the exchange waited for the logout's reply";
        EXPECT_TRUE(Errors(log).empty());
    }
}

// A body far larger than the socket's buffers leaves the first write short
// of the request: sending still returns only once all of it is out, so that
// closing the request right away (as the logout's is) loses none of it.
TEST(CurlTransport, SendingReturnsOnlyOnceALargeBodyIsOut) {
    const std::string body(size_t{8} << 20, 'x');
    for (bool ssl : {true, false}) {
        SCOPED_TRACE(ssl ? "HTTPS" : "HTTP");
        LoopbackArray array(CertKind::kValid);
        std::unique_ptr<marl::platform::HttpClient> client = marl::platform::CreateHttpClient();
        marl::platform::HttpHandle session = client->OpenSession(L"test");
        marl::platform::HttpHandle connection =
            client->Connect(session, L"127.0.0.1",
                            static_cast<uint16_t>(ssl ? array.HttpsPort() : array.HttpPort()));
        marl::platform::HttpHandle request =
            client->OpenRequest(connection, L"POST", L"/main/services/login/", ssl, false);
        client->SetSecurityFlags(request, marl::platform::kHttpIgnoreUnknownCa);
        EXPECT_TRUE(client->SendRequest(request, L"", body));
        client->CloseHandle(request);
        client->CloseHandle(connection);
        client->CloseHandle(session);
        array.AwaitRequests(1);
        std::vector<Seen> seen = array.Requests();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].body.size(), body.size());
    }
}

TEST(CurlTransport, CertificateLeniencyIsWinHttpsAndNoMore) {
    struct Row {
        const char* name;
        CertKind kind;
        uint32_t result;
        std::vector<std::string> errorsPerAttempt;
    };
    const std::vector<Row> rows = {
        {"self-signed", CertKind::kValid, 0, {}},
        {"wrong host", CertKind::kWrongHost, 0, {}},
        {"expired",
         CertKind::kExpired,
         E_ARRAY_SESSION,
         {"winHttpStatusCallback test: 0x20", "SendRequest: Error ('12175') has occurred."}},
        {"not yet valid",
         CertKind::kNotYetValid,
         E_ARRAY_SESSION,
         {"winHttpStatusCallback test: 0x20", "SendRequest: Error ('12175') has occurred."}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TransportLogCapture log;
        LoopbackArray array(r.kind);
        Client client(array, true);
        EXPECT_EQ(client.Run(), r.result);
        std::vector<std::string> expected;
        int attempts = r.result ? 5 : 0;
        for (int i = 0; i < attempts; ++i) {
            expected.insert(expected.end(), r.errorsPerAttempt.begin(), r.errorsPerAttempt.end());
        }
        EXPECT_EQ(Errors(log), expected);
        array.AwaitRequests(r.result ? 0 : 3);
        EXPECT_EQ(array.Requests().size(), r.result ? 0u : 3u);
    }
}

TEST(CurlTransport, LaterExchangesResumeTheTlsSession) {
    TransportLogCapture log;
    LoopbackArray array(CertKind::kValid);
    Client first(array, true);
    ASSERT_EQ(first.Run(), 0u);
    array.AwaitRequests(3);
    Client second(array, true);
    ASSERT_EQ(second.Run(), 0u);
    array.AwaitRequests(6);
    std::vector<Seen> seen = array.Requests();
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_FALSE(seen[0].resumed);
    EXPECT_TRUE(seen[3].resumed);
    EXPECT_NE(seen[3].remotePort, seen[0].remotePort);  // a new connection all the same
}

// Calls that take no provider lock may run side by side; they share only the
// TLS session cache, under its locks.
TEST(CurlTransport, ExchangesRunSideBySide) {
    TransportLogCapture log;
    LoopbackArray array(CertKind::kValid);
    std::atomic<int> succeeded{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 3; ++i) {
                Client client(array, true);
                if (client.Run() == 0) ++succeeded;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(succeeded.load(), 12);
}

}  // namespace
