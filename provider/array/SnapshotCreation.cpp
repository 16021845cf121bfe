// Snapshot creation: the completeness check of the set's consistency groups,
// the array's preparation, and the batch requests that take one snapshot per
// group at commit.
//
// The array snapshots whole groups, while VSS hands us single LUNs; a group
// with a volume outside the set would be snapshotted inconsistently, hence
// CheckCGSetFull before anything is created.
#include <new>
#include <stdexcept>

#include "common/QVssLog.h"
#include "provider/array/ArrayReply.h"
#include "provider/array/CQArrayClient.h"
#include "provider/array/ResponseParsers.h"

static constexpr char kLogUnit[] = "QProviderInterface";

using marl::json::JsonNode;

namespace {

constexpr char kTakeSnap[] = "CQProvider::TakeSnap";
constexpr int kPrepareRetries = 2;
constexpr uint32_t kPrepareRetryPauseMs = 1000;

// Lists sent to the array are joined with "," and no blanks.
void AppendListItem(std::string& list, const std::string& item) {
    if (!list.empty()) list += ",";
    list += item;
}

}  // namespace

// The argument lists of TakeSnap's two requests, gathered from the set's groups.
struct marl::array::CQArrayClient::SnapBatches {
    std::string snapNames;            // unexposable snapshots: "<snap_name>_un",...
    std::string sourceNames;          // their groups
    std::string consistent;           // "true" per unexposable snapshot
    std::string sessionNames;         // replication sessions of replicated groups
    std::string sessionConsistent;    // "true" per session
    std::string replicatedSnapNames;  // for the log line only
    std::string replicatedCgNames;    // for the log line only
};

bool marl::array::CQArrayClient::IsReplicatedEntry(const CgInfo& cg) const {
    return !cg.rep_session_name.empty() && m_settings.replicationMode;
}

uint32_t marl::array::CQArrayClient::TakeSnap(marl::array::CgInfoList& cgList) {
    FuncTrace trace(L"CQProvider::TakeSnap");
    QVSS_LOG(kTakeSnap, "PROVIDER", QLOG_INFO, "TakeRegularSnap");
    SnapBatches batches;
    for (const CgInfo& cg : cgList) {
        if (IsReplicatedEntry(cg)) {
            AppendListItem(batches.sessionNames, cg.rep_session_name);
            AppendListItem(batches.sessionConsistent, "true");
            AppendListItem(batches.replicatedSnapNames, cg.snap_name + "_un");
            AppendListItem(batches.replicatedCgNames, cg.cg_name);
        } else {
            AppendListItem(batches.snapNames, cg.snap_name + "_un");
            AppendListItem(batches.sourceNames, cg.cg_name);
            AppendListItem(batches.consistent, "true");
        }
    }
    uint32_t result = 0;
    if (!batches.snapNames.empty()) {
        uint32_t hr = CreateUnexposableSnapshots(batches, result);
        if (hr != 0) return hr;
    }
    if (!batches.sessionNames.empty()) {
        uint32_t hr = CreateReplicationSnapshots(cgList, batches, result);
        if (hr != 0) return hr;
    }
    return result;
}

// Returns the transport's code (and then nothing else may be tried); the
// array's verdict goes into `result`.
uint32_t marl::array::CQArrayClient::CreateUnexposableSnapshots(const SnapBatches& b,
                                                                uint32_t& result) {
    QVSS_LOG(kTakeSnap, "PROVIDER", QLOG_INFO, "unexposable_snapshot_create: %s, %s",
             b.snapNames.c_str(), b.sourceNames.c_str());
    std::wstring args = Args({{L"snapshot_names_list", Widen(b.snapNames)},
                              {L"source_names_list", Widen(b.sourceNames)},
                              {L"retention_policy_name", Widen(m_settings.retentionPolicy)},
                              {L"is_application_consistent_list", Widen(b.consistent)}});
    std::string reply;
    uint32_t hr = SendCommand(kTakeSnap, "unexposable_snapshot_create", args, reply);
    if (hr != 0) return hr;
    // A reply we cannot read does not tell us the snapshots exist; going on
    // as if it did would commit a set that may have no snapshots.
    ReplyReading reading =
        ReadReply(kTakeSnap, "unexposable_snapshot_create", reply, IgnorePayload(),
                  [&](const std::exception&) {
                      QVSS_LOG(kTakeSnap, "PROVIDER", QLOG_DEBUG,
                               "could not parse response for unexposable_snapshot_create");
                  });
    if (reading != ReplyReading::kAccepted) result = 1;
    return 0;
}

uint32_t marl::array::CQArrayClient::CreateReplicationSnapshots(marl::array::CgInfoList& cgList,
                                                                const SnapBatches& b,
                                                                uint32_t& result) {
    QVSS_LOG(kTakeSnap, "PROVIDER", QLOG_INFO, "replication_session_snapshot_create: %s, %s",
             b.replicatedSnapNames.c_str(), b.replicatedCgNames.c_str());
    std::wstring args = Args({{L"replication_session_names_list", Widen(b.sessionNames)},
                              {L"is_application_consistent_list", Widen(b.sessionConsistent)}});
    std::string reply;
    uint32_t hr = SendCommand(kTakeSnap, "replication_session_snapshot_create", args, reply);
    if (hr != 0) return hr;
    try {
        ReadReplicationReply(cgList, reply, result);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        // Without the reply the replicated snapshots have no names, and the
        // exposure could not find them; the commit must not pass.
        QVSS_LOG(kTakeSnap, "PROVIDER", QLOG_DEBUG,
                 "could not parse response for replication_session_snapshot_create");
        result = 1;
    }
    return 0;
}

// Throws what the JSON parser throws for a reply that is not JSON.
void marl::array::CQArrayClient::ReadReplicationReply(marl::array::CgInfoList& cgList,
                                                      const std::string& reply, uint32_t& result) {
    QVSS_LOG(kTakeSnap, "PROVIDER", QLOG_DEBUG,
             "parsing replication_session_snapshot_create response: %s", reply.c_str());
    JsonNode data;
    if (ReplyFailed(reply, data)) {
        QVSS_LOG(kTakeSnap, "PROVIDER", QLOG_ERROR, "replication_session_snapshot_create failed");
        result = 1;
    }
    QVSS_LOG(kTakeSnap, "PROVIDER", QLOG_DEBUG,
             "parsing replication_session_snapshot_create response: %s", reply.c_str());
    marl::array::NameList names;
    if (ParseReplicationSnapCreateResponse(data, names)) {
        QVSS_LOG(kTakeSnap, "PROVIDER", QLOG_ERROR,
                 "parsing replication_session_snapshot_create response failed");
        result = 1;
    }
    StoreReplicationSnapNames(cgList, names);
}

// The array answers with one name per session sent, in the order sent; the
// sessions were those of the replicated entries, so the n-th name belongs to
// the n-th replicated entry.
void marl::array::CQArrayClient::StoreReplicationSnapNames(marl::array::CgInfoList& cgList,
                                                           const marl::array::NameList& names) {
    auto name = names.begin();
    for (CgInfo& cg : cgList) {
        if (name == names.end()) break;
        if (!IsReplicatedEntry(cg)) continue;
        cg.rep_snap_name = *name++;
        QVSS_LOG(kTakeSnap, "PROVIDER", QLOG_TRACE, "rep_snap_name %s of cg %s",
                 cg.rep_snap_name.c_str(), cg.cg_name.c_str());
    }
}

uint32_t marl::array::CQArrayClient::PrepareForSnap() {
    FuncTrace trace(L"CQProvider::PrepareForSnap");
    std::string reply;
    uint32_t hr = SendArrayRequest(L"vss_prepare_for_snapshot", L"", reply);
    for (int retry = 0; hr != 0 && retry < kPrepareRetries; ++retry) {
        if (PrepareReplyReportsSuccess(reply)) break;
        QVSS_LOG("CQProvider::PrepareForSnap", "PROVIDER", QLOG_TRACE,
                 "hr=0x%08x, Let's try again in 1 second. try %d", hr, retry);
        m_seams.PauseBeforeRetry(kPrepareRetryPauseMs);
        reply.clear();
        hr = SendArrayRequest(L"vss_prepare_for_snapshot", L"", reply);
    }
    return hr;
}

// A reply that is not JSON says nothing about success: the retry goes on.
bool marl::array::CQArrayClient::PrepareReplyReportsSuccess(const std::string& reply) {
    try {
        JsonNode data;
        return !ReplyFailed(reply, data);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        return false;
    }
}

uint32_t marl::array::CQArrayClient::CheckCGSetFull(const marl::array::SnapshotSet& set) {
    static constexpr char kFunction[] = "CQProvider::CheckCGSetFull";
    FuncTrace trace(L"CQProvider::CheckCGSetFull");
    marl::array::NameList setVolNames;
    for (const SnapInfo& info : set.snapInfoList) setVolNames.push_back(info.vol_name);
    QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG, "volNamesList length = %d",
             static_cast<int>(setVolNames.size()));
    QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG, "cg_list length = %d",
             static_cast<int>(set.cgList.size()));
    bool found = false;
    for (const CgInfo& cg : set.cgList) {
        marl::array::NameList cgVolNames;
        uint32_t hr = GetCGVolNames(cg.cg_name, cgVolNames);
        if (hr != 0) return hr;
        QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG, "cg %s cg_vol_names_list length = %d",
                 cg.cg_name.c_str(), static_cast<int>(cgVolNames.size()));
        for (const std::string& cgVolName : cgVolNames) {
            found = false;
            for (const std::string& volName : setVolNames) {
                QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG, "cg_vol_name = %s, vol_name = %s",
                         cgVolName.c_str(), volName.c_str());
                if (cgVolName == volName) found = true;
            }
            if (!found) {
                QVSS_LOG(kFunction, "PROVIDER", QLOG_INFO, "Non-full CG found. missing %s",
                         cgVolName.c_str());
                return 1;
            }
        }
    }
    if (found) {
        QVSS_LOG(kFunction, "PROVIDER", QLOG_TRACE, "returning 0x%08x", 0u);
        return 0;
    }
    QVSS_LOG(kFunction, "PROVIDER", QLOG_INFO, "Non-full CG found");
    return 1;
}

uint32_t marl::array::CQArrayClient::GetCGVolNames(const std::string& cgName,
                                                   marl::array::NameList& volNames) {
    static constexpr char kFunction[] = "CQProvider::GetCGVolNames";
    std::wstring args = Args({{L"vg_name", Widen(cgName)}});
    std::string reply;
    // The reply is read even after a transport failure; its code is what is
    // returned unless reading the reply decides otherwise.
    uint32_t hr = SendArrayRequest(L"vg_show", args, reply);
    ReplyReading reading = ReadReply(
        kFunction, "vg_show", reply,
        [&](const JsonNode& data) { ParseCGShow(data, cgName, volNames); },
        [&](const std::exception& e) {
            if (dynamic_cast<const std::invalid_argument*>(&e) != nullptr) {
                QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG,
                         "could not parse response for vg-show:invalid_argument: %s", e.what());
                hr = 1;
                return;
            }
            // The walk of the group's volume list ends this way after its
            // last element; the names gathered stand.
            QVSS_LOG_FULL(kFunction, "PROVIDER", QLOG_DEBUG,
                          "could not parse response for vg-show, %s", reply.c_str());
        });
    if (reading == ReplyReading::kRefused) return 1;
    QVSS_LOG_FULL(kFunction, "PROVIDER", QLOG_DEBUG, "vg_show for %s returned %s, returning 0x%08x",
                  cgName.c_str(), reply.c_str(), hr);
    return hr;
}
