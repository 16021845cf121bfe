#include "common/PasswordCipher.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <ctime>
#include <random>
#include <stdexcept>
#include <string>

namespace {

const std::string kAlphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890";

bool IsUpperHex(const std::string& s) {
    return s.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

std::string Decoded(std::string stored) {
    EXPECT_EQ(DecodeStoredPassword(stored), marl::common::StoredPasswordStatus::Ok);
    return stored;
}

TEST(PasswordCipher, Char2HexGivesTwoUpperCaseDigitsAndAZero) {
    const struct {
        unsigned char byte;
        const char* digits;
    } cases[] = {{0x00, "00"}, {0xFF, "FF"}, {0x9C, "9C"},
                 {0x0A, "0A"}, {0xA0, "A0"}, {0x7F, "7F"}};
    for (const auto& c : cases) {
        char out[3] = {'x', 'x', 'x'};
        Char2Hex(c.byte, out);
        EXPECT_STREQ(out, c.digits);
    }
}

TEST(PasswordCipher, CharStr2HexStrEncodesEveryByteZerosIncluded) {
    const unsigned char in[] = {0x00, 0x12, 0x00, 0xEF, 0x80};
    char out[2 * sizeof in + 1];
    std::memset(out, 'x', sizeof out);
    CharStr2HexStr(in, out, sizeof in);
    EXPECT_STREQ(out, "001200EF80");
    CharStr2HexStr(in, out, 0);
    EXPECT_STREQ(out, "");
}

TEST(PasswordCipher, HexPairToByteStopsAtTheFirstCharacterThatIsNoUpperHexDigit) {
    const struct {
        const char* pair;
        unsigned value;
    } cases[] = {{"00", 0x00}, {"FF", 0xFF}, {"9C", 0x9C}, {"A0", 0xA0}, {"ff", 0x00},
                 {"Af", 0x0A}, {"G1", 0x00}, {"1g", 0x01}, {"7\0", 0x07}};
    for (const auto& c : cases) {
        EXPECT_EQ(HexPairToByte(c.pair), c.value) << c.pair;
    }
}

// The cipher text of this pair was computed with OpenSSL's Blowfish.
TEST(PasswordCipher, StoredFormMatchesAnIndependentlyComputedValue) {
    const std::string stored = "664F5BCA87E9B9435DAB5FA10945BE84$Zq7mB2xLc9RtW4pK$2";
    EXPECT_EQ(marl::common::StoredPasswordForm("Adm1n-pa55w0rd", "Zq7mB2xLc9RtW4pK"), stored);
    EXPECT_EQ(Decoded(stored), "Adm1n-pa55w0rd");
}

TEST(PasswordCipher, StoredFormHasWholeBlocksTheKeyAndThePaddingCount) {
    const struct {
        size_t length;
        size_t hexLength;
        const char* padding;
    } cases[] = {{1, 16, "7"}, {5, 16, "3"},  {8, 16, "0"},
                 {9, 32, "7"}, {16, 32, "0"}, {17, 48, "7"}};
    const std::string key = "abcdefghijklmnop";
    for (const auto& c : cases) {
        std::string stored = marl::common::StoredPasswordForm(std::string(c.length, 'p'), key);
        SCOPED_TRACE(stored);
        ASSERT_GT(stored.size(), c.hexLength);
        std::string hex = stored.substr(0, c.hexLength);
        EXPECT_TRUE(IsUpperHex(hex));
        EXPECT_EQ(stored.substr(c.hexLength), "$" + key + "$" + c.padding);
    }
}

TEST(PasswordCipher, EveryPasswordOfOneTo64CharactersSurvivesTheRoundTrip) {
    std::mt19937 rng(7);
    const std::string key = "Q1w2E3r4T5y6U7i8";
    for (size_t length = 1; length <= 64; ++length) {
        std::string password;
        for (size_t i = 0; i < length; ++i) password += static_cast<char>(1 + rng() % 255);
        EXPECT_EQ(Decoded(marl::common::StoredPasswordForm(password, key)), password) << length;
    }
}

// A zero byte in the cipher text must travel as "00" and come back as 0, not
// end the text.
TEST(PasswordCipher, CipherTextWithZeroBytesSurvivesTheRoundTrip) {
    const std::string key = "zeroBytesKey0000";
    int found = 0;
    for (int n = 0; n < 2000 && found < 3; ++n) {
        std::string password = "pw" + std::to_string(n);
        marl::common::EncipheredPassword e = EncryptPassword(password, key);
        bool hasZero = false;
        for (unsigned char b : e.cipher) hasZero |= (b == 0);
        if (!hasZero) continue;
        ++found;
        EXPECT_EQ(Decoded(marl::common::StoredPasswordForm(password, key)), password);
    }
    EXPECT_EQ(found, 3);
}

TEST(PasswordCipher, LowerCaseHexDoesNotDecodeToTheSameBytes) {
    std::string stored = marl::common::StoredPasswordForm("password", "abcdefghijklmnop");
    std::string lowered = stored;
    size_t hexEnd = lowered.find('$');
    for (size_t i = 0; i < hexEnd; ++i) lowered[i] = static_cast<char>(std::tolower(lowered[i]));
    ASSERT_NE(lowered, stored);
    EXPECT_NE(Decoded(lowered), "password");
}

TEST(PasswordCipher, KeyOf57BytesActsAsItsFirst56) {
    std::string key57(57, 'k');
    key57[56] = 'X';
    std::string key56 = key57.substr(0, 56);
    EXPECT_EQ(EncryptPassword("secret", key57).cipher, EncryptPassword("secret", key56).cipher);
    EXPECT_EQ(Decoded(marl::common::StoredPasswordForm("secret", key57)), "secret");
}

TEST(PasswordCipher, EncipheringRefusesEmptyPasswordsAndKeys) {
    EXPECT_THROW(EncryptPassword("", "abcdefghijklmnop"), std::runtime_error);
    EXPECT_THROW(EncryptPassword("secret", ""), std::runtime_error);
}

TEST(PasswordCipher, MalformedStoredValuesAreReportedAndLeaveNothing) {
    const std::string block = "0123456789ABCDEF";
    const struct {
        std::string value;
        marl::common::StoredPasswordStatus status;
    } cases[] = {
        {"", marl::common::StoredPasswordStatus::MissingSeparator},
        {"plain-password", marl::common::StoredPasswordStatus::MissingSeparator},
        {block + "$key", marl::common::StoredPasswordStatus::MissingSeparator},
        {"$3", marl::common::StoredPasswordStatus::MissingSeparator},
        {block + "$$3", marl::common::StoredPasswordStatus::EmptyKey},
        {"$key$0", marl::common::StoredPasswordStatus::PartialBlock},
        {"0123$key$0", marl::common::StoredPasswordStatus::PartialBlock},
        {block + "0$key$0", marl::common::StoredPasswordStatus::PartialBlock},
        {block + "$key$9", marl::common::StoredPasswordStatus::PaddingTooLarge},
        {block + "$key$99999999999999999999999",
         marl::common::StoredPasswordStatus::PaddingTooLarge},
    };
    for (const auto& c : cases) {
        std::string value = c.value;
        EXPECT_EQ(DecodeStoredPassword(value), c.status) << c.value;
        EXPECT_EQ(value, "") << c.value;
    }
}

// The count is its leading digits: a sign or other text is no digit, so it
// can never reach past the deciphered text.
TEST(PasswordCipher, PaddingCountIsReadFromLeadingDigitsOnly) {
    std::string stored =
        marl::common::StoredPasswordForm("abcde", "abcdefghijklmnop");  // padding 3
    std::string body = stored.substr(0, stored.rfind('$') + 1);
    EXPECT_EQ(Decoded(body + "3trailing"), "abcde");
    EXPECT_EQ(Decoded(body + "-3"), std::string("abcde\0\0\0", 8));
    EXPECT_EQ(Decoded(body), std::string("abcde\0\0\0", 8));
    EXPECT_EQ(Decoded(body + "8"), "");
}

TEST(PasswordCipher, GeneratedKeysUseTheAlphabetAndRepeatWithinOneSecond) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::time_t before = std::time(nullptr);
        std::string a = GenerateKey(16);
        std::string b = GenerateKey(16);
        if (std::time(nullptr) != before) continue;  // a second boundary fell between
        EXPECT_EQ(a.size(), 16u);
        EXPECT_EQ(a.find_first_not_of(kAlphabet), std::string::npos);
        EXPECT_EQ(a, b);
        return;
    }
    FAIL() << "clock kept crossing second boundaries";
}

}  // namespace
