#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace marl::platform {
namespace {

std::wstring Units(std::initializer_list<uint32_t> units) {
    std::wstring w;
    for (uint32_t u : units) w += static_cast<wchar_t>(u);
    return w;
}

// U+1F600 as this build's wide text: a surrogate pair or one unit.
std::wstring Supplementary() {
    return sizeof(wchar_t) == 2 ? Units({0xD83D, 0xDE00}) : Units({0x1F600});
}

TEST(Utf8, EachLengthStartsAtItsBoundary) {
    struct Case {
        uint32_t codePoint;
        std::string bytes;
    };
    const Case cases[] = {
        {0x00, std::string(1, '\0')},
        {0x7F, "\x7f"},
        {0x80, "\xc2\x80"},
        {0x7FF, "\xdf\xbf"},
        {0x800, "\xe0\xa0\x80"},
        {0xFFFF, "\xef\xbf\xbf"},
        {0x10000, "\xf0\x90\x80\x80"},
        {0x10FFFF, "\xf4\x8f\xbf\xbf"},
        // Program arguments keep a lone surrogate as it is.
        {0xD800, "\xed\xa0\x80"},
    };
    for (const Case& c : cases) {
        std::string out = "x";
        AppendUtf8(out, c.codePoint);
        EXPECT_EQ(out, "x" + c.bytes) << std::hex << c.codePoint;
    }
}

TEST(Utf8, WideTextsAreEncodedWithInvalidUnitsReplaced) {
    struct Case {
        std::wstring text;
        std::string utf8;
    };
    std::vector<Case> cases = {
        {L"caf\u00e9-\u20ac", "caf\xc3\xa9-\xe2\x82\xac"},
        {Supplementary() + L"!", "\xf0\x9f\x98\x80!"},
        {Units({0xD800}), "\xef\xbf\xbd"},
        {Units({0xD83D, '!'}), "\xef\xbf\xbd!"},
        {Units({0xDE00, 0xD83D}), "\xef\xbf\xbd\xef\xbf\xbd"},
        {L"", ""},
    };
    if (sizeof(wchar_t) == 4) cases.push_back({Units({0x110000}), "\xef\xbf\xbd"});
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8Of(c.text), c.utf8) << c.utf8;
    }
}

TEST(Utf8, NarrowTextsAreDecodedKeepingCutSequences) {
    struct Case {
        std::string utf8;
        std::wstring text;
    };
    const Case cases[] = {
        {"caf\xc3\xa9-\xe2\x82\xac", L"caf\u00e9-\u20ac"},
        {"\xf0\x9f\x98\x80!", Supplementary() + L"!"},
        {"a\xc3", Units({'a', 0xC3})},
        {"\xe2\x82", Units({0xE2, 0x82})},
        {"", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WideOfUtf8(c.utf8), c.text) << c.utf8;
    }
}

}  // namespace
}  // namespace marl::platform
