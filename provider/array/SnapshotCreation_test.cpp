#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "provider/array/testing/ArrayClientTesting.h"

namespace {

using namespace arraytest;

struct Group {
    const char* cg;
    const char* snap;
    const char* session;
};

struct BatchCase {
    const char* label;
    std::vector<Group> groups;
    bool replication;
    std::vector<std::string> calls;  // "command args"
};

std::vector<std::string> CallTexts(const ScriptedArray& array) {
    std::vector<std::string> out;
    for (const Call& c : array.calls) out.push_back(c.command + " " + c.args);
    return out;
}

TEST(TakeSnap, BatchesAndArgumentOrder) {
    const std::string unexp = "unexposable_snapshot_create ";
    const std::string rep = "replication_session_snapshot_create ";
    const std::vector<BatchCase> cases = {
        {"mixed, replication on",
         {{"A", "SA", ""}, {"B", "SB", "S"}},
         true,
         {unexp + R"({"snapshot_names_list": "SA_un","source_names_list": "A",)"
                  R"("retention_policy_name": "keep7","is_application_consistent_list": "true"})",
          rep +
              R"({"replication_session_names_list": "S","is_application_consistent_list": "true"})"}},
        {"mixed, replication off",
         {{"A", "SA", ""}, {"B", "SB", "S"}},
         false,
         {unexp +
          R"({"snapshot_names_list": "SA_un,SB_un","source_names_list": "A,B",)"
          R"("retention_policy_name": "keep7","is_application_consistent_list": "true,true"})"}},
        {"only replicated",
         {{"A", "SA", "S1"}, {"B", "SB", "S2"}},
         true,
         {rep + R"({"replication_session_names_list": "S1,S2",)"
                R"("is_application_consistent_list": "true,true"})"}},
        {"three plain groups",
         {{"A", "SA", ""}, {"B", "SB", ""}, {"C", "SC", ""}},
         false,
         {unexp + R"({"snapshot_names_list": "SA_un,SB_un,SC_un","source_names_list": "A,B,C",)"
                  R"("retention_policy_name": "keep7",)"
                  R"("is_application_consistent_list": "true,true,true"})"}},
        {"no group", {}, true, {}},
    };
    for (const BatchCase& c : cases) {
        ScriptedArray array;
        array.Reply("replication_session_snapshot_create",
                    OkData(R"({"snapshot_names_list":["R1","R2"]})"));
        TestClient client(Settings(c.replication), array);
        for (const Group& g : c.groups) client.AddGroup(g.cg, g.snap, g.session);
        EXPECT_EQ(client.TakeSnap(client.set.cgList), 0u) << c.label;
        EXPECT_EQ(CallTexts(array), c.calls) << c.label;
    }
}

std::vector<std::string> RepSnapNames(const TestClient& client) {
    std::vector<std::string> out;
    for (const CgInfo& cg : client.set.cgList) out.push_back(cg.rep_snap_name);
    return out;
}

// The n-th name answers the n-th session sent, whatever plain groups lie
// between the replicated ones.
TEST(TakeSnap, ReplicationNamesPairWithReplicatedGroups) {
    struct Case {
        const char* names;
        std::vector<std::string> stored;
    };
    const std::vector<Case> cases = {
        {R"(["R1","R2"])", {"", "R1", "", "R2"}},
        {R"(["R1"])", {"", "R1", "", ""}},
        {R"(["R1","R2","R3"])", {"", "R1", "", "R2"}},
        {R"([])", {"", "", "", ""}},
    };
    for (const Case& c : cases) {
        ScriptedArray array;
        array.Reply("replication_session_snapshot_create",
                    OkData(std::string(R"({"snapshot_names_list":)") + c.names + "}"));
        TestClient client(Settings(true), array);
        client.AddGroup("A", "SA", "");
        client.AddGroup("B", "SB", "S1");
        client.AddGroup("C", "SC", "");
        client.AddGroup("D", "SD", "S2");
        EXPECT_EQ(client.TakeSnap(client.set.cgList), 0u) << c.names;
        EXPECT_EQ(RepSnapNames(client), c.stored) << c.names;
    }
}

struct FailureCase {
    const char* label;
    std::function<void(ScriptedArray&)> script;
    uint32_t result;
    std::vector<std::string> commands;
    const char* line;  // logged by TakeSnap
};

TEST(TakeSnap, FailuresPerStep) {
    const std::string unexp = "unexposable_snapshot_create";
    const std::string rep = "replication_session_snapshot_create";
    const std::vector<FailureCase> cases = {
        {"unexposable transport",
         [&](ScriptedArray& a) { a.FailSend(unexp); },
         kSessionError,
         {},
         "ERROR unexposable_snapshot_create failed 0x8000401d"},
        {"unexposable refused",
         [&](ScriptedArray& a) { a.Reply(unexp, kRefused); },
         1,
         {unexp, rep},
         "ERROR unexposable_snapshot_create failed"},
        {"unexposable not JSON",
         [&](ScriptedArray& a) { a.Reply(unexp, kNotJson); },
         1,
         {unexp, rep},
         "DEBUG could not parse response for unexposable_snapshot_create"},
        {"replication transport",
         [&](ScriptedArray& a) { a.FailSend(rep); },
         kSessionError,
         {unexp},
         "ERROR replication_session_snapshot_create failed 0x8000401d"},
        {"replication refused",
         [&](ScriptedArray& a) { a.Reply(rep, kRefused); },
         1,
         {unexp, rep},
         "ERROR replication_session_snapshot_create failed"},
        {"replication not JSON",
         [&](ScriptedArray& a) { a.Reply(rep, kNotJson); },
         1,
         {unexp, rep},
         "DEBUG could not parse response for replication_session_snapshot_create"},
        {"replication names nested",
         [&](ScriptedArray& a) {
             a.Reply(rep, OkData(R"({"data":{"snapshot_names_list":["R1"]}})"));
         },
         1,
         {unexp, rep},
         "ERROR parsing replication_session_snapshot_create response failed"},
    };
    for (const FailureCase& c : cases) {
        ReplyLogCapture log;
        ScriptedArray array;
        c.script(array);
        TestClient client(Settings(true), array);
        client.AddGroup("A", "SA", "");
        client.AddGroup("B", "SB", "S1");
        EXPECT_EQ(client.TakeSnap(client.set.cgList), c.result) << c.label;
        std::vector<std::string> commands;
        for (const std::string& cmd : array.Commands()) {
            if (commands.empty() || commands.back() != cmd) commands.push_back(cmd);
        }
        EXPECT_EQ(commands, c.commands) << c.label;
        EXPECT_TRUE(Logged(log, "CQProvider::TakeSnap", c.line)) << c.label;
    }
}

struct PrepareCase {
    const char* label;
    std::function<void(ScriptedArray&)> script;
    uint32_t result;
    size_t exchanges;
    size_t requests;  // command requests on the wire (five attempts per failed exchange)
    std::vector<std::string> retryLines;
};

TEST(PrepareForSnap, RetriesWhileNoReplyReportsSuccess) {
    const std::string cmd = "vss_prepare_for_snapshot";
    const std::string again = "TRACE hr=0x00000001, Let's try again in 1 second. try ";
    const std::vector<PrepareCase> cases = {
        {"first succeeds", nullptr, 0, 1, 1, {}},
        {"refused with status 200 is not looked at",
         [&](ScriptedArray& a) { a.Reply(cmd, kRefused); },
         0,
         1,
         1,
         {}},
        {"fails three times",
         [&](ScriptedArray& a) { a.FailStatus(cmd); },
         1,
         3,
         15,
         {again + "0", again + "1"}},
        {"fails once, then succeeds",
         [&](ScriptedArray& a) {
             a.FailExchange(cmd);
             a.Reply(cmd, kOk);
         },
         0,
         2,
         6,
         {again + "0"}},
        {"failed exchange whose reply says success",
         [&](ScriptedArray& a) {
             a.FailAfterBody(cmd);
             a.Reply(cmd, kOk);
         },
         1,
         1,
         5,
         {}},
        {"failed exchange whose reply refuses",
         [&](ScriptedArray& a) {
             a.FailAfterBody(cmd);
             a.Reply(cmd, kRefused);
         },
         1,
         3,
         15,
         {again + "0", again + "1"}},
        {"failed exchange whose reply is not JSON",
         [&](ScriptedArray& a) {
             a.FailAfterBody(cmd);
             a.Reply(cmd, kNotJson);
         },
         1,
         3,
         15,
         {again + "0", again + "1"}},
    };
    for (const PrepareCase& c : cases) {
        ReplyLogCapture log;
        ScriptedArray array;
        if (c.script) c.script(array);
        TestClient client(Settings(), array);
        EXPECT_EQ(client.PrepareForSnap(), c.result) << c.label;
        EXPECT_EQ(array.calls.size(), c.requests) << c.label;
        EXPECT_EQ(client.pauses, std::vector<uint32_t>(c.exchanges - 1, 1000)) << c.label;
        EXPECT_EQ(ProviderMessages(log, "CQProvider::PrepareForSnap"), c.retryLines) << c.label;
        EXPECT_EQ(array.ArgsOf(cmd).front(), "") << c.label;
    }
}

struct FullCase {
    const char* label;
    std::vector<std::string> setVolumes;
    std::vector<std::pair<std::string, std::string>> groups;  // name, vg_show data
    uint32_t result;
    const char* line;  // under CheckCGSetFull, or GetCGVolNames for "!" lines
};

std::string VgShow(const std::string& cg, const std::string& vols) {
    return OkData("{\"" + cg + "\":{\"vols\":" + vols + "}}");
}

TEST(CheckCGSetFull, EveryGroupVolumeMustBeInTheSet) {
    const std::vector<FullCase> cases = {
        {"complete group",
         {"X", "Y"},
         {{"G", VgShow("G", R"([["X"],["Y"]])")}},
         0,
         "TRACE returning 0x00000000"},
        {"missing volume",
         {"X"},
         {{"G", VgShow("G", R"([["X"],["Y"]])")}},
         1,
         "INFO Non-full CG found. missing Y"},
        {"second group incomplete",
         {"X", "Z"},
         {{"G", VgShow("G", R"([["X"]])")}, {"H", VgShow("H", R"([["Z"],["W"]])")}},
         1,
         "INFO Non-full CG found. missing W"},
        {"no group", {"X"}, {}, 1, "INFO Non-full CG found"},
        {"group without volumes", {"X"}, {{"G", VgShow("G", "[]")}}, 1, "INFO Non-full CG found"},
        {"names compared exactly",
         {"x"},
         {{"G", VgShow("G", R"([["X"]])")}},
         1,
         "INFO Non-full CG found. missing X"},
        {"group refused", {"X"}, {{"G", kRefused}}, 1, "!ERROR vg_show failed"},
        {"group reply not JSON",
         {"X"},
         {{"G", kNotJson}},
         1,
         "!DEBUG could not parse response for vg-show:invalid_argument: "},
    };
    for (const FullCase& c : cases) {
        ReplyLogCapture log;
        ScriptedArray array;
        TestClient client(Settings(), array);
        for (const std::string& v : c.setVolumes) client.AddLun(v, "sn" + v, "G");
        for (const auto& g : c.groups) {
            client.AddGroup(g.first, "S" + g.first);
            array.Reply("vg_show", g.second);
        }
        EXPECT_EQ(client.CheckCGSetFull(client.set), c.result) << c.label;
        std::string line = c.line;
        const char* function = "CQProvider::CheckCGSetFull";
        if (line[0] == '!') {
            line = line.substr(1);
            function = "CQProvider::GetCGVolNames";
        }
        bool found = false;
        for (const std::string& m : ProviderMessages(log, function)) found |= m.rfind(line, 0) == 0;
        EXPECT_TRUE(found) << c.label << ": " << line;
    }
}

TEST(GetCGVolNames, ReplyIsReadEvenAfterAFailedExchange) {
    ReplyLogCapture log;
    ScriptedArray array;
    array.FailAfterBody("vg_show");
    array.Reply("vg_show", VgShow("G", R"([["X"],["Y"]])"));
    TestClient client(Settings(), array);
    marl::array::NameList names;
    EXPECT_EQ(client.GetCGVolNames("G", names), 1u);
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.end()),
              (std::vector<std::string>{"X", "Y"}));
    const std::vector<std::string> messages = ProviderMessages(log, "CQProvider::GetCGVolNames");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].rfind("DEBUG could not parse response for vg-show, {", 0), 0u);
    EXPECT_EQ(messages[1].rfind("DEBUG vg_show for G returned {", 0), 0u);
    EXPECT_NE(messages[1].find(", returning 0x00000001"), std::string::npos);
}

}  // namespace
