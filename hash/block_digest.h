// The common frame of the Merkle-Damgard digests: input buffering, the
// running length, and the padding.  Two block sizes: 64 bytes with a 64-bit
// length field (MD5, SHA-1, RIPEMD-160, SHA-224, SHA-256) and 128 bytes with
// a 128-bit one (SHA-384, SHA-512, SHA-512/256).  A concrete digest supplies
// the block compression and the output encoding.
#pragma once

#include "core/bytes.h"
#include "core/wipe.h"
#include "hash/digest.h"

#include <cstddef>
#include <cstdint>

template <size_t BlockSize>
class XBlockDigestOf : public XDigest {
public:
    static constexpr size_t kBlockSize = BlockSize;

    ~XBlockDigestOf() override
    {
        SecureWipe(buffer_, sizeof buffer_);
        SecureWipe(&total_, sizeof total_);
    }

    using XDigest::Update;
    void Update(const uint8_t* data, size_t length) final;

protected:
    // Compresses `count` whole blocks starting at `blocks` (no alignment
    // assumed) into the chaining state.
    virtual void Compress(const uint8_t* blocks, size_t count) = 0;

    // Clears the length and the buffer; the subclass sets its own state.
    void ResetCounters();

    // Appends 0x80, zeros, and the message length in bits in the last eighth
    // of the block (8 bytes, or 16 for 128-byte blocks; most significant byte
    // first when bigEndianLength), compressing the last one or two blocks.
    void Pad(bool bigEndianLength);

private:
    static constexpr size_t kLengthField = BlockSize / 8;

    uint64_t total_ = 0;  // message bytes fed so far
    size_t buffered_ = 0; // bytes waiting in buffer_, less than a block
    uint8_t buffer_[kBlockSize];
};

extern template class XBlockDigestOf<64>;
extern template class XBlockDigestOf<128>;

using XBlockDigest = XBlockDigestOf<64>;
using XWideBlockDigest = XBlockDigestOf<128>;
