#include "hash/block_digest.h"

#include <cstring>

template <size_t BlockSize>
void XBlockDigestOf<BlockSize>::ResetCounters()
{
    total_ = 0;
    buffered_ = 0;
}

template <size_t BlockSize>
void XBlockDigestOf<BlockSize>::Update(const uint8_t* data, size_t length)
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

template <size_t BlockSize>
void XBlockDigestOf<BlockSize>::Pad(bool bigEndianLength)
{
    buffer_[buffered_++] = 0x80;
    if (buffered_ > kBlockSize - kLengthField) {
        std::memset(buffer_ + buffered_, 0, kBlockSize - buffered_);
        Compress(buffer_, 1);
        buffered_ = 0;
    }
    std::memset(buffer_ + buffered_, 0, kBlockSize - buffered_);

    // The length in bits: total_ * 8, carried into a second 64-bit word
    // (used by the 16-byte field only; a 64-bit total never fills it).
    const uint64_t low = total_ << 3;
    const uint64_t high = total_ >> 61;
    uint8_t* field = buffer_ + kBlockSize - kLengthField;
    if (bigEndianLength) {
        StoreBe64(field + kLengthField - 8, low);
        if (kLengthField == 16)
            StoreBe64(field, high);
    } else {
        StoreLe64(field, low);
        if (kLengthField == 16)
            StoreLe64(field + 8, high);
    }
    Compress(buffer_, 1);
    buffered_ = 0;
}

template class XBlockDigestOf<64>;
template class XBlockDigestOf<128>;
