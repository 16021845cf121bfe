#include "provider/array/BuildArgs.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::wstring Args(const std::vector<marl::array::ArgPair>& pairs) {
    return BuildArgs(static_cast<int>(pairs.size()), pairs.data());
}

TEST(BuildArgs, NoPairsGiveTheEmptyText) {
    marl::array::ArgPair one{L"a", L"b"};
    EXPECT_EQ(BuildArgs(0, &one), L"");
    EXPECT_EQ(BuildArgs(-1, &one), L"");
    EXPECT_EQ(BuildArgs(0, nullptr), L"");
}

// Texts of the form the array operations send go on the wire unchanged.
TEST(BuildArgs, OrdinaryNamesAndValuesStayRaw) {
    struct Row {
        std::vector<marl::array::ArgPair> pairs;
        std::wstring expected;
    };
    const Row rows[] = {
        {{{L"snapshot_name", L"cg1:VSS_p_0102030405"}},
         L"?args=%7B%22snapshot_name%22%3A%20%22cg1:VSS_p_0102030405%22%7D"},
        {{{L"vol_name", L"v1"}, {L"host_name", L"h-1.example"}},
         L"?args=%7B%22vol_name%22%3A%20%22v1%22%2C%22host_name%22%3A%20%22h-1.example%22%7D"},
        {{{L"a", L"x,y,z"}, {L"b", L""}, {L"c", L"~_-.:;=@!$*()'/?[]"}},
         L"?args=%7B%22a%22%3A%20%22x,y,z%22%2C%22b%22%3A%20%22%22%2C%22c%22%3A%20%22"
         L"~_-.:;=@!$*()'/?[]%22%7D"},
    };
    for (const Row& r : rows) EXPECT_EQ(Args(r.pairs), r.expected);
}

// What could change the request is escaped for JSON and then for the query.
TEST(BuildArgs, UnsafeCharactersAreEscaped) {
    struct Row {
        std::wstring value;
        std::wstring encoded;
    };
    const Row rows[] = {
        {L"a b", L"a%20b"},
        {L"say \"hi\"", L"say%20%5C%22hi%5C%22"},
        {L"back\\slash", L"back%5C%5Cslash"},
        {L"a&b=c", L"a%26b=c"},
        {L"100%", L"100%25"},
        {L"1+1", L"1%2B1"},
        {L"#tag", L"%23tag"},
        {L"<x>", L"%3Cx%3E"},
        {L"^`{|}", L"%5E%60%7B%7C%7D"},
        {L"tab\there", L"tab%5Cthere"},
        {L"line\nfeed\r", L"line%5Cnfeed%5Cr"},
        {std::wstring(L"nul\0x", 5), L"nul%5Cu0000x"},
        {L"\x1f\b\f", L"%5Cu001F%5Cb%5Cf"},
        {L"del\x7f", L"del%7F"},
        // Narrow bytes widened one by one are sent as those bytes.
        {L"caf\xC3\xA9", L"caf%C3%A9"},
        {L"\xE9", L"%E9"},
        // Characters beyond one byte go as UTF-8.
        {L"\x20AC", L"%E2%82%AC"},
        {L"\x0100", L"%C4%80"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(Args({{L"n", r.value}}), L"?args=%7B%22n%22%3A%20%22" + r.encoded + L"%22%7D");
        EXPECT_EQ(Args({{r.value, L"v"}}), L"?args=%7B%22" + r.encoded + L"%22%3A%20%22v%22%7D");
    }
}

TEST(BuildArgs, SupplementaryCharactersBecomeFourUtf8Bytes) {
    std::wstring value;
    if (sizeof(wchar_t) == 2) {
        value = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    } else {
        value = {static_cast<wchar_t>(0x1F600)};
    }
    EXPECT_EQ(Args({{L"n", value}}), L"?args=%7B%22n%22%3A%20%22%F0%9F%98%80%22%7D");
}

TEST(LoginForm, UnreservedCharactersStayAndTheRestIsPercentEncoded) {
    struct Row {
        std::string user;
        std::string password;
        std::string body;
    };
    const Row rows[] = {
        {"admin", "Secret_1.2-3~", "user_name=admin&password=Secret_1.2-3~"},
        {"", "", "user_name=&password="},
        {"a&b", "p=w", "user_name=a%26b&password=p%3Dw"},
        {"u", "50% + more", "user_name=u&password=50%25%20%2B%20more"},
        {"u", "caf\xC3\xA9!", "user_name=u&password=caf%C3%A9%21"},
        {"u", std::string("a\0b", 3), "user_name=u&password=a%00b"},
        {"d\\u", "/:?#[]@", "user_name=d%5Cu&password=%2F%3A%3F%23%5B%5D%40"},
    };
    for (const Row& r : rows) EXPECT_EQ(marl::array::BuildLoginForm(r.user, r.password), r.body);
}

}  // namespace
