#include "hash/md5.h"

#include "core/wipe.h"


// One MD5 step per macro.  The round functions are written so that as much
// of each step as possible depends only on c and d (ready a step earlier)
// and on the message word, leaving few operations after b, the value just
// computed by the previous step:
//   F = (b & c) | (~b & d)  ==  d ^ (b & (c ^ d))
//   G = (b & d) | (c & ~d)  ==  (b & d) + (c & ~d)  (the two terms never share a bit)
//   H = b ^ c ^ d
//   I = c ^ (b | ~d)
#define MD5_F(a, b, c, d, x, t, s)                        \
    a += (x) + (t) + ((((c) ^ (d)) & (b)) ^ (d));         \
    a = Rotl32(a, s) + (b)
#define MD5_G(a, b, c, d, x, t, s)                        \
    a += (x) + (t) + ((c) & ~(d));                        \
    a += (b) & (d);                                       \
    a = Rotl32(a, s) + (b)
#define MD5_H(a, b, c, d, x, t, s)                        \
    a += (x) + (t) + ((b) ^ (c) ^ (d));                   \
    a = Rotl32(a, s) + (b)
#define MD5_I(a, b, c, d, x, t, s)                        \
    a += (x) + (t) + ((c) ^ ((b) | ~(d)));                \
    a = Rotl32(a, s) + (b)

void XMd5::CompressBlocks(uint32_t state[4], const uint8_t* p, size_t count)
{
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; count > 0; --count, p += 64) {
        const uint32_t x0 = LoadLe32(p), x1 = LoadLe32(p + 4), x2 = LoadLe32(p + 8), x3 = LoadLe32(p + 12),
                       x4 = LoadLe32(p + 16), x5 = LoadLe32(p + 20), x6 = LoadLe32(p + 24),
                       x7 = LoadLe32(p + 28), x8 = LoadLe32(p + 32), x9 = LoadLe32(p + 36),
                       x10 = LoadLe32(p + 40), x11 = LoadLe32(p + 44), x12 = LoadLe32(p + 48),
                       x13 = LoadLe32(p + 52), x14 = LoadLe32(p + 56), x15 = LoadLe32(p + 60);
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

        MD5_F(a, b, c, d, x0, 0xd76aa478, 7);
        MD5_F(d, a, b, c, x1, 0xe8c7b756, 12);
        MD5_F(c, d, a, b, x2, 0x242070db, 17);
        MD5_F(b, c, d, a, x3, 0xc1bdceee, 22);
        MD5_F(a, b, c, d, x4, 0xf57c0faf, 7);
        MD5_F(d, a, b, c, x5, 0x4787c62a, 12);
        MD5_F(c, d, a, b, x6, 0xa8304613, 17);
        MD5_F(b, c, d, a, x7, 0xfd469501, 22);
        MD5_F(a, b, c, d, x8, 0x698098d8, 7);
        MD5_F(d, a, b, c, x9, 0x8b44f7af, 12);
        MD5_F(c, d, a, b, x10, 0xffff5bb1, 17);
        MD5_F(b, c, d, a, x11, 0x895cd7be, 22);
        MD5_F(a, b, c, d, x12, 0x6b901122, 7);
        MD5_F(d, a, b, c, x13, 0xfd987193, 12);
        MD5_F(c, d, a, b, x14, 0xa679438e, 17);
        MD5_F(b, c, d, a, x15, 0x49b40821, 22);

        MD5_G(a, b, c, d, x1, 0xf61e2562, 5);
        MD5_G(d, a, b, c, x6, 0xc040b340, 9);
        MD5_G(c, d, a, b, x11, 0x265e5a51, 14);
        MD5_G(b, c, d, a, x0, 0xe9b6c7aa, 20);
        MD5_G(a, b, c, d, x5, 0xd62f105d, 5);
        MD5_G(d, a, b, c, x10, 0x02441453, 9);
        MD5_G(c, d, a, b, x15, 0xd8a1e681, 14);
        MD5_G(b, c, d, a, x4, 0xe7d3fbc8, 20);
        MD5_G(a, b, c, d, x9, 0x21e1cde6, 5);
        MD5_G(d, a, b, c, x14, 0xc33707d6, 9);
        MD5_G(c, d, a, b, x3, 0xf4d50d87, 14);
        MD5_G(b, c, d, a, x8, 0x455a14ed, 20);
        MD5_G(a, b, c, d, x13, 0xa9e3e905, 5);
        MD5_G(d, a, b, c, x2, 0xfcefa3f8, 9);
        MD5_G(c, d, a, b, x7, 0x676f02d9, 14);
        MD5_G(b, c, d, a, x12, 0x8d2a4c8a, 20);

        MD5_H(a, b, c, d, x5, 0xfffa3942, 4);
        MD5_H(d, a, b, c, x8, 0x8771f681, 11);
        MD5_H(c, d, a, b, x11, 0x6d9d6122, 16);
        MD5_H(b, c, d, a, x14, 0xfde5380c, 23);
        MD5_H(a, b, c, d, x1, 0xa4beea44, 4);
        MD5_H(d, a, b, c, x4, 0x4bdecfa9, 11);
        MD5_H(c, d, a, b, x7, 0xf6bb4b60, 16);
        MD5_H(b, c, d, a, x10, 0xbebfbc70, 23);
        MD5_H(a, b, c, d, x13, 0x289b7ec6, 4);
        MD5_H(d, a, b, c, x0, 0xeaa127fa, 11);
        MD5_H(c, d, a, b, x3, 0xd4ef3085, 16);
        MD5_H(b, c, d, a, x6, 0x04881d05, 23);
        MD5_H(a, b, c, d, x9, 0xd9d4d039, 4);
        MD5_H(d, a, b, c, x12, 0xe6db99e5, 11);
        MD5_H(c, d, a, b, x15, 0x1fa27cf8, 16);
        MD5_H(b, c, d, a, x2, 0xc4ac5665, 23);

        MD5_I(a, b, c, d, x0, 0xf4292244, 6);
        MD5_I(d, a, b, c, x7, 0x432aff97, 10);
        MD5_I(c, d, a, b, x14, 0xab9423a7, 15);
        MD5_I(b, c, d, a, x5, 0xfc93a039, 21);
        MD5_I(a, b, c, d, x12, 0x655b59c3, 6);
        MD5_I(d, a, b, c, x3, 0x8f0ccc92, 10);
        MD5_I(c, d, a, b, x10, 0xffeff47d, 15);
        MD5_I(b, c, d, a, x1, 0x85845dd1, 21);
        MD5_I(a, b, c, d, x8, 0x6fa87e4f, 6);
        MD5_I(d, a, b, c, x15, 0xfe2ce6e0, 10);
        MD5_I(c, d, a, b, x6, 0xa3014314, 15);
        MD5_I(b, c, d, a, x13, 0x4e0811a1, 21);
        MD5_I(a, b, c, d, x4, 0xf7537e82, 6);
        MD5_I(d, a, b, c, x11, 0xbd3af235, 10);
        MD5_I(c, d, a, b, x2, 0x2ad7d2bb, 15);
        MD5_I(b, c, d, a, x9, 0xeb86d391, 21);

        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

void XMd5::Reset()
{
    ResetCounters();
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
}

void XMd5::Compress(const uint8_t* blocks, size_t count)
{
    CompressBlocks(state_, blocks, count);
}

void XMd5::FinishInto(uint8_t* out)
{
    Pad(false);
    for (int i = 0; i < 4; ++i)
        StoreLe32(out + 4 * i, state_[i]);
    Reset();
}
