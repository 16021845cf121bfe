#include "RedirectingHttpClient.h"

#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <string>
#include <utility>

namespace marl::harness {
namespace {

using marl::platform::HttpClient;
using marl::platform::HttpHandle;

using Clock = std::chrono::steady_clock;

std::atomic<uint64_t> g_sessions{0};
std::atomic<uint64_t> g_micros{0};
std::atomic<uint64_t> g_commands{0};
std::atomic<uint64_t> g_connections{0};

// Where the array takes its commands; logins and logouts go elsewhere.
constexpr wchar_t kCommandPath[] = L"/main/services/execute/";

bool IsCommand(const std::wstring& path) { return path.rfind(kCommandPath, 0) == 0; }

class RedirectingHttpClient final : public HttpClient {
  public:
    RedirectingHttpClient(std::unique_ptr<HttpClient> inner, PortRedirect redirect)
        : m_inner(std::move(inner)), m_redirect(redirect) {}

    HttpHandle OpenSession(const std::wstring& userAgent) override {
        ++g_sessions;
        Clock::time_point start = Clock::now();
        HttpHandle session = m_inner->OpenSession(userAgent);
        if (session != nullptr) m_opened[session] = start;
        return session;
    }
    bool SetSecureFailureCallback(HttpHandle session,
                                  marl::platform::HttpSecureFailureCallback callback) override {
        return m_inner->SetSecureFailureCallback(session, callback);
    }
    HttpHandle Connect(HttpHandle session, const std::wstring& host, uint16_t port) override {
        if (port == 443 && m_redirect.httpsPort != 0) port = m_redirect.httpsPort;
        if (port == 80 && m_redirect.httpPort != 0) port = m_redirect.httpPort;
        ++g_connections;
        return m_inner->Connect(session, host, port);
    }
    HttpHandle OpenRequest(HttpHandle connection, const std::wstring& verb,
                           const std::wstring& path, bool secure, bool refresh) override {
        HttpHandle request = m_inner->OpenRequest(connection, verb, path, secure, refresh);
        if (request != nullptr && IsCommand(path)) m_commandRequests.insert(request);
        return request;
    }
    bool SetSecurityFlags(HttpHandle request, uint32_t flags) override {
        return m_inner->SetSecurityFlags(request, flags);
    }
    bool SendRequest(HttpHandle request, const std::wstring& headers,
                     const std::string& body) override {
        if (m_commandRequests.count(request) != 0) ++g_commands;
        return m_inner->SendRequest(request, headers, body);
    }
    bool ReceiveResponse(HttpHandle request) override { return m_inner->ReceiveResponse(request); }
    bool QueryStatusCode(HttpHandle request, uint32_t* status) override {
        return m_inner->QueryStatusCode(request, status);
    }
    bool QueryDataAvailable(HttpHandle request, uint32_t* available) override {
        return m_inner->QueryDataAvailable(request, available);
    }
    bool ReadData(HttpHandle request, void* buffer, uint32_t size, uint32_t* read) override {
        return m_inner->ReadData(request, buffer, size, read);
    }
    bool CloseHandle(HttpHandle handle) override {
        bool closed = m_inner->CloseHandle(handle);
        m_commandRequests.erase(handle);
        auto session = m_opened.find(handle);
        if (session != m_opened.end()) {
            auto spent = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() -
                                                                               session->second);
            g_micros += static_cast<uint64_t>(spent.count());
            m_opened.erase(session);
        }
        return closed;
    }
    uint32_t LastError() const override { return m_inner->LastError(); }

  private:
    std::unique_ptr<HttpClient> m_inner;
    PortRedirect m_redirect;
    std::map<HttpHandle, Clock::time_point> m_opened;  // sessions by the time they opened
    std::set<HttpHandle> m_commandRequests;            // open requests that carry a command
};

}  // namespace

marl::platform::HttpClientFactory RedirectingFactory(PortRedirect redirect,
                                                     marl::platform::HttpClientFactory inner) {
    return [redirect, inner = std::move(inner)]() -> std::unique_ptr<HttpClient> {
        std::unique_ptr<HttpClient> client = inner();
        if (!client) return nullptr;
        return std::make_unique<RedirectingHttpClient>(std::move(client), redirect);
    };
}

marl::platform::HttpClientFactory RedirectingFactory(PortRedirect redirect) {
    return RedirectingFactory(redirect, [] { return marl::platform::CreateHttpClient(); });
}

ExchangeTally RedirectedExchanges() {
    return {g_sessions.load(), g_micros.load(), g_commands.load(), g_connections.load()};
}

}  // namespace marl::harness
