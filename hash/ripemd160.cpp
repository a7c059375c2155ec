#include "hash/ripemd160.h"

#include "core/wipe.h"

#include <utility>


namespace {

// Message word and rotation of each of the 80 steps, left and right line.
constexpr uint8_t kWordLeft[80] = {
    0, 1, 2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, //
    7, 4, 13, 1,  10, 6,  15, 3,  12, 0, 9,  5,  2,  14, 11, 8,  //
    3, 10, 14, 4, 9,  15, 8,  1,  2,  7, 0,  6,  13, 11, 5,  12, //
    1, 9, 11, 10, 0,  8,  12, 4,  13, 3, 7,  15, 14, 5,  6,  2,  //
    4, 0, 5,  9,  7,  12, 2,  10, 14, 1, 3,  8,  11, 6,  15, 13,
};
constexpr uint8_t kWordRight[80] = {
    5,  14, 7,  0, 9, 2,  11, 4,  13, 6,  15, 8,  1,  10, 3,  12, //
    6,  11, 3,  7, 0, 13, 5,  10, 14, 15, 8,  12, 4,  9,  1,  2,  //
    15, 5,  1,  3, 7, 14, 6,  9,  11, 8,  12, 2,  10, 0,  4,  13, //
    8,  6,  4,  1, 3, 11, 15, 0,  5,  12, 2,  13, 9,  7,  10, 14, //
    12, 15, 10, 4, 1, 5,  8,  7,  6,  2,  13, 14, 0,  3,  9,  11,
};
constexpr uint8_t kShiftLeft[80] = {
    11, 14, 15, 12, 5,  8,  7,  9,  11, 13, 14, 15, 6,  7,  9,  8,  //
    7,  6,  8,  13, 11, 9,  7,  15, 7,  12, 15, 9,  11, 7,  13, 12, //
    11, 13, 6,  7,  14, 9,  13, 15, 14, 8,  13, 6,  5,  12, 7,  5,  //
    11, 12, 14, 15, 14, 15, 9,  8,  9,  14, 5,  6,  8,  6,  5,  12, //
    9,  15, 5,  11, 6,  8,  13, 12, 5,  12, 13, 14, 11, 8,  5,  6,
};
constexpr uint8_t kShiftRight[80] = {
    8,  9,  9,  11, 13, 15, 15, 5,  7,  7,  8,  11, 14, 14, 12, 6,  //
    9,  13, 15, 7,  12, 8,  9,  11, 7,  7,  12, 7,  6,  15, 13, 11, //
    9,  7,  15, 11, 8,  6,  6,  14, 12, 13, 5,  14, 13, 13, 7,  5,  //
    15, 5,  8,  11, 14, 14, 6,  14, 6,  9,  12, 9,  12, 5,  15, 8,  //
    8,  5,  12, 9,  12, 5,  14, 6,  8,  13, 6,  5,  15, 13, 11, 11,
};
constexpr uint32_t kConstLeft[5] = {0x00000000, 0x5a827999, 0x6ed9eba1, 0x8f1bbcdc, 0xa953fd4e};
constexpr uint32_t kConstRight[5] = {0x50a28be6, 0x5c4dd124, 0x6d703ef3, 0x7a6d76e9, 0x00000000};

// The five boolean functions; the left line uses them in the order 0..4,
// the right line in the order 4..0.
template <int F>
inline uint32_t Boolean(uint32_t x, uint32_t y, uint32_t z)
{
    if constexpr (F == 0)
        return x ^ y ^ z;
    else if constexpr (F == 1)
        return ((y ^ z) & x) ^ z; // (x & y) | (~x & z)
    else if constexpr (F == 2)
        return (x | ~y) ^ z;
    else if constexpr (F == 3)
        return ((x ^ y) & z) ^ y; // (x & z) | (y & ~z)
    else
        return x ^ (y | ~z);
}

// Step J of one line.  The working variables rotate roles every step; rather
// than moving them, the step addresses v[] at offsets that shift by one, so
// that after inlining every access is to a fixed register.
template <int J, int F>
inline __attribute__((always_inline)) void Step(uint32_t v[5], const uint32_t x[16], uint32_t k, unsigned word,
                                                unsigned shift)
{
    constexpr int a = (5 - J % 5) % 5, b = (a + 1) % 5, c = (a + 2) % 5, d = (a + 3) % 5, e = (a + 4) % 5;
    v[a] = Rotl32(v[a] + Boolean<F>(v[b], v[c], v[d]) + x[word] + k, shift) + v[e];
    v[c] = Rotl32(v[c], 10);
}

template <int J>
inline __attribute__((always_inline)) void Steps(uint32_t left[5], uint32_t right[5], const uint32_t x[16])
{
    Step<J, J / 16>(left, x, kConstLeft[J / 16], kWordLeft[J], kShiftLeft[J]);
    Step<J, 4 - J / 16>(right, x, kConstRight[J / 16], kWordRight[J], kShiftRight[J]);
}

template <size_t... J>
inline __attribute__((always_inline)) void AllSteps(uint32_t left[5], uint32_t right[5], const uint32_t x[16],
                                                    std::index_sequence<J...>)
{
    (Steps<int(J)>(left, right, x), ...);
}

} // namespace

void XRipemd160::CompressBlocks(uint32_t state[5], const uint8_t* p, size_t count)
{
    for (; count > 0; --count, p += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i)
            x[i] = LoadLe32(p + 4 * i);
        uint32_t left[5] = {state[0], state[1], state[2], state[3], state[4]};
        uint32_t right[5] = {state[0], state[1], state[2], state[3], state[4]};

        AllSteps(left, right, x, std::make_index_sequence<80>());

        // 80 steps are a whole number of role rotations: left[0] is A again.
        const uint32_t t = state[1] + left[2] + right[3];
        state[1] = state[2] + left[3] + right[4];
        state[2] = state[3] + left[4] + right[0];
        state[3] = state[4] + left[0] + right[1];
        state[4] = state[0] + left[1] + right[2];
        state[0] = t;
    }
}

void XRipemd160::Reset()
{
    ResetCounters();
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    state_[4] = 0xc3d2e1f0;
}

void XRipemd160::Compress(const uint8_t* blocks, size_t count)
{
    CompressBlocks(state_, blocks, count);
}

void XRipemd160::FinishInto(uint8_t* out)
{
    Pad(false);
    for (int i = 0; i < 5; ++i)
        StoreLe32(out + 4 * i, state_[i]);
    Reset();
}
