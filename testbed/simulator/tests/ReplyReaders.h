// For the simulator's tests: readers that walk reply payloads the way the
// provider's reply parsers do (entry by entry in document order, descending
// into a nested "data" member, reading only the members they know), so the
// tests check that each payload yields the records a client will take from it.
#pragma once

#include <rapidjson/document.h>

#include <string>
#include <vector>

namespace marl::sim::test {

struct VolumeRecord {
    std::string volName, cgName, sn, peerSn, snapName, volSnapName;
};

struct SessionRecord {
    std::string cgName, sessionName, type;
};

void ReadVolumeMembers(const rapidjson::Value& entry, VolumeRecord& record);
std::vector<VolumeRecord> ReadVolShow(const rapidjson::Value& data);
// Sets peerSn on the records whose volName is an entry's "local_volume".
void ReadRepVolShow(const rapidjson::Value& data, std::vector<VolumeRecord>& records);
std::vector<SessionRecord> ReadRepSessionShow(const rapidjson::Value& data);
std::vector<VolumeRecord> ReadSnapShow(const rapidjson::Value& data);
std::string ReadSnapShowSource(const rapidjson::Value& data, const std::string& group);
// The volume names of `group`; `ended` tells whether the walk ran past the
// end of "vols" (the way a client's walk of that array finishes).
std::vector<std::string> ReadCgShow(const rapidjson::Value& data, const std::string& group,
                                    bool& ended);
bool ReadHostGrpShow(const rapidjson::Value& data, const std::string& group);
// The names of "snapshot_names_list"; `nested` is set when the payload was
// wrapped in "data" (which a client treats as a failed reply).
std::vector<std::string> ReadSnapCreate(const rapidjson::Value& data, bool& nested);

std::string Normalised(const std::string& serial);

}  // namespace marl::sim::test
