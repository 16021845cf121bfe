// Mapping snapshot LUNs to hosts, releasing them, and restoring groups.
#include <gmock/gmock.h>

#include <algorithm>

#include "ReplyReaders.h"
#include "SimTestSupport.h"

namespace marl::sim::test {
namespace {

class LunsAndRestore : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Run("unexposable_snapshot_create",
                        {{"snapshot_names_list", "S_un"}, {"source_names_list", "vg_db"}})
                        .Ok());
        ASSERT_TRUE(Run("exposable_snapshot_create",
                        {{"snapshot_names_list", "S"}, {"source_names_list", "vg_db:S_un"}})
                        .Ok());
    }
    CommandResult Run(const std::string& command, const Args& args) {
        return RunCommand(inv, command, args).result;
    }
    size_t MappingsTo(const std::string& host, const std::string& group) {
        return static_cast<size_t>(
            std::count_if(inv.mappings.begin(), inv.mappings.end(), [&](const Mapping& m) {
                return m.host == host && m.hostGroup == group && m.object.rfind("vg_db:S:", 0) == 0;
            }));
    }
    std::string SerialOf(const std::string& volume) {
        for (const auto& v : inv.FindSnapshot("vg_db", "S")->volsnaps) {
            if (v.volume == volume) return v.scsiSn;
        }
        return "";
    }

    Inventory inv = DefaultInventory();
};

TEST_F(LunsAndRestore, MappingASnapshotMapsEachVolumeSnapshotOnce) {
    EXPECT_TRUE(Run("vol_map", {{"host", "vsshost1"}, {"snapshot", "vg_db:S"}}).Ok());
    EXPECT_EQ(MappingsTo("vsshost1", ""), 3u);
    EXPECT_TRUE(Run("vol_map", {{"host", "vsshost1"}, {"snapshot", "vg_db:S"}}).Ok());
    EXPECT_EQ(MappingsTo("vsshost1", ""), 3u);
    EXPECT_TRUE(Run("vol_map", {{"hostgrp", "hg1"}, {"snapshot", "S"}}).Ok());
    EXPECT_EQ(MappingsTo("", "hg1"), 3u);
    EXPECT_TRUE(Run("vol_map", {{"host", "host2"}, {"snapshot", "vg_db:S:db_log"}}).Ok());
    EXPECT_EQ(MappingsTo("host2", ""), 1u);
}

TEST_F(LunsAndRestore, MappingRefusals) {
    struct Case {
        Args args;
        const char* key;
    } cases[] = {
        {{{"host", "nohost"}, {"snapshot", "vg_db:S"}}, keys::kHostNotFound},
        {{{"hostgrp", "vsshost1"}, {"snapshot", "vg_db:S"}}, keys::kHostGroupNotFound},
        {{{"host", "vsshost1"}, {"hostgrp", "hg1"}, {"snapshot", "vg_db:S"}},
         keys::kInvalidArgument},
        {{{"snapshot", "vg_db:S"}}, keys::kMissingArgument},
        {{{"host", "vsshost1"}}, keys::kMissingArgument},
        {{{"host", "vsshost1"}, {"snapshot", "vg_db:T"}}, keys::kSnapshotNotFound},
        {{{"host", "vsshost1"}, {"snapshot", "vg_db:S_un"}}, keys::kNotExposable},
        {{{"host", "vsshost1"}, {"snapshot", "no_such_thing"}}, keys::kSnapshotNotFound},
    };
    size_t before = inv.mappings.size();
    for (const auto& c : cases) EXPECT_EQ(Run("vol_map", c.args).key, c.key);
    EXPECT_EQ(inv.mappings.size(), before);
}

TEST_F(LunsAndRestore, EmptyingReleasesTheLunAndItsMappings) {
    ASSERT_TRUE(Run("vol_map", {{"host", "vsshost1"}, {"snapshot", "vg_db:S"}}).Ok());
    std::string serial = SerialOf("db_log");
    // A client sends the serial as it normalised it: lower case, padded.
    std::string sent = serial;
    std::transform(sent.begin(), sent.end(), sent.begin(), ::toupper);
    EXPECT_TRUE(Run("vss_volsnap_empty", {{"scsi_sn", sent}}).Ok());
    EXPECT_EQ(MappingsTo("vsshost1", ""), 2u);
    EXPECT_EQ(SerialOf("db_log"), "");
    EXPECT_EQ(Run("vss_volsnap_empty", {{"scsi_sn", serial}}).key, keys::kVolSnapNotFound);
    EXPECT_EQ(Run("vss_volsnap_empty", {}).key, keys::kMissingArgument);
    // A hidden snapshot has no LUN to release.
    EXPECT_EQ(Run("vss_volsnap_empty", {{"scsi_sn", "00000000"}}).key, keys::kVolSnapNotFound);

    EXPECT_TRUE(Run("vss_volsnap_empty", {{"scsi_sn", SerialOf("db_data")}}).Ok());
    EXPECT_TRUE(Run("vss_volsnap_empty", {{"scsi_sn", SerialOf("db_temp")}}).Ok());
    EXPECT_EQ(inv.FindSnapshot("vg_db", "S"), nullptr);  // nothing left of it
    EXPECT_NE(inv.FindSnapshot("vg_db", "S_un"), nullptr);
}

TEST_F(LunsAndRestore, RestoreUsesTheSourceAndKeepsThePreRestoreSnapshot) {
    DirectResult shown = RunCommand(inv, "snapshot_show", {{"snapshot_name", "vg_db:S"}});
    std::string source = ReadSnapShowSource(shown.data, "vg_db");
    ASSERT_EQ(source, "vg_db:S_un");
    ASSERT_TRUE(Run("vols_restore", {{"vg_name", "vg_db"},
                                     {"snapshot_name", source},
                                     {"pre_restore_snapshot_name", "VSS_TMP_0305140709"}})
                    .Ok());
    const Snapshot* keep = inv.FindSnapshot("vg_db", "VSS_TMP_0305140709");
    ASSERT_NE(keep, nullptr);
    EXPECT_EQ(keep->kind, SnapshotKind::PreRestore);
    EXPECT_EQ(keep->volsnaps.size(), 3u);
    EXPECT_EQ(inv.FindVolume("db_log")->restoredFrom, "vg_db:S_un");
    EXPECT_EQ(inv.FindVolume("app_bin")->restoredFrom, "");
    ASSERT_EQ(inv.FindGroup("vg_db")->restores.size(), 1u);
    EXPECT_EQ(inv.FindGroup("vg_db")->restores[0].preRestoreSnapshot, "vg_db:VSS_TMP_0305140709");
}

TEST_F(LunsAndRestore, RestoreRefusals) {
    struct Case {
        Args args;
        const char* key;
    } cases[] = {
        {{{"vg_name", "vg_x"}, {"snapshot_name", "vg_db:S"}}, keys::kGroupNotFound},
        {{{"vg_name", "vg_db"}, {"snapshot_name", "vg_db:nope"}}, keys::kSnapshotNotFound},
        {{{"vg_name", "vg_db"}, {"snapshot_name", "vg_app:nightly"}}, keys::kNotInGroup},
        {{{"vg_name", "vg_db"}, {"snapshot_name", "S"}, {"pre_restore_snapshot_name", "S_un"}},
         keys::kNameExists},
        {{{"vg_name", "vg_db"}}, keys::kMissingArgument},
    };
    for (const auto& c : cases) EXPECT_EQ(Run("vols_restore", c.args).key, c.key);
    EXPECT_EQ(inv.FindVolume("db_data")->restoredFrom, "");
    // Two restores within one second name the same pre-restore snapshot.
    Args again{
        {"vg_name", "vg_db"}, {"snapshot_name", "S"}, {"pre_restore_snapshot_name", "VSS_TMP_1"}};
    EXPECT_TRUE(Run("vols_restore", again).Ok());
    EXPECT_EQ(Run("vols_restore", again).key, keys::kNameExists);
}

}  // namespace
}  // namespace marl::sim::test
