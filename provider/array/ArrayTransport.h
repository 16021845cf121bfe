#pragma once
// The one way to run an array command: a complete, self-contained exchange
// of login (form POST), one command (GET) and logout, over a fresh HTTP
// session, repeated from the beginning up to five times while it fails.
//
// Nothing survives a call: no connection, no login session, no cookie. The
// command's reply body comes back as raw bytes; judging it is the caller's
// business. Every step is logged where it fails (module "PROVIDER", unit
// "QProviderInterface", function "CQProvider::SendQ9HttpsRequest" or
// "CQProvider::SendNxaHttpRequest").
//
// Results: 0 when the command reply arrived with status 200 and its body was
// read; 1 when the command reply had another status or a body could not be
// read; E_ARRAY_SESSION when the session, the connection or a request could
// not be opened or sent, no response or status came back, or the login was
// refused. A redirect is never followed: it is a status other than 200 like
// any other. A body (login or command) longer than the JSON reader accepts
// (json::kMaxTextBytes) is not read past that length, so that no endpoint
// can make a call hold more; the attempt fails with 1, logged once, and is
// repeated. Callers test for zero and non-zero only. Once the command reply
// is in, a logout that cannot be opened or sent is logged but does not fail
// the call: repeating the exchange would run the command on the array a
// second time (a second snapshot, or a failure for an existing name).
//
// Thread safety: calls share nothing but the settings (read only) and the
// logger, so they may run side by side.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/ProviderSettings.h"
#include "platform/http_client.h"
#include "provider/array/BuildArgs.h"

constexpr uint32_t E_ARRAY_SESSION = 0x8000401D;

namespace marl::array {

// Judges the login reply text: true admits the session. Must not throw for
// malformed text (CheckLoginReply in ResponseEnvelope.h is the product's).
using LoginCheck = std::function<bool(const std::string& loginText)>;

}  // namespace marl::array

// The status callback of the HTTPS sender: logs ERROR
// "winHttpStatusCallback test: 0x%X" with the secure-failure flags.
void winHttpStatusCallback(uint32_t failureFlags);

namespace marl::array {

class ArrayTransport {
  public:
    // `settings` is read at every call, not copied: it must outlive the
    // transport (the provider object fills it after constructing its parts).
    ArrayTransport(const ProviderSettings& settings, marl::platform::HttpClientFactory factory,
                   LoginCheck loginCheck);
    virtual ~ArrayTransport();
    ArrayTransport(const ArrayTransport&) = delete;
    ArrayTransport& operator=(const ArrayTransport&) = delete;

    // HTTPS (port 443) when supportSsl is set, plain HTTP (port 80)
    // otherwise. `reply` receives the command body of the last attempt.
    uint32_t SendArrayRequest(const std::wstring& command, const std::wstring& args,
                              std::string& reply);
    uint32_t SendQ9HttpsRequest(const std::wstring& command, const std::wstring& args,
                                std::string& reply);
    uint32_t SendNxaHttpRequest(const std::wstring& command, const std::wstring& args,
                                std::string& reply);

    struct SenderProfile;

  protected:
    // A zero-filled buffer for one chunk of a body, or nullptr when memory is
    // short (the body read so far is then taken as complete).
    virtual std::unique_ptr<char[]> NewChunk(size_t bytes);

  private:
    class Attempt;
    uint32_t Send(const SenderProfile& profile, const std::wstring& command,
                  const std::wstring& args, std::string& reply);

    const ProviderSettings& m_settings;
    marl::platform::HttpClientFactory m_factory;
    LoginCheck m_loginCheck;
};

}  // namespace marl::array
