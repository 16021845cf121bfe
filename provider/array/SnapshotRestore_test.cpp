#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "provider/array/testing/ArrayClientTesting.h"

namespace {

using namespace arraytest;

const char kSnapsRestore[] = "CQProvider::SnapsRestore";
const char kSnapRestore[] = "CQProvider::SnapRestore";

TEST(SnapsRestore, ListsMustHaveTheSameLength) {
    struct Case {
        marl::array::NameList cgs;
        marl::array::NameList snaps;
        uint32_t result;
        const char* line;
    };
    const std::vector<Case> cases = {
        {{"G1", "G2"},
         {"s1", "s2", "s3"},
         1,
         "ERROR mismatch list lengths cgList 2 nxaSnapVolList 3 "},
        {{"G1", "G2", "G3"}, {"s1"}, 1, "ERROR mismatch list lengths cgList 3 nxaSnapVolList 1 "},
        {{}, {"s1"}, 1, "ERROR mismatch list lengths cgList 0 nxaSnapVolList 1 "},
        {{}, {}, 0, ""},
    };
    for (const Case& c : cases) {
        ReplyLogCapture log;
        ScriptedArray array;
        TestClient client(Settings(), array);
        EXPECT_EQ(client.SnapsRestore(c.cgs, c.snaps), c.result) << c.line;
        EXPECT_TRUE(array.http.sent.empty()) << c.line;
        std::vector<std::string> expected;
        if (*c.line) expected.push_back(c.line);
        EXPECT_EQ(ProviderMessages(log, kSnapsRestore), expected);
    }
}

TEST(SnapsRestore, StopsAtTheFirstFailingGroup) {
    ReplyLogCapture log;
    ScriptedArray array;
    array.Reply("vols_restore", kOk);
    array.FailExchange("vols_restore");
    array.Reply("vols_restore", kOk);
    TestClient client(Settings(), array);
    EXPECT_EQ(client.SnapsRestore({"G1", "G2", "G3"}, {"s1", "s2", "s3"}), 1u);
    EXPECT_EQ(
        array.ArgsOf("snapshot_show"),
        (std::vector<std::string>{R"({"snapshot_name": "s1"})", R"({"snapshot_name": "s2"})"}));
    std::vector<std::string> expected = {
        "INFO Calling SnapRestore(cg=G1, snap=s1)",
        "DEBUG SnapRestore returned 0",
        "INFO Calling SnapRestore(cg=G2, snap=s2)",
        "DEBUG SnapRestore returned 1",
    };
    EXPECT_EQ(ProviderMessages(log, kSnapsRestore), expected);
}

struct RestoreCase {
    const char* label;
    std::function<void(ScriptedArray&)> script;
    uint32_t result;
    const char* restoredFrom;  // empty: no vols_restore sent
    const char* line;          // logged by SnapRestore; empty: none checked
};

TEST(SnapRestore, RestoresFromTheExposedSnapshotsSource) {
    const std::string show = "snapshot_show";
    const std::string restore = "vols_restore";
    const std::vector<RestoreCase> cases = {
        {"source named",
         [&](ScriptedArray& a) { a.Reply(show, OkData(R"({"G:snapE":{"source":"G:snapU_un"}})")); },
         0, "G:snapU_un", ""},
        {"source is the group itself",
         [&](ScriptedArray& a) { a.Reply(show, OkData(R"({"G:snapE":{"source":"G"}})")); }, 0,
         "snapE", "INFO didn't find source. using given snap snapE"},
        {"no source", nullptr, 0, "snapE", "INFO didn't find source. using given snap snapE"},
        {"listing not JSON", [&](ScriptedArray& a) { a.Reply(show, kNotJson); }, 0, "snapE",
         "TRACE Could not parse response for snapshot_show: <html>busy</html>"},
        {"listing refused", [&](ScriptedArray& a) { a.Reply(show, kRefused); }, 1, "",
         "ERROR snapshot_show failed"},
        {"listing transport", [&](ScriptedArray& a) { a.FailSend(show); }, kSessionError, "", ""},
        {"restore transport", [&](ScriptedArray& a) { a.FailSend(restore); }, kSessionError, "",
         "ERROR vols_restore failed 0x8000401d"},
        {"restore refused", [&](ScriptedArray& a) { a.Reply(restore, kRefused); }, 1, "snapE",
         "ERROR vols_restore failed"},
        {"restore not JSON", [&](ScriptedArray& a) { a.Reply(restore, kNotJson); }, 1, "snapE",
         "DEBUG could not parse response for vols_restore"},
    };
    for (const RestoreCase& c : cases) {
        ReplyLogCapture log;
        ScriptedArray array;
        if (c.script) c.script(array);
        TestClient client(Settings(), array);
        EXPECT_EQ(client.SnapRestore("G", "snapE"), c.result) << c.label;
        std::vector<std::string> expected;
        if (*c.restoredFrom) {
            expected.push_back(std::string(R"({"vg_name": "G","snapshot_name": ")") +
                               c.restoredFrom +
                               R"(","pre_restore_snapshot_name": "VSS_TMP_0305140709"})");
        }
        EXPECT_EQ(array.ArgsOf(restore), expected) << c.label;
        if (*c.line) {
            EXPECT_TRUE(Logged(log, kSnapRestore, c.line)) << c.label;
        }
    }
}

TEST(SnapRestore, PreRestoreNameFromTheClock) {
    ScriptedArray array;
    TestClient client(Settings(), array);
    client.timestamp.clear();
    EXPECT_EQ(client.SnapRestore("G", "snapE"), 0u);
    ASSERT_EQ(array.ArgsOf("vols_restore").size(), 1u);
    EXPECT_TRUE(std::regex_search(array.ArgsOf("vols_restore")[0],
                                  std::regex(R"("pre_restore_snapshot_name": "VSS_TMP_\d{10}")")))
        << array.ArgsOf("vols_restore")[0];
}

}  // namespace
