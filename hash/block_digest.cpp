#include "hash/block_digest.h"

#include <cstring>

void XBlockDigest::ResetCounters()
{
    total_ = 0;
    buffered_ = 0;
}

void XBlockDigest::Update(const uint8_t* data, size_t length)
{
    if (length == 0)
        return;
    total_ += length;

    if (buffered_ > 0) {
        const size_t take = length < kBlockSize - buffered_ ? length : kBlockSize - buffered_;
        std::memcpy(buffer_ + buffered_, data, take);
        buffered_ += take;
        data += take;
        length -= take;
        if (buffered_ < kBlockSize)
            return;
        Compress(buffer_, 1);
        buffered_ = 0;
    }

    // Whole blocks straight from the input, without copying.
    const size_t blocks = length / kBlockSize;
    if (blocks > 0) {
        Compress(data, blocks);
        data += blocks * kBlockSize;
        length -= blocks * kBlockSize;
    }

    if (length > 0) {
        std::memcpy(buffer_, data, length);
        buffered_ = length;
    }
}

void XBlockDigest::Pad(bool bigEndianLength)
{
    const uint64_t bits = total_ * 8;

    buffer_[buffered_++] = 0x80;
    if (buffered_ > kBlockSize - 8) {
        std::memset(buffer_ + buffered_, 0, kBlockSize - buffered_);
        Compress(buffer_, 1);
        buffered_ = 0;
    }
    std::memset(buffer_ + buffered_, 0, kBlockSize - 8 - buffered_);

    uint8_t* tail = buffer_ + kBlockSize - 8;
    for (int i = 0; i < 8; ++i) {
        const int shift = bigEndianLength ? 56 - 8 * i : 8 * i;
        tail[i] = uint8_t(bits >> shift);
    }
    Compress(buffer_, 1);
    buffered_ = 0;
}
