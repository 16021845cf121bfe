// The snapshot LUNs of a committed set: their descriptions (GetTargetLuns)
// and making them appear on this host (LocateLuns).
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "common/QVssLog.h"
#include "platform/com_memory.h"
#include "provider/CQProvider.h"
#include "provider/QProviderGuard.h"
#include "provider/QProviderHelpers.h"
#include "provider/VssMethodFrame.h"
#include "provider/array/LunInfoMemory.h"

static constexpr char kLogUnit[] = "QProvider";

using marl::provider::ExitLines;
using marl::provider::Locking;
using marl::provider::RunVssMethod;
using marl::provider::Text;
using marl::provider::VssMethod;

namespace {

constexpr ULONG kIdentifierBytes = 32;

// The storage identifier that marks a snapshot LUN as this provider's: the
// provider's name and a GUID of its own for every target LUN. It is attached
// to `dest` as soon as it is allocated, so a failure later leaves nothing
// unowned.
void WriteProviderIdentifier(VDS_LUN_INFORMATION& dest) {
    static constexpr char kFn[] = "CQProvider::GetTargetLuns";
    auto* ids = static_cast<VDS_STORAGE_IDENTIFIER*>(
        marl::platform::ComTaskMemAlloc(sizeof(VDS_STORAGE_IDENTIFIER)));
    if (ids == nullptr) throw static_cast<HRESULT>(E_OUTOFMEMORY);
    std::memset(ids, 0, sizeof *ids);
    dest.m_deviceIdDescriptor.m_version = 1;
    dest.m_deviceIdDescriptor.m_cIdentifiers = 1;
    dest.m_deviceIdDescriptor.m_rgIdentifiers = ids;
    auto* bytes = static_cast<BYTE*>(marl::platform::ComTaskMemAlloc(kIdentifierBytes));
    if (bytes == nullptr) throw static_cast<HRESULT>(E_OUTOFMEMORY);
    ids->m_CodeSet = VDSStorageIdCodeSetBinary;
    ids->m_Type = VDSStorageIdTypeVendorId;
    ids->m_cbIdentifier = kIdentifierBytes;
    ids->m_rgbIdentifier = bytes;
    std::memcpy(bytes, marl::provider::kProviderName, marl::provider::kProviderNameLength);
    marl::platform::ComGuid guid{};
    if (!marl::platform::ComCreateGuid(&guid)) {
        QVSS_LOG(kFn, "PROVIDER", QLOG_ERROR, "could not create a GUID for the target LUN");
        throw static_cast<HRESULT>(VSS_E_PROVIDER_VETO);
    }
    std::memcpy(bytes + marl::provider::kProviderNameLength, &guid, sizeof guid);
}

}  // namespace

HRESULT CQProvider::DescribeTargetLun(const VDS_LUN_INFORMATION& source,
                                      VDS_LUN_INFORMATION& dest) {
    static constexpr char kFn[] = "CQProvider::GetTargetLuns";
    FreeLunInfo(dest);
    CopyLunInfo(dest, source);
    std::memset(&dest.m_diskSignature, 0, sizeof dest.m_diskSignature);
    WriteProviderIdentifier(dest);
    QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG, "Calling ExposeSnap()");
    uint32_t rc = m_array.ExposeSnap(m_set);
    if (rc != 0) {
        QVSS_LOG(kFn, "PROVIDER", QLOG_ERROR, "ExposeSnap() returned 0x%x",
                 static_cast<unsigned>(rc));
        throw static_cast<HRESULT>(VSS_E_PROVIDER_VETO);
    }
    QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG, "ExposeSnap() returned 0x%x", static_cast<unsigned>(rc));
    const std::string sourceSerial = Text(source.m_szSerialNumber);
    std::string volSnapName;
    std::string cgSnapName;
    if (m_array.BuildVolSnapNames(m_set, sourceSerial, volSnapName, cgSnapName) != 0)
        throw static_cast<HRESULT>(VSS_E_PROVIDER_VETO);
    std::string targetLunId;
    std::string peerTargetLunId;
    std::string volName;
    if (m_array.GetSnapLunSN(volSnapName, targetLunId, peerTargetLunId, volName) != 0)
        throw static_cast<HRESULT>(VSS_E_PROVIDER_VETO);
    marl::array::ReplaceCoTaskString(dest.m_szSerialNumber, targetLunId.c_str());
    dest.m_BusType = VDSBusTypeScsi;
    return S_OK;
}

// VSS learns no target LUN from a failed GetTargetLuns, and a created set is
// not undone by AbortSnapshots: snapshot LUNs that the failed call exposed
// would stay on the array with nobody left to release them. So the call
// releases them itself, and a later call exposes the set again. Only the
// call that exposed the set may do this: LUNs that an earlier call described
// belong to VSS, and only OnLunEmpty gives them back.
//
// Without the listing nothing can be released; the set stays exposed so that
// a retry describes the snapshots that exist instead of creating them again,
// and the ERROR line names them for whoever has to clean up.
void CQProvider::ReleaseExposedLuns() {
    static constexpr char kFn[] = "CQProvider::GetTargetLuns";
    if (m_set.snapsExposed == 0) return;
    marl::array::LunInfoList volSnaps;
    if (m_array.GetAllQVolSnaps(m_set.cgList, volSnaps) != 0) {
        std::string names;
        for (const CgInfo& cg : m_set.cgList)
            names += (names.empty() ? "" : ",") + cg.cg_name + ":" + cg.snap_name;
        QVSS_LOG(kFn, "PROVIDER", QLOG_ERROR,
                 "could not list the snapshot LUNs the failed call exposed; "
                 "left on the array: %s",
                 names.c_str());
        return;
    }
    QVSS_LOG(kFn, "PROVIDER", QLOG_WARN, "releasing the %d snapshot LUNs the failed call exposed",
             static_cast<int>(volSnaps.size()));
    for (const LunInfo& v : volSnaps) m_array.deleteSnapshotLun(v.sn.c_str());
    m_set.snapsExposed = 0;
}

HRESULT CQProvider::GetTargetLuns(LONG lLunCount, VSS_PWSZ*, VDS_LUN_INFORMATION* rgSourceLuns,
                                  VDS_LUN_INFORMATION* rgDestinationLuns) {
    static constexpr VssMethod kMethod{"CQProvider::GetTargetLuns", Locking::AfterEntry,
                                       ExitLines::DoneThenDebugger};
    FuncTrace trace(L"CQProvider::GetTargetLuns");
    bool exposedBefore = false;
    return RunVssMethod(
        kMethod, m_cs, [&] { QVSS_LOG(kMethod.function, "PROVIDER", QLOG_DEBUG, "entering"); },
        [&] {
            exposedBefore = m_set.snapsExposed != 0;
            if (lLunCount > 0 && (rgSourceLuns == nullptr || rgDestinationLuns == nullptr))
                return VSS_E_PROVIDER_VETO;
            // A failure ends the loop: earlier descriptions stay, later
            // records are left as VSS gave them.
            for (LONG i = 0; i < lLunCount; ++i) {
                HRESULT described = DescribeTargetLun(rgSourceLuns[i], rgDestinationLuns[i]);
                if (described != S_OK) return described;
            }
            return S_OK;
        },
        [&](HRESULT hr) {
            // Only what this call exposed is released: LUNs described by an
            // earlier call belong to VSS.
            if (hr == S_OK || exposedBefore) return hr;
            HRESULT released = marl::provider::RunGuarded(kMethod.function, [&] {
                ReleaseExposedLuns();
                return S_OK;
            });
            return released != S_OK ? released : hr;
        });
}

HRESULT CQProvider::LocateLunsBody(LONG count, VDS_LUN_INFORMATION* luns) {
    static constexpr char kFn[] = "CQProvider::LocateLuns";
    if (count > 0 && luns == nullptr) return VSS_E_PROVIDER_VETO;
    marl::array::LunInfoList volSnaps;
    m_array.ListQVolSnaps(nullptr, volSnaps);
    QVSS_LOG(kFn, "PROVIDER", QLOG_TRACE, "qLunSnapList length %d",
             static_cast<int>(volSnaps.size()));
    // Only a volume snapshot that may hold one of the LUNs' serials is worth
    // its look-up; the others could not be taken below.
    marl::array::VolSnapListing listing;
    m_array.LookUpVolSnapsHolding(
        volSnaps, marl::provider::SerialsOf(luns, static_cast<size_t>(count < 0 ? 0 : count)),
        listing);
    std::string serials = " ";
    std::vector<const LunInfo*> found;
    for (const LunInfo& v : volSnaps) {
        for (LONG i = 0; i < count; ++i) {
            const char* serial = Text(luns[i].m_szSerialNumber);
            QVSS_LOG(kFn, "PROVIDER", QLOG_TRACE,
                     "LocateLuns: m_szSerialNumber=%s, sn=%s, peerSn=%s", serial, v.sn.c_str(),
                     v.peerSn.c_str());
            if (v.sn != serial || v.peerSn == serial) continue;
            found.push_back(&v);
            QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG, "Pushing volsnap: <%s, %s, %s, %s>",
                     v.cgName.c_str(), v.sn.c_str(), v.snapName.c_str(), v.volSnapName.c_str());
            marl::provider::AppendHelperSerial(serials, v.sn, kFn);
            QVSS_LOG(kFn, "PROVIDER", QLOG_TRACE,
                     "LocateLuns: after updating m_szSerialNumber=%s, sn=%s, peerSn=%s", serial,
                     v.sn.c_str(), v.peerSn.c_str());
            QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG, "New scsi_sns %s", serials.c_str());
            break;
        }
    }
    QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG, "SCSI SN list: %s", serials.c_str());
    if (found.size() != static_cast<size_t>(count < 0 ? 0 : count)) {
        QVSS_LOG(kFn, "PROVIDER", QLOG_ERROR, "Not all volsnaps were found (%d!=%d)",
                 static_cast<int>(found.size()), static_cast<int>(count));
        return VSS_E_PROVIDER_VETO;
    }
    marl::array::NameList snapNames;
    for (const LunInfo* v : found) {
        bool known = false;
        for (const std::string& name : snapNames) known = known || name == v->snapName;
        if (known) continue;
        snapNames.push_back(v->snapName);
        QVSS_LOG(kFn, "PROVIDER", QLOG_TRACE, "push %s", v->snapName.c_str());
    }
    if (m_array.MapSnapshots(snapNames, serials) != 0) return VSS_E_PROVIDER_VETO;
    return S_OK;
}

HRESULT CQProvider::LocateLuns(LONG lLunCount, VDS_LUN_INFORMATION* rgSourceLuns) {
    static constexpr VssMethod kMethod{"CQProvider::LocateLuns", Locking::AfterEntry,
                                       ExitLines::LogThenDebugger};
    FuncTrace trace(L"CQProvider::LocateLuns");
    return RunVssMethod(
        kMethod, m_cs, [&] { QVSS_LOG(kMethod.function, "PROVIDER", QLOG_TRACE, "entering"); },
        [&] { return LocateLunsBody(lLunCount, rgSourceLuns); });
}
