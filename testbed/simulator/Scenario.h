// Inventories: read from a scenario (JSON, the same form the state dump
// writes), the embedded default scenario, and generated large inventories.
#pragma once

#include <string>

#include "Inventory.h"

namespace marl::sim {

// Reads a scenario document into `inv` (replacing its contents). Returns
// false with a readable `error` when the text is not JSON or names objects
// inconsistently (unknown group, duplicate name or serial, bad name).
bool LoadScenario(const std::string& text, Inventory& inv, std::string& error);

// The built-in scenario: host "vsshost1" in host group "hg1", a host "host2"
// in no group, volume groups vg_db (3 volumes), vg_app (2 volumes, one
// exposable snapshot "nightly") and vg_repl (2 volumes replicated through the
// async session rs_repl), and "standalone_vol" in no group.
const std::string& DefaultScenarioText();

struct InventoryFigures {
    size_t volumes = 0;
    size_t snapshots = 0;    // exposable snapshots, spread over the groups
    size_t replication = 0;  // replicated volumes (with peers and sessions)
    size_t volumesPerGroup = 4;
};

// A large inventory for benchmarks: `volumes` volumes in groups of
// `volumesPerGroup`, `snapshots` snapshots with a volume snapshot per group
// volume, `replication` replicated volumes, plus the default scenario's hosts.
void GenerateInventory(const InventoryFigures& figures, Inventory& inv);

// Parses "volumes=N,snapshots=M,replication=K[,per_group=G]".
bool ParseInventoryFigures(const std::string& text, InventoryFigures& figures, std::string& error);

}  // namespace marl::sim
