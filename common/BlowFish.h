#pragma once
// The Blowfish block cipher (64-bit blocks, 16 rounds, keys of 1 to 56 bytes)
// used for the passwords stored in the configuration file.
//
// One CBlowFish object per enciphering or deciphering job: construct it with
// the key, call Encrypt or Decrypt, discard it. The stored passwords use only
// electronic codebook (ECB); CBC and CFB are here for completeness and each
// call starts them from the chaining value given at construction.
//
// Errors are thrown as std::runtime_error: "Incorrect key length" for an empty
// key, "Incorrect buffer length" for a length that is zero or not a multiple of
// 8 (before anything is written). Not thread safe; objects are not shared.
#include <cstddef>
#include <cstdint>

// One 64-bit block as two halves; bytes map to it big-endian (bytes 0..3 form
// the left half, byte 0 most significant).
struct SBlock {
    SBlock(uint32_t left = 0, uint32_t right = 0) : m_left(left), m_right(right) {}

    SBlock& operator^=(const SBlock& other) {
        m_left ^= other.m_left;
        m_right ^= other.m_right;
        return *this;
    }

    uint32_t m_left;
    uint32_t m_right;
};

// Big-endian conversions between 8 bytes and a block.
namespace marl::common {

SBlock BytesToBlock(const unsigned char* bytes);
void BlockToBytes(const SBlock& block, unsigned char* bytes);

}  // namespace marl::common

class CBlowFish {
  public:
    enum { ECB = 0, CBC = 1, CFB = 2 };
    static constexpr size_t kMaxKeyLength = 56;

    // Keys longer than 56 bytes are cut to their first 56 bytes.
    CBlowFish(const unsigned char* key, size_t keyLength, const SBlock& chain = SBlock(0, 0));

    // `in` and `out` may be the same buffer. A mode other than CBC or CFB
    // selects ECB.
    void Encrypt(const unsigned char* in, unsigned char* out, size_t length, int mode = ECB);
    void Decrypt(const unsigned char* in, unsigned char* out, size_t length, int mode = ECB);

    // The bare block transformation under the current key.
    void EncryptBlock(SBlock& block) const;
    void DecryptBlock(SBlock& block) const;

  private:
    uint32_t F(uint32_t half) const;
    void ExpandKey(const unsigned char* key, size_t keyLength);

    SBlock m_initialChain;
    SBlock m_chain;
    uint32_t m_p[18];
    uint32_t m_s[4][256];
};
