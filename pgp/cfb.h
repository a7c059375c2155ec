// XPgpCfb: the cipher feedback mode of OpenPGP over one keyed block cipher.
//
// The reference is one byte at a time: at position 0 the feedback register
// is enciphered into the keystream register; each data byte is XORed with
// the keystream byte at the position and the ciphertext byte is stored into
// the feedback register there.  Between resyncs this is plain CFB with a
// full-block shift, so runs of whole blocks starting at position 0 go
// through the engine's multi-block calls.
//
// The classic data packet (tag 9) enciphers its random prefix, then
// resynchronises (Resync), then the rest; the integrity-protected packet
// (tag 18 version 1) and an encrypted session key run straight through from
// a zero register.
#pragma once

#include "cipher/block_cipher.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class XPgpCfb {
public:
    // Takes over a keyed engine; the registers start at zero.
    explicit XPgpCfb(std::unique_ptr<XBlockCipher> engine);
    XPgpCfb(const XPgpCfb&) = delete;
    XPgpCfb& operator=(const XPgpCfb&) = delete;
    ~XPgpCfb(); // the registers are wiped

    uint32_t BlockSize() const { return blockSize_; }

    // Any number of bytes, continuing from the current position; in and out
    // may be the same, never partly overlapping.
    void Encrypt(const uint8_t* in, uint8_t* out, size_t n);
    void Decrypt(const uint8_t* in, uint8_t* out, size_t n);
    // Loads bytes 2 .. bs + 1 of the enciphered prefix into both registers
    // and returns to position 0.
    void Resync(const uint8_t* encipheredPrefix);

private:
    // Up to the end of the current block (at most n bytes, and none when n
    // is 0) byte by byte as the reference does; returns how many.  `encrypt`
    // chooses which side is the ciphertext.
    size_t Partial(const uint8_t* in, uint8_t* out, size_t n, bool encrypt);

    std::unique_ptr<XBlockCipher> engine_;
    uint32_t blockSize_;
    uint32_t position_ = 0;
    // Only the first block-size bytes of the registers are used.
    uint8_t feedback_[XBlockCipher::kMaxBlockSize] = {};
    uint8_t keystream_[XBlockCipher::kMaxBlockSize] = {};
};
