#include "ComProviderCalls.h"

#include "HarnessLuns.h"
#include "provider/com/ProductGuids.h"

namespace marl::harness {
namespace {

bool Report(std::ostream& out, const char* call, HRESULT hr) {
    out << "     " << call << " -> " << ResultText(hr) << "\n";
    out.flush();
    return SUCCEEDED(hr);
}

}  // namespace

std::unique_ptr<ComProviderCalls> ComProviderCalls::Create(std::ostream& out) {
    std::unique_ptr<ComProviderCalls> calls(new ComProviderCalls(out));
    out << "--- activation through COM, as VSS does it\n";
    HRESULT hr = ::CoCreateInstance(marl::com::kClsidQProvider, nullptr, CLSCTX_INPROC_SERVER,
                                    __uuidof(IVssHardwareSnapshotProviderEx),
                                    reinterpret_cast<void**>(&calls->m_hardware));
    if (!Report(out,
                "CoCreateInstance(CLSID_QProvider, CLSCTX_INPROC_SERVER, "
                "IVssHardwareSnapshotProviderEx)",
                hr))
        return nullptr;
    hr = calls->m_hardware->QueryInterface(__uuidof(IVssProviderCreateSnapshotSet),
                                           reinterpret_cast<void**>(&calls->m_set));
    if (!Report(out, "QueryInterface(IVssProviderCreateSnapshotSet)", hr)) return nullptr;
    hr = calls->m_hardware->QueryInterface(__uuidof(IVssProviderNotifications),
                                           reinterpret_cast<void**>(&calls->m_notifications));
    if (!Report(out, "QueryInterface(IVssProviderNotifications)", hr)) return nullptr;
    if (!Report(out, "OnLoad", calls->m_notifications->OnLoad(nullptr))) return nullptr;
    return calls;
}

ComProviderCalls::~ComProviderCalls() {
    if (m_notifications != nullptr) {
        Report(m_out, "OnUnload(TRUE)", m_notifications->OnUnload(TRUE));
        m_notifications->Release();
    }
    if (m_set != nullptr) m_set->Release();
    if (m_hardware != nullptr) {
        ULONG left = m_hardware->Release();
        m_out << "     Release -> references left " << left << "\n";
        m_out.flush();
    }
}

HRESULT ComProviderCalls::AreLunsSupported(LONG count, VDS_LUN_INFORMATION* luns, BOOL* supported) {
    return m_hardware->AreLunsSupported(count, 0, nullptr, luns, supported);
}

HRESULT ComProviderCalls::FillInLunInfo(VDS_LUN_INFORMATION* lun, BOOL* supported) {
    return m_hardware->FillInLunInfo(nullptr, lun, supported);
}

HRESULT ComProviderCalls::BeginPrepareSnapshot(const VSS_ID& setId, const VSS_ID& snapshotId,
                                               LONG count, VDS_LUN_INFORMATION* luns) {
    return m_hardware->BeginPrepareSnapshot(setId, snapshotId, 0, count, nullptr, luns);
}

HRESULT ComProviderCalls::GetTargetLuns(LONG count, VDS_LUN_INFORMATION* sources,
                                        VDS_LUN_INFORMATION* targets) {
    return m_hardware->GetTargetLuns(count, nullptr, sources, targets);
}

HRESULT ComProviderCalls::LocateLuns(LONG count, VDS_LUN_INFORMATION* luns) {
    return m_hardware->LocateLuns(count, luns);
}

HRESULT ComProviderCalls::OnLunEmpty(VDS_LUN_INFORMATION* lun) {
    return m_hardware->OnLunEmpty(nullptr, lun);
}

HRESULT ComProviderCalls::OnLunStateChange(VDS_LUN_INFORMATION* snapshots,
                                           VDS_LUN_INFORMATION* originals, DWORD count,
                                           DWORD flags) {
    return m_hardware->OnLunStateChange(snapshots, originals, count, flags);
}

HRESULT ComProviderCalls::ResyncLuns(VDS_LUN_INFORMATION* snapshots,
                                     VDS_LUN_INFORMATION* destinations, DWORD count,
                                     IVssAsync** async) {
    return m_hardware->ResyncLuns(snapshots, destinations, count, async);
}

HRESULT ComProviderCalls::EndPrepareSnapshots(const VSS_ID& id) {
    return m_set->EndPrepareSnapshots(id);
}

HRESULT ComProviderCalls::PreCommitSnapshots(const VSS_ID& id) {
    return m_set->PreCommitSnapshots(id);
}

HRESULT ComProviderCalls::CommitSnapshots(const VSS_ID& id) { return m_set->CommitSnapshots(id); }

HRESULT ComProviderCalls::PostCommitSnapshots(const VSS_ID& id, LONG count) {
    return m_set->PostCommitSnapshots(id, count);
}

HRESULT ComProviderCalls::PreFinalCommitSnapshots(const VSS_ID& id) {
    return m_set->PreFinalCommitSnapshots(id);
}

HRESULT ComProviderCalls::PostFinalCommitSnapshots(const VSS_ID& id) {
    return m_set->PostFinalCommitSnapshots(id);
}

HRESULT ComProviderCalls::AbortSnapshots(const VSS_ID& id) { return m_set->AbortSnapshots(id); }

}  // namespace marl::harness
