#pragma once
// CQProvider: the hardware snapshot provider that VSS drives.
//
// VSS walks one snapshot set at a time through this object: it asks which
// LUNs are supported, announces the set's LUNs (BeginPrepareSnapshot), moves
// the set through end-of-prepare, pre-commit, commit and post-commit, asks for
// descriptions of the snapshot LUNs and has them located, and later releases
// LUNs or asks for a resync. The array work is done by the array client the
// object holds (CQArrayClient.h); this class keeps the set and its state,
// hands the set to the client operations that work on it, and answers VSS.
// What the client does outside the array (pauses, the clock, the VMware
// helper) goes through this object's seams, which test doubles override.
//
// Results: every VSS method returns one of S_OK, VSS_E_PROVIDER_VETO,
// E_OUTOFMEMORY or E_NOTIMPL and never lets an exception out. A failing
// snapshot-set method discards the set (DeleteAbortedSnapshots) and leaves the
// state VSS_SS_ABORTED.
//
// Ownership: VDS_LUN_INFORMATION records belong to VSS; texts the provider
// writes into them are COM task memory, freed by VSS.
//
// Thread safety: every method that reads or changes the set state holds m_cs
// (re-entrant) for its whole run, array round trips included.
// PreFinal/PostFinalCommitSnapshots, OnLoad, GetProviderCapabilities,
// OnReuseLuns and ResyncLuns touch no set state and take no lock.
#include <mutex>

#include "provider/array/ArrayClientSeams.h"
#include "provider/array/CQArrayClient.h"
#include "provider/array/SnapshotSet.h"
#include "vss/VssTypes.h"

// The messages of one method's state and set-id check.
namespace marl::provider {
struct QProviderStateCheck;
}  // namespace marl::provider

class CQProvider : public marl::array::ArrayClientSeams {
  public:
    // Opens the log "<install folder>marl_vss_log.txt", logs the version and
    // reads "<install folder>marl_vss_conf.txt" (a missing file leaves the
    // defaults). Never fails for a bad or missing file.
    CQProvider();
    // The same, with the array reached through HTTP clients made by
    // `factory` (tests, the harness and benchmarks aim it at a simulator).
    explicit CQProvider(marl::platform::HttpClientFactory factory);
    // Discards an unfinished set first (OnUnload(TRUE)).
    ~CQProvider() override;
    CQProvider(const CQProvider&) = delete;
    CQProvider& operator=(const CQProvider&) = delete;

    // IVssHardwareSnapshotProvider
    HRESULT AreLunsSupported(LONG lLunCount, LONG lContext, VSS_PWSZ* rgwszDevices,
                             VDS_LUN_INFORMATION* pLunInformation, BOOL* pbIsSupported);
    HRESULT FillInLunInfo(VSS_PWSZ wszDeviceName, VDS_LUN_INFORMATION* pLunInfo,
                          BOOL* pbIsSupported);
    HRESULT BeginPrepareSnapshot(VSS_ID SnapshotSetId, VSS_ID SnapshotId, LONG lContext,
                                 LONG lLunCount, VSS_PWSZ* rgDeviceNames,
                                 VDS_LUN_INFORMATION* rgLunInformation);
    // A failed call releases the snapshot LUNs that this call exposed (VSS
    // learns none of them); LUNs described by an earlier successful call
    // belong to VSS and stay until OnLunEmpty.
    HRESULT GetTargetLuns(LONG lLunCount, VSS_PWSZ* rgDeviceNames,
                          VDS_LUN_INFORMATION* rgSourceLuns,
                          VDS_LUN_INFORMATION* rgDestinationLuns);
    HRESULT LocateLuns(LONG lLunCount, VDS_LUN_INFORMATION* rgSourceLuns);
    HRESULT OnLunEmpty(VSS_PWSZ wszDeviceName, VDS_LUN_INFORMATION* pInformation);

    // IVssHardwareSnapshotProviderEx
    HRESULT GetProviderCapabilities(ULONGLONG* pllOriginalCapabilityMask);
    HRESULT OnLunStateChange(VDS_LUN_INFORMATION* pSnapshotLuns, VDS_LUN_INFORMATION* pOriginalLuns,
                             DWORD dwCount, DWORD dwFlags);
    // On S_OK, *ppAsync receives a completed async object (one reference, the
    // caller's) or nullptr when none could be made.
    HRESULT ResyncLuns(VDS_LUN_INFORMATION* pSourceLuns, VDS_LUN_INFORMATION* pTargetLuns,
                       DWORD dwCount, IVssAsync** ppAsync);
    HRESULT OnReuseLuns(VDS_LUN_INFORMATION* pSnapshotLuns, VDS_LUN_INFORMATION* pOriginalLuns,
                        DWORD dwCount);

    // IVssProviderCreateSnapshotSet
    HRESULT EndPrepareSnapshots(VSS_ID SnapshotSetId);
    HRESULT PreCommitSnapshots(VSS_ID SnapshotSetId);
    HRESULT CommitSnapshots(VSS_ID SnapshotSetId);
    HRESULT PostCommitSnapshots(VSS_ID SnapshotSetId, LONG lSnapshotsCount);
    HRESULT PreFinalCommitSnapshots(VSS_ID SnapshotSetId);
    HRESULT PostFinalCommitSnapshots(VSS_ID SnapshotSetId);
    HRESULT AbortSnapshots(VSS_ID SnapshotSetId);

    // IVssProviderNotifications
    HRESULT OnLoad(IUnknown* pCallback);
    HRESULT OnUnload(BOOL bForceUnload);

    // Asks the array to release the snapshot LUNs recorded in the set's
    // SnapInfo records (detaching them from the virtual machine first on a
    // VMware guest), then forgets the set's LUNs and groups. Nothing records
    // them: LUNs handed to VSS are released only by OnLunEmpty. m_state is
    // left to the caller. Takes m_cs itself.
    void DeleteAbortedSnapshots();

    // Read-only views for the harness and tests.
    VSS_SNAPSHOT_STATE State() const { return m_state; }
    const VSS_ID& SnapshotSetId() const { return m_snapshotSetId; }
    const marl::array::SnapInfoList& SnapInfos() const { return m_set.snapInfoList; }
    const marl::array::CgInfoList& CgInfos() const { return m_set.cgList; }
    const ProviderSettings& Settings() const { return m_array.Settings(); }
    // The array client, for the harness and tests that call an array
    // operation directly.
    marl::array::CQArrayClient& Array() { return m_array; }

  protected:
    // Seam for tests: detaches raw device mappings through the VMware helper.
    virtual void RunHelperRemoveRdm(const std::string& scsiSerials);

    bool IsLunSupported(VDS_LUN_INFORMATION* pLunInfo);
    void LogOnLunStateChangeMessage(const VDS_LUN_INFORMATION& lun, DWORD dwFlags);

    // The snapshot set in progress (test doubles prepare one directly).
    marl::array::SnapshotSet m_set;

  private:
    static ProviderSettings StartUp();
    void CheckState(VSS_SNAPSHOT_STATE required, const VSS_ID& setId,
                    const marl::provider::QProviderStateCheck& messages);
    HRESULT FinishSetMethod(const char* function, HRESULT hr);
    // FinishSetMethod as the tail of a set method's frame (VssMethodFrame.h).
    struct SetMethodTail {
        CQProvider* provider;
        const char* function;
        HRESULT operator()(HRESULT hr) const { return provider->FinishSetMethod(function, hr); }
    };
    void StartOrExtendSet(const VSS_ID& setId);
    void AddLunToSet(const VDS_LUN_INFORMATION& lun, marl::array::LunInfoList& volumes,
                     marl::array::SessionInfoList& sessions);
    HRESULT CheckLunsSupported(LONG count, VDS_LUN_INFORMATION* luns, BOOL* supported);
    HRESULT DescribeTargetLun(const VDS_LUN_INFORMATION& source, VDS_LUN_INFORMATION& dest);
    void ReleaseExposedLuns();
    HRESULT LocateLunsBody(LONG count, VDS_LUN_INFORMATION* luns);
    HRESULT FindResyncBaseVolumes(VDS_LUN_INFORMATION* destLuns, DWORD count,
                                  marl::array::NameList& baseNames, marl::array::NameList& groups);
    HRESULT CheckResyncGroupsFull(const marl::array::NameList& baseNames,
                                  const marl::array::NameList& groups);
    void FindResyncSnapNames(VDS_LUN_INFORMATION* snapshotLuns, DWORD count,
                             const marl::array::NameList& groups, marl::array::NameList& snapNames);
    HRESULT ResyncLunsBody(VDS_LUN_INFORMATION* snapshotLuns, VDS_LUN_INFORMATION* destLuns,
                           DWORD count, IVssAsync** ppAsync);
    HRESULT VerifyMaskedLuns(VDS_LUN_INFORMATION* snapshotLuns, DWORD count);

    marl::array::CQArrayClient m_array;
    VSS_ID m_snapshotSetId{};
    VSS_SNAPSHOT_STATE m_state = VSS_SS_UNKNOWN;
    std::recursive_mutex m_cs;
};
