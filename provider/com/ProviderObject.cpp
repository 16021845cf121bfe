#include "provider/com/ProviderObject.h"

#include <new>

namespace {

// The provider's methods catch everything themselves; this is the last line
// that keeps an exception from unwinding into VSS.
template <typename Call>
HRESULT Shielded(Call call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return VSS_E_PROVIDER_VETO;
    }
}

bool Is(REFIID riid, const IID& iid) { return IsEqualIID(riid, iid) != FALSE; }

}  // namespace

HRESULT CQProviderObject::Create(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    CQProviderObject* object = nullptr;
    try {
        object = new CQProviderObject();
    } catch (...) {
        // The constructor reads the configuration and opens the log; whatever
        // stopped it, COM is told creation failed for want of resources.
        return E_OUTOFMEMORY;
    }
    object->AddRef();
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();  // on failure the object goes again here
    return hr;
}

HRESULT STDMETHODCALLTYPE CQProviderObject::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) return E_POINTER;
    if (Is(riid, __uuidof(IUnknown)) || Is(riid, __uuidof(IVssHardwareSnapshotProvider)) ||
        Is(riid, __uuidof(IVssHardwareSnapshotProviderEx))) {
        *ppvObject = static_cast<IVssHardwareSnapshotProviderEx*>(this);
    } else if (Is(riid, __uuidof(IVssProviderCreateSnapshotSet))) {
        *ppvObject = static_cast<IVssProviderCreateSnapshotSet*>(this);
    } else if (Is(riid, __uuidof(IVssProviderNotifications))) {
        *ppvObject = static_cast<IVssProviderNotifications*>(this);
    } else {
        *ppvObject = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE CQProviderObject::AddRef() { return ++m_refCount; }

ULONG STDMETHODCALLTYPE CQProviderObject::Release() {
    ULONG left = --m_refCount;
    // The provider's destructor discards an unfinished set inside its own
    // guard (OnUnload), so nothing is thrown from here.
    if (left == 0) delete this;
    return left;
}

HRESULT STDMETHODCALLTYPE CQProviderObject::AreLunsSupported(LONG lLunCount, LONG lContext,
                                                             VSS_PWSZ* rgwszDevices,
                                                             VDS_LUN_INFORMATION* pLunInformation,
                                                             WINBOOL* pbIsSupported) {
    return Shielded([&] {
        return m_provider.AreLunsSupported(lLunCount, lContext, rgwszDevices, pLunInformation,
                                           pbIsSupported);
    });
}

HRESULT STDMETHODCALLTYPE CQProviderObject::FillInLunInfo(VSS_PWSZ wszDeviceName,
                                                          VDS_LUN_INFORMATION* pLunInfo,
                                                          WINBOOL* pbIsSupported) {
    return Shielded(
        [&] { return m_provider.FillInLunInfo(wszDeviceName, pLunInfo, pbIsSupported); });
}

HRESULT STDMETHODCALLTYPE CQProviderObject::BeginPrepareSnapshot(
    VSS_ID SnapshotSetId, VSS_ID SnapshotId, LONG lContext, LONG lLunCount, VSS_PWSZ* rgDeviceNames,
    VDS_LUN_INFORMATION* rgLunInformation) {
    return Shielded([&] {
        return m_provider.BeginPrepareSnapshot(SnapshotSetId, SnapshotId, lContext, lLunCount,
                                               rgDeviceNames, rgLunInformation);
    });
}

HRESULT STDMETHODCALLTYPE CQProviderObject::GetTargetLuns(LONG lLunCount, VSS_PWSZ* rgDeviceNames,
                                                          VDS_LUN_INFORMATION* rgSourceLuns,
                                                          VDS_LUN_INFORMATION* rgDestinationLuns) {
    return Shielded([&] {
        return m_provider.GetTargetLuns(lLunCount, rgDeviceNames, rgSourceLuns, rgDestinationLuns);
    });
}

HRESULT STDMETHODCALLTYPE CQProviderObject::LocateLuns(LONG lLunCount,
                                                       VDS_LUN_INFORMATION* rgSourceLuns) {
    return Shielded([&] { return m_provider.LocateLuns(lLunCount, rgSourceLuns); });
}

HRESULT STDMETHODCALLTYPE CQProviderObject::OnLunEmpty(VSS_PWSZ wszDeviceName,
                                                       VDS_LUN_INFORMATION* pInformation) {
    return Shielded([&] { return m_provider.OnLunEmpty(wszDeviceName, pInformation); });
}

HRESULT STDMETHODCALLTYPE
CQProviderObject::GetProviderCapabilities(ULONGLONG* pllOriginalCapabilityMask) {
    return Shielded([&] { return m_provider.GetProviderCapabilities(pllOriginalCapabilityMask); });
}

HRESULT STDMETHODCALLTYPE CQProviderObject::OnLunStateChange(VDS_LUN_INFORMATION* pSnapshotLuns,
                                                             VDS_LUN_INFORMATION* pOriginalLuns,
                                                             DWORD dwCount, DWORD dwFlags) {
    return Shielded([&] {
        return m_provider.OnLunStateChange(pSnapshotLuns, pOriginalLuns, dwCount, dwFlags);
    });
}

HRESULT STDMETHODCALLTYPE CQProviderObject::ResyncLuns(VDS_LUN_INFORMATION* pSourceLuns,
                                                       VDS_LUN_INFORMATION* pTargetLuns,
                                                       DWORD dwCount, IVssAsync** ppAsync) {
    return Shielded(
        [&] { return m_provider.ResyncLuns(pSourceLuns, pTargetLuns, dwCount, ppAsync); });
}

HRESULT STDMETHODCALLTYPE CQProviderObject::OnReuseLuns(VDS_LUN_INFORMATION* pSnapshotLuns,
                                                        VDS_LUN_INFORMATION* pOriginalLuns,
                                                        DWORD dwCount) {
    return Shielded([&] { return m_provider.OnReuseLuns(pSnapshotLuns, pOriginalLuns, dwCount); });
}

HRESULT STDMETHODCALLTYPE CQProviderObject::EndPrepareSnapshots(VSS_ID SnapshotSetId) {
    return Shielded([&] { return m_provider.EndPrepareSnapshots(SnapshotSetId); });
}

HRESULT STDMETHODCALLTYPE CQProviderObject::PreCommitSnapshots(VSS_ID SnapshotSetId) {
    return Shielded([&] { return m_provider.PreCommitSnapshots(SnapshotSetId); });
}

HRESULT STDMETHODCALLTYPE CQProviderObject::CommitSnapshots(VSS_ID SnapshotSetId) {
    return Shielded([&] { return m_provider.CommitSnapshots(SnapshotSetId); });
}

HRESULT STDMETHODCALLTYPE CQProviderObject::PostCommitSnapshots(VSS_ID SnapshotSetId,
                                                                LONG lSnapshotsCount) {
    return Shielded([&] { return m_provider.PostCommitSnapshots(SnapshotSetId, lSnapshotsCount); });
}

HRESULT STDMETHODCALLTYPE CQProviderObject::PreFinalCommitSnapshots(VSS_ID SnapshotSetId) {
    return Shielded([&] { return m_provider.PreFinalCommitSnapshots(SnapshotSetId); });
}

HRESULT STDMETHODCALLTYPE CQProviderObject::PostFinalCommitSnapshots(VSS_ID SnapshotSetId) {
    return Shielded([&] { return m_provider.PostFinalCommitSnapshots(SnapshotSetId); });
}

HRESULT STDMETHODCALLTYPE CQProviderObject::AbortSnapshots(VSS_ID SnapshotSetId) {
    return Shielded([&] { return m_provider.AbortSnapshots(SnapshotSetId); });
}

HRESULT STDMETHODCALLTYPE CQProviderObject::OnLoad(IUnknown* pCallback) {
    return Shielded([&] { return m_provider.OnLoad(pCallback); });
}

HRESULT STDMETHODCALLTYPE CQProviderObject::OnUnload(WINBOOL bForceUnload) {
    return Shielded([&] { return m_provider.OnUnload(bForceUnload); });
}
