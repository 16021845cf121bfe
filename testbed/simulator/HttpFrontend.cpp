#include "HttpFrontend.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace marl::sim {

namespace {

// Idle keep-alive connections hold a worker; a short wait bounds how long a
// shutdown takes, and clients send their requests back to back anyway.
constexpr time_t kKeepAliveSeconds = 2;
constexpr size_t kKeepAliveRequests = 1000;

void Configure(httplib::Server& server) {
    // Headers and body go out in separate writes; without this a client's
    // delayed acknowledgement stalls every reply by tens of milliseconds.
    server.set_tcp_nodelay(true);
    // The reverse stall, when the client writes a request in two parts.
    server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        AcknowledgeAtOnce(req);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_keep_alive_timeout(kKeepAliveSeconds);
    server.set_keep_alive_max_count(kKeepAliveRequests);
    server.set_payload_max_length(8 * 1024 * 1024);
    UseNumberedConnections(server);
}

// Sends the first half of the body and then fails the write, so the client
// gets the headers (with the full length) and the connection closes early.
void SetTruncatedBody(httplib::Response& res, const std::string& body, const std::string& type) {
    auto shared = std::make_shared<std::string>(body);
    res.set_content_provider(shared->size(), type,
                             [shared](size_t offset, size_t, httplib::DataSink& sink) {
                                 size_t half = shared->size() / 2;
                                 if (offset < half)
                                     sink.write(shared->data() + offset, half - offset);
                                 return false;
                             });
}

// A body of `length` bytes made block by block as the client takes it, so
// that gigabytes cost no memory. It ends early, without an error of its own,
// when the client hangs up or the simulator stops.
void SetStreamedBody(httplib::Response& res, long long length, StopSignal& stop) {
    static const std::string kBlock(64 * 1024, 'x');
    res.set_content_provider(static_cast<size_t>(length), "application/octet-stream",
                             [&stop](size_t, size_t left, httplib::DataSink& sink) {
                                 if (stop.Raised() || !sink.is_writable()) return false;
                                 return sink.write(kBlock.data(), std::min(left, kBlock.size()));
                             });
}

}  // namespace

bool IsLoopbackAddress(const std::string& text) {
    int parts[4] = {-1, -1, -1, -1};
    int part = 0;
    size_t digits = 0;
    for (char c : text) {
        if (c == '.' && digits > 0 && part < 3) {
            ++part;
            digits = 0;
        } else if (c >= '0' && c <= '9' && digits < 3) {
            parts[part] = (digits++ == 0 ? 0 : parts[part] * 10) + (c - '0');
        } else {
            return false;
        }
    }
    if (part != 3 || digits == 0 || parts[0] != 127) return false;
    for (int p : parts)
        if (p > 255) return false;
    return true;
}

bool WaitUntilListening(httplib::Server& server) {
    for (int i = 0; i < 5000 && !server.is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return server.is_running();
}

HttpFrontend::HttpFrontend(ArrayService& service, CertificateStore& certs, StopSignal& stop)
    : m_service(service), m_certs(certs), m_stop(stop) {}

HttpFrontend::~HttpFrontend() { Stop(); }

bool HttpFrontend::Bind(httplib::Server& server, int wanted, int& bound, std::string& error) {
    const std::string& address = m_options.address;
    bound = wanted == 0 ? server.bind_to_any_port(address)
                        : (server.bind_to_port(address, wanted) ? wanted : -1);
    if (bound > 0) return true;
    error = "could not bind " + address + ":" + std::to_string(wanted);
    return false;
}

bool HttpFrontend::Start(const FrontendOptions& options, std::string& error) {
    m_options = options;
    if (options.http) {
        m_http = std::make_unique<httplib::Server>();
        Install(*m_http, false);
        if (!Bind(*m_http, options.httpPort, m_httpPort, error)) return false;
    }
    if (options.https) {
        m_https = std::make_unique<httplib::SSLServer>(
            [this](SSL_CTX& ctx) { return m_certs.ConfigureContext(ctx); });
        if (!m_https->is_valid()) {
            error = "could not set up TLS";
            return false;
        }
        Install(*m_https, true);
        if (!Bind(*m_https, options.httpsPort, m_httpsPort, error)) return false;
    }
    if (m_http) m_httpThread = std::thread([this] { m_http->listen_after_bind(); });
    if (m_https) m_httpsThread = std::thread([this] { m_https->listen_after_bind(); });
    bool up =
        (!m_http || WaitUntilListening(*m_http)) && (!m_https || WaitUntilListening(*m_https));
    if (!up) error = "the HTTP servers did not start";
    return up;
}

void HttpFrontend::Stop() {
    if (m_http) m_http->stop();
    if (m_https) m_https->stop();
    if (m_httpThread.joinable()) m_httpThread.join();
    if (m_httpsThread.joinable()) m_httpsThread.join();
}

void HttpFrontend::Install(httplib::Server& server, bool tls) {
    Configure(server);
    auto handler = [this, tls](const httplib::Request& req, httplib::Response& res) {
        Serve(req, res, tls);
    };
    // Every path and method is the service's business, unknown ones included,
    // so that the journal sees them.
    server.Get(".*", handler);
    server.Post(".*", handler);
    server.Put(".*", handler);
    server.Delete(".*", handler);
    server.Patch(".*", handler);
}

void HttpFrontend::Serve(const httplib::Request& req, httplib::Response& res, bool tls) {
    HttpRequestInfo info;
    info.method = req.method;
    info.target = req.target;
    info.path = req.path;
    info.body = req.body;
    info.cookieHeader = req.get_header_value("Cookie");
    info.connection = CurrentConnectionId();
    info.tls = tls;
    HttpReplyPlan plan = m_service.Handle(info);
    if (m_options.verbose) {
        std::fprintf(stderr, "[simulator] connection %llu %s %s %s -> %d\n",
                     static_cast<unsigned long long>(info.connection), tls ? "https" : "http",
                     req.method.c_str(), req.target.c_str(), plan.status);
    }
    if (plan.delayMs > 0) m_stop.WaitFor(plan.delayMs);
    Carry(plan, req, res);
}

void HttpFrontend::Carry(const HttpReplyPlan& plan, const httplib::Request& req,
                         httplib::Response& res) {
    res.status = plan.status;
    if (!plan.setCookie.empty()) res.set_header("Set-Cookie", plan.setCookie);
    if (!plan.location.empty()) res.set_header("Location", plan.location);
    switch (plan.action) {
        case ReplyAction::Drop:
            DropConnection(req.local_port, req.remote_port);
            res.set_header("Connection", "close");
            break;
        case ReplyAction::Truncate:
            SetTruncatedBody(res, plan.body, plan.contentType);
            break;
        case ReplyAction::Stream:
            SetStreamedBody(res, plan.streamBytes, m_stop);
            break;
        case ReplyAction::Respond:
            res.set_content(plan.body, plan.contentType);
            break;
    }
}

}  // namespace marl::sim
