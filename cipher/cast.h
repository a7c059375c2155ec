// XCast: CAST-128 (RFC 2144; 64-bit block, keys up to 128 bits, 12 or 16
// rounds) as an XBlockCipher.
//
// The key is always the 16 bytes x0 ... xF of the RFC, shorter material
// padded with the filler byte.  The round count travels with it: MakeKey
// picks 12 rounds for material of 10 bytes or fewer (RFC 2144's rule for
// keys of up to 80 bits) and 16 otherwise; a key record carries it.
#pragma once

#include "cipher/block_cipher.h"

#include <cstddef>
#include <cstdint>

// S1 ... S8 of RFC 2144 (cipher/cast_tables.cpp): kCastSBoxes[i] is S(i + 1).
extern const uint32_t kCastSBoxes[8][256];

class XCast : public XBlockCipher {
public:
    static constexpr uint32_t kBlockSize = 8;
    static constexpr uint32_t kKeySize = 16;
    static constexpr uint32_t kFullRounds = 16;
    static constexpr uint32_t kReducedRounds = 12;
    // Material of at most this many bytes gets the reduced round count.
    static constexpr uint32_t kMaxReducedMaterial = 10;

    XCast() = default;
    ~XCast() override;

    uint32_t BlockSize() const override { return kBlockSize; }
    void EncryptBlock(const uint8_t* in, uint8_t* out) const override;
    void DecryptBlock(const uint8_t* in, uint8_t* out) const override;

    // Always a 16-byte key; `length` is not used.  16 rounds when the
    // material has more than 10 bytes, 12 otherwise.
    void MakeKey(const XBlob& material, uint32_t length) override;
    // Record: the round count as 4 bytes big-endian, then the 16 key bytes;
    // anything after them is ignored.  A round count other than 16 means 12
    // rounds and is kept as it is.
    void SetKey(const XBlob& record) override;
    XBlob GetKey() const override;

    void EncryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const override;
    void DecryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const override;
    void EncryptBlocksChained(const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain) const override;

    // The round-count field as stored (16 for the full cipher).
    uint32_t Rounds() const { return rounds_; }

private:
    // Expands key_ into the subkeys and marks the key ready.
    void Schedule();

    uint8_t key_[kKeySize] = {};
    uint32_t rounds_ = kFullRounds;
    uint32_t masking_[16] = {};  // Km1 ... Km16
    uint32_t rotation_[16] = {}; // Kr1 ... Kr16; only the low 5 bits are used
};
