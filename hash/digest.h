// Message digests: MD5, SHA-1, RIPEMD-160, the SHA-2 family and SHA-3,
// one-shot over an XBlob and as incremental contexts, plus the table of
// hashes, found by OpenPGP hash algorithm id (1 = MD5, 2 = SHA-1,
// 3 = RIPEMD-160, 8 = SHA-256, 9 = SHA-384, 10 = SHA-512, 11 = SHA-224,
// 12 = SHA3-256, 14 = SHA3-512) or by name.
#pragma once

#include "core/xblob.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <typeinfo>

using DigestFunction = XBlob (*)(const XBlob& message);

XBlob DigestMD5(const XBlob& message);       // 16 bytes
XBlob DigestSHA1(const XBlob& message);      // 20 bytes
XBlob DigestRipemd160(const XBlob& message); // 20 bytes
XBlob DigestSHA224(const XBlob& message);    // 28 bytes
XBlob DigestSHA256(const XBlob& message);    // 32 bytes
XBlob DigestSHA384(const XBlob& message);    // 48 bytes
XBlob DigestSHA512(const XBlob& message);    // 64 bytes
XBlob DigestSHA512_256(const XBlob& message); // 32 bytes
XBlob DigestSHA3_256(const XBlob& message);  // 32 bytes
XBlob DigestSHA3_512(const XBlob& message);  // 64 bytes

class XDigest;

// One row per hash the engine has.  Every lookup goes through this table,
// so adding a hash is one row (and its engine file).  `name` is upper case
// without the hyphen after "SHA": "MD5", "SHA1", "RIPEMD160", "SHA256",
// "SHA512/256", "SHA3-256".  For the ids the type library has constants
// for, it is the constant's name after its prefix (zelHash + name).
struct XHashAlgorithm {
    uint8_t pgpId;       // the OpenPGP hash algorithm id; 0 when it has none
    const char* name;
    uint32_t digestSize; // bytes
    uint32_t blockSize;  // bytes the compression function takes at a time (HMAC pads keys to it)
    DigestFunction oneShot;
    std::unique_ptr<XDigest> (*newContext)();
};

// The largest digestSize and blockSize in the table.
constexpr uint32_t kMaxDigestSize = 64;
constexpr uint32_t kMaxDigestBlockSize = 136;

// The table: the rows with an OpenPGP id in id order, then those without
// one.  `count` receives its length.
const XHashAlgorithm* HashAlgorithms(size_t& count);
// The row with this OpenPGP id, or null.  0 finds nothing: rows without an
// id are found by name only, so the OpenPGP layer never takes them.
const XHashAlgorithm* FindHashAlgorithm(uint8_t id);
// The row with this name, or null.  Letters in either case; a hyphen may
// follow the leading "SHA" ("sha-256", "SHA-512/256", "SHA-1", "SHA-3-256").
// Nothing else is forgiven: no blanks, no other hyphens.
const XHashAlgorithm* FindHashAlgorithmByName(const char* name);

// Throw XCryptoAlarm "Unsupported algorithm" (no source) for an id the
// table does not have.
DigestFunction HashFunctionById(uint8_t id);
uint32_t HashSizeById(uint8_t id);

// An incremental digest: Reset, any number of Updates, Finish.  Finish
// returns the digest and leaves the context reset, ready for a new message.
// A context overwrites its state with zeros when it is destroyed: contexts
// hash passwords and keys, and none may leave them in freed memory.
class XDigest {
public:
    virtual ~XDigest() = default;
    virtual uint32_t Size() const = 0;
    virtual void Reset() = 0;
    virtual void Update(const uint8_t* data, size_t length) = 0;
    void Update(const XBlob& data) { Update(data.Data(), data.Length()); }
    XBlob Finish();
    // Finish without an allocation: writes Size() bytes to `out`.
    virtual void FinishInto(uint8_t* out) = 0;
    // An independent context in the same state (same input taken so far).
    virtual std::unique_ptr<XDigest> Clone() const = 0;
    // Takes the state of `other`, a context of the same hash (else
    // std::invalid_argument), without an allocation: what the keyed
    // constructions do once per message with their precomputed states.
    virtual void CopyFrom(const XDigest& other) = 0;
};

// Clone and CopyFrom for a concrete digest class D deriving from Base.
template <class D, class Base>
class XDigestCopies : public Base {
public:
    using Base::Base;
    std::unique_ptr<XDigest> Clone() const final { return std::make_unique<D>(static_cast<const D&>(*this)); }
    void CopyFrom(const XDigest& other) final;
};

template <class D, class Base>
void XDigestCopies<D, Base>::CopyFrom(const XDigest& other)
{
    // typeid rather than dynamic_cast: one comparison, as cheap as the copy.
    if (typeid(other) != typeid(D))
        throw std::invalid_argument("XDigest::CopyFrom: a context of another hash");
    static_cast<D&>(*this) = static_cast<const D&>(other);
}

// A fresh, reset context for the id; throws like HashFunctionById.
std::unique_ptr<XDigest> NewDigestById(uint8_t id);
