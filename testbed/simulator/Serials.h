// SCSI serial numbers as the simulated array hands them out. Every serial the
// array knows (volumes, peers, volume snapshots) is unique; fresh ones are
// drawn from a counter and skip anything a scenario already uses.
#pragma once

#include <set>
#include <string>

namespace marl::sim {

// Lower case (ASCII only) and left-padded with "0" to at least 8 characters,
// the form in which clients compare serials. Used to match a serial a client
// sends back against the array's own, whatever case or padding it arrives in.
std::string NormaliseSerial(const std::string& serial);

class SerialAllocator {
  public:
    // Registers a serial that is already in use; returns false when it was
    // registered before (a duplicate).
    bool Reserve(const std::string& serial);
    bool IsUsed(const std::string& serial) const;
    // A new serial of 15 hex digits, e.g. "6001405f0000001".
    std::string Next();
    void Clear();

  private:
    std::set<std::string> m_used;  // normalised
    unsigned long m_counter = 0;
};

}  // namespace marl::sim
