#pragma once
// The calls VSS makes on a provider, as the harness makes them: one interface
// in front of either a provider object built in this process (DirectCalls) or
// the provider DLL created through COM and driven through its interface
// pointers (ComProviderCalls, Windows build). The session does not know which.
//
// Every method returns the provider's HRESULT unchanged. Not thread-safe.
#include "provider/CQProvider.h"

namespace marl::harness {

class ProviderCalls {
  public:
    virtual ~ProviderCalls() = default;

    virtual HRESULT AreLunsSupported(LONG count, VDS_LUN_INFORMATION* luns, BOOL* supported) = 0;
    virtual HRESULT FillInLunInfo(VDS_LUN_INFORMATION* lun, BOOL* supported) = 0;
    virtual HRESULT BeginPrepareSnapshot(const VSS_ID& setId, const VSS_ID& snapshotId, LONG count,
                                         VDS_LUN_INFORMATION* luns) = 0;
    virtual HRESULT GetTargetLuns(LONG count, VDS_LUN_INFORMATION* sources,
                                  VDS_LUN_INFORMATION* targets) = 0;
    virtual HRESULT LocateLuns(LONG count, VDS_LUN_INFORMATION* luns) = 0;
    virtual HRESULT OnLunEmpty(VDS_LUN_INFORMATION* lun) = 0;
    virtual HRESULT OnLunStateChange(VDS_LUN_INFORMATION* snapshots, VDS_LUN_INFORMATION* originals,
                                     DWORD count, DWORD flags) = 0;
    virtual HRESULT ResyncLuns(VDS_LUN_INFORMATION* snapshots, VDS_LUN_INFORMATION* destinations,
                               DWORD count, IVssAsync** async) = 0;
    virtual HRESULT EndPrepareSnapshots(const VSS_ID& setId) = 0;
    virtual HRESULT PreCommitSnapshots(const VSS_ID& setId) = 0;
    virtual HRESULT CommitSnapshots(const VSS_ID& setId) = 0;
    virtual HRESULT PostCommitSnapshots(const VSS_ID& setId, LONG count) = 0;
    virtual HRESULT PreFinalCommitSnapshots(const VSS_ID& setId) = 0;
    virtual HRESULT PostFinalCommitSnapshots(const VSS_ID& setId) = 0;
    virtual HRESULT AbortSnapshots(const VSS_ID& setId) = 0;
};

// The calls made straight on a provider object of this process.
class DirectCalls final : public ProviderCalls {
  public:
    explicit DirectCalls(CQProvider& provider) : m_p(provider) {}

    HRESULT AreLunsSupported(LONG count, VDS_LUN_INFORMATION* luns, BOOL* supported) override {
        return m_p.AreLunsSupported(count, 0, nullptr, luns, supported);
    }
    HRESULT FillInLunInfo(VDS_LUN_INFORMATION* lun, BOOL* supported) override {
        return m_p.FillInLunInfo(nullptr, lun, supported);
    }
    HRESULT BeginPrepareSnapshot(const VSS_ID& setId, const VSS_ID& snapshotId, LONG count,
                                 VDS_LUN_INFORMATION* luns) override {
        return m_p.BeginPrepareSnapshot(setId, snapshotId, 0, count, nullptr, luns);
    }
    HRESULT GetTargetLuns(LONG count, VDS_LUN_INFORMATION* sources,
                          VDS_LUN_INFORMATION* targets) override {
        return m_p.GetTargetLuns(count, nullptr, sources, targets);
    }
    HRESULT LocateLuns(LONG count, VDS_LUN_INFORMATION* luns) override {
        return m_p.LocateLuns(count, luns);
    }
    HRESULT OnLunEmpty(VDS_LUN_INFORMATION* lun) override { return m_p.OnLunEmpty(nullptr, lun); }
    HRESULT OnLunStateChange(VDS_LUN_INFORMATION* snapshots, VDS_LUN_INFORMATION* originals,
                             DWORD count, DWORD flags) override {
        return m_p.OnLunStateChange(snapshots, originals, count, flags);
    }
    HRESULT ResyncLuns(VDS_LUN_INFORMATION* snapshots, VDS_LUN_INFORMATION* destinations,
                       DWORD count, IVssAsync** async) override {
        return m_p.ResyncLuns(snapshots, destinations, count, async);
    }
    HRESULT EndPrepareSnapshots(const VSS_ID& id) override { return m_p.EndPrepareSnapshots(id); }
    HRESULT PreCommitSnapshots(const VSS_ID& id) override { return m_p.PreCommitSnapshots(id); }
    HRESULT CommitSnapshots(const VSS_ID& id) override { return m_p.CommitSnapshots(id); }
    HRESULT PostCommitSnapshots(const VSS_ID& id, LONG count) override {
        return m_p.PostCommitSnapshots(id, count);
    }
    HRESULT PreFinalCommitSnapshots(const VSS_ID& id) override {
        return m_p.PreFinalCommitSnapshots(id);
    }
    HRESULT PostFinalCommitSnapshots(const VSS_ID& id) override {
        return m_p.PostFinalCommitSnapshots(id);
    }
    HRESULT AbortSnapshots(const VSS_ID& id) override { return m_p.AbortSnapshots(id); }

  private:
    CQProvider& m_p;
};

}  // namespace marl::harness
