#include "SimJson.h"

#include <rapidjson/error/en.h>

namespace marl::sim {

void StringPairs::Add(std::string name, std::string value) {
    m_items.emplace_back(std::move(name), std::move(value));
}

const std::string* StringPairs::Find(const std::string& name) const {
    for (const auto& item : m_items) {
        if (item.first == name) return &item.second;
    }
    return nullptr;
}

std::string StringPairs::Get(const std::string& name, const std::string& fallback) const {
    const std::string* found = Find(name);
    return found ? *found : fallback;
}

bool ParseDocument(const std::string& text, rapidjson::Document& doc, std::string& error) {
    constexpr unsigned kFlags = rapidjson::kParseCommentsFlag | rapidjson::kParseTrailingCommasFlag;
    doc.Parse<kFlags>(text.c_str(), text.size());
    if (!doc.HasParseError()) return true;
    error = std::string(rapidjson::GetParseError_En(doc.GetParseError())) + " at offset " +
            std::to_string(doc.GetErrorOffset());
    return false;
}

bool ParseStringObject(const std::string& text, StringPairs& out, std::string& error) {
    rapidjson::Document doc;
    doc.Parse(text.c_str(), text.size());
    if (doc.HasParseError()) {
        error = std::string(rapidjson::GetParseError_En(doc.GetParseError())) + " at offset " +
                std::to_string(doc.GetErrorOffset());
        return false;
    }
    if (!doc.IsObject()) {
        error = "not a JSON object";
        return false;
    }
    for (auto it = doc.MemberBegin(); it != doc.MemberEnd(); ++it) {
        out.Add(std::string(it->name.GetString(), it->name.GetStringLength()),
                ValueText(it->value));
    }
    return true;
}

std::string ValueText(const rapidjson::Value& value) {
    if (value.IsString()) return std::string(value.GetString(), value.GetStringLength());
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    value.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string MemberText(const rapidjson::Value& obj, const char* name, const std::string& fallback) {
    if (!obj.IsObject()) return fallback;
    auto it = obj.FindMember(name);
    if (it == obj.MemberEnd() || it->value.IsNull()) return fallback;
    return ValueText(it->value);
}

bool MemberBool(const rapidjson::Value& obj, const char* name, bool fallback) {
    if (!obj.IsObject()) return fallback;
    auto it = obj.FindMember(name);
    if (it == obj.MemberEnd()) return fallback;
    if (it->value.IsBool()) return it->value.GetBool();
    if (it->value.IsString()) {
        std::string text = it->value.GetString();
        return text == "true" || text == "True" || text == "1";
    }
    return fallback;
}

long long MemberInt(const rapidjson::Value& obj, const char* name, long long fallback) {
    if (!obj.IsObject()) return fallback;
    auto it = obj.FindMember(name);
    if (it == obj.MemberEnd()) return fallback;
    if (it->value.IsInt64()) return it->value.GetInt64();
    if (it->value.IsString()) {
        try {
            return std::stoll(it->value.GetString());
        } catch (...) {
            return fallback;
        }
    }
    return fallback;
}

void WriteString(JsonWriter& w, const std::string& s) {
    w.String(s.c_str(), static_cast<rapidjson::SizeType>(s.size()));
}

void WriteKey(JsonWriter& w, const std::string& s) {
    w.Key(s.c_str(), static_cast<rapidjson::SizeType>(s.size()));
}

void WritePairsObject(JsonWriter& w, const StringPairs& pairs) {
    w.StartObject();
    for (const auto& item : pairs.Items()) {
        WriteKey(w, item.first);
        WriteString(w, item.second);
    }
    w.EndObject();
}

void FieldText(JsonWriter& w, const char* key, const std::string& value) {
    w.Key(key);
    WriteString(w, value);
}

void FieldBool(JsonWriter& w, const char* key, bool value) {
    w.Key(key);
    w.Bool(value);
}

void FieldInt(JsonWriter& w, const char* key, long long value) {
    w.Key(key);
    w.Int64(value);
}

void FieldUint(JsonWriter& w, const char* key, unsigned long long value) {
    w.Key(key);
    w.Uint64(value);
}

void AppendJsonString(std::string& out, const std::string& s) {
    out += '"';
    size_t start = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(s, start, i - start);
        static const char kHex[] = "0123456789abcdef";
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
        start = i + 1;
    }
    out.append(s, start, std::string::npos);
    out += '"';
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    if (text.empty()) return items;
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        items.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return items;
}

}  // namespace marl::sim
