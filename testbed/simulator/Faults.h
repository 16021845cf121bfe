// Injected faults: rules that replace the array's answer to matching
// requests. A rule targets one command, "*" (every command), "login" or
// "logout"; it can wait first, and then answer with a status code, a failure
// key, a malformed or verbatim body, a body cut off half-way, a redirect to a
// given location, a body of a given length streamed without being held in
// memory, or no answer at all (dropped connection). Rules apply in the order they were added; each
// can let its first `skip` matches pass and then apply `count` times (or for
// ever). Not thread-safe: the service's lock guards it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SimJson.h"

namespace marl::sim {

enum class FaultType { Status, Key, Malformed, Raw, Delay, Drop, Truncate, Redirect, Stream };

constexpr int kMaxFaultDelayMs = 60000;
// A streamed body may be far larger than any memory: it is made as it is sent.
constexpr long long kMaxStreamBytes = 1LL << 40;

struct FaultRule {
    uint64_t id = 0;
    std::string target;
    FaultType type = FaultType::Status;
    int status = 0;  // Status (default 500), Raw and Stream (200), Redirect (307)
    std::string key;
    std::string info;
    std::string body;         // Raw: sent verbatim; Status: optional body
    std::string contentType;  // Raw; defaults to application/json
    std::string location;     // Redirect: the Location header
    long long length = 0;     // Stream: bytes of the body
    int delayMs = 0;          // any type: wait this long before answering
    long remaining = -1;      // uses left; -1 for ever
    long skip = 0;            // matching requests to let pass first
    bool execute = false;     // run the command before replacing its reply
    uint64_t hits = 0;
};

const char* FaultTypeName(FaultType type);

// Reads a rule from its control form, e.g. {"target": "vol_show", "type":
// "status", "status": 500, "count": 2}. Returns false with `error` set.
bool FaultFromJson(const rapidjson::Value& json, FaultRule& rule, std::string& error);

class FaultTable {
  public:
    uint64_t Add(FaultRule rule);
    // Clears the rules of one target, or all when `target` is empty.
    void Clear(const std::string& target);
    // The rule that shapes this request, if any; consumes one use of it.
    bool Take(const std::string& target, bool isCommand, FaultRule& applied);
    std::string ToJson() const;

  private:
    std::vector<FaultRule> m_rules;
    uint64_t m_nextId = 1;
};

}  // namespace marl::sim
