#include "cipher/aes_modes.h"

#include "cipher/aes_modes_x86.h"
#include "core/alarm.h"
#include "core/bytes.h"
#include "core/wipe.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace {

constexpr uint32_t kBlock = 16;

void RequireKey(const XBlob& key)
{
    const uint32_t n = key.Length();
    if (n != 16 && n != 24 && n != 32)
        throw XCryptoAlarm(XMessage::kInvalidKey);
}

// XAes under exactly these key bytes (MakeKey under filler 0 with the key's
// own length takes them as they are).
void LoadKey(XAes& aes, const XBlob& key)
{
    RequireKey(key);
    aes.MakeKey(key, key.Length());
}

void RequireBlockIv(const XBlob& iv)
{
    if (iv.Length() != kBlock)
        throw std::invalid_argument("the IV of AES-CBC and AES-CTR is 16 bytes");
}

// A result buffer of n bytes; lengths past 4 GiB are refused as the
// allocation failure they would be.
XBlob ResultOf(uint64_t n)
{
    if (n > UINT32_MAX)
        throw std::bad_alloc();
    XBlob out{uint32_t(n)};
    out.SetLength(uint32_t(n));
    return out;
}

// The next counter block: GCM increments the last 32 bits modulo 2^32, CTR
// the whole block as a 128-bit big-endian number.  (The counter is no secret.)
void Increment32(uint8_t* counter)
{
    StoreBe32(counter + 12, LoadBe32(counter + 12) + 1);
}

void Increment128(uint8_t* counter)
{
    const uint64_t low = LoadBe64(counter + 8) + 1;
    StoreBe64(counter + 8, low);
    if (low == 0)
        StoreBe64(counter, LoadBe64(counter) + 1);
}


enum class Counter { k32, k128 };

// Counter mode on XAes's batch block function: the keystream for up to
// kChunkBlocks blocks at a time, XORed into the data.  `counter` ends as the
// block after the last one used.
constexpr size_t kChunkBlocks = 32;

// Whether the process runs AES on the AES instructions (and on 256-bit
// vectors), and GHASH on the carry-less multiply.
bool FastAes()
{
#if ZEL_AES_MODES_X86
    return AesActiveEngine() != AesEngine::kPortable;
#else
    return false;
#endif
}

bool WideAes()
{
    return AesActiveEngine() == AesEngine::kVaes;
}

bool FastGhash()
{
    return GhashActiveEngine() == GhashEngine::kPclmul;
}

void CtrOnBlocks(const XAes& aes, uint8_t* counter, Counter kind, const uint8_t* in, uint8_t* out, size_t n)
{
#if ZEL_AES_MODES_X86
    if (FastAes()) {
        const size_t whole = n / kBlock;
        if (kind == Counter::k32)
            aes_modes_x86::Ctr32Blocks(WideAes(), aes, counter, in, out, whole);
        else
            aes_modes_x86::Ctr128Blocks(WideAes(), aes, counter, in, out, whole);
        in += kBlock * whole;
        out += kBlock * whole;
        n -= kBlock * whole;
    }
#endif
    uint8_t stream[kChunkBlocks * kBlock];
    while (n > 0) {
        const size_t bytes = n < sizeof stream ? n : sizeof stream;
        const size_t blocks = (bytes + kBlock - 1) / kBlock;
        for (size_t i = 0; i < blocks; ++i) {
            std::memcpy(stream + kBlock * i, counter, kBlock);
            if (kind == Counter::k32)
                Increment32(counter);
            else
                Increment128(counter);
        }
        aes.EncryptBlocks(stream, stream, blocks);
        XorBytes(out, in, stream, bytes);
        in += bytes;
        out += bytes;
        n -= bytes;
    }
    SecureWipe(stream, sizeof stream);
}

// GHASH over n bytes, the last block completed with zeros.
void HashPadded(const XGhashKey& hash, uint8_t* y, const uint8_t* data, size_t n)
{
    hash.Update(y, data, n / kBlock);
    if (n % kBlock) {
        uint8_t last[kBlock] = {};
        std::memcpy(last, data + n - n % kBlock, n % kBlock);
        hash.Update(y, last, 1);
        SecureWipe(last, sizeof last);
    }
}

void RequireTagLength(uint32_t tagLength)
{
    if (tagLength < XAesGcm::kMinTagLength || tagLength > XAesGcm::kMaxTagLength)
        throw std::invalid_argument("an AES-GCM tag is 12 to 16 bytes");
}

void RequireGcmIv(const XBlob& iv)
{
    if (iv.Length() == 0)
        throw std::invalid_argument("an AES-GCM IV is at least one byte");
}

} // namespace

// ---------------------------------------------------------------------------
// GCM

XAesGcm::XAesGcm(const XBlob& key)
{
    LoadKey(aes_, key);
    uint8_t h[kBlock] = {};
    aes_.EncryptBlock(h, h);
    hash_.SetKey(h);
    SecureWipe(h, sizeof h);
}

// aes_ and hash_ wipe themselves.
XAesGcm::~XAesGcm() = default;

void XAesGcm::PreCounter(const XBlob& iv, uint8_t* j0) const
{
    if (iv.Length() == 12) {
        // IV || 0^31 || 1
        std::memcpy(j0, iv.Data(), 12);
        StoreBe32(j0 + 12, 1);
        return;
    }
    // GHASH(IV || 0^s || 0^64 || [len(IV) in bits]_64)
    std::memset(j0, 0, kBlock);
    HashPadded(hash_, j0, iv.Data(), iv.Length());
    uint8_t lengths[kBlock] = {};
    StoreBe64(lengths + 8, uint64_t(iv.Length()) * 8);
    hash_.Update(j0, lengths, 1);
}

void XAesGcm::FinishTag(uint8_t* y, const uint8_t* j0, uint64_t aadLength, uint64_t textLength, uint8_t* tag) const
{
    uint8_t lengths[kBlock];
    StoreBe64(lengths, aadLength * 8);
    StoreBe64(lengths + 8, textLength * 8);
    hash_.Update(y, lengths, 1);
    aes_.EncryptBlock(j0, tag);
    XorBytes(tag, tag, y, kBlock);
}

void XAesGcm::Crypt(bool encrypt, const uint8_t* j0, const uint8_t* in, uint8_t* out, uint32_t n, uint8_t* y) const
{
    uint8_t counter[kBlock];
    std::memcpy(counter, j0, kBlock);
    Increment32(counter);
#if ZEL_AES_MODES_X86
    if (FastAes() && FastGhash()) {
        // Whole blocks in one pass, then the last partial block.
        const uint32_t whole = n - n % kBlock;
        aes_modes_x86::GcmBlocks(WideAes(), encrypt, aes_, hash_, counter, in, out, whole / kBlock, y);
        in += whole;
        out += whole;
        n -= whole;
    }
#endif
    // Chunk by chunk, so that what is hashed is still in the cache.
    constexpr uint32_t kChunk = 4096;
    for (uint32_t done = 0; done < n;) {
        const uint32_t bytes = n - done < kChunk ? n - done : kChunk;
        if (!encrypt)
            HashPadded(hash_, y, in + done, bytes);
        CtrOnBlocks(aes_, counter, Counter::k32, in + done, out + done, bytes);
        if (encrypt)
            HashPadded(hash_, y, out + done, bytes);
        done += bytes;
    }
}

XBlob XAesGcm::Seal(const XBlob& iv, const XBlob& aad, const XBlob& plain, uint32_t tagLength) const
{
    RequireTagLength(tagLength);
    RequireGcmIv(iv);
    const uint32_t n = plain.Length();
    XBlob out = ResultOf(uint64_t(n) + tagLength);

    uint8_t j0[kBlock], y[kBlock] = {}, tag[kBlock];
    PreCounter(iv, j0);
    HashPadded(hash_, y, aad.Data(), aad.Length());
    Crypt(true, j0, plain.Data(), out.Data(), n, y);
    FinishTag(y, j0, aad.Length(), n, tag);
    std::memcpy(out.Data() + n, tag, tagLength);
    SecureWipe(y, sizeof y);
    SecureWipe(tag, sizeof tag);
    return out;
}

XBlob XAesGcm::Open(const XBlob& iv, const XBlob& aad, const XBlob& sealed, uint32_t tagLength) const
{
    RequireTagLength(tagLength);
    RequireGcmIv(iv);
    if (sealed.Length() < tagLength)
        throw XCryptoAlarm(XMessage::kUnableToDecrypt);
    const uint32_t n = sealed.Length() - tagLength;
    XBlob out = ResultOf(n);

    uint8_t j0[kBlock], y[kBlock] = {}, tag[kBlock];
    PreCounter(iv, j0);
    HashPadded(hash_, y, aad.Data(), aad.Length());
    Crypt(false, j0, sealed.Data(), out.Data(), n, y);
    FinishTag(y, j0, aad.Length(), n, tag);
    // Every byte of the tag is compared, wherever the first difference is.
    uint8_t difference = 0;
    for (uint32_t i = 0; i < tagLength; ++i)
        difference |= uint8_t(tag[i] ^ sealed.Data()[n + i]);
    SecureWipe(y, sizeof y);
    SecureWipe(tag, sizeof tag);
    if (difference != 0) {
        SecureWipe(out.Data(), n);
        throw XCryptoAlarm(XMessage::kUnableToDecrypt);
    }
    return out;
}

// ---------------------------------------------------------------------------
// CBC

XBlob AesCbcEncrypt(const XBlob& key, const XBlob& iv, const XBlob& plain, bool pkcs7)
{
    XAes aes;
    LoadKey(aes, key);
    RequireBlockIv(iv);
    const uint32_t n = plain.Length();
    const uint32_t rest = n % kBlock;
    if (!pkcs7 && rest != 0)
        throw std::invalid_argument("AES-CBC without padding takes whole 16-byte blocks");
    const uint32_t full = n - rest;
    XBlob out = ResultOf(uint64_t(full) + (pkcs7 ? kBlock : 0));

    uint8_t chain[kBlock];
    std::memcpy(chain, iv.Data(), kBlock);
    aes.EncryptBlocksChained(plain.Data(), out.Data(), full / kBlock, chain);
    if (pkcs7) {
        // The last partial block (perhaps empty) and 16 - rest bytes of value 16 - rest.
        uint8_t last[kBlock];
        std::memcpy(last, plain.Data() + full, rest);
        std::memset(last + rest, int(kBlock - rest), kBlock - rest);
        aes.EncryptBlocksChained(last, out.Data() + full, 1, chain);
        SecureWipe(last, sizeof last);
    }
    return out;
}

namespace {

// The padding length of a PKCS#7 last block, or 0 when the padding is not
// valid (valid: a last byte p from 1 to 16, and the last p bytes all p).
// Every byte is looked at with masks, whatever the padding holds.
uint32_t Pkcs7PaddingLength(const uint8_t* last)
{
    const uint32_t p = last[kBlock - 1];
    // Non-zero when p is 0 or greater than 16.
    uint32_t bad = ((p - 1) >> 8) | ((kBlock - p) >> 31);
    for (uint32_t i = 0; i < kBlock; ++i) {
        // Byte i is padding when its distance from the end, 16 - i, is at most p.
        const uint32_t inPadding = ((p - (kBlock - i)) >> 31) - 1;
        bad |= (last[i] ^ p) & inPadding;
    }
    // 0 when bad is 0, all ones otherwise.
    const uint32_t invalid = 0 - ((bad | (0 - bad)) >> 31);
    return p & ~invalid;
}

} // namespace

XBlob AesCbcDecrypt(const XBlob& key, const XBlob& iv, const XBlob& data, bool pkcs7)
{
    XAes aes;
    LoadKey(aes, key);
    RequireBlockIv(iv);
    const uint32_t n = data.Length();
    if (n % kBlock != 0 || (pkcs7 && n == 0))
        throw XCryptoAlarm(XMessage::kUnableToDecrypt);
    XBlob out = ResultOf(n);
    if (n == 0)
        return out;

    // Plaintext block i is D(c_i) XOR c_(i-1), the IV standing in for c_(-1).
    const uint8_t* in = data.Data();
    uint8_t* p = out.Data();
#if ZEL_AES_MODES_X86
    if (FastAes()) {
        if (WideAes() && AesWide512Active())
            aes_modes_x86::CbcDecryptBlocks512(aes, iv.Data(), in, p, n / kBlock);
        else
            aes_modes_x86::CbcDecryptBlocks(WideAes(), aes, iv.Data(), in, p, n / kBlock);
    } else
#endif
    {
        aes.DecryptBlocks(in, p, n / kBlock);
        XorBytes(p, p, iv.Data(), kBlock);
        XorBytes(p + kBlock, p + kBlock, in, n - kBlock);
    }
    if (pkcs7) {
        const uint32_t padding = Pkcs7PaddingLength(p + n - kBlock);
        if (padding == 0) {
            SecureWipe(p, n);
            throw XCryptoAlarm(XMessage::kUnableToDecrypt);
        }
        SecureWipe(p + n - padding, padding);
        out.SetLength(n - padding);
    }
    return out;
}

// ---------------------------------------------------------------------------
// CTR

XBlob AesCtr(const XBlob& key, const XBlob& iv, const XBlob& data)
{
    XAes aes;
    LoadKey(aes, key);
    RequireBlockIv(iv);
    XBlob out = ResultOf(data.Length());
    uint8_t counter[kBlock];
    std::memcpy(counter, iv.Data(), kBlock);
    CtrOnBlocks(aes, counter, Counter::k128, data.Data(), out.Data(), data.Length());
    return out;
}
