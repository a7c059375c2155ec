#include "pgp/cfb.h"

#include "core/wipe.h"

#include <cstring>

// Decrypting, the keystream of block i is E(C[i-1]) (E(feedback) for the
// first), all known in advance: one EncryptBlocks call per run of blocks.
// Encrypting, x[i+1] = E(C[i]) = E(P[i] ^ x[i]), which is cipher block
// chaining of the plaintext with x[0] = E(feedback) as the chaining block:
// EncryptBlocksChained yields the keystream of each next block.  After a
// run the feedback register holds the last ciphertext block and the position
// is 0, exactly where the byte-wise reference would stand.

namespace {

constexpr size_t kRunBlocks = 256;

void XorBlock(const uint8_t* a, const uint8_t* b, uint8_t* out, uint32_t n)
{
    for (uint32_t j = 0; j < n; ++j)
        out[j] = a[j] ^ b[j];
}

} // namespace

XPgpCfb::XPgpCfb(std::unique_ptr<XBlockCipher> engine)
    : engine_(std::move(engine)), blockSize_(engine_->BlockSize())
{
}

XPgpCfb::~XPgpCfb()
{
    SecureWipe(feedback_, sizeof feedback_);
    SecureWipe(keystream_, sizeof keystream_);
}

uint8_t XPgpCfb::Byte(uint8_t in, bool encrypt)
{
    if (position_ == 0)
        engine_->EncryptBlock(feedback_, keystream_);
    const uint8_t out = in ^ keystream_[position_];
    feedback_[position_] = encrypt ? out : in;
    if (++position_ == blockSize_)
        position_ = 0;
    return out;
}

void XPgpCfb::Encrypt(const uint8_t* in, uint8_t* out, size_t n)
{
    const uint32_t bs = blockSize_;
    size_t i = 0;
    for (; i < n && position_ != 0; ++i)
        out[i] = Byte(in[i], true);

    size_t blocks = (n - i) / bs;
    if (blocks) {
        // x: the keystream of the current block; the engine's chaining call
        // turns it into the keystream of the block after each one.
        uint8_t x[XBlockCipher::kMaxBlockSize];
        uint8_t next[kRunBlocks * XBlockCipher::kMaxBlockSize];
        engine_->EncryptBlock(feedback_, x);
        while (blocks) {
            const size_t run = blocks < kRunBlocks ? blocks : kRunBlocks;
            uint8_t chain[XBlockCipher::kMaxBlockSize];
            std::memcpy(chain, x, bs);
            engine_->EncryptBlocksChained(in + i, next, run, chain);
            // C[0] = P[0] ^ x; C[k] = P[k] ^ next[k-1]; in may equal out.
            XorBlock(in + i, x, out + i, bs);
            for (size_t k = 1; k < run; ++k)
                XorBlock(in + i + k * bs, next + (k - 1) * bs, out + i + k * bs, bs);
            std::memcpy(x, chain, bs);
            i += run * bs;
            blocks -= run;
        }
        std::memcpy(feedback_, out + i - bs, bs);
        SecureWipe(next, sizeof next);
        SecureWipe(x, sizeof x);
    }

    for (; i < n; ++i)
        out[i] = Byte(in[i], true);
}

void XPgpCfb::Decrypt(const uint8_t* in, uint8_t* out, size_t n)
{
    const uint32_t bs = blockSize_;
    size_t i = 0;
    for (; i < n && position_ != 0; ++i)
        out[i] = Byte(in[i], false);

    size_t blocks = (n - i) / bs;
    if (blocks) {
        // ks[k] = E(C[k-1]), C[-1] being the feedback register.
        uint8_t ks[kRunBlocks * XBlockCipher::kMaxBlockSize];
        while (blocks) {
            const size_t run = blocks < kRunBlocks ? blocks : kRunBlocks;
            std::memcpy(ks, feedback_, bs);
            std::memcpy(ks + bs, in + i, (run - 1) * bs);
            // The last ciphertext block of the run, taken before out (which
            // may be in) is written.
            std::memcpy(feedback_, in + i + (run - 1) * bs, bs);
            engine_->EncryptBlocks(ks, ks, run);
            for (size_t k = 0; k < run * bs; ++k)
                out[i + k] = in[i + k] ^ ks[k];
            i += run * bs;
            blocks -= run;
        }
        SecureWipe(ks, sizeof ks);
    }

    for (; i < n; ++i)
        out[i] = Byte(in[i], false);
}

void XPgpCfb::Resync(const uint8_t* encipheredPrefix)
{
    std::memcpy(feedback_, encipheredPrefix + 2, blockSize_);
    std::memcpy(keystream_, encipheredPrefix + 2, blockSize_);
    position_ = 0;
}
