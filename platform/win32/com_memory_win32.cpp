// windows.h first: the other SDK headers build on it.
#include <windows.h>
// clang-format off
#include <objbase.h>
#include <rpc.h>
// clang-format on

#include <cstring>

#include "platform/com_memory.h"

namespace marl::platform {

void* SystemComTaskMemAlloc(size_t bytes) { return ::CoTaskMemAlloc(bytes); }

void ComTaskMemFree(void* block) { ::CoTaskMemFree(block); }

bool ComCreateGuid(ComGuid* out) {
    GUID g;
    if (FAILED(::CoCreateGuid(&g))) {
        std::memset(out, 0, sizeof *out);
        return false;
    }
    std::memcpy(out, &g, sizeof g);
    return true;
}

std::string ComGuidToString(const ComGuid& guid) {
    UUID uuid;
    std::memcpy(&uuid, &guid, sizeof uuid);
    RPC_CSTR text = nullptr;
    if (::UuidToStringA(&uuid, &text) != RPC_S_OK || text == nullptr) return std::string();
    std::string result(reinterpret_cast<const char*>(text));
    ::RpcStringFreeA(&text);
    return result;
}

}  // namespace marl::platform
