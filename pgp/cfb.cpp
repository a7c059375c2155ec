#include "pgp/cfb.h"

#include "core/wipe.h"

#include <cstring>

// Between resyncs, runs of whole blocks starting at position 0 are plain
// CFB with a full-block shift: the engine's CfbEncryptBlocks and
// CfbDecryptBlocks take them (deciphering in parallel, every keystream block
// being E of a known ciphertext block; AES runs them on its own loops).
// After a run the feedback register holds the last ciphertext block and the
// position is 0, exactly where the byte-wise reference would stand.

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

    const size_t blocks = (n - i) / bs;
    engine_->CfbEncryptBlocks(in + i, out + i, blocks, feedback_);
    i += blocks * bs;

    for (; i < n; ++i)
        out[i] = Byte(in[i], true);
}

void XPgpCfb::Decrypt(const uint8_t* in, uint8_t* out, size_t n)
{
    const uint32_t bs = blockSize_;
    size_t i = 0;
    for (; i < n && position_ != 0; ++i)
        out[i] = Byte(in[i], false);

    const size_t blocks = (n - i) / bs;
    engine_->CfbDecryptBlocks(in + i, out + i, blocks, feedback_);
    i += blocks * bs;

    for (; i < n; ++i)
        out[i] = Byte(in[i], false);
}

void XPgpCfb::Resync(const uint8_t* encipheredPrefix)
{
    std::memcpy(feedback_, encipheredPrefix + 2, blockSize_);
    std::memcpy(keystream_, encipheredPrefix + 2, blockSize_);
    position_ = 0;
}
