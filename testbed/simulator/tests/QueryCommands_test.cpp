// The listings, read the way a client reads them: every payload must yield
// the records the inventory holds.
#include <gmock/gmock.h>

#include "ArrayService.h"
#include "ReplyReaders.h"
#include "SimTestSupport.h"

namespace marl::sim::test {
namespace {

using ::testing::ElementsAre;

class Queries : public ::testing::Test {
  protected:
    Inventory inv = DefaultInventory();
};

TEST_F(Queries, VolShowListsEveryVolumeWithGroupAndPeer) {
    DirectResult r = RunCommand(inv, "vol_show");
    ASSERT_TRUE(r.result.Ok());
    auto records = ReadVolShow(r.data);
    ASSERT_EQ(records.size(), inv.volumes.size());
    struct Expect {
        size_t index;
        std::string name, group, sn, peer;
    } cases[] = {
        {0, "db_data", "vg_db", "6001405ab000001", "00000000"},
        {5, "repl_data", "vg_repl", "6001405ab000006", "6001405cd000006"},
        {7, "standalone_vol", "None", "6001405ab000008", "00000000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(records[c.index].volName, c.name);
        EXPECT_EQ(records[c.index].cgName, c.group);
        EXPECT_EQ(records[c.index].sn, c.sn);
        EXPECT_EQ(records[c.index].peerSn, c.peer);
    }
    for (auto it = r.data.MemberBegin(); it != r.data.MemberEnd(); ++it) {
        EXPECT_TRUE(it->value["marked_for_deletion"].IsString());
    }
}

TEST_F(Queries, ListingsStayValidJsonWhateverTheNames) {
    const std::string names[] = {"we\"ird", "back\\slash", "tab\there", "caf\xc3\xa9", "\x01"};
    for (const auto& name : names) inv.volumes.push_back({name, "", "", "", false, ""});
    DirectResult r = RunCommand(inv, "vol_show");
    ASSERT_TRUE(r.data.IsObject()) << r.result.data;
    for (const auto& name : names) EXPECT_TRUE(r.data.HasMember(name.c_str())) << name;
    rapidjson::Document envelope;
    envelope.Parse(Envelope("vol_show", "a \"quoted\" info", "MC_OK", r.result.data).c_str());
    ASSERT_TRUE(envelope.IsObject());
    EXPECT_STREQ(envelope["info"].GetString(), "a \"quoted\" info");
}

TEST_F(Queries, VolumeSnapshotListingsNameBaseVolumeAndSerials) {
    DirectResult all = RunCommand(inv, "volsnap_show", {{"snapshot_name", "vg_app:nightly"}});
    auto records = ReadVolShow(all.data);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].volName, "app_bin");
    EXPECT_EQ(records[0].sn, "6001405ef000004");
    EXPECT_EQ(records[0].cgName, "vg_app");
    EXPECT_EQ(records[0].snapName, "vg_app:nightly");
    EXPECT_THAT(MemberNames(all.data),
                ElementsAre("vg_app:nightly:app_bin", "vg_app:nightly:app_data"));

    DirectResult one =
        RunCommand(inv, "vss_volsnap_show",
                   {{"volsnap_name", "vg_app:nightly:app_data"}, {"vss_info", "true"}});
    ASSERT_TRUE(one.result.Ok());
    auto single = ReadVolShow(one.data);
    ASSERT_EQ(single.size(), 1u);  // a client insists on exactly one record
    EXPECT_EQ(single[0].volName, "app_data");
    EXPECT_EQ(single[0].sn, "6001405ef000005");
}

TEST_F(Queries, RefusalsNameWhatIsMissing) {
    struct Case {
        const char* command;
        Args args;
        const char* key;
    } cases[] = {
        {"volsnap_show", {{"snapshot_name", "vg_app:weekly"}}, keys::kSnapshotNotFound},
        {"vss_volsnap_show", {}, keys::kMissingArgument},
        {"vss_volsnap_show", {{"volsnap_name", "vg_app:nightly:db_data"}}, keys::kVolSnapNotFound},
        {"vg_show", {{"vg_name", "vg_none"}}, keys::kGroupNotFound},
        {"vg_show", {{"vg_name", "VG_DB"}}, keys::kGroupNotFound},
        {"host_grp_show", {{"host_grp_name", "vsshost1"}}, keys::kHostGroupNotFound},
        {"snapshot_show", {{"snapshot_name", "nope"}}, keys::kSnapshotNotFound},
        {"snapshot_show", {{"volume_group", "vg_x"}}, keys::kGroupNotFound},
    };
    for (const auto& c : cases) {
        DirectResult r = RunCommand(inv, c.command, c.args);
        EXPECT_EQ(r.result.key, c.key) << c.command;
        EXPECT_FALSE(r.result.info.empty()) << c.command;
    }
}

TEST_F(Queries, ReplicationListingsGivePeersAndSessions) {
    auto volumes = ReadVolShow(RunCommand(inv, "vol_show").data);
    for (auto& v : volumes) v.peerSn.clear();
    ReadRepVolShow(RunCommand(inv, "replication_volume_show").data, volumes);
    EXPECT_EQ(volumes[5].peerSn, "6001405cd000006");
    EXPECT_EQ(volumes[6].peerSn, "6001405cd000007");
    EXPECT_EQ(volumes[0].peerSn, "");

    auto sessions = ReadRepSessionShow(RunCommand(inv, "replication_session_show").data);
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].sessionName, "rs_repl");
    EXPECT_EQ(sessions[0].cgName, "vg_repl");
    EXPECT_EQ(sessions[0].type, "async");
}

TEST_F(Queries, VgShowListsTheGroupsVolumesInOrder) {
    struct Case {
        const char* group;
        std::vector<std::string> volumes;
    } cases[] = {{"vg_db", {"db_data", "db_log", "db_temp"}},
                 {"vg_app", {"app_bin", "app_data"}},
                 {"vg_repl", {"repl_data", "repl_log"}}};
    for (const auto& c : cases) {
        bool ended = false;
        auto names =
            ReadCgShow(RunCommand(inv, "vg_show", {{"vg_name", c.group}}).data, c.group, ended);
        EXPECT_EQ(names, c.volumes) << c.group;
        EXPECT_TRUE(ended);
    }
    EXPECT_THAT(MemberNames(RunCommand(inv, "vg_show").data),
                ElementsAre("vg_db", "vg_app", "vg_repl"));
}

TEST_F(Queries, HostGroupShowAnswersOnlyForHostGroups) {
    DirectResult r = RunCommand(inv, "host_grp_show", {{"host_grp_name", "hg1"}});
    ASSERT_TRUE(r.result.Ok());
    EXPECT_TRUE(ReadHostGrpShow(r.data, "hg1"));
    EXPECT_FALSE(ReadHostGrpShow(r.data, "HG1"));
    EXPECT_THAT(MemberNames(RunCommand(inv, "host_grp_show").data), ElementsAre("hg1"));
}

TEST_F(Queries, SnapshotShowServesBothOfItsUses) {
    DirectResult full = RunCommand(inv, "snapshot_show", {{"full", "true"}});
    auto records = ReadSnapShow(full.data);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].snapName, "vg_app:nightly");
    EXPECT_EQ(records[0].cgName, "vg_app");  // vg_name came before volsnaps
    EXPECT_EQ(records[1].volSnapName, "vg_app:nightly:app_data");

    DirectResult brief = RunCommand(inv, "snapshot_show", {{"snapshot_name", "vg_app:nightly"}});
    EXPECT_TRUE(ReadSnapShow(brief.data).empty());            // no volsnaps without "full"
    EXPECT_EQ(ReadSnapShowSource(brief.data, "vg_app"), "");  // taken from the group itself

    DirectResult filtered =
        RunCommand(inv, "snapshot_show", {{"full", "true"}, {"volume_group", "vg_db"}});
    EXPECT_TRUE(filtered.result.Ok());
    EXPECT_EQ(filtered.data.MemberCount(), 0u);
}

}  // namespace
}  // namespace marl::sim::test
