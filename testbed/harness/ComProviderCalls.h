#pragma once
// The harness's --com mode (Windows build): the provider is MarlVssProvider.dll
// as registered on this machine, created the way VSS creates it
// (CoCreateInstance of CLSID_QProvider, in-process) and called only through
// IVssHardwareSnapshotProviderEx, IVssProviderCreateSnapshotSet and
// IVssProviderNotifications.
//
// The caller initialises COM (apartment threaded) on the thread first and
// uninitialises it after the object is gone. Not thread-safe.
#include <memory>
#include <ostream>

#include "ProviderCalls.h"

namespace marl::harness {

class ComProviderCalls final : public ProviderCalls {
  public:
    // Creates the provider, asks for its three interfaces and calls OnLoad,
    // printing each call and its result on `out`. nullptr when one of them
    // failed (the printed lines say which).
    static std::unique_ptr<ComProviderCalls> Create(std::ostream& out);
    // OnUnload(TRUE) and the release of every interface pointer (the last one
    // destroys the provider object), printed.
    ~ComProviderCalls() override;
    ComProviderCalls(const ComProviderCalls&) = delete;
    ComProviderCalls& operator=(const ComProviderCalls&) = delete;

    HRESULT AreLunsSupported(LONG count, VDS_LUN_INFORMATION* luns, BOOL* supported) override;
    HRESULT FillInLunInfo(VDS_LUN_INFORMATION* lun, BOOL* supported) override;
    HRESULT BeginPrepareSnapshot(const VSS_ID& setId, const VSS_ID& snapshotId, LONG count,
                                 VDS_LUN_INFORMATION* luns) override;
    HRESULT GetTargetLuns(LONG count, VDS_LUN_INFORMATION* sources,
                          VDS_LUN_INFORMATION* targets) override;
    HRESULT LocateLuns(LONG count, VDS_LUN_INFORMATION* luns) override;
    HRESULT OnLunEmpty(VDS_LUN_INFORMATION* lun) override;
    HRESULT OnLunStateChange(VDS_LUN_INFORMATION* snapshots, VDS_LUN_INFORMATION* originals,
                             DWORD count, DWORD flags) override;
    HRESULT ResyncLuns(VDS_LUN_INFORMATION* snapshots, VDS_LUN_INFORMATION* destinations,
                       DWORD count, IVssAsync** async) override;
    HRESULT EndPrepareSnapshots(const VSS_ID& setId) override;
    HRESULT PreCommitSnapshots(const VSS_ID& setId) override;
    HRESULT CommitSnapshots(const VSS_ID& setId) override;
    HRESULT PostCommitSnapshots(const VSS_ID& setId, LONG count) override;
    HRESULT PreFinalCommitSnapshots(const VSS_ID& setId) override;
    HRESULT PostFinalCommitSnapshots(const VSS_ID& setId) override;
    HRESULT AbortSnapshots(const VSS_ID& setId) override;

  private:
    explicit ComProviderCalls(std::ostream& out) : m_out(out) {}

    std::ostream& m_out;
    IVssHardwareSnapshotProviderEx* m_hardware = nullptr;
    IVssProviderCreateSnapshotSet* m_set = nullptr;
    IVssProviderNotifications* m_notifications = nullptr;
};

}  // namespace marl::harness
