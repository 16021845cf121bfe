#pragma once
// The snapshot set in progress, as the array operations that work on it see
// it: its source LUNs with their groups, the groups with the names of their
// snapshots, and whether those snapshots were exposed to hosts.
//
// A plain value owned by the provider object, which hands it to the
// operations that read or change it (CQArrayClient.h says which) under its
// own lock.
#include <cstdint>

#include "provider/array/ArrayRecords.h"

namespace marl::array {

struct SnapshotSet {
    SnapInfoList snapInfoList;  // one entry per source LUN, in the order VSS gave them
    CgInfoList cgList;          // one entry per consistency group, in order of first LUN
    int32_t snapsExposed = 0;   // 1 once the exposable snapshots exist
};

}  // namespace marl::array
