#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "provider/array/testing/ArrayClientTesting.h"

namespace {

using namespace arraytest;

const char kExposeFn[] = "CQProvider::ExposeSnap";

TEST(ExposeSnap, OncePerSetWithTheCommitsSnapshotsAsSources) {
    struct Case {
        const char* label;
        bool replication;
        std::vector<std::string> calls;
    };
    const std::string create = "exposable_snapshot_create ";
    const std::vector<Case> cases = {
        {"replication on",
         true,
         {create + R"({"snapshot_names_list": "S1,S2","source_names_list": "G1:S1_un,R2",)"
                   R"("retention_policy_name": "keep7"})",
          R"(set_snapshot_vss_scsi_sn {"exposed_snapshot_name": "G2:S2"})"}},
        {"replication off",
         false,
         {create + R"({"snapshot_names_list": "S1,S2","source_names_list": "G1:S1_un,G2:S2_un",)"
                   R"("retention_policy_name": "keep7"})"}},
    };
    for (const Case& c : cases) {
        ScriptedArray array;
        TestClient client(Settings(c.replication), array);
        client.AddGroup("G1", "S1");
        client.AddGroup("G2", "S2", "sess2", "R2");
        EXPECT_EQ(client.ExposeSnap(client.set), 0u) << c.label;
        std::vector<std::string> calls;
        for (const Call& call : array.calls) calls.push_back(call.command + " " + call.args);
        EXPECT_EQ(calls, c.calls) << c.label;
        EXPECT_EQ(client.set.snapsExposed, 1);
        // Asked again for the same set: nothing more is sent.
        EXPECT_EQ(client.ExposeSnap(client.set), 0u);
        EXPECT_EQ(array.calls.size(), c.calls.size()) << c.label;
        // A new set clears the flag and is exposed again.
        client.set.snapsExposed = 0;
        EXPECT_EQ(client.ExposeSnap(client.set), 0u);
        EXPECT_EQ(array.calls.size(), 2 * c.calls.size()) << c.label;
    }
}

TEST(ExposeSnap, FailuresPerStep) {
    const std::string create = "exposable_snapshot_create";
    const std::string setSn = "set_snapshot_vss_scsi_sn";
    struct Case {
        const char* label;
        std::function<void(ScriptedArray&)> script;
        uint32_t result;
        int exposed;
        std::vector<std::string> commands;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"create transport",
         [&](ScriptedArray& a) { a.FailSend(create); },
         kSessionError,
         0,
         {},
         {"ERROR exposable_snapshot_create failed 0x8000401d"}},
        {"create refused",
         [&](ScriptedArray& a) { a.Reply(create, kRefused); },
         0,
         1,
         {create, setSn, setSn},
         {"ERROR exposable_snapshot_create failed"}},
        {"create not JSON",
         [&](ScriptedArray& a) { a.Reply(create, kNotJson); },
         1,
         1,
         {create, setSn, setSn},
         {"DEBUG could not parse response for exposable_snapshot_create"}},
        {"set transport",
         [&](ScriptedArray& a) { a.FailSend(setSn); },
         kSessionError,
         1,
         {create},
         {"ERROR set_snapshot_vss_scsi_sn failed 0x8000401d"}},
        {"set refused",
         [&](ScriptedArray& a) { a.Reply(setSn, kRefused); },
         0,
         1,
         {create, setSn, setSn},
         {"ERROR set_snapshot_vss_scsi_sn failed"}},
        {"set not JSON once",
         [&](ScriptedArray& a) {
             a.Reply(setSn, kNotJson);
             a.Reply(setSn, kOk);
         },
         1,
         1,
         {create, setSn, setSn},
         {"DEBUG could not parse response for set_snapshot_vss_scsi_sn"}},
    };
    for (const Case& c : cases) {
        ReplyLogCapture log;
        ScriptedArray array;
        c.script(array);
        TestClient client(Settings(true), array);
        client.AddGroup("G1", "S1", "sess1", "R1");
        client.AddGroup("G2", "S2", "sess2", "R2");
        EXPECT_EQ(client.ExposeSnap(client.set), c.result) << c.label;
        EXPECT_EQ(client.set.snapsExposed, c.exposed) << c.label;
        EXPECT_EQ(array.Commands(), c.commands) << c.label;
        for (const std::string& line : c.lines) {
            EXPECT_TRUE(Logged(log, kExposeFn, line)) << c.label << ": " << line;
        }
    }
}

TEST(BuildVolSnapNames, NamesOfTheFirstLunWithTheSerial) {
    struct Case {
        const char* serial;
        uint32_t result;
        const char* volSnap;
        const char* cgSnap;
    };
    const std::vector<Case> cases = {
        {"snX", 0, "G:S:V", "G:S"}, {"snY", 0, "H:T:W", "H:T"},
        {"snZ", 0, "K::Z", "K:"},  // group not in the set's groups
        {"SNX", 1, "old", "old"},   {"", 1, "old", "old"},
    };
    for (const Case& c : cases) {
        ScriptedArray array;
        TestClient client(Settings(), array);
        client.AddLun("V", "snX", "G");
        client.AddLun("W", "snY", "H");
        client.AddLun("V2", "snX", "G");
        client.AddLun("Z", "snZ", "K");
        client.AddGroup("G", "S");
        client.AddGroup("H", "T");
        std::string volSnap = "old";
        std::string cgSnap = "old";
        EXPECT_EQ(client.BuildVolSnapNames(client.set, c.serial, volSnap, cgSnap), c.result)
            << c.serial;
        EXPECT_EQ(volSnap, c.volSnap) << c.serial;
        EXPECT_EQ(cgSnap, c.cgSnap) << c.serial;
    }
}

TEST(GetSnapLunSN, ExactlyOneRecordIsAnAnswer) {
    const std::string cmd = "vss_volsnap_show";
    const std::string one = OkData(R"({"G:S:V":{"scsi_sn":"AB01","vss_scsi_sn":"CD02",)"
                                   R"("base_volume":"V"}})");
    const std::string two = OkData(R"({"a":{"scsi_sn":"AB01"},"b":{"scsi_sn":"AB02"}})");
    struct Case {
        const char* label;
        std::function<void(ScriptedArray&)> script;
        uint32_t result;
        const char* line;
    };
    const std::vector<Case> cases = {
        {"one record", [&](ScriptedArray& a) { a.Reply(cmd, one); }, 0,
         "TRACE GetSnapLunSN returning: targetLunId=x0000ab01, peerTargetLunId=y0000cd02, "
         "volName=V"},
        {"two records", [&](ScriptedArray& a) { a.Reply(cmd, two); }, 1,
         "ERROR invalid list length: 2"},
        {"no record", [&](ScriptedArray& a) { a.Reply(cmd, OkData("{}")); }, 1,
         "ERROR invalid list length: 0"},
        {"refused", [&](ScriptedArray& a) { a.Reply(cmd, kRefused); }, 1,
         "ERROR vss_volsnap_show failed"},
        {"not JSON", [&](ScriptedArray& a) { a.Reply(cmd, kNotJson); }, 1,
         "TRACE Could not parse response for vss_volsnap_show: <html>busy</html>"},
        {"transport", [&](ScriptedArray& a) { a.FailSend(cmd); }, kSessionError, ""},
    };
    for (const Case& c : cases) {
        ReplyLogCapture log;
        ScriptedArray array;
        c.script(array);
        TestClient client(Settings(), array);
        std::string target = "x";
        std::string peer = "y";
        std::string volName = "old";
        EXPECT_EQ(client.GetSnapLunSN("G:S:V", target, peer, volName), c.result) << c.label;
        if (c.result == 0) {
            EXPECT_EQ(target, "x0000ab01");
            EXPECT_EQ(peer, "y0000cd02");
            EXPECT_EQ(volName, "V");
        } else {
            EXPECT_EQ(target + peer + volName, "xyold") << c.label;
        }
        if (*c.line) {
            EXPECT_TRUE(Logged(log, "CQProvider::GetSnapLunSN", c.line)) << c.label;
        }
    }
}

TEST(GetQVolSnaps, ListsThenAsksEachVolumeSnapshotForItsSerials) {
    ScriptedArray array;
    array.Reply("snapshot_show",
                OkData(R"({"G:S":{"vg_name":"G","volsnaps":["G:S:V1","G:S:V2"]}})"));
    array.Reply("vss_volsnap_show", OkData(R"({"x":{"scsi_sn":"AB01","base_volume":"V1"}})"));
    array.Reply("vss_volsnap_show", kRefused);
    TestClient client(Settings(), array);
    marl::array::LunInfoList records;
    EXPECT_EQ(client.GetQVolSnaps("G", records), 0u);
    EXPECT_EQ(array.ArgsOf("snapshot_show"),
              std::vector<std::string>{R"({"full": "true","volume_group": "G"})"});
    EXPECT_EQ(array.ArgsOf("vss_volsnap_show"),
              (std::vector<std::string>{R"({"volsnap_name": "G:S:V1","vss_info": "true"})",
                                        R"({"volsnap_name": "G:S:V2","vss_info": "true"})"}));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records.front().sn, "0000ab01");
    EXPECT_EQ(records.front().volName, "V1");
    EXPECT_EQ(records.front().cgName, "G");
    EXPECT_EQ(records.back().sn, "");  // its serial request was refused

    ScriptedArray all;
    TestClient other(Settings(), all);
    marl::array::LunInfoList none;
    EXPECT_EQ(other.GetQVolSnaps(nullptr, none), 0u);
    EXPECT_EQ(all.ArgsOf("snapshot_show"), std::vector<std::string>{R"({"full": "true"})"});
}

TEST(GetQVolSnaps, Failures) {
    struct Case {
        std::function<void(ScriptedArray&)> script;
        uint32_t result;
        const char* line;
    };
    const std::vector<Case> cases = {
        {[](ScriptedArray& a) { a.FailSend("snapshot_show"); }, kSessionError, ""},
        {[](ScriptedArray& a) { a.Reply("snapshot_show", kRefused); }, 1,
         "ERROR snapshot_show failed"},
        {[](ScriptedArray& a) { a.Reply("snapshot_show", kNotJson); }, 0,
         "TRACE could not parse response for snapshot_show, <html>busy</html>"},
    };
    for (const Case& c : cases) {
        ReplyLogCapture log;
        ScriptedArray array;
        c.script(array);
        TestClient client(Settings(), array);
        marl::array::LunInfoList records;
        EXPECT_EQ(client.GetQVolSnaps(nullptr, records), c.result) << c.line;
        EXPECT_TRUE(records.empty());
        if (*c.line) {
            EXPECT_TRUE(Logged(log, "CQProvider::GetQVolSnaps", c.line)) << c.line;
        }
    }
}

TEST(IsHostGrpName, OnlyAnExactGroupNameCounts) {
    const std::string cmd = "host_grp_show";
    struct Case {
        std::function<void(ScriptedArray&)> script;
        bool answer;
        const char* line;
    };
    const std::vector<Case> cases = {
        {[&](ScriptedArray& a) { a.Reply(cmd, OkData(R"({"host1":{}})")); }, true,
         R"(DEBUG host_grp_show for host1 returned {"key":"MC_OK","request":"r","data":{"host1":{}}})"},
        {[&](ScriptedArray& a) { a.Reply(cmd, OkData(R"({"Host1":{}})")); }, false, ""},
        {[&](ScriptedArray& a) { a.FailSend(cmd); }, false,
         "ERROR could not get response for host_grp_show"},
        {[&](ScriptedArray& a) { a.Reply(cmd, kRefused); }, false, "ERROR host_grp_show failed"},
        {[&](ScriptedArray& a) { a.Reply(cmd, kNotJson); }, false,
         "INFO could not parse response for host_grp_show, <html>busy</html>"},
    };
    for (const Case& c : cases) {
        ReplyLogCapture log;
        ScriptedArray array;
        c.script(array);
        TestClient client(Settings(), array);
        EXPECT_EQ(client.IsHostGrpName("host1"), c.answer) << c.line;
        if (*c.line) {
            EXPECT_TRUE(Logged(log, "CQProvider::IsHostGrpName", c.line)) << c.line;
        }
        if (array.calls.size() == 1) {
            EXPECT_EQ(array.calls[0].args, R"({"host_grp_name": "host1"})");
        }
    }
}

struct MapCase {
    const char* label;
    std::function<void(ScriptedArray&)> script;
    std::vector<std::string> names;
    bool vmware;
    uint32_t result;
    std::vector<std::string> mapArgs;
    std::vector<std::string> helperRuns;
};

TEST(MapSnapshots, ToTheHostOrItsGroupThenTheHelper) {
    const std::string grp = OkData(R"({"host1":{"hosts":["a"]}})");
    const std::string map = "vol_map";
    const std::vector<MapCase> cases = {
        {"host",
         nullptr,
         {"v1", "v2"},
         false,
         0,
         {R"({"host": "host1","snapshot": "v1"})", R"({"host": "host1","snapshot": "v2"})"},
         {}},
        {"host group",
         [&](ScriptedArray& a) { a.Reply("host_grp_show", grp); },
         {"v1", "v2"},
         false,
         0,
         {R"({"hostgrp": "host1","snapshot": "v1"})", R"({"hostgrp": "host1","snapshot": "v2"})"},
         {}},
        {"group query refused",
         [&](ScriptedArray& a) { a.Reply("host_grp_show", kRefused); },
         {"v1"},
         false,
         0,
         {R"({"host": "host1","snapshot": "v1"})"},
         {}},
        {"vmware guest",
         nullptr,
         {"v1"},
         true,
         0,
         {R"({"host": "host1","snapshot": "v1"})"},
         {"scsi_rescan", "set_rdm 6001a,6001b"}},
        {"nothing to map", nullptr, {}, true, 0, {}, {"scsi_rescan", "set_rdm 6001a,6001b"}},
        {"mapping refused goes on",
         [&](ScriptedArray& a) {
             a.Reply(map, kRefused);
             a.Reply(map, kOk);
         },
         {"v1", "v2"},
         true,
         0,
         {R"({"host": "host1","snapshot": "v1"})", R"({"host": "host1","snapshot": "v2"})"},
         {"scsi_rescan", "set_rdm 6001a,6001b"}},
        {"mapping not JSON stops",
         [&](ScriptedArray& a) { a.Reply(map, kNotJson); },
         {"v1", "v2"},
         true,
         1,
         {R"({"host": "host1","snapshot": "v1"})"},
         {}},
        {"mapping transport stops",
         [&](ScriptedArray& a) {
             a.Reply(map, kOk);
             a.FailExchange(map);
         },
         {"v1", "v2", "v3"},
         true,
         1,
         {R"({"host": "host1","snapshot": "v1"})", R"({"host": "host1","snapshot": "v2"})",
          R"({"host": "host1","snapshot": "v2"})", R"({"host": "host1","snapshot": "v2"})",
          R"({"host": "host1","snapshot": "v2"})", R"({"host": "host1","snapshot": "v2"})"},
         {}},
    };
    for (const MapCase& c : cases) {
        ScriptedArray array;
        if (c.script) c.script(array);
        ProviderSettings settings = Settings();
        settings.vmwareVm = c.vmware;
        TestClient client(settings, array);
        marl::array::NameList names(c.names.begin(), c.names.end());
        EXPECT_EQ(client.MapSnapshots(names, " 6001a,6001b"), c.result) << c.label;
        EXPECT_EQ(array.ArgsOf(map), c.mapArgs) << c.label;
        EXPECT_EQ(client.helperRuns, c.helperRuns) << c.label;
        EXPECT_EQ(array.Commands().front(), "host_grp_show") << c.label;
    }
}

// A serial lands on the helper's command line: only letters and digits may.
TEST(MapSnapshots, UnsafeSerialsStayOffTheHelperCommandLine) {
    struct Case {
        const char* serials;
        const char* passed;
        std::vector<std::string> rejected;
    };
    const std::vector<Case> cases = {
        {" 6001a,6001B", " 6001a,6001B", {}},
        {" 6001a,60\"01 --operation remove_rdm,6001b",
         " 6001a,6001b",
         {"60\"01 --operation remove_rdm"}},
        {" 60-01,6001b", " 6001b", {"60-01"}},
        {" a b", " ", {"a b"}},
        {"", "", {}},
        {" ", " ", {}},
    };
    for (const Case& c : cases) {
        ReplyLogCapture log;
        ScriptedArray array;
        ProviderSettings settings = Settings();
        settings.vmwareVm = true;
        TestClient client(settings, array);
        EXPECT_EQ(client.MapSnapshots({}, c.serials), 0u);
        ASSERT_EQ(client.helperRuns.size(), 2u);
        EXPECT_EQ(client.helperRuns[1], std::string("set_rdm") + c.passed) << c.serials;
        std::vector<std::string> errors;
        for (const std::string& m : ProviderMessages(log, "CQProvider::MapSnapshots")) {
            if (m.rfind("ERROR", 0) == 0) errors.push_back(m);
        }
        ASSERT_EQ(errors.size(), c.rejected.size()) << c.serials;
        for (size_t i = 0; i < errors.size(); ++i) {
            EXPECT_NE(errors[i].find("'" + c.rejected[i] + "'"), std::string::npos) << errors[i];
        }
    }
}

}  // namespace
