// Inventory queries and lookups: which array volume stands behind a LUN,
// which replication session serves a group, what snapshots exist; and the
// registration of a group in the snapshot set with its snapshot name.
#include <new>
#include <stdexcept>

#include "common/QVssLog.h"
#include "provider/array/ArrayReply.h"
#include "provider/array/CQArrayClient.h"
#include "provider/array/ResponseParsers.h"

static constexpr char kLogUnit[] = "QProviderInterface";

using marl::json::JsonNode;

namespace {

constexpr uint32_t kVssProviderVeto = 0x80042306;

// Room in a snapshot name: "VSS_" + prefix + "_" + suffix + "_un" (the
// unexposable snapshot's ending) within 32 characters.
constexpr int kMaxSnapNameWithEnding = 32;
constexpr int kSnapNameFixedCharacters = 4 + 1 + 3;

}  // namespace

// The three listing queries differ only in these texts and their parser.
struct marl::array::CQArrayClient::ListingQuery {
    const char* function;
    const wchar_t* traceName;
    const wchar_t* command;
    const char* commandName;  // "<command> failed" when the array refuses
    const char* parserLine;
    const char* invalidArgumentLine;
    const char* otherErrorLine;
};

void marl::array::CQArrayClient::LogRefusedReply(const char* function, const char* command) {
    QVSS_LOG(function, "PROVIDER", QLOG_ERROR, "%s failed", command);
}

uint32_t marl::array::CQArrayClient::SendCommand(const char* function, const char* command,
                                                 const std::wstring& args, std::string& reply) {
    uint32_t hr = SendArrayRequest(Widen(command), args, reply);
    if (hr != 0) QVSS_LOG(function, "PROVIDER", QLOG_ERROR, "%s failed 0x%08x", command, hr);
    return hr;
}

uint32_t marl::array::CQArrayClient::RunListingQuery(
    const ListingQuery& q, const std::function<void(const JsonNode&)>& parse) {
    FuncTrace trace(q.traceName);
    QVSS_LOG(q.function, "PROVIDER", QLOG_TRACE, "entering");
    std::string respStr;
    uint32_t hr = SendArrayRequest(q.command, L"", respStr);
    if (hr != 0) return hr;
    QVSS_LOG_FULL(q.function, "PROVIDER", QLOG_TRACE, "Call parse: %s", respStr.c_str());
    ReplyReading reading = ReadReply(
        q.function, q.commandName, respStr,
        [&](const JsonNode& data) {
            // The number identifies nothing in particular; the payload's size
            // is the most useful thing to print.
            QVSS_LOG(q.function, "PROVIDER", QLOG_TRACE, q.parserLine,
                     static_cast<int>(data.Size()));
            parse(data);
        },
        [&](const std::exception& e) {
            if (dynamic_cast<const std::invalid_argument*>(&e) != nullptr) {
                QVSS_LOG(q.function, "PROVIDER", QLOG_DEBUG, q.invalidArgumentLine, e.what());
            } else {
                QVSS_LOG_FULL(q.function, "PROVIDER", QLOG_DEBUG, q.otherErrorLine,
                              respStr.c_str());
            }
        });
    if (reading == ReplyReading::kRefused) return 1;
    if (reading == ReplyReading::kUnreadable) hr = 1;
    QVSS_LOG(q.function, "PROVIDER", QLOG_TRACE, "returning 0x%08x", hr);
    return hr;
}

uint32_t marl::array::CQArrayClient::GetAllQLuns(marl::array::LunInfoList& luns) {
    static const ListingQuery query{"CQProvider::GetAllQLuns",
                                    L"CQProvider::GetAllQLuns",
                                    L"vol_show",
                                    "vol_show",
                                    "Call ParseVolShow: %d",
                                    "could not parse response for vol-show: invalid_argument %s",
                                    "could not parse response for vol-show: %s"};
    return RunListingQuery(query, [&luns](const JsonNode& data) { ParseVolShow(data, luns); });
}

uint32_t marl::array::CQArrayClient::GetAllQLunsReplicas(marl::array::LunInfoList& luns) {
    static const ListingQuery query{
        "CQProvider::GetAllQLunsReplicas",
        L"CQProvider::GetAllQLunsReplicas",
        L"replication_volume_show",
        "replication_volume_show",
        "Call ParseRepVolShow: %d",
        "could not parse response for replication_volume_show: invalid_argument %s",
        "could not parse response for replication_volume_show: %s"};
    return RunListingQuery(query, [&luns](const JsonNode& data) { ParseRepVolShow(data, luns); });
}

uint32_t marl::array::CQArrayClient::GetAllQReplicationSessions(
    marl::array::SessionInfoList& sessions) {
    static const ListingQuery query{
        "CQProvider::GetAllQReplicationSessions",
        L"CQProvider::GetAllQReplicationSessions",
        L"replication_session_show",
        "replication_session_show",
        "Call ParseRepSessionShow: %d",
        "could not parse response for replication_session_show: invalid_argument %s",
        "could not parse response for replication_session_show: %s"};
    return RunListingQuery(
        query, [&sessions](const JsonNode& data) { ParseRepSessionShow(data, sessions); });
}

uint32_t marl::array::CQArrayClient::GetAllQVolSnaps(const marl::array::CgInfoList& cgList,
                                                     marl::array::LunInfoList& volSnaps) {
    static constexpr char kFunction[] = "CQProvider::GetAllQVolSnaps";
    FuncTrace trace(L"CQProvider::GetAllQVolSnaps");
    uint32_t hr = 0;
    for (const CgInfo& cg : cgList) {
        std::string cgSnapName = cg.cg_name + ":" + cg.snap_name;
        std::wstring args = Args({{L"snapshot_name", Widen(cgSnapName)}});
        // Each group's reply is read by itself: a text of its own per request.
        std::string reply;
        hr = SendArrayRequest(L"volsnap_show", args, reply);
        if (hr != 0) return hr;
        QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG,
                 "volsnap_show returned with result len = ('%d')", static_cast<int>(reply.size()));
        ReplyReading reading = ReadReply(
            kFunction, "volsnap_show", reply,
            [&](const JsonNode& data) { ParseVolShow(data, volSnaps); },
            [&](const std::exception&) {
                QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG,
                         "could not parse response for vol-show");
            });
        if (reading == ReplyReading::kRefused) return 1;
        if (reading == ReplyReading::kUnreadable) {
            hr = 1;
            break;
        }
    }
    QVSS_LOG(kFunction, "PROVIDER", QLOG_TRACE, "returning 0x%08x", hr);
    return hr;
}

// The serials of every volume snapshot, for the look-ups by serial
// (VolSnapLookup.cpp).
uint32_t marl::array::CQArrayClient::GetVolSnapSerialIndex(VolSnapSerialIndex& index) {
    static const ListingQuery query{
        "CQProvider::GetVolSnapSerialIndex",
        L"CQProvider::GetVolSnapSerialIndex",
        L"volsnap_show",
        "volsnap_show",
        "Call ParseVolSnapSerials: %d",
        "could not parse response for volsnap_show: invalid_argument %s",
        "could not parse response for volsnap_show: %s"};
    return RunListingQuery(query,
                           [&index](const JsonNode& data) { ParseVolSnapSerials(data, index); });
}

LunInfo* marl::array::CQArrayClient::FindQLunBySn(marl::array::LunInfoList& luns,
                                                  const std::string& serial) {
    for (LunInfo& lun : luns) {
        if (lun.sn != serial) continue;
        QVSS_LOG("CQProvider::FindQLunBySn", "PROVIDER", QLOG_DEBUG,
                 "Found volume %s with scsi-sn (%s).", lun.volName.c_str(), serial.c_str());
        return &lun;
    }
    QVSS_LOG("CQProvider::FindQLunBySn", "PROVIDER", QLOG_DEBUG,
             "no volume found for scsi-sn (%s).", serial.c_str());
    return nullptr;
}

LunInfo* marl::array::CQArrayClient::FindQLunByRepSn(marl::array::LunInfoList& luns,
                                                     const std::string& serial) {
    static constexpr char kFunction[] = "CQProvider::FindQLunByRepSn";
    for (LunInfo& lun : luns) {
        if (lun.peerSn != serial) continue;
        QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG, "Found peer-volume %s with scsi-sn (%s).",
                 lun.volName.c_str(), serial.c_str());
        QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG, "replacing scsi-sn (%s) with scsi-sn (%s).",
                 serial.c_str(), lun.sn.c_str());
        return &lun;
    }
    QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG, "no volume found for scsi-sn (%s).",
             serial.c_str());
    return nullptr;
}

SessionInfo* marl::array::CQArrayClient::FindQRepSessionByCg(marl::array::SessionInfoList& sessions,
                                                             const std::string& cgName) {
    static constexpr char kFunction[] = "CQProvider::FindQRepSessionByCg";
    SessionInfo* candidate = nullptr;
    for (SessionInfo& session : sessions) {
        if (session.cgName != cgName) continue;
        candidate = &session;
        QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG, "Found repSession %s with cg name (%s).",
                 session.sessionName.c_str(), cgName.c_str());
        if (session.type == "async") {
            QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG, "session %s is async type. using it.",
                     session.sessionName.c_str());
            return &session;
        }
        QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG, "session %s is not async type",
                 session.sessionName.c_str());
    }
    if (candidate != nullptr) {
        QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG, "didn't find async type session. using %s",
                 candidate->sessionName.c_str());
    } else {
        QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG, "no rep session found for cg (%s).",
                 cgName.c_str());
    }
    return candidate;
}

void marl::array::CQArrayClient::AddCGGroupNameToList(marl::array::CgInfoList& cgList,
                                                      std::string cgName,
                                                      std::string repSessionName,
                                                      std::string suffix) {
    static constexpr char kFunction[] = "CQProvider::AddCGGroupNameToList";
    QVSS_LOG(kFunction, "PROVIDER", QLOG_TRACE, "starting AddCGGroupNameToList");
    for (const CgInfo& cg : cgList) {
        if (cg.cg_name == cgName) return;
    }
    // A suffix too long to leave any room gives an empty prefix rather than a
    // negative length.
    int limit = kMaxSnapNameWithEnding - kSnapNameFixedCharacters - static_cast<int>(suffix.size());
    size_t room = limit > 0 ? static_cast<size_t>(limit) : 0;
    std::string prefixName = m_settings.snapPrefix;
    if (prefixName.size() > room) {
        prefixName.resize(room);
        QVSS_LOG(kFunction, "PROVIDER", QLOG_WARN,
                 "Prefix name %s too long for snap prefix. Using %s instead",
                 m_settings.snapPrefix.c_str(), prefixName.c_str());
    }
    CgInfo entry;
    entry.cg_name = std::move(cgName);
    entry.snap_name = "VSS_" + prefixName + "_" + suffix;
    QVSS_LOG(kFunction, "PROVIDER", QLOG_TRACE, "before setting replication session name");
    if (!repSessionName.empty()) {
        QVSS_LOG(kFunction, "PROVIDER", QLOG_TRACE, "setting replication session name %s",
                 repSessionName.c_str());
        entry.rep_session_name = std::move(repSessionName);
    }
    cgList.push_back(std::move(entry));
}

uint32_t marl::array::CQArrayClient::deleteSnapshotLun(const char* serialNumber) {
    static constexpr char kFunction[] = "CQProvider::deleteSnapshotLun";
    FuncTrace trace(L"CQProvider::deleteSnapshotLun");
    const char* serial = serialNumber != nullptr ? serialNumber : "";
    QVSS_LOG(kFunction, "PROVIDER", QLOG_INFO, "deleteSnapshotLun m_szSerialNumber:%s", serial);
    if (*serial == '\0') {
        QVSS_LOG(kFunction, "PROVIDER", QLOG_INFO, "The given scsi sn is empty. Not deleting it");
        return kVssProviderVeto;
    }
    std::wstring args = Args({{L"scsi_sn", Widen(serial)}});
    QVSS_LOG(kFunction, "PROVIDER", QLOG_INFO, "sending vss_volsnap_empty request %s", serial);
    std::string reply;
    uint32_t hr = SendCommand(kFunction, "vss_volsnap_empty", args, reply);
    if (hr != 0) return hr;
    ReplyReading reading = ReadReply(kFunction, "vss_volsnap_empty", reply, IgnorePayload(),
                                     [&](const std::exception&) {
                                         QVSS_LOG(kFunction, "PROVIDER", QLOG_DEBUG,
                                                  "could not parse response for vss_volsnap_empty");
                                     });
    return reading == ReplyReading::kAccepted ? 0 : 1;
}
