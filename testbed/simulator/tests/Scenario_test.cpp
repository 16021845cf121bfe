// Scenario files, the state dump that reads back as one, and the generator.
#include <gmock/gmock.h>

#include "ReplyReaders.h"
#include "SimTestSupport.h"
#include "StateWriter.h"

namespace marl::sim::test {
namespace {

using ::testing::HasSubstr;

TEST(Scenario, DefaultScenarioHasTheAdvertisedShape) {
    Inventory inv = DefaultInventory();
    EXPECT_EQ(inv.groups.size(), 3u);
    for (const auto& g : inv.groups) {
        size_t n = inv.GroupVolumes(g.name).size();
        EXPECT_TRUE(n == 2 || n == 3) << g.name;
    }
    EXPECT_EQ(inv.GroupVolumes("").size(), 1u);
    ASSERT_NE(inv.FindHost("vsshost1"), nullptr);
    EXPECT_EQ(inv.FindHost("vsshost1")->hostGroup, "hg1");
    ASSERT_EQ(inv.replicationSessions.size(), 1u);
    EXPECT_EQ(inv.replicationSessions[0].type, "async");
}

TEST(Scenario, InconsistentScenariosAreRefusedWithAReason) {
    struct Case {
        const char* text;
        const char* reason;
    } cases[] = {
        {"[1,2]", "JSON object"},
        {"{\"volumes\": [", "not valid JSON"},
        {R"({"volumes":[{"name":"v","volume_group":"g"}]})", "unknown volume group g"},
        {R"({"volume_groups":["g","g"]})", "duplicate volume group"},
        {R"({"volumes":[{"name":"a","scsi_sn":"AB12"},{"name":"b","scsi_sn":"ab12"}]})",
         "already used"},
        {R"({"volumes":[{"name":"a:b"}]})", "contains ':'"},
        {R"({"hosts":[{"name":"h","host_group":"hg"}]})", "unknown host group"},
        {R"({"volume_groups":["g"],"snapshots":[{"name":"s","volume_group":"g","kind":"odd"}]})",
         "unknown snapshot kind"},
        {R"({"volume_groups":["g"],"volumes":[{"name":"v"}],"mappings":[{"object":"v"}]})",
         "exactly one of host"},
        {R"({"replication_volumes":[{"replication_session":"rs","local_volume":"v"}]})",
         "unknown session"},
    };
    for (const auto& c : cases) {
        Inventory inv;
        std::string error;
        EXPECT_FALSE(LoadScenario(c.text, inv, error)) << c.text;
        EXPECT_THAT(error, HasSubstr(c.reason)) << c.text;
    }
}

TEST(Scenario, StateDumpReadsBackAsTheSameInventory) {
    Inventory inv = DefaultInventory();
    RunCommand(inv, "unexposable_snapshot_create",
               {{"snapshot_names_list", "S_un"}, {"source_names_list", "vg_repl"}});
    RunCommand(inv, "exposable_snapshot_create",
               {{"snapshot_names_list", "S"}, {"source_names_list", "vg_repl:S_un"}});
    RunCommand(inv, "set_snapshot_vss_scsi_sn", {{"exposed_snapshot_name", "vg_repl:S"}});
    RunCommand(inv, "vol_map", {{"hostgrp", "hg1"}, {"snapshot", "vg_repl:S"}});
    std::string dump = InventoryToJson(inv);
    Inventory again;
    std::string error;
    ASSERT_TRUE(LoadScenario(dump, again, error)) << error;
    EXPECT_EQ(InventoryToJson(again), dump);
    // Fresh serials keep clear of the ones read back.
    std::string fresh = again.serials.Next();
    for (const auto& s : again.snapshots) {
        for (const auto& v : s.volsnaps) EXPECT_NE(Normalised(v.scsiSn), Normalised(fresh));
    }
}

TEST(Scenario, GeneratorBuildsTheRequestedInventory) {
    InventoryFigures figures;
    std::string error;
    ASSERT_TRUE(ParseInventoryFigures("volumes=10,snapshots=5,replication=3", figures, error))
        << error;
    Inventory inv;
    GenerateInventory(figures, inv);
    EXPECT_EQ(inv.volumes.size(), 10u);
    EXPECT_EQ(inv.groups.size(), 3u);  // groups of four
    EXPECT_EQ(inv.snapshots.size(), 5u);
    EXPECT_EQ(inv.replicationVolumes.size(), 3u);
    auto records = ReadVolShow(RunCommand(inv, "vol_show").data);
    ASSERT_EQ(records.size(), 10u);
    EXPECT_NE(records[2].peerSn, "00000000");
    EXPECT_EQ(records[3].peerSn, "00000000");
    Inventory reloaded;
    EXPECT_TRUE(LoadScenario(InventoryToJson(inv), reloaded, error)) << error;
    for (const char* bad : {"volumes=x", "volumes", "lots=3", "volumes=-1"}) {
        EXPECT_FALSE(ParseInventoryFigures(bad, figures, error)) << bad;
    }
}

TEST(Scenario, SerialsAreMatchedWhateverTheirCaseOrPadding) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {{"6B1A2", "0006b1a2"},
                 {"6001405AB000001", "6001405ab000001"},
                 {"", "00000000"},
                 {"12345678", "12345678"}};
    for (const auto& c : cases) EXPECT_EQ(NormaliseSerial(c.in), c.out);
    Inventory inv;
    std::string error;
    ASSERT_TRUE(LoadScenario(R"({"volume_groups":["g"],"volumes":[{"name":"v","volume_group":"g"}],
        "snapshots":[{"name":"s","volume_group":"g","exposable":true,
                      "volsnaps":[{"volume":"v","scsi_sn":"6B1A2"}]}]})",
                             inv, error))
        << error;
    VolSnapRef ref;
    EXPECT_TRUE(FindVolSnapBySerial(inv, "0006b1a2", ref));
    EXPECT_FALSE(FindVolSnapBySerial(inv, "6b1a20", ref));
}

}  // namespace
}  // namespace marl::sim::test
