#pragma once
// The node tree the array client reads replies through: a small facade over a
// RapidJSON document.
//
// Parse() turns one reply text into a tree. The tree itself is immutable and
// shared: a JsonNode is a handle on one value of it (the root, a member or an
// element) and keeps the whole parsed document alive, so copying a node is
// cheap (a reference count) and never copies the values below it. What a
// node may change is only its own view of its children: TakeAt() removes an
// element from that node object, not from the document or from other copies.
//
// What the tree keeps of the text:
//   - members in document order, duplicate names included;
//   - numbers as the text they were written with (AsString() of 1.10 is
//     "1.10"), typed JSON_NUMBER;
//   - strings as bytes, with no encoding check (array names are narrow texts).
//
// Limits on a text, so that a broken or hostile reply is a parse failure and
// never a stack overflow or an exhausted memory:
//   - kMaxTextBytes: 64 MiB of text (a 100,000-volume vol_show reply is about
//     a fifth of that);
//   - kMaxDepth: 64 levels of nested objects and arrays (replies use four);
//     parsing is iterative, so nesting never costs call stack, and the
//     walkers of this tree, which recurse, are bounded by the same limit;
//   - kMaxValues: 8 Mi values and member names in one text, which bounds
//     the tree to about 128 MiB whatever the text holds (a reply of
//     "[[],[],..." would otherwise cost 16 bytes per 3 bytes of text).
// The root of a text must be an object or an array, as every reply is; a
// text with a NUL byte is malformed (JSON has no raw NUL anywhere).
//
// Thread safety: the shared document is never written after parsing, so
// nodes of one tree may be read from several threads; one JsonNode object
// must not be changed (assigned, TakeAt) while another thread uses it.
// Iterators and the nodes they yield are valid while the node iterated lives.
#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace marl::json {

enum JsonType { JSON_NULL = 0, JSON_STRING, JSON_NUMBER, JSON_BOOL, JSON_ARRAY, JSON_NODE };

constexpr size_t kMaxTextBytes = size_t{64} << 20;
constexpr unsigned kMaxDepth = 64;
constexpr size_t kMaxValues = size_t{8} << 20;

// The limits a parse enforces; the defaults are the ones above. Lower ones
// serve tests and callers that know their texts are small.
struct ParseLimits {
    size_t maxTextBytes = kMaxTextBytes;
    unsigned maxDepth = kMaxDepth;
    size_t maxValues = kMaxValues;
};

namespace detail {
struct SharedDocument;
}

class JsonNode {
  public:
    class ConstIterator;

    // An empty object (JSON_NODE without children), not tied to any text.
    JsonNode();
    JsonNode(const JsonNode& other);
    JsonNode(JsonNode&& other) noexcept;
    JsonNode& operator=(const JsonNode& other);
    JsonNode& operator=(JsonNode&& other) noexcept;
    ~JsonNode();

    JsonType Type() const;
    // The member name under which this node sits in its object; empty for
    // roots, array elements and constructed nodes.
    std::string_view Name() const;
    // Strings as they are, numbers as their text, booleans "true"/"false";
    // null, objects and arrays give an empty text.
    std::string AsString() const;
    // The same for strings and numbers without a copy; empty for the others.
    std::string_view StringView() const;

    // Children: members of an object, elements of an array; none otherwise.
    size_t Size() const;
    bool Empty() const { return Size() == 0; }
    ConstIterator begin() const;
    ConstIterator end() const;

    // A copy typed JSON_ARRAY with this node's children (members keep their
    // names); a string, number, boolean or null converts to an empty array.
    JsonNode AsArray() const;
    // Removes the child at `position` from this node and returns it.
    // Throws std::out_of_range when position >= Size().
    JsonNode TakeAt(size_t position);

    // True when this node is a number equal to `value`.
    bool EqualsNumber(double value) const;

  private:
    friend JsonNode Parse(std::string_view text, const ParseLimits& limits);
    struct Child {
        const rapidjson::Value* name;  // null for array elements
        const rapidjson::Value* value;
    };
    // Children left after TakeAt: the node's own list from then on.
    struct Edits {
        std::vector<Child> children;
        size_t front = 0;  // taken from the front without moving the rest
    };

    JsonNode(detail::SharedDocument* shared, const rapidjson::Value* value);
    void Acquire();
    void Release();
    Child ChildAt(size_t index) const;
    void MaterialiseChildren();

    detail::SharedDocument* m_shared = nullptr;
    const rapidjson::Value* m_name = nullptr;
    const rapidjson::Value* m_value;
    bool m_owning = false;   // false for the views an iterator hands out
    bool m_asArray = false;  // set by AsArray(): typed array whatever the value
    std::unique_ptr<Edits> m_edits;
};

// Forward iteration over the children of one node, in document order.
// It holds the node it yields, so a reference obtained from it is valid
// until the iterator moves on (copy the node to keep it).
class JsonNode::ConstIterator {
  public:
    using iterator_category = std::input_iterator_tag;
    using value_type = JsonNode;
    using difference_type = std::ptrdiff_t;
    using pointer = const JsonNode*;
    using reference = const JsonNode&;

    ConstIterator(const JsonNode* parent, size_t index) : m_parent(parent), m_index(index) {
        Load();
    }
    ConstIterator(const ConstIterator& other) : ConstIterator(other.m_parent, other.m_index) {}
    ConstIterator& operator=(const ConstIterator& other) {
        m_parent = other.m_parent;
        m_index = other.m_index;
        Load();
        return *this;
    }
    const JsonNode& operator*() const { return m_current; }
    const JsonNode* operator->() const { return &m_current; }
    ConstIterator& operator++() {
        ++m_index;
        Load();
        return *this;
    }
    bool operator==(const ConstIterator& other) const { return m_index == other.m_index; }
    bool operator!=(const ConstIterator& other) const { return m_index != other.m_index; }

  private:
    void Load() {
        if (m_index >= m_parent->Size()) return;
        Child child = m_parent->ChildAt(m_index);
        m_current.m_shared = m_parent->m_shared;
        m_current.m_name = child.name;
        m_current.m_value = child.value;
    }

    const JsonNode* m_parent;
    size_t m_index;
    JsonNode m_current;  // a view that does not own the document
};

namespace detail {
// A string value of an in-place parse is a number when the byte before its
// text is not the opening quote. Strings start right after their quote, which
// in-place decoding never overwrites (it writes at or after the position it
// reads, and only up to the string's closing quote); a number is preceded by
// "[", ",", ":" or white space, which is never a quote, and Parse() puts a
// blank before the text so that this byte always exists. Only meaningful for
// values of a document parsed by Parse().
inline bool IsNumberText(const rapidjson::Value& value) {
    return value.IsString() && value.GetString()[-1] != '"';
}

inline std::string_view ViewOf(const rapidjson::Value& value) {
    return std::string_view(value.GetString(), value.GetStringLength());
}
}  // namespace detail

inline JsonType JsonNode::Type() const {
    if (m_asArray) return JSON_ARRAY;
    switch (m_value->GetType()) {
        case rapidjson::kNullType:
            return JSON_NULL;
        case rapidjson::kFalseType:
        case rapidjson::kTrueType:
            return JSON_BOOL;
        case rapidjson::kObjectType:
            return JSON_NODE;
        case rapidjson::kArrayType:
            return JSON_ARRAY;
        case rapidjson::kStringType:
            return detail::IsNumberText(*m_value) ? JSON_NUMBER : JSON_STRING;
        case rapidjson::kNumberType:
            return JSON_NUMBER;  // not produced by Parse, which keeps numbers as text
    }
    return JSON_NULL;
}

inline std::string_view JsonNode::Name() const {
    return m_name ? detail::ViewOf(*m_name) : std::string_view();
}

inline std::string_view JsonNode::StringView() const {
    return m_value->IsString() ? detail::ViewOf(*m_value) : std::string_view();
}

inline std::string JsonNode::AsString() const {
    if (m_value->IsBool()) return m_value->GetBool() ? "true" : "false";
    return std::string(StringView());
}

inline JsonNode::ConstIterator JsonNode::begin() const { return ConstIterator(this, 0); }

inline JsonNode::ConstIterator JsonNode::end() const { return ConstIterator(this, Size()); }

inline size_t JsonNode::Size() const {
    if (m_edits) return m_edits->children.size() - m_edits->front;
    if (m_value->IsObject()) return m_value->MemberCount();
    if (m_value->IsArray()) return m_value->Size();
    return 0;
}

inline JsonNode::Child JsonNode::ChildAt(size_t index) const {
    if (m_edits) return m_edits->children[m_edits->front + index];
    if (m_value->IsObject()) {
        const auto& member = m_value->MemberBegin()[static_cast<ptrdiff_t>(index)];
        return Child{&member.name, &member.value};
    }
    return Child{nullptr, &(*m_value)[static_cast<rapidjson::SizeType>(index)]};
}

// Parses one reply text. Throws std::invalid_argument for malformed text,
// a root that is neither object nor array, and a text over the limits;
// std::bad_alloc when memory runs out nonetheless.
JsonNode Parse(std::string_view text, const ParseLimits& limits = ParseLimits());

}  // namespace marl::json
