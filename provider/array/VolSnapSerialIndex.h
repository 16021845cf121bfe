#pragma once
// What the array's listing of all its volume snapshots ("volsnap_show"
// without a name) says of each one's serials, by volume-snapshot name.
//
// It decides which volume snapshots need to be asked for one by one
// ("vss_volsnap_show") when a LUN is looked for by serial: only those that
// may hold one of the serials wanted. A volume snapshot is passed over only
// when the listing names it and gives it other serials; one the listing does
// not name may hold anything. So a listing that is missing, partial or stale
// costs look-ups, never a LUN.
//
// Both listings describe the same volume snapshot with the same serial
// members: that is what lets the names passed over be left unasked.
//
// A plain value; not thread-safe.
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace marl::array {

// Serials as the parsers store them (NormaliseSerial) or as VSS gives them.
using SerialSet = std::unordered_set<std::string>;

class VolSnapSerialIndex {
  public:
    // One entry of the listing; a name listed twice keeps both entries.
    void Add(const std::string& volSnapName, const std::string& sn, const std::string& peerSn) {
        std::vector<std::string>& serials = m_serials[volSnapName];
        serials.push_back(sn);
        serials.push_back(peerSn);
    }

    // False only when the listing named `volSnapName` and none of its
    // entries of that name has one of `wanted` as serial or peer serial.
    bool MayHold(const std::string& volSnapName, const SerialSet& wanted) const {
        auto it = m_serials.find(volSnapName);
        if (it == m_serials.end()) return true;
        for (const std::string& serial : it->second) {
            if (wanted.count(serial) != 0) return true;
        }
        return false;
    }

    size_t Names() const { return m_serials.size(); }

  private:
    std::unordered_map<std::string, std::vector<std::string>> m_serials;
};

// The listing as one provider call uses it: asked for at most once, when a
// look-up first needs it, and not used when the array did not give it.
struct VolSnapListing {
    bool asked = false;
    bool usable = false;
    VolSnapSerialIndex index;
};

}  // namespace marl::array
