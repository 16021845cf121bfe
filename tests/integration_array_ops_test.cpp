// The array operations end to end against the simulator over real HTTP and
// HTTPS: inventory, a snapshot set from preparation to restore, a replicated
// group, mapping to a host group, and the array's refusals.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <memory>
#include <string>
#include <vector>

#include "RedirectingHttpClient.h"
#include "SimulatorFixture.h"
#include "provider/array/CQArrayClient.h"
#include "provider/array/testing/ArrayClientTesting.h"

namespace {

constexpr char kStamp[] = "0305140709";
constexpr char kSnap[] = "VSS_itest_0305140709";

// A client of the simulator with recording seams (the clock reads kStamp)
// and a snapshot set.
class SimClient : public arraytest::RecordingSeams, public marl::array::CQArrayClient {
  public:
    SimClient(const ProviderSettings& settings, marl::platform::HttpClientFactory factory)
        : marl::array::CQArrayClient(settings, std::move(factory), *this) {
        timestamp = kStamp;
    }

    void AddLun(const std::string& vol, const std::string& sn, const std::string& cg) {
        set.snapInfoList.push_back(SnapInfo{vol, sn, "", cg});
    }

    marl::array::SnapshotSet set;
};

// The parameter: HTTPS (true) or plain HTTP.
class ArrayOps : public marl::sim::SimulatorTest, public ::testing::WithParamInterface<bool> {
  protected:
    std::unique_ptr<SimClient> Client(bool replication = false, bool vmware = false,
                                      const std::string& host = "vsshost1") {
        ProviderSettings s;
        s.externalIp = "127.0.0.1";
        s.hostName = host;
        s.userName = "admin";
        s.password = "password";
        s.snapPrefix = "itest";
        s.supportSsl = GetParam();
        s.replicationMode = replication;
        s.vmwareVm = vmware;
        return std::make_unique<SimClient>(
            s, marl::harness::RedirectingFactory({static_cast<uint16_t>(Sim().HttpsPort()),
                                                  static_cast<uint16_t>(Sim().HttpPort())}));
    }

    // The simulator's inventory, freshly dumped.
    const rapidjson::Value& Inventory() {
        m_state.Parse(Sim().State().c_str());
        EXPECT_TRUE(m_state.IsObject() && m_state.HasMember("inventory"));
        return m_state["inventory"];
    }
    const rapidjson::Value* Snapshot(const std::string& group, const std::string& name) {
        for (const auto& s : Inventory()["snapshots"].GetArray()) {
            if (group == s["volume_group"].GetString() && name == s["name"].GetString()) return &s;
        }
        return nullptr;
    }
    bool Mapped(const std::string& object, const std::string& hostKey, const std::string& to) {
        for (const auto& m : Inventory()["mappings"].GetArray()) {
            if (object == m["object"].GetString() && m.HasMember(hostKey.c_str()) &&
                to == m[hostKey.c_str()].GetString()) {
                return true;
            }
        }
        return false;
    }
    std::string Arg(const std::string& command, const std::string& name, size_t index = 0) {
        std::vector<marl::sim::JournalRecord> records = Sim().JournalOf(command);
        return index < records.size() ? records[index].Arg(name) : "(none)";
    }

    rapidjson::Document m_state;
};

marl::sim::FaultRequest Fault(const std::string& target, const std::string& type) {
    marl::sim::FaultRequest fault;
    fault.target = target;
    fault.type = type;
    return fault;
}

TEST_P(ArrayOps, InventoryAndLookups) {
    auto client = Client();
    marl::array::LunInfoList luns;
    ASSERT_EQ(client->GetAllQLuns(luns), 0u);
    EXPECT_EQ(luns.size(), 8u);
    LunInfo* db = client->FindQLunBySn(luns, "6001405ab000001");
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->volName, "db_data");
    EXPECT_EQ(db->cgName, "vg_db");
    EXPECT_EQ(client->FindQLunBySn(luns, "6001405ab000008")->cgName, "None");
    ASSERT_EQ(client->GetAllQLunsReplicas(luns), 0u);
    LunInfo* peer = client->FindQLunByRepSn(luns, "6001405cd000006");
    ASSERT_NE(peer, nullptr);
    EXPECT_EQ(peer->sn, "6001405ab000006");
    marl::array::SessionInfoList sessions;
    ASSERT_EQ(client->GetAllQReplicationSessions(sessions), 0u);
    SessionInfo* session = client->FindQRepSessionByCg(sessions, "vg_repl");
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->sessionName, "rs_repl");
    // One login, one command, one logout per query, on the chosen protocol.
    EXPECT_EQ(Sim().JournalOf("login").size(), 3u);
    EXPECT_EQ(Sim().JournalOf("logout").size(), 3u);
    EXPECT_EQ(Sim().JournalOf("vol_show").at(0).tls, GetParam());
}

TEST_P(ArrayOps, SnapshotSetFromPreparationToRestore) {
    auto client = Client(false, true);
    client->AddCGGroupNameToList(client->set.cgList, "vg_db", "", kStamp);
    client->AddLun("db_data", "6001405ab000001", "vg_db");
    client->AddLun("db_log", "6001405ab000002", "vg_db");
    EXPECT_EQ(client->CheckCGSetFull(client->set), 1u);  // db_temp is not in the set
    client->AddLun("db_temp", "6001405ab000003", "vg_db");
    ASSERT_EQ(client->CheckCGSetFull(client->set), 0u);

    ASSERT_EQ(client->PrepareForSnap(), 0u);
    EXPECT_EQ(Inventory()["prepare_for_snapshot_count"].GetInt(), 1);
    ASSERT_EQ(client->TakeSnap(client->set.cgList), 0u);
    const rapidjson::Value* hidden = Snapshot("vg_db", std::string(kSnap) + "_un");
    ASSERT_NE(hidden, nullptr);
    EXPECT_STREQ((*hidden)["kind"].GetString(), "unexposable");

    ASSERT_EQ(client->ExposeSnap(client->set), 0u);
    ASSERT_EQ(client->ExposeSnap(client->set), 0u);
    EXPECT_EQ(Sim().JournalOf("exposable_snapshot_create").size(), 1u);
    const rapidjson::Value* exposed = Snapshot("vg_db", kSnap);
    ASSERT_NE(exposed, nullptr);
    EXPECT_STREQ((*exposed)["source"].GetString(), "vg_db:VSS_itest_0305140709_un");

    std::string volSnap, cgSnap, target, peer, volName;
    ASSERT_EQ(client->BuildVolSnapNames(client->set, "6001405ab000001", volSnap, cgSnap), 0u);
    EXPECT_EQ(volSnap, "vg_db:VSS_itest_0305140709:db_data");
    ASSERT_EQ(client->GetSnapLunSN(volSnap, target, peer, volName), 0u);
    EXPECT_EQ(volName, "db_data");
    EXPECT_EQ(target, (*exposed)["volsnaps"][0]["scsi_sn"].GetString());

    marl::array::LunInfoList setSnaps;
    ASSERT_EQ(client->GetAllQVolSnaps(client->set.cgList, setSnaps), 0u);
    EXPECT_EQ(setSnaps.size(), 3u);
    marl::array::LunInfoList groupSnaps;
    ASSERT_EQ(client->GetQVolSnaps("vg_db", groupSnaps), 0u);
    EXPECT_NE(client->FindQLunBySn(groupSnaps, target), nullptr);

    ASSERT_EQ(client->MapSnapshots({volSnap}, " " + target), 0u);
    EXPECT_TRUE(Mapped(volSnap, "host", "vsshost1"));
    EXPECT_EQ(client->helperRuns, (std::vector<std::string>{"scsi_rescan", "set_rdm " + target}));

    ASSERT_EQ(client->deleteSnapshotLun(target.c_str()), 0u);
    EXPECT_FALSE(Mapped(volSnap, "host", "vsshost1"));
    EXPECT_EQ((*Snapshot("vg_db", kSnap))["volsnaps"].Size(), 2u);

    EXPECT_EQ(client->SnapsRestore({"vg_db", "vg_app"}, {cgSnap}), 1u);
    ASSERT_EQ(client->SnapsRestore({"vg_db"}, {cgSnap}), 0u);
    const rapidjson::Value& restores = Inventory()["volume_groups"][0]["restores"];
    ASSERT_EQ(restores.Size(), 1u);
    EXPECT_STREQ(restores[0]["snapshot"].GetString(), "vg_db:VSS_itest_0305140709_un");
    EXPECT_STREQ(restores[0]["pre_restore_snapshot"].GetString(), "vg_db:VSS_TMP_0305140709");
}

// A plain group before a replicated one: the replication snapshot's name must
// land on the replicated group.
TEST_P(ArrayOps, ReplicatedGroupInAMixedSet) {
    auto client = Client(true);
    client->AddCGGroupNameToList(client->set.cgList, "vg_db", "", kStamp);
    client->AddCGGroupNameToList(client->set.cgList, "vg_repl", "rs_repl", kStamp);
    ASSERT_EQ(client->TakeSnap(client->set.cgList), 0u);
    EXPECT_EQ(client->set.cgList.front().rep_snap_name, "");
    EXPECT_EQ(client->set.cgList.back().rep_snap_name, "vg_repl:rs_repl_rsnap_000001");
    EXPECT_EQ(Arg("unexposable_snapshot_create", "source_names_list"), "vg_db");

    ASSERT_EQ(client->ExposeSnap(client->set), 0u);
    EXPECT_EQ(Arg("exposable_snapshot_create", "source_names_list"),
              "vg_db:VSS_itest_0305140709_un,vg_repl:rs_repl_rsnap_000001");
    EXPECT_EQ(Arg("set_snapshot_vss_scsi_sn", "exposed_snapshot_name"),
              "vg_repl:VSS_itest_0305140709");
    std::string target, peer, volName;
    ASSERT_EQ(client->GetSnapLunSN("vg_repl:VSS_itest_0305140709:repl_data", target, peer, volName),
              0u);
    EXPECT_FALSE(target.empty());
    EXPECT_FALSE(peer.empty());
}

TEST_P(ArrayOps, MappingToAHostGroup) {
    auto client = Client(false, false, "hg1");
    ASSERT_TRUE(client->IsHostGrpName("hg1"));
    ASSERT_EQ(client->MapSnapshots({"vg_app:nightly:app_bin", "vg_app:nightly:app_data"}, ""), 0u);
    EXPECT_TRUE(Mapped("vg_app:nightly:app_bin", "host_group", "hg1"));
    EXPECT_TRUE(Mapped("vg_app:nightly:app_data", "host_group", "hg1"));
    EXPECT_EQ(Arg("vol_map", "hostgrp", 1), "hg1");
    EXPECT_FALSE(client->IsHostGrpName("vsshost1"));
}

TEST_P(ArrayOps, RefusalsAndBrokenReplies) {
    auto client = Client();
    // A refused mapping is logged and tolerated; an unreadable one is not.
    marl::sim::FaultRequest refuse = Fault("vol_map", "key");
    refuse.key = "MC_HOST_NOT_FOUND";
    refuse.count = 1;
    ASSERT_NE(Sim().AddFault(refuse), 0u);
    EXPECT_EQ(client->MapSnapshots({"vg_app:nightly:app_bin"}, ""), 0u);
    marl::sim::FaultRequest garble = Fault("vol_map", "malformed");
    garble.count = 1;
    ASSERT_NE(Sim().AddFault(garble), 0u);
    EXPECT_EQ(client->MapSnapshots({"vg_app:nightly:app_bin"}, ""), 1u);

    // Snapshots made on the array but answered with a broken reply: the
    // commit must not pass as if it had been confirmed.
    marl::sim::FaultRequest broken = Fault("unexposable_snapshot_create", "malformed");
    broken.execute = true;
    ASSERT_NE(Sim().AddFault(broken), 0u);
    client->AddCGGroupNameToList(client->set.cgList, "vg_db", "", kStamp);
    EXPECT_EQ(client->TakeSnap(client->set.cgList), 1u);
    EXPECT_NE(Snapshot("vg_db", std::string(kSnap) + "_un"), nullptr);

    // The array refuses preparation three times: three exchanges, 1 s apart.
    marl::sim::FaultRequest busy = Fault("vss_prepare_for_snapshot", "status");
    busy.status = 503;
    ASSERT_NE(Sim().AddFault(busy), 0u);
    EXPECT_EQ(client->PrepareForSnap(), 1u);
    EXPECT_EQ(client->pauses.size(), 2u);
    EXPECT_EQ(Sim().JournalOf("vss_prepare_for_snapshot").size(), 15u);

    // Wrong credentials: every query fails with the session error.
    ASSERT_TRUE(Sim().SetCredentials("admin", "other"));
    marl::array::LunInfoList luns;
    EXPECT_EQ(client->GetAllQLuns(luns), 0x8000401Du);
    EXPECT_TRUE(luns.empty());
    EXPECT_TRUE(Sim().JournalOf("vol_show").empty());
}

INSTANTIATE_TEST_SUITE_P(Protocols, ArrayOps, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Https" : "Http";
                         });

}  // namespace
