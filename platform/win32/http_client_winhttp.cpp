// The HTTP client seam over WinHTTP in synchronous mode. Each step is one
// WinHTTP call; the handles are WinHTTP's own, and the error numbers are
// GetLastError's. WinHTTP follows redirects by default; sessions and
// requests are opened with that turned off (a handle on which it cannot be
// turned off is not handed out), and hands bodies out as they arrive.
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <map>

#include "platform/http_client.h"

namespace marl::platform {
namespace {

// WinHTTP takes a plain function; the seam's callback is kept here. The
// system registers one callback function only, so one slot is enough.
std::atomic<HttpSecureFailureCallback> g_secureFailureCallback{nullptr};

void CALLBACK StatusTrampoline(HINTERNET, DWORD_PTR, DWORD status, LPVOID info, DWORD length) {
    if (status != WINHTTP_CALLBACK_STATUS_SECURE_FAILURE) return;
    HttpSecureFailureCallback callback = g_secureFailureCallback.load();
    DWORD flags = 0;
    if (info && length >= sizeof(DWORD)) flags = *static_cast<const DWORD*>(info);
    if (callback) callback(flags);
}

class WinHttpClient final : public HttpClient {
  public:
    HttpHandle OpenSession(const std::wstring& userAgent) override {
        HINTERNET session = ::WinHttpOpen(userAgent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                          WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
        DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        return Track(
            KeepIf(session, session && ::WinHttpSetOption(session, WINHTTP_OPTION_REDIRECT_POLICY,
                                                          &policy, sizeof policy)));
    }

    bool SetSecureFailureCallback(HttpHandle session, HttpSecureFailureCallback callback) override {
        g_secureFailureCallback.store(callback);
        WINHTTP_STATUS_CALLBACK previous =
            ::WinHttpSetStatusCallback(static_cast<HINTERNET>(session), StatusTrampoline,
                                       WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
        return Track(previous != WINHTTP_INVALID_STATUS_CALLBACK);
    }

    HttpHandle Connect(HttpHandle session, const std::wstring& host, uint16_t port) override {
        return Track(::WinHttpConnect(static_cast<HINTERNET>(session), host.c_str(), port, 0));
    }

    HttpHandle OpenRequest(HttpHandle connection, const std::wstring& verb,
                           const std::wstring& path, bool secure, bool refresh) override {
        DWORD flags = (secure ? WINHTTP_FLAG_SECURE : 0) | (refresh ? WINHTTP_FLAG_REFRESH : 0);
        HINTERNET request =
            ::WinHttpOpenRequest(static_cast<HINTERNET>(connection), verb.c_str(), path.c_str(),
                                 nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
        DWORD feature = WINHTTP_DISABLE_REDIRECTS;
        return Track(
            KeepIf(request, request && ::WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE,
                                                          &feature, sizeof feature)));
    }

    bool SetSecurityFlags(HttpHandle request, uint32_t flags) override {
        DWORD value = flags;
        return Track(::WinHttpSetOption(static_cast<HINTERNET>(request),
                                        WINHTTP_OPTION_SECURITY_FLAGS, &value, sizeof value));
    }

    bool SendRequest(HttpHandle request, const std::wstring& headers,
                     const std::string& body) override {
        DWORD length = static_cast<DWORD>(body.size());
        LPVOID data = body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data());
        return Track(::WinHttpSendRequest(
            static_cast<HINTERNET>(request),
            headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
            headers.empty() ? 0 : static_cast<DWORD>(-1L), data, length, length, 0));
    }

    bool ReceiveResponse(HttpHandle request) override {
        return Track(::WinHttpReceiveResponse(static_cast<HINTERNET>(request), nullptr));
    }

    bool QueryStatusCode(HttpHandle request, uint32_t* status) override {
        DWORD value = 0;
        DWORD size = sizeof value;
        bool ok = Track(::WinHttpQueryHeaders(
            static_cast<HINTERNET>(request), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
            WINHTTP_HEADER_NAME_BY_INDEX, &value, &size, WINHTTP_NO_HEADER_INDEX));
        if (ok) *status = value;
        return ok;
    }

    bool QueryDataAvailable(HttpHandle request, uint32_t* available) override {
        DWORD value = 0;
        bool ok = Track(::WinHttpQueryDataAvailable(static_cast<HINTERNET>(request), &value));
        *available = ok ? value : 0;
        if (ok && value == 0 && EndsShort(static_cast<HINTERNET>(request))) {
            m_lastError = ERROR_WINHTTP_CONNECTION_ERROR;
            return false;
        }
        return ok;
    }

    bool ReadData(HttpHandle request, void* buffer, uint32_t size, uint32_t* read) override {
        DWORD value = 0;
        bool ok = Track(::WinHttpReadData(static_cast<HINTERNET>(request), buffer, size, &value));
        *read = ok ? value : 0;
        if (ok) m_bodyBytes[request] += value;
        return ok;
    }

    bool CloseHandle(HttpHandle handle) override {
        m_bodyBytes.erase(handle);
        return Track(::WinHttpCloseHandle(static_cast<HINTERNET>(handle)));
    }

    uint32_t LastError() const override { return m_lastError; }

  private:
    // Some WinHTTP implementations (Wine's among them) end a body quietly when
    // the connection closes before the announced Content-Length; the end of
    // such a body is reported as a failed connection, never as a complete
    // reply.
    bool EndsShort(HINTERNET request) {
        DWORD expected = 0;
        DWORD size = sizeof expected;
        if (!::WinHttpQueryHeaders(
                request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                WINHTTP_HEADER_NAME_BY_INDEX, &expected, &size, WINHTTP_NO_HEADER_INDEX)) {
            return false;  // no length announced: the end of the stream is the end
        }
        return m_bodyBytes[request] < expected;
    }

    // The handle when `ok`; otherwise closes it (keeping the failed call's
    // error number) and gives nullptr.
    static HINTERNET KeepIf(HINTERNET handle, BOOL ok) {
        if (ok) return handle;
        DWORD error = ::GetLastError();
        if (handle) ::WinHttpCloseHandle(handle);
        ::SetLastError(error);
        return nullptr;
    }

    // Keeps GetLastError's value right after each call, before anything else
    // (the logger's own file and mutex calls included) can change it.
    HttpHandle Track(HINTERNET handle) {
        m_lastError = handle ? 0 : ::GetLastError();
        return handle;
    }
    bool Track(BOOL ok) {
        m_lastError = ok ? 0 : ::GetLastError();
        return ok != FALSE;
    }

    uint32_t m_lastError = 0;
    std::map<HttpHandle, uint64_t> m_bodyBytes;  // per request handle
};

}  // namespace

std::unique_ptr<HttpClient> CreateHttpClient() { return std::make_unique<WinHttpClient>(); }

}  // namespace marl::platform
