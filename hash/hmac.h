// Keyed constructions over any digest of the hash table: HMAC (RFC 2104)
// and the key derivations built on it, PBKDF2 (RFC 8018) and HKDF
// (RFC 5869).  Every state derived from a key or a password is wiped when
// it goes.
#pragma once

#include "core/xblob.h"
#include "hash/digest.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// HMAC as an incremental context: the digest's states after the key block
// (the key XOR ipad, and XOR opad) are computed once, and every message
// starts from copies of them, so a message costs the digest of the message
// and one more compression for the outer hash.
class XHmac {
public:
    // A key longer than the digest's block size is replaced by its digest.
    XHmac(const XHashAlgorithm& hash, const uint8_t* key, size_t keyLength);
    XHmac(const XHashAlgorithm& hash, const XBlob& key) : XHmac(hash, key.Data(), key.Length()) {}
    XHmac(const XHmac& other);
    XHmac& operator=(const XHmac&) = delete;

    uint32_t Size() const { return size_; }
    void Update(const uint8_t* data, size_t length) { message_->Update(data, length); }
    void Update(const XBlob& data) { message_->Update(data); }
    // The MAC of the message so far; the context then starts a new message
    // under the same key.
    XBlob Finish();
    void FinishInto(uint8_t* out); // Size() bytes
    // Forgets the message so far.
    void Reset() { message_->CopyFrom(*inner_); }

private:
    uint32_t size_;
    std::unique_ptr<XDigest> inner_;   // after key ^ ipad
    std::unique_ptr<XDigest> outer_;   // after key ^ opad
    std::unique_ptr<XDigest> message_; // inner_ and the message so far
};

// HMAC-hash(key, data): hash.digestSize bytes.
XBlob Hmac(const XHashAlgorithm& hash, const XBlob& key, const XBlob& data);

// PBKDF2 with HMAC-hash: `length` bytes from the password, the salt and
// the iteration count.  Each iteration costs two compressions.  An
// iteration count of 0 throws std::invalid_argument.
XBlob Pbkdf2(const XHashAlgorithm& hash, const XBlob& password, const XBlob& salt, uint32_t iterations,
             uint32_t length);

// HKDF with HMAC-hash: extract (an empty salt stands for digestSize zero
// bytes), then expand to `length` bytes.  A length above 255 times the
// digest size throws std::invalid_argument.
XBlob Hkdf(const XHashAlgorithm& hash, const XBlob& ikm, const XBlob& salt, const XBlob& info, uint32_t length);
// The two steps on their own: the pseudorandom key, and its expansion.
XBlob HkdfExtract(const XHashAlgorithm& hash, const XBlob& salt, const XBlob& ikm);
XBlob HkdfExpand(const XHashAlgorithm& hash, const XBlob& prk, const XBlob& info, uint32_t length);
