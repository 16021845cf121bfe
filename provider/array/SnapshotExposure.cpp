// Snapshot exposure and mapping: the commit's snapshots are invisible to
// hosts, so the set's groups get exposable snapshots, each source LUN learns
// the serials of its snapshot volume, and the snapshot volumes are mapped to
// this host (or its host group) and, on a VMware guest, attached by the
// VMware helper.
#include <new>
#include <stdexcept>

#include "common/QVssLog.h"
#include "provider/array/ArrayReply.h"
#include "provider/array/CQArrayClient.h"
#include "provider/array/ResponseParsers.h"

static constexpr char kLogUnit[] = "QProviderInterface";

using marl::json::JsonNode;

namespace {

constexpr char kExposeSnap[] = "CQProvider::ExposeSnap";

void AppendListItem(std::string& list, const std::string& item) {
    if (!list.empty()) list += ",";
    list += item;
}

}  // namespace

uint32_t marl::array::CQArrayClient::CheckTolerantReply(const char* function, const char* command,
                                                        const std::string& reply) {
    ReplyReading reading =
        ReadReply(function, command, reply, IgnorePayload(), [&](const std::exception&) {
            QVSS_LOG(function, "PROVIDER", QLOG_DEBUG, "could not parse response for %s", command);
        });
    return reading == ReplyReading::kUnreadable ? 1 : 0;
}

uint32_t marl::array::CQArrayClient::ExposeSnap(marl::array::SnapshotSet& set) {
    FuncTrace trace(L"CQProvider::ExposeSnap");
    if (set.snapsExposed == 1) return 0;
    std::string exposable;
    std::string sources;
    for (const CgInfo& cg : set.cgList) {
        // A replicated group's snapshot is the one the replication made; the
        // others were made unexposable at commit.
        bool replicated = !cg.rep_snap_name.empty() && m_settings.replicationMode;
        AppendListItem(sources,
                       replicated ? cg.rep_snap_name : cg.cg_name + ":" + cg.snap_name + "_un");
        AppendListItem(exposable, cg.snap_name);
    }
    QVSS_LOG(kExposeSnap, "PROVIDER", QLOG_INFO, "exposable_snapshot_create: %s, %s",
             exposable.c_str(), sources.c_str());
    std::wstring args = Args({{L"snapshot_names_list", Widen(exposable)},
                              {L"source_names_list", Widen(sources)},
                              {L"retention_policy_name", Widen(m_settings.retentionPolicy)}});
    std::string reply;
    uint32_t hr = SendCommand(kExposeSnap, "exposable_snapshot_create", args, reply);
    if (hr != 0) return hr;
    set.snapsExposed = 1;
    uint32_t result = CheckTolerantReply(kExposeSnap, "exposable_snapshot_create", reply);
    return ExposeReplicatedGroups(set.cgList, result);
}

// Replicated groups' exposed snapshots also take over the source volumes'
// SCSI serials on the array.
uint32_t marl::array::CQArrayClient::ExposeReplicatedGroups(const marl::array::CgInfoList& cgList,
                                                            uint32_t result) {
    QVSS_LOG(kExposeSnap, "PROVIDER", QLOG_DEBUG, "calling set_snapshot_vss_scsi_sn");
    for (const CgInfo& cg : cgList) {
        if (cg.rep_snap_name.empty() || !m_settings.replicationMode) continue;
        QVSS_LOG(kExposeSnap, "PROVIDER", QLOG_DEBUG, "set_snapshot_vss_scsi_sn for %s",
                 cg.rep_snap_name.c_str());
        std::wstring args =
            Args({{L"exposed_snapshot_name", Widen(cg.cg_name + ":" + cg.snap_name)}});
        QVSS_LOG(kExposeSnap, "PROVIDER", QLOG_DEBUG, "sending set_snapshot_vss_scsi_sn request");
        std::string reply;
        uint32_t hr = SendCommand(kExposeSnap, "set_snapshot_vss_scsi_sn", args, reply);
        if (hr != 0) return hr;
        if (CheckTolerantReply(kExposeSnap, "set_snapshot_vss_scsi_sn", reply) != 0) result = 1;
    }
    return result;
}

uint32_t marl::array::CQArrayClient::BuildVolSnapNames(const marl::array::SnapshotSet& set,
                                                       const std::string& serial,
                                                       std::string& volSnapName,
                                                       std::string& cgSnapName) {
    const SnapInfo* info = nullptr;
    for (const SnapInfo& candidate : set.snapInfoList) {
        if (candidate.scsi_sn == serial) {
            info = &candidate;
            break;
        }
    }
    if (info == nullptr) return 1;
    volSnapName = info->cg_name + ":";
    cgSnapName = info->cg_name + ":";
    for (const CgInfo& cg : set.cgList) {
        if (cg.cg_name != info->cg_name) continue;
        volSnapName += cg.snap_name;
        cgSnapName += cg.snap_name;
        break;
    }
    volSnapName += ":" + info->vol_name;
    return 0;
}

uint32_t marl::array::CQArrayClient::GetSnapLunSN(const std::string& volSnapName,
                                                  std::string& targetLunId,
                                                  std::string& peerTargetLunId,
                                                  std::string& volName) {
    static constexpr char kFunction[] = "CQProvider::GetSnapLunSN";
    std::wstring args = Args({{L"volsnap_name", Widen(volSnapName)}, {L"vss_info", L"true"}});
    std::string reply;
    uint32_t hr = SendArrayRequest(L"vss_volsnap_show", args, reply);
    if (hr != 0) return hr;
    QVSS_LOG(kFunction, "PROVIDER", QLOG_TRACE, "vss_volsnap_show returned: %s", reply.c_str());
    marl::array::LunInfoList luns;
    ReplyReading reading = ReadReply(
        kFunction, "vss_volsnap_show", reply,
        [&](const JsonNode& data) { ParseVolShow(data, luns); },
        [&](const std::exception&) {
            QVSS_LOG_FULL(kFunction, "PROVIDER", QLOG_TRACE,
                          "Could not parse response for vss_volsnap_show: %s", reply.c_str());
        });
    if (reading == ReplyReading::kRefused) return 1;
    // The name designates one volume snapshot; anything else is not an answer.
    if (luns.size() != 1) {
        QVSS_LOG(kFunction, "PROVIDER", QLOG_ERROR, "invalid list length: %d",
                 static_cast<int>(luns.size()));
        return 1;
    }
    const LunInfo& lun = luns.front();
    QVSS_LOG(kFunction, "PROVIDER", QLOG_TRACE, "lunInfo: sn=%s, peerSn=%s, volName=%s",
             lun.sn.c_str(), lun.peerSn.c_str(), lun.volName.c_str());
    targetLunId += lun.sn;
    peerTargetLunId += lun.peerSn;
    volName = lun.volName;
    QVSS_LOG(kFunction, "PROVIDER", QLOG_TRACE,
             "GetSnapLunSN returning: targetLunId=%s, peerTargetLunId=%s, volName=%s",
             targetLunId.c_str(), peerTargetLunId.c_str(), volName.c_str());
    return 0;
}

uint32_t marl::array::CQArrayClient::MapSnapshots(const marl::array::NameList& volSnapNames,
                                                  const std::string& scsiSerials) {
    static constexpr char kFunction[] = "CQProvider::MapSnapshots";
    FuncTrace trace(L"CQProvider::MapSnapshots");
    const std::string& hostName = m_settings.hostName;
    bool hostGroup = IsHostGrpName(hostName);
    for (const std::string& name : volSnapNames) {
        uint32_t hr = hostGroup ? VolMapToHostGrp(name, hostName) : VolMap(name, hostName);
        if (hr != 0) return hr;
    }
    QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG, "execute_qvcenter");
    if (m_settings.vmwareVm) {
        QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG, "nxa_vmware_vm %s", "True");
        m_seams.RunHelperScsiRescan();
        m_seams.RunHelperSetRdm(HelperSafeSerials(scsiSerials));
    }
    return 0;
}

namespace {

bool IsLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsLettersAndDigits(const std::string& serial) {
    if (serial.empty()) return false;
    for (char c : serial) {
        if (!IsLetterOrDigit(c)) return false;
    }
    return true;
}

}  // namespace

// The serial list goes onto the helper's command line: a quote or a blank in a
// serial would hand the helper arguments of its own. Only serials of letters
// and digits pass; the list keeps its form (leading blank, "," between).
std::string marl::array::CQArrayClient::HelperSafeSerials(const std::string& scsiSerials) {
    size_t start = scsiSerials.find_first_not_of(' ');
    std::string safe =
        scsiSerials.substr(0, start == std::string::npos ? scsiSerials.size() : start);
    size_t lead = safe.size();
    while (start != std::string::npos && start < scsiSerials.size()) {
        size_t comma = scsiSerials.find(',', start);
        size_t end = comma == std::string::npos ? scsiSerials.size() : comma;
        std::string serial = scsiSerials.substr(start, end - start);
        if (IsLettersAndDigits(serial)) {
            if (safe.size() > lead) safe += ",";
            safe += serial;
        } else if (!serial.empty()) {
            QVSS_LOG("CQProvider::MapSnapshots", "PROVIDER", QLOG_ERROR,
                     "serial '%s' is not letters and digits only; left out of the VMware "
                     "helper's command line",
                     serial.c_str());
        }
        start = comma == std::string::npos ? std::string::npos : comma + 1;
    }
    return safe;
}

uint32_t marl::array::CQArrayClient::VolMap(const std::string& volName,
                                            const std::string& hostName) {
    return MapVolume(volName, hostName, false);
}

uint32_t marl::array::CQArrayClient::VolMapToHostGrp(const std::string& volName,
                                                     const std::string& groupName) {
    return MapVolume(volName, groupName, true);
}

uint32_t marl::array::CQArrayClient::MapVolume(const std::string& volName,
                                               const std::string& target, bool hostGroup) {
    const char* function = hostGroup ? "CQProvider::VolMapToHostGrp" : "CQProvider::VolMap";
    std::wstring args =
        Args({{hostGroup ? L"hostgrp" : L"host", Widen(target)}, {L"snapshot", Widen(volName)}});
    std::string reply;
    uint32_t hr = SendCommand(function, "vol_map", args, reply);
    if (hr != 0) return hr;
    return CheckTolerantReply(function, "vol_map", reply);
}

bool marl::array::CQArrayClient::IsHostGrpName(const std::string& name) {
    static constexpr char kFunction[] = "CQProvider::IsHostGrpName";
    std::wstring args = Args({{L"host_grp_name", Widen(name)}});
    std::string reply;
    uint32_t hr = SendArrayRequest(L"host_grp_show", args, reply);
    if (hr != 0) {
        QVSS_LOG(kFunction, "PROVIDER", QLOG_ERROR, "could not get response for host_grp_show");
        return false;
    }
    bool answer = false;
    ReplyReading reading = ReadReply(
        kFunction, "host_grp_show", reply,
        [&](const JsonNode& data) {
            marl::array::NameList extra;
            answer = ParseHostGrpShow(data, name, extra);
        },
        [&](const std::exception&) {
            QVSS_LOG(kFunction, "PROVIDER", QLOG_INFO,
                     "could not parse response for host_grp_show, %s", reply.c_str());
            answer = false;
        });
    if (reading == ReplyReading::kRefused) return false;
    QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG, "host_grp_show for %s returned %s", name.c_str(),
             reply.c_str());
    return answer;
}
