#pragma once
// The most memory this process has held at once so far (its peak resident set:
// getrusage's ru_maxrss natively, GetProcessMemoryInfo's PeakWorkingSetSize on
// Windows), in bytes; 0 when the system cannot tell. Test-only: tests compare
// it before and after an operation to catch memory that grows with the size
// of the input instead of staying bounded.
#include <cstdint>

namespace marl::testing {

uint64_t PeakMemoryBytes();

}  // namespace marl::testing
