// XAead: authenticated encryption with associated data over any keyed block
// cipher with 16-byte blocks, in the three modes OpenPGP uses for its AEAD
// packets: EAX (CTR and OMAC), OCB (RFC 7253, 128-bit tags) and GCM (NIST
// SP 800-38D).  The tag is always 16 bytes.
//
// The object owns the engine it was made from.  Every mode feeds the engine
// many blocks per EncryptBlocks/DecryptBlocks call, and with an XAes engine on
// the AES instructions EAX's and GCM's counter mode (and GCM's hashing) run
// on the same vector loops as cipher/aes_modes.h.
//
// Seal and Open keep no state between calls: one object may serve several
// threads at once.
#pragma once

#include "cipher/block_cipher.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// OpenPGP AEAD algorithm ids.
enum class XAeadMode : uint8_t { kEax = 1, kOcb = 2, kGcm = 3 };

class XAead {
public:
    static constexpr uint32_t kTagSize = 16;

    // Takes over a keyed engine with 16-byte blocks; a null engine, another
    // block size, an unkeyed engine or an unknown mode raises
    // std::invalid_argument.
    static std::unique_ptr<XAead> Make(XAeadMode mode, std::unique_ptr<XBlockCipher> engine);
    // The nonce size OpenPGP uses for the mode (EAX 16, OCB 15, GCM 12); an
    // unknown mode raises std::invalid_argument.
    static uint32_t NonceSizeOf(XAeadMode mode);

    XAead() = default;
    XAead(const XAead&) = delete;
    XAead& operator=(const XAead&) = delete;
    virtual ~XAead(); // every mode wipes its key-derived state; the engine wipes its own

    virtual XAeadMode Mode() const = 0;
    // Nonce size OpenPGP uses for this mode: EAX 16, OCB 15, GCM 12.
    virtual uint32_t NonceSize() const = 0;

    // Encrypts n bytes from in to out (may be the same pointer, never partly
    // overlapping) and writes the 16-byte tag.  Nonce lengths: OCB 1..15, EAX
    // and GCM any length from 1 (GCM hashes all but 12 bytes into its first
    // counter block); others raise std::invalid_argument.  in, out and ad may
    // be null when their length is 0.
    virtual void Seal(const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength,
                      const uint8_t* in, uint8_t* out, size_t n, uint8_t* tag) const = 0;
    // Decrypts into out and returns true only when the tag is right (compared
    // in full, in time independent of where it differs); on a wrong tag
    // returns false with out zeroed.
    virtual bool Open(const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength,
                      const uint8_t* in, uint8_t* out, size_t n, const uint8_t* tag) const = 0;
};
