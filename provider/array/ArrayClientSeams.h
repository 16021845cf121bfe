#pragma once
// What the array operations do outside the array: the pause between two
// preparation attempts, the clock that names a pre-restore snapshot, and the
// VMware helper that rescans a guest's disks and attaches snapshot LUNs.
//
// The defaults act for real. The array client is given an object of this
// kind when it is made; tests give one that records instead of acting.
// Called on the thread of the operation that needs them.
#include <cstdint>
#include <string>

namespace marl::array {

class ArrayClientSeams {
  public:
    virtual ~ArrayClientSeams() = default;
    virtual void PauseBeforeRetry(uint32_t milliseconds);
    // Local time as "%m%d%H%M%S".
    virtual std::string RestoreTimestamp();
    virtual void RunHelperScsiRescan();
    // `scsiSerials`: " sn1,sn2,...".
    virtual void RunHelperSetRdm(const std::string& scsiSerials);
};

}  // namespace marl::array
