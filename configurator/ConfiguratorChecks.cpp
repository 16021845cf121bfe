#include "configurator/ConfiguratorChecks.h"

#include <string>

#include "common/ConfigFormat.h"

namespace {

bool IsAsciiLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool AllCharsIn(const std::string& s, const char* extra) {
    for (char c : s) {
        if (!IsAsciiLetterOrDigit(c) && std::string(extra).find(c) == std::string::npos)
            return false;
    }
    return true;
}

// A piece of a dotted quad: digits only, value 0..255 (empty counts as 0).
bool IsAddressPiece(const std::string& piece) {
    int value = 0;
    for (char c : piece) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
        if (value > 255) return false;  // also keeps long runs of digits from overflowing
    }
    return true;
}

}  // namespace

std::vector<std::string> split(const std::string& text, char delimiter) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(delimiter, start);
        if (end == std::string::npos) end = text.size();
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

bool verify_ipaddress(const std::string& s) {
    if (s.empty()) return false;
    std::vector<std::string> pieces = split(s, '.');
    if (pieces.size() != 4) return false;
    for (const std::string& piece : pieces) {
        if (!IsAddressPiece(piece)) return false;
    }
    return true;
}

bool verify_hostname(const std::string& s) { return s.size() <= 255 && AllCharsIn(s, ".-_"); }

bool verify_username(const std::string& s) { return AllCharsIn(s, "@-_"); }

std::string MaskPasswordLine(const std::string& line) {
    size_t keyEnd = marl::common::FindSecretKeyEnd(line, false);
    if (keyEnd == std::string::npos) return line;
    // Everything between the first "[" and the last "]" may be secret; a line
    // without brackets may hold a password typed into the file by hand.
    size_t open = line.find('[');
    size_t begin = open == std::string::npos ? keyEnd : open + 1;
    size_t close = line.rfind(']');
    size_t end = (close == std::string::npos || close < begin) ? line.size() : close;
    if (end == begin) return line;
    return line.substr(0, begin) + "<" + std::to_string(end - begin) + " characters hidden>" +
           line.substr(end);
}
