#pragma once
// Local time, process and thread identity, and sleeping.
#include <cstdint>

namespace marl::platform {

struct LocalTime {
    int year;
    int month;   // 1..12
    int day;     // 1..31
    int hour;
    int minute;
    int second;
    int millisecond;
};

LocalTime GetLocalTimeNow();
uint32_t CurrentProcessId();
// A number that identifies the calling thread within its process.
uint32_t CurrentThreadId();
void SleepMilliseconds(uint32_t ms);

}  // namespace marl::platform
