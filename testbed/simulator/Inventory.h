// The simulated array's objects: volume groups and their volumes, snapshots
// with their volume snapshots, hosts and host groups, LUN mappings, and
// replication sessions with their volumes. Plain records in ordered lists
// (replies list them in this order); the lookups return pointers into the
// lists, valid until the next change of that list.
//
// Names never contain ":" or ",": ":" qualifies snapshot names
// (group:snapshot, group:snapshot:volume) and "," joins lists in arguments.
#pragma once

#include <string>
#include <vector>

#include "Serials.h"

namespace marl::sim {

struct Volume {
    std::string name;
    std::string scsiSn;
    std::string group;   // empty when the volume is in no group
    std::string peerSn;  // serial of the replica, empty when not replicated
    bool markedForDeletion = false;
    std::string restoredFrom;  // last snapshot this volume was restored from
};

struct RestoreRecord {
    std::string snapshot;            // group:snapshot restored from
    std::string preRestoreSnapshot;  // group:snapshot kept of the state before
};

struct VolumeGroup {
    std::string name;
    std::vector<RestoreRecord> restores;
};

struct VolumeSnapshot {
    std::string volume;     // base volume
    std::string scsiSn;     // empty for snapshots hosts cannot see
    std::string vssScsiSn;  // set by set_snapshot_vss_scsi_sn
    bool markedForDeletion = false;
};

enum class SnapshotKind { Scenario, Unexposable, Exposable, Replication, PreRestore };
const char* KindName(SnapshotKind kind);
bool KindFromName(const std::string& name, SnapshotKind& kind);

struct Snapshot {
    std::string group;
    std::string name;    // unqualified
    std::string source;  // the group, or group:snapshot it was taken from
    std::string retentionPolicy;
    SnapshotKind kind = SnapshotKind::Scenario;
    bool exposable = false;
    bool vssSerialsSet = false;
    std::vector<VolumeSnapshot> volsnaps;

    std::string FullName() const { return group + ":" + name; }
    std::string VolSnapName(const VolumeSnapshot& v) const { return FullName() + ":" + v.volume; }
};

struct Host {
    std::string name;
    std::string hostGroup;  // empty when in none
};

struct HostGroup {
    std::string name;
};

// One LUN made visible to a host or a host group: a volume or a volume
// snapshot (group:snapshot:volume).
struct Mapping {
    std::string object;
    std::string host;
    std::string hostGroup;
};

struct ReplicationSession {
    std::string name;
    std::string localGroup;
    std::string type;  // "async" or "sync"
    std::string remoteGroup;
};

struct ReplicationVolume {
    std::string session;
    std::string localVolume;
    std::string remoteVolume;
};

struct Inventory {
    std::vector<VolumeGroup> groups;
    std::vector<Volume> volumes;
    std::vector<Snapshot> snapshots;
    std::vector<Host> hosts;
    std::vector<HostGroup> hostGroups;
    std::vector<Mapping> mappings;
    std::vector<ReplicationSession> replicationSessions;
    std::vector<ReplicationVolume> replicationVolumes;
    // Names a snapshot may be created with; empty means any name is accepted.
    std::vector<std::string> retentionPolicies;
    // The vol_show payload, made on first use and kept while the volumes'
    // listed fields (name, serial, group, peer, deletion mark) stay as they
    // are; whatever changes one of those must clear it. Large inventories are
    // listed over and over by client benchmarks.
    std::string volShowData;
    SerialAllocator serials;
    unsigned long replicationSnapshotCounter = 0;
    unsigned long prepareCount = 0;

    VolumeGroup* FindGroup(const std::string& name);
    Volume* FindVolume(const std::string& name);
    Host* FindHost(const std::string& name);
    HostGroup* FindHostGroup(const std::string& name);
    ReplicationSession* FindSession(const std::string& name);
    Snapshot* FindSnapshot(const std::string& group, const std::string& name);
    std::vector<const Volume*> GroupVolumes(const std::string& group) const;
    bool RetentionPolicyKnown(const std::string& name) const;
};

// Resolves a snapshot reference: "group:snapshot", or a bare snapshot name
// that is looked up in `groupHint` when one is given and otherwise must be
// unique among all groups. On failure returns null and sets `problem`.
Snapshot* ResolveSnapshot(Inventory& inv, const std::string& ref, const std::string& groupHint,
                          std::string& problem);

struct VolSnapRef {
    Snapshot* snapshot = nullptr;
    size_t index = 0;
    VolumeSnapshot& Get() const { return snapshot->volsnaps[index]; }
};

// "group:snapshot:volume" to the volume snapshot; false when unknown.
bool ResolveVolSnap(Inventory& inv, const std::string& name, VolSnapRef& ref);
// The visible volume snapshot whose serial matches (case and padding aside).
bool FindVolSnapBySerial(Inventory& inv, const std::string& serial, VolSnapRef& ref);

// A name usable for an array object: not empty, no ":" or ",".
bool IsValidName(const std::string& name);

}  // namespace marl::sim
