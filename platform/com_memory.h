#pragma once
// COM task memory and GUIDs, the way VSS expects them.
//
// Texts and arrays that the provider leaves in VSS's LUN descriptions are
// freed by VSS with CoTaskMemFree, so they must come from CoTaskMemAlloc.
// Windows: CoTaskMemAlloc/CoTaskMemFree, CoCreateGuid, UuidToStringA.
// POSIX: malloc/free and a random (version 4) GUID.
//
// A test may install an allocation gate: while it answers true for a request,
// ComTaskMemAlloc fails (returns nullptr) without asking the system, so that
// every out-of-memory path can be driven on both builds. The gate is not
// synchronised; install it before the threads that allocate.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace marl::platform {

// The 16 bytes of a GUID in the layout of the system's GUID structure.
struct ComGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
static_assert(sizeof(ComGuid) == 16, "a GUID is 16 bytes");

// nullptr when the memory is not available (or the gate refuses it).
void* ComTaskMemAlloc(size_t bytes);
// nullptr is allowed.
void ComTaskMemFree(void* block);

// False when the system could not make one; `out` is then all zero.
bool ComCreateGuid(ComGuid* out);

// Lower-case 8-4-4-4-12 hexadecimal form without braces; an empty text when
// the conversion fails.
std::string ComGuidToString(const ComGuid& guid);

// Returns true for a request that must fail. An empty function removes the
// gate. Returns the previous gate.
using ComAllocGate = std::function<bool(size_t bytes)>;
ComAllocGate SetComAllocGate(ComAllocGate gate);

}  // namespace marl::platform
