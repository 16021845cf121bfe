// Parse(): reply text to node tree, within the limits of JsonNode.h.
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "json/JsonNode.h"
#include "json/SharedDocument.h"

namespace marl::json {

namespace {

// In place (strings and numbers stay in our copy of the text, no allocation
// per string), iterative (no recursion on nesting), numbers as their text.
constexpr unsigned kParseFlags = rapidjson::kParseInsituFlag | rapidjson::kParseIterativeFlag |
                                 rapidjson::kParseNumbersAsStringsFlag;

enum class LimitHit { kNone, kDepth, kValues };

// Passes the reader's events on to the document and stops the parse as soon
// as the text nests too deep or holds too many values.
class LimitingHandler {
  public:
    LimitingHandler(rapidjson::Document& document, const ParseLimits& limits)
        : m_document(document), m_limits(limits) {}

    bool Null() { return Count() && m_document.Null(); }
    bool Bool(bool b) { return Count() && m_document.Bool(b); }
    bool Int(int i) { return Count() && m_document.Int(i); }
    bool Uint(unsigned u) { return Count() && m_document.Uint(u); }
    bool Int64(int64_t i) { return Count() && m_document.Int64(i); }
    bool Uint64(uint64_t u) { return Count() && m_document.Uint64(u); }
    bool Double(double d) { return Count() && m_document.Double(d); }
    bool RawNumber(const char* s, rapidjson::SizeType n, bool copy) {
        return Count() && m_document.RawNumber(s, n, copy);
    }
    bool String(const char* s, rapidjson::SizeType n, bool copy) {
        return Count() && m_document.String(s, n, copy);
    }
    bool Key(const char* s, rapidjson::SizeType n, bool copy) {
        return Count() && m_document.Key(s, n, copy);
    }
    bool StartObject() { return Enter() && m_document.StartObject(); }
    bool EndObject(rapidjson::SizeType members) {
        --m_depth;
        return m_document.EndObject(members);
    }
    bool StartArray() { return Enter() && m_document.StartArray(); }
    bool EndArray(rapidjson::SizeType elements) {
        --m_depth;
        return m_document.EndArray(elements);
    }

    LimitHit Hit() const { return m_hit; }

  private:
    bool Count() {
        if (++m_values <= m_limits.maxValues) return true;
        m_hit = LimitHit::kValues;
        return false;
    }
    bool Enter() {
        if (!Count()) return false;
        if (++m_depth <= m_limits.maxDepth) return true;
        m_hit = LimitHit::kDepth;
        return false;
    }

    rapidjson::Document& m_document;
    const ParseLimits& m_limits;
    unsigned m_depth = 0;
    size_t m_values = 0;
    LimitHit m_hit = LimitHit::kNone;
};

// Document::Populate hands the generator the document as the event sink and
// keeps the value produced only when the generator reports success.
class InsituGenerator {
  public:
    InsituGenerator(char* text, const ParseLimits& limits) : m_stream(text), m_limits(limits) {}

    bool operator()(rapidjson::Document& document) {
        LimitingHandler handler(document, m_limits);
        rapidjson::Reader reader;
        m_result = reader.Parse<kParseFlags>(m_stream, handler);
        m_hit = handler.Hit();
        return !m_result.IsError();
    }

    const rapidjson::ParseResult& Result() const { return m_result; }
    LimitHit Hit() const { return m_hit; }

  private:
    rapidjson::InsituStringStream m_stream;
    const ParseLimits& m_limits;
    rapidjson::ParseResult m_result;
    LimitHit m_hit = LimitHit::kNone;
};

[[noreturn]] void Reject(const std::string& why) { throw std::invalid_argument(why); }

void CheckText(std::string_view text, const ParseLimits& limits) {
    if (text.size() > limits.maxTextBytes) {
        Reject("JSON text of " + std::to_string(text.size()) + " bytes exceeds the limit of " +
               std::to_string(limits.maxTextBytes) + " bytes");
    }
    if (std::memchr(text.data(), '\0', text.size()) != nullptr) {
        Reject("JSON text holds a NUL byte at offset " + std::to_string(text.find('\0')));
    }
}

std::string Describe(const InsituGenerator& generator, const ParseLimits& limits) {
    switch (generator.Hit()) {
        case LimitHit::kDepth:
            return "JSON text nests deeper than " + std::to_string(limits.maxDepth) + " levels";
        case LimitHit::kValues:
            return "JSON text holds more than " + std::to_string(limits.maxValues) + " values";
        case LimitHit::kNone:
            break;
    }
    const rapidjson::ParseResult& result = generator.Result();
    return std::string("malformed JSON text: ") + rapidjson::GetParseError_En(result.Code()) +
           " (offset " + std::to_string(result.Offset() > 0 ? result.Offset() - 1 : 0) + ")";
}

}  // namespace

JsonNode Parse(std::string_view text, const ParseLimits& limits) {
    CheckText(text, limits);
    // Values waiting for their container take 16 bytes each on the stack;
    // a reply rarely has more of them pending than a quarter of its bytes.
    const size_t stackCapacity = std::max<size_t>(1024, text.size() / 4);
    auto shared = std::make_unique<detail::SharedDocument>(stackCapacity);
    // One leading blank keeps the byte before every value inside the buffer
    // (see IsNumberText); the reader skips it as white space.
    shared->text = detail::TextBuffer::Acquire(text.size() + 2);  // no need to clear it first
    char* buffer = shared->text.Data();
    buffer[0] = ' ';
    std::memcpy(buffer + 1, text.data(), text.size());
    buffer[text.size() + 1] = '\0';

    InsituGenerator generator(buffer, limits);
    shared->document.Populate(generator);
    if (generator.Result().IsError()) Reject(Describe(generator, limits));
    if (!shared->document.IsObject() && !shared->document.IsArray()) {
        Reject("JSON text is neither an object nor an array");
    }
    detail::SharedDocument* owner = shared.release();
    return JsonNode(owner, &owner->document);
}

}  // namespace marl::json
