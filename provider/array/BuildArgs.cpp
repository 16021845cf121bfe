#include "provider/array/BuildArgs.h"

#include <cstring>

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

void AppendQueryUtf8(std::wstring& out, unsigned long cp) {
    if (cp < 0x800) {
        AppendQueryByte(out, static_cast<unsigned char>(0xC0 | (cp >> 6)));
    } else if (cp < 0x10000) {
        AppendQueryByte(out, static_cast<unsigned char>(0xE0 | (cp >> 12)));
        AppendQueryByte(out, static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F)));
    } else {
        AppendQueryByte(out, static_cast<unsigned char>(0xF0 | (cp >> 18)));
        AppendQueryByte(out, static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F)));
        AppendQueryByte(out, static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F)));
    }
    AppendQueryByte(out, static_cast<unsigned char>(0x80 | (cp & 0x3F)));
}

// The code point starting at text[i]; advances i past it. With 16-bit
// wchar_t a surrogate pair is one code point and a lone surrogate U+FFFD.
unsigned long NextCodePoint(const std::wstring& text, size_t& i) {
    unsigned long c = static_cast<unsigned long>(text[i++]);
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDFFF) {
        if (c <= 0xDBFF && i < text.size()) {
            unsigned long low = static_cast<unsigned long>(text[i]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                ++i;
                return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            }
        }
        return 0xFFFD;
    }
    return (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) ? 0xFFFD : c;
}

// The JSON string escape of one code point, as ASCII text; empty when the
// character stands for itself.
const char* JsonEscapeOf(unsigned long cp, char (&scratch)[8]) {
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
        unsigned long cp = NextCodePoint(text, i);
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
