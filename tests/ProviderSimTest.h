#pragma once
// A provider object aimed at the array simulator, for the integration tests
// and the fault matrix: its own installation folder and configuration (the
// simulator's credentials, the password stored enciphered), its connections
// sent to the simulator's ports, and the outside world (VMware helper, the
// pause between preparation attempts) recorded instead of run.
#include <rapidjson/document.h>

#include <memory>
#include <string>
#include <vector>

#include "HarnessConfig.h"
#include "RedirectingHttpClient.h"
#include "SimulatorFixture.h"
#include "provider/CQProvider.h"
#include "provider/testing/QProviderTesting.h"
#include "provider/array/ResponseParsers.h"

namespace marl::testing {

class SimProvider : public CQProvider {
  public:
    using CQProvider::CQProvider;
    ~SimProvider() override { OnUnload(TRUE); }  // discard while the seams still exist

    std::vector<std::string> helperCalls;  // "remove_rdm  a,b", "scsi_rescan", ...
    int pauses = 0;

  protected:
    void RunHelperRemoveRdm(const std::string& s) override {
        helperCalls.push_back("remove_rdm" + s);
    }
    void RunHelperSetRdm(const std::string& s) override { helperCalls.push_back("set_rdm" + s); }
    void RunHelperScsiRescan() override { helperCalls.push_back("scsi_rescan"); }
    void PauseBeforeRetry(uint32_t) override { ++pauses; }
};

// Serials of the simulator's default inventory.
struct DefaultInventory {
    static constexpr const char* kDbData = "6001405ab000001";
    static constexpr const char* kDbLog = "6001405ab000002";
    static constexpr const char* kDbTemp = "6001405ab000003";
    static constexpr const char* kAppBin = "6001405ab000004";
    static constexpr const char* kAppData = "6001405ab000005";
    static constexpr const char* kReplData = "6001405ab000006";
    static constexpr const char* kReplLog = "6001405ab000007";
    static constexpr const char* kReplDataPeer = "6001405cd000006";
    static constexpr const char* kStandalone = "6001405ab000008";
};

class ProviderSimTest : public marl::sim::SimulatorTest {
  protected:
    void SetUp() override {
        marl::sim::SimulatorTest::SetUp();
        if (HasFatalFailure()) return;
        m_provider = Make();
    }

    // `ssl` false: the provider talks plain HTTP on port 80 (SUPPORT_SSL =
    // [False]), which spares a TLS handshake per exchange where the test is
    // about what the array answers rather than about the secure channel.
    std::unique_ptr<SimProvider> Make(bool vmware = false, bool replication = false,
                                      bool ssl = true) {
        marl::harness::HarnessConfig config;
        config.supportSsl = ssl;
        config.password = "password";
        config.snapPrefix = "itest";
        config.vmwareVm = vmware;
        config.replicationMode = replication;
        config.logLevel = "TRACE";
        m_scratch.WriteConfig(marl::harness::ConfigFileText(config));
        m_provider.reset();
        return std::make_unique<SimProvider>(marl::harness::RedirectingFactory(
            {static_cast<uint16_t>(Sim().HttpsPort()), static_cast<uint16_t>(Sim().HttpPort())}));
    }

    // Array commands received (logins and logouts left out), in order.
    std::vector<std::string> Commands() {
        std::vector<std::string> commands;
        for (const auto& r : Sim().Journal())
            if (r.command != "login" && r.command != "logout") commands.push_back(r.command);
        return commands;
    }
    size_t CountOf(const std::string& command) {
        size_t n = 0;
        for (const std::string& c : Commands()) n += c == command ? 1 : 0;
        return n;
    }

    // Volume snapshots of exposable snapshots whose names begin with
    // `prefix` (those a set exposed), and mappings of their LUNs.
    size_t ExposedVolSnaps(const std::string& prefix) { return CountState(prefix, false); }
    size_t MappedVolSnaps(const std::string& prefix) { return CountState(prefix, true); }
    // True while the array holds a volume snapshot with SCSI serial `serial`
    // (as the provider normalises serials).
    bool VolSnapPresent(const std::string& serial) {
        rapidjson::Document state;
        state.Parse(Sim().State().c_str());
        if (state.HasParseError() || !state.IsObject() || !state.HasMember("inventory"))
            return false;
        for (const auto& s : state["inventory"]["snapshots"].GetArray())
            for (const auto& v : s["volsnaps"].GetArray())
                for (const char* field : {"scsi_sn", "vss_scsi_sn"})
                    if (v.HasMember(field) && v[field].IsString() &&
                        NormaliseSerial(v[field].GetString()) == serial)
                        return true;
        return false;
    }

    marl::testing::ProviderScratch m_scratch;
    std::unique_ptr<SimProvider> m_provider;

  private:
    size_t CountState(const std::string& prefix, bool mappings) {
        rapidjson::Document state;
        state.Parse(Sim().State().c_str());
        if (state.HasParseError() || !state.IsObject() || !state.HasMember("inventory"))
            return ~size_t{0};
        const rapidjson::Value& inv = state["inventory"];
        size_t n = 0;
        if (mappings) {
            for (const auto& m : inv["mappings"].GetArray()) {
                std::string object = m["object"].GetString();
                if (object.find(":" + prefix) != std::string::npos) ++n;
            }
            return n;
        }
        for (const auto& s : inv["snapshots"].GetArray()) {
            std::string name = s["name"].GetString();
            if (name.rfind(prefix, 0) == 0 && s["exposable"].GetBool()) n += s["volsnaps"].Size();
        }
        return n;
    }
};

}  // namespace marl::testing
