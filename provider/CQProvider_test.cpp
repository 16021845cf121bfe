// CQProvider against a scripted array (FakeHttpClient): the cases that need
// no inventory, or only a refusing or unreachable array. The whole lifecycle
// against the simulator is in tests/integration_provider_test.cpp.
#include "provider/CQProvider.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/ProductVersion.h"
#include "platform/com_memory.h"
#include "provider/array/testing/FakeHttpClient.h"
#include "provider/testing/QProviderTesting.h"

namespace {

using marl::testing::FakeArray;
using marl::testing::FakeReply;
using marl::testing::LunRecords;
using marl::testing::ProviderScratch;
using marl::testing::TestSetId;
using ::testing::ElementsAre;

constexpr char kExecute[] = "/main/services/execute/";

// The provider with its outside world replaced: the VMware helper is
// recorded and the preparation retries do not sleep.
class TestProvider : public CQProvider {
  public:
    using CQProvider::CQProvider;
    ~TestProvider() override { OnUnload(TRUE); }  // discard while the seams still exist

    void AddSnapInfo(const std::string& vol, const std::string& sn, const std::string& snapSn) {
        m_set.snapInfoList.push_back({vol, sn, snapSn, "vg"});
        m_set.cgList.push_back({"vg", "VSS_unit_0101000000", "", ""});
        m_set.snapsExposed = 1;
    }
    bool IsLunSupportedForTest(VDS_LUN_INFORMATION* lun) { return IsLunSupported(lun); }
    void SetExposed(int exposed) { m_set.snapsExposed = exposed; }
    int Exposed() const { return m_set.snapsExposed; }

    std::vector<std::string> removed;

  protected:
    void RunHelperRemoveRdm(const std::string& serials) override { removed.push_back(serials); }
    void PauseBeforeRetry(uint32_t) override {}
};

class ProviderUnitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // An array that admits every login and accepts every command.
        m_array.respond = [](const std::string& path, const std::string&) {
            if (path.rfind("/main/services/login/", 0) == 0)
                return FakeReply{200, R"({"key":"LOGIN_SUCCESSFUL","vss_api_version":"4"})"};
            return FakeReply{200, R"({"request":"x","info":"done","key":"MC_OK","data":{}})"};
        };
    }
    TestProvider& Make(bool vmware = false) {
        m_scratch.WriteConfig(ProviderScratch::ConfigText(vmware));
        m_provider = std::make_unique<TestProvider>(m_array.Factory());
        return *m_provider;
    }
    // Replies by command name from `m_replies`; other commands are accepted.
    void ReplyByCommand() {
        m_array.respond = [this](const std::string& path, const std::string&) {
            if (path.rfind("/main/services/login/", 0) == 0)
                return FakeReply{200, R"({"key":"LOGIN_SUCCESSFUL","vss_api_version":"4"})"};
            std::string rest = path.substr(std::min(path.size(), sizeof(kExecute) - 1));
            auto found = m_replies.find(rest.substr(0, rest.find('/')));
            if (found != m_replies.end()) return FakeReply{200, found->second};
            return FakeReply{200, R"({"request":"x","info":"done","key":"MC_OK","data":{}})"};
        };
    }
    // The commands sent, by name, in order.
    std::vector<std::string> Commands() const {
        std::vector<std::string> commands;
        for (const auto& s : m_array.sent) {
            if (s.path.rfind(kExecute, 0) != 0) continue;
            std::string rest = s.path.substr(sizeof(kExecute) - 1);
            commands.push_back(rest.substr(0, rest.find('/')));
        }
        return commands;
    }

    ProviderScratch m_scratch;
    FakeArray m_array;
    std::map<std::string, std::string> m_replies;
    std::unique_ptr<TestProvider> m_provider;
};

constexpr char kRefusedReply[] = R"({"key":"MC_REFUSED","info":"refused","request":"r"})";
constexpr char kVolSnapOfV1[] =
    R"({"key":"MC_OK","request":"r","data":{"vg:S:v1":{"scsi_sn":"AB01","base_volume":"v1"}}})";
constexpr char kTwoVolSnaps[] =
    R"({"key":"MC_OK","request":"r","data":{"vg:S:v1":{"scsi_sn":"AB01"},)"
    R"("vg:S:v2":{"scsi_sn":"AB02"}}})";

TEST_F(ProviderUnitTest, ConstructorLogsVersionReadsSettingsAndAppliesLevels) {
    m_scratch.WriteConfig(ProviderScratch::ConfigText(true, "RETENTION_POLICY = [weekly]\n"));
    TestProvider provider(m_array.Factory());
    EXPECT_EQ(provider.Settings().externalIp, "127.0.0.1");
    EXPECT_EQ(provider.Settings().hostName, "vsshost1");
    EXPECT_EQ(provider.Settings().retentionPolicy, "weekly");
    EXPECT_TRUE(provider.Settings().vmwareVm);
    EXPECT_TRUE(m_scratch.Logged("INFO", "CQProvider::CQProvider",
                                 std::string("Provider Version: ") + marl::kProductVersionText));
    EXPECT_TRUE(CQLogger::getInstance()->IsLogLevelEnabled("PROVIDER", QLOG_TRACE));
    EXPECT_EQ(provider.State(), VSS_SS_UNKNOWN);
    EXPECT_TRUE(Commands().empty());
}

TEST_F(ProviderUnitTest, MissingConfigurationGivesDefaultsAndTheErrorLine) {
    TestProvider provider(m_array.Factory());
    EXPECT_TRUE(provider.Settings().externalIp.empty());
    EXPECT_TRUE(provider.Settings().supportSsl);
    EXPECT_FALSE(provider.Settings().vmwareVm);
    EXPECT_TRUE(m_scratch.Logged("INFO", "CQProvider::CQProvider",
                                 std::string("Provider Version: ") + marl::kProductVersionText));
    EXPECT_EQ(m_scratch.Count("cannot open config file: rc = 2"), 1u);
}

TEST_F(ProviderUnitTest, UnimplementedMethodsAnswerNotImplemented) {
    TestProvider& p = Make();
    ULONGLONG mask = 0x1234;
    EXPECT_EQ(p.GetProviderCapabilities(&mask), E_NOTIMPL);
    EXPECT_EQ(mask, 0x1234u);
    EXPECT_EQ(p.OnReuseLuns(nullptr, nullptr, 0), E_NOTIMPL);
    EXPECT_THAT(m_scratch.MessagesOf("CQProvider::OnReuseLuns"),
                ElementsAre("returning 0x80004001"));
    EXPECT_TRUE(m_scratch.MessagesOf("CQProvider::GetProviderCapabilities").empty());
    EXPECT_EQ(p.OnLoad(nullptr), S_OK);
    EXPECT_EQ(p.PreFinalCommitSnapshots(TestSetId(1)), S_OK);
    EXPECT_EQ(p.PostFinalCommitSnapshots(TestSetId(1)), S_OK);
    EXPECT_EQ(p.State(), VSS_SS_UNKNOWN);
}

// Each set method called with no set in progress fails with its own line and
// leaves the set aborted.
TEST_F(ProviderUnitTest, SetMethodsOutOfOrderAreVetoedAndAbortTheSet) {
    struct Case {
        const char* function;
        const char* message;
        HRESULT (*call)(CQProvider&, const VSS_ID&);
    };
    const Case cases[] = {
        {"CQProvider::EndPrepareSnapshots", "EndPrepareSnapshots called out of order",
         [](CQProvider& p, const VSS_ID& id) { return p.EndPrepareSnapshots(id); }},
        {"CQProvider::PreCommitSnapshots", "PreCommitSnapshots called out of order",
         [](CQProvider& p, const VSS_ID& id) { return p.PreCommitSnapshots(id); }},
        {"CQProvider::CommitSnapshots", "CommitSnapshots called out of order. state=0",
         [](CQProvider& p, const VSS_ID& id) { return p.CommitSnapshots(id); }},
        {"CQProvider::PostCommitSnapshots", "PostCommitSnapshots called out of order",
         [](CQProvider& p, const VSS_ID& id) { return p.PostCommitSnapshots(id, 1); }},
    };
    for (const Case& c : cases) {
        ProviderScratch scratch;
        scratch.WriteConfig(ProviderScratch::ConfigText());
        TestProvider p(m_array.Factory());
        EXPECT_EQ(c.call(p, TestSetId(7)), VSS_E_PROVIDER_VETO) << c.function;
        EXPECT_EQ(p.State(), VSS_SS_ABORTED) << c.function;
        EXPECT_TRUE(scratch.Logged("ERROR", c.function, c.message)) << c.function;
        EXPECT_TRUE(scratch.Logged("TRACE", c.function, "returning 0x80042306")) << c.function;
        EXPECT_TRUE(scratch.Logged("TRACE", "CQProvider::DeleteAbortedSnapshots", "entering"));
    }
    EXPECT_TRUE(Commands().empty());
}

TEST_F(ProviderUnitTest, OtherVendorIsNotSupportedWithoutAskingTheArray) {
    TestProvider& p = Make();
    LunRecords luns{"6001405ab000001", "6001405ab000002"};
    luns.Add("6001405ab000003", "OTHER");
    BOOL supported = TRUE;
    EXPECT_EQ(p.AreLunsSupported(luns.Count(), 0, nullptr, luns.Data(), &supported), S_OK);
    EXPECT_EQ(supported, FALSE);
    EXPECT_TRUE(m_array.sent.empty());
    EXPECT_TRUE(m_scratch.Logged("WARN", "CQProvider::AreLunsSupported",
                                 "MarlVssProvider does not support volume/s in snapshot set"));
    EXPECT_TRUE(m_scratch.Logged("TRACE", "CQProvider::AreLunsSupported", "returning 0x00000000"));
}

// No array or transport code ever reaches VSS: an unreachable array is a veto.
TEST_F(ProviderUnitTest, UnreachableArrayIsAVetoNeverTheTransportCode) {
    m_array.failures.push_back({marl::testing::HttpStep::kConnect, L"", 0, 12029});
    TestProvider& p = Make();
    LunRecords luns{"6001405ab000001"};
    BOOL supported = TRUE;
    EXPECT_EQ(p.AreLunsSupported(luns.Count(), 0, nullptr, luns.Data(), &supported),
              VSS_E_PROVIDER_VETO);
    EXPECT_EQ(supported, FALSE);
    EXPECT_TRUE(m_scratch.Logged("ERROR", "CQProvider::AreLunsSupported",
                                 "MarlVssProvider could not get volumes from NXA: 0x8000401d"));
    EXPECT_EQ(
        p.BeginPrepareSnapshot(TestSetId(1), TestSetId(2), 0, luns.Count(), nullptr, luns.Data()),
        VSS_E_PROVIDER_VETO);
    EXPECT_EQ(p.State(), VSS_SS_ABORTED);
    IVssAsync* async = nullptr;
    EXPECT_EQ(p.ResyncLuns(luns.Data(), luns.Data(), 1, &async), VSS_E_PROVIDER_VETO);
    EXPECT_EQ(async, nullptr);
    EXPECT_EQ(p.LocateLuns(luns.Count(), luns.Data()), VSS_E_PROVIDER_VETO);
    EXPECT_EQ(p.OnLunEmpty(nullptr, &luns[0]), VSS_E_PROVIDER_VETO);
}

// VSS's serial buffer holds only its own text: a longer replacement gets a
// task-memory buffer of its own.
TEST_F(ProviderUnitTest, LongerReplacementSerialGetsItsOwnBuffer) {
    m_array.respond = [](const std::string& path, const std::string&) {
        if (path.rfind("/main/services/login/", 0) == 0)
            return FakeReply{200, R"({"key":"LOGIN_SUCCESSFUL","vss_api_version":"4"})"};
        if (path.find("/vol_show/") != std::string::npos)
            return FakeReply{200, R"({"request":"vol_show","info":"","key":"MC_OK","data":{"v":)"
                                  R"({"scsi_sn":"6001405ab000006","vss_scsi_sn":"cd000006",)"
                                  R"("volume_group":"g"}}})"};
        return FakeReply{200, R"({"request":"x","info":"","key":"MC_NOT_FOUND"})"};
    };
    TestProvider& p = Make();
    LunRecords luns{"cd000006"};
    char* before = luns[0].m_szSerialNumber;
    BOOL supported = FALSE;
    EXPECT_EQ(p.AreLunsSupported(1, 0, nullptr, luns.Data(), &supported), S_OK);
    EXPECT_EQ(supported, TRUE);
    EXPECT_EQ(luns.Serial(0), "6001405ab000006");
    EXPECT_NE(luns[0].m_szSerialNumber, before);
    // The replica listing was refused: logged, and the answer stands.
    EXPECT_THAT(Commands(), ElementsAre("vol_show", "replication_volume_show"));
    // Short of memory for the new buffer: the LUN keeps its serial.
    LunRecords again{"cd000006"};
    marl::platform::SetComAllocGate([](size_t) { return true; });
    HRESULT hr = p.AreLunsSupported(1, 0, nullptr, again.Data(), &supported);
    marl::platform::SetComAllocGate(nullptr);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(again.Serial(0), "cd000006");
}

TEST_F(ProviderUnitTest, GetTargetLunsWithNoLunsTouchesNothing) {
    TestProvider& p = Make();
    EXPECT_EQ(p.GetTargetLuns(0, nullptr, nullptr, nullptr), S_OK);
    EXPECT_TRUE(m_array.sent.empty());
    EXPECT_TRUE(m_scratch.Logged("TRACE", "CQProvider::GetTargetLuns", "done: 0x00000000"));
}

struct IdentifierCase {
    const char* name;
    const char* vendor;
    std::vector<std::pair<int, std::string>> identifiers;  // type, bytes
    bool supported;
};

class FillInLunInfoTest : public ProviderUnitTest,
                          public ::testing::WithParamInterface<IdentifierCase> {};

void AttachIdentifiers(VDS_LUN_INFORMATION& lun,
                       const std::vector<std::pair<int, std::string>>& ids) {
    if (ids.empty()) return;
    auto* array = static_cast<VDS_STORAGE_IDENTIFIER*>(
        marl::platform::ComTaskMemAlloc(ids.size() * sizeof(VDS_STORAGE_IDENTIFIER)));
    lun.m_deviceIdDescriptor.m_rgIdentifiers = array;
    lun.m_deviceIdDescriptor.m_cIdentifiers = static_cast<ULONG>(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        array[i].m_CodeSet = VDSStorageIdCodeSetBinary;
        array[i].m_Type = static_cast<VDS_STORAGE_IDENTIFIER_TYPE>(ids[i].first);
        array[i].m_cbIdentifier = static_cast<ULONG>(ids[i].second.size());
        array[i].m_rgbIdentifier =
            static_cast<BYTE*>(marl::platform::ComTaskMemAlloc(ids[i].second.size()));
        std::memcpy(array[i].m_rgbIdentifier, ids[i].second.data(), ids[i].second.size());
    }
}

TEST_P(FillInLunInfoTest, RecognisesOnlyThisProvidersSnapshotLuns) {
    const IdentifierCase& c = GetParam();
    TestProvider& p = Make();
    LunRecords luns;
    VDS_LUN_INFORMATION& lun = luns.Add("6001405f0000001", c.vendor);
    AttachIdentifiers(lun, c.identifiers);
    BOOL supported = c.supported ? FALSE : TRUE;
    EXPECT_EQ(p.FillInLunInfo(nullptr, &lun, &supported), S_OK);
    EXPECT_EQ(supported, c.supported ? TRUE : FALSE);
    EXPECT_EQ(lun.m_BusType, c.supported ? VDSBusTypeScsi : VDSBusTypeiScsi);
    EXPECT_EQ(std::string(lun.m_szSerialNumber), "6001405f0000001");
    EXPECT_TRUE(m_array.sent.empty());
}

const std::string kMark = std::string("Marl HW Provider") + std::string(16, '\x7f');

INSTANTIATE_TEST_SUITE_P(
    Identifiers, FillInLunInfoTest,
    ::testing::Values(
        IdentifierCase{"MarkOfType1", "MARL", {{1, kMark}}, true},
        IdentifierCase{"MarkAfterOtherTypes", "MARL", {{3, kMark}, {1, "short"}, {1, kMark}}, true},
        IdentifierCase{"SixteenBytesOnly", "MARL", {{1, "Marl HW Provider"}}, false},
        IdentifierCase{"SeventeenBytes", "MARL", {{1, "Marl HW Provider!"}}, true},
        IdentifierCase{"OtherName", "MARL", {{1, std::string("Marl HW Provides") + kMark}}, false},
        IdentifierCase{"MarkButNotVendorIdType", "MARL", {{8, kMark}}, false},
        IdentifierCase{"NoIdentifiers", "MARL", {}, false},
        IdentifierCase{"OtherVendor", "MARLX", {{1, kMark}}, false},
        IdentifierCase{"LowerCaseVendor", "marl", {{1, kMark}}, false}),
    [](const ::testing::TestParamInfo<IdentifierCase>& info) { return info.param.name; });

TEST_F(ProviderUnitTest, IsLunSupportedLogsWhyALunIsRefused) {
    TestProvider& p = Make();
    LunRecords luns{"6001405f0000001"};
    AttachIdentifiers(luns[0], {{2, kMark}, {1, "Marl HW Provider"}, {1, std::string(20, 'x')}});
    EXPECT_FALSE(p.IsLunSupportedForTest(&luns[0]));
    std::vector<std::string> debug = m_scratch.MessagesOf("CQProvider::IsLunSupported", "DEBUG");
    ASSERT_EQ(debug.size(), 3u);
    EXPECT_THAT(debug[0], ::testing::EndsWith("vendor MARL i=0 : type = 2"));
    EXPECT_THAT(debug[1],
                ::testing::EndsWith(
                    "vendor MARL i=1 : m_cbIdentifier = 16, lenName = 16, type = 1, codeSet = 1 "));
    EXPECT_THAT(debug[2], ::testing::EndsWith(
                              "i=2 : strncmp((const char *)storId.m_rgbIdentifier, providerName, "
                              "lenName)!=0  m_rgbIdentifier=" +
                              std::string(20, 'x')));
    EXPECT_THAT(m_scratch.MessagesOf("CQProvider::IsLunSupported", "ERROR"),
                ElementsAre(::testing::EndsWith("vendor MARL - returning False!")));
}

TEST_F(ProviderUnitTest, StateChangeNotificationsAreLoggedInFlagOrder) {
    TestProvider& p = Make();
    LunRecords luns{"6001405f0000001", "6001405f0000002"};
    EXPECT_EQ(p.OnLunStateChange(luns.Data(), nullptr, 2, 0x700), S_OK);
    EXPECT_THAT(
        m_scratch.MessagesOf("LogOnLunStateChangeMessage", "INFO"),
        ElementsAre(
            "Notify Read/Write : '6001405f0000001'", "Notify pre-recovery : '6001405f0000001'",
            "Notify post-recovery : '6001405f0000001'", "Notify Read/Write : '6001405f0000002'",
            "Notify pre-recovery : '6001405f0000002'", "Notify post-recovery : '6001405f0000002'"));
    EXPECT_TRUE(m_scratch.Logged("TRACE", "CQProvider::OnLunStateChange", "returning 0x00000000"));
    EXPECT_TRUE(m_array.sent.empty());
}

TEST_F(ProviderUnitTest, OnLunEmptyOnAPhysicalHostMakesOneRequestAndNoHelperCall) {
    TestProvider& p = Make(false);
    LunRecords luns{"6001405f0000001"};
    EXPECT_EQ(p.OnLunEmpty(nullptr, &luns[0]), S_OK);
    EXPECT_THAT(Commands(), ElementsAre("vss_volsnap_empty"));
    EXPECT_TRUE(p.removed.empty());
}

TEST_F(ProviderUnitTest, OnLunEmptyInAVirtualMachineDetachesFirst) {
    TestProvider& p = Make(true);
    LunRecords luns{"6001405f0000001"};
    EXPECT_EQ(p.OnLunEmpty(nullptr, &luns[0]), S_OK);
    EXPECT_THAT(p.removed, ElementsAre(" 6001405f0000001"));
    EXPECT_TRUE(m_scratch.Logged("INFO", "CQProvider::OnLunEmpty",
                                 "OnLunEmpty:setting  6001405f0000001 for rdm remove"));
    EXPECT_THAT(Commands(), ElementsAre("vss_volsnap_empty"));
}

// A serial from VSS goes onto the helper's command line only when it is made
// of letters and digits; the array is still asked to release the LUN.
TEST_F(ProviderUnitTest, OnLunEmptyKeepsAnUnsafeSerialOffTheHelperCommandLine) {
    TestProvider& p = Make(true);
    for (const char* serial : {"6001\" --operation x", "a b", "sn,other", "-x"}) {
        LunRecords luns{serial};
        p.removed.clear();
        EXPECT_EQ(p.OnLunEmpty(nullptr, &luns[0]), S_OK) << serial;
        EXPECT_THAT(p.removed, ElementsAre(" ")) << serial;
    }
    EXPECT_EQ(Commands().size(), 4u);
    EXPECT_EQ(m_scratch.MessagesOf("CQProvider::OnLunEmpty", "ERROR").size(), 4u);
}

TEST_F(ProviderUnitTest, OnLunEmptyForARefusedOrEmptySerialIsAVeto) {
    m_array.respond = [](const std::string& path, const std::string&) {
        if (path.rfind("/main/services/login/", 0) == 0)
            return FakeReply{200, R"({"key":"LOGIN_SUCCESSFUL","vss_api_version":"4"})"};
        return FakeReply{200, R"({"request":"x","info":"no such LUN","key":"MC_NOT_FOUND"})"};
    };
    TestProvider& p = Make();
    LunRecords luns{"6001405f0000009", ""};
    EXPECT_EQ(p.OnLunEmpty(nullptr, &luns[0]), VSS_E_PROVIDER_VETO);
    EXPECT_TRUE(
        m_scratch.Logged("ERROR", "CQProvider::OnLunEmpty", "deleteSnapshotLun failed 0x00000001"));
    EXPECT_EQ(p.OnLunEmpty(nullptr, &luns[1]), VSS_E_PROVIDER_VETO);
    EXPECT_TRUE(
        m_scratch.Logged("ERROR", "CQProvider::OnLunEmpty", "deleteSnapshotLun failed 0x80042306"));
    EXPECT_THAT(Commands(), ElementsAre("vss_volsnap_empty"));
}

TEST_F(ProviderUnitTest, DiscardingASetReleasesEveryRecordedLunInOrder) {
    TestProvider& p = Make(true);
    p.AddSnapInfo("v1", "6001405ab000001", "6001405f0000001");
    p.AddSnapInfo("v2", "6001405ab000002", "");
    p.AddSnapInfo("v3", "6001405ab000003", "6001405f0000003");
    p.DeleteAbortedSnapshots();
    EXPECT_THAT(p.removed, ElementsAre(" 6001405f0000001,6001405f0000003"));
    EXPECT_THAT(Commands(), ElementsAre("vss_volsnap_empty", "vss_volsnap_empty"));
    EXPECT_THAT(
        m_scratch.MessagesOf("CQProvider::DeleteAbortedSnapshots", "DEBUG"),
        ElementsAre("adding Lun 6001405f0000001 to scsi_sc list", "adding Lun  to scsi_sc list",
                    "adding Lun 6001405f0000003 to scsi_sc list", "deleting Lun 6001405f0000001",
                    "deleting Lun ", "deleting Lun 6001405f0000003"));
    EXPECT_TRUE(p.SnapInfos().empty());
    EXPECT_TRUE(p.CgInfos().empty());
    // With nothing recorded the helper is still called once, with no serial.
    p.removed.clear();
    p.DeleteAbortedSnapshots();
    EXPECT_THAT(p.removed, ElementsAre(" "));
}

// A failed GetTargetLuns gives back only what it exposed itself. A set that
// was exposed before the call holds LUNs that VSS has received: whatever
// fails, the call sends no release and asks for no listing. When the call
// exposed the set and the listing fails, nothing is released and the set
// stays exposed.
TEST_F(ProviderUnitTest, FailedTargetLunsReleaseOnlyWhatTheyExposed) {
    struct Case {
        const char* label;
        bool exposedBefore;
        bool failMemory;       // the identifier's allocation fails
        bool nullDestination;  // VSS passes no destination array
        const char* listing;   // the "volsnap_show" reply
        HRESULT result;
        std::vector<std::string> commands;
        int exposedAfter;
        const char* error;  // an ERROR line of GetTargetLuns, or ""
    };
    const std::string leftError =
        "could not list the snapshot LUNs the failed call exposed; left on the array: "
        "vg:VSS_unit_0101000000";
    const Case cases[] = {
        {"exposed before, null array",
         true,
         false,
         true,
         kTwoVolSnaps,
         VSS_E_PROVIDER_VETO,
         {},
         1,
         ""},
        {"exposed before, no memory", true, true, false, kTwoVolSnaps, E_OUTOFMEMORY, {}, 1, ""},
        {"exposed before, serial refused",
         true,
         false,
         false,
         kTwoVolSnaps,
         VSS_E_PROVIDER_VETO,
         {"vss_volsnap_show"},
         1,
         ""},
        {"exposed here, released",
         false,
         false,
         false,
         kTwoVolSnaps,
         VSS_E_PROVIDER_VETO,
         {"exposable_snapshot_create", "vss_volsnap_show", "volsnap_show", "vss_volsnap_empty",
          "vss_volsnap_empty"},
         0,
         ""},
        {"exposed here, listing refused",
         false,
         false,
         false,
         kRefusedReply,
         VSS_E_PROVIDER_VETO,
         {"exposable_snapshot_create", "vss_volsnap_show", "volsnap_show"},
         1,
         leftError.c_str()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ProviderScratch scratch;
        scratch.WriteConfig(ProviderScratch::ConfigText());
        m_replies = {{"vss_volsnap_show", kRefusedReply}, {"volsnap_show", c.listing}};
        ReplyByCommand();
        m_array.sent.clear();
        TestProvider p(m_array.Factory());
        p.AddSnapInfo("v1", "6001405ab000001", "");
        p.SetExposed(c.exposedBefore ? 1 : 0);
        LunRecords sources{"6001405ab000001"};
        LunRecords targets(1);
        if (c.failMemory) marl::platform::SetComAllocGate([](size_t bytes) { return bytes == 32; });
        HRESULT hr = p.GetTargetLuns(1, nullptr, sources.Data(),
                                     c.nullDestination ? nullptr : targets.Data());
        marl::platform::SetComAllocGate(nullptr);
        EXPECT_EQ(hr, c.result);
        EXPECT_EQ(Commands(), c.commands);
        EXPECT_EQ(p.Exposed(), c.exposedAfter);
        std::vector<std::string> errors = scratch.MessagesOf("CQProvider::GetTargetLuns", "ERROR");
        if (*c.error != 0) {
            EXPECT_THAT(errors, ::testing::Contains(std::string(c.error)));
        } else {
            EXPECT_THAT(errors, ::testing::Not(::testing::Contains(leftError)));
        }
    }
}

// After the listing failed the set stays exposed: a retry describes the
// snapshots that exist and creates none again.
TEST_F(ProviderUnitTest, RetryAfterAFailedReleaseDoesNotExposeAgain) {
    m_replies = {{"vss_volsnap_show", kRefusedReply}, {"volsnap_show", kRefusedReply}};
    ReplyByCommand();
    TestProvider& p = Make();
    p.AddSnapInfo("v1", "6001405ab000001", "");
    p.SetExposed(0);
    LunRecords sources{"6001405ab000001"};
    LunRecords targets(1);
    ASSERT_EQ(p.GetTargetLuns(1, nullptr, sources.Data(), targets.Data()), VSS_E_PROVIDER_VETO);
    m_replies["vss_volsnap_show"] = kVolSnapOfV1;
    LunRecords again(1);
    ASSERT_EQ(p.GetTargetLuns(1, nullptr, sources.Data(), again.Data()), S_OK);
    EXPECT_EQ(again.Serial(0), "0000ab01");
    const std::vector<std::string> commands = Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "exposable_snapshot_create"), 1);
}

// Described LUNs are VSS's: nothing of them is recorded for a discard, so a
// set method out of order after GetTargetLuns releases nothing.
TEST_F(ProviderUnitTest, DiscardAfterDescribedLunsReleasesNothing) {
    m_replies = {{"vss_volsnap_show", kVolSnapOfV1}};
    ReplyByCommand();
    TestProvider& p = Make(/*vmware=*/true);
    p.AddSnapInfo("v1", "6001405ab000001", "");
    p.SetExposed(0);
    LunRecords sources{"6001405ab000001"};
    LunRecords targets(1);
    ASSERT_EQ(p.GetTargetLuns(1, nullptr, sources.Data(), targets.Data()), S_OK);
    EXPECT_EQ(p.SnapInfos().front().snap_scsi_sn, "");
    EXPECT_EQ(p.PreCommitSnapshots(TestSetId(1)), VSS_E_PROVIDER_VETO);
    EXPECT_EQ(p.State(), VSS_SS_ABORTED);
    EXPECT_THAT(Commands(), ElementsAre("exposable_snapshot_create", "vss_volsnap_show"));
    EXPECT_THAT(p.removed, ElementsAre(" "));  // the helper is called with no serial
}

}  // namespace
