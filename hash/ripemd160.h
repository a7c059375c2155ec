// RIPEMD-160 (ISO/IEC 10118-3) as an incremental context.
#pragma once

#include "hash/block_digest.h"

class XRipemd160 : public XDigestCopies<XRipemd160, XBlockDigest> {
public:
    static constexpr uint32_t kSize = 20;

    XRipemd160() { Reset(); }
    uint32_t Size() const override { return kSize; }
    void Reset() override;
    void FinishInto(uint8_t* out) override;
    ~XRipemd160() override { SecureWipe(state_, sizeof state_); }

    // Compresses whole 64-byte blocks into the five chaining words.
    static void CompressBlocks(uint32_t state[5], const uint8_t* blocks, size_t count);

protected:
    void Compress(const uint8_t* blocks, size_t count) override;

private:
    uint32_t state_[5];
};
