#include "Inventory.h"

#include <algorithm>

namespace marl::sim {

namespace {

struct KindEntry {
    SnapshotKind kind;
    const char* name;
};

constexpr KindEntry kKinds[] = {
    {SnapshotKind::Scenario, "scenario"},      {SnapshotKind::Unexposable, "unexposable"},
    {SnapshotKind::Exposable, "exposable"},    {SnapshotKind::Replication, "replication"},
    {SnapshotKind::PreRestore, "pre_restore"},
};

template <typename T>
T* FindByName(std::vector<T>& items, const std::string& name) {
    auto it = std::find_if(items.begin(), items.end(), [&](const T& t) { return t.name == name; });
    return it == items.end() ? nullptr : &*it;
}

}  // namespace

const char* KindName(SnapshotKind kind) {
    for (const auto& entry : kKinds) {
        if (entry.kind == kind) return entry.name;
    }
    return "scenario";
}

bool KindFromName(const std::string& name, SnapshotKind& kind) {
    for (const auto& entry : kKinds) {
        if (name == entry.name) {
            kind = entry.kind;
            return true;
        }
    }
    return false;
}

VolumeGroup* Inventory::FindGroup(const std::string& name) { return FindByName(groups, name); }
Volume* Inventory::FindVolume(const std::string& name) { return FindByName(volumes, name); }
Host* Inventory::FindHost(const std::string& name) { return FindByName(hosts, name); }
HostGroup* Inventory::FindHostGroup(const std::string& name) {
    return FindByName(hostGroups, name);
}

ReplicationSession* Inventory::FindSession(const std::string& name) {
    return FindByName(replicationSessions, name);
}

Snapshot* Inventory::FindSnapshot(const std::string& group, const std::string& name) {
    for (auto& snap : snapshots) {
        if (snap.group == group && snap.name == name) return &snap;
    }
    return nullptr;
}

std::vector<const Volume*> Inventory::GroupVolumes(const std::string& group) const {
    std::vector<const Volume*> members;
    for (const auto& vol : volumes) {
        if (vol.group == group) members.push_back(&vol);
    }
    return members;
}

bool Inventory::RetentionPolicyKnown(const std::string& name) const {
    if (name.empty() || retentionPolicies.empty()) return true;
    return std::find(retentionPolicies.begin(), retentionPolicies.end(), name) !=
           retentionPolicies.end();
}

Snapshot* ResolveSnapshot(Inventory& inv, const std::string& ref, const std::string& groupHint,
                          std::string& problem) {
    size_t colon = ref.find(':');
    if (colon != std::string::npos) {
        Snapshot* snap = inv.FindSnapshot(ref.substr(0, colon), ref.substr(colon + 1));
        if (!snap) problem = "snapshot " + ref + " does not exist";
        return snap;
    }
    if (!groupHint.empty()) {
        Snapshot* snap = inv.FindSnapshot(groupHint, ref);
        if (!snap) problem = "snapshot " + ref + " does not exist in volume group " + groupHint;
        return snap;
    }
    Snapshot* found = nullptr;
    for (auto& snap : inv.snapshots) {
        if (snap.name != ref) continue;
        if (found) {
            problem = "snapshot name " + ref + " exists in more than one volume group; " +
                      "name it as group:snapshot";
            return nullptr;
        }
        found = &snap;
    }
    if (!found) problem = "snapshot " + ref + " does not exist";
    return found;
}

bool ResolveVolSnap(Inventory& inv, const std::string& name, VolSnapRef& ref) {
    size_t last = name.rfind(':');
    if (last == std::string::npos) return false;
    std::string problem;
    std::string snapRef = name.substr(0, last);
    if (snapRef.find(':') == std::string::npos) return false;
    Snapshot* snap = ResolveSnapshot(inv, snapRef, "", problem);
    if (!snap) return false;
    std::string volume = name.substr(last + 1);
    for (size_t i = 0; i < snap->volsnaps.size(); ++i) {
        if (snap->volsnaps[i].volume == volume) {
            ref = {snap, i};
            return true;
        }
    }
    return false;
}

bool FindVolSnapBySerial(Inventory& inv, const std::string& serial, VolSnapRef& ref) {
    const std::string wanted = NormaliseSerial(serial);
    for (auto& snap : inv.snapshots) {
        for (size_t i = 0; i < snap.volsnaps.size(); ++i) {
            const std::string& sn = snap.volsnaps[i].scsiSn;
            if (!sn.empty() && NormaliseSerial(sn) == wanted) {
                ref = {&snap, i};
                return true;
            }
        }
    }
    return false;
}

bool IsValidName(const std::string& name) {
    return !name.empty() && name.find_first_of(":,") == std::string::npos;
}

}  // namespace marl::sim
