#include "provider/array/SnapTimestamp.h"

#include <cstdio>

#include "platform/clock.h"

void MakeSnapTimestamp(char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) return;
    marl::platform::LocalTime t = marl::platform::GetLocalTimeNow();
    std::snprintf(buffer, size, "%02d%02d%02d%02d%02d", t.month, t.day, t.hour, t.minute, t.second);
}

std::string MakeSnapTimestamp() {
    char buffer[80];
    MakeSnapTimestamp(buffer, sizeof buffer);
    return buffer;
}
