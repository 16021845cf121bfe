#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "provider/array/testing/ArrayClientTesting.h"

namespace {

using namespace arraytest;

struct NamingCase {
    const char* prefix;
    const char* suffix;
    const char* snapName;
    const char* warning;  // empty: none expected
};

TEST(AddCGGroupNameToList, SnapshotNameAndPrefixCut) {
    const std::vector<NamingCase> cases = {
        {"backup", "0305140709", "VSS_backup_0305140709", ""},
        {"abcdefghijklmnopqrst", "0305140709", "VSS_abcdefghijklmn_0305140709",
         "WARN Prefix name abcdefghijklmnopqrst too long for snap prefix. Using abcdefghijklmn "
         "instead"},
        {"abcdefghijklmn", "0305140709", "VSS_abcdefghijklmn_0305140709", ""},
        {"abcdefghijklmno", "0305140709", "VSS_abcdefghijklmn_0305140709",
         "WARN Prefix name abcdefghijklmno too long for snap prefix. Using abcdefghijklmn instead"},
        {"", "0305140709", "VSS__0305140709", ""},
        {"p", "123456789012345678901234567890", "VSS__123456789012345678901234567890",
         "WARN Prefix name p too long for snap prefix. Using  instead"},
    };
    for (const NamingCase& c : cases) {
        ReplyLogCapture log;
        ScriptedArray array;
        ProviderSettings settings = Settings();
        settings.snapPrefix = c.prefix;
        TestClient client(settings, array);
        client.AddCGGroupNameToList(client.set.cgList, "cg1", "", c.suffix);
        ASSERT_EQ(client.set.cgList.size(), 1u) << c.prefix;
        EXPECT_EQ(client.set.cgList.front().snap_name, c.snapName) << c.prefix;
        std::vector<std::string> warnings;
        for (const std::string& m : ProviderMessages(log, "CQProvider::AddCGGroupNameToList")) {
            if (m.rfind("WARN", 0) == 0) warnings.push_back(m);
        }
        std::vector<std::string> expected;
        if (*c.warning) expected.push_back(c.warning);
        EXPECT_EQ(warnings, expected) << c.prefix;
        EXPECT_TRUE(array.calls.empty());
    }
}

TEST(AddCGGroupNameToList, GroupIsAddedOnceWithItsFirstSession) {
    ReplyLogCapture log;
    ScriptedArray array;
    TestClient client(Settings(), array);
    client.AddCGGroupNameToList(client.set.cgList, "cg1", "", "0305140709");
    client.AddCGGroupNameToList(client.set.cgList, "cg2", "sessB", "0305140710");
    client.AddCGGroupNameToList(client.set.cgList, "cg1", "sessOther", "0305140711");
    ASSERT_EQ(client.set.cgList.size(), 2u);
    const CgInfo& first = client.set.cgList.front();
    const CgInfo& second = client.set.cgList.back();
    EXPECT_EQ(first.cg_name, "cg1");
    EXPECT_EQ(first.snap_name, "VSS_backup_0305140709");
    EXPECT_EQ(first.rep_session_name, "");
    EXPECT_EQ(second.rep_session_name, "sessB");
    EXPECT_EQ(second.rep_snap_name, "");
    std::vector<std::string> expected = {
        "TRACE starting AddCGGroupNameToList",
        "TRACE before setting replication session name",
        "TRACE starting AddCGGroupNameToList",
        "TRACE before setting replication session name",
        "TRACE setting replication session name sessB",
        "TRACE starting AddCGGroupNameToList",
    };
    EXPECT_EQ(ProviderMessages(log, "CQProvider::AddCGGroupNameToList"), expected);
}

struct SessionCase {
    std::vector<SessionInfo> sessions;
    const char* chosen;  // empty: none
};

TEST(FindQRepSessionByCg, PrefersAsyncElseTheLastMatch) {
    const std::vector<SessionCase> cases = {
        {{{"cg1", "s1", "sync"}, {"cg1", "s2", "async"}, {"cg1", "s3", "sync"}}, "s2"},
        {{{"cg1", "s1", "sync"}, {"cg1", "s3", "sync"}}, "s3"},
        {{{"cg1", "s1", "async"}, {"cg1", "s2", "async"}}, "s1"},
        {{{"cg2", "s1", "async"}, {"cg1", "s2", "sync"}, {"cg2", "s3", "async"}}, "s2"},
        {{{"CG1", "s1", "async"}, {"cg1", "s2", "ASYNC"}}, "s2"},
        {{{"cg2", "s1", "async"}}, ""},
        {{}, ""},
    };
    for (const SessionCase& c : cases) {
        ReplyLogCapture log;
        ScriptedArray array;
        TestClient client(Settings(), array);
        marl::array::SessionInfoList sessions(c.sessions.begin(), c.sessions.end());
        SessionInfo* found = client.FindQRepSessionByCg(sessions, "cg1");
        EXPECT_EQ(found ? found->sessionName : "", c.chosen);
        if (!*c.chosen) {
            EXPECT_TRUE(Logged(log, "CQProvider::FindQRepSessionByCg",
                               "DEBUG no rep session found for cg (cg1)."));
        }
    }
}

TEST(FindQLun, ExactSerialAndPeerSerial) {
    ReplyLogCapture log;
    ScriptedArray array;
    TestClient client(Settings(), array);
    marl::array::LunInfoList luns{{"vol1", "cg1", "0006b1a2", "00aa0001", "", ""},
                                  {"vol2", "cg1", "0006b1a3", "00aa0002", "", ""},
                                  {"vol3", "cg1", "0006b1a3", "", "", ""}};
    EXPECT_EQ(client.FindQLunBySn(luns, "0006B1A2"), nullptr);
    EXPECT_EQ(client.FindQLunBySn(luns, "0006b1a3"), &*std::next(luns.begin()));
    EXPECT_EQ(client.FindQLunBySn(luns, "6b1a3"), nullptr);
    EXPECT_EQ(client.FindQLunByRepSn(luns, "00aa0001"), &luns.front());
    EXPECT_EQ(client.FindQLunByRepSn(luns, "0006b1a2"), nullptr);
    EXPECT_TRUE(Logged(log, "CQProvider::FindQLunBySn",
                       "DEBUG Found volume vol2 with scsi-sn (0006b1a3)."));
    EXPECT_TRUE(
        Logged(log, "CQProvider::FindQLunBySn", "DEBUG no volume found for scsi-sn (0006B1A2)."));
    EXPECT_TRUE(Logged(log, "CQProvider::FindQLunByRepSn",
                       "DEBUG replacing scsi-sn (00aa0001) with scsi-sn (0006b1a2)."));
}

struct ListingCase {
    const char* function;
    const char* command;
    std::function<uint32_t(TestClient&, marl::array::LunInfoList&, marl::array::SessionInfoList&)>
        run;
};

std::vector<ListingCase> ListingQueries() {
    return {
        {"CQProvider::GetAllQLuns", "vol_show",
         [](TestClient& c, marl::array::LunInfoList& l, marl::array::SessionInfoList&) {
             return c.GetAllQLuns(l);
         }},
        {"CQProvider::GetAllQLunsReplicas", "replication_volume_show",
         [](TestClient& c, marl::array::LunInfoList& l, marl::array::SessionInfoList&) {
             return c.GetAllQLunsReplicas(l);
         }},
        {"CQProvider::GetAllQReplicationSessions", "replication_session_show",
         [](TestClient& c, marl::array::LunInfoList&, marl::array::SessionInfoList& s) {
             return c.GetAllQReplicationSessions(s);
         }},
    };
}

TEST(ListingQueries, FailuresLeaveTheListsAlone) {
    for (const ListingCase& q : ListingQueries()) {
        const std::string cmd = q.command;
        const std::string vs = cmd == "vol_show" ? "vol-show" : cmd;
        struct Failure {
            std::function<void(ScriptedArray&)> script;
            uint32_t result;
            std::string line;  // expected under the query's name; empty: none
        };
        const std::vector<Failure> failures = {
            {[&](ScriptedArray& a) { a.FailSend(cmd); }, kSessionError, ""},
            {[&](ScriptedArray& a) { a.FailStatus(cmd); }, 1, ""},
            {[&](ScriptedArray& a) { a.Reply(cmd, kRefused); }, 1, "ERROR " + cmd + " failed"},
            {[&](ScriptedArray& a) { a.Reply(cmd, kNotJson); }, 1,
             "DEBUG could not parse response for " + vs + ": invalid_argument "},
        };
        for (const Failure& f : failures) {
            ReplyLogCapture log;
            ScriptedArray array;
            f.script(array);
            TestClient client(Settings(), array);
            marl::array::LunInfoList luns{{"vol1", "cg1", "0006b1a2", "", "", ""}};
            marl::array::SessionInfoList sessions;
            EXPECT_EQ(q.run(client, luns, sessions), f.result) << cmd << " " << f.line;
            EXPECT_EQ(luns.size(), 1u);
            EXPECT_EQ(luns.front().peerSn, "");
            EXPECT_TRUE(sessions.empty());
            std::vector<std::string> messages = ProviderMessages(log, q.function);
            if (f.line.empty()) {
                // A transport failure comes back unlogged here.
                EXPECT_EQ(messages, std::vector<std::string>{"TRACE entering"}) << cmd;
            } else {
                bool found = false;
                for (const std::string& m : messages) found |= m.rfind(f.line, 0) == 0;
                EXPECT_TRUE(found) << cmd << ": " << f.line;
            }
        }
    }
}

// One "volsnap_show" per group, each reply read by itself; the first bad
// reply ends the walk. No group: no request at all.
TEST(GetAllQVolSnaps, OneRequestPerGroupUntilABadReply) {
    struct Case {
        const char* secondReply;
        uint32_t result;
        size_t requests;
        size_t snaps;
    };
    const std::string second = OkData(R"({"cg2:S2:v2":{"scsi_sn":"AB02"}})");
    for (const Case& c :
         {Case{second.c_str(), 0, 3, 3}, Case{kRefused, 1, 2, 1}, Case{kNotJson, 1, 2, 1}}) {
        ScriptedArray array;
        array.Reply("volsnap_show", OkData(R"({"cg1:S1:v1":{"scsi_sn":"AB01"}})"));
        array.Reply("volsnap_show", c.secondReply);
        array.Reply("volsnap_show", OkData(R"({"cg3:S3:v3":{"scsi_sn":"AB03"}})"));
        TestClient client(Settings(), array);
        for (const char* g : {"cg1", "cg2", "cg3"}) client.AddGroup(g, std::string("S") + g[2]);
        marl::array::LunInfoList snaps;
        EXPECT_EQ(client.GetAllQVolSnaps(client.set.cgList, snaps), c.result) << c.secondReply;
        EXPECT_EQ(array.calls.size(), c.requests) << c.secondReply;
        ASSERT_EQ(snaps.size(), c.snaps) << c.secondReply;
        EXPECT_EQ(snaps.front().sn, "0000ab01");
        EXPECT_EQ(array.calls[1].args, R"({"snapshot_name": "cg2:S2"})");
    }
    ScriptedArray empty;
    TestClient client(Settings(), empty);
    marl::array::LunInfoList snaps;
    EXPECT_EQ(client.GetAllQVolSnaps(client.set.cgList, snaps), 0u);
    EXPECT_TRUE(empty.http.sent.empty());
}

TEST(DeleteSnapshotLun, Outcomes) {
    struct Case {
        const char* serial;
        std::function<void(ScriptedArray&)> script;
        uint32_t result;
        const char* line;
    };
    const std::vector<Case> cases = {
        {nullptr, nullptr, 0x80042306, "INFO The given scsi sn is empty. Not deleting it"},
        {"", nullptr, 0x80042306, "INFO The given scsi sn is empty. Not deleting it"},
        {"6001abc", nullptr, 0, "INFO sending vss_volsnap_empty request 6001abc"},
        {"6001abc", [](ScriptedArray& a) { a.FailSend("vss_volsnap_empty"); }, kSessionError,
         "ERROR vss_volsnap_empty failed 0x8000401d"},
        {"6001abc", [](ScriptedArray& a) { a.Reply("vss_volsnap_empty", kRefused); }, 1,
         "ERROR vss_volsnap_empty failed"},
        {"6001abc", [](ScriptedArray& a) { a.Reply("vss_volsnap_empty", kNotJson); }, 1,
         "DEBUG could not parse response for vss_volsnap_empty"},
    };
    for (const Case& c : cases) {
        ReplyLogCapture log;
        ScriptedArray array;
        if (c.script) c.script(array);
        TestClient client(Settings(), array);
        EXPECT_EQ(client.deleteSnapshotLun(c.serial), c.result) << c.line;
        EXPECT_TRUE(Logged(log, "CQProvider::deleteSnapshotLun", c.line)) << c.line;
        if (c.serial == nullptr || !*c.serial) {
            EXPECT_TRUE(array.http.sent.empty());
        } else {
            // The request as opened (a failed send never reaches the script).
            std::string path = array.http.openedRequests.at(1);
            path = path.substr(4, path.find(' ', 4) - 4);
            Call call = DecodeExecutePath(path);
            EXPECT_EQ(call.command, "vss_volsnap_empty");
            EXPECT_EQ(call.args, R"({"scsi_sn": "6001abc"})");
        }
    }
}

}  // namespace
