#include "cipher/block_cipher.h"

#include "core/alarm.h"
#include "core/bytes.h"
#include "core/wipe.h"

#include <cstring>
#include <new>

XBlockCipher::~XBlockCipher()
{
    // The chaining block may hold plaintext (mode 1 decryption).
    SecureWipe(chain_, sizeof chain_);
}

void XBlockCipher::EncryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const
{
    const uint32_t b = BlockSize();
    for (size_t i = 0; i < count; ++i)
        EncryptBlock(in + i * b, out + i * b);
}

void XBlockCipher::DecryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const
{
    const uint32_t b = BlockSize();
    for (size_t i = 0; i < count; ++i)
        DecryptBlock(in + i * b, out + i * b);
}

void XBlockCipher::EncryptBlocksChained(const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain) const
{
    const uint32_t b = BlockSize();
    uint8_t work[kMaxBlockSize];
    for (size_t i = 0; i < count; ++i) {
        for (uint32_t j = 0; j < b; ++j)
            work[j] = chain[j] ^ in[i * b + j];
        EncryptBlock(work, chain);
        std::memcpy(out + i * b, chain, b);
    }
}

void XBlockCipher::DecryptBlocksChained(const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain) const
{
    if (count == 0)
        return;
    const uint32_t b = BlockSize();
    DecryptBlocks(in, out, count);
    // Plaintext block i is D(c_i) XOR c_(i-1), the chaining block standing in for c_(-1).
    XorBytes(out, out, chain, b);
    XorBytes(out + b, out + b, in, (count - 1) * b);
    std::memcpy(chain, in + (count - 1) * b, b);
}

namespace {

// Blocks of keystream worked out per EncryptBlocks call by the CFB defaults.
constexpr size_t kCfbRunBlocks = 256;

} // namespace

void XBlockCipher::CfbEncryptBlocks(const uint8_t* in, uint8_t* out, size_t count, uint8_t* feedback) const
{
    // x[i+1] = E(C[i]) = E(P[i] XOR x[i]): cipher block chaining of the
    // plaintext with x[0] = E(feedback) as the chaining block, so the
    // chaining call yields the keystream of each next block.
    if (count == 0)
        return;
    const uint32_t b = BlockSize();
    uint8_t x[kMaxBlockSize];
    uint8_t next[kCfbRunBlocks * kMaxBlockSize];
    EncryptBlock(feedback, x);
    while (count) {
        const size_t run = count < kCfbRunBlocks ? count : kCfbRunBlocks;
        uint8_t chain[kMaxBlockSize];
        std::memcpy(chain, x, b);
        EncryptBlocksChained(in, next, run, chain);
        // C[0] = P[0] XOR x; C[k] = P[k] XOR next[k-1]; in may equal out.
        XorBytes(out, in, x, b);
        XorBytes(out + b, in + b, next, (run - 1) * b);
        std::memcpy(x, chain, b);
        in += run * b;
        out += run * b;
        count -= run;
    }
    std::memcpy(feedback, out - b, b);
    SecureWipe(next, sizeof next);
    SecureWipe(x, sizeof x);
}

void XBlockCipher::CfbDecryptBlocks(const uint8_t* in, uint8_t* out, size_t count, uint8_t* feedback) const
{
    // ks[k] = E(C[k-1]), C[-1] being the feedback register.
    if (count == 0)
        return;
    const uint32_t b = BlockSize();
    uint8_t ks[kCfbRunBlocks * kMaxBlockSize];
    while (count) {
        const size_t run = count < kCfbRunBlocks ? count : kCfbRunBlocks;
        std::memcpy(ks, feedback, b);
        std::memcpy(ks + b, in, (run - 1) * b);
        // The last ciphertext block of the run, taken before out (which may
        // be in) is written.
        std::memcpy(feedback, in + (run - 1) * b, b);
        EncryptBlocks(ks, ks, run);
        XorBytes(out, in, ks, run * b);
        in += run * b;
        out += run * b;
        count -= run;
    }
    SecureWipe(ks, sizeof ks);
}

void XBlockCipher::Setup(int32_t newMode, uint32_t newFiller)
{
    mode = newMode == kModeCbc ? kModeCbc : kModeEcb;
    std::memset(chain_, 0, sizeof chain_);
    filler = uint8_t(newFiller);
}

void XBlockCipher::BuildKey(const XBlob& material, uint32_t keyLength, uint8_t* key) const
{
    const uint32_t copied = material.Length() < keyLength ? material.Length() : keyLength;
    material.CopyOut(key, copied, 0);
    std::memset(key + copied, filler, keyLength - copied);
}

XBlob XBlockCipher::Encrypt(const XBlob& source)
{
    if (!KeyReady())
        throw XCryptoAlarm(XMessage::kInvalidKey);
    const uint32_t b = BlockSize();
    const uint32_t length = source.Length();
    const uint32_t full = length - length % b;
    const uint32_t rest = length % b;
    RequireMode();

    // The last partial block, completed with filler bytes.
    uint8_t last[kMaxBlockSize];
    if (rest) {
        source.CopyOut(last, rest, full);
        std::memset(last + rest, filler, b - rest);
    }
    // A source within one block of 4 GiB would need a longer result than a
    // buffer can hold: refuse it as an allocation failure, never wrap.
    const uint64_t padded = uint64_t(full) + (rest ? b : 0);
    if (padded > UINT32_MAX)
        throw std::bad_alloc();
    // Allocated once at its final size.
    XBlob result(padded ? uint32_t(padded) : XBlob::kInitialCapacity);
    result.SetLength(uint32_t(padded));
    uint8_t* out = result.Data();
    const uint8_t* in = source.Data();
    if (mode == kModeEcb) {
        EncryptBlocks(in, out, full / b);
        if (rest)
            EncryptBlocks(last, out + full, 1);
        // The chaining block ends as the last block written.
        if (result.Length())
            std::memcpy(chain_, out + result.Length() - b, b);
    } else {
        EncryptBlocksChained(in, out, full / b, chain_);
        if (rest)
            EncryptBlocksChained(last, out + full, 1, chain_);
    }
    SecureWipe(last, sizeof last);
    return result;
}

void XBlockCipher::RequireMode() const
{
    if (mode != kModeEcb && mode != kModeCbc)
        throw XCryptoAlarm(XMessage::kUnsupportedAlgorithm);
}

XBlob XBlockCipher::Decrypt(const XBlob& source)
{
    if (!KeyReady())
        throw XCryptoAlarm(XMessage::kInvalidKey);
    const uint32_t b = BlockSize();
    const uint32_t length = source.Length();
    if (length % b)
        throw XCryptoAlarm(XMessage::kUnableToDecrypt);
    RequireMode();
    if (length == 0)
        return XBlob();

    // Allocated once at its final size.
    XBlob result(length);
    result.SetLength(length);
    uint8_t* out = result.Data();
    const uint8_t* in = source.Data();
    if (mode == kModeEcb) {
        DecryptBlocks(in, out, length / b);
        // The chaining block ends as the last plaintext block.
        std::memcpy(chain_, out + length - b, b);
    } else {
        // The chaining block ends as the last ciphertext block.
        DecryptBlocksChained(in, out, length / b, chain_);
    }
    return result;
}
