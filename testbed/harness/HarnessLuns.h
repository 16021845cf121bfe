#pragma once
// LUN descriptions as VSS would hand them to a provider, and their text form.
//
// A LunSet owns its records the way VSS does: every text and array inside is
// COM task memory, and the set frees whatever the records hold when it goes
// (so descriptions the provider wrote into them are freed too).
#include <string>
#include <vector>

#include "vss/VssTypes.h"

namespace marl::harness {

class LunSet {
  public:
    LunSet() = default;
    // Records with zeroed fields (destination records for GetTargetLuns).
    explicit LunSet(size_t count);
    // Source LUNs: SCSI disks of `vendor` with product "NXA", revision
    // "0001" and the given serials.
    static LunSet FromSerials(const std::vector<std::string>& serials, const std::string& vendor);
    // Copies (own texts) of other records.
    static LunSet CopyOf(const VDS_LUN_INFORMATION* luns, size_t count);
    ~LunSet();
    LunSet(LunSet&& other) noexcept;
    LunSet& operator=(LunSet&& other) noexcept;
    LunSet(const LunSet&) = delete;
    LunSet& operator=(const LunSet&) = delete;

    VDS_LUN_INFORMATION* Data() { return m_luns.empty() ? nullptr : m_luns.data(); }
    VDS_LUN_INFORMATION& operator[](size_t i) { return m_luns[i]; }
    size_t Size() const { return m_luns.size(); }
    LONG Count() const { return static_cast<LONG>(m_luns.size()); }
    std::vector<std::string> Serials() const;

  private:
    void FreeAll();
    std::vector<VDS_LUN_INFORMATION> m_luns;
};

// One line: serial, vendor, product, revision, bus type and the storage
// identifiers (a provider identifier as its name followed by the GUID).
std::string DescribeLun(const VDS_LUN_INFORMATION& lun);

// "0x80042306 VSS_E_PROVIDER_VETO" and the like.
std::string ResultText(HRESULT hr);

}  // namespace marl::harness
