#pragma once
// The parsed form of one reply text, shared by every JsonNode of its tree.
// Internal to the JSON facade.
#include <rapidjson/document.h>

#include <atomic>
#include <memory>

namespace marl::json::detail {

struct SharedDocument {
    std::atomic<long> references{1};
    // The text, parsed in place: strings, names and numbers of the document
    // point into it, so it lives exactly as long as the document.
    std::unique_ptr<char[]> text;
    rapidjson::Document document;
};

// A string value of an in-place parse is a number when the byte before its
// text is not the opening quote. Strings start right after their quote, which
// in-place decoding never overwrites (it writes at or after the position it
// reads, and only up to the string's closing quote); a number is preceded by
// "[", ",", ":" or white space, which is never a quote. Only meaningful for
// values of a document parsed by Parse().
inline bool IsNumberText(const rapidjson::Value& value) {
    return value.IsString() && value.GetString()[-1] != '"';
}

}  // namespace marl::json::detail
