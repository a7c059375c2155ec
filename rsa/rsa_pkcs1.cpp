#include "rsa/rsa_pkcs1.h"

#include "core/alarm.h"
#include "core/wipe.h"

#include <cstring>
#include <stdexcept>

namespace {

const char kSource[] = "RSA";

[[noreturn]] void InvalidKey()
{
    throw XCryptoAlarm(XMessage::kInvalidKey, kSource);
}

[[noreturn]] void UnableToDecrypt()
{
    throw XCryptoAlarm(XMessage::kUnableToDecrypt, kSource);
}

// The DER DigestInfo in front of the digest: SEQUENCE { SEQUENCE { OID,
// NULL }, OCTET STRING digest } up to the digest itself.
struct DigestInfoPrefix {
    const char* name;
    uint8_t bytes[19];
    uint32_t length;
};

const DigestInfoPrefix kPrefixes[] = {
    {"SHA1", {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14}, 15},
    {"SHA256",
     {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20},
     19},
    {"SHA384",
     {0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30},
     19},
    {"SHA512",
     {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40},
     19},
};

const DigestInfoPrefix& PrefixOf(const XHashAlgorithm& hash)
{
    for (const DigestInfoPrefix& p : kPrefixes) {
        if (std::strcmp(p.name, hash.name) == 0)
            return p;
    }
    throw XCryptoAlarm(XMessage::kUnsupportedAlgorithm, kSource);
}

// EMSA-PKCS1-v1_5: 00 01 FF ... FF 00 DigestInfo, k bytes.
XBlob Pkcs1Block(const XBlob& data, const XHashAlgorithm& hash, uint32_t k)
{
    const DigestInfoPrefix& prefix = PrefixOf(hash);
    const uint32_t tLen = prefix.length + hash.digestSize;
    if (k < tLen + 11)
        InvalidKey();
    XBlob em(k);
    em.SetLength(k - tLen);
    em.At(0) = 0x00;
    em.At(1) = 0x01;
    std::memset(em.Data() + 2, 0xff, k - tLen - 3);
    em.At(k - tLen - 1) = 0x00;
    em.AppendBytes(prefix.bytes, prefix.length);
    em.Append(hash.oneShot(data));
    return em;
}

// s^e mod n as `length` bytes for a k-byte signature below n; false when
// the signature is not k bytes, not below n, or its value does not fit.
bool PublicBlock(const XRsa& rsa, const XBlob& signature, uint32_t length, XBlob& block)
{
    rsa.RequireHalf(XRsa::kHasPublicKey);
    const uint32_t k = rsa.ModulusBytes();
    if (signature.Length() != k)
        return false;
    XBigInt x;
    x.FromBytes(signature);
    if (x >= rsa.N())
        return false;
    rsa.ApplyPublic(x);
    if ((x.BitLength() + 7) / 8 > length)
        return false;
    block = x.ToBytes(length);
    return true;
}

XBlob PrivateBlock(const XRsa& rsa, const XBlob& em)
{
    XBigInt x;
    x.FromBytes(em);
    rsa.ApplyPrivate(x);
    return x.ToBytes(rsa.ModulusBytes());
}

// H(00 x 8 | mHash | salt): what PSS signs.
XBlob PssHash(const XHashAlgorithm& hash, const XBlob& mHash, const uint8_t* salt, uint32_t saltLength)
{
    auto context = hash.newContext();
    const uint8_t zeros[8] = {};
    context->Update(zeros, 8);
    context->Update(mHash);
    context->Update(salt, saltLength);
    return context->Finish();
}

// Constant-time helpers: all-ones (0xff...) for true, 0 for false.
inline uint32_t MaskIsZero(uint32_t x)
{
    return uint32_t((uint64_t(x) - 1) >> 32);
}

inline uint32_t MaskEqual(uint32_t a, uint32_t b)
{
    return MaskIsZero(a ^ b);
}

} // namespace

const XHashAlgorithm& FindSchemeHash(const char* name)
{
    const XHashAlgorithm* hash = name ? FindHashAlgorithmByName(name) : nullptr;
    if (!hash)
        throw XCryptoAlarm(XMessage::kUnsupportedAlgorithm, kSource);
    PrefixOf(*hash); // only the hashes with a DigestInfo
    return *hash;
}

XBlob Mgf1(const XHashAlgorithm& hash, const uint8_t* seed, uint32_t seedLength, uint32_t length)
{
    XBlob mask(length + hash.digestSize);
    auto prefix = hash.newContext();
    prefix->Update(seed, seedLength);
    auto block = prefix->Clone();
    uint8_t digest[kMaxDigestSize];
    for (uint32_t counter = 0; mask.Length() < length; ++counter) {
        block->CopyFrom(*prefix);
        const uint8_t c[4] = {uint8_t(counter >> 24), uint8_t(counter >> 16), uint8_t(counter >> 8), uint8_t(counter)};
        block->Update(c, 4);
        block->FinishInto(digest);
        const uint32_t take = length - mask.Length() < hash.digestSize ? length - mask.Length() : hash.digestSize;
        mask.AppendBytes(digest, take);
    }
    SecureWipe(digest, sizeof digest);
    return mask;
}

// --- RSASSA-PKCS1-v1_5 ----------------------------------------------------------

XBlob SignPkcs1(const XRsa& rsa, const XBlob& data, const XHashAlgorithm& hash)
{
    rsa.RequireHalf(XRsa::kHasPrivateKey);
    return PrivateBlock(rsa, Pkcs1Block(data, hash, rsa.ModulusBytes()));
}

bool VerifyPkcs1(const XRsa& rsa, const XBlob& data, const XBlob& signature, const XHashAlgorithm& hash)
{
    rsa.RequireHalf(XRsa::kHasPublicKey);
    const uint32_t k = rsa.ModulusBytes();
    const DigestInfoPrefix& prefix = PrefixOf(hash);
    if (k < prefix.length + hash.digestSize + 11)
        return false;
    XBlob block;
    if (!PublicBlock(rsa, signature, k, block))
        return false;
    return block == Pkcs1Block(data, hash, k);
}

// --- RSASSA-PSS ---------------------------------------------------------------

XBlob SignPss(const XRsa& rsa, const XBlob& data, const XHashAlgorithm& hash, XRsa::EntropySource entropy)
{
    rsa.RequireHalf(XRsa::kHasPrivateKey);
    const uint32_t hLen = hash.digestSize;
    const uint32_t sLen = hLen;
    const uint64_t emBits = rsa.N().BitLength() - 1;
    const uint32_t emLen = uint32_t((emBits + 7) / 8);
    if (emLen < hLen + sLen + 2)
        InvalidKey();

    uint8_t salt[kMaxDigestSize];
    entropy(salt, sLen);
    const XBlob h = PssHash(hash, hash.oneShot(data), salt, sLen);

    // DB = 00 ... 00 01 salt, masked by MGF1(H); then H and BC.
    const uint32_t dbLen = emLen - hLen - 1;
    XBlob em(emLen);
    em.SetLength(dbLen);
    std::memset(em.Data(), 0, dbLen);
    em.At(dbLen - sLen - 1) = 0x01;
    std::memcpy(em.Data() + dbLen - sLen, salt, sLen);
    SecureWipe(salt, sizeof salt);
    const XBlob mask = Mgf1(hash, h.Data(), hLen, dbLen);
    for (uint32_t i = 0; i < dbLen; ++i)
        em.At(i) ^= mask.At(i);
    em.At(0) &= uint8_t(0xff >> (8 * emLen - emBits));
    em.Append(h);
    em.AppendByte(0xbc);
    return PrivateBlock(rsa, em);
}

bool VerifyPss(const XRsa& rsa, const XBlob& data, const XBlob& signature, const XHashAlgorithm& hash)
{
    rsa.RequireHalf(XRsa::kHasPublicKey);
    const uint32_t hLen = hash.digestSize;
    const uint64_t emBits = rsa.N().BitLength() - 1;
    const uint32_t emLen = uint32_t((emBits + 7) / 8);
    if (emLen < hLen + 2)
        return false;
    XBlob em;
    if (!PublicBlock(rsa, signature, emLen, em))
        return false;
    const uint8_t topMask = uint8_t(0xff << (8 - (8 * emLen - emBits)));
    if (em.At(emLen - 1) != 0xbc || (8 * emLen - emBits && (em.At(0) & topMask)))
        return false;
    const uint32_t dbLen = emLen - hLen - 1;
    const uint8_t* h = em.Data() + dbLen;
    const XBlob mask = Mgf1(hash, h, hLen, dbLen);
    XBlob db(dbLen);
    db.SetLength(dbLen);
    for (uint32_t i = 0; i < dbLen; ++i)
        db.At(i) = em.At(i) ^ mask.At(i);
    db.At(0) &= uint8_t(0xff >> (8 * emLen - emBits));
    // Zeros, then 01, then the salt (of any length, the empty one included).
    uint32_t i = 0;
    while (i < dbLen && db.At(i) == 0)
        ++i;
    if (i == dbLen || db.At(i) != 0x01)
        return false;
    ++i;
    const XBlob expected = PssHash(hash, hash.oneShot(data), db.Data() + i, dbLen - i);
    return std::memcmp(expected.Data(), h, hLen) == 0;
}

// --- RSAES-OAEP ---------------------------------------------------------------

int64_t OaepCapacity(const XRsa& rsa, const XHashAlgorithm& hash)
{
    const int64_t capacity = int64_t(rsa.ModulusBytes()) - 2 * int64_t(hash.digestSize) - 2;
    return capacity < 0 ? -1 : capacity;
}

XBlob EncryptOaep(const XRsa& rsa, const XBlob& data, const XHashAlgorithm& hash, const XBlob& label,
                  XRsa::EntropySource entropy)
{
    rsa.RequireHalf(XRsa::kHasPublicKey);
    const int64_t capacity = OaepCapacity(rsa, hash);
    if (capacity < 0)
        InvalidKey();
    if (int64_t(data.Length()) > capacity)
        throw std::invalid_argument("EncryptOaep: the message is longer than one block carries");
    const uint32_t k = rsa.ModulusBytes();
    const uint32_t hLen = hash.digestSize;
    const uint32_t dbLen = k - hLen - 1;

    // EM = 00 | maskedSeed | maskedDB, DB = lHash | 00 ... 00 | 01 | M.
    XBlob em(k);
    em.SetLength(k);
    std::memset(em.Data(), 0, k);
    uint8_t* seed = em.Data() + 1;
    uint8_t* db = seed + hLen;
    const XBlob lHash = hash.oneShot(label);
    std::memcpy(db, lHash.Data(), hLen);
    db[dbLen - data.Length() - 1] = 0x01;
    if (data.Length())
        std::memcpy(db + dbLen - data.Length(), data.Data(), data.Length());
    entropy(seed, hLen);
    const XBlob dbMask = Mgf1(hash, seed, hLen, dbLen);
    for (uint32_t i = 0; i < dbLen; ++i)
        db[i] ^= dbMask.At(i);
    const XBlob seedMask = Mgf1(hash, db, dbLen, hLen);
    for (uint32_t i = 0; i < hLen; ++i)
        seed[i] ^= seedMask.At(i);

    XBigInt x;
    x.FromBytes(em);
    rsa.ApplyPublic(x);
    return x.ToBytes(k);
}

XBlob DecryptOaep(const XRsa& rsa, const XBlob& data, const XHashAlgorithm& hash, const XBlob& label)
{
    rsa.RequireHalf(XRsa::kHasPrivateKey);
    const uint32_t k = rsa.ModulusBytes();
    const uint32_t hLen = hash.digestSize;
    // The length and the range of the ciphertext are public.
    if (OaepCapacity(rsa, hash) < 0 || data.Length() != k)
        UnableToDecrypt();
    XBigInt x;
    x.FromBytes(data);
    if (x >= rsa.N())
        UnableToDecrypt();
    rsa.ApplyPrivate(x);
    XBlob em = x.ToBytes(k);
    x = XBigInt();

    const uint32_t dbLen = k - hLen - 1;
    uint8_t* seed = em.Data() + 1;
    uint8_t* db = seed + hLen;
    const XBlob seedMask = Mgf1(hash, db, dbLen, hLen);
    for (uint32_t i = 0; i < hLen; ++i)
        seed[i] ^= seedMask.At(i);
    const XBlob dbMask = Mgf1(hash, seed, hLen, dbLen);
    for (uint32_t i = 0; i < dbLen; ++i)
        db[i] ^= dbMask.At(i);

    // Every check runs to the end, its outcome folded into `good` without a
    // branch: the first byte is 00, the label hash matches, the bytes after
    // it are zeros up to a 01.
    const XBlob lHash = hash.oneShot(label);
    uint32_t good = MaskIsZero(em.At(0));
    uint32_t differ = 0;
    for (uint32_t i = 0; i < hLen; ++i)
        differ |= uint32_t(db[i] ^ lHash.At(i));
    good &= MaskIsZero(differ);
    uint32_t found = 0, stray = 0, index = 0;
    for (uint32_t i = hLen; i < dbLen; ++i) {
        const uint32_t isOne = MaskEqual(db[i], 1);
        const uint32_t isZero = MaskIsZero(db[i]);
        index |= ~found & isOne & i;
        stray |= ~found & ~isOne & ~isZero;
        found |= isOne;
    }
    good &= found & ~stray;
    if (!good) {
        SecureWipe(em.Data(), em.Capacity());
        UnableToDecrypt();
    }
    XBlob message;
    message.AppendBytes(db + index + 1, dbLen - index - 1);
    SecureWipe(em.Data(), em.Capacity());
    return message;
}
