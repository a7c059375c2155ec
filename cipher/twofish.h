// XTwofish: the Twofish block cipher (128-bit block, 16 rounds, 128-, 192-
// and 256-bit keys) as an XBlockCipher engine.
//
// Blocks are read and written as four little-endian 32-bit words.  The key
// schedule folds the whole keyed q-permutation chain of each input byte of g
// together with that byte's MDS column into one table of 256 words, so that
// g costs four lookups and three XORs.
//
// Key record: the key length in 64-bit words (2, 3 or 4; 4 bytes big-endian)
// followed by the key bytes, 20, 28 or 36 bytes in all.
#pragma once

#include "cipher/block_cipher.h"

#include <cstddef>
#include <cstdint>

class XTwofish : public XBlockCipher {
public:
    static constexpr uint32_t kBlockSize = 16;
    static constexpr uint32_t kMaxKeyBytes = 32;

    XTwofish() = default;
    ~XTwofish() override;

    uint32_t BlockSize() const override { return kBlockSize; }
    void EncryptBlock(const uint8_t* in, uint8_t* out) const override;
    void DecryptBlock(const uint8_t* in, uint8_t* out) const override;
    // 16 key bytes for length <= 16, 24 for length <= 24, 32 otherwise.
    void MakeKey(const XBlob& material, uint32_t length) override;
    void SetKey(const XBlob& record) override;
    XBlob GetKey() const override;

    void EncryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const override;
    void DecryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const override;
    void EncryptBlocksChained(const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain) const override;

private:
    // Expands key_ (keyWords_ 64-bit words) into subkeys_ and sbox_ and marks
    // the key ready.
    void Schedule();

    uint8_t key_[kMaxKeyBytes] = {};
    uint32_t keyWords_ = 0;
    // K0..K3 input whitening, K4..K7 output whitening, K8..K39 round keys.
    uint32_t subkeys_[40] = {};
    // sbox_[j][x]: byte j of g's input equal to x, through its keyed
    // q-permutation chain and MDS column j.
    uint32_t sbox_[4][256] = {};
};
