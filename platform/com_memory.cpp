#include "platform/com_memory.h"

#include <utility>

namespace marl::platform {

// Per backend.
void* SystemComTaskMemAlloc(size_t bytes);

namespace {
ComAllocGate& Gate() {
    static ComAllocGate gate;
    return gate;
}
}  // namespace

void* ComTaskMemAlloc(size_t bytes) {
    if (Gate() && Gate()(bytes)) return nullptr;
    return SystemComTaskMemAlloc(bytes);
}

ComAllocGate SetComAllocGate(ComAllocGate gate) { return std::exchange(Gate(), std::move(gate)); }

}  // namespace marl::platform
