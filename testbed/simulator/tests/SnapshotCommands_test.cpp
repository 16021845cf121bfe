// Snapshot creation as the commit and the exposure of a snapshot set use it.
#include <gmock/gmock.h>

#include <set>

#include "ReplyReaders.h"
#include "SimTestSupport.h"

namespace marl::sim::test {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

// One "true" per name of a comma-joined list, as a client sends them.
std::string Trues(const std::string& names) {
    std::string trues = "true";
    for (char c : names) {
        if (c == ',') trues += ",true";
    }
    return trues;
}

class Snapshots : public ::testing::Test {
  protected:
    DirectResult Unexposable(const std::string& names, const std::string& groups) {
        return RunCommand(inv, "unexposable_snapshot_create",
                          {{"snapshot_names_list", names},
                           {"source_names_list", groups},
                           {"retention_policy_name", ""},
                           {"is_application_consistent_list", Trues(names)}});
    }
    DirectResult Exposable(const std::string& names, const std::string& sources) {
        return RunCommand(inv, "exposable_snapshot_create",
                          {{"snapshot_names_list", names},
                           {"source_names_list", sources},
                           {"retention_policy_name", ""}});
    }
    std::string ReplicationSnapshot() {
        DirectResult r = RunCommand(inv, "replication_session_snapshot_create",
                                    {{"replication_session_names_list", "rs_repl"},
                                     {"is_application_consistent_list", "true"}});
        bool nested = true;
        auto names = ReadSnapCreate(r.data, nested);
        EXPECT_FALSE(nested);
        return names.empty() ? "" : names[0];
    }

    Inventory inv = DefaultInventory();
};

TEST_F(Snapshots, UnexposableSnapshotsCoverWholeGroupsWithoutSerials) {
    DirectResult r = Unexposable("VSS_b_0305140709_un,VSS_b_0305140709_un", "vg_db,vg_app");
    ASSERT_TRUE(r.result.Ok()) << r.result.info;
    const Snapshot* db = inv.FindSnapshot("vg_db", "VSS_b_0305140709_un");
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->volsnaps.size(), 3u);
    EXPECT_FALSE(db->exposable);
    EXPECT_EQ(db->source, "vg_db");
    for (const auto& v : db->volsnaps) EXPECT_TRUE(v.scsiSn.empty());
    EXPECT_NE(inv.FindSnapshot("vg_app", "VSS_b_0305140709_un"), nullptr);
}

TEST_F(Snapshots, RefusedBatchesCreateNothing) {
    inv.retentionPolicies = {"daily"};
    struct Case {
        const char* command;
        Args args;
        const char* key;
    } cases[] = {
        {"unexposable_snapshot_create",
         {{"snapshot_names_list", "a_un,b_un"}, {"source_names_list", "vg_db"}},
         keys::kInvalidArgument},
        {"unexposable_snapshot_create",
         {{"snapshot_names_list", "a_un,b_un"}, {"source_names_list", "vg_db,vg_nope"}},
         keys::kGroupNotFound},
        {"unexposable_snapshot_create",
         {{"snapshot_names_list", "a_un,nightly"}, {"source_names_list", "vg_db,vg_app"}},
         keys::kNameExists},
        {"unexposable_snapshot_create",
         {{"snapshot_names_list", "a_un,a_un"}, {"source_names_list", "vg_db,vg_db"}},
         keys::kNameExists},
        {"unexposable_snapshot_create",
         {{"snapshot_names_list", "VSS_123456789012345_0305140709_un"},
          {"source_names_list", "vg_db"}},
         keys::kNameTooLong},
        {"unexposable_snapshot_create",
         {{"snapshot_names_list", "a_un"},
          {"source_names_list", "vg_db"},
          {"is_application_consistent_list", "true,true"}},
         keys::kInvalidArgument},
        {"unexposable_snapshot_create",
         {{"snapshot_names_list", "a_un"},
          {"source_names_list", "vg_db"},
          {"retention_policy_name", "weekly"}},
         keys::kPolicyNotFound},
        {"unexposable_snapshot_create", {{"source_names_list", "vg_db"}}, keys::kMissingArgument},
        {"exposable_snapshot_create",
         {{"snapshot_names_list", "x,y"}, {"source_names_list", "vg_app:nightly,vg_db:missing_un"}},
         keys::kSnapshotNotFound},
        {"replication_session_snapshot_create",
         {{"replication_session_names_list", "rs_repl,rs_none"}},
         keys::kSessionNotFound},
        {"set_snapshot_vss_scsi_sn",
         {{"exposed_snapshot_name", "vg_db:none"}},
         keys::kSnapshotNotFound},
    };
    for (const auto& c : cases) {
        size_t before = inv.snapshots.size();
        DirectResult r = RunCommand(inv, c.command, c.args);
        EXPECT_EQ(r.result.key, c.key) << c.command << " " << r.result.info;
        EXPECT_EQ(inv.snapshots.size(), before) << c.command;
    }
}

TEST_F(Snapshots, ReplicationSnapshotNamesAreUsableAsSources) {
    std::string rep = ReplicationSnapshot();
    EXPECT_THAT(rep, StartsWith("vg_repl:rs_repl_rsnap_"));
    std::string second = ReplicationSnapshot();
    EXPECT_NE(rep, second);
    DirectResult r = Exposable("VSS_b_0305140709", rep);
    ASSERT_TRUE(r.result.Ok()) << r.result.info;
    const Snapshot* exposed = inv.FindSnapshot("vg_repl", "VSS_b_0305140709");
    ASSERT_NE(exposed, nullptr);
    EXPECT_EQ(exposed->source, rep);
    EXPECT_EQ(exposed->volsnaps.size(), 2u);
}

TEST_F(Snapshots, ExposableSnapshotsGetFreshSerialsAndNameTheirSource) {
    ASSERT_TRUE(Unexposable("S1_un,S2_un", "vg_db,vg_app").result.Ok());
    DirectResult r = Exposable("S1,S2", "vg_db:S1_un,vg_app:S2_un");
    ASSERT_TRUE(r.result.Ok()) << r.result.info;
    bool nested = true;
    EXPECT_THAT(ReadSnapCreate(r.data, nested), ElementsAre("vg_db:S1", "vg_app:S2"));

    std::set<std::string> serials;
    for (const auto& v : inv.volumes) serials.insert(v.scsiSn);
    for (const char* group : {"vg_db", "vg_app"}) {
        for (const auto& v :
             inv.FindSnapshot(group, group == std::string("vg_db") ? "S1" : "S2")->volsnaps) {
            EXPECT_FALSE(v.scsiSn.empty());
            EXPECT_TRUE(serials.insert(v.scsiSn).second) << v.scsiSn << " is not unique";
        }
    }
    DirectResult shown = RunCommand(inv, "snapshot_show", {{"snapshot_name", "vg_db:S1"}});
    EXPECT_EQ(ReadSnapShowSource(shown.data, "vg_db"), "vg_db:S1_un");
}

TEST_F(Snapshots, VssSerialsDifferFromTheSnapshotLunSerial) {
    ASSERT_TRUE(Exposable("S1", "vg_repl").result.Ok());
    EXPECT_TRUE(inv.FindSnapshot("vg_repl", "S1")->volsnaps[0].vssScsiSn.empty());
    DirectResult set =
        RunCommand(inv, "set_snapshot_vss_scsi_sn", {{"exposed_snapshot_name", "vg_repl:S1"}});
    ASSERT_TRUE(set.result.Ok()) << set.result.info;
    DirectResult shown =
        RunCommand(inv, "vss_volsnap_show", {{"volsnap_name", "vg_repl:S1:repl_log"}});
    auto records = ReadVolShow(shown.data);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].peerSn, "00000000");
    EXPECT_NE(records[0].peerSn, records[0].sn);

    ASSERT_TRUE(Unexposable("H_un", "vg_db").result.Ok());
    EXPECT_EQ(RunCommand(inv, "set_snapshot_vss_scsi_sn", {{"exposed_snapshot_name", "vg_db:H_un"}})
                  .result.key,
              keys::kNotExposable);
}

TEST_F(Snapshots, BareNamesResolveOnlyWhenUnique) {
    ASSERT_TRUE(Unexposable("same_un,same_un", "vg_db,vg_app").result.Ok());
    EXPECT_EQ(Exposable("e1", "same_un").result.key, keys::kSnapshotNotFound);
    EXPECT_TRUE(Exposable("e1", "nightly").result.Ok());
    EXPECT_EQ(inv.FindSnapshot("vg_app", "e1")->source, "vg_app:nightly");
}

}  // namespace
}  // namespace marl::sim::test
