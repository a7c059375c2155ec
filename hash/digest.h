// Message digests: MD5, SHA-1 and RIPEMD-160, one-shot over an XBlob and as
// incremental contexts, plus the lookup by OpenPGP hash algorithm id
// (1 = MD5, 2 = SHA-1, 3 = RIPEMD-160).
#pragma once

#include "core/xblob.h"

#include <cstddef>
#include <cstdint>
#include <memory>

using DigestFunction = XBlob (*)(const XBlob& message);

XBlob DigestMD5(const XBlob& message);       // 16 bytes
XBlob DigestSHA1(const XBlob& message);      // 20 bytes
XBlob DigestRipemd160(const XBlob& message); // 20 bytes

// Throw XCryptoAlarm "Unsupported algorithm" (no source) for any id but 1, 2, 3.
DigestFunction HashFunctionById(uint8_t id);
uint32_t HashSizeById(uint8_t id);

// An incremental digest: Reset, any number of Updates, Finish.  Finish
// returns the digest and leaves the context to be Reset before reuse.
class XDigest {
public:
    virtual ~XDigest() = default;
    virtual uint32_t Size() const = 0;
    virtual void Reset() = 0;
    virtual void Update(const uint8_t* data, size_t length) = 0;
    void Update(const XBlob& data) { Update(data.Data(), data.Length()); }
    virtual XBlob Finish() = 0;
};

// A fresh, reset context for the id; throws like HashFunctionById.
std::unique_ptr<XDigest> NewDigestById(uint8_t id);
