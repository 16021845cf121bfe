#pragma once
// A scripted HTTP backend for tests of the array transport: it answers the
// transport's requests from a script, fails any step on demand with a given
// error number, and records what was sent and what was closed, so that every
// step's failure can be checked without a network.
//
// Requests are told apart by their path prefix ("/main/services/login/",
// "/main/services/execute/", "/logout/"); attempts are counted by the
// sessions opened. Test-only; not thread-safe.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/http_client.h"

namespace marl::testing {

enum class HttpStep {
    kOpenSession,
    kConnect,
    kOpenRequest,
    kSend,
    kReceive,
    kQueryStatus,
    kQueryDataAvailable,
    kReadData,
};

struct FakeReply {
    uint32_t status = 200;
    std::string body;
    size_t chunk = 0;  // bytes per QueryDataAvailable; 0: the whole body at once
};

struct FakeFailure {
    HttpStep step;
    std::wstring pathPrefix;  // the request it applies to; empty: any
    int attempt = 0;          // 1..5; 0: every attempt
    uint32_t error = 12029;
    int occurrence = 0;               // the n-th such call within the request; 0: every one
    uint32_t secureFailureFlags = 0;  // given to the session's callback, if any
};

struct FakeSent {
    int attempt;
    std::string verb;
    std::string path;
    std::string headers;
    std::string body;
};

class FakeArray {
  public:
    using Responder = std::function<FakeReply(const std::string& path, const std::string& body)>;

    // By default a login is admitted with body "login-ok" and every other
    // request answered 200 with "reply:" + its path.
    Responder respond = [](const std::string& path, const std::string&) {
        if (path.rfind("/main/services/login/", 0) == 0) return FakeReply{200, "login-ok"};
        return FakeReply{200, "reply:" + path};
    };
    std::vector<FakeFailure> failures;

    // What happened, in order.
    std::vector<std::string> userAgents;      // one per session opened
    std::vector<std::string> connects;        // "host:port"
    std::vector<std::string> openedRequests;  // "VERB path secure=S refresh=R"
    std::vector<uint32_t> securityFlags;      // per SetSecurityFlags call
    std::vector<FakeSent> sent;
    std::vector<std::string> closed;  // "session", "connection", or the path
    std::vector<std::string> misuse;  // calls on unknown or closed handles
    int callbacksSet = 0;

    int Attempt() const { return static_cast<int>(userAgents.size()); }
    size_t OpenHandles() const { return m_handles.size(); }

    marl::platform::HttpClientFactory Factory();

  private:
    friend class FakeHttpClient;
    struct Handle {
        std::string kind;  // "session", "connection", "request"
        std::string verb;
        std::string path;
        bool sent = false;
        FakeReply reply;
        size_t offset = 0;
        std::map<HttpStep, int> calls;
        marl::platform::HttpSecureFailureCallback callback = nullptr;
        Handle* session = nullptr;
    };
    std::map<void*, std::unique_ptr<Handle>> m_handles;
};

class FakeHttpClient final : public marl::platform::HttpClient {
  public:
    explicit FakeHttpClient(FakeArray& array) : m_array(array) {}

    marl::platform::HttpHandle OpenSession(const std::wstring& userAgent) override {
        m_array.userAgents.push_back(Narrow(userAgent));
        if (Fails(HttpStep::kOpenSession, nullptr)) return nullptr;
        return Add("session", nullptr);
    }
    bool SetSecureFailureCallback(marl::platform::HttpHandle session,
                                  marl::platform::HttpSecureFailureCallback callback) override {
        FakeArray::Handle* h = Find(session, "session");
        if (!h) return false;
        h->callback = callback;
        ++m_array.callbacksSet;
        return Succeed();
    }
    marl::platform::HttpHandle Connect(marl::platform::HttpHandle session, const std::wstring& host,
                                       uint16_t port) override {
        FakeArray::Handle* s = Find(session, "session");
        if (!s) return nullptr;
        m_array.connects.push_back(Narrow(host) + ":" + std::to_string(port));
        if (Fails(HttpStep::kConnect, nullptr)) return nullptr;
        return Add("connection", s);
    }
    marl::platform::HttpHandle OpenRequest(marl::platform::HttpHandle connection,
                                           const std::wstring& verb, const std::wstring& path,
                                           bool secure, bool refresh) override {
        FakeArray::Handle* c = Find(connection, "connection");
        if (!c) return nullptr;
        m_array.openedRequests.push_back(Narrow(verb) + " " + Narrow(path) +
                                         " secure=" + (secure ? "1" : "0") +
                                         " refresh=" + (refresh ? "1" : "0"));
        FakeArray::Handle probe;
        probe.path = Narrow(path);
        if (Fails(HttpStep::kOpenRequest, &probe)) return nullptr;
        marl::platform::HttpHandle h = Add("request", c->session);
        m_array.m_handles[h]->verb = Narrow(verb);
        m_array.m_handles[h]->path = probe.path;
        return h;
    }
    bool SetSecurityFlags(marl::platform::HttpHandle request, uint32_t flags) override {
        if (!Find(request, "request")) return false;
        m_array.securityFlags.push_back(flags);
        return Succeed();
    }
    bool SendRequest(marl::platform::HttpHandle request, const std::wstring& headers,
                     const std::string& body) override {
        FakeArray::Handle* r = Find(request, "request");
        if (!r) return false;
        if (Fails(HttpStep::kSend, r)) return false;
        m_array.sent.push_back({m_array.Attempt(), r->verb, r->path, Narrow(headers), body});
        r->sent = true;
        r->reply = m_array.respond(r->path, body);
        return Succeed();
    }
    bool ReceiveResponse(marl::platform::HttpHandle request) override {
        FakeArray::Handle* r = Find(request, "request");
        if (!r) return false;
        if (!r->sent) return Fail(12019);
        return !Fails(HttpStep::kReceive, r) && Succeed();
    }
    bool QueryStatusCode(marl::platform::HttpHandle request, uint32_t* status) override {
        FakeArray::Handle* r = Find(request, "request");
        if (!r || Fails(HttpStep::kQueryStatus, r)) return false;
        *status = r->reply.status;
        return Succeed();
    }
    bool QueryDataAvailable(marl::platform::HttpHandle request, uint32_t* available) override {
        *available = 0;
        FakeArray::Handle* r = Find(request, "request");
        if (!r || Fails(HttpStep::kQueryDataAvailable, r)) return false;
        size_t left = r->reply.body.size() - r->offset;
        size_t chunk = r->reply.chunk ? r->reply.chunk : left;
        *available = static_cast<uint32_t>(left < chunk ? left : chunk);
        return Succeed();
    }
    bool ReadData(marl::platform::HttpHandle request, void* buffer, uint32_t size,
                  uint32_t* read) override {
        *read = 0;
        FakeArray::Handle* r = Find(request, "request");
        if (!r || Fails(HttpStep::kReadData, r)) return false;
        size_t left = r->reply.body.size() - r->offset;
        size_t n = left < size ? left : size;
        r->reply.body.copy(static_cast<char*>(buffer), n, r->offset);
        r->offset += n;
        *read = static_cast<uint32_t>(n);
        return Succeed();
    }
    bool CloseHandle(marl::platform::HttpHandle handle) override {
        auto it = m_array.m_handles.find(handle);
        if (it == m_array.m_handles.end()) {
            m_array.misuse.push_back("close of an unknown handle");
            return Fail(6);
        }
        const FakeArray::Handle& h = *it->second;
        m_array.closed.push_back(h.kind == "request" ? h.path : h.kind);
        m_array.m_handles.erase(it);
        return Succeed();
    }
    uint32_t LastError() const override { return m_lastError; }

  private:
    static std::string Narrow(const std::wstring& w) {
        std::string s;
        for (wchar_t c : w) s.push_back(static_cast<char>(c));
        return s;
    }
    bool Fail(uint32_t error) {
        m_lastError = error;
        return false;
    }
    bool Succeed() {
        m_lastError = 0;
        return true;
    }
    marl::platform::HttpHandle Add(const std::string& kind, FakeArray::Handle* session) {
        auto h = std::make_unique<FakeArray::Handle>();
        h->kind = kind;
        h->session = kind == "session" ? h.get() : session;
        void* key = h.get();
        m_array.m_handles[key] = std::move(h);
        Succeed();
        return key;
    }
    FakeArray::Handle* Find(marl::platform::HttpHandle handle, const std::string& kind) {
        auto it = m_array.m_handles.find(handle);
        if (it == m_array.m_handles.end() || it->second->kind != kind) {
            m_array.misuse.push_back("use of a bad " + kind + " handle");
            Fail(6);
            return nullptr;
        }
        return it->second.get();
    }
    // Whether a scripted failure hits this call; sets the error if so.
    bool Fails(HttpStep step, FakeArray::Handle* request) {
        int occurrence = request ? ++request->calls[step] : 1;
        for (const FakeFailure& f : m_array.failures) {
            if (f.step != step || (f.attempt && f.attempt != m_array.Attempt())) continue;
            if (f.occurrence && f.occurrence != occurrence) continue;
            std::wstring prefix = f.pathPrefix;
            if (request && request->path.rfind(Narrow(prefix), 0) != 0) continue;
            if (f.secureFailureFlags && request && request->session && request->session->callback) {
                request->session->callback(f.secureFailureFlags);
            }
            return !Fail(f.error);
        }
        return false;
    }

    FakeArray& m_array;
    uint32_t m_lastError = 0;
};

inline marl::platform::HttpClientFactory FakeArray::Factory() {
    return [this]() -> std::unique_ptr<marl::platform::HttpClient> {
        return std::make_unique<FakeHttpClient>(*this);
    };
}

}  // namespace marl::testing
