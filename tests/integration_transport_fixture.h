#pragma once
// The fixture of the transport's simulator tests: one exchange through the
// build's real HTTP backend against the simulator ctest started (ports 80
// and 443 sent to the simulator's), the product's login check, the log
// captured, and small readers of the simulator's journal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "RedirectingHttpClient.h"
#include "SimulatorFixture.h"
#include "provider/array/ArrayTransport.h"
#include "provider/array/ResponseEnvelope.h"
#include "provider/array/testing/TransportLogCapture.h"

namespace marl::testing {

class TransportTest : public marl::sim::SimulatorTest {
  protected:
    TransportTest() {
        m_settings.externalIp = "127.0.0.1";
        m_settings.userName = "admin";
        m_settings.password = "password";
    }

    // One SendArrayRequest with m_settings, over HTTPS or plain HTTP.
    uint32_t Exchange(bool ssl, const std::wstring& command = L"vol_show",
                      const std::wstring& args = L"") {
        m_settings.supportSsl = ssl;
        marl::array::ArrayTransport transport(
            m_settings,
            marl::harness::RedirectingFactory({static_cast<uint16_t>(Sim().HttpsPort()),
                                               static_cast<uint16_t>(Sim().HttpPort())}),
            marl::array::CheckLoginReply);
        size_t logouts = Sim().JournalOf("logout").size();
        uint32_t result = transport.SendArrayRequest(command, args, m_reply);
        if (result == 0) AwaitLogout(logouts);
        return result;
    }

    // The logout is sent and its reply not awaited, so the exchange returns
    // before the simulator has taken it in. Waits a bounded while for the
    // journal to hold more than `before` logouts; one that was lost stays
    // missing from what the test reads next.
    void AwaitLogout(size_t before) {
        constexpr int kPolls = 500;
        for (int i = 0; i < kPolls && Sim().JournalOf("logout").size() <= before; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    // The ERROR lines since the test began.
    std::vector<std::string> Errors() const {
        std::vector<std::string> errors;
        for (const auto& l : m_log.Lines()) {
            if (l.level == "ERROR" && l.module == "PROVIDER") errors.push_back(l.message);
        }
        return errors;
    }

    std::vector<std::string> Commands() {
        std::vector<std::string> commands;
        for (const marl::sim::JournalRecord& r : Sim().Journal()) commands.push_back(r.command);
        return commands;
    }

    void AddFault(const std::string& target, const std::string& type, long count = -1) {
        marl::sim::FaultRequest f;
        f.target = target;
        f.type = type;
        f.count = count;
        ASSERT_NE(Sim().AddFault(f), 0u) << Sim().LastError();
    }

    TransportLogCapture m_log;
    ProviderSettings m_settings;
    std::string m_reply;
};

// `once` repeated `n` times.
inline std::vector<std::string> Times(int n, const std::vector<std::string>& once) {
    std::vector<std::string> all;
    for (int i = 0; i < n; ++i) all.insert(all.end(), once.begin(), once.end());
    return all;
}

}  // namespace marl::testing
