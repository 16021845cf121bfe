#pragma once
// Test support for the transport's integration tests: the product connects to
// the array's fixed ports (443, 80); a test server listens on free loopback
// ports instead, so the real backend is wrapped in a client that sends those
// two ports elsewhere and passes everything else through unchanged.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/http_client.h"

namespace marl::testing {

class PortRedirectingHttpClient final : public marl::platform::HttpClient {
  public:
    PortRedirectingHttpClient(std::unique_ptr<HttpClient> inner, uint16_t httpPort,
                              uint16_t httpsPort)
        : m_inner(std::move(inner)), m_httpPort(httpPort), m_httpsPort(httpsPort) {}

    marl::platform::HttpHandle Connect(marl::platform::HttpHandle session, const std::wstring& host,
                                       uint16_t port) override {
        uint16_t to = port == 443 ? m_httpsPort : port == 80 ? m_httpPort : port;
        return m_inner->Connect(session, host, to);
    }

    marl::platform::HttpHandle OpenSession(const std::wstring& userAgent) override {
        return m_inner->OpenSession(userAgent);
    }
    bool SetSecureFailureCallback(marl::platform::HttpHandle session,
                                  marl::platform::HttpSecureFailureCallback callback) override {
        return m_inner->SetSecureFailureCallback(session, callback);
    }
    marl::platform::HttpHandle OpenRequest(marl::platform::HttpHandle connection,
                                           const std::wstring& verb, const std::wstring& path,
                                           bool secure, bool refresh) override {
        return m_inner->OpenRequest(connection, verb, path, secure, refresh);
    }
    bool SetSecurityFlags(marl::platform::HttpHandle request, uint32_t flags) override {
        return m_inner->SetSecurityFlags(request, flags);
    }
    bool SendRequest(marl::platform::HttpHandle request, const std::wstring& headers,
                     const std::string& body) override {
        return m_inner->SendRequest(request, headers, body);
    }
    bool ReceiveResponse(marl::platform::HttpHandle request) override {
        return m_inner->ReceiveResponse(request);
    }
    bool QueryStatusCode(marl::platform::HttpHandle request, uint32_t* status) override {
        return m_inner->QueryStatusCode(request, status);
    }
    bool QueryDataAvailable(marl::platform::HttpHandle request, uint32_t* available) override {
        return m_inner->QueryDataAvailable(request, available);
    }
    bool ReadData(marl::platform::HttpHandle request, void* buffer, uint32_t size,
                  uint32_t* read) override {
        return m_inner->ReadData(request, buffer, size, read);
    }
    bool CloseHandle(marl::platform::HttpHandle handle) override {
        return m_inner->CloseHandle(handle);
    }
    uint32_t LastError() const override { return m_inner->LastError(); }

  private:
    std::unique_ptr<HttpClient> m_inner;
    uint16_t m_httpPort;
    uint16_t m_httpsPort;
};

// The build's real backend, with 80 and 443 sent to the given ports.
inline marl::platform::HttpClientFactory RedirectedFactory(int httpPort, int httpsPort) {
    return [httpPort, httpsPort]() -> std::unique_ptr<marl::platform::HttpClient> {
        return std::make_unique<PortRedirectingHttpClient>(marl::platform::CreateHttpClient(),
                                                           static_cast<uint16_t>(httpPort),
                                                           static_cast<uint16_t>(httpsPort));
    };
}

}  // namespace marl::testing
