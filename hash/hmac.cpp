#include "hash/hmac.h"

#include "core/bytes.h"
#include "core/wipe.h"

#include <algorithm>
#include <stdexcept>

XHmac::XHmac(const XHashAlgorithm& hash, const uint8_t* key, size_t keyLength)
    : size_(hash.digestSize), inner_(hash.newContext()), outer_(hash.newContext()), message_(hash.newContext())
{
    const uint32_t blockSize = hash.blockSize;
    uint8_t block[kMaxDigestBlockSize] = {};
    if (keyLength > blockSize) {
        inner_->Update(key, keyLength);
        inner_->FinishInto(block);
    } else if (keyLength > 0) {
        std::copy(key, key + keyLength, block);
    }
    // The key, zero-padded to a block, XOR 0x36 for the inner hash, then
    // XOR 0x5c (0x36 ^ 0x6a) for the outer one.
    for (uint32_t i = 0; i < blockSize; ++i)
        block[i] ^= 0x36;
    inner_->Update(block, blockSize);
    for (uint32_t i = 0; i < blockSize; ++i)
        block[i] ^= 0x36 ^ 0x5c;
    outer_->Update(block, blockSize);
    SecureWipe(block, sizeof block);
    message_->CopyFrom(*inner_);
}

XHmac::XHmac(const XHmac& other)
    : size_(other.size_), inner_(other.inner_->Clone()), outer_(other.outer_->Clone()),
      message_(other.message_->Clone())
{
}

void XHmac::FinishInto(uint8_t* out)
{
    uint8_t innerDigest[kMaxDigestSize];
    message_->FinishInto(innerDigest);
    message_->CopyFrom(*outer_);
    message_->Update(innerDigest, size_);
    message_->FinishInto(out);
    message_->CopyFrom(*inner_);
    SecureWipe(innerDigest, sizeof innerDigest);
}

XBlob XHmac::Finish()
{
    uint8_t mac[kMaxDigestSize];
    FinishInto(mac);
    XBlob out(size_);
    out.AppendBytes(mac, size_);
    SecureWipe(mac, sizeof mac);
    return out;
}

XBlob Hmac(const XHashAlgorithm& hash, const XBlob& key, const XBlob& data)
{
    XHmac hmac(hash, key);
    hmac.Update(data);
    return hmac.Finish();
}

XBlob Pbkdf2(const XHashAlgorithm& hash, const XBlob& password, const XBlob& salt, uint32_t iterations,
             uint32_t length)
{
    if (iterations == 0)
        throw std::invalid_argument("PBKDF2: the iteration count must be at least 1");
    XHmac hmac(hash, password);
    const uint32_t size = hmac.Size();
    XBlob result(length);
    uint8_t u[kMaxDigestSize], t[kMaxDigestSize];
    // Block i (from 1): U1 = HMAC(salt | i, big-endian), Uj = HMAC(Uj-1),
    // the block is U1 ^ U2 ^ ... ^ Uc.
    for (uint32_t block = 1; result.Length() < length; ++block) {
        uint8_t index[4];
        StoreBe32(index, block);
        hmac.Update(salt);
        hmac.Update(index, 4);
        hmac.FinishInto(u);
        std::copy(u, u + size, t);
        for (uint32_t j = 1; j < iterations; ++j) {
            hmac.Update(u, size);
            hmac.FinishInto(u);
            for (uint32_t k = 0; k < size; ++k)
                t[k] ^= u[k];
        }
        result.AppendBytes(t, std::min(size, length - result.Length()));
    }
    SecureWipe(u, sizeof u);
    SecureWipe(t, sizeof t);
    return result;
}

XBlob HkdfExtract(const XHashAlgorithm& hash, const XBlob& salt, const XBlob& ikm)
{
    // HMAC pads its key with zeros to a block, so an empty salt and
    // digestSize zero bytes are the same key: the empty salt needs no case
    // of its own.
    return Hmac(hash, salt, ikm);
}

XBlob HkdfExpand(const XHashAlgorithm& hash, const XBlob& prk, const XBlob& info, uint32_t length)
{
    if (uint64_t(length) > 255u * uint64_t(hash.digestSize))
        throw std::invalid_argument("HKDF: the output may be at most 255 digests long");
    XHmac hmac(hash, prk);
    const uint32_t size = hmac.Size();
    XBlob result(length);
    uint8_t t[kMaxDigestSize];
    // T(i) = HMAC(PRK, T(i-1) | info | i), T(0) empty, i from 1 as one byte.
    for (uint32_t i = 1; result.Length() < length; ++i) {
        if (i > 1)
            hmac.Update(t, size);
        hmac.Update(info);
        const uint8_t counter = uint8_t(i);
        hmac.Update(&counter, 1);
        hmac.FinishInto(t);
        result.AppendBytes(t, std::min(size, length - result.Length()));
    }
    SecureWipe(t, sizeof t);
    return result;
}

XBlob Hkdf(const XHashAlgorithm& hash, const XBlob& ikm, const XBlob& salt, const XBlob& info, uint32_t length)
{
    if (uint64_t(length) > 255u * uint64_t(hash.digestSize))
        throw std::invalid_argument("HKDF: the output may be at most 255 digests long");
    const XBlob prk = HkdfExtract(hash, salt, ikm);
    return HkdfExpand(hash, prk, info, length);
}
