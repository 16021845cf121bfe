#pragma once
// Between the system's GUID structure and the OS seam's copy of it.
#include <cstring>

#include "platform/com_memory.h"
#include "vss/VssTypes.h"

namespace marl::vss {

static_assert(sizeof(GUID) == sizeof(platform::ComGuid), "GUID layouts agree");

inline platform::ComGuid ToComGuid(const GUID& g) {
    platform::ComGuid c;
    std::memcpy(&c, &g, sizeof c);
    return c;
}

inline GUID FromComGuid(const platform::ComGuid& c) {
    GUID g;
    std::memcpy(&g, &c, sizeof g);
    return g;
}

// 16-byte comparison, as VSS set ids are compared.
inline bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace marl::vss
