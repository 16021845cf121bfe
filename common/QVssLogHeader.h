#pragma once
// The header of a log line, "[time][module][level][unit:line][function]
// [PID:0x..][TID:0x..]", written as the printf format
// "[%04d/%02d/%02d-%02d:%02d:%02d.%03ld][%s][%s][%s:%ld][%s][PID:0x%x][TID:0x%x]"
// writes it, but without printf: parsing fourteen conversions at every line
// cost as much as all the rest of the formatting.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/clock.h"

namespace marl::common {

// What the header says about one line; read before the logger's mutex is taken.
struct QLogLineStamp {
    const char* function;
    const char* file;
    long line;
    const std::string& module;
    const char* levelName;
    marl::platform::LocalTime time;
    uint32_t pid;
    uint32_t tid;
};

// Like snprintf: writes as much of the header as fits in `size` bytes with a
// terminating zero (nothing when `size` is 0) and returns the length of the
// whole header.
int FormatLogHeader(char* buffer, size_t size, const QLogLineStamp& stamp);

}  // namespace marl::common
