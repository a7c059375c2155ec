// XBlowfish: Blowfish (64-bit block, 16 rounds, keys of 1 to 56 bytes) as an
// XBlockCipher.
//
// Every key set-up starts from the constant tables (the digits of pi) and
// checks them first: a checksum over all 1,042 words, then a known-answer
// test of the unkeyed cipher.  Tables that fail either check raise an alarm
// instead of producing a key, and the key loaded before stays loaded.
#pragma once

#include "cipher/block_cipher.h"

#include <cstddef>
#include <cstdint>

// The initial P-array and S-boxes of every Blowfish key set-up.
struct XBlowfishConstants {
    uint32_t p[18];
    uint32_t s[4][256];
};

// The standard tables (cipher/blowfish_tables.cpp).
extern const XBlowfishConstants kBlowfishConstants;

class XBlowfish : public XBlockCipher {
public:
    static constexpr uint32_t kBlockSize = 8;
    static constexpr uint32_t kMaxKeySize = 56;
    // MakeKey never makes a key shorter than this; SetKey accepts down to 1 byte.
    static constexpr uint32_t kMinMadeKeySize = 8;

    // What the checks of the constant tables expect: the checksum over all
    // their words, and the left half of the zero block enciphered ten times
    // under the unkeyed tables.
    static constexpr uint32_t kConstantsChecksum = 0x55861A61;
    static constexpr uint32_t kSelfTestAnswer = 0xAAFE4EBD;

    XBlowfish() = default;
    ~XBlowfish() override;

    uint32_t BlockSize() const override { return kBlockSize; }
    void EncryptBlock(const uint8_t* in, uint8_t* out) const override;
    void DecryptBlock(const uint8_t* in, uint8_t* out) const override;

    // Key of 8 bytes for length <= 8, 56 bytes for length >= 56, otherwise
    // of `length` bytes.
    void MakeKey(const XBlob& material, uint32_t length) override;
    // Record: the key length (1 to 56) as 4 bytes big-endian, then the key.
    void SetKey(const XBlob& record) override;
    XBlob GetKey() const override;

    void EncryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const override;
    void DecryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const override;
    void EncryptBlocksChained(const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain) const override;

    // The loaded key's length in bytes; 0 before the first key.
    uint32_t KeyLength() const { return keyLength_; }

protected:
    // The tables each key set-up starts from: the standard ones.  Derived
    // classes may hand in others, e.g. to show that damaged tables are refused.
    virtual const XBlowfishConstants& InitialConstants() const { return kBlowfishConstants; }

private:
    struct Schedule {
        uint32_t p[18];         // subkeys in encryption order
        uint32_t pReversed[18]; // the same in decryption order
        uint32_t s[4][256];
    };

    // Checks the constant tables and runs the key schedule of the key into
    // `schedule`.  Raises "Invalid key" (checksum) or "Unable to decrypt
    // data" (known answer), source "Blowfish", when the tables are damaged.
    void BuildSchedule(const uint8_t* key, uint32_t keyLength, Schedule& schedule) const;
    // Schedules a key of 1 to 56 bytes and, once that has succeeded, makes
    // it the loaded key.
    void Load(const uint8_t* key, uint32_t keyLength);

    uint8_t key_[kMaxKeySize] = {};
    uint32_t keyLength_ = 0;
    Schedule schedule_ = {};
};
