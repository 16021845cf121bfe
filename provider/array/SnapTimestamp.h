#pragma once
// Time stamps in snapshot names.
#include <cstddef>
#include <string>

// Writes the local time as "%m%d%H%M%S" (month, day, hour, minute, second:
// ten digits) into `buffer`, cut to fit `size` bytes (terminator included).
// The provider uses an 80-byte buffer, the restore a 20-byte one.
void MakeSnapTimestamp(char* buffer, size_t size);

// The same text as a string.
std::string MakeSnapTimestamp();
