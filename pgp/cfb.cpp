#include "pgp/cfb.h"

#include "core/wipe.h"

#include <cstring>

// Between resyncs, runs of whole blocks starting at position 0 are plain
// CFB with a full-block shift: the engine's CfbEncryptBlocks and
// CfbDecryptBlocks take them (deciphering in parallel, every keystream block
// being E of a known ciphertext block; AES runs them on its own loops).
// After a run the feedback register holds the last ciphertext block and the
// position is 0, exactly where the byte-wise reference would stand.  Bytes
// before and after the runs go through Partial, the reference itself over
// the rest of one block.

XPgpCfb::XPgpCfb(std::unique_ptr<XBlockCipher> engine)
    : engine_(std::move(engine)), blockSize_(engine_->BlockSize())
{
}

XPgpCfb::~XPgpCfb()
{
    SecureWipe(feedback_, sizeof feedback_);
    SecureWipe(keystream_, sizeof keystream_);
}

size_t XPgpCfb::Partial(const uint8_t* in, uint8_t* out, size_t n, bool encrypt)
{
    if (n == 0)
        return 0;
    if (position_ == 0)
        engine_->EncryptBlock(feedback_, keystream_);
    const size_t m = n < blockSize_ - position_ ? n : blockSize_ - position_;
    uint8_t* fb = feedback_ + position_;
    const uint8_t* ks = keystream_ + position_;
    for (size_t j = 0; j < m; ++j) {
        const uint8_t x = in[j];
        const uint8_t y = uint8_t(x ^ ks[j]);
        fb[j] = encrypt ? y : x;
        out[j] = y;
    }
    position_ = uint32_t((position_ + m) % blockSize_);
    return m;
}

void XPgpCfb::Encrypt(const uint8_t* in, uint8_t* out, size_t n)
{
    size_t i = position_ != 0 ? Partial(in, out, n, true) : 0;
    const size_t blocks = (n - i) / blockSize_;
    if (blocks) {
        engine_->CfbEncryptBlocks(in + i, out + i, blocks, feedback_);
        i += blocks * blockSize_;
    }
    Partial(in + i, out + i, n - i, true);
}

void XPgpCfb::Decrypt(const uint8_t* in, uint8_t* out, size_t n)
{
    size_t i = position_ != 0 ? Partial(in, out, n, false) : 0;
    const size_t blocks = (n - i) / blockSize_;
    if (blocks) {
        engine_->CfbDecryptBlocks(in + i, out + i, blocks, feedback_);
        i += blocks * blockSize_;
    }
    Partial(in + i, out + i, n - i, false);
}

void XPgpCfb::Resync(const uint8_t* encipheredPrefix)
{
    std::memcpy(feedback_, encipheredPrefix + 2, blockSize_);
    std::memcpy(keystream_, encipheredPrefix + 2, blockSize_);
    position_ = 0;
}
