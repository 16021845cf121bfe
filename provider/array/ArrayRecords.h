#pragma once
// The array client's records: what the reply parsers make of the array's
// inventory, and the snapshot-set entries the provider object keeps.
//
// Plain values of narrow texts, all empty when created. They are held in
// ordered lists (std::list): parsers only append, and the lookups hand out
// pointers to records, which std::list keeps valid while records are
// appended and until the record is removed or the list is destroyed.
//
// Serials stored in LunInfo (sn, peerSn) are normalised by the parsers
// (NormaliseSerial: lower case, at least 8 characters); lookups compare them
// exactly.
//
// LunInfoList, the list of inventory listings that may hold every volume of
// the array, takes its nodes from a pool that keeps them for the next listing
// (RecordPool.h).
#include <list>
#include <string>

#include "provider/array/RecordPool.h"

// One array volume, or one volume snapshot.
struct LunInfo {
    std::string volName;
    std::string cgName;
    std::string sn;
    std::string peerSn;
    std::string snapName;
    std::string volSnapName;
};

// One replication session.
struct SessionInfo {
    std::string cgName;
    std::string sessionName;
    std::string type;
};

// One consistency group of the snapshot set in progress.
struct CgInfo {
    std::string cg_name;
    std::string snap_name;
    std::string rep_session_name;
    std::string rep_snap_name;
};

// One source LUN of the snapshot set in progress.
struct SnapInfo {
    std::string vol_name;
    std::string scsi_sn;
    std::string snap_scsi_sn;
    std::string cg_name;
};

namespace marl::array {

using LunInfoList = std::list<LunInfo, marl::records::RecordAllocator<LunInfo>>;
using SessionInfoList = std::list<SessionInfo>;
using CgInfoList = std::list<CgInfo>;
using SnapInfoList = std::list<SnapInfo>;
using NameList = std::list<std::string>;

}  // namespace marl::array
