// AES in the modes of NIST SP 800-38A and 38D over whole messages: GCM
// (authenticated), CBC with or without PKCS#7 padding, and CTR.
//
// Keys are the raw 16, 24 or 32 key bytes; any other length raises
// "Invalid key" (no source).  Arguments the caller controls (IV and tag
// lengths, unpadded lengths that are not whole blocks) raise
// std::invalid_argument; data that does not decrypt raises "Unable to
// decrypt data" (no source) and leaves no plaintext behind.
//
// The block function is XAes's, on whichever implementation the process has
// selected (AesSelectEngine), and GHASH's likewise (GhashSelectEngine).  With
// the AES instructions, counter mode and CBC deciphering run eight blocks at
// a time (sixteen on 256-bit vectors, AesEngine::kVaes), and GCM enciphers
// and hashes them in one pass when the carry-less multiply is selected as
// well (cipher/aes_modes_x86.*).
#pragma once

#include "cipher/aes.h"
#include "cipher/ghash.h"
#include "core/xblob.h"

#include <cstdint>

// AES-GCM under one key.  Seal and Open may run on one object from several
// threads at once.
class XAesGcm {
public:
    static constexpr uint32_t kMinTagLength = 12;
    static constexpr uint32_t kMaxTagLength = 16;

    explicit XAesGcm(const XBlob& key);
    XAesGcm(const XAesGcm&) = delete;
    XAesGcm& operator=(const XAesGcm&) = delete;
    ~XAesGcm(); // the key schedule and the hash key are wiped

    // Ciphertext || tag, the tag being the first `tagLength` bytes (12 to 16)
    // of the full tag.  The IV may have any length but 0 (12 bytes is used as
    // is, any other is hashed into the first counter block); the additional
    // data any length, including none.
    XBlob Seal(const XBlob& iv, const XBlob& aad, const XBlob& plain, uint32_t tagLength) const;
    // The plaintext of ciphertext || tag, released only when the tag is right
    // (compared in full, in time independent of where it differs).  A wrong
    // tag, or `sealed` shorter than the tag, raises "Unable to decrypt data".
    XBlob Open(const XBlob& iv, const XBlob& aad, const XBlob& sealed, uint32_t tagLength) const;

private:
    // The first counter block J0 for the IV (16 bytes to `j0`).
    void PreCounter(const XBlob& iv, uint8_t* j0) const;
    // The full tag for the data hashed so far into `y` (the additional data and
    // the ciphertext, each padded to whole blocks) and their lengths.
    void FinishTag(uint8_t* y, const uint8_t* j0, uint64_t aadLength, uint64_t textLength, uint8_t* tag) const;
    // Counter mode from J0 + 1 over n bytes, hashing the ciphertext into y:
    // the output when enciphering, the input when deciphering.
    void Crypt(bool encrypt, const uint8_t* j0, const uint8_t* in, uint8_t* out, uint32_t n, uint8_t* y) const;

    XAes aes_;
    XGhashKey hash_;
};

// AES-CBC.  iv: 16 bytes.  Without padding the plaintext must be whole blocks.
XBlob AesCbcEncrypt(const XBlob& key, const XBlob& iv, const XBlob& plain, bool pkcs7);
// Data that is not whole blocks, or (with pkcs7) does not end in valid
// padding, raises "Unable to decrypt data"; the padding is checked in time
// independent of its contents.
XBlob AesCbcDecrypt(const XBlob& key, const XBlob& iv, const XBlob& data, bool pkcs7);

// AES-CTR: the 16-byte IV is the first counter block, a 128-bit big-endian
// number incremented by one per block (wrapping at 2^128).  Encrypts and
// decrypts alike, any length.
XBlob AesCtr(const XBlob& key, const XBlob& iv, const XBlob& data);
