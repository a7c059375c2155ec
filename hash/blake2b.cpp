#include "hash/blake2b.h"

#include "core/bytes.h"
#include "core/wipe.h"

#include <cstring>
#include <stdexcept>

namespace {

// SHA-512's initial words.
const uint64_t kIv[8] = {
    0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
    0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179,
};

// The message word order of each round (rounds 10 and 11 repeat 0 and 1).
const uint8_t kSigma[12][16] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
    {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3},
    {11, 8, 12, 0, 5, 2, 15, 13, 10, 14, 3, 6, 7, 1, 9, 4},
    {7, 9, 3, 1, 13, 12, 11, 14, 2, 6, 5, 10, 4, 0, 15, 8},
    {9, 0, 5, 7, 2, 4, 10, 15, 14, 1, 11, 12, 6, 8, 3, 13},
    {2, 12, 6, 10, 0, 11, 8, 3, 4, 13, 7, 5, 15, 14, 1, 9},
    {12, 5, 1, 15, 14, 13, 4, 10, 0, 7, 6, 3, 9, 2, 8, 11},
    {13, 11, 7, 14, 12, 1, 3, 9, 5, 0, 15, 4, 8, 6, 2, 10},
    {6, 15, 14, 9, 11, 3, 0, 8, 12, 2, 13, 7, 1, 4, 10, 5},
    {10, 2, 8, 4, 7, 6, 1, 5, 15, 11, 9, 14, 3, 12, 13, 0},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
    {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3},
};

#define BLAKE2B_G(a, b, c, d, x, y)   \
    a = a + b + (x);                  \
    d = Rotr64(d ^ a, 32);            \
    c = c + d;                        \
    b = Rotr64(b ^ c, 24);            \
    a = a + b + (y);                  \
    d = Rotr64(d ^ a, 16);            \
    c = c + d;                        \
    b = Rotr64(b ^ c, 63)

} // namespace

XBlake2b::XBlake2b(uint32_t outLength, const uint8_t* key, uint32_t keyLength)
    : counter_{0, 0}, buffered_(0), outLength_(outLength), finished_(false)
{
    if (outLength < 1 || outLength > kMaxOutLength)
        throw std::invalid_argument("BLAKE2b digest length must be 1..64 bytes");
    if (keyLength > kMaxKeyLength || (keyLength > 0 && key == nullptr))
        throw std::invalid_argument("BLAKE2b key length must be 0..64 bytes");
    for (int i = 0; i < 8; ++i)
        h_[i] = kIv[i];
    // The parameter block: digest length, key length, fanout 1, depth 1;
    // every other field is zero.
    h_[0] ^= 0x01010000u ^ (uint64_t(keyLength) << 8) ^ outLength;
    std::memset(buffer_, 0, sizeof buffer_);
    if (keyLength > 0) {
        // The key, padded with zeros, is the first block.
        std::memcpy(buffer_, key, keyLength);
        buffered_ = kBlockSize;
    }
}

XBlake2b::~XBlake2b()
{
    SecureWipe(h_, sizeof h_);
    SecureWipe(buffer_, sizeof buffer_);
    SecureWipe(counter_, sizeof counter_);
}

void XBlake2b::Compress(const uint8_t* block, bool last)
{
    uint64_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = LoadLe64(block + 8 * i);
    uint64_t v0 = h_[0], v1 = h_[1], v2 = h_[2], v3 = h_[3];
    uint64_t v4 = h_[4], v5 = h_[5], v6 = h_[6], v7 = h_[7];
    uint64_t v8 = kIv[0], v9 = kIv[1], v10 = kIv[2], v11 = kIv[3];
    uint64_t v12 = kIv[4] ^ counter_[0], v13 = kIv[5] ^ counter_[1];
    uint64_t v14 = last ? ~kIv[6] : kIv[6], v15 = kIv[7];
    for (int r = 0; r < 12; ++r) {
        const uint8_t* s = kSigma[r];
        BLAKE2B_G(v0, v4, v8, v12, m[s[0]], m[s[1]]);
        BLAKE2B_G(v1, v5, v9, v13, m[s[2]], m[s[3]]);
        BLAKE2B_G(v2, v6, v10, v14, m[s[4]], m[s[5]]);
        BLAKE2B_G(v3, v7, v11, v15, m[s[6]], m[s[7]]);
        BLAKE2B_G(v0, v5, v10, v15, m[s[8]], m[s[9]]);
        BLAKE2B_G(v1, v6, v11, v12, m[s[10]], m[s[11]]);
        BLAKE2B_G(v2, v7, v8, v13, m[s[12]], m[s[13]]);
        BLAKE2B_G(v3, v4, v9, v14, m[s[14]], m[s[15]]);
    }
    h_[0] ^= v0 ^ v8;
    h_[1] ^= v1 ^ v9;
    h_[2] ^= v2 ^ v10;
    h_[3] ^= v3 ^ v11;
    h_[4] ^= v4 ^ v12;
    h_[5] ^= v5 ^ v13;
    h_[6] ^= v6 ^ v14;
    h_[7] ^= v7 ^ v15;
    SecureWipe(m, sizeof m); // the message may be a key or a password
}

void XBlake2b::Update(const uint8_t* data, size_t n)
{
    if (finished_)
        throw std::logic_error("BLAKE2b: Update after Final");
    // A full buffer is compressed only when more bytes follow: the last
    // block, full or not, is compressed with the final flag.
    while (n > 0) {
        if (buffered_ == kBlockSize) {
            counter_[0] += kBlockSize;
            if (counter_[0] < kBlockSize)
                ++counter_[1];
            Compress(buffer_, false);
            buffered_ = 0;
        }
        if (buffered_ == 0) {
            // Whole blocks straight from the input, all but the last byte's block.
            while (n > kBlockSize) {
                counter_[0] += kBlockSize;
                if (counter_[0] < kBlockSize)
                    ++counter_[1];
                Compress(data, false);
                data += kBlockSize;
                n -= kBlockSize;
            }
        }
        const size_t take = n < kBlockSize - buffered_ ? n : kBlockSize - buffered_;
        std::memcpy(buffer_ + buffered_, data, take);
        buffered_ += uint32_t(take);
        data += take;
        n -= take;
    }
}

void XBlake2b::Final(uint8_t* out)
{
    if (finished_)
        throw std::logic_error("BLAKE2b: Final called twice");
    finished_ = true;
    counter_[0] += buffered_;
    if (counter_[0] < buffered_)
        ++counter_[1];
    std::memset(buffer_ + buffered_, 0, kBlockSize - buffered_);
    Compress(buffer_, true);
    uint8_t all[64];
    for (int i = 0; i < 8; ++i)
        StoreLe64(all + 8 * i, h_[i]);
    std::memcpy(out, all, outLength_);
    SecureWipe(all, sizeof all);
    SecureWipe(buffer_, sizeof buffer_);
}
