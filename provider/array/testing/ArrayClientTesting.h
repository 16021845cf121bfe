#pragma once
// Test support for the array operations: a scripted array behind the fake
// HTTP backend, answering each command from a script and recording the
// commands with their decoded arguments, and a client whose seams (pause,
// clock, VMware helper) record instead of acting.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "provider/array/CQArrayClient.h"
#include "provider/array/testing/FakeHttpClient.h"
#include "provider/array/testing/ReplyLogCapture.h"

namespace arraytest {

using marl::testing::FakeReply;

constexpr char kLoginOk[] = R"({"key":"LOGIN_SUCCESSFUL","vss_api_version":"4"})";
constexpr char kOk[] = R"({"key":"MC_OK"})";
constexpr char kRefused[] = R"({"key":"MC_REFUSED","info":"refused"})";
constexpr char kNotJson[] = "<html>busy</html>";
constexpr uint32_t kSessionError = 0x8000401D;

// One command as the array received it: its name and the decoded query
// (the JSON object of its arguments, or empty).
struct Call {
    std::string command;
    std::string args;
};

inline int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

inline std::string PercentDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// "/main/services/execute/<command>/<?args=...>" into a Call.
inline Call DecodeExecutePath(const std::string& path) {
    static const std::string prefix = "/main/services/execute/";
    std::string rest = path.substr(prefix.size());
    size_t slash = rest.find('/');
    Call call{rest.substr(0, slash), ""};
    std::string query = slash == std::string::npos ? "" : rest.substr(slash + 1);
    if (query.rfind("?args=", 0) == 0) call.args = PercentDecode(query.substr(6));
    return call;
}

// Every command is answered from its own queue of replies; the last one of a
// queue answers all further requests. A command without a script gets
// {"key":"MC_OK"}.
class ScriptedArray {
  public:
    ScriptedArray() {
        http.respond = [this](const std::string& path, const std::string&) {
            if (path.rfind("/main/services/login/", 0) == 0) return FakeReply{200, kLoginOk};
            if (path.rfind("/main/services/execute/", 0) != 0) return FakeReply{200, ""};
            Call call = DecodeExecutePath(path);
            calls.push_back(call);
            std::deque<FakeReply>& queue = m_script[call.command];
            if (queue.empty()) return FakeReply{200, kOk};
            FakeReply reply = queue.front();
            if (queue.size() > 1) queue.pop_front();
            return reply;
        };
    }

    void Reply(const std::string& command, const std::string& body) {
        m_script[command].push_back(FakeReply{200, body});
    }
    // A status other than 200 on every attempt: the transport gives 1.
    void FailStatus(const std::string& command, uint32_t status = 500) {
        m_script[command].push_back(FakeReply{status, ""});
    }
    // One whole failed exchange (five attempts), then the replies after it.
    void FailExchange(const std::string& command) {
        for (int i = 0; i < 5; ++i) m_script[command].push_back(FakeReply{500, ""});
    }
    // Every exchange of `command` reads its body and then fails on the next
    // read step: the transport gives 1 with the whole body in hand.
    void FailAfterBody(const std::string& command) {
        std::wstring prefix = L"/main/services/execute/";
        for (char c : command) prefix.push_back(static_cast<wchar_t>(c));
        prefix.push_back(L'/');
        http.failures.push_back(
            {marl::testing::HttpStep::kQueryDataAvailable, prefix, 0, 12030, 2});
    }
    // The command request cannot be sent: the transport gives 0x8000401D.
    void FailSend(const std::string& command) {
        std::wstring prefix = L"/main/services/execute/";
        for (char c : command) prefix.push_back(static_cast<wchar_t>(c));
        prefix.push_back(L'/');
        http.failures.push_back({marl::testing::HttpStep::kSend, prefix, 0, 12029});
    }

    std::vector<std::string> Commands() const {
        std::vector<std::string> out;
        for (const Call& c : calls) out.push_back(c.command);
        return out;
    }
    std::vector<std::string> ArgsOf(const std::string& command) const {
        std::vector<std::string> out;
        for (const Call& c : calls) {
            if (c.command == command) out.push_back(c.args);
        }
        return out;
    }

    marl::testing::FakeArray http;
    std::vector<Call> calls;

  private:
    std::map<std::string, std::deque<FakeReply>> m_script;
};

// A command reply with key MC_OK and `data` as its payload.
inline std::string OkData(const std::string& data) {
    return R"({"key":"MC_OK","request":"r","data":)" + data + "}";
}

// Seams that record what the operations would do outside the array.
class RecordingSeams : public marl::array::ArrayClientSeams {
  public:
    std::vector<uint32_t> pauses;
    std::string timestamp = "0305140709";
    std::vector<std::string> helperRuns;

    void PauseBeforeRetry(uint32_t milliseconds) override { pauses.push_back(milliseconds); }
    // An empty timestamp asks the real clock.
    std::string RestoreTimestamp() override {
        return timestamp.empty() ? ArrayClientSeams::RestoreTimestamp() : timestamp;
    }
    void RunHelperScsiRescan() override { helperRuns.push_back("scsi_rescan"); }
    void RunHelperSetRdm(const std::string& serials) override {
        helperRuns.push_back("set_rdm" + serials);
    }
};

// A client over the scripted array with recording seams, and a snapshot set
// for the operations that work on one.
class TestClient : public RecordingSeams, public marl::array::CQArrayClient {
  public:
    TestClient(const ProviderSettings& settings, ScriptedArray& array)
        : marl::array::CQArrayClient(settings, array.http.Factory(), *this) {}

    void AddGroup(const std::string& cg, const std::string& snap, const std::string& session = "",
                  const std::string& repSnap = "") {
        set.cgList.push_back(CgInfo{cg, snap, session, repSnap});
    }
    void AddLun(const std::string& vol, const std::string& sn, const std::string& cg) {
        set.snapInfoList.push_back(SnapInfo{vol, sn, "", cg});
    }

    marl::array::SnapshotSet set;
};

inline ProviderSettings Settings(bool replication = false) {
    ProviderSettings s;
    s.externalIp = "127.0.0.1";
    s.hostName = "host1";
    s.userName = "admin";
    s.password = "secret";
    s.snapPrefix = "backup";
    s.retentionPolicy = "keep7";
    s.replicationMode = replication;
    return s;
}

// The messages of module PROVIDER written under `function`, in order.
inline std::vector<std::string> ProviderMessages(const ReplyLogCapture& log,
                                                 const std::string& function) {
    std::vector<std::string> out;
    for (const LoggedLine& l : log.Lines()) {
        if (l.module == "PROVIDER" && l.function == function)
            out.push_back(l.level + " " + l.message);
    }
    return out;
}

inline bool Logged(const ReplyLogCapture& log, const std::string& function,
                   const std::string& levelAndMessage) {
    for (const std::string& m : ProviderMessages(log, function)) {
        if (m == levelAndMessage) return true;
    }
    return false;
}

}  // namespace arraytest
