#pragma once
// The HTTP client seam: a small synchronous interface shaped like WinHTTP's
// step-by-step API, so that the array transport can log every step with its
// own message and error number whichever backend the build compiled.
//
// Backends: WinHTTP in the Windows build (win32/http_client_winhttp.cpp),
// libcurl with OpenSSL in the POSIX build (posix/http_client_curl.cpp).
//
// Handles are opaque; nullptr means "not opened". A session owns the cookies
// and the kept-alive connection that its requests share. Every handle that a
// call returned must be given to CloseHandle exactly once; close requests
// before their connection and the connection before its session.
//
// Error numbers: every step sets the client's last error (LastError), 0 after
// a success. WinHTTP's numbers are reported in both builds (the POSIX backend
// maps its own failures onto them), so a log reads the same everywhere:
//   6      ERROR_INVALID_HANDLE
//   8      ERROR_NOT_ENOUGH_MEMORY
//   87     ERROR_INVALID_PARAMETER
//   12002  ERROR_WINHTTP_TIMEOUT
//   12004  ERROR_WINHTTP_INTERNAL_ERROR (anything without a closer match)
//   12005  ERROR_WINHTTP_INVALID_URL
//   12007  ERROR_WINHTTP_NAME_NOT_RESOLVED
//   12019  ERROR_WINHTTP_INCORRECT_HANDLE_STATE
//   12029  ERROR_WINHTTP_CANNOT_CONNECT
//   12030  ERROR_WINHTTP_CONNECTION_ERROR
//   12152  ERROR_WINHTTP_INVALID_SERVER_RESPONSE
//   12175  ERROR_WINHTTP_SECURE_FAILURE
//
// Redirects: no request follows one. A 3xx answer is a response like any
// other, with its status and body; the caller decides (the array transport
// refuses every status other than 200). Following one would resend a login's
// form, the password in it, to wherever the answer points.
//
// Bodies: a client hands a body out as it arrives and holds only a bounded
// part of it that has not been read yet, whatever the body's length; how
// much of a body to read is the caller's decision. Closing a request before
// its body was read to the end abandons the rest (and its connection).
//
// Thread safety: one client object and its handles belong to one thread at a
// time. Different client objects may be used on different threads at once.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace marl::platform {

using HttpHandle = void*;

// Security flags of SetSecurityFlags (WinHTTP's SECURITY_FLAG_* values).
constexpr uint32_t kHttpIgnoreUnknownCa = 0x00000100;
constexpr uint32_t kHttpIgnoreCertCnInvalid = 0x00001000;

// Flags passed to a secure-failure callback (WinHTTP's
// WINHTTP_CALLBACK_STATUS_FLAG_* values).
constexpr uint32_t kHttpSecureFailureRevocationFailed = 0x00000001;
constexpr uint32_t kHttpSecureFailureInvalidCert = 0x00000002;
constexpr uint32_t kHttpSecureFailureCertRevoked = 0x00000004;
constexpr uint32_t kHttpSecureFailureInvalidCa = 0x00000008;
constexpr uint32_t kHttpSecureFailureCertCnInvalid = 0x00000010;
constexpr uint32_t kHttpSecureFailureCertDateInvalid = 0x00000020;
constexpr uint32_t kHttpSecureFailureChannelError = 0x80000000;

// Called with the failure flags when a TLS handshake fails its certificate
// checks. WinHTTP may call it on a thread of its own.
using HttpSecureFailureCallback = void (*)(uint32_t failureFlags);

class HttpClient {
  public:
    virtual ~HttpClient() = default;

    // A session with the given user agent, the system's default proxy
    // configuration and the client's default time-outs.
    virtual HttpHandle OpenSession(const std::wstring& userAgent) = 0;
    // Registers `callback` for secure-failure notifications on the session.
    virtual bool SetSecureFailureCallback(HttpHandle session,
                                          HttpSecureFailureCallback callback) = 0;
    // A connection handle for host:port. Nothing goes on the wire yet.
    virtual HttpHandle Connect(HttpHandle session, const std::wstring& host, uint16_t port) = 0;
    // A request on the connection. `secure` selects TLS; `refresh` asks
    // proxies not to answer from their caches.
    virtual HttpHandle OpenRequest(HttpHandle connection, const std::wstring& verb,
                                   const std::wstring& path, bool secure, bool refresh) = 0;
    // Certificate checks to relax for this request (and, with a client that
    // validates per connection, for the connection it establishes).
    virtual bool SetSecurityFlags(HttpHandle request, uint32_t flags) = 0;
    // Sends the request with extra headers (lines separated by CR LF, may
    // be empty) and a body (may be empty).
    virtual bool SendRequest(HttpHandle request, const std::wstring& headers,
                             const std::string& body) = 0;
    // Waits for the response headers.
    virtual bool ReceiveResponse(HttpHandle request) = 0;
    virtual bool QueryStatusCode(HttpHandle request, uint32_t* status) = 0;
    // The number of body bytes that can be read now without waiting; 0 once
    // the body is complete.
    virtual bool QueryDataAvailable(HttpHandle request, uint32_t* available) = 0;
    virtual bool ReadData(HttpHandle request, void* buffer, uint32_t size, uint32_t* read) = 0;
    virtual bool CloseHandle(HttpHandle handle) = 0;

    // The error number of the latest step (0 after a success).
    virtual uint32_t LastError() const = 0;
};

// The backend this build compiled.
std::unique_ptr<HttpClient> CreateHttpClient();

using HttpClientFactory = std::function<std::unique_ptr<HttpClient>()>;

}  // namespace marl::platform
