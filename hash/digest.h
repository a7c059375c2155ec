// Message digests: MD5, SHA-1 and RIPEMD-160, one-shot over an XBlob and as
// incremental contexts, plus the table of hashes by OpenPGP hash algorithm
// id (1 = MD5, 2 = SHA-1, 3 = RIPEMD-160).
#pragma once

#include "core/xblob.h"

#include <cstddef>
#include <cstdint>
#include <memory>

using DigestFunction = XBlob (*)(const XBlob& message);

XBlob DigestMD5(const XBlob& message);       // 16 bytes
XBlob DigestSHA1(const XBlob& message);      // 20 bytes
XBlob DigestRipemd160(const XBlob& message); // 20 bytes

class XDigest;

// One row per hash the engine has.  Every lookup by id goes through this
// table, so adding a hash is one row (and its engine file).  `name` is the
// type library's name for the id without its prefix (zelHash + name).
struct XHashAlgorithm {
    uint8_t id;          // the OpenPGP hash algorithm id
    const char* name;
    uint32_t digestSize; // bytes
    uint32_t blockSize;  // bytes the compression function takes at a time
    DigestFunction oneShot;
    std::unique_ptr<XDigest> (*newContext)();
};

// The table in id order; `count` receives its length.
const XHashAlgorithm* HashAlgorithms(size_t& count);
// The row for the id, or null.
const XHashAlgorithm* FindHashAlgorithm(uint8_t id);

// Throw XCryptoAlarm "Unsupported algorithm" (no source) for an id the
// table does not have.
DigestFunction HashFunctionById(uint8_t id);
uint32_t HashSizeById(uint8_t id);

// An incremental digest: Reset, any number of Updates, Finish.  Finish
// returns the digest and leaves the context to be Reset before reuse.
// A context overwrites its state with zeros when it is destroyed: contexts
// hash passwords and keys, and none may leave them in freed memory.
class XDigest {
public:
    virtual ~XDigest() = default;
    virtual uint32_t Size() const = 0;
    virtual void Reset() = 0;
    virtual void Update(const uint8_t* data, size_t length) = 0;
    void Update(const XBlob& data) { Update(data.Data(), data.Length()); }
    virtual XBlob Finish() = 0;
    // An independent context in the same state (same input taken so far).
    virtual std::unique_ptr<XDigest> Clone() const = 0;
};

// A fresh, reset context for the id; throws like HashFunctionById.
std::unique_ptr<XDigest> NewDigestById(uint8_t id);
