// Small helpers around RapidJSON shared by the simulator's units: reading
// optional members, turning any value into text, and the ordered string maps
// that command arguments and journal entries are made of.
#pragma once

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string>
#include <utility>
#include <vector>

namespace marl::sim {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

// Members of a JSON object whose values are (or are read as) texts, in document
// order. Duplicates are kept; Find returns the first one.
class StringPairs {
  public:
    void Add(std::string name, std::string value);
    const std::string* Find(const std::string& name) const;
    std::string Get(const std::string& name, const std::string& fallback = "") const;
    bool Has(const std::string& name) const { return Find(name) != nullptr; }
    const std::vector<std::pair<std::string, std::string>>& Items() const { return m_items; }
    bool Empty() const { return m_items.empty(); }

  private:
    std::vector<std::pair<std::string, std::string>> m_items;
};

// Parses `text` as one JSON object whose member values are taken as texts
// (non-string values are written back as JSON). Returns false and fills
// `error` when the text is not a JSON object.
bool ParseStringObject(const std::string& text, StringPairs& out, std::string& error);

// Parses a whole document; comments and trailing commas are accepted so that
// hand-written scenario files stay forgiving. Returns false with `error` set.
bool ParseDocument(const std::string& text, rapidjson::Document& doc, std::string& error);

// The value as text: strings as they are, everything else as compact JSON.
std::string ValueText(const rapidjson::Value& value);

// Member `name` of object `obj` as text, or `fallback` when absent or null.
std::string MemberText(const rapidjson::Value& obj, const char* name,
                       const std::string& fallback = "");
bool MemberBool(const rapidjson::Value& obj, const char* name, bool fallback);
long long MemberInt(const rapidjson::Value& obj, const char* name, long long fallback);

void WriteString(JsonWriter& w, const std::string& s);
void WriteKey(JsonWriter& w, const std::string& s);
void WritePairsObject(JsonWriter& w, const StringPairs& pairs);

// One member of the object being written.
void FieldText(JsonWriter& w, const char* key, const std::string& value);
void FieldBool(JsonWriter& w, const char* key, bool value);
void FieldInt(JsonWriter& w, const char* key, long long value);
void FieldUint(JsonWriter& w, const char* key, unsigned long long value);

// Appends `s` as a JSON string (quotes included). Much faster than the
// writer for the long listings: texts that need no escaping are copied whole.
void AppendJsonString(std::string& out, const std::string& s);

// Splits a comma-joined list ("a,b,c"); an empty text gives an empty list.
std::vector<std::string> SplitList(const std::string& text);

}  // namespace marl::sim
