// The array client's frame: construction, the transport's entry points, and
// the small pieces every array operation shares (argument texts, the reply
// check), and the real seams (ArrayClientSeams.h).
#include "provider/array/CQArrayClient.h"

#include <cstdio>

#include "common/QVssUtils.h"
#include "platform/clock.h"
#include "provider/array/ResponseEnvelope.h"

using marl::json::JsonNode;

namespace {

// The seams of a client made without any: everything acts for real.
marl::array::ArrayClientSeams& RealSeams() {
    static marl::array::ArrayClientSeams seams;
    return seams;
}

}  // namespace

marl::array::CQArrayClient::CQArrayClient(const ProviderSettings& settings)
    : marl::array::CQArrayClient(
          settings, [] { return marl::platform::CreateHttpClient(); }, RealSeams()) {}

marl::array::CQArrayClient::CQArrayClient(const ProviderSettings& settings,
                                          marl::platform::HttpClientFactory factory)
    : marl::array::CQArrayClient(settings, std::move(factory), RealSeams()) {}

marl::array::CQArrayClient::CQArrayClient(const ProviderSettings& settings,
                                          marl::platform::HttpClientFactory factory,
                                          ArrayClientSeams& seams)
    : m_settings(settings),
      m_seams(seams),
      m_transport(m_settings, std::move(factory), marl::array::CheckLoginReply) {}

marl::array::CQArrayClient::~CQArrayClient() = default;

uint32_t marl::array::CQArrayClient::SendArrayRequest(const std::wstring& command,
                                                      const std::wstring& args,
                                                      std::string& reply) {
    return m_transport.SendArrayRequest(command, args, reply);
}

uint32_t marl::array::CQArrayClient::SendQ9HttpsRequest(const std::wstring& command,
                                                        const std::wstring& args,
                                                        std::string& reply) {
    return m_transport.SendQ9HttpsRequest(command, args, reply);
}

uint32_t marl::array::CQArrayClient::SendNxaHttpRequest(const std::wstring& command,
                                                        const std::wstring& args,
                                                        std::string& reply) {
    return m_transport.SendNxaHttpRequest(command, args, reply);
}

std::wstring marl::array::CQArrayClient::BuildArgs(int count, const marl::array::ArgPair* pairs) {
    return ::BuildArgs(count, pairs);
}

std::wstring marl::array::CQArrayClient::Args(const Pairs& pairs) {
    return ::BuildArgs(static_cast<int>(pairs.size()), pairs.data());
}

// Array names are narrow texts; each byte becomes one wide character.
std::wstring marl::array::CQArrayClient::Widen(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}

bool marl::array::CQArrayClient::ReplyFailed(const std::string& reply, JsonNode& data) {
    JsonNode root = marl::json::Parse(reply);
    return ParseResponse(root, data);
}

void marl::array::ArrayClientSeams::PauseBeforeRetry(uint32_t milliseconds) {
    marl::platform::SleepMilliseconds(milliseconds);
}

// Local time as "%m%d%H%M%S", the stamp of every snapshot name this provider
// makes (here into the restore's 20-byte buffer).
std::string marl::array::ArrayClientSeams::RestoreTimestamp() {
    marl::platform::LocalTime t = marl::platform::GetLocalTimeNow();
    char buffer[20];
    std::snprintf(buffer, sizeof buffer, "%02d%02d%02d%02d%02d", t.month, t.day, t.hour, t.minute,
                  t.second);
    return buffer;
}

void marl::array::ArrayClientSeams::RunHelperScsiRescan() { execute_qvcenter_scsi_rescan(); }

void marl::array::ArrayClientSeams::RunHelperSetRdm(const std::string& scsiSerials) {
    execute_qvcenter_set_rdm(scsiSerials);
}
