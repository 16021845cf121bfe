#pragma once
// The stored password form of the configuration file and its hex encoding.
//
// A stored password reads HEX$KEY$PAD: the Blowfish-ECB cipher text of the
// password padded with zero bytes to whole 8-byte blocks, in upper-case hex;
// the 16-character key it was enciphered with; the number of padding bytes.
// Each stored password carries its own key, so neither program holds one.
//
// The configurator enciphers (GenerateKey, EncryptPassword, StoredPasswordForm),
// the provider deciphers (DecodeStoredPassword). No function here logs.
#include <cstddef>
#include <string>
#include <vector>

// `out` receives the two upper-case digits of `byte` and a terminating zero.
void Char2Hex(unsigned char byte, char* out);
// `out` (2 * count + 1 characters) receives the digits of `count` bytes of `in`.
void CharStr2HexStr(const unsigned char* in, char* out, size_t count);
// "0"-"9" and "A"-"F" only: any other character (lower case included) ends the
// pair early and the value read so far is the result.
unsigned char HexPairToByte(const char* pair);

// `length` characters of the 62-letter key alphabet. The generator is seeded
// from the time in whole seconds on every call, so two keys made within the
// same second are the same.
std::string GenerateKey(size_t length);

namespace marl::common {

struct EncipheredPassword {
    std::vector<unsigned char> cipher;  // whole 8-byte blocks, zero bytes included
    int padding = 0;                    // zero bytes appended, 0..7
};

}  // namespace marl::common

// Enciphers `password` (ECB, zero chain) under the bytes of `key`. Throws
// std::runtime_error "Incorrect buffer length" for an empty password and
// "Incorrect key length" for an empty key.
marl::common::EncipheredPassword EncryptPassword(const std::string& password,
                                                 const std::string& key);

namespace marl::common {

// The text written between the brackets of a PASSWORD line: HEX$KEY$PAD.
std::string StoredPasswordForm(const std::string& password, const std::string& key);

enum class StoredPasswordStatus {
    Ok,
    MissingSeparator,  // fewer than two "$"
    EmptyKey,
    PartialBlock,     // the hex text is empty or not whole 8-byte blocks
    PaddingTooLarge,  // more padding than cipher text
};

// A short English description of a status, for the log; never holds the value.
const char* DescribeStoredPasswordStatus(StoredPasswordStatus status);

}  // namespace marl::common

// Replaces the stored form in `value` by the plain password. On any status but
// Ok `value` is left empty. Never throws for malformed input, so a damaged
// configuration file cannot bring down the process that reads it.
marl::common::StoredPasswordStatus DecodeStoredPassword(std::string& value);
