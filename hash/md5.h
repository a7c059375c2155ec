// MD5 (RFC 1321) as an incremental context.
#pragma once

#include "hash/block_digest.h"

class XMd5 : public XDigestCopies<XMd5, XBlockDigest> {
public:
    static constexpr uint32_t kSize = 16;

    XMd5() { Reset(); }
    uint32_t Size() const override { return kSize; }
    void Reset() override;
    void FinishInto(uint8_t* out) override;
    ~XMd5() override { SecureWipe(state_, sizeof state_); }

    // Compresses whole 64-byte blocks into the four chaining words.
    static void CompressBlocks(uint32_t state[4], const uint8_t* blocks, size_t count);

protected:
    void Compress(const uint8_t* blocks, size_t count) override;

private:
    uint32_t state_[4];
};
