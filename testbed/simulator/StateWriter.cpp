#include "StateWriter.h"

namespace marl::sim {

namespace {

void WriteGroups(JsonWriter& w, const Inventory& inv) {
    w.Key("volume_groups");
    w.StartArray();
    for (const auto& g : inv.groups) {
        w.StartObject();
        FieldText(w, "name", g.name);
        w.Key("restores");
        w.StartArray();
        for (const auto& r : g.restores) {
            w.StartObject();
            FieldText(w, "snapshot", r.snapshot);
            FieldText(w, "pre_restore_snapshot", r.preRestoreSnapshot);
            w.EndObject();
        }
        w.EndArray();
        w.EndObject();
    }
    w.EndArray();
}

void WriteVolumes(JsonWriter& w, const Inventory& inv) {
    w.Key("volumes");
    w.StartArray();
    for (const auto& v : inv.volumes) {
        w.StartObject();
        FieldText(w, "name", v.name);
        FieldText(w, "scsi_sn", v.scsiSn);
        FieldText(w, "volume_group", v.group.empty() ? "None" : v.group);
        FieldText(w, "peer_sn", v.peerSn);
        FieldBool(w, "marked_for_deletion", v.markedForDeletion);
        FieldText(w, "restored_from", v.restoredFrom);
        w.EndObject();
    }
    w.EndArray();
}

void WriteVolSnaps(JsonWriter& w, const Snapshot& s) {
    w.Key("volsnaps");
    w.StartArray();
    for (const auto& v : s.volsnaps) {
        w.StartObject();
        FieldText(w, "volume", v.volume);
        FieldText(w, "scsi_sn", v.scsiSn);
        FieldText(w, "vss_scsi_sn", v.vssScsiSn);
        FieldBool(w, "marked_for_deletion", v.markedForDeletion);
        w.EndObject();
    }
    w.EndArray();
}

void WriteSnapshots(JsonWriter& w, const Inventory& inv) {
    w.Key("snapshots");
    w.StartArray();
    for (const auto& s : inv.snapshots) {
        w.StartObject();
        FieldText(w, "name", s.name);
        FieldText(w, "volume_group", s.group);
        FieldText(w, "source", s.source);
        FieldText(w, "kind", KindName(s.kind));
        FieldBool(w, "exposable", s.exposable);
        FieldText(w, "retention_policy", s.retentionPolicy);
        FieldBool(w, "vss_scsi_sn_set", s.vssSerialsSet);
        WriteVolSnaps(w, s);
        w.EndObject();
    }
    w.EndArray();
}

void WriteHosts(JsonWriter& w, const Inventory& inv) {
    w.Key("host_groups");
    w.StartArray();
    for (const auto& g : inv.hostGroups) WriteString(w, g.name);
    w.EndArray();
    w.Key("hosts");
    w.StartArray();
    for (const auto& h : inv.hosts) {
        w.StartObject();
        FieldText(w, "name", h.name);
        FieldText(w, "host_group", h.hostGroup);
        w.EndObject();
    }
    w.EndArray();
    w.Key("mappings");
    w.StartArray();
    for (const auto& m : inv.mappings) {
        w.StartObject();
        FieldText(w, "object", m.object);
        if (!m.host.empty()) FieldText(w, "host", m.host);
        if (!m.hostGroup.empty()) FieldText(w, "host_group", m.hostGroup);
        w.EndObject();
    }
    w.EndArray();
}

void WriteReplication(JsonWriter& w, const Inventory& inv) {
    w.Key("replication_sessions");
    w.StartArray();
    for (const auto& s : inv.replicationSessions) {
        w.StartObject();
        FieldText(w, "name", s.name);
        FieldText(w, "local_volume_group", s.localGroup);
        FieldText(w, "type", s.type);
        FieldText(w, "remote_volume_group", s.remoteGroup);
        w.EndObject();
    }
    w.EndArray();
    w.Key("replication_volumes");
    w.StartArray();
    for (const auto& r : inv.replicationVolumes) {
        w.StartObject();
        FieldText(w, "replication_session", r.session);
        FieldText(w, "local_volume", r.localVolume);
        FieldText(w, "remote_volume", r.remoteVolume);
        w.EndObject();
    }
    w.EndArray();
}

}  // namespace

void WriteInventoryMembers(JsonWriter& w, const Inventory& inv) {
    w.Key("retention_policies");
    w.StartArray();
    for (const auto& p : inv.retentionPolicies) WriteString(w, p);
    w.EndArray();
    WriteGroups(w, inv);
    WriteVolumes(w, inv);
    WriteHosts(w, inv);
    WriteReplication(w, inv);
    WriteSnapshots(w, inv);
    FieldUint(w, "replication_snapshot_counter", inv.replicationSnapshotCounter);
    FieldUint(w, "prepare_for_snapshot_count", inv.prepareCount);
}

std::string InventoryToJson(const Inventory& inv) {
    rapidjson::StringBuffer buffer;
    JsonWriter w(buffer);
    w.StartObject();
    WriteInventoryMembers(w, inv);
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace marl::sim
