#pragma once
// The parsers that turn the "data" node of an accepted reply (see
// ResponseEnvelope.h) into the array client's records.
//
// Every parser walks the node in document order, appends to the caller's
// list (never removes) and logs through the process logger at DEBUG (a few
// lines at TRACE), module "JSON", unit "QProviderInterface", under its own
// name. Shapes other than the expected ones simply yield fewer records. A
// payload nested one level deeper, in a member "data", is descended into.
// Only ParseCGShow ends by throwing (std::out_of_range, see there); the
// others throw nothing but std::bad_alloc.
#include <string>

#include "json/JsonNode.h"
#include "provider/array/ArrayRecords.h"
#include "provider/array/VolSnapSerialIndex.h"

// Lower case (A to Z only), then "0" in front until at least 8 characters.
std::string NormaliseSerial(std::string serial);

// "vol_show", "volsnap_show", "vss_volsnap_show": one LunInfo per entry.
void ParseVolShow(const marl::json::JsonNode& node, marl::array::LunInfoList& list);

// "volsnap_show" read for the serials only: each entry's serial and peer
// serial (normalised; empty when the entry has none) under the entry's name.
void ParseVolSnapSerials(const marl::json::JsonNode& node, marl::array::VolSnapSerialIndex& index);

// "replication_volume_show": sets peerSn on every record of `list` whose
// volName is an entry's "local_volume" (entries with an empty serial or name
// change nothing). Adds no record. Linear in the sizes of reply and list.
void ParseRepVolShow(const marl::json::JsonNode& node, marl::array::LunInfoList& list);

// "replication_session_show": one SessionInfo per entry, type "async" unless
// the entry says otherwise.
void ParseRepSessionShow(const marl::json::JsonNode& node, marl::array::SessionInfoList& list);

// "snapshot_show" of the mapping: one LunInfo per element of each entry's
// "volsnaps" array.
void ParseSnapShow(const marl::json::JsonNode& node, marl::array::LunInfoList& list);

// "snapshot_show" of the restore: `source` becomes the first "source" value
// that names something other than `cgName`; unchanged when there is none.
void ParseSnapShowForSource(const marl::json::JsonNode& node, const std::string& cgName,
                            std::string& source);

// "vg_show": appends the volume names of group `cgName` (the first member of
// each element of its "vols"). The walk of "vols" ends by throwing
// std::out_of_range when it runs past the last element (or meets an element
// without members); it ends without throwing only at an element that is the
// number 0. The names appended before stay in `names`.
void ParseCGShow(const marl::json::JsonNode& node, const std::string& cgName,
                 marl::array::NameList& names);

// "host_grp_show": true when an entry is named exactly `groupName`. `extra`
// is passed along unchanged.
bool ParseHostGrpShow(const marl::json::JsonNode& node, const std::string& groupName,
                      marl::array::NameList& extra);

// "replication_session_snapshot_create": appends the texts of the
// "snapshot_names_list" array. True when the payload was nested in "data"
// (whatever the nested payload held).
bool ParseReplicationSnapCreateResponse(const marl::json::JsonNode& node,
                                        marl::array::NameList& names);
