// Restoring a volume group from one of its snapshots. The array first keeps a
// snapshot of the group as it is (the pre-restore snapshot, when a name for it
// is given), then rolls the group's volumes back; the simulator records the
// restore on the group and on each volume, since it holds no data.
#include "Commands.h"

namespace marl::sim {

namespace {

bool FindRestoreSource(Inventory& inv, const std::string& group, const std::string& ref,
                       std::string& fullName, CommandResult& failure) {
    std::string problem;
    const Snapshot* snap = ResolveSnapshot(inv, ref, group, problem);
    if (!snap) {
        failure = Failure(keys::kSnapshotNotFound, problem);
        return false;
    }
    if (snap->group != group) {
        failure = Failure(keys::kNotInGroup,
                          "snapshot " + snap->FullName() + " is not a snapshot of " + group);
        return false;
    }
    fullName = snap->FullName();
    return true;
}

void KeepPreRestoreSnapshot(Inventory& inv, const std::string& group, const std::string& name) {
    Snapshot keep;
    keep.group = group;
    keep.name = name;
    keep.source = group;
    keep.kind = SnapshotKind::PreRestore;
    for (const Volume* v : inv.GroupVolumes(group))
        keep.volsnaps.push_back({v->name, "", "", false});
    inv.snapshots.push_back(std::move(keep));
}

CommandResult VolsRestore(Inventory& inv, const StringPairs& args) {
    CommandResult failure;
    std::string group, ref, source;
    if (!RequireArg(args, "vg_name", group, failure) ||
        !RequireArg(args, "snapshot_name", ref, failure)) {
        return failure;
    }
    VolumeGroup* vg = inv.FindGroup(group);
    if (!vg) return Failure(keys::kGroupNotFound, "volume group " + group + " does not exist");
    if (!FindRestoreSource(inv, group, ref, source, failure)) return failure;
    std::string pre = args.Get("pre_restore_snapshot_name");
    if (!pre.empty()) {
        if (!CheckNewSnapshotName(inv, group, pre, failure)) return failure;
        KeepPreRestoreSnapshot(inv, group, pre);
    }
    for (auto& v : inv.volumes) {
        if (v.group == group) v.restoredFrom = source;
    }
    vg->restores.push_back({source, pre.empty() ? "" : group + ":" + pre});
    return Success("volume group " + group + " restored from " + source);
}

}  // namespace

void AddRestoreCommands(CommandTable& table) { table.Add("vols_restore", VolsRestore); }

}  // namespace marl::sim
