// The common frame of the 64-byte-block digests (MD5, SHA-1, RIPEMD-160):
// input buffering, the running length, and Merkle-Damgard padding.  A
// concrete digest supplies the block compression and the output encoding.
#pragma once

#include "core/bytes.h"
#include "core/wipe.h"
#include "hash/digest.h"

#include <cstddef>
#include <cstdint>

class XBlockDigest : public XDigest {
public:
    static constexpr size_t kBlockSize = 64;

    ~XBlockDigest() override
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

    // Appends 0x80, zeros up to 56 mod 64 and the message length in bits as
    // a 64-bit number (most significant byte first when bigEndianLength),
    // compressing the last one or two blocks.
    void Pad(bool bigEndianLength);

private:
    uint64_t total_ = 0; // message bytes fed so far
    size_t buffered_ = 0; // bytes waiting in buffer_, 0..63
    uint8_t buffer_[kBlockSize];
};

