#include "Serials.h"

#include <cstdio>

namespace marl::sim {

std::string NormaliseSerial(const std::string& serial) {
    std::string out = serial;
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (out.size() < 8) out.insert(0, 8 - out.size(), '0');
    return out;
}

bool SerialAllocator::Reserve(const std::string& serial) {
    return m_used.insert(NormaliseSerial(serial)).second;
}

bool SerialAllocator::IsUsed(const std::string& serial) const {
    return m_used.count(NormaliseSerial(serial)) != 0;
}

std::string SerialAllocator::Next() {
    // The counter space (16^7) is far larger than any inventory, so this loop
    // ends after skipping at most the serials a scenario reserved.
    while (true) {
        char text[32];
        std::snprintf(text, sizeof text, "6001405f%07lx", ++m_counter & 0xFFFFFFFUL);
        if (Reserve(text)) return text;
    }
}

void SerialAllocator::Clear() {
    m_used.clear();
    m_counter = 0;
}

}  // namespace marl::sim
