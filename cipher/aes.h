// XAes: the Advanced Encryption Standard (FIPS-197) with 128-, 192- and
// 256-bit keys as an XBlockCipher.
//
// The block function has two implementations: portable table-driven C++,
// and on x86 CPUs that have them, the AES instructions (AES-NI).  The
// process picks the fastest one available on first use; tests and benchmarks
// may switch between them with AesSelectEngine.  Both use the same key
// schedules and give identical results, so the switch may happen at any time,
// even between two calls on one keyed engine.  A third choice, the AES
// instructions on 256-bit vectors, matters to the modes in aes_modes.h and to
// XAes's chained and feedback functions where blocks are independent (CBC
// and CFB deciphering); the other functions run as with kAesNi.
#pragma once

#include "cipher/block_cipher.h"

#include <cstddef>
#include <cstdint>

enum class AesEngine {
    kPortable,
    kAesNi, // x86 AES instructions (with SSE2, SSSE3 and SSE4.1)
    // kAesNi, and where a mode runs many independent blocks (counter mode,
    // CBC deciphering, GCM), two blocks per instruction: VAES and VPCLMULQDQ
    // with AVX2, and the operating system saving the 256-bit registers.
    kVaes,
};

// Whether this build and this CPU can run the engine.
bool AesEngineAvailable(AesEngine engine);
// The engine every AES block operation in the process currently uses.
AesEngine AesActiveEngine();
// Makes every later AES block operation in the process use the engine.
// Returns false, and changes nothing, when it is not available.
bool AesSelectEngine(AesEngine engine);

// On CPUs with AVX-512 too (and an operating system that saves its
// registers), the kVaes engine may run the deciphering loops of CBC and CFB
// on 512-bit vectors, four blocks an instruction; on by default where
// available.  Selecting it on where it is not available returns false and
// changes nothing.  Results are the same either way.
bool AesWide512Available();
bool AesWide512Active();
bool AesSelectWide512(bool on);

class XAes : public XBlockCipher {
public:
    static constexpr uint32_t kBlockSize = 16;
    static constexpr uint32_t kMaxKeySize = 32;
    static constexpr uint32_t kMaxRounds = 14;

    XAes() = default;
    ~XAes() override;

    uint32_t BlockSize() const override { return kBlockSize; }
    void EncryptBlock(const uint8_t* in, uint8_t* out) const override;
    void DecryptBlock(const uint8_t* in, uint8_t* out) const override;

    // length >= 32: AES-256; 24..31: AES-192; anything less: AES-128.
    void MakeKey(const XBlob& material, uint32_t length) override;
    // Record: the round count (10, 12 or 14) as 4 bytes big-endian, then the
    // 16, 24 or 32 key bytes.
    void SetKey(const XBlob& record) override;
    XBlob GetKey() const override;

    void EncryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const override;
    void DecryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const override;
    void EncryptBlocksChained(const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain) const override;
    // With the AES instructions these run their own loops (cipher/aes_modes_x86.*):
    // deciphering eight blocks a group (sixteen on 256-bit vectors), the XOR
    // with the previous ciphertext block folded into the last round key.
    void DecryptBlocksChained(const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain) const override;
    void CfbEncryptBlocks(const uint8_t* in, uint8_t* out, size_t count, uint8_t* feedback) const override;
    void CfbDecryptBlocks(const uint8_t* in, uint8_t* out, size_t count, uint8_t* feedback) const override;

    // 10, 12 or 14 once a key is loaded.
    uint32_t Rounds() const { return rounds_; }
    // The schedules (Rounds() + 1 round keys of four words, laid out as
    // described at enc_ and dec_), for code that runs its own loops over the
    // AES instructions: the modes in aes_modes.cpp.
    const uint32_t* EncryptionRoundKeys() const { return enc_; }
    const uint32_t* DecryptionRoundKeys() const { return dec_; }

private:
    // Expands key_ for rounds_ into both schedules and marks the key ready.
    void Schedule();

    uint8_t key_[kMaxKeySize] = {};
    // Round keys, four words each, byte t of word j being byte 4j + t of the
    // round key (so that on a little-endian CPU the array holds the round
    // keys as plain byte strings).  dec_ holds the round keys of the
    // equivalent inverse cipher in the order decryption uses them.
    uint32_t enc_[4 * (kMaxRounds + 1)] = {};
    uint32_t dec_[4 * (kMaxRounds + 1)] = {};
    uint32_t rounds_ = 10;
};
