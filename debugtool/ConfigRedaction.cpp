#include "debugtool/ConfigRedaction.h"

#include "common/ConfigFormat.h"

namespace marl::debugtool {

namespace {

std::string RedactLine(const std::string& line) {
    size_t keyEnd = marl::common::FindSecretKeyEnd(line, /*ignoreCase=*/true);
    if (keyEnd == std::string::npos) return line;
    size_t open = line.find('[');
    size_t close = line.rfind(']');
    if (open != std::string::npos && (close == std::string::npos || close > open)) {
        std::string tail = close == std::string::npos ? "]" : line.substr(close);
        return line.substr(0, open + 1) + kHiddenMarker + tail;
    }
    return marl::common::ConfigLine(line.substr(0, keyEnd), kHiddenMarker);
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
