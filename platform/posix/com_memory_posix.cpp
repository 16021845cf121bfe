#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "platform/com_memory.h"

namespace marl::platform {

void* SystemComTaskMemAlloc(size_t bytes) {
    // CoTaskMemAlloc(0) returns a valid block; malloc(0) may not.
    return std::malloc(bytes == 0 ? 1 : bytes);
}

void ComTaskMemFree(void* block) { std::free(block); }

bool ComCreateGuid(ComGuid* out) {
    // A version 4 (random) GUID, as CoCreateGuid makes them.
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    uint8_t bytes[16];
    for (int i = 0; i < 16; i += 8) {
        uint64_t r = generator();
        std::memcpy(bytes + i, &r, 8);
    }
    std::memcpy(out, bytes, 16);
    out->data3 = static_cast<uint16_t>((out->data3 & 0x0FFF) | 0x4000);
    out->data4[0] = static_cast<uint8_t>((out->data4[0] & 0x3F) | 0x80);
    return true;
}

std::string ComGuidToString(const ComGuid& g) {
    char text[40];
    int n = std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                          static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
                          g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    if (n != 36) return std::string();
    return std::string(text);
}

}  // namespace marl::platform
