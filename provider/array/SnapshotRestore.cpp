// Snapshot restore: whole consistency groups are restored on the array from
// snapshots, keeping a "VSS_TMP_" snapshot of each group's state before.
//
// VSS knows the exposable snapshot; the array restores from the snapshot it
// was made from, so each restore first asks the array for that source.
#include <new>
#include <stdexcept>

#include "common/QVssLog.h"
#include "provider/array/ArrayReply.h"
#include "provider/array/CQArrayClient.h"
#include "provider/array/ResponseParsers.h"

static constexpr char kLogUnit[] = "QProviderInterface";

using marl::json::JsonNode;

uint32_t marl::array::CQArrayClient::SnapsRestore(const marl::array::NameList& cgList,
                                                  const marl::array::NameList& snapList) {
    static constexpr char kFunction[] = "CQProvider::SnapsRestore";
    if (cgList.size() != snapList.size()) {
        QVSS_LOG(kFunction, "PROVIDER", QLOG_ERROR,
                 "mismatch list lengths cgList %d nxaSnapVolList %d ",
                 static_cast<int>(cgList.size()), static_cast<int>(snapList.size()));
        return 1;
    }
    auto snap = snapList.begin();
    for (const std::string& cg : cgList) {
        QVSS_LOG(kFunction, "PROVIDER", QLOG_INFO, "Calling SnapRestore(cg=%s, snap=%s)",
                 cg.c_str(), snap->c_str());
        uint32_t hr = SnapRestore(cg, *snap);
        QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG, "SnapRestore returned %d",
                 static_cast<int>(hr));
        // Groups restored before a failure stay restored: the array has no
        // way back short of restoring their VSS_TMP_ snapshots.
        if (hr != 0) return hr;
        ++snap;
    }
    return 0;
}

// The snapshot VSS knows was made from another one (the commit's); the
// restore takes that source when the array names one, else the snapshot.
uint32_t marl::array::CQArrayClient::FindRestoreSource(const std::string& cgName,
                                                       const std::string& snapName,
                                                       std::string& source) {
    static constexpr char kFunction[] = "CQProvider::SnapRestore";
    std::string reply;
    uint32_t hr =
        SendArrayRequest(L"snapshot_show", Args({{L"snapshot_name", Widen(snapName)}}), reply);
    if (hr != 0) return hr;
    ReplyReading reading = ReadReply(
        kFunction, "snapshot_show", reply,
        [&](const JsonNode& data) { ParseSnapShowForSource(data, cgName, source); },
        [&](const std::exception&) {
            QVSS_LOG_FULL(kFunction, "PROVIDER", QLOG_TRACE,
                          "Could not parse response for snapshot_show: %s", reply.c_str());
        });
    if (reading == ReplyReading::kRefused) return 1;
    if (source.empty()) {
        source = snapName;
        QVSS_LOG(kFunction, "PROVIDER", QLOG_INFO, "didn't find source. using given snap %s",
                 source.c_str());
    }
    return 0;
}

uint32_t marl::array::CQArrayClient::SnapRestore(const std::string& cgName,
                                                 const std::string& snapName) {
    static constexpr char kFunction[] = "CQProvider::SnapRestore";
    std::string preRestoreName = "VSS_TMP_" + m_seams.RestoreTimestamp();
    std::string source;
    uint32_t hr = FindRestoreSource(cgName, snapName, source);
    if (hr != 0) return hr;
    std::wstring args = Args({{L"vg_name", Widen(cgName)},
                              {L"snapshot_name", Widen(source)},
                              {L"pre_restore_snapshot_name", Widen(preRestoreName)}});
    std::string reply;
    hr = SendCommand(kFunction, "vols_restore", args, reply);
    if (hr != 0) return hr;
    ReplyReading reading =
        ReadReply(kFunction, "vols_restore", reply, IgnorePayload(), [&](const std::exception&) {
            QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG,
                     "could not parse response for vols_restore");
        });
    return reading == ReplyReading::kAccepted ? 0 : 1;
}
