// Calls outside a snapshot set: ResyncLuns (restore source volumes from
// snapshot LUNs) and OnLunStateChange (notifications about snapshot LUNs).
#include <algorithm>
#include <mutex>
#include <string>

#include "common/QVssLog.h"
#include "provider/CQProvider.h"
#include "provider/QProviderGuard.h"
#include "provider/QProviderHelpers.h"
#include "provider/VssAsync.h"
#include "provider/VssMethodFrame.h"

static constexpr char kLogUnit[] = "QProvider";

using marl::provider::ExitLines;
using marl::provider::Locking;
using marl::provider::NoEntryLine;
using marl::provider::RunVssMethod;
using marl::provider::Text;
using marl::provider::VssMethod;

namespace {

constexpr char kResync[] = "CQProvider::ResyncLuns";

bool Contains(const marl::array::NameList& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

// The volume and group behind each destination LUN; groups in order of first
// appearance.
HRESULT CQProvider::FindResyncBaseVolumes(VDS_LUN_INFORMATION* destLuns, DWORD count,
                                          marl::array::NameList& baseNames,
                                          marl::array::NameList& groups) {
    marl::array::LunInfoList volumes;
    if (m_array.GetAllQLuns(volumes) != 0) return VSS_E_PROVIDER_VETO;
    QVSS_LOG(kResync, "PROVIDER", QLOG_TRACE, "qAllLunList length %d",
             static_cast<int>(volumes.size()));
    for (DWORD i = 0; i < count; ++i) {
        const std::string serial = Text(destLuns[i].m_szSerialNumber);
        LunInfo* volume = m_array.FindQLunBySn(volumes, serial);
        if (volume == nullptr) volume = m_array.FindQLunByRepSn(volumes, serial);
        if (volume == nullptr) {
            QVSS_LOG(kResync, "PROVIDER", QLOG_ERROR,
                     "MarlVssProvider did not find the base volume in NXA");
            return VSS_E_PROVIDER_VETO;
        }
        if (volume->cgName == marl::provider::kNoGroup) {
            QVSS_LOG(kResync, "PROVIDER", QLOG_ERROR,
                     "MarlVssProvider does not support restore for base volumes not in consistency "
                     "group");
            return VSS_E_PROVIDER_VETO;
        }
        baseNames.push_back(volume->volName);
        QVSS_LOG(kResync, "PROVIDER", QLOG_TRACE, "pushed %s", volume->volName.c_str());
        if (!Contains(groups, volume->cgName)) groups.push_back(volume->cgName);
    }
    return S_OK;
}

// The array restores whole groups, so every volume of each group must be
// among the destination LUNs.
HRESULT CQProvider::CheckResyncGroupsFull(const marl::array::NameList& baseNames,
                                          const marl::array::NameList& groups) {
    QVSS_LOG(kResync, "PROVIDER", QLOG_TRACE, "cgList length %d", static_cast<int>(groups.size()));
    for (const std::string& group : groups) {
        marl::array::NameList groupVolumes;
        m_array.GetCGVolNames(group, groupVolumes);
        for (const std::string& name : groupVolumes) {
            if (Contains(baseNames, name)) continue;
            QVSS_LOG(kResync, "PROVIDER", QLOG_ERROR, "ResyncLuns - non-full CG found, missing %s",
                     name.c_str());
            return VSS_E_PROVIDER_VETO;
        }
    }
    return S_OK;
}

// The group snapshot behind the snapshot LUNs, group by group; each name once.
void CQProvider::FindResyncSnapNames(VDS_LUN_INFORMATION* snapshotLuns, DWORD count,
                                     const marl::array::NameList& groups,
                                     marl::array::NameList& snapNames) {
    QVSS_LOG(kResync, "PROVIDER", QLOG_TRACE, "cgList length %d", static_cast<int>(groups.size()));
    marl::array::LunInfoList snapVolumes;
    // A group's volume snapshots that cannot hold a snapshot LUN's serial are
    // not looked up; one listing of their serials serves every group.
    const marl::array::SerialSet serialsWanted = marl::provider::SerialsOf(snapshotLuns, count);
    marl::array::VolSnapListing listing;
    for (const std::string& group : groups) {
        marl::array::LunInfoList groupSnaps;
        m_array.ListQVolSnaps(group.c_str(), groupSnaps);
        QVSS_LOG(kResync, "PROVIDER", QLOG_TRACE, "qCgSnapList length %d",
                 static_cast<int>(groupSnaps.size()));
        m_array.LookUpVolSnapsHolding(groupSnaps, serialsWanted, listing);
        for (DWORD i = 0; i < count; ++i) {
            const std::string serial = Text(snapshotLuns[i].m_szSerialNumber);
            QVSS_LOG(kResync, "PROVIDER", QLOG_DEBUG, "searching for lun by sn=%s", serial.c_str());
            LunInfo* snap = m_array.FindQLunBySn(groupSnaps, serial);
            if (snap == nullptr) {
                QVSS_LOG(kResync, "PROVIDER", QLOG_DEBUG, "searching for lun by repSn=%s",
                         serial.c_str());
                snap = m_array.FindQLunByRepSn(groupSnaps, serial);
            }
            if (snap == nullptr) {
                QVSS_LOG(kResync, "PROVIDER", QLOG_DEBUG, "didn't find sn %s", serial.c_str());
                continue;
            }
            snapVolumes.push_back(*snap);
            QVSS_LOG(kResync, "PROVIDER", QLOG_DEBUG, "Pushing LUN: <%s, %s, %s, %s>",
                     snap->cgName.c_str(), snap->sn.c_str(), snap->snapName.c_str(),
                     snap->volSnapName.c_str());
        }
    }
    QVSS_LOG(kResync, "PROVIDER", QLOG_TRACE, "qLunSnapList length %d",
             static_cast<int>(snapVolumes.size()));
    for (const LunInfo& snap : snapVolumes) {
        if (Contains(snapNames, snap.snapName)) continue;
        snapNames.push_back(snap.snapName);
        QVSS_LOG(kResync, "PROVIDER", QLOG_DEBUG, "Pushing snap name %s", snap.snapName.c_str());
    }
}

HRESULT CQProvider::ResyncLunsBody(VDS_LUN_INFORMATION* snapshotLuns, VDS_LUN_INFORMATION* destLuns,
                                   DWORD count, IVssAsync** ppAsync) {
    if (count > 0 && (snapshotLuns == nullptr || destLuns == nullptr)) return VSS_E_PROVIDER_VETO;
    marl::array::NameList baseNames;
    marl::array::NameList groups;
    HRESULT hr = FindResyncBaseVolumes(destLuns, count, baseNames, groups);
    if (hr == S_OK) hr = CheckResyncGroupsFull(baseNames, groups);
    if (hr != S_OK) return hr;
    marl::array::NameList snapNames;
    FindResyncSnapNames(snapshotLuns, count, groups, snapNames);
    uint32_t rc = m_array.SnapsRestore(groups, snapNames);
    if (rc != 0) {
        QVSS_LOG(kResync, "PROVIDER", QLOG_ERROR, "restore failed - returning 0x%08x",
                 static_cast<unsigned>(rc));
        return VSS_E_PROVIDER_VETO;
    }
    // The restore is finished; the object only reports that to VSS.
    IVssAsync* async = CVssAsync::CreateInstanceAndStartJob();
    if (ppAsync != nullptr)
        *ppAsync = async;
    else if (async != nullptr)
        async->Release();
    return S_OK;
}

HRESULT CQProvider::ResyncLuns(VDS_LUN_INFORMATION* pSourceLuns, VDS_LUN_INFORMATION* pTargetLuns,
                               DWORD dwCount, IVssAsync** ppAsync) {
    static constexpr VssMethod kMethod{kResync, Locking::None, ExitLines::LogOnly};
    FuncTrace trace(L"CQProvider::ResyncLuns");
    return RunVssMethod(kMethod, m_cs, NoEntryLine(),
                        [&] { return ResyncLunsBody(pSourceLuns, pTargetLuns, dwCount, ppAsync); });
}

void CQProvider::LogOnLunStateChangeMessage(const VDS_LUN_INFORMATION& lun, DWORD dwFlags) {
    static constexpr char kFn[] = "LogOnLunStateChangeMessage";
    const char* serial = Text(lun.m_szSerialNumber);
    if (dwFlags & VSS_ONLUNSTATECHANGE_NOTIFY_READ_WRITE)
        QVSS_LOG(kFn, "PROVIDER", QLOG_INFO, "Notify Read/Write : '%s'", serial);
    if (dwFlags & VSS_ONLUNSTATECHANGE_NOTIFY_LUN_PRE_RECOVERY)
        QVSS_LOG(kFn, "PROVIDER", QLOG_INFO, "Notify pre-recovery : '%s'", serial);
    if (dwFlags & VSS_ONLUNSTATECHANGE_NOTIFY_LUN_POST_RECOVERY)
        QVSS_LOG(kFn, "PROVIDER", QLOG_INFO, "Notify post-recovery : '%s'", serial);
}

// Masking: every LUN must be a snapshot volume of the current set. The set's
// groups are read under the lock, so a set method running on another thread
// cannot change them half-way.
HRESULT CQProvider::VerifyMaskedLuns(VDS_LUN_INFORMATION* snapshotLuns, DWORD count) {
    std::lock_guard<std::recursive_mutex> lock(m_cs);
    marl::array::LunInfoList volSnaps;
    if (m_array.GetAllQVolSnaps(m_set.cgList, volSnaps) != 0) return VSS_E_PROVIDER_VETO;
    for (DWORD i = 0; i < count; ++i) {
        if (m_array.FindQLunBySn(volSnaps, Text(snapshotLuns[i].m_szSerialNumber)) == nullptr)
            return VSS_E_PROVIDER_VETO;
    }
    return S_OK;
}

HRESULT CQProvider::OnLunStateChange(VDS_LUN_INFORMATION* pSnapshotLuns, VDS_LUN_INFORMATION*,
                                     DWORD dwCount, DWORD dwFlags) {
    static constexpr VssMethod kMethod{"CQProvider::OnLunStateChange", Locking::None,
                                       ExitLines::LogOnly};
    FuncTrace trace(L"CQProvider::OnLunStateChange");
    return RunVssMethod(kMethod, m_cs, NoEntryLine(), [&] {
        if (dwCount > 0 && pSnapshotLuns == nullptr) return VSS_E_PROVIDER_VETO;
        if (dwFlags & VSS_ONLUNSTATECHANGE_DO_MASK_LUNS)
            return VerifyMaskedLuns(pSnapshotLuns, dwCount);
        for (DWORD i = 0; i < dwCount; ++i) LogOnLunStateChangeMessage(pSnapshotLuns[i], dwFlags);
        return S_OK;
    });
}
