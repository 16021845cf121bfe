#pragma once
// CQProviderObject: the COM face of CQProvider, the object VSS creates through
// the class factory and drives through its interface pointers.
//
// QueryInterface answers IUnknown, IVssHardwareSnapshotProvider,
// IVssHardwareSnapshotProviderEx, IVssProviderCreateSnapshotSet and
// IVssProviderNotifications; anything else is E_NOINTERFACE. Every method
// forwards to the one CQProvider inside, which keeps the snapshot-set state.
//
// Lifetime: reference counted of the single-threaded kind (no interlocked
// operations; the class is registered for the apartment model). The last
// Release destroys the CQProvider, whose destructor discards an unfinished
// set. The object holds a module lock while it lives.
//
// Failure: no exception leaves any method; an exception that got past the
// provider's own handlers becomes E_OUTOFMEMORY (allocation) or
// VSS_E_PROVIDER_VETO.
#include "provider/CQProvider.h"
#include "provider/com/ComModule.h"

class CQProviderObject final : public IVssHardwareSnapshotProviderEx,
                               public IVssProviderCreateSnapshotSet,
                               public IVssProviderNotifications {
  public:
    // A new object answering `riid` in *ppv (one reference, the caller's).
    // E_OUTOFMEMORY when the provider cannot be constructed, E_NOINTERFACE
    // for an interface it does not have, E_POINTER for a null ppv.
    static HRESULT Create(REFIID riid, void** ppv);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IVssHardwareSnapshotProvider
    HRESULT STDMETHODCALLTYPE AreLunsSupported(LONG lLunCount, LONG lContext,
                                               VSS_PWSZ* rgwszDevices,
                                               VDS_LUN_INFORMATION* pLunInformation,
                                               WINBOOL* pbIsSupported) override;
    HRESULT STDMETHODCALLTYPE FillInLunInfo(VSS_PWSZ wszDeviceName, VDS_LUN_INFORMATION* pLunInfo,
                                            WINBOOL* pbIsSupported) override;
    HRESULT STDMETHODCALLTYPE BeginPrepareSnapshot(VSS_ID SnapshotSetId, VSS_ID SnapshotId,
                                                   LONG lContext, LONG lLunCount,
                                                   VSS_PWSZ* rgDeviceNames,
                                                   VDS_LUN_INFORMATION* rgLunInformation) override;
    HRESULT STDMETHODCALLTYPE GetTargetLuns(LONG lLunCount, VSS_PWSZ* rgDeviceNames,
                                            VDS_LUN_INFORMATION* rgSourceLuns,
                                            VDS_LUN_INFORMATION* rgDestinationLuns) override;
    HRESULT STDMETHODCALLTYPE LocateLuns(LONG lLunCount,
                                         VDS_LUN_INFORMATION* rgSourceLuns) override;
    HRESULT STDMETHODCALLTYPE OnLunEmpty(VSS_PWSZ wszDeviceName,
                                         VDS_LUN_INFORMATION* pInformation) override;

    // IVssHardwareSnapshotProviderEx
    HRESULT STDMETHODCALLTYPE
    GetProviderCapabilities(ULONGLONG* pllOriginalCapabilityMask) override;
    HRESULT STDMETHODCALLTYPE OnLunStateChange(VDS_LUN_INFORMATION* pSnapshotLuns,
                                               VDS_LUN_INFORMATION* pOriginalLuns, DWORD dwCount,
                                               DWORD dwFlags) override;
    HRESULT STDMETHODCALLTYPE ResyncLuns(VDS_LUN_INFORMATION* pSourceLuns,
                                         VDS_LUN_INFORMATION* pTargetLuns, DWORD dwCount,
                                         IVssAsync** ppAsync) override;
    HRESULT STDMETHODCALLTYPE OnReuseLuns(VDS_LUN_INFORMATION* pSnapshotLuns,
                                          VDS_LUN_INFORMATION* pOriginalLuns,
                                          DWORD dwCount) override;

    // IVssProviderCreateSnapshotSet
    HRESULT STDMETHODCALLTYPE EndPrepareSnapshots(VSS_ID SnapshotSetId) override;
    HRESULT STDMETHODCALLTYPE PreCommitSnapshots(VSS_ID SnapshotSetId) override;
    HRESULT STDMETHODCALLTYPE CommitSnapshots(VSS_ID SnapshotSetId) override;
    HRESULT STDMETHODCALLTYPE PostCommitSnapshots(VSS_ID SnapshotSetId,
                                                  LONG lSnapshotsCount) override;
    HRESULT STDMETHODCALLTYPE PreFinalCommitSnapshots(VSS_ID SnapshotSetId) override;
    HRESULT STDMETHODCALLTYPE PostFinalCommitSnapshots(VSS_ID SnapshotSetId) override;
    HRESULT STDMETHODCALLTYPE AbortSnapshots(VSS_ID SnapshotSetId) override;

    // IVssProviderNotifications
    HRESULT STDMETHODCALLTYPE OnLoad(IUnknown* pCallback) override;
    HRESULT STDMETHODCALLTYPE OnUnload(WINBOOL bForceUnload) override;

  private:
    CQProviderObject() = default;
    ~CQProviderObject() = default;
    CQProviderObject(const CQProviderObject&) = delete;
    CQProviderObject& operator=(const CQProviderObject&) = delete;

    ModuleLock m_moduleLock;  // first: held until every other member is gone
    ULONG m_refCount = 0;
    CQProvider m_provider;
};
