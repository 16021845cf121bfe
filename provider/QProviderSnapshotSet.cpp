// The snapshot-set state machine: BeginPrepareSnapshot through
// PostCommitSnapshots, and AbortSnapshots.
#include <mutex>

#include "common/QVssLog.h"
#include "provider/CQProvider.h"
#include "provider/QProviderGuard.h"
#include "provider/QProviderHelpers.h"
#include "provider/VssMethodFrame.h"
#include "provider/array/SnapTimestamp.h"
#include "vss/ComGlue.h"

static constexpr char kLogUnit[] = "QProvider";

using marl::provider::ExitLines;
using marl::provider::GuidToString;
using marl::provider::Locking;
using marl::provider::NoEntryLine;
using marl::provider::RunGuarded;
using marl::provider::RunVssMethod;
using marl::provider::Text;
using marl::provider::VssMethod;

namespace marl::provider {
struct QProviderStateCheck {
    const char* function;
    const char* outOfOrder;  // may hold one %d: the current state
    const char* unexpectedId;
};
}  // namespace marl::provider

using marl::provider::QProviderStateCheck;

namespace {

constexpr QProviderStateCheck kEndPrepareCheck = {
    "CQProvider::EndPrepareSnapshots", "EndPrepareSnapshots called out of order",
    "Unexpected snapshot set ID during EndPrepareSnapshots"};
constexpr QProviderStateCheck kPreCommitCheck = {
    "CQProvider::PreCommitSnapshots", "PreCommitSnapshots called out of order",
    "Unexpected snapshot set ID during PreCommitSnapshots"};
constexpr QProviderStateCheck kCommitCheck = {"CQProvider::CommitSnapshots",
                                              "CommitSnapshots called out of order. state=%d",
                                              "Unexpected snapshot set ID during CommitSnapshots"};
constexpr QProviderStateCheck kPostCommitCheck = {
    "CQProvider::PostCommitSnapshots", "PostCommitSnapshots called out of order",
    "Unexpected snapshot set ID during PostCommitSnapshots"};

}  // namespace

// A method out of order or for another set fails; the caller's frame then
// discards the set.
void CQProvider::CheckState(VSS_SNAPSHOT_STATE required, const VSS_ID& setId,
                            const marl::provider::QProviderStateCheck& messages) {
    if (m_state != required) {
        QVSS_LOG(messages.function, "PROVIDER", QLOG_ERROR, messages.outOfOrder,
                 static_cast<int>(m_state));
        throw static_cast<HRESULT>(VSS_E_PROVIDER_VETO);
    }
    if (!marl::vss::SameGuid(setId, m_snapshotSetId)) {
        QVSS_LOG(messages.function, "PROVIDER", QLOG_ERROR, "%s", messages.unexpectedId);
        throw static_cast<HRESULT>(VSS_E_PROVIDER_VETO);
    }
}

// The common tail of the snapshot-set methods: a failure discards the set.
// A failure while discarding becomes the result; the state ends aborted.
HRESULT CQProvider::FinishSetMethod(const char* function, HRESULT hr) {
    if (hr != S_OK) {
        HRESULT cleanup = RunGuarded(function, [&] {
            DeleteAbortedSnapshots();
            return S_OK;
        });
        m_state = VSS_SS_ABORTED;
        if (cleanup != S_OK) hr = cleanup;
    }
    return marl::provider::ToVssResult(function, hr);
}

// Step 2 of BeginPrepareSnapshot: a new set begins, or this call adds LUNs
// to the set in progress, or an unfinished set is thrown away first.
void CQProvider::StartOrExtendSet(const VSS_ID& setId) {
    static constexpr char kFn[] = "CQProvider::BeginPrepareSnapshot";
    switch (m_state) {
        case VSS_SS_UNKNOWN:
        case VSS_SS_CREATED:
        case VSS_SS_ABORTED:
            m_set = marl::array::SnapshotSet{};
            return;
        case VSS_SS_PREPARING:
            if (marl::vss::SameGuid(setId, m_snapshotSetId)) return;
            QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG, "delete any uncompleted snapshot");
            DeleteAbortedSnapshots();
            return;
        default:
            QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG, "m_state=%d", static_cast<int>(m_state));
            DeleteAbortedSnapshots();
            return;
    }
}

// Step 4 of BeginPrepareSnapshot for one LUN.
void CQProvider::AddLunToSet(const VDS_LUN_INFORMATION& lun, marl::array::LunInfoList& volumes,
                             marl::array::SessionInfoList& sessions) {
    static constexpr char kFn[] = "CQProvider::BeginPrepareSnapshot";
    LunInfo* volume = m_array.FindQLunBySn(volumes, Text(lun.m_szSerialNumber));
    if (volume == nullptr) {
        QVSS_LOG(kFn, "PROVIDER", QLOG_ERROR, "no volume found for scsi-sn.");
        throw static_cast<HRESULT>(VSS_E_PROVIDER_VETO);
    }
    if (volume->cgName == marl::provider::kNoGroup) {
        QVSS_LOG(kFn, "PROVIDER", QLOG_ERROR, "no consistency group found for volume %s.",
                 volume->volName.c_str());
        throw static_cast<HRESULT>(VSS_E_PROVIDER_VETO);
    }
    SessionInfo* session = m_array.FindQRepSessionByCg(sessions, volume->cgName);
    QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG, "returned from FindQRepSessionByCg");
    std::string sessionName;
    if (session == nullptr) {
        QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG, "qRepSession is null!!!");
    } else {
        QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG, "qRepSession is not null!!!");
        QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG, "setting session name to  %s.",
                 session->sessionName.c_str());
        sessionName = session->sessionName;
    }
    SnapInfo info;
    info.vol_name = volume->volName;
    info.scsi_sn = volume->sn;
    info.cg_name = volume->cgName;
    m_set.snapInfoList.push_back(info);
    char timestamp[80];
    MakeSnapTimestamp(timestamp, sizeof timestamp);
    QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG, "before calling AddCGGroupNameToList");
    m_array.AddCGGroupNameToList(m_set.cgList, volume->cgName, sessionName, timestamp);
}

HRESULT CQProvider::BeginPrepareSnapshot(VSS_ID SnapshotSetId, VSS_ID, LONG, LONG lLunCount,
                                         VSS_PWSZ*, VDS_LUN_INFORMATION* rgLunInformation) {
    static constexpr VssMethod kMethod{"CQProvider::BeginPrepareSnapshot", Locking::AfterEntry,
                                       ExitLines::LogThenDebugger};
    FuncTrace trace(L"CQProvider::BeginPrepareSnapshot");
    return RunVssMethod(
        kMethod, m_cs,
        [&] {
            QVSS_LOG(kMethod.function, "PROVIDER", QLOG_TRACE,
                     "entering SnapshotSetId %s m_state=%d", GuidToString(SnapshotSetId).c_str(),
                     static_cast<int>(m_state));
        },
        [&] {
            StartOrExtendSet(SnapshotSetId);
            marl::array::LunInfoList volumes;
            if (m_array.GetAllQLuns(volumes) != 0) return VSS_E_PROVIDER_VETO;
            marl::array::SessionInfoList sessions;
            if (m_array.GetAllQReplicationSessions(sessions) != 0) return VSS_E_PROVIDER_VETO;
            if (lLunCount > 0 && rgLunInformation == nullptr) return VSS_E_PROVIDER_VETO;
            for (LONG i = 0; i < lLunCount; ++i) {
                AddLunToSet(rgLunInformation[i], volumes, sessions);
                m_state = VSS_SS_PREPARING;
                m_snapshotSetId = SnapshotSetId;
            }
            return S_OK;
        },
        SetMethodTail{this, kMethod.function});
}

HRESULT CQProvider::EndPrepareSnapshots(VSS_ID SnapshotSetId) {
    static constexpr VssMethod kMethod{kEndPrepareCheck.function, Locking::BeforeEntry,
                                       ExitLines::LogThenDebugger};
    FuncTrace trace(L"CQProvider::EndPrepareSnapshots");
    return RunVssMethod(
        kMethod, m_cs,
        [&] {
            QVSS_LOG(kMethod.function, "PROVIDER", QLOG_TRACE, "entering SnapshotSetId %s",
                     GuidToString(SnapshotSetId).c_str());
        },
        [&] {
            CheckState(VSS_SS_PREPARING, SnapshotSetId, kEndPrepareCheck);
            m_state = VSS_SS_PREPARED;
            return S_OK;
        },
        SetMethodTail{this, kMethod.function});
}

HRESULT CQProvider::PreCommitSnapshots(VSS_ID SnapshotSetId) {
    static constexpr VssMethod kMethod{kPreCommitCheck.function, Locking::BeforeEntry,
                                       ExitLines::LogThenDebugger};
    FuncTrace trace(L"CQProvider::PreCommitSnapshots");
    return RunVssMethod(
        kMethod, m_cs,
        [&] {
            QVSS_LOG(kMethod.function, "PROVIDER", QLOG_TRACE, "entering SnapshotSetId %s",
                     GuidToString(SnapshotSetId).c_str());
        },
        [&] {
            CheckState(VSS_SS_PREPARED, SnapshotSetId, kPreCommitCheck);
            m_state = VSS_SS_PRECOMMITTED;
            if (m_array.CheckCGSetFull(m_set) != 0) return VSS_E_PROVIDER_VETO;
            if (m_array.PrepareForSnap() != 0) return VSS_E_PROVIDER_VETO;
            return S_OK;
        },
        SetMethodTail{this, kMethod.function});
}

HRESULT CQProvider::CommitSnapshots(VSS_ID SnapshotSetId) {
    static constexpr VssMethod kMethod{kCommitCheck.function, Locking::BeforeEntry,
                                       ExitLines::LogThenDebugger};
    FuncTrace trace(L"CQProvider::CommitSnapshots");
    return RunVssMethod(
        kMethod, m_cs, [&] { QVSS_LOG(kMethod.function, "PROVIDER", QLOG_TRACE, "entering"); },
        [&] {
            CheckState(VSS_SS_PRECOMMITTED, SnapshotSetId, kCommitCheck);
            QVSS_LOG(kMethod.function, "PROVIDER", QLOG_INFO, "TakeSnap with SnapshotSetId %s",
                     GuidToString(SnapshotSetId).c_str());
            if (m_array.TakeSnap(m_set.cgList) != 0) return VSS_E_PROVIDER_VETO;
            m_state = VSS_SS_COMMITTED;
            return S_OK;
        },
        SetMethodTail{this, kMethod.function});
}

HRESULT CQProvider::PostCommitSnapshots(VSS_ID SnapshotSetId, LONG) {
    static constexpr VssMethod kMethod{kPostCommitCheck.function, Locking::BeforeEntry,
                                       ExitLines::LogThenDebugger};
    FuncTrace trace(L"CQProvider::PostCommitSnapshots");
    return RunVssMethod(
        kMethod, m_cs,
        [&] {
            QVSS_LOG(kMethod.function, "PROVIDER", QLOG_TRACE, "entering SnapshotSetId %s",
                     GuidToString(SnapshotSetId).c_str());
        },
        [&] {
            CheckState(VSS_SS_COMMITTED, SnapshotSetId, kPostCommitCheck);
            QVSS_LOG(kMethod.function, "PROVIDER", QLOG_INFO, "SnapshotSetId %s created",
                     GuidToString(SnapshotSetId).c_str());
            m_state = VSS_SS_CREATED;
            return S_OK;
        },
        SetMethodTail{this, kMethod.function});
}

HRESULT CQProvider::PreFinalCommitSnapshots(VSS_ID) {
    static constexpr VssMethod kMethod{"CQProvider::PreFinalCommitSnapshots", Locking::None,
                                       ExitLines::LogOnly};
    FuncTrace trace(L"CQProvider::PreFinalCommitSnapshots");
    return RunVssMethod(kMethod, m_cs, NoEntryLine(), [] { return S_OK; });
}

HRESULT CQProvider::PostFinalCommitSnapshots(VSS_ID) {
    static constexpr VssMethod kMethod{"CQProvider::PostFinalCommitSnapshots", Locking::None,
                                       ExitLines::LogOnly};
    FuncTrace trace(L"CQProvider::PostFinalCommitSnapshots");
    return RunVssMethod(kMethod, m_cs, NoEntryLine(), [] { return S_OK; });
}

// A completed set is not undone; anything else is discarded. The set id is
// not compared: VSS aborts whatever it was doing.
HRESULT CQProvider::AbortSnapshots(VSS_ID) {
    static constexpr VssMethod kMethod{"CQProvider::AbortSnapshots", Locking::BeforeEntry,
                                       ExitLines::DebuggerOnly};
    FuncTrace trace(L"CQProvider::AbortSnapshots");
    return RunVssMethod(
        kMethod, m_cs,
        [&] {
            QVSS_LOG(kMethod.function, "PROVIDER", QLOG_TRACE, "entering m_state=%d",
                     static_cast<int>(m_state));
        },
        [&] {
            if (m_state != VSS_SS_CREATED) DeleteAbortedSnapshots();
            return S_OK;
        },
        [&](HRESULT hr) {
            // Discarding leaves the state alone, so it still tells whether
            // the set was discarded.
            if (m_state != VSS_SS_CREATED) m_state = VSS_SS_ABORTED;
            return hr;
        });
}
