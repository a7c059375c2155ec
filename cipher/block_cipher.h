// XBlockCipher: what the five symmetric engines share.  An engine supplies
// its block function, key schedule and key record; this class supplies the
// key-ready state, electronic codebook (mode 1) and cipher block chaining
// (mode 2) over whole messages, the filler byte that pads the last block and
// short key material, and the chaining block carried from call to call.
#pragma once

#include "core/xblob.h"

#include <cstddef>
#include <cstdint>

class XBlockCipher {
public:
    static constexpr int32_t kModeEcb = 1;
    static constexpr int32_t kModeCbc = 2;
    static constexpr uint32_t kMaxBlockSize = 16;

    // Mode 1, filler 0, a zero chaining block, no key.
    XBlockCipher() = default;
    XBlockCipher(const XBlockCipher&) = delete;
    XBlockCipher& operator=(const XBlockCipher&) = delete;
    virtual ~XBlockCipher();

    virtual uint32_t BlockSize() const = 0;
    virtual void EncryptBlock(const uint8_t* in, uint8_t* out) const = 0;
    virtual void DecryptBlock(const uint8_t* in, uint8_t* out) const = 0;
    // Builds the key from the first bytes of `material` (padded with `filler`)
    // for a key size that the engine derives from `length`, and schedules it.
    virtual void MakeKey(const XBlob& material, uint32_t length) = 0;
    // Loads a key record; a malformed record raises "Data is corrupted" with
    // the engine's source name and changes nothing.
    virtual void SetKey(const XBlob& record) = 0;
    // The key record; "Invalid key" with the engine's source name when no key is loaded.
    virtual XBlob GetKey() const = 0;

    // Several blocks at once (in and out may be the same, never partly
    // overlapping).  Engines override these when they can do better than one
    // EncryptBlock/DecryptBlock call per block.
    virtual void EncryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const;
    virtual void DecryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const;
    // Cipher block chaining: out_i = E(in_i XOR chain), chain = out_i.
    virtual void EncryptBlocksChained(const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain) const;
    // Cipher block chaining, deciphering: out_i = D(in_i) XOR chain, chain =
    // in_i.  in and out do not overlap.  By default DecryptBlocks and a pass
    // of XORs; an engine with a faster path folds the XOR into its rounds.
    virtual void DecryptBlocksChained(const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain) const;
    // Cipher feedback with a full-block shift, over whole blocks (in and out
    // may be the same, never partly overlapping).  Enciphering: out_i = in_i
    // XOR E(feedback), feedback = out_i; deciphering: out_i = in_i XOR
    // E(feedback), feedback = in_i.  Deciphering is parallel (every keystream
    // block is E of a known ciphertext block): by default it goes through
    // EncryptBlocks in runs; enciphering is a chain, by default through
    // EncryptBlocksChained.
    virtual void CfbEncryptBlocks(const uint8_t* in, uint8_t* out, size_t count, uint8_t* feedback) const;
    virtual void CfbDecryptBlocks(const uint8_t* in, uint8_t* out, size_t count, uint8_t* feedback) const;

    // Mode 2 for 2, mode 1 for anything else; a zero chaining block; filler = low 8 bits.
    void Setup(int32_t mode, uint32_t filler);

    // Whole messages.  Raise "Invalid key" (no source) without a key, and
    // Decrypt raises "Unable to decrypt data" (no source) for a length that is
    // not a multiple of the block size; then a mode other than 1 or 2 raises
    // "Unsupported algorithm" (no source).  Any of these leaves the chaining
    // block as it was.
    XBlob Encrypt(const XBlob& source);
    XBlob Decrypt(const XBlob& source);

    bool KeyReady() const { return (flags_ & kKeyReady) != 0; }
    const uint8_t* Chain() const { return chain_; }

    // Read and written directly by the scriptable objects: any mode value may
    // be stored (Encrypt and Decrypt refuse all but 1 and 2).
    int32_t mode = kModeEcb;
    uint8_t filler = 0;

protected:
    // The key bytes MakeKey builds: the first min(keyLength, material length)
    // bytes of material, then `filler` up to keyLength.  Written to `key`.
    void BuildKey(const XBlob& material, uint32_t keyLength, uint8_t* key) const;
    // Engines call this at the end of every key schedule.
    void MarkKeyReady() { flags_ |= kKeyReady; }

private:
    // Raises "Unsupported algorithm" unless the mode is 1 or 2.
    void RequireMode() const;

    static constexpr uint32_t kKeyReady = 1;

    uint8_t chain_[kMaxBlockSize] = {};
    uint32_t flags_ = 0;
};
