#include "provider/array/BuildArgs.h"

#include <cstdint>
#include <cstring>

#include "platform/utf8.h"

namespace {

const char kHex[] = "0123456789ABCDEF";

void AppendPercent(std::wstring& out, unsigned char byte) {
    out.push_back(L'%');
    out.push_back(static_cast<wchar_t>(kHex[byte >> 4]));
    out.push_back(static_cast<wchar_t>(kHex[byte & 0xF]));
}

bool IsQueryUnsafe(unsigned char byte) {
    return byte <= 0x20 || byte >= 0x7F || std::strchr("\"#%&+<>\\^`{|}", byte) != nullptr;
}

void AppendQueryByte(std::wstring& out, unsigned char byte) {
    if (IsQueryUnsafe(byte)) {
        AppendPercent(out, byte);
    } else {
        out.push_back(static_cast<wchar_t>(byte));
    }
}

// Characters beyond one byte: their UTF-8 bytes, each made safe for the query.
void AppendQueryUtf8(std::wstring& out, uint32_t cp) {
    std::string bytes;
    marl::platform::AppendUtf8(bytes, cp);
    for (unsigned char b : bytes) AppendQueryByte(out, b);
}

// The JSON string escape of one code point, as ASCII text; empty when the
// character stands for itself.
const char* JsonEscapeOf(uint32_t cp, char (&scratch)[8]) {
    switch (cp) {
        case '"':
            return "\\\"";
        case '\\':
            return "\\\\";
        case '\b':
            return "\\b";
        case '\f':
            return "\\f";
        case '\n':
            return "\\n";
        case '\r':
            return "\\r";
        case '\t':
            return "\\t";
        default:
            break;
    }
    if (cp >= 0x20) return "";
    std::strcpy(scratch, "\\u00");
    scratch[4] = kHex[cp >> 4];
    scratch[5] = kHex[cp & 0xF];
    scratch[6] = '\0';
    return scratch;
}

// A name or value as it goes into the query: JSON-escaped, then
// percent-encoded where the query needs it.
void AppendArgText(std::wstring& out, const std::wstring& text) {
    size_t i = 0;
    while (i < text.size()) {
        uint32_t cp = marl::platform::NextCodePoint(text, i);
        char scratch[8];
        const char* escape = JsonEscapeOf(cp, scratch);
        if (*escape) {
            for (const char* p = escape; *p; ++p)
                AppendQueryByte(out, static_cast<unsigned char>(*p));
        } else if (cp <= 0xFF) {
            AppendQueryByte(out, static_cast<unsigned char>(cp));
        } else {
            AppendQueryUtf8(out, cp);
        }
    }
}

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

}  // namespace

std::wstring BuildArgs(int count, const marl::array::ArgPair* pairs) {
    if (count <= 0 || !pairs) return std::wstring();
    std::wstring out = L"?args=%7B%22";
    for (int i = 0; i < count; ++i) {
        AppendArgText(out, pairs[i].first);
        out += L"%22%3A%20%22";
        AppendArgText(out, pairs[i].second);
        out += (i + 1 < count) ? L"%22%2C%22" : L"%22%7D";
    }
    return out;
}

std::string marl::array::FormUrlEncode(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (unsigned char c : value) {
        if (IsUnreserved(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        }
    }
    return out;
}

std::string marl::array::BuildLoginForm(const std::string& userName, const std::string& password) {
    return "user_name=" + marl::array::FormUrlEncode(userName) +
           "&password=" + marl::array::FormUrlEncode(password);
}
