// XTripleDes: the Triple Data Encryption Algorithm, encrypt-decrypt-encrypt
// with three DES keys K1, K2, K3 taken from one 24-byte key (FIPS 46-3).
//
//   encryption  out = E(K3, D(K2, E(K1, in)))
//   decryption  out = D(K1, E(K2, D(K3, in)))
//
// One initial permutation at the start of a block and one final permutation
// at its end; the 48 rounds of the three DES passes run between them on two
// 32-bit halves, one combined S-box/P-permutation lookup per 6-bit group.
//
// MakeKey always builds 24 key bytes (its length argument is not used):
// material shorter than 24 bytes is filled up with the filler byte, so 16
// bytes of material give K3 = eight filler bytes and 8 bytes give K2 = K3 =
// eight filler bytes.  K1, K2, K1 is two-key TDEA; K1 = K2 = K3 is single DES.
// The least significant bit of each key byte (the DES parity bit) is ignored;
// weak keys are not detected.
//
// Key record: the 24 key bytes, nothing else.  A record longer than 24 bytes
// loads its first 24; a shorter one raises "Data is corrupted" - "TripleDES".
#pragma once

#include "cipher/block_cipher.h"

#include <cstddef>
#include <cstdint>

class XTripleDes final : public XBlockCipher {
public:
    static constexpr uint32_t kBlockBytes = 8;
    static constexpr uint32_t kKeyBytes = 24;
    static constexpr const char* kSourceName = "TripleDES";

    XTripleDes() = default;
    ~XTripleDes() override;

    uint32_t BlockSize() const override { return kBlockBytes; }
    void EncryptBlock(const uint8_t* in, uint8_t* out) const override;
    void DecryptBlock(const uint8_t* in, uint8_t* out) const override;
    void MakeKey(const XBlob& material, uint32_t length) override;
    void SetKey(const XBlob& record) override;
    XBlob GetKey() const override;

    void EncryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const override;
    void DecryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const override;
    void EncryptBlocksChained(const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain) const override;

    // Two 32-bit words per round, 48 rounds.
    static constexpr size_t kScheduleWords = 2 * 48;

private:
    // Builds both round-key sequences from key_ and marks the key ready.
    void Schedule();

    uint8_t key_[kKeyBytes] = {};
    // The 48 round keys in the order the rounds use them: K1 forward, K2
    // backward, K3 forward for encryption; exactly the reverse for decryption.
    uint32_t encryptKeys_[kScheduleWords] = {};
    uint32_t decryptKeys_[kScheduleWords] = {};
};
