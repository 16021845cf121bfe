#pragma once
// CQArrayClient: the array operations the provider object uses.
//
// The provider holds one client. Every operation talks to the array through
// complete exchanges of its own: login, one command, logout (ArrayTransport).
// Replies are judged by the envelope check (ResponseEnvelope.h) and read by
// the parsers (ResponseParsers.h). The client keeps nothing between
// operations but the settings it was made with: the operations that work on
// the snapshot set in progress are handed it (SnapshotSet.h), and what they
// do outside the array goes through the seams it was made with
// (ArrayClientSeams.h).
//
// Results: 0 is success. Non-zero is either the transport's code (1, or
// E_ARRAY_SESSION 0x8000401D) or 1 when the array refused the command or its
// reply could not be used. No operation lets a parse error out; an allocation
// failure (std::bad_alloc) is not caught, so that the caller's VSS frame turns
// it into E_OUTOFMEMORY. Everything is logged under the function names
// "CQProvider::<member>" (module "PROVIDER", unit "QProviderInterface").
//
// Ownership: lists handed in are the caller's; the lookups return pointers
// into the list they searched (valid while that list keeps the record).
//
// Thread safety: the class takes no lock. The operations that are handed a
// snapshot set rely on the caller to keep others off it; all share only the
// read-only settings and may run side by side.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/ProviderSettings.h"
#include "json/JsonNode.h"
#include "platform/http_client.h"
#include "provider/array/ArrayClientSeams.h"
#include "provider/array/ArrayRecords.h"
#include "provider/array/ArrayTransport.h"
#include "provider/array/SnapshotSet.h"
#include "provider/array/VolSnapSerialIndex.h"

namespace marl::array {

class CQArrayClient {
  public:
    // The client over the HTTP backend this build compiled.
    explicit CQArrayClient(const ProviderSettings& settings);
    // The client over HTTP clients made by `factory` (tests: a scripted
    // backend, or the real one aimed at a simulator).
    CQArrayClient(const ProviderSettings& settings, marl::platform::HttpClientFactory factory);
    // The same, acting outside the array through `seams`, which must outlive
    // the client.
    CQArrayClient(const ProviderSettings& settings, marl::platform::HttpClientFactory factory,
                  ArrayClientSeams& seams);
    ~CQArrayClient();
    CQArrayClient(const CQArrayClient&) = delete;
    CQArrayClient& operator=(const CQArrayClient&) = delete;

    // --- Transport (ArrayTransport): one complete exchange per call.
    uint32_t SendArrayRequest(const std::wstring& command, const std::wstring& args,
                              std::string& reply);
    uint32_t SendQ9HttpsRequest(const std::wstring& command, const std::wstring& args,
                                std::string& reply);
    uint32_t SendNxaHttpRequest(const std::wstring& command, const std::wstring& args,
                                std::string& reply);
    // The "?args=" query of `count` (name, value) pairs; empty for count <= 0.
    static std::wstring BuildArgs(int count, const ArgPair* pairs);

    // --- Inventory queries and lookups.
    // All array volumes ("vol_show"), appended to `luns`.
    uint32_t GetAllQLuns(LunInfoList& luns);
    // Peer serials ("replication_volume_show") set on the records of `luns`.
    uint32_t GetAllQLunsReplicas(LunInfoList& luns);
    // All replication sessions ("replication_session_show"), appended.
    uint32_t GetAllQReplicationSessions(SessionInfoList& sessions);
    // The volume snapshots of every group of `cgList` ("volsnap_show" per
    // group), appended. No group: no request, result 0.
    uint32_t GetAllQVolSnaps(const CgInfoList& cgList, LunInfoList& volSnaps);
    // First record whose sn (FindQLunBySn) or peerSn (FindQLunByRepSn)
    // equals `serial` exactly; nullptr when none.
    LunInfo* FindQLunBySn(LunInfoList& luns, const std::string& serial);
    LunInfo* FindQLunByRepSn(LunInfoList& luns, const std::string& serial);
    // The session to use for group `cgName`: the first asynchronous one,
    // else the last matching one; nullptr when none matches.
    SessionInfo* FindQRepSessionByCg(SessionInfoList& sessions, const std::string& cgName);
    // Registers a group in `cgList` (once) with its snapshot name
    // "VSS_" + prefix + "_" + suffix, the prefix cut so that the name plus
    // "_un" fits 32 characters.
    void AddCGGroupNameToList(CgInfoList& cgList, std::string cgName, std::string repSessionName,
                              std::string suffix);
    // Releases a snapshot LUN ("vss_volsnap_empty"). A null or empty serial is
    // not sent and gives VSS_E_PROVIDER_VETO (0x80042306).
    uint32_t deleteSnapshotLun(const char* serialNumber);

    // --- Snapshot creation.
    // One unexposable snapshot per group of `cgList` not replicated, then one
    // replication-session snapshot per replicated group (replication mode on);
    // stores the replication snapshot names in `cgList`.
    uint32_t TakeSnap(CgInfoList& cgList);
    // "vss_prepare_for_snapshot", repeated up to twice, 1 s apart, while the
    // exchange fails and its reply does not report success.
    uint32_t PrepareForSnap();
    // 0 when every volume of every group of the set is among its LUNs.
    uint32_t CheckCGSetFull(const SnapshotSet& set);
    // The volume names of group `cgName` ("vg_show"), appended.
    uint32_t GetCGVolNames(const std::string& cgName, NameList& volNames);

    // --- Snapshot exposure and mapping.
    // Exposable snapshots of the set's groups, once per set: sets
    // `set.snapsExposed`, and does nothing while it is set.
    uint32_t ExposeSnap(SnapshotSet& set);
    // "cg:snap:vol" and "cg:snap" for the set's source LUN with `serial`; 1
    // when no SnapInfo has it.
    uint32_t BuildVolSnapNames(const SnapshotSet& set, const std::string& serial,
                               std::string& volSnapName, std::string& cgSnapName);
    // Serials (appended) and volume name (assigned) of one volume snapshot.
    uint32_t GetSnapLunSN(const std::string& volSnapName, std::string& targetLunId,
                          std::string& peerTargetLunId, std::string& volName);
    // The volume snapshots of `volumeGroup` (nullptr: of all groups),
    // appended, each with its serials and volume name filled.
    uint32_t GetQVolSnaps(const char* volumeGroup, LunInfoList& records);
    // The same listing ("snapshot_show"), appended with the serials and
    // volume names left empty; the result is GetQVolSnaps's.
    uint32_t ListQVolSnaps(const char* volumeGroup, LunInfoList& records);
    // Every volume snapshot's serials by name, from one listing
    // ("volsnap_show" without a name). 0, the transport's code, or 1.
    uint32_t GetVolSnapSerialIndex(VolSnapSerialIndex& index);
    // Keeps in `records` (a ListQVolSnaps listing) only the volume snapshots
    // that may hold one of `wanted` as serial or peer serial, and fills their
    // serials and volume name as GetQVolSnaps does, one exchange each, in
    // order. Which may hold one is judged from `listing`, read on first need
    // (GetVolSnapSerialIndex) and kept for the caller's later calls; without
    // it, or when a serial wanted is empty, every record is kept and filled.
    // A record that GetQVolSnaps would have filled with a serial wanted is
    // therefore always kept.
    void LookUpVolSnapsHolding(LunInfoList& records, const SerialSet& wanted,
                               VolSnapListing& listing);
    // Maps every named volume snapshot to the configured host, or to its host
    // group; on a VMware guest then has the helper rescan and attach
    // `scsiSerials` (" sn1,sn2,...").
    uint32_t MapSnapshots(const NameList& volSnapNames, const std::string& scsiSerials);
    uint32_t VolMap(const std::string& volName, const std::string& hostName);
    uint32_t VolMapToHostGrp(const std::string& volName, const std::string& groupName);
    // True when the array knows a host group named `name`.
    bool IsHostGrpName(const std::string& name);

    // --- Snapshot restore.
    // Restores group n of `cgList` from snapshot n of `snapList`, stopping at
    // the first failure; 1 when the lengths differ.
    uint32_t SnapsRestore(const NameList& cgList, const NameList& snapList);
    uint32_t SnapRestore(const std::string& cgName, const std::string& snapName);

    const ProviderSettings& Settings() const { return m_settings; }

  private:
    struct SnapBatches;
    struct ListingQuery;
    using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;
    static std::wstring Args(const Pairs& pairs);
    static std::wstring Widen(const std::string& text);
    // Parses `reply` and applies the envelope check: true when the reply
    // reports failure. `data` receives the payload. Throws what the JSON
    // parser throws for text that is not JSON.
    static bool ReplyFailed(const std::string& reply, marl::json::JsonNode& data);
    // How ReadReply found a command's reply.
    enum class ReplyReading { kAccepted, kRefused, kUnreadable };
    // The reply check every command shares (defined in ArrayReply.h): a reply
    // whose envelope reports failure logs "<command> failed" at ERROR for
    // `function` and gives kRefused; otherwise `read(data)` takes the payload
    // and the result is kAccepted. A reply that is not JSON, or a payload that
    // `read` cannot follow, goes to `onUnreadable(exception)` (which logs it
    // the command's own way) and gives kUnreadable. std::bad_alloc passes.
    template <class Read, class OnUnreadable>
    static ReplyReading ReadReply(const char* function, const char* command,
                                  const std::string& reply, Read&& read,
                                  OnUnreadable&& onUnreadable);
    static void LogRefusedReply(const char* function, const char* command);
    // Sends `command` (SendArrayRequest) and, when the exchange fails, logs
    // "<command> failed 0x%08x" at ERROR for `function`; returns its code.
    uint32_t SendCommand(const char* function, const char* command, const std::wstring& args,
                         std::string& reply);
    // For a command whose payload is not read.
    struct IgnorePayload {
        void operator()(const marl::json::JsonNode&) const {}
    };
    // The reply check of the commands whose refusal is logged but tolerated:
    // a failure key logs "<command> failed" and gives 0, a reply that is not
    // JSON logs "could not parse response for <command>" and gives 1.
    static uint32_t CheckTolerantReply(const char* function, const char* command,
                                       const std::string& reply);
    bool IsReplicatedEntry(const CgInfo& cg) const;

    uint32_t RunListingQuery(const ListingQuery& query,
                             const std::function<void(const marl::json::JsonNode&)>& parse);

    uint32_t CreateUnexposableSnapshots(const SnapBatches& batches, uint32_t& result);
    uint32_t CreateReplicationSnapshots(CgInfoList& cgList, const SnapBatches& batches,
                                        uint32_t& result);
    void ReadReplicationReply(CgInfoList& cgList, const std::string& reply, uint32_t& result);
    void StoreReplicationSnapNames(CgInfoList& cgList, const NameList& names);
    bool PrepareReplyReportsSuccess(const std::string& reply);
    uint32_t ExposeReplicatedGroups(const CgInfoList& cgList, uint32_t result);
    uint32_t MapVolume(const std::string& volName, const std::string& target, bool hostGroup);
    std::string HelperSafeSerials(const std::string& scsiSerials);
    uint32_t FindRestoreSource(const std::string& cgName, const std::string& snapName,
                               std::string& source);

    const ProviderSettings m_settings;
    ArrayClientSeams& m_seams;
    ArrayTransport m_transport;
};

}  // namespace marl::array
