#include "common/BlowFish.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef MARL_HAVE_OPENSSL_BF
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>
#endif

namespace {

std::vector<unsigned char> FromHex(const std::string& hex) {
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::vector<unsigned char> Encrypt(const std::vector<unsigned char>& key,
                                   std::vector<unsigned char> data, int mode,
                                   SBlock chain = SBlock(0, 0)) {
    CBlowFish bf(key.data(), key.size(), chain);
    bf.Encrypt(data.data(), data.data(), data.size(), mode);
    return data;
}

std::vector<unsigned char> Decrypt(const std::vector<unsigned char>& key,
                                   std::vector<unsigned char> data, int mode,
                                   SBlock chain = SBlock(0, 0)) {
    CBlowFish bf(key.data(), key.size(), chain);
    bf.Decrypt(data.data(), data.data(), data.size(), mode);
    return data;
}

struct EcbVector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// Eric Young's published Blowfish ECB vectors (8-byte keys).
const EcbVector kEcbVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
    {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
    {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
    {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
    {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
    {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
    {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
    {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
    {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
    {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
};

TEST(BlowFish, PublishedEcbVectorsEncipherAndDecipher) {
    for (const EcbVector& v : kEcbVectors) {
        SCOPED_TRACE(v.key);
        auto key = FromHex(v.key);
        EXPECT_EQ(Encrypt(key, FromHex(v.plain), CBlowFish::ECB), FromHex(v.cipher));
        EXPECT_EQ(Decrypt(key, FromHex(v.cipher), CBlowFish::ECB), FromHex(v.plain));
    }
}

// Eric Young's set_key vectors: the first n bytes of one 24-byte key, n = 1..24.
const char* const kVariableKeyCiphers[] = {
    "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05",
    "B39E44481BDB1E6E", "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82",
    "15750E7A4F4EC577", "122BA70B3AB64AE0", "3A833C9AFFC537F6", "9409DA87A90F6BF2",
    "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F", "93142887EE3BE15C",
    "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
    "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080",
};

TEST(BlowFish, PublishedVariableKeyLengthVectors) {
    auto fullKey = FromHex("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677");
    auto plain = FromHex("FEDCBA9876543210");
    for (size_t n = 1; n <= 24; ++n) {
        SCOPED_TRACE(n);
        std::vector<unsigned char> key(fullKey.begin(), fullKey.begin() + n);
        EXPECT_EQ(Encrypt(key, plain, CBlowFish::ECB), FromHex(kVariableKeyCiphers[n - 1]));
    }
}

// Eric Young's chaining vectors: "7654321 Now is the time for " and its
// terminating zero, padded with zeros to 32 bytes.
TEST(BlowFish, ChainingModesMatchPublishedVectorsAndStartFromTheChainEveryCall) {
    auto key = FromHex("0123456789ABCDEFF0E1D2C3B4A59687");
    SBlock iv(0xFEDCBA98u, 0x76543210u);
    std::vector<unsigned char> plain(32, 0);
    std::memcpy(plain.data(), "7654321 Now is the time for ", 28);

    auto cbc = FromHex("6B77B4D63006DEE605B156E27403979358DEB9E7154616D959F1652BD5FF92CC");
    EXPECT_EQ(Encrypt(key, plain, CBlowFish::CBC, iv), cbc);
    EXPECT_EQ(Decrypt(key, cbc, CBlowFish::CBC, iv), plain);

    auto cfbPrefix = FromHex("E73214A2822139CAF26ECF6D2EB9E76E3DA3DE04D1517200519D57A6C3");
    auto cfb = Encrypt(key, plain, CBlowFish::CFB, iv);
    EXPECT_EQ(std::vector<unsigned char>(cfb.begin(), cfb.begin() + 29), cfbPrefix);
    EXPECT_EQ(Decrypt(key, cfb, CBlowFish::CFB, iv), plain);

    CBlowFish bf(key.data(), key.size(), iv);
    std::vector<unsigned char> first(32), second(32);
    bf.Encrypt(plain.data(), first.data(), 32, CBlowFish::CBC);
    bf.Encrypt(plain.data(), second.data(), 32, CBlowFish::CBC);
    EXPECT_EQ(first, cbc);
    EXPECT_EQ(second, cbc);
}

TEST(BlowFish, KeysAreCutAfter56Bytes) {
    std::vector<unsigned char> key57(57);
    for (size_t i = 0; i < key57.size(); ++i) key57[i] = static_cast<unsigned char>(i * 7 + 1);
    std::vector<unsigned char> key56(key57.begin(), key57.begin() + 56);
    std::vector<unsigned char> key55(key57.begin(), key57.begin() + 55);
    auto plain = FromHex("0011223344556677");
    EXPECT_EQ(Encrypt(key57, plain, CBlowFish::ECB), Encrypt(key56, plain, CBlowFish::ECB));
    EXPECT_NE(Encrypt(key55, plain, CBlowFish::ECB), Encrypt(key56, plain, CBlowFish::ECB));
}

TEST(BlowFish, EmptyKeyIsRefused) {
    unsigned char key[1] = {0};
    try {
        CBlowFish bf(key, 0);
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Incorrect key length");
    }
}

TEST(BlowFish, LengthsThatAreNotWholeBlocksAreRefusedBeforeWriting) {
    unsigned char key[] = "k";
    CBlowFish bf(key, 1);
    for (size_t length : {0u, 1u, 7u, 9u, 15u, 17u}) {
        SCOPED_TRACE(length);
        std::vector<unsigned char> in(24, 0x55), out(24, 0xAA);
        for (bool decrypt : {false, true}) {
            try {
                if (decrypt) {
                    bf.Decrypt(in.data(), out.data(), length, CBlowFish::ECB);
                } else {
                    bf.Encrypt(in.data(), out.data(), length, CBlowFish::CBC);
                }
                ADD_FAILURE() << "no exception";
            } catch (const std::exception& e) {
                EXPECT_STREQ(e.what(), "Incorrect buffer length");
            }
            EXPECT_EQ(out, std::vector<unsigned char>(24, 0xAA));
        }
    }
}

TEST(BlowFish, InPlaceAndSeparateBuffersGiveTheSameResult) {
    auto key = FromHex("0123456789ABCDEF");
    for (int mode : {CBlowFish::ECB, CBlowFish::CBC, CBlowFish::CFB}) {
        std::vector<unsigned char> data(40);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i);
        std::vector<unsigned char> separate(40);
        CBlowFish bf(key.data(), key.size(), SBlock(1, 2));
        bf.Encrypt(data.data(), separate.data(), data.size(), mode);
        EXPECT_EQ(Encrypt(key, data, mode, SBlock(1, 2)), separate) << mode;
    }
}

#ifdef MARL_HAVE_OPENSSL_BF
// OpenSSL's legacy Blowfish as a second opinion over random keys and data in
// all three modes. (OpenSSL takes keys up to 72 bytes, ours up to 56.)
TEST(BlowFish, AgreesWithOpenSsl) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 200; ++round) {
        std::vector<unsigned char> key(1 + rng() % 56), data(8 * (1 + rng() % 8));
        for (auto& b : key) b = static_cast<unsigned char>(rng());
        for (auto& b : data) b = static_cast<unsigned char>(rng());
        SBlock iv(rng(), rng());
        BF_KEY bk;
        BF_set_key(&bk, static_cast<int>(key.size()), key.data());
        std::vector<unsigned char> expected(data.size());
        unsigned char ivBytes[8];

        for (size_t i = 0; i < data.size(); i += 8) {
            BF_ecb_encrypt(data.data() + i, expected.data() + i, &bk, BF_ENCRYPT);
        }
        EXPECT_EQ(Encrypt(key, data, CBlowFish::ECB), expected);

        marl::common::BlockToBytes(iv, ivBytes);
        BF_cbc_encrypt(data.data(), expected.data(), static_cast<long>(data.size()), &bk, ivBytes,
                       BF_ENCRYPT);
        EXPECT_EQ(Encrypt(key, data, CBlowFish::CBC, iv), expected);

        marl::common::BlockToBytes(iv, ivBytes);
        int num = 0;
        BF_cfb64_encrypt(data.data(), expected.data(), static_cast<long>(data.size()), &bk, ivBytes,
                         &num, BF_ENCRYPT);
        EXPECT_EQ(Encrypt(key, data, CBlowFish::CFB, iv), expected);
    }
}
#endif

}  // namespace
