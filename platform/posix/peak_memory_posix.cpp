#include <sys/resource.h>

#include "platform/testing/peak_memory.h"

namespace marl::testing {

uint64_t PeakMemoryBytes() {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
    return static_cast<uint64_t>(usage.ru_maxrss) * 1024;  // Linux counts KiB
}

}  // namespace marl::testing
