#pragma once
// Small pieces shared by the VSS methods of CQProvider.
#include <string>

#include "common/ProductVersion.h"
#include "provider/array/VolSnapSerialIndex.h"
#include "vss/VssTypes.h"

namespace marl::provider {

// The provider's registered name; its 16 bytes (no terminator) begin the
// storage identifier of every snapshot LUN this provider describes.
inline constexpr char kProviderName[] = "Marl HW Provider";
inline constexpr size_t kProviderNameLength = sizeof(kProviderName) - 1;
static_assert(kProviderNameLength == 16, "the identifier prefix is 16 bytes");

inline constexpr const wchar_t* kProviderVersion = marl::kProductVersion;
inline constexpr char kArrayVendorId[] = "MARL";
// An array volume that is in no consistency group carries this group name.
inline constexpr char kNoGroup[] = "None";

// Lower-case 8-4-4-4-12 text of a GUID without braces; empty when the
// conversion fails. Used to log snapshot-set ids.
std::string GuidToString(const GUID& guid);

// A text of VSS's records, with a missing text read as empty.
inline const char* Text(const char* text) { return text != nullptr ? text : ""; }

// The serials of `count` LUN records, as VSS gave them: what a look-up of
// volume snapshots by serial is asked for.
inline marl::array::SerialSet SerialsOf(const VDS_LUN_INFORMATION* luns, size_t count) {
    marl::array::SerialSet serials;
    for (size_t i = 0; i < count; ++i) serials.insert(Text(luns[i].m_szSerialNumber));
    return serials;
}

// True for a serial that may go on the VMware helper's command line: one or
// more letters or digits. Anything else (a quote, a blank, a dash...) could
// split the command line into arguments the helper would obey.
bool IsHelperSafeSerial(const std::string& serial);

// Appends `serial` to a helper serial list (" " or " a,b,..."), with a ","
// when the list already holds one. An empty serial is left out silently, an
// unsafe one with an ERROR line for `function`; returns whether it was
// appended.
bool AppendHelperSerial(std::string& list, const std::string& serial, const char* function);

}  // namespace marl::provider
