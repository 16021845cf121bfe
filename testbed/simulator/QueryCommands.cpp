// The listing commands. Every listing is an object whose members are entries
// keyed by the object's name, each entry an object of text members; order is
// the inventory's order. Filters that name an unknown object are refused, as
// the array refuses any command naming something it does not have.
#include "Commands.h"

namespace marl::sim {

namespace {

void Text(JsonWriter& w, const char* key, const std::string& value) {
    w.Key(key);
    WriteString(w, value);
}

const char* Flag(bool on) { return on ? "true" : "false"; }

void AppendMember(std::string& out, const char* key, const std::string& value) {
    out += '"';
    out += key;
    out += "\":";
    AppendJsonString(out, value);
}

// The largest listing an array gives, so it is written directly rather than
// through the JSON writer.
std::string VolShowData(const Inventory& inv) {
    std::string data = "{";
    data.reserve(inv.volumes.size() * 128 + 2);
    for (const auto& v : inv.volumes) {
        if (data.size() > 1) data += ',';
        AppendJsonString(data, v.name);
        data += ":{";
        AppendMember(data, "scsi_sn", v.scsiSn);
        data += ',';
        AppendMember(data, "vss_scsi_sn", v.peerSn);
        data += ',';
        AppendMember(data, "volume_group", v.group.empty() ? "None" : v.group);
        data += ',';
        AppendMember(data, "marked_for_deletion", Flag(v.markedForDeletion));
        data += '}';
    }
    data += '}';
    return data;
}

CommandResult VolShow(Inventory& inv, const StringPairs&) {
    if (inv.volShowData.empty()) inv.volShowData = VolShowData(inv);
    return Success("volumes listed", inv.volShowData);
}

// Members describing one volume snapshot, shared by both volume-snapshot
// listings so that they read the same to a client.
void WriteVolSnapMembers(JsonWriter& w, const Snapshot& s, const VolumeSnapshot& v) {
    Text(w, "scsi_sn", v.scsiSn);
    Text(w, "vss_scsi_sn", v.vssScsiSn);
    Text(w, "marked_for_deletion", Flag(v.markedForDeletion));
    Text(w, "base_volume", v.volume);
    Text(w, "volume_group", s.group);
    Text(w, "snapshot_name", s.FullName());
}

void WriteVolSnapEntries(JsonWriter& w, const Snapshot& s) {
    for (const auto& v : s.volsnaps) {
        WriteKey(w, s.VolSnapName(v));
        w.StartObject();
        WriteVolSnapMembers(w, s, v);
        w.EndObject();
    }
}

CommandResult VolSnapShow(Inventory& inv, const StringPairs& args) {
    const Snapshot* only = nullptr;
    if (args.Has("snapshot_name")) {
        std::string problem;
        only = ResolveSnapshot(inv, args.Get("snapshot_name"), "", problem);
        if (!only) return Failure(keys::kSnapshotNotFound, problem);
    }
    return Success("volume snapshots listed", BuildJson([&](JsonWriter& w) {
                       w.StartObject();
                       for (const auto& s : inv.snapshots) {
                           if (!only || only == &s) WriteVolSnapEntries(w, s);
                       }
                       w.EndObject();
                   }));
}

// One volume snapshot, nested one level deeper in a "data" member.
CommandResult VssVolSnapShow(Inventory& inv, const StringPairs& args) {
    CommandResult failure;
    std::string name;
    if (!RequireArg(args, "volsnap_name", name, failure)) return failure;
    VolSnapRef ref;
    if (!ResolveVolSnap(inv, name, ref)) {
        return Failure(keys::kVolSnapNotFound, "volume snapshot " + name + " does not exist");
    }
    return Success("volume snapshot " + name, BuildJson([&](JsonWriter& w) {
                       w.StartObject();
                       w.Key("data");
                       w.StartObject();
                       WriteVolSnapMembers(w, *ref.snapshot, ref.Get());
                       w.EndObject();
                       w.EndObject();
                   }));
}

CommandResult ReplicationVolumeShow(Inventory& inv, const StringPairs&) {
    return Success("replication volumes listed", BuildJson([&](JsonWriter& w) {
                       w.StartObject();
                       for (const auto& r : inv.replicationVolumes) {
                           const Volume* vol = inv.FindVolume(r.localVolume);
                           WriteKey(w, r.session + ":" + r.localVolume);
                           w.StartObject();
                           Text(w, "replication_session", r.session);
                           Text(w, "local_volume", r.localVolume);
                           Text(w, "remote_volume", r.remoteVolume);
                           Text(w, "vss_scsi_sn", vol ? vol->peerSn : "");
                           w.EndObject();
                       }
                       w.EndObject();
                   }));
}

CommandResult ReplicationSessionShow(Inventory& inv, const StringPairs&) {
    return Success("replication sessions listed", BuildJson([&](JsonWriter& w) {
                       w.StartObject();
                       for (const auto& s : inv.replicationSessions) {
                           WriteKey(w, s.name);
                           w.StartObject();
                           Text(w, "local_volume_group", s.localGroup);
                           Text(w, "remote_volume_group", s.remoteGroup);
                           Text(w, "type", s.type);
                           w.EndObject();
                       }
                       w.EndObject();
                   }));
}

// "vols" is an array of arrays whose first element is the volume name.
void WriteGroupEntry(JsonWriter& w, const Inventory& inv, const VolumeGroup& g) {
    WriteKey(w, g.name);
    w.StartObject();
    w.Key("vols");
    w.StartArray();
    for (const Volume* vol : inv.GroupVolumes(g.name)) {
        w.StartArray();
        WriteString(w, vol->name);
        WriteString(w, vol->scsiSn);
        w.EndArray();
    }
    w.EndArray();
    w.EndObject();
}

CommandResult VgShow(Inventory& inv, const StringPairs& args) {
    const VolumeGroup* only = nullptr;
    if (args.Has("vg_name")) {
        only = inv.FindGroup(args.Get("vg_name"));
        if (!only) {
            return Failure(keys::kGroupNotFound,
                           "volume group " + args.Get("vg_name") + " does not exist");
        }
    }
    return Success("volume groups listed", BuildJson([&](JsonWriter& w) {
                       w.StartObject();
                       for (const auto& g : inv.groups) {
                           if (!only || only == &g) WriteGroupEntry(w, inv, g);
                       }
                       w.EndObject();
                   }));
}

void WriteHostGroupEntry(JsonWriter& w, const Inventory& inv, const HostGroup& g) {
    WriteKey(w, g.name);
    w.StartObject();
    w.Key("hosts");
    w.StartArray();
    for (const auto& h : inv.hosts) {
        if (h.hostGroup == g.name) WriteString(w, h.name);
    }
    w.EndArray();
    w.EndObject();
}

CommandResult HostGrpShow(Inventory& inv, const StringPairs& args) {
    const HostGroup* only = nullptr;
    if (args.Has("host_grp_name")) {
        only = inv.FindHostGroup(args.Get("host_grp_name"));
        if (!only) {
            return Failure(keys::kHostGroupNotFound,
                           "host group " + args.Get("host_grp_name") + " does not exist");
        }
    }
    return Success("host groups listed", BuildJson([&](JsonWriter& w) {
                       w.StartObject();
                       for (const auto& g : inv.hostGroups) {
                           if (!only || only == &g) WriteHostGroupEntry(w, inv, g);
                       }
                       w.EndObject();
                   }));
}

// "vg_name" comes before "volsnaps": a client may read the group only from a
// member it has already seen.
void WriteSnapshotEntry(JsonWriter& w, const Snapshot& s, bool full) {
    WriteKey(w, s.FullName());
    w.StartObject();
    Text(w, "vg_name", s.group);
    Text(w, "source", s.source);
    Text(w, "exposable", Flag(s.exposable));
    Text(w, "retention_policy_name", s.retentionPolicy);
    if (full) {
        w.Key("volsnaps");
        w.StartArray();
        for (const auto& v : s.volsnaps) WriteString(w, s.VolSnapName(v));
        w.EndArray();
    }
    w.EndObject();
}

CommandResult SnapshotShow(Inventory& inv, const StringPairs& args) {
    const Snapshot* only = nullptr;
    std::string group = args.Get("volume_group");
    if (!group.empty() && !inv.FindGroup(group)) {
        return Failure(keys::kGroupNotFound, "volume group " + group + " does not exist");
    }
    if (args.Has("snapshot_name")) {
        std::string problem;
        only = ResolveSnapshot(inv, args.Get("snapshot_name"), group, problem);
        if (!only) return Failure(keys::kSnapshotNotFound, problem);
    }
    bool full = args.Get("full") == "true";
    return Success("snapshots listed", BuildJson([&](JsonWriter& w) {
                       w.StartObject();
                       for (const auto& s : inv.snapshots) {
                           if (only && only != &s) continue;
                           if (!group.empty() && s.group != group) continue;
                           WriteSnapshotEntry(w, s, full);
                       }
                       w.EndObject();
                   }));
}

}  // namespace

void AddQueryCommands(CommandTable& table) {
    table.Add("vol_show", VolShow);
    table.Add("volsnap_show", VolSnapShow);
    table.Add("vss_volsnap_show", VssVolSnapShow);
    table.Add("replication_volume_show", ReplicationVolumeShow);
    table.Add("replication_session_show", ReplicationSessionShow);
    table.Add("vg_show", VgShow);
    table.Add("host_grp_show", HostGrpShow);
    table.Add("snapshot_show", SnapshotShow);
}

}  // namespace marl::sim
