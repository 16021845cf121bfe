// Scenario reading: each section of the document becomes one list of the
// inventory; references between sections are checked as they are read, so
// sections must appear in dependency order within the reader (groups before
// volumes, hosts after host groups, and so on), not in the file.
#include "Scenario.h"
#include "SimJson.h"

namespace marl::sim {

namespace {

using rapidjson::Value;

class ScenarioReader {
  public:
    ScenarioReader(const Value& root, Inventory& inv) : m_root(root), m_inv(inv) {}

    bool Read() {
        return ReadNamedList("retention_policies", &ScenarioReader::AddPolicy) &&
               ReadNamedList("volume_groups", &ScenarioReader::AddGroup) &&
               ReadList("volumes", &ScenarioReader::AddVolume) &&
               ReadNamedList("host_groups", &ScenarioReader::AddHostGroup) &&
               ReadList("hosts", &ScenarioReader::AddHost) &&
               ReadList("replication_sessions", &ScenarioReader::AddSession) &&
               ReadList("replication_volumes", &ScenarioReader::AddReplicationVolume) &&
               ReadList("snapshots", &ScenarioReader::AddSnapshot) &&
               ReadList("mappings", &ScenarioReader::AddMapping);
    }
    const std::string& Error() const { return m_error; }

  private:
    using ItemReader = bool (ScenarioReader::*)(const Value&);

    bool Fail(const std::string& message) {
        m_error = message;
        return false;
    }

    bool ReadList(const char* section, ItemReader reader) {
        auto it = m_root.FindMember(section);
        if (it == m_root.MemberEnd() || it->value.IsNull()) return true;
        if (!it->value.IsArray()) return Fail(std::string(section) + " must be an array");
        for (const auto& item : it->value.GetArray()) {
            if (!item.IsObject()) return Fail(std::string(section) + " entries must be objects");
            if (!(this->*reader)(item)) return false;
        }
        return true;
    }

    // Lists whose entries may be a bare name instead of {"name": ...}.
    bool ReadNamedList(const char* section, ItemReader reader) {
        auto it = m_root.FindMember(section);
        if (it == m_root.MemberEnd() || it->value.IsNull()) return true;
        if (!it->value.IsArray()) return Fail(std::string(section) + " must be an array");
        for (const auto& item : it->value.GetArray()) {
            rapidjson::Document wrapped;
            if (item.IsString()) {
                wrapped.SetObject();
                wrapped.AddMember("name", Value(item.GetString(), wrapped.GetAllocator()),
                                  wrapped.GetAllocator());
            } else if (!item.IsObject()) {
                return Fail(std::string(section) + " entries must be names or objects");
            }
            if (!(this->*reader)(item.IsString() ? wrapped : item)) return false;
        }
        return true;
    }

    bool CheckName(const std::string& name, const char* what) {
        if (IsValidName(name)) return true;
        return Fail(std::string(what) + " name \"" + name + "\" is empty or contains ':' or ','");
    }

    bool AddPolicy(const Value& item) {
        m_inv.retentionPolicies.push_back(MemberText(item, "name"));
        return true;
    }

    bool AddGroup(const Value& item) {
        VolumeGroup group;
        group.name = MemberText(item, "name");
        if (!CheckName(group.name, "volume group")) return false;
        if (m_inv.FindGroup(group.name)) return Fail("duplicate volume group " + group.name);
        auto restores = item.FindMember("restores");
        if (restores != item.MemberEnd() && restores->value.IsArray()) {
            for (const auto& r : restores->value.GetArray()) {
                group.restores.push_back(
                    {MemberText(r, "snapshot"), MemberText(r, "pre_restore_snapshot")});
            }
        }
        m_inv.groups.push_back(std::move(group));
        return true;
    }

    bool ReserveSerial(const std::string& serial, const std::string& owner) {
        if (serial.empty()) return true;
        if (m_inv.serials.Reserve(serial)) return true;
        return Fail("serial " + serial + " of " + owner + " is already used");
    }

    bool AddVolume(const Value& item) {
        Volume vol;
        vol.name = MemberText(item, "name");
        vol.scsiSn = MemberText(item, "scsi_sn");
        vol.group = MemberText(item, "volume_group");
        if (vol.group == "None") vol.group.clear();
        vol.peerSn = MemberText(item, "peer_sn");
        vol.markedForDeletion = MemberBool(item, "marked_for_deletion", false);
        vol.restoredFrom = MemberText(item, "restored_from");
        if (!CheckName(vol.name, "volume")) return false;
        if (m_inv.FindVolume(vol.name)) return Fail("duplicate volume " + vol.name);
        if (!vol.group.empty() && !m_inv.FindGroup(vol.group)) {
            return Fail("volume " + vol.name + " names unknown volume group " + vol.group);
        }
        if (!ReserveSerial(vol.scsiSn, vol.name) || !ReserveSerial(vol.peerSn, vol.name)) {
            return false;
        }
        if (vol.scsiSn.empty()) vol.scsiSn = m_inv.serials.Next();
        m_inv.volumes.push_back(std::move(vol));
        return true;
    }

    bool AddHostGroup(const Value& item) {
        HostGroup group{MemberText(item, "name")};
        if (!CheckName(group.name, "host group")) return false;
        if (m_inv.FindHostGroup(group.name)) return Fail("duplicate host group " + group.name);
        m_inv.hostGroups.push_back(std::move(group));
        return true;
    }

    bool AddHost(const Value& item) {
        Host host{MemberText(item, "name"), MemberText(item, "host_group")};
        if (!CheckName(host.name, "host")) return false;
        if (m_inv.FindHost(host.name)) return Fail("duplicate host " + host.name);
        if (!host.hostGroup.empty() && !m_inv.FindHostGroup(host.hostGroup)) {
            return Fail("host " + host.name + " names unknown host group " + host.hostGroup);
        }
        m_inv.hosts.push_back(std::move(host));
        return true;
    }

    bool AddSession(const Value& item) {
        ReplicationSession s{MemberText(item, "name"), MemberText(item, "local_volume_group"),
                             MemberText(item, "type", "async"),
                             MemberText(item, "remote_volume_group")};
        if (!CheckName(s.name, "replication session")) return false;
        if (m_inv.FindSession(s.name)) return Fail("duplicate replication session " + s.name);
        if (!m_inv.FindGroup(s.localGroup)) {
            return Fail("replication session " + s.name + " names unknown volume group " +
                        s.localGroup);
        }
        if (s.remoteGroup.empty()) s.remoteGroup = s.localGroup + "_remote";
        m_inv.replicationSessions.push_back(std::move(s));
        return true;
    }

    bool AddReplicationVolume(const Value& item) {
        ReplicationVolume rv{MemberText(item, "replication_session"),
                             MemberText(item, "local_volume"), MemberText(item, "remote_volume")};
        if (!m_inv.FindSession(rv.session)) {
            return Fail("replication volume names unknown session " + rv.session);
        }
        Volume* vol = m_inv.FindVolume(rv.localVolume);
        if (!vol) return Fail("replication volume names unknown volume " + rv.localVolume);
        // A replicated volume always has a replica serial; scenarios may leave
        // it to the array.
        if (vol->peerSn.empty()) vol->peerSn = m_inv.serials.Next();
        if (rv.remoteVolume.empty()) rv.remoteVolume = rv.localVolume + "_remote";
        m_inv.replicationVolumes.push_back(std::move(rv));
        return true;
    }

    bool AddSnapshot(const Value& item);
    bool AddVolSnaps(const Value& item, Snapshot& snap);
    bool AddMapping(const Value& item);

    const Value& m_root;
    Inventory& m_inv;
    std::string m_error;
};

bool ScenarioReader::AddSnapshot(const Value& item) {
    Snapshot snap;
    snap.name = MemberText(item, "name");
    snap.group = MemberText(item, "volume_group");
    snap.source = MemberText(item, "source", snap.group);
    snap.retentionPolicy = MemberText(item, "retention_policy");
    snap.exposable = MemberBool(item, "exposable", false);
    snap.vssSerialsSet = MemberBool(item, "vss_scsi_sn_set", false);
    std::string kind = MemberText(item, "kind", "scenario");
    if (!KindFromName(kind, snap.kind)) return Fail("unknown snapshot kind " + kind);
    if (!CheckName(snap.name, "snapshot")) return false;
    if (!m_inv.FindGroup(snap.group)) {
        return Fail("snapshot " + snap.name + " names unknown volume group " + snap.group);
    }
    if (m_inv.FindSnapshot(snap.group, snap.name)) {
        return Fail("duplicate snapshot " + snap.FullName());
    }
    if (!AddVolSnaps(item, snap)) return false;
    m_inv.snapshots.push_back(std::move(snap));
    return true;
}

bool ScenarioReader::AddVolSnaps(const Value& item, Snapshot& snap) {
    auto list = item.FindMember("volsnaps");
    if (list == item.MemberEnd() || !list->value.IsArray()) {
        // Without an explicit list the snapshot covers the group's volumes.
        for (const Volume* vol : m_inv.GroupVolumes(snap.group)) {
            VolumeSnapshot vs{vol->name, snap.exposable ? m_inv.serials.Next() : "", "", false};
            snap.volsnaps.push_back(vs);
        }
        return true;
    }
    for (const auto& v : list->value.GetArray()) {
        VolumeSnapshot vs{MemberText(v, "volume"), MemberText(v, "scsi_sn"),
                          MemberText(v, "vss_scsi_sn"),
                          MemberBool(v, "marked_for_deletion", false)};
        if (!m_inv.FindVolume(vs.volume)) {
            return Fail("snapshot " + snap.FullName() + " names unknown volume " + vs.volume);
        }
        std::string owner = snap.VolSnapName(vs);
        if (!ReserveSerial(vs.scsiSn, owner) || !ReserveSerial(vs.vssScsiSn, owner)) return false;
        if (snap.exposable && vs.scsiSn.empty()) vs.scsiSn = m_inv.serials.Next();
        snap.volsnaps.push_back(vs);
    }
    return true;
}

bool ScenarioReader::AddMapping(const Value& item) {
    Mapping m{MemberText(item, "object"), MemberText(item, "host"), MemberText(item, "host_group")};
    if (m.host.empty() == m.hostGroup.empty()) {
        return Fail("mapping of " + m.object + " needs exactly one of host and host_group");
    }
    if (!m.host.empty() && !m_inv.FindHost(m.host))
        return Fail("mapping names unknown host " + m.host);
    if (!m.hostGroup.empty() && !m_inv.FindHostGroup(m.hostGroup)) {
        return Fail("mapping names unknown host group " + m.hostGroup);
    }
    VolSnapRef ref;
    if (!m_inv.FindVolume(m.object) && !ResolveVolSnap(m_inv, m.object, ref)) {
        return Fail("mapping names unknown volume or volume snapshot " + m.object);
    }
    m_inv.mappings.push_back(std::move(m));
    return true;
}

}  // namespace

bool LoadScenario(const std::string& text, Inventory& inv, std::string& error) {
    rapidjson::Document doc;
    if (!ParseDocument(text, doc, error)) {
        error = "scenario is not valid JSON: " + error;
        return false;
    }
    if (!doc.IsObject()) {
        error = "scenario must be a JSON object";
        return false;
    }
    Inventory fresh;
    ScenarioReader reader(doc, fresh);
    if (!reader.Read()) {
        error = reader.Error();
        return false;
    }
    fresh.replicationSnapshotCounter =
        static_cast<unsigned long>(MemberInt(doc, "replication_snapshot_counter", 0));
    inv = std::move(fresh);
    return true;
}

}  // namespace marl::sim
