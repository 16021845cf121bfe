// The provider object against the array simulator: the snapshot-set state
// machine and the edge cases of LUN support, target LUNs, location, release,
// resync and notifications, over real HTTPS (WinHTTP in the Windows build).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "HarnessSession.h"
#include "ProviderSimTest.h"
#include "platform/com_memory.h"
#include "provider/QProviderHelpers.h"
#include "provider/VssAsync.h"
#include "vss/ComGlue.h"

namespace marl::testing {
namespace {

using ::testing::ElementsAre;
using Inv = DefaultInventory;

class ProviderIntegrationTest : public ProviderSimTest {
  protected:
    // Begin (all LUNs), End, PreCommit, Commit, PostCommit; false at the
    // first call that does not succeed.
    bool CreateSet(LunRecords& luns, const VSS_ID& id) {
        SimProvider& p = *m_provider;
        return p.BeginPrepareSnapshot(id, TestSetId(99), 0, luns.Count(), nullptr, luns.Data()) ==
                   S_OK &&
               p.EndPrepareSnapshots(id) == S_OK && p.PreCommitSnapshots(id) == S_OK &&
               p.CommitSnapshots(id) == S_OK && p.PostCommitSnapshots(id, luns.Count()) == S_OK;
    }
};

TEST_F(ProviderIntegrationTest, WholeSetOfOneGroupEndsCreated) {
    LunRecords luns{Inv::kAppBin, Inv::kAppData};
    ASSERT_TRUE(CreateSet(luns, TestSetId(1)));
    EXPECT_EQ(m_provider->State(), VSS_SS_CREATED);
    ASSERT_EQ(m_provider->SnapInfos().size(), 2u);
    EXPECT_EQ(m_provider->SnapInfos().front().vol_name, "app_bin");
    EXPECT_EQ(m_provider->SnapInfos().back().cg_name, "vg_app");
    ASSERT_EQ(m_provider->CgInfos().size(), 1u);
    EXPECT_THAT(m_provider->CgInfos().front().snap_name, ::testing::StartsWith("VSS_itest_"));
    EXPECT_THAT(Commands(), ElementsAre("vol_show", "replication_session_show", "vg_show",
                                        "vss_prepare_for_snapshot", "unexposable_snapshot_create"));
    EXPECT_TRUE(m_scratch.Logged(
        "INFO", "CQProvider::PostCommitSnapshots",
        "SnapshotSetId " + marl::provider::GuidToString(TestSetId(1)) + " created"));
}

TEST_F(ProviderIntegrationTest, SecondBeginOfTheSameSetAddsAndAnotherSetReplacesIt) {
    SimProvider& p = *m_provider;
    LunRecords first{Inv::kDbData}, second{Inv::kDbLog}, other{Inv::kAppBin};
    ASSERT_EQ(p.BeginPrepareSnapshot(TestSetId(1), TestSetId(9), 0, 1, nullptr, first.Data()),
              S_OK);
    ASSERT_EQ(p.BeginPrepareSnapshot(TestSetId(1), TestSetId(9), 0, 1, nullptr, second.Data()),
              S_OK);
    EXPECT_EQ(p.SnapInfos().size(), 2u);
    EXPECT_EQ(p.CgInfos().size(), 1u);
    ASSERT_EQ(p.BeginPrepareSnapshot(TestSetId(2), TestSetId(9), 0, 1, nullptr, other.Data()),
              S_OK);
    EXPECT_TRUE(m_scratch.Logged("DEBUG", "CQProvider::BeginPrepareSnapshot",
                                 "delete any uncompleted snapshot"));
    ASSERT_EQ(p.SnapInfos().size(), 1u);
    EXPECT_EQ(p.SnapInfos().front().vol_name, "app_bin");
    ASSERT_EQ(p.CgInfos().size(), 1u);
    EXPECT_EQ(p.CgInfos().front().cg_name, "vg_app");
    EXPECT_EQ(p.State(), VSS_SS_PREPARING);
    EXPECT_TRUE(vss::SameGuid(p.SnapshotSetId(), TestSetId(2)));
}

TEST_F(ProviderIntegrationTest, OutOfOrderAndForeignSetIdsAreVetoedWithTheirLines) {
    SimProvider& p = *m_provider;
    LunRecords luns{Inv::kAppBin, Inv::kAppData};
    ASSERT_EQ(p.BeginPrepareSnapshot(TestSetId(1), TestSetId(9), 0, 2, nullptr, luns.Data()), S_OK);
    ASSERT_EQ(p.EndPrepareSnapshots(TestSetId(1)), S_OK);
    EXPECT_EQ(p.CommitSnapshots(TestSetId(1)), VSS_E_PROVIDER_VETO);
    EXPECT_TRUE(m_scratch.Logged("ERROR", "CQProvider::CommitSnapshots",
                                 "CommitSnapshots called out of order. state=3"));
    EXPECT_EQ(p.State(), VSS_SS_ABORTED);
    EXPECT_TRUE(p.SnapInfos().empty());

    ASSERT_EQ(p.BeginPrepareSnapshot(TestSetId(3), TestSetId(9), 0, 2, nullptr, luns.Data()), S_OK);
    EXPECT_EQ(p.EndPrepareSnapshots(TestSetId(4)), VSS_E_PROVIDER_VETO);
    EXPECT_TRUE(m_scratch.Logged("ERROR", "CQProvider::EndPrepareSnapshots",
                                 "Unexpected snapshot set ID during EndPrepareSnapshots"));
    EXPECT_EQ(p.State(), VSS_SS_ABORTED);

    ASSERT_EQ(p.BeginPrepareSnapshot(TestSetId(5), TestSetId(9), 0, 2, nullptr, luns.Data()), S_OK);
    ASSERT_EQ(p.EndPrepareSnapshots(TestSetId(5)), S_OK);
    ASSERT_EQ(p.PreCommitSnapshots(TestSetId(5)), S_OK);
    ASSERT_EQ(p.CommitSnapshots(TestSetId(5)), S_OK);
    EXPECT_EQ(p.PostCommitSnapshots(TestSetId(6), 2), VSS_E_PROVIDER_VETO);
    EXPECT_TRUE(m_scratch.Logged("ERROR", "CQProvider::PostCommitSnapshots",
                                 "Unexpected snapshot set ID during PostCommitSnapshots"));
    EXPECT_EQ(p.State(), VSS_SS_ABORTED);
}

TEST_F(ProviderIntegrationTest, BeginRefusesVolumesOutsideAGroupOrUnknownToTheArray) {
    struct Case {
        const char* serial;
        const char* line;
    };
    for (Case c : {Case{Inv::kStandalone, "no consistency group found for volume standalone_vol."},
                   Case{"6001405ffffffff", "no volume found for scsi-sn."}}) {
        SimProvider& p = *m_provider;
        LunRecords luns{Inv::kAppBin, c.serial};
        EXPECT_EQ(p.BeginPrepareSnapshot(TestSetId(1), TestSetId(9), 0, 2, nullptr, luns.Data()),
                  VSS_E_PROVIDER_VETO);
        EXPECT_EQ(p.State(), VSS_SS_ABORTED) << c.serial;
        EXPECT_TRUE(p.SnapInfos().empty());
        EXPECT_TRUE(m_scratch.Logged("ERROR", "CQProvider::BeginPrepareSnapshot", c.line))
            << c.line;
    }
}

TEST_F(ProviderIntegrationTest, PreCommitOfAnIncompleteGroupIsVetoed) {
    SimProvider& p = *m_provider;
    LunRecords luns{Inv::kDbData, Inv::kDbLog};  // db_temp is missing
    ASSERT_EQ(p.BeginPrepareSnapshot(TestSetId(1), TestSetId(9), 0, 2, nullptr, luns.Data()), S_OK);
    ASSERT_EQ(p.EndPrepareSnapshots(TestSetId(1)), S_OK);
    EXPECT_EQ(p.PreCommitSnapshots(TestSetId(1)), VSS_E_PROVIDER_VETO);
    EXPECT_EQ(p.State(), VSS_SS_ABORTED);
    EXPECT_EQ(CountOf("vss_prepare_for_snapshot"), 0u);
}

TEST_F(ProviderIntegrationTest, AbortLeavesACreatedSetAndDiscardsAnyOther) {
    SimProvider& p = *m_provider;
    LunRecords luns{Inv::kAppBin, Inv::kAppData};
    ASSERT_TRUE(CreateSet(luns, TestSetId(1)));
    EXPECT_EQ(p.AbortSnapshots(TestSetId(1)), S_OK);
    EXPECT_EQ(p.State(), VSS_SS_CREATED);
    EXPECT_EQ(p.SnapInfos().size(), 2u);
    EXPECT_EQ(p.CgInfos().size(), 1u);

    ASSERT_EQ(p.BeginPrepareSnapshot(TestSetId(2), TestSetId(9), 0, 2, nullptr, luns.Data()), S_OK);
    ASSERT_EQ(p.EndPrepareSnapshots(TestSetId(2)), S_OK);
    EXPECT_EQ(p.AbortSnapshots(TestSetId(77)), S_OK);  // the id is not compared
    EXPECT_EQ(p.State(), VSS_SS_ABORTED);
    EXPECT_TRUE(p.SnapInfos().empty());
    EXPECT_TRUE(p.CgInfos().empty());
}

TEST_F(ProviderIntegrationTest, UnloadDiscardsAPreparedSet) {
    SimProvider& p = *m_provider;
    LunRecords luns{Inv::kAppBin, Inv::kAppData};
    ASSERT_EQ(p.BeginPrepareSnapshot(TestSetId(1), TestSetId(9), 0, 2, nullptr, luns.Data()), S_OK);
    ASSERT_EQ(p.EndPrepareSnapshots(TestSetId(1)), S_OK);
    EXPECT_EQ(p.OnUnload(FALSE), S_OK);
    EXPECT_EQ(p.State(), VSS_SS_UNKNOWN);
    EXPECT_TRUE(p.SnapInfos().empty());
}

TEST_F(ProviderIntegrationTest, LunSupportAnswers) {
    struct Case {
        const char* name;
        std::vector<std::string> serials;
        HRESULT result;
        BOOL supported;
    };
    const Case cases[] = {
        {"group", {Inv::kDbData, Inv::kDbLog}, S_OK, TRUE},
        {"none", {}, S_OK, TRUE},
        {"unknown serial", {Inv::kDbData, "6001405ffffffff"}, S_OK, FALSE},
        {"upper case serial", {"6001405AB000001"}, S_OK, FALSE},
        {"not in a group", {Inv::kStandalone}, VSS_E_PROVIDER_VETO, TRUE},
    };
    for (const Case& c : cases) {
        LunRecords luns;
        for (const std::string& s : c.serials) luns.Add(s);
        BOOL supported = 7;
        EXPECT_EQ(m_provider->AreLunsSupported(luns.Count(), 0, nullptr, luns.Data(), &supported),
                  c.result)
            << c.name;
        EXPECT_EQ(supported, c.supported) << c.name;
    }
    EXPECT_EQ(CountOf("vol_show"), 5u);
}

// A replica's serial is taken back to its volume; the LUN then carries the
// volume's own serial.
TEST_F(ProviderIntegrationTest, PeerSerialIsReplacedByTheVolumesOwnSerial) {
    LunRecords luns{Inv::kReplDataPeer};
    BOOL supported = FALSE;
    EXPECT_EQ(m_provider->AreLunsSupported(1, 0, nullptr, luns.Data(), &supported), S_OK);
    EXPECT_EQ(supported, TRUE);
    EXPECT_EQ(luns.Serial(0), Inv::kReplData);
    EXPECT_THAT(Commands(), ElementsAre("vol_show", "replication_volume_show"));
}

// The replica fetch only costs an exchange: its failure changes no answer.
TEST_F(ProviderIntegrationTest, FailingReplicaFetchIsIgnored) {
    marl::sim::FaultRequest fault;
    fault.target = "replication_volume_show";
    fault.status = 500;
    ASSERT_NE(Sim().AddFault(fault), 0u);
    LunRecords luns{Inv::kReplDataPeer};
    BOOL supported = FALSE;
    EXPECT_EQ(m_provider->AreLunsSupported(1, 0, nullptr, luns.Data(), &supported), S_OK);
    EXPECT_EQ(supported, TRUE);
    EXPECT_EQ(luns.Serial(0), Inv::kReplData);
}

TEST_F(ProviderIntegrationTest, TargetLunsOfOneGroupShareOneExposure) {
    SimProvider& p = *m_provider;
    LunRecords luns{Inv::kAppBin, Inv::kAppData};
    ASSERT_TRUE(CreateSet(luns, TestSetId(1)));
    LunRecords targets(2);
    ASSERT_EQ(p.GetTargetLuns(2, nullptr, luns.Data(), targets.Data()), S_OK);
    EXPECT_EQ(CountOf("exposable_snapshot_create"), 1u);
    EXPECT_NE(targets.Serial(0), targets.Serial(1));
    std::set<std::string> guids;
    for (size_t i = 0; i < 2; ++i) {
        const VDS_LUN_INFORMATION& t = targets[i];
        EXPECT_EQ(t.m_BusType, VDSBusTypeScsi);
        EXPECT_STREQ(t.m_szVendorId, "MARL");
        EXPECT_STREQ(t.m_szProductId, "NXA");
        ASSERT_EQ(t.m_deviceIdDescriptor.m_cIdentifiers, 1u);
        const VDS_STORAGE_IDENTIFIER& id = t.m_deviceIdDescriptor.m_rgIdentifiers[0];
        EXPECT_EQ(id.m_CodeSet, VDSStorageIdCodeSetBinary);
        EXPECT_EQ(id.m_Type, VDSStorageIdTypeVendorId);
        ASSERT_EQ(id.m_cbIdentifier, 32u);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(id.m_rgbIdentifier), 16), "Marl HW Provider");
        guids.insert(std::string(reinterpret_cast<char*>(id.m_rgbIdentifier) + 16, 16));
        BOOL supported = FALSE;
        EXPECT_EQ(p.FillInLunInfo(nullptr, &targets[i], &supported), S_OK);
        EXPECT_EQ(supported, TRUE);
    }
    EXPECT_EQ(guids.size(), 2u);
    // Described LUNs are VSS's: nothing is recorded for a discard to release.
    EXPECT_EQ(p.SnapInfos().front().snap_scsi_sn, "");
    EXPECT_EQ(p.SnapInfos().back().snap_scsi_sn, "");
    // Asked again, nothing is exposed again.
    LunRecords again(2);
    ASSERT_EQ(p.GetTargetLuns(2, nullptr, luns.Data(), again.Data()), S_OK);
    EXPECT_EQ(CountOf("exposable_snapshot_create"), 1u);
    EXPECT_EQ(again.Serial(1), targets.Serial(1));
}

TEST_F(ProviderIntegrationTest, TargetLunOfAnUnknownSourceStopsWithTheEarlierOnesDescribed) {
    SimProvider& p = *m_provider;
    LunRecords luns{Inv::kAppBin, Inv::kAppData};
    ASSERT_TRUE(CreateSet(luns, TestSetId(1)));
    LunRecords sources{Inv::kAppBin, Inv::kDbData, Inv::kAppData};
    LunRecords targets(3);
    EXPECT_EQ(p.GetTargetLuns(3, nullptr, sources.Data(), targets.Data()), VSS_E_PROVIDER_VETO);
    EXPECT_FALSE(targets.Serial(0).empty());
    EXPECT_NE(targets.Serial(0), Inv::kAppBin);
    EXPECT_EQ(targets[2].m_szSerialNumber, nullptr);  // untouched
    EXPECT_EQ(p.State(), VSS_SS_CREATED);
}

// VSS learns nothing from a failed GetTargetLuns and AbortSnapshots leaves a
// created set alone, so the failed call itself gives back what it exposed.
TEST_F(ProviderIntegrationTest, FailedTargetLunsReleaseWhatTheyExposed) {
    SimProvider& p = *m_provider;
    LunRecords luns{Inv::kAppBin, Inv::kAppData};
    ASSERT_TRUE(CreateSet(luns, TestSetId(1)));
    const std::string snap = p.CgInfos().front().snap_name;
    marl::sim::FaultRequest fault;
    fault.target = "vss_volsnap_show";
    fault.type = "key";
    fault.key = "MC_VOLSNAP_NOT_FOUND";
    fault.skip = 1;  // the second LUN's
    fault.count = 1;
    ASSERT_NE(Sim().AddFault(fault), 0u);
    LunRecords targets(2);
    EXPECT_EQ(p.GetTargetLuns(2, nullptr, luns.Data(), targets.Data()), VSS_E_PROVIDER_VETO);
    EXPECT_EQ(ExposedVolSnaps(snap), 0u);
    EXPECT_EQ(CountOf("vss_volsnap_empty"), 2u);
    EXPECT_EQ(p.SnapInfos().front().snap_scsi_sn, "");
    EXPECT_EQ(p.State(), VSS_SS_CREATED);
    // Asked again, the set is exposed again and described.
    LunRecords again(2);
    EXPECT_EQ(p.GetTargetLuns(2, nullptr, luns.Data(), again.Data()), S_OK);
    EXPECT_EQ(ExposedVolSnaps(snap), 2u);
    EXPECT_EQ(CountOf("exposable_snapshot_create"), 2u);
}

TEST_F(ProviderIntegrationTest, TargetLunsShortOfMemoryAnswerOutOfMemory) {
    SimProvider& p = *m_provider;
    LunRecords luns{Inv::kAppBin, Inv::kAppData};
    ASSERT_TRUE(CreateSet(luns, TestSetId(1)));
    LunRecords targets(2);
    marl::platform::SetComAllocGate([](size_t bytes) { return bytes == 32; });  // the identifier
    HRESULT hr = p.GetTargetLuns(2, nullptr, luns.Data(), targets.Data());
    marl::platform::SetComAllocGate(nullptr);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(p.State(), VSS_SS_CREATED);
    EXPECT_EQ(CountOf("exposable_snapshot_create"), 0u);
}

TEST_F(ProviderIntegrationTest, LocateMapsOnlyWhenEveryLunIsFound) {
    m_provider = Make(/*vmware=*/true);
    SimProvider& p = *m_provider;
    LunRecords luns{Inv::kAppBin, Inv::kAppData};
    ASSERT_TRUE(CreateSet(luns, TestSetId(1)));
    LunRecords targets(2);
    ASSERT_EQ(p.GetTargetLuns(2, nullptr, luns.Data(), targets.Data()), S_OK);

    LunRecords three{targets.Serial(0), targets.Serial(1), "6001405f00fffff"};
    EXPECT_EQ(p.LocateLuns(3, three.Data()), VSS_E_PROVIDER_VETO);
    EXPECT_TRUE(
        m_scratch.Logged("ERROR", "CQProvider::LocateLuns", "Not all volsnaps were found (2!=3)"));
    EXPECT_EQ(CountOf("vol_map"), 0u);
    EXPECT_TRUE(p.helperCalls.empty());

    ASSERT_EQ(p.LocateLuns(2, targets.Data()), S_OK);
    EXPECT_EQ(CountOf("vol_map"), 1u);  // one group snapshot, one name
    EXPECT_THAT(p.helperCalls, ElementsAre("scsi_rescan", "set_rdm " + targets.Serial(0) + "," +
                                                              targets.Serial(1)));
    const std::string snap = p.CgInfos().front().snap_name;
    EXPECT_EQ(MappedVolSnaps(snap), 2u);
}

TEST_F(ProviderIntegrationTest, ReleasedLunsLeaveNothingExposedOrMapped) {
    SimProvider& p = *m_provider;
    LunRecords luns{Inv::kAppBin, Inv::kAppData};
    ASSERT_TRUE(CreateSet(luns, TestSetId(1)));
    LunRecords targets(2);
    ASSERT_EQ(p.GetTargetLuns(2, nullptr, luns.Data(), targets.Data()), S_OK);
    ASSERT_EQ(p.LocateLuns(2, targets.Data()), S_OK);
    const std::string snap = p.CgInfos().front().snap_name;
    EXPECT_EQ(ExposedVolSnaps(snap), 2u);
    for (size_t i = 0; i < 2; ++i) EXPECT_EQ(p.OnLunEmpty(nullptr, &targets[i]), S_OK);
    EXPECT_EQ(ExposedVolSnaps(snap), 0u);
    EXPECT_EQ(MappedVolSnaps(snap), 0u);
    EXPECT_EQ(p.OnLunEmpty(nullptr, &targets[0]), VSS_E_PROVIDER_VETO);  // already released
}

// The harness's account of a lifecycle: every call line ends with its time,
// and the summary's exchanges and connections are the commands and logins
// the array received (each exchange connects and logs in once).
TEST_F(ProviderIntegrationTest, HarnessTimesEachCallAndCountsTheArrayExchanges) {
    std::ostringstream out;
    marl::harness::HarnessSession session(*m_provider, out);
    session.CountExchanges(marl::harness::RedirectedExchanges);
    ASSERT_TRUE(session.Create({Inv::kAppBin, Inv::kAppData}, "MARL")) << out.str();
    ASSERT_TRUE(session.Delete()) << out.str();
    session.PrintSummary();
    size_t callLines = 0;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] != '[') continue;
        ++callLines;
        EXPECT_THAT(line, ::testing::HasSubstr(" -> 0x00000000 S_OK"));
        const size_t time = line.rfind("  [");
        ASSERT_NE(time, std::string::npos) << line;
        EXPECT_THAT(line.substr(time), ::testing::EndsWith(" ms]")) << line;
    }
    EXPECT_EQ(callLines, session.Calls().size());
    size_t logins = 0;
    for (const auto& r : Sim().Journal()) logins += r.command == "login" ? 1 : 0;
    EXPECT_THAT(out.str(),
                ::testing::HasSubstr("; array: " + std::to_string(Commands().size()) +
                                     " exchanges (commands sent), " + std::to_string(logins) +
                                     " connections (connects)\n"));
    EXPECT_THAT(out.str(), ::testing::HasSubstr("=== summary: 14 calls, 0 failed\n=== time: "));
}

// A set given up after GetTargetLuns described its LUNs leaves them to VSS:
// the discard releases nothing, and OnLunEmpty releases each LUN.
TEST_F(ProviderIntegrationTest, DiscardedSetLeavesTheLunsVssReceived) {
    m_provider = Make(/*vmware=*/true);
    SimProvider& p = *m_provider;
    LunRecords luns{Inv::kAppBin, Inv::kAppData};
    ASSERT_EQ(p.BeginPrepareSnapshot(TestSetId(1), TestSetId(9), 0, 2, nullptr, luns.Data()), S_OK);
    ASSERT_EQ(p.EndPrepareSnapshots(TestSetId(1)), S_OK);
    ASSERT_EQ(p.PreCommitSnapshots(TestSetId(1)), S_OK);
    ASSERT_EQ(p.CommitSnapshots(TestSetId(1)), S_OK);
    LunRecords targets(2);
    ASSERT_EQ(p.GetTargetLuns(2, nullptr, luns.Data(), targets.Data()), S_OK);
    const std::string snap = p.CgInfos().front().snap_name;
    ASSERT_EQ(ExposedVolSnaps(snap), 2u);
    EXPECT_EQ(p.AbortSnapshots(TestSetId(1)), S_OK);
    EXPECT_EQ(ExposedVolSnaps(snap), 2u);
    EXPECT_EQ(CountOf("vss_volsnap_empty"), 0u);
    EXPECT_THAT(p.helperCalls, ElementsAre("remove_rdm "));  // no serial to detach
    for (size_t i = 0; i < 2; ++i) EXPECT_EQ(p.OnLunEmpty(nullptr, &targets[i]), S_OK);
    EXPECT_EQ(ExposedVolSnaps(snap), 0u);
}

// A second GetTargetLuns that fails, however early or late, leaves the LUNs
// the first one described exposed and mapped, and detaches nothing.
TEST_F(ProviderIntegrationTest, SecondFailingTargetLunsLeavesTheDescribedLuns) {
    m_provider = Make(/*vmware=*/true);
    SimProvider& p = *m_provider;
    LunRecords luns{Inv::kAppBin, Inv::kAppData};
    ASSERT_TRUE(CreateSet(luns, TestSetId(1)));
    LunRecords targets(2);
    ASSERT_EQ(p.GetTargetLuns(2, nullptr, luns.Data(), targets.Data()), S_OK);
    ASSERT_EQ(p.LocateLuns(2, targets.Data()), S_OK);
    const std::string snap = p.CgInfos().front().snap_name;
    ASSERT_EQ(MappedVolSnaps(snap), 2u);
    p.helperCalls.clear();
    const size_t listings = CountOf("volsnap_show");  // LocateLuns's own

    LunRecords again(2);
    EXPECT_EQ(p.GetTargetLuns(2, nullptr, nullptr, again.Data()), VSS_E_PROVIDER_VETO);
    marl::platform::SetComAllocGate([](size_t bytes) { return bytes == 32; });
    EXPECT_EQ(p.GetTargetLuns(2, nullptr, luns.Data(), again.Data()), E_OUTOFMEMORY);
    marl::platform::SetComAllocGate(nullptr);
    marl::sim::FaultRequest fault;
    fault.target = "vss_volsnap_show";
    fault.type = "key";
    fault.key = "MC_VOLSNAP_NOT_FOUND";
    fault.count = 1;
    ASSERT_NE(Sim().AddFault(fault), 0u);
    EXPECT_EQ(p.GetTargetLuns(2, nullptr, luns.Data(), again.Data()), VSS_E_PROVIDER_VETO);

    EXPECT_EQ(ExposedVolSnaps(snap), 2u);
    EXPECT_EQ(MappedVolSnaps(snap), 2u);
    EXPECT_EQ(CountOf("vss_volsnap_empty"), 0u);
    EXPECT_EQ(CountOf("volsnap_show"), listings);
    EXPECT_TRUE(p.helperCalls.empty());
    EXPECT_EQ(p.State(), VSS_SS_CREATED);
}

// A set method out of order, or with a foreign set id, after the set was
// created is vetoed and discards the set, but the shadow copy's LUNs stay on
// the array until VSS releases them one by one.
TEST_F(ProviderIntegrationTest, LateSetCallsAreVetoedAndKeepTheShadowCopy) {
    struct Case {
        const char* label;
        HRESULT (*call)(CQProvider&);
        const char* function;
        const char* error;
    };
    const Case cases[] = {
        {"pre-commit out of order",
         [](CQProvider& p) { return p.PreCommitSnapshots(TestSetId(1)); },
         "CQProvider::PreCommitSnapshots", "PreCommitSnapshots called out of order"},
        {"commit of a foreign set", [](CQProvider& p) { return p.CommitSnapshots(TestSetId(7)); },
         "CQProvider::CommitSnapshots", "CommitSnapshots called out of order. state=12"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_TRUE(Sim().Reset());
        m_provider = Make(/*vmware=*/true);
        SimProvider& p = *m_provider;
        LunRecords luns{Inv::kAppBin, Inv::kAppData};
        ASSERT_TRUE(CreateSet(luns, TestSetId(1)));
        LunRecords targets(2);
        ASSERT_EQ(p.GetTargetLuns(2, nullptr, luns.Data(), targets.Data()), S_OK);
        ASSERT_EQ(p.LocateLuns(2, targets.Data()), S_OK);
        const std::string snap = p.CgInfos().front().snap_name;
        EXPECT_EQ(c.call(p), VSS_E_PROVIDER_VETO);
        EXPECT_EQ(p.State(), VSS_SS_ABORTED);
        EXPECT_TRUE(m_scratch.Logged("ERROR", c.function, c.error));
        EXPECT_EQ(ExposedVolSnaps(snap), 2u);
        EXPECT_EQ(MappedVolSnaps(snap), 2u);
        EXPECT_EQ(CountOf("vss_volsnap_empty"), 0u);
        EXPECT_EQ(p.OnLunEmpty(nullptr, &targets[0]), S_OK);
        EXPECT_EQ(ExposedVolSnaps(snap), 1u);
        EXPECT_EQ(p.OnLunEmpty(nullptr, &targets[1]), S_OK);
        EXPECT_EQ(ExposedVolSnaps(snap), 0u);
        EXPECT_EQ(MappedVolSnaps(snap), 0u);
    }
}

// When the release of a failed call cannot list the volume snapshots, it
// names the snapshots at ERROR and keeps the set exposed: the retry describes
// them without creating them again.
TEST_F(ProviderIntegrationTest, FailedListingDuringAReleaseKeepsTheSetExposed) {
    SimProvider& p = *m_provider;
    LunRecords luns{Inv::kAppBin, Inv::kAppData};
    ASSERT_TRUE(CreateSet(luns, TestSetId(1)));
    const std::string snap = p.CgInfos().front().snap_name;
    marl::sim::FaultRequest serials;
    serials.target = "vss_volsnap_show";
    serials.type = "key";
    serials.key = "MC_VOLSNAP_NOT_FOUND";
    serials.skip = 1;
    serials.count = 1;
    ASSERT_NE(Sim().AddFault(serials), 0u);
    marl::sim::FaultRequest listing;
    listing.target = "volsnap_show";
    listing.type = "status";
    listing.status = 500;
    listing.count = 5;
    ASSERT_NE(Sim().AddFault(listing), 0u);
    LunRecords targets(2);
    EXPECT_EQ(p.GetTargetLuns(2, nullptr, luns.Data(), targets.Data()), VSS_E_PROVIDER_VETO);
    EXPECT_TRUE(m_scratch.Logged(
        "ERROR", "CQProvider::GetTargetLuns",
        "could not list the snapshot LUNs the failed call exposed; left on the array: vg_app:" +
            snap));
    EXPECT_EQ(ExposedVolSnaps(snap), 2u);
    EXPECT_EQ(CountOf("vss_volsnap_empty"), 0u);
    LunRecords again(2);
    EXPECT_EQ(p.GetTargetLuns(2, nullptr, luns.Data(), again.Data()), S_OK);
    EXPECT_EQ(CountOf("exposable_snapshot_create"), 1u);
    EXPECT_EQ(ExposedVolSnaps(snap), 2u);
}

TEST_F(ProviderIntegrationTest, ResyncRestoresWholeGroupsFromTheirSnapshot) {
    SimProvider& p = *m_provider;
    LunRecords luns{Inv::kAppBin, Inv::kAppData};
    ASSERT_TRUE(CreateSet(luns, TestSetId(1)));
    LunRecords targets(2);
    ASSERT_EQ(p.GetTargetLuns(2, nullptr, luns.Data(), targets.Data()), S_OK);
    CVssAsync::Sleeper previous = CVssAsync::SetSleeperForTesting([](uint32_t) {});
    IVssAsync* async = nullptr;
    ASSERT_EQ(p.ResyncLuns(targets.Data(), luns.Data(), 2, &async), S_OK);
    ASSERT_NE(async, nullptr);
    HRESULT status = E_FAIL;
    INT reserved = 0;
    EXPECT_EQ(async->Wait(1000), S_OK);
    EXPECT_EQ(async->QueryStatus(&status, &reserved), S_OK);
    EXPECT_EQ(status, S_OK);
    EXPECT_EQ(reserved, 100);
    EXPECT_EQ(async->Release(), 0u);
    CVssAsync::SetSleeperForTesting(previous);
    auto restores = Sim().JournalOf("vols_restore");
    ASSERT_EQ(restores.size(), 1u);
    EXPECT_EQ(restores[0].Arg("vg_name"), "vg_app");
    EXPECT_THAT(restores[0].Arg("pre_restore_snapshot_name"), ::testing::StartsWith("VSS_TMP_"));
    EXPECT_TRUE(m_scratch.Logged("DEBUG", "CQProvider::ResyncLuns",
                                 "Pushing snap name vg_app:" + p.CgInfos().front().snap_name));
}

TEST_F(ProviderIntegrationTest, ResyncRefusesPartialGroupsAndUngroupedVolumesBeforeRestoring) {
    struct Case {
        std::vector<std::string> dests;
        const char* line;
        size_t groupListings;
    };
    const Case cases[] = {
        {{Inv::kAppBin}, "ResyncLuns - non-full CG found, missing app_data", 1},
        {{Inv::kStandalone},
         "MarlVssProvider does not support restore for base volumes not in consistency group",
         0},
        {{"6001405ffffffff"}, "MarlVssProvider did not find the base volume in NXA", 0},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(Sim().ClearJournal());
        LunRecords snaps, dests;
        for (const std::string& d : c.dests) {
            dests.Add(d);
            snaps.Add("6001405ef000004");
        }
        IVssAsync* async = nullptr;
        EXPECT_EQ(m_provider->ResyncLuns(snaps.Data(), dests.Data(), dests.Size(), &async),
                  VSS_E_PROVIDER_VETO);
        EXPECT_EQ(async, nullptr);
        EXPECT_TRUE(m_scratch.Logged("ERROR", "CQProvider::ResyncLuns", c.line)) << c.line;
        EXPECT_EQ(CountOf("vg_show"), c.groupListings) << c.line;
        EXPECT_EQ(CountOf("vols_restore"), 0u);
    }
}

TEST_F(ProviderIntegrationTest, MaskingAcceptsOnlySnapshotLunsOfTheCurrentSet) {
    SimProvider& p = *m_provider;
    LunRecords luns{Inv::kAppBin, Inv::kAppData};
    ASSERT_TRUE(CreateSet(luns, TestSetId(1)));
    LunRecords targets(2);
    ASSERT_EQ(p.GetTargetLuns(2, nullptr, luns.Data(), targets.Data()), S_OK);
    EXPECT_EQ(p.OnLunStateChange(targets.Data(), luns.Data(), 2, 0x800), S_OK);
    LunRecords stranger{targets.Serial(0), "6001405ef000004"};  // the scenario's own snapshot
    EXPECT_EQ(p.OnLunStateChange(stranger.Data(), luns.Data(), 2, 0x800), VSS_E_PROVIDER_VETO);
    EXPECT_TRUE(m_scratch.MessagesOf("LogOnLunStateChangeMessage").empty());
}

}  // namespace
}  // namespace marl::testing
