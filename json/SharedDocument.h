#pragma once
// The parsed form of one reply text, shared by every JsonNode of its tree.
// Internal to the JSON facade.
#include <rapidjson/document.h>

#include <atomic>
#include <memory>

#include "json/TextBuffer.h"

namespace marl::json::detail {

struct SharedDocument {
    // The document's value stack starts at `stackCapacity` bytes, so that a
    // large reply does not regrow (and copy) it a dozen times; memory not
    // used is never touched.
    explicit SharedDocument(size_t stackCapacity) : document(nullptr, stackCapacity) {}

    std::atomic<long> references{1};
    // The text, parsed in place: strings, names and numbers of the document
    // point into it, so it lives exactly as long as the document.
    TextBuffer text;
    rapidjson::Document document;
};

}  // namespace marl::json::detail
