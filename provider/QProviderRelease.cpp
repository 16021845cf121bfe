// Giving snapshot LUNs back to the array: OnLunEmpty for a LUN VSS no longer
// needs, DeleteAbortedSnapshots for the set in progress when it is discarded.
// On a VMware guest the disks are detached from the virtual machine before the
// array releases them.
#include <mutex>
#include <string>

#include "common/QVssLog.h"
#include "provider/CQProvider.h"
#include "provider/QProviderGuard.h"
#include "provider/QProviderHelpers.h"
#include "provider/VssMethodFrame.h"

static constexpr char kLogUnit[] = "QProvider";

using marl::provider::ExitLines;
using marl::provider::Locking;
using marl::provider::RunVssMethod;
using marl::provider::Text;
using marl::provider::VssMethod;

namespace {
using Lock = std::lock_guard<std::recursive_mutex>;
}  // namespace

HRESULT CQProvider::OnLunEmpty(VSS_PWSZ, VDS_LUN_INFORMATION* pInformation) {
    static constexpr VssMethod kMethod{"CQProvider::OnLunEmpty", Locking::AfterEntry,
                                       ExitLines::DebuggerThenLog};
    FuncTrace trace(L"CQProvider::OnLunEmpty");
    return RunVssMethod(
        kMethod, m_cs, [&] { QVSS_LOG(kMethod.function, "PROVIDER", QLOG_TRACE, "entering"); },
        [&] {
            if (pInformation == nullptr) return VSS_E_PROVIDER_VETO;
            const std::string serial = Text(pInformation->m_szSerialNumber);
            if (m_array.Settings().vmwareVm) {
                std::string serials = " ";
                marl::provider::AppendHelperSerial(serials, serial, kMethod.function);
                QVSS_LOG(kMethod.function, "PROVIDER", QLOG_INFO,
                         "OnLunEmpty:setting %s for rdm remove", serials.c_str());
                RunHelperRemoveRdm(serials);
            }
            uint32_t rc = m_array.deleteSnapshotLun(serial.c_str());
            if (rc != 0) {
                QVSS_LOG(kMethod.function, "PROVIDER", QLOG_ERROR,
                         "deleteSnapshotLun failed 0x%08x", static_cast<unsigned>(rc));
                return VSS_E_PROVIDER_VETO;
            }
            return S_OK;
        });
}

// Never fails because of the array: every deletion is attempted and the set
// is forgotten whatever the array answered. Only an exception (memory) leaves
// early; the caller turns it into its result.
//
// snap_scsi_sn is never filled: the only snapshot LUNs a set has are the ones
// GetTargetLuns described, and those belong to VSS once described (a failed
// call releases its own). A discard, which can follow a completed set when a
// set method arrives out of order, must not take a shadow copy's disks away.
void CQProvider::DeleteAbortedSnapshots() {
    static constexpr char kFn[] = "CQProvider::DeleteAbortedSnapshots";
    FuncTrace trace(L"CQProvider::DeleteAbortedSnapshots");
    QVSS_LOG(kFn, "PROVIDER", QLOG_TRACE, "entering");
    Lock lock(m_cs);
    if (m_array.Settings().vmwareVm) {
        std::string serials = " ";
        for (const SnapInfo& info : m_set.snapInfoList) {
            QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG, "adding Lun %s to scsi_sc list",
                     info.snap_scsi_sn.c_str());
            marl::provider::AppendHelperSerial(serials, info.snap_scsi_sn, kFn);
        }
        RunHelperRemoveRdm(serials);
    }
    for (const SnapInfo& info : m_set.snapInfoList) {
        QVSS_LOG(kFn, "PROVIDER", QLOG_DEBUG, "deleting Lun %s", info.snap_scsi_sn.c_str());
        m_array.deleteSnapshotLun(info.snap_scsi_sn.c_str());
    }
    m_set = marl::array::SnapshotSet{};
}
