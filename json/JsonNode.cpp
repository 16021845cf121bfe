#include "json/JsonNode.h"

#include <cstdlib>
#include <stdexcept>

#include "json/SharedDocument.h"

namespace marl::json {

namespace {
const rapidjson::Value& EmptyObject() {
    static const rapidjson::Value empty(rapidjson::kObjectType);
    return empty;
}

}  // namespace

JsonNode::JsonNode() : m_value(&EmptyObject()) {}

JsonNode::JsonNode(detail::SharedDocument* shared, const rapidjson::Value* value)
    : m_shared(shared), m_value(value), m_owning(true) {}

JsonNode::JsonNode(const JsonNode& other)
    : m_shared(other.m_shared),
      m_name(other.m_name),
      m_value(other.m_value),
      m_asArray(other.m_asArray),
      m_edits(other.m_edits ? std::make_unique<Edits>(*other.m_edits) : nullptr) {
    Acquire();
}

JsonNode::JsonNode(JsonNode&& other) noexcept
    : m_shared(other.m_shared),
      m_name(other.m_name),
      m_value(other.m_value),
      m_owning(other.m_owning),
      m_asArray(other.m_asArray),
      m_edits(std::move(other.m_edits)) {
    other.m_shared = nullptr;
    other.m_owning = false;
    other.m_name = nullptr;
    other.m_value = &EmptyObject();
    other.m_asArray = false;
}

JsonNode& JsonNode::operator=(const JsonNode& other) {
    if (this != &other) *this = JsonNode(other);
    return *this;
}

JsonNode& JsonNode::operator=(JsonNode&& other) noexcept {
    if (this == &other) return *this;
    Release();
    m_shared = other.m_shared;
    m_name = other.m_name;
    m_value = other.m_value;
    m_owning = other.m_owning;
    m_asArray = other.m_asArray;
    m_edits = std::move(other.m_edits);
    other.m_shared = nullptr;
    other.m_owning = false;
    other.m_name = nullptr;
    other.m_value = &EmptyObject();
    other.m_asArray = false;
    return *this;
}

JsonNode::~JsonNode() { Release(); }

// A copy always owns a reference, also when it is made from an iterator's
// view: that is what lets a member outlive the loop that found it.
void JsonNode::Acquire() {
    m_owning = m_shared != nullptr;
    if (m_owning) m_shared->references.fetch_add(1, std::memory_order_relaxed);
}

void JsonNode::Release() {
    if (m_owning && m_shared->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete m_shared;
    }
    m_shared = nullptr;
    m_owning = false;
}

JsonNode JsonNode::AsArray() const {
    JsonNode copy(*this);
    if (!m_value->IsObject() && !m_value->IsArray()) {
        // A scalar has no children to carry over; point at the shared empty
        // object so that the copy is an array with none.
        copy.m_value = &EmptyObject();
        copy.m_edits.reset();
    }
    copy.m_asArray = true;
    return copy;
}

void JsonNode::MaterialiseChildren() {
    auto edits = std::make_unique<Edits>();
    size_t n = Size();
    edits->children.reserve(n);
    for (size_t i = 0; i < n; ++i) edits->children.push_back(ChildAt(i));
    m_edits = std::move(edits);
}

JsonNode JsonNode::TakeAt(size_t position) {
    if (position >= Size()) {
        throw std::out_of_range("JSON node: no child at position " + std::to_string(position) +
                                " of " + std::to_string(Size()));
    }
    if (!m_edits) MaterialiseChildren();
    Child child = m_edits->children[m_edits->front + position];
    if (position == 0) {
        ++m_edits->front;
    } else {
        m_edits->children.erase(m_edits->children.begin() +
                                static_cast<ptrdiff_t>(m_edits->front + position));
    }
    JsonNode taken;
    taken.m_shared = m_shared;
    taken.m_name = child.name;
    taken.m_value = child.value;
    taken.Acquire();
    return taken;
}

bool JsonNode::EqualsNumber(double value) const {
    if (Type() != JSON_NUMBER) return false;
    // The text is not terminated inside the parsed buffer (it is followed by
    // the rest of the reply), so convert a copy.
    std::string text = AsString();
    return std::strtod(text.c_str(), nullptr) == value;
}

}  // namespace marl::json
