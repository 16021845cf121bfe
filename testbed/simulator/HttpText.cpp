#include "HttpText.h"

#include <vector>

namespace marl::sim {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<std::string> SplitOn(const std::string& text, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t at = text.find(sep, start);
        parts.push_back(
            text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

}  // namespace

std::string PercentDecode(const std::string& text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && i + 2 < text.size()) {
            int hi = HexValue(text[i + 1]);
            int lo = HexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(plusIsSpace && c == '+' ? ' ' : c);
    }
    return out;
}

StringPairs ParseForm(const std::string& body) {
    StringPairs fields;
    for (const std::string& item : SplitOn(body, '&')) {
        if (!item.empty()) {
            size_t eq = item.find('=');
            std::string name = item.substr(0, eq);
            std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
            fields.Add(PercentDecode(name, true), PercentDecode(value, true));
        }
    }
    return fields;
}

std::string QueryOf(const std::string& target) {
    size_t q = target.find('?');
    return q == std::string::npos ? "" : target.substr(q + 1);
}

bool ParseArgsQuery(const std::string& query, StringPairs& args, std::string& error) {
    if (query.empty()) return true;
    static const std::string kPrefix = "args=";
    if (query.compare(0, kPrefix.size(), kPrefix) != 0) {
        error = "query must be args=<JSON object>";
        return false;
    }
    std::string json = PercentDecode(query.substr(kPrefix.size()), false);
    if (!ParseStringObject(json, args, error)) {
        error = "args are not a JSON object (" + error + "): " + json;
        return false;
    }
    return true;
}

std::string CookieValue(const std::string& header, const std::string& name) {
    for (const std::string& part : SplitOn(header, ';')) {
        std::string item = Trim(part);
        size_t eq = item.find('=');
        if (eq != std::string::npos && item.substr(0, eq) == name) return item.substr(eq + 1);
    }
    return "";
}

}  // namespace marl::sim
