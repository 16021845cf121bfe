#pragma once
// Shared by the fuzz targets: the reply handling that every command issuer
// wraps around its parser, from the raw reply text on.
//
// The issuers catch the two errors the JSON facade and ParseCGShow signal
// (std::invalid_argument for text that is not JSON, std::out_of_range for
// a walk past the end) and log them. Anything else escaping here is a
// finding: the fuzzer reports the uncaught exception. FUZZ_CHECK traps on a
// broken invariant of the records produced.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "common/QVssLog.h"
#include "json/JsonNode.h"
#include "provider/array/ResponseEnvelope.h"

#define FUZZ_CHECK(condition)               \
    do {                                    \
        if (!(condition)) __builtin_trap(); \
    } while (0)

// Every line is formatted as in a support log at the most verbose levels;
// no file is open, so the lines go no further than the logger's door.
inline void EnableAllLogLevels() {
    static const bool enabled = [] {
        CQLogger::getInstance()->SetLogLevel("JSON", QLOG_TRACE);
        CQLogger::getInstance()->SetLogLevel("PROVIDER", QLOG_TRACE);
        return true;
    }();
    (void)enabled;
}

inline std::string ReplyText(const uint8_t* bytes, size_t size) {
    return std::string(reinterpret_cast<const char*>(bytes), size);
}

// Parses the reply, checks its envelope and, when it reports success, hands
// the data node to `parser`.
template <typename Parser>
void RunReplyPath(const uint8_t* bytes, size_t size, Parser&& parser) {
    EnableAllLogLevels();
    try {
        marl::json::JsonNode root = marl::json::Parse(ReplyText(bytes, size));
        marl::json::JsonNode data;
        if (ParseResponse(root, data)) return;
        parser(data);
    } catch (const std::invalid_argument&) {
    } catch (const std::out_of_range&) {
    }
}

// A serial as the parsers store it: at least 8 characters, no upper case.
inline bool IsNormalisedSerial(const std::string& serial) {
    if (serial.size() < 8) return false;
    for (char c : serial) {
        if (c >= 'A' && c <= 'Z') return false;
    }
    return true;
}
