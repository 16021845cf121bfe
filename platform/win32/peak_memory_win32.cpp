#include <windows.h>
// psapi.h needs windows.h first.
#include <psapi.h>

#include "platform/testing/peak_memory.h"

namespace marl::testing {

uint64_t PeakMemoryBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.PeakWorkingSetSize;
}

}  // namespace marl::testing
