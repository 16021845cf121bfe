// Making snapshot LUNs visible to hosts and giving them back. A mapping joins
// one LUN (a volume or a volume snapshot) to a host or a host group; mapping a
// whole snapshot maps each of its volume snapshots.
#include <algorithm>

#include "Commands.h"

namespace marl::sim {

namespace {

struct MapTarget {
    std::string host;
    std::string hostGroup;
};

bool ReadTarget(Inventory& inv, const StringPairs& args, MapTarget& target,
                CommandResult& failure) {
    target = {args.Get("host"), args.Get("hostgrp")};
    if (!target.host.empty() && !target.hostGroup.empty()) {
        failure = Failure(keys::kInvalidArgument, "give either host or hostgrp, not both");
        return false;
    }
    if (target.host.empty() && target.hostGroup.empty()) {
        failure = Failure(keys::kMissingArgument, "argument host or hostgrp is required");
        return false;
    }
    if (!target.host.empty() && !inv.FindHost(target.host)) {
        failure = Failure(keys::kHostNotFound, "host " + target.host + " does not exist");
        return false;
    }
    if (!target.hostGroup.empty() && !inv.FindHostGroup(target.hostGroup)) {
        failure =
            Failure(keys::kHostGroupNotFound, "host group " + target.hostGroup + " does not exist");
        return false;
    }
    return true;
}

bool ExposableOrFail(const Snapshot& snap, CommandResult& failure) {
    if (snap.exposable) return true;
    failure = Failure(keys::kNotExposable, "snapshot " + snap.FullName() + " is not exposable");
    return false;
}

size_t CountSnapshotsNamed(const Inventory& inv, const std::string& name) {
    return static_cast<size_t>(std::count_if(inv.snapshots.begin(), inv.snapshots.end(),
                                             [&](const Snapshot& s) { return s.name == name; }));
}

// The LUNs an object name stands for: "group:snapshot:volume", a snapshot
// ("group:snapshot" or a unique bare name), or a volume.
bool ResolveLuns(Inventory& inv, const std::string& name, std::vector<std::string>& luns,
                 CommandResult& failure) {
    size_t colons = static_cast<size_t>(std::count(name.begin(), name.end(), ':'));
    VolSnapRef ref;
    if (colons == 2 && ResolveVolSnap(inv, name, ref)) {
        if (!ExposableOrFail(*ref.snapshot, failure)) return false;
        luns.push_back(ref.snapshot->VolSnapName(ref.Get()));
        return true;
    }
    if (colons == 1 || (colons == 0 && CountSnapshotsNamed(inv, name) > 0)) {
        std::string problem;
        const Snapshot* snap = ResolveSnapshot(inv, name, "", problem);
        if (!snap) {
            failure = Failure(keys::kSnapshotNotFound, problem);
            return false;
        }
        if (!ExposableOrFail(*snap, failure)) return false;
        for (const auto& v : snap->volsnaps) luns.push_back(snap->VolSnapName(v));
        return true;
    }
    if (colons == 0 && inv.FindVolume(name)) {
        luns.push_back(name);
        return true;
    }
    failure = Failure(keys::kSnapshotNotFound,
                      "no snapshot, volume snapshot or volume named " + name + " exists");
    return false;
}

bool IsMapped(const Inventory& inv, const std::string& lun, const MapTarget& target) {
    return std::any_of(inv.mappings.begin(), inv.mappings.end(), [&](const Mapping& m) {
        return m.object == lun && m.host == target.host && m.hostGroup == target.hostGroup;
    });
}

CommandResult VolMap(Inventory& inv, const StringPairs& args) {
    CommandResult failure;
    MapTarget target;
    std::string object;
    std::vector<std::string> luns;
    if (!ReadTarget(inv, args, target, failure) || !RequireArg(args, "snapshot", object, failure) ||
        !ResolveLuns(inv, object, luns, failure)) {
        return failure;
    }
    size_t added = 0;
    for (const auto& lun : luns) {
        if (IsMapped(inv, lun, target)) continue;
        inv.mappings.push_back({lun, target.host, target.hostGroup});
        ++added;
    }
    std::string to = target.host.empty() ? "host group " + target.hostGroup : "host " + target.host;
    return Success(std::to_string(added) + " LUN(s) of " + object + " mapped to " + to);
}

// Releases the snapshot LUN with that serial: its mappings go, the volume
// snapshot goes, and a snapshot left without volume snapshots goes with it.
CommandResult VssVolSnapEmpty(Inventory& inv, const StringPairs& args) {
    CommandResult failure;
    std::string serial;
    if (!RequireArg(args, "scsi_sn", serial, failure)) return failure;
    VolSnapRef ref;
    if (!FindVolSnapBySerial(inv, serial, ref)) {
        return Failure(keys::kVolSnapNotFound, "no volume snapshot has scsi_sn " + serial);
    }
    std::string lun = ref.snapshot->VolSnapName(ref.Get());
    auto& maps = inv.mappings;
    maps.erase(
        std::remove_if(maps.begin(), maps.end(), [&](const Mapping& m) { return m.object == lun; }),
        maps.end());
    Snapshot& snap = *ref.snapshot;
    snap.volsnaps.erase(snap.volsnaps.begin() + static_cast<std::ptrdiff_t>(ref.index));
    if (snap.volsnaps.empty()) {
        inv.snapshots.erase(inv.snapshots.begin() + (&snap - inv.snapshots.data()));
    }
    return Success("volume snapshot " + lun + " released");
}

}  // namespace

void AddMappingCommands(CommandTable& table) {
    table.Add("vol_map", VolMap);
    table.Add("vss_volsnap_empty", VssVolSnapEmpty);
}

}  // namespace marl::sim
