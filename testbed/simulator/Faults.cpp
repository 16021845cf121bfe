#include "Faults.h"

#include <algorithm>

namespace marl::sim {

namespace {

struct TypeEntry {
    FaultType type;
    const char* name;
};

constexpr TypeEntry kTypes[] = {
    {FaultType::Status, "status"},       {FaultType::Key, "key"},
    {FaultType::Malformed, "malformed"}, {FaultType::Raw, "raw"},
    {FaultType::Delay, "delay"},         {FaultType::Drop, "drop"},
    {FaultType::Truncate, "truncate"},   {FaultType::Redirect, "redirect"},
    {FaultType::Stream, "stream"},
};

bool TypeFromName(const std::string& name, FaultType& type) {
    for (const auto& entry : kTypes) {
        if (name == entry.name) {
            type = entry.type;
            return true;
        }
    }
    return false;
}

bool ReadCount(const rapidjson::Value& json, FaultRule& rule, std::string& error) {
    auto it = json.FindMember("count");
    if (it == json.MemberEnd() || it->value.IsNull() ||
        (it->value.IsString() && std::string(it->value.GetString()) == "all")) {
        rule.remaining = -1;
        return true;
    }
    if (!it->value.IsInt64() || it->value.GetInt64() < 1) {
        error = "count must be a positive number or \"all\"";
        return false;
    }
    rule.remaining = static_cast<long>(it->value.GetInt64());
    return true;
}

bool CheckRule(const FaultRule& rule, std::string& error) {
    if (rule.target.empty()) error = "target is required";
    if (rule.delayMs < 0 || rule.delayMs > kMaxFaultDelayMs) {
        error = "delay_ms must be between 0 and " + std::to_string(kMaxFaultDelayMs);
    }
    if (rule.type == FaultType::Key && rule.key.empty()) error = "a key fault needs a key";
    if (rule.status != 0 && (rule.status < 100 || rule.status > 599)) error = "bad status code";
    if (rule.skip < 0) error = "skip must not be negative";
    if (rule.type == FaultType::Redirect && rule.location.empty()) {
        error = "a redirect fault needs a location";
    }
    if (rule.type == FaultType::Redirect && rule.status != 0 &&
        (rule.status < 300 || rule.status > 399)) {
        error = "a redirect's status must be 3xx";
    }
    if (rule.type == FaultType::Stream && (rule.length < 1 || rule.length > kMaxStreamBytes)) {
        error = "a stream fault needs a length between 1 and " + std::to_string(kMaxStreamBytes);
    }
    return error.empty();
}

}  // namespace

const char* FaultTypeName(FaultType type) {
    for (const auto& entry : kTypes) {
        if (entry.type == type) return entry.name;
    }
    return "status";
}

bool FaultFromJson(const rapidjson::Value& json, FaultRule& rule, std::string& error) {
    if (!json.IsObject()) {
        error = "a fault must be a JSON object";
        return false;
    }
    rule.target = MemberText(json, "target");
    std::string type = MemberText(json, "type", "status");
    if (!TypeFromName(type, rule.type)) {
        error = "unknown fault type " + type;
        return false;
    }
    rule.status = static_cast<int>(MemberInt(json, "status", 0));
    rule.key = MemberText(json, "key");
    rule.info = MemberText(json, "info");
    rule.body = MemberText(json, "body");
    rule.contentType = MemberText(json, "content_type");
    rule.location = MemberText(json, "location");
    rule.length = MemberInt(json, "length", 0);
    rule.delayMs = static_cast<int>(MemberInt(json, "delay_ms", 0));
    rule.skip = static_cast<long>(MemberInt(json, "skip", 0));
    rule.execute = MemberBool(json, "execute", false);
    return ReadCount(json, rule, error) && CheckRule(rule, error);
}

uint64_t FaultTable::Add(FaultRule rule) {
    rule.id = m_nextId++;
    rule.hits = 0;
    m_rules.push_back(rule);
    return rule.id;
}

void FaultTable::Clear(const std::string& target) {
    if (target.empty()) {
        m_rules.clear();
        return;
    }
    m_rules.erase(std::remove_if(m_rules.begin(), m_rules.end(),
                                 [&](const FaultRule& r) { return r.target == target; }),
                  m_rules.end());
}

bool FaultTable::Take(const std::string& target, bool isCommand, FaultRule& applied) {
    for (auto it = m_rules.begin(); it != m_rules.end(); ++it) {
        bool matches = it->target == target || (isCommand && it->target == "*");
        if (!matches) continue;
        if (it->skip > 0) {
            --it->skip;
            continue;
        }
        ++it->hits;
        applied = *it;
        if (it->remaining > 0 && --it->remaining == 0) m_rules.erase(it);
        return true;
    }
    return false;
}

std::string FaultTable::ToJson() const {
    rapidjson::StringBuffer buffer;
    JsonWriter w(buffer);
    w.StartObject();
    w.Key("faults");
    w.StartArray();
    for (const auto& r : m_rules) {
        w.StartObject();
        FieldUint(w, "id", r.id);
        FieldText(w, "target", r.target);
        FieldText(w, "type", FaultTypeName(r.type));
        FieldInt(w, "status", r.status);
        FieldText(w, "key", r.key);
        if (r.type == FaultType::Redirect) FieldText(w, "location", r.location);
        if (r.type == FaultType::Stream) FieldInt(w, "length", r.length);
        FieldInt(w, "delay_ms", r.delayMs);
        FieldInt(w, "remaining", r.remaining);
        FieldInt(w, "skip", r.skip);
        FieldBool(w, "execute", r.execute);
        FieldUint(w, "hits", r.hits);
        w.EndObject();
    }
    w.EndArray();
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace marl::sim
