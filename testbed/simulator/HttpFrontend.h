// The array's HTTP and HTTPS ports: cpp-httplib servers bound to 127.0.0.1
// (or another loopback address)
// that hand every request to the ArrayService and carry out its answer
// (including the faults: waiting, cutting a body short, dropping the
// connection). Each accepted connection gets a number that the journal
// records, so tests can tell which requests shared a connection.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "ArrayService.h"
#include "Certificates.h"
#include "StopSignal.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace marl::sim {

constexpr char kDefaultListenAddress[] = "127.0.0.1";

// True for a dotted IPv4 address in 127.0.0.0/8 (the simulator serves
// loopback only).
bool IsLoopbackAddress(const std::string& text);

struct FrontendOptions {
    bool http = true;
    bool https = true;
    int httpPort = 0;  // 0: any free port
    int httpsPort = 0;
    // The loopback address the array's ports listen on (--listen-address): a
    // product with fixed ports (443, 80) reaches a simulator of its own at
    // 127.0.0.2 and up. The control port stays on 127.0.0.1.
    std::string address = kDefaultListenAddress;
    bool verbose = false;  // one line per request on stderr
};

class HttpFrontend {
  public:
    HttpFrontend(ArrayService& service, CertificateStore& certs, StopSignal& stop);
    ~HttpFrontend();

    bool Start(const FrontendOptions& options, std::string& error);
    void Stop();
    int HttpPort() const { return m_httpPort; }
    int HttpsPort() const { return m_httpsPort; }

  private:
    void Install(httplib::Server& server, bool tls);
    void Serve(const httplib::Request& req, httplib::Response& res, bool tls);
    void Carry(const HttpReplyPlan& plan, const httplib::Request& req, httplib::Response& res);
    bool Bind(httplib::Server& server, int wanted, int& bound, std::string& error);

    ArrayService& m_service;
    CertificateStore& m_certs;
    StopSignal& m_stop;
    FrontendOptions m_options;
    std::unique_ptr<httplib::Server> m_http;
    std::unique_ptr<httplib::Server> m_https;
    std::thread m_httpThread;
    std::thread m_httpsThread;
    int m_httpPort = 0;
    int m_httpsPort = 0;
};

// Waits (bounded) until a server started on another thread is accepting, so
// that a stop right after the start cannot be missed.
bool WaitUntilListening(httplib::Server& server);

// Number of the connection the calling server thread is serving (0 outside).
uint64_t CurrentConnectionId();

// Builds the task queue for a server whose connections should be numbered.
httplib::Server& UseNumberedConnections(httplib::Server& server);

// Closes both directions of the accepted connection between the two local
// ports without writing anything; the server's own later writes then fail.
bool DropConnection(int localPort, int remotePort);

// Acknowledges what the request's connection has received so far right away
// instead of after the kernel's delay (up to 40 ms). Called once a request's
// headers are read and before its body is: a client that writes its headers
// and its body separately with Nagle's algorithm on (Wine's WinHTTP does)
// holds the body back until the headers are acknowledged, and the kernel,
// which waits for a reply to carry the acknowledgement, would otherwise
// stall every such request by that delay.
void AcknowledgeAtOnce(const httplib::Request& req);

}  // namespace marl::sim
