#include "common/PasswordCipher.h"

#include <cstdlib>
#include <ctime>
#include <utility>

#include "common/BlowFish.h"

namespace {

constexpr char kKeyAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890";
constexpr size_t kKeyAlphabetSize = sizeof kKeyAlphabet - 1;  // 62

char HexDigit(unsigned nibble) {
    return static_cast<char>(nibble < 10 ? '0' + nibble : 'A' + (nibble - 10));
}

// The padding count is read as its leading decimal digits ("none gives 0").
// A sign is no digit, and the value saturates, so no text can make it
// negative or overflow.
size_t LeadingCount(const std::string& text) {
    constexpr size_t kCeiling = 1000000;
    size_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + static_cast<size_t>(c - '0');
        if (value > kCeiling) return kCeiling;
    }
    return value;
}

struct StoredParts {
    std::string hex;
    std::string key;
    size_t padding = 0;
};

// Splits HEX$KEY$PAD at the last two "$", as the stored form is defined.
bool SplitStoredForm(const std::string& value, StoredParts& parts) {
    size_t last = value.rfind('$');
    if (last == std::string::npos || last == 0) return false;
    size_t middle = value.rfind('$', last - 1);
    if (middle == std::string::npos) return false;
    parts.padding = LeadingCount(value.substr(last + 1));
    parts.key = value.substr(middle + 1, last - middle - 1);
    parts.hex = value.substr(0, middle);
    return true;
}

marl::common::StoredPasswordStatus CheckParts(const StoredParts& parts) {
    if (parts.key.empty()) return marl::common::StoredPasswordStatus::EmptyKey;
    if (parts.hex.empty() || parts.hex.size() % 16 != 0)
        return marl::common::StoredPasswordStatus::PartialBlock;
    if (parts.padding > parts.hex.size() / 2)
        return marl::common::StoredPasswordStatus::PaddingTooLarge;
    return marl::common::StoredPasswordStatus::Ok;
}

const unsigned char* Bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

}  // namespace

void Char2Hex(unsigned char byte, char* out) {
    out[0] = HexDigit(byte >> 4);
    out[1] = HexDigit(byte & 0x0F);
    out[2] = '\0';
}

void CharStr2HexStr(const unsigned char* in, char* out, size_t count) {
    out[0] = '\0';
    for (size_t i = 0; i < count; ++i) Char2Hex(in[i], out + 2 * i);
}

unsigned char HexPairToByte(const char* pair) {
    unsigned value = 0;
    for (int i = 0; i < 2; ++i) {
        char c = pair[i];
        if (c >= '0' && c <= '9') {
            value = value * 16 + static_cast<unsigned>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            value = value * 16 + static_cast<unsigned>(c - 'A' + 10);
        } else {
            break;
        }
    }
    return static_cast<unsigned char>(value);
}

std::string GenerateKey(size_t length) {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    std::string key;
    key.reserve(length);
    for (size_t i = 0; i < length; ++i) key += kKeyAlphabet[std::rand() % kKeyAlphabetSize];
    return key;
}

marl::common::EncipheredPassword EncryptPassword(const std::string& password,
                                                 const std::string& key) {
    marl::common::EncipheredPassword result;
    size_t n = password.size();
    if (n % 8 != 0) result.padding = static_cast<int>(8 - n % 8);
    result.cipher.assign(n + static_cast<size_t>(result.padding), 0);
    password.copy(reinterpret_cast<char*>(result.cipher.data()), n);
    CBlowFish cipher(Bytes(key), key.size(), SBlock(0, 0));
    cipher.Encrypt(result.cipher.data(), result.cipher.data(), result.cipher.size(),
                   CBlowFish::ECB);
    return result;
}

std::string marl::common::StoredPasswordForm(const std::string& password, const std::string& key) {
    marl::common::EncipheredPassword enciphered = EncryptPassword(password, key);
    std::string hex(2 * enciphered.cipher.size() + 1, '\0');
    CharStr2HexStr(enciphered.cipher.data(), &hex[0], enciphered.cipher.size());
    hex.pop_back();
    return hex + "$" + key + "$" + std::to_string(enciphered.padding);
}

marl::common::StoredPasswordStatus DecodeStoredPassword(std::string& value) {
    StoredParts parts;
    marl::common::StoredPasswordStatus status =
        SplitStoredForm(value, parts) ? CheckParts(parts)
                                      : marl::common::StoredPasswordStatus::MissingSeparator;
    value.clear();
    if (status != marl::common::StoredPasswordStatus::Ok) return status;

    std::string plain(parts.hex.size() / 2, '\0');
    for (size_t i = 0; i < plain.size(); ++i) {
        plain[i] = static_cast<char>(HexPairToByte(parts.hex.data() + 2 * i));
    }
    CBlowFish cipher(Bytes(parts.key), parts.key.size(), SBlock(0, 0));
    unsigned char* data = reinterpret_cast<unsigned char*>(&plain[0]);
    cipher.Decrypt(data, data, plain.size(), CBlowFish::ECB);
    plain.resize(plain.size() - parts.padding);
    value = std::move(plain);
    return marl::common::StoredPasswordStatus::Ok;
}

const char* marl::common::DescribeStoredPasswordStatus(marl::common::StoredPasswordStatus status) {
    switch (status) {
        case marl::common::StoredPasswordStatus::Ok:
            return "stored password is well formed";
        case marl::common::StoredPasswordStatus::MissingSeparator:
            return "stored password lacks its \"$\" separators";
        case marl::common::StoredPasswordStatus::EmptyKey:
            return "stored password has an empty key";
        case marl::common::StoredPasswordStatus::PartialBlock:
            return "stored password's cipher text is not whole 8-byte blocks";
        case marl::common::StoredPasswordStatus::PaddingTooLarge:
            return "stored password's padding count exceeds its cipher text";
    }
    return "stored password is malformed";
}
