// Large inventories for benchmarks. Names and serials are derived from the
// object's index so that two runs with the same figures produce the same
// inventory, and a benchmark can name any object without asking first.
#include <cstdio>
#include <cstdlib>

#include "Scenario.h"
#include "SimJson.h"

namespace marl::sim {

namespace {

std::string Numbered(const char* prefix, size_t n, int width) {
    char text[64];
    std::snprintf(text, sizeof text, "%s%0*zu", prefix, width, n);
    return text;
}

std::string IndexSerial(const char* prefix, size_t n) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%07zx", prefix, n);
    return text;
}

void AddHosts(Inventory& inv) {
    inv.hostGroups.push_back({"hg1"});
    inv.hosts.push_back({"vsshost1", "hg1"});
    inv.hosts.push_back({"host2", ""});
}

void AddVolumes(const InventoryFigures& figures, Inventory& inv) {
    size_t perGroup = figures.volumesPerGroup ? figures.volumesPerGroup : 1;
    for (size_t i = 0; i < figures.volumes; ++i) {
        if (i % perGroup == 0) inv.groups.push_back({Numbered("gvg", i / perGroup + 1, 5), {}});
        Volume vol;
        vol.name = Numbered("gvol", i + 1, 6);
        vol.scsiSn = IndexSerial("6001405a", i + 1);
        vol.group = inv.groups.back().name;
        inv.serials.Reserve(vol.scsiSn);
        inv.volumes.push_back(std::move(vol));
    }
}

void AddReplication(const InventoryFigures& figures, Inventory& inv) {
    size_t count =
        figures.replication < inv.volumes.size() ? figures.replication : inv.volumes.size();
    for (size_t i = 0; i < count; ++i) {
        Volume& vol = inv.volumes[i];
        vol.peerSn = IndexSerial("6001405b", i + 1);
        inv.serials.Reserve(vol.peerSn);
        std::string session = "grs_" + vol.group;
        if (!inv.FindSession(session)) {
            inv.replicationSessions.push_back({session, vol.group, "async", vol.group + "_dr"});
        }
        inv.replicationVolumes.push_back({session, vol.name, vol.name + "_dr"});
    }
}

void AddSnapshots(const InventoryFigures& figures, Inventory& inv) {
    if (inv.groups.empty()) return;
    size_t serial = 0;
    for (size_t i = 0; i < figures.snapshots; ++i) {
        Snapshot snap;
        snap.group = inv.groups[i % inv.groups.size()].name;
        snap.name = Numbered("gsnap", i + 1, 6);
        snap.source = snap.group;
        snap.kind = SnapshotKind::Scenario;
        snap.exposable = true;
        for (const Volume* vol : inv.GroupVolumes(snap.group)) {
            VolumeSnapshot vs{vol->name, IndexSerial("6001405c", ++serial), "", false};
            inv.serials.Reserve(vs.scsiSn);
            snap.volsnaps.push_back(vs);
        }
        inv.snapshots.push_back(std::move(snap));
    }
}

bool ParseCount(const std::string& value, size_t& out) {
    if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) return false;
    out = static_cast<size_t>(std::strtoull(value.c_str(), nullptr, 10));
    return true;
}

}  // namespace

void GenerateInventory(const InventoryFigures& figures, Inventory& inv) {
    Inventory fresh;
    AddHosts(fresh);
    AddVolumes(figures, fresh);
    AddReplication(figures, fresh);
    AddSnapshots(figures, fresh);
    inv = std::move(fresh);
}

bool ParseInventoryFigures(const std::string& text, InventoryFigures& figures, std::string& error) {
    for (const std::string& item : SplitList(text)) {
        size_t eq = item.find('=');
        std::string key = item.substr(0, eq);
        std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        size_t* target = key == "volumes"       ? &figures.volumes
                         : key == "snapshots"   ? &figures.snapshots
                         : key == "replication" ? &figures.replication
                         : key == "per_group"   ? &figures.volumesPerGroup
                                                : nullptr;
        if (!target || !ParseCount(value, *target)) {
            error =
                "bad generator item \"" + item + "\" (want volumes=N,snapshots=M,replication=K)";
            return false;
        }
    }
    return true;
}

}  // namespace marl::sim
