#include "debugtool/ConfigRedaction.h"

#include <algorithm>
#include <cctype>

namespace marl::debugtool {

namespace {

constexpr const char kPasswordKey[] = "PASSWORD";
constexpr size_t kPasswordKeyLength = sizeof kPasswordKey - 1;

size_t FindIgnoringCase(const std::string& text, const char* word) {
    auto it = std::search(text.begin(), text.end(), word,
                          word + std::char_traits<char>::length(word), [](char a, char b) {
                              return std::toupper(static_cast<unsigned char>(a)) ==
                                     std::toupper(static_cast<unsigned char>(b));
                          });
    return it == text.end() ? std::string::npos : static_cast<size_t>(it - text.begin());
}

std::string RedactLine(const std::string& line) {
    size_t key = FindIgnoringCase(line, kPasswordKey);
    if (key == std::string::npos) return line;
    size_t open = line.find('[');
    size_t close = line.rfind(']');
    if (open != std::string::npos && (close == std::string::npos || close > open)) {
        std::string tail = close == std::string::npos ? "]" : line.substr(close);
        return line.substr(0, open + 1) + kHiddenMarker + tail;
    }
    return line.substr(0, key + kPasswordKeyLength) + " = [" + kHiddenMarker + "]";
}

}  // namespace

std::string RedactPasswords(const std::string& content) {
    std::string out;
    out.reserve(content.size());
    size_t start = 0;
    while (start < content.size()) {
        size_t newline = content.find('\n', start);
        size_t end = newline == std::string::npos ? content.size() : newline;
        // The line end (LF, or CR LF) is kept as it is.
        size_t body = end > start && content[end - 1] == '\r' ? end - 1 : end;
        out += RedactLine(content.substr(start, body - start));
        out.append(content, body, (newline == std::string::npos ? end : end + 1) - body);
        start = newline == std::string::npos ? content.size() : newline + 1;
    }
    return out;
}

}  // namespace marl::debugtool
