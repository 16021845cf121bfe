// Snapshot creation. The array snapshots whole volume groups: a snapshot has
// one volume snapshot per volume of its group. Hidden (unexposable and
// replication) snapshots carry no serials because no host can see them; an
// exposable snapshot's volume snapshots get fresh serials of their own. Batch
// requests are checked completely before anything is created, so a refused
// batch leaves the inventory as it was.
#include <cstdio>
#include <set>

#include "Commands.h"

namespace marl::sim {

namespace {

struct NewSnapshot {
    std::string group;
    std::string name;
    std::string source;
    const Snapshot* from = nullptr;  // null: taken from the group's volumes
};

Snapshot Materialise(Inventory& inv, const NewSnapshot& item, SnapshotKind kind,
                     const std::string& policy) {
    Snapshot snap;
    snap.group = item.group;
    snap.name = item.name;
    snap.source = item.source;
    snap.retentionPolicy = policy;
    snap.kind = kind;
    snap.exposable = kind == SnapshotKind::Exposable;
    std::vector<std::string> volumes;
    if (item.from) {
        for (const auto& v : item.from->volsnaps) volumes.push_back(v.volume);
    } else {
        for (const Volume* v : inv.GroupVolumes(item.group)) volumes.push_back(v->name);
    }
    for (const auto& vol : volumes) {
        snap.volsnaps.push_back({vol, snap.exposable ? inv.serials.Next() : "", "", false});
    }
    return snap;
}

std::string NamesListData(const std::vector<std::string>& names) {
    return BuildJson([&](JsonWriter& w) {
        w.StartObject();
        w.Key("snapshot_names_list");
        w.StartArray();
        for (const auto& n : names) WriteString(w, n);
        w.EndArray();
        w.EndObject();
    });
}

// Creates every planned snapshot and answers with their qualified names.
CommandResult CreateAll(Inventory& inv, const std::vector<NewSnapshot>& plan, SnapshotKind kind,
                        const std::string& policy) {
    std::vector<Snapshot> made;
    for (const auto& item : plan) made.push_back(Materialise(inv, item, kind, policy));
    std::vector<std::string> names;
    for (auto& snap : made) {
        names.push_back(snap.FullName());
        inv.snapshots.push_back(std::move(snap));
    }
    return Success(std::to_string(names.size()) + " snapshot(s) created", NamesListData(names));
}

// Shared checks of one planned snapshot: a valid, free name, also free among
// the snapshots planned before it in the same request.
bool AcceptPlanned(Inventory& inv, const NewSnapshot& item, std::set<std::string>& planned,
                   CommandResult& failure) {
    if (!CheckNewSnapshotName(inv, item.group, item.name, failure)) return false;
    if (!planned.insert(item.group + ":" + item.name).second) {
        failure = Failure(keys::kNameExists,
                          "snapshot " + item.group + ":" + item.name + " is named twice");
        return false;
    }
    return true;
}

bool ReadPairedLists(const StringPairs& args, std::vector<std::string>& names,
                     std::vector<std::string>& sources, CommandResult& failure) {
    std::string namesText, sourcesText;
    if (!RequireArg(args, "snapshot_names_list", namesText, failure) ||
        !RequireArg(args, "source_names_list", sourcesText, failure)) {
        return false;
    }
    names = SplitList(namesText);
    sources = SplitList(sourcesText);
    if (names.size() != sources.size()) {
        failure = Failure(keys::kInvalidArgument,
                          "snapshot_names_list has " + std::to_string(names.size()) +
                              " names but source_names_list has " + std::to_string(sources.size()));
        return false;
    }
    return true;
}

bool CheckConsistencyList(const StringPairs& args, size_t count, CommandResult& failure) {
    if (!args.Has("is_application_consistent_list")) return true;
    if (SplitList(args.Get("is_application_consistent_list")).size() == count) return true;
    failure = Failure(keys::kInvalidArgument,
                      "is_application_consistent_list must have one entry per snapshot");
    return false;
}

bool CheckPolicy(Inventory& inv, const std::string& policy, CommandResult& failure) {
    if (inv.RetentionPolicyKnown(policy)) return true;
    failure = Failure(keys::kPolicyNotFound, "retention policy " + policy + " does not exist");
    return false;
}

CommandResult PrepareForSnapshot(Inventory& inv, const StringPairs&) {
    ++inv.prepareCount;
    return Success("ready for snapshot");
}

CommandResult UnexposableSnapshotCreate(Inventory& inv, const StringPairs& args) {
    CommandResult failure;
    std::vector<std::string> names, groups;
    std::string policy = args.Get("retention_policy_name");
    if (!ReadPairedLists(args, names, groups, failure) ||
        !CheckConsistencyList(args, names.size(), failure) || !CheckPolicy(inv, policy, failure)) {
        return failure;
    }
    std::vector<NewSnapshot> plan;
    std::set<std::string> planned;
    for (size_t i = 0; i < names.size(); ++i) {
        if (!inv.FindGroup(groups[i])) {
            return Failure(keys::kGroupNotFound, "volume group " + groups[i] + " does not exist");
        }
        NewSnapshot item{groups[i], names[i], groups[i], nullptr};
        if (!AcceptPlanned(inv, item, planned, failure)) return failure;
        plan.push_back(item);
    }
    return CreateAll(inv, plan, SnapshotKind::Unexposable, policy);
}

// A source is a volume group, or a snapshot ("group:snapshot", or a bare name
// that is unique on the array).
bool PlanFromSource(Inventory& inv, const std::string& name, const std::string& source,
                    NewSnapshot& item, CommandResult& failure) {
    if (source.find(':') == std::string::npos && inv.FindGroup(source)) {
        item = {source, name, source, nullptr};
        return true;
    }
    std::string problem;
    const Snapshot* from = ResolveSnapshot(inv, source, "", problem);
    if (!from) {
        failure = Failure(keys::kSnapshotNotFound, problem);
        return false;
    }
    item = {from->group, name, from->FullName(), from};
    return true;
}

CommandResult ExposableSnapshotCreate(Inventory& inv, const StringPairs& args) {
    CommandResult failure;
    std::vector<std::string> names, sources;
    std::string policy = args.Get("retention_policy_name");
    if (!ReadPairedLists(args, names, sources, failure) || !CheckPolicy(inv, policy, failure)) {
        return failure;
    }
    std::vector<NewSnapshot> plan;
    std::set<std::string> planned;
    for (size_t i = 0; i < names.size(); ++i) {
        NewSnapshot item;
        if (!PlanFromSource(inv, names[i], sources[i], item, failure) ||
            !AcceptPlanned(inv, item, planned, failure)) {
            return failure;
        }
        plan.push_back(item);
    }
    return CreateAll(inv, plan, SnapshotKind::Exposable, policy);
}

// "<session>_rsnap_<counter>", skipping names a scenario already uses.
std::string NextReplicationName(Inventory& inv, const std::string& session,
                                const std::string& group) {
    while (true) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "_rsnap_%06lu", ++inv.replicationSnapshotCounter);
        std::string name = session + suffix;
        if (!inv.FindSnapshot(group, name)) return name;
    }
}

// The array names replication snapshots itself; the reply lists the names in
// the order of the sessions asked for.
CommandResult ReplicationSessionSnapshotCreate(Inventory& inv, const StringPairs& args) {
    CommandResult failure;
    std::string sessionsText;
    if (!RequireArg(args, "replication_session_names_list", sessionsText, failure)) return failure;
    std::vector<std::string> sessions = SplitList(sessionsText);
    if (!CheckConsistencyList(args, sessions.size(), failure)) return failure;
    for (const auto& name : sessions) {
        if (!inv.FindSession(name)) {
            return Failure(keys::kSessionNotFound,
                           "replication session " + name + " does not exist");
        }
    }
    std::vector<NewSnapshot> plan;
    for (const auto& name : sessions) {
        const ReplicationSession* session = inv.FindSession(name);
        plan.push_back({session->localGroup, NextReplicationName(inv, name, session->localGroup),
                        session->localGroup, nullptr});
    }
    return CreateAll(inv, plan, SnapshotKind::Replication, "");
}

CommandResult SetSnapshotVssScsiSn(Inventory& inv, const StringPairs& args) {
    CommandResult failure;
    std::string name, problem;
    if (!RequireArg(args, "exposed_snapshot_name", name, failure)) return failure;
    Snapshot* snap = ResolveSnapshot(inv, name, "", problem);
    if (!snap) return Failure(keys::kSnapshotNotFound, problem);
    if (!snap->exposable) {
        return Failure(keys::kNotExposable, "snapshot " + snap->FullName() + " is not exposable");
    }
    for (auto& v : snap->volsnaps) {
        if (v.vssScsiSn.empty()) v.vssScsiSn = inv.serials.Next();
    }
    snap->vssSerialsSet = true;
    return Success("vss scsi serials set for " + snap->FullName());
}

}  // namespace

void AddSnapshotCommands(CommandTable& table) {
    table.Add("vss_prepare_for_snapshot", PrepareForSnapshot);
    table.Add("unexposable_snapshot_create", UnexposableSnapshotCreate);
    table.Add("exposable_snapshot_create", ExposableSnapshotCreate);
    table.Add("replication_session_snapshot_create", ReplicationSessionSnapshotCreate);
    table.Add("set_snapshot_vss_scsi_sn", SetSnapshotVssScsiSn);
}

}  // namespace marl::sim
