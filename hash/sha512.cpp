#include "hash/sha512.h"

#include "core/wipe.h"
#include "hash/cpu_features.h"

#include <atomic>

#if ZEL_HASH_X86 && defined(__x86_64__)
#define ZEL_SHA512_AVX2 1
#include <immintrin.h>
#else
#define ZEL_SHA512_AVX2 0
#endif

namespace {

using CompressFn = void (*)(uint64_t* state, const uint8_t* blocks, size_t count);

// The round constants: the first 64 bits of the fractional parts of the
// cube roots of the first 80 primes.
alignas(16) const uint64_t kRound[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc, 0x3956c25bf348b538,
    0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118, 0xd807aa98a3030242, 0x12835b0145706fbe,
    0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2, 0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235,
    0xc19bf174cf692694, 0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5, 0x983e5152ee66dfab,
    0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4, 0xc6e00bf33da88fc2, 0xd5a79147930aa725,
    0x06ca6351e003826f, 0x142929670a0e6e70, 0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed,
    0x53380d139d95b3df, 0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30, 0xd192e819d6ef5218,
    0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8, 0x19a4c116b8d2d0c8, 0x1e376c085141ab53,
    0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8, 0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373,
    0x682e6ff3d6b2b8a3, 0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b, 0xca273eceea26619c,
    0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178, 0x06f067aa72176fba, 0x0a637dc5a2c898a6,
    0x113f9804bef90dae, 0x1b710b35131c471b, 0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc,
    0x431d67c49c100d4c, 0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817,
};

const uint64_t kInitial512[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
                                 0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
const uint64_t kInitial384[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17, 0x152fecd8f70e5939,
                                 0x67332667ffc00b31, 0x8eb44a8768581511, 0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
const uint64_t kInitial512_256[8] = {0x22312194fc2bf72c, 0x9f555fa3c84c64c2, 0x2393b86b6f53b151,
                                     0x963877195940eabd, 0x96283ee2a88effe3, 0xbe5e1e2553863992,
                                     0x2b0199fc2c85b8aa, 0x0eb72ddc81c52ca2};

// The message schedule lives in a 16-word ring, as in SHA-256; the working
// variables change roles each round instead of moving.

#define SHA512_BIG0(x) (Rotr64(x, 28) ^ Rotr64(x, 34) ^ Rotr64(x, 39))
#define SHA512_BIG1(x) (Rotr64(x, 14) ^ Rotr64(x, 18) ^ Rotr64(x, 41))
#define SHA512_SMALL0(x) (Rotr64(x, 1) ^ Rotr64(x, 8) ^ ((x) >> 7))
#define SHA512_SMALL1(x) (Rotr64(x, 19) ^ Rotr64(x, 61) ^ ((x) >> 6))
#define SHA512_CH(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define SHA512_MAJ(x, y, z) (((x) & (y)) | ((z) & ((x) | (y))))

#define SHA512_W(i)                                                                                       \
    (w[(i) & 15] += SHA512_SMALL1(w[((i) + 14) & 15]) + w[((i) + 9) & 15] + SHA512_SMALL0(w[((i) + 1) & 15]))

#define SHA512_ROUND(a, b, c, d, e, f, g, h, k, x)                  \
    h += SHA512_BIG1(e) + SHA512_CH(e, f, g) + (k) + (x);           \
    d += h;                                                         \
    h += SHA512_BIG0(a) + SHA512_MAJ(a, b, c)

#define SHA512_16(X)                                                   \
    SHA512_ROUND(a, b, c, d, e, f, g, h, kRound[j + 0], X(0));         \
    SHA512_ROUND(h, a, b, c, d, e, f, g, kRound[j + 1], X(1));         \
    SHA512_ROUND(g, h, a, b, c, d, e, f, kRound[j + 2], X(2));         \
    SHA512_ROUND(f, g, h, a, b, c, d, e, kRound[j + 3], X(3));         \
    SHA512_ROUND(e, f, g, h, a, b, c, d, kRound[j + 4], X(4));         \
    SHA512_ROUND(d, e, f, g, h, a, b, c, kRound[j + 5], X(5));         \
    SHA512_ROUND(c, d, e, f, g, h, a, b, kRound[j + 6], X(6));         \
    SHA512_ROUND(b, c, d, e, f, g, h, a, kRound[j + 7], X(7));         \
    SHA512_ROUND(a, b, c, d, e, f, g, h, kRound[j + 8], X(8));         \
    SHA512_ROUND(h, a, b, c, d, e, f, g, kRound[j + 9], X(9));         \
    SHA512_ROUND(g, h, a, b, c, d, e, f, kRound[j + 10], X(10));       \
    SHA512_ROUND(f, g, h, a, b, c, d, e, kRound[j + 11], X(11));       \
    SHA512_ROUND(e, f, g, h, a, b, c, d, kRound[j + 12], X(12));       \
    SHA512_ROUND(d, e, f, g, h, a, b, c, kRound[j + 13], X(13));       \
    SHA512_ROUND(c, d, e, f, g, h, a, b, kRound[j + 14], X(14));       \
    SHA512_ROUND(b, c, d, e, f, g, h, a, kRound[j + 15], X(15))

#define SHA512_LOADED(i) w[i]

void CompressPortable(uint64_t* state, const uint8_t* p, size_t count)
{
    uint64_t w[16];
    for (; count > 0; --count, p += 128) {
        for (int i = 0; i < 16; ++i)
            w[i] = LoadBe64(p + 8 * i);
        uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint64_t e = state[4], f = state[5], g = state[6], h = state[7];

        int j = 0;
        SHA512_16(SHA512_LOADED);
        for (j = 16; j < 80; j += 16) {
            SHA512_16(SHA512_W);
        }

        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
    SecureWipe(w, sizeof w); // the schedule is the message, which may be a key
}

#if ZEL_SHA512_AVX2
// ---------------------------------------------------------------------------
// AVX2 and BMI2 compression.  The schedule is kept as eight pairs of words
// in vector registers (pair q holds words 2q and 2q + 1); with the round
// constants added it goes to a small table the rounds read.  Each pair is
// computed two rounds after the rounds before it, so the vector units work
// on words 16 ahead while the integer units run the rounds.  The rounds
// are the portable ones (RORX makes each rotation one instruction), with
// the round constant and schedule word read as one sum.

#define ZEL_SHA512_TARGET __attribute__((target("avx2,bmi2")))

ZEL_SHA512_TARGET __attribute__((always_inline)) inline __m128i Rotr64x2(__m128i x, int n)
{
    return _mm_or_si128(_mm_srli_epi64(x, n), _mm_slli_epi64(x, 64 - n));
}

ZEL_SHA512_TARGET __attribute__((always_inline)) inline __m128i Small0x2(__m128i x)
{
    return _mm_xor_si128(_mm_xor_si128(Rotr64x2(x, 1), Rotr64x2(x, 8)), _mm_srli_epi64(x, 7));
}

ZEL_SHA512_TARGET __attribute__((always_inline)) inline __m128i Small1x2(__m128i x)
{
    return _mm_xor_si128(_mm_xor_si128(Rotr64x2(x, 19), Rotr64x2(x, 61)), _mm_srli_epi64(x, 6));
}

// Pair q = base + R of the schedule (words t = 2q, 2q + 1) replaces pair
// q - 8 in slot R of the ring m: W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15])
// + W[t-16].  Pair q - 1 holds W[t-2..t-1]; W[t-7..t-6] and W[t-15..t-14]
// straddle two pairs each.
#define SHA512_PAIR(R)                                                                                 \
    {                                                                                                  \
        const __m128i w2 = m[((R) + 7) & 7];                                                           \
        const __m128i w7 = _mm_alignr_epi8(m[((R) + 5) & 7], m[((R) + 4) & 7], 8);                    \
        const __m128i w15 = _mm_alignr_epi8(m[((R) + 1) & 7], m[(R)&7], 8);                            \
        m[(R)&7] = _mm_add_epi64(_mm_add_epi64(m[(R)&7], Small0x2(w15)), _mm_add_epi64(w7, Small1x2(w2))); \
        _mm_store_si128(reinterpret_cast<__m128i*>(x + 2 * (base + (R))),                              \
                        _mm_add_epi64(m[(R)&7], _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 2 * (base + (R)))))); \
    }

// One round with the sum of round constant and schedule word `wk`.
#define SHA512_ROUND_X(a, b, c, d, e, f, g, h, wk)                                         \
    {                                                                                      \
        const uint64_t t1 = h + (wk) + SHA512_CH(e, f, g) + SHA512_BIG1(e);                \
        d += t1;                                                                           \
        h = t1 + SHA512_BIG0(a) + SHA512_MAJ(a, b, c);                                     \
    }

#define SHA512_16_X(PAIR)                                                   \
    SHA512_ROUND_X(a, b, c, d, e, f, g, h, x[j + 0]);                       \
    SHA512_ROUND_X(h, a, b, c, d, e, f, g, x[j + 1]);                       \
    PAIR(0);                                                                \
    SHA512_ROUND_X(g, h, a, b, c, d, e, f, x[j + 2]);                       \
    SHA512_ROUND_X(f, g, h, a, b, c, d, e, x[j + 3]);                       \
    PAIR(1);                                                                \
    SHA512_ROUND_X(e, f, g, h, a, b, c, d, x[j + 4]);                       \
    SHA512_ROUND_X(d, e, f, g, h, a, b, c, x[j + 5]);                       \
    PAIR(2);                                                                \
    SHA512_ROUND_X(c, d, e, f, g, h, a, b, x[j + 6]);                       \
    SHA512_ROUND_X(b, c, d, e, f, g, h, a, x[j + 7]);                       \
    PAIR(3);                                                                \
    SHA512_ROUND_X(a, b, c, d, e, f, g, h, x[j + 8]);                       \
    SHA512_ROUND_X(h, a, b, c, d, e, f, g, x[j + 9]);                       \
    PAIR(4);                                                                \
    SHA512_ROUND_X(g, h, a, b, c, d, e, f, x[j + 10]);                      \
    SHA512_ROUND_X(f, g, h, a, b, c, d, e, x[j + 11]);                      \
    PAIR(5);                                                                \
    SHA512_ROUND_X(e, f, g, h, a, b, c, d, x[j + 12]);                      \
    SHA512_ROUND_X(d, e, f, g, h, a, b, c, x[j + 13]);                      \
    PAIR(6);                                                                \
    SHA512_ROUND_X(c, d, e, f, g, h, a, b, x[j + 14]);                      \
    SHA512_ROUND_X(b, c, d, e, f, g, h, a, x[j + 15]);                      \
    PAIR(7)

#define SHA512_NO_PAIR(R) (void)0

ZEL_SHA512_TARGET void CompressAvx2(uint64_t* state, const uint8_t* p, size_t count)
{
    // The words are big-endian: reverse the bytes of each 64-bit lane.
    const __m128i byteSwap = _mm_set_epi64x(0x08090a0b0c0d0e0fLL, 0x0001020304050607LL);
    alignas(16) uint64_t x[80];
    for (; count > 0; --count, p += 128) {
        __m128i m[8];
#pragma GCC unroll 8
        for (int q = 0; q < 8; ++q) {
            m[q] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * q)), byteSwap);
            _mm_store_si128(reinterpret_cast<__m128i*>(x + 2 * q),
                            _mm_add_epi64(m[q], _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 2 * q))));
        }
        uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
        // Rounds j..j+15 and the pairs for words j+16..j+31; base = (j + 16) / 2
        // is a multiple of 8, so the ring slots are constants.
#pragma GCC unroll 4
        for (int j = 0; j < 64; j += 16) {
            const int base = j / 2 + 8;
            SHA512_16_X(SHA512_PAIR);
        }
        {
            const int j = 64;
            SHA512_16_X(SHA512_NO_PAIR);
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
    // The schedule is the message, which may be a key.
    SecureWipe(x, sizeof x);
}

#undef SHA512_PAIR
#undef SHA512_ROUND_X
#undef SHA512_16_X
#undef SHA512_NO_PAIR
#endif // ZEL_SHA512_AVX2

#undef SHA512_BIG0
#undef SHA512_BIG1
#undef SHA512_SMALL0
#undef SHA512_SMALL1
#undef SHA512_CH
#undef SHA512_MAJ
#undef SHA512_W
#undef SHA512_ROUND
#undef SHA512_16
#undef SHA512_LOADED

} // namespace

namespace {

bool Available(Sha512Engine engine)
{
    switch (engine) {
    case Sha512Engine::kPortable:
        return true;
    case Sha512Engine::kAvx2Bmi2:
        return ZEL_SHA512_AVX2 && CpuHasAvx2Bmi2();
    }
    return false;
}

CompressFn FunctionOf(Sha512Engine engine)
{
#if ZEL_SHA512_AVX2
    if (engine == Sha512Engine::kAvx2Bmi2)
        return CompressAvx2;
#endif
    (void)engine;
    return CompressPortable;
}

Sha512Engine BestEngine()
{
    return Available(Sha512Engine::kAvx2Bmi2) ? Sha512Engine::kAvx2Bmi2 : Sha512Engine::kPortable;
}

// The selected engine.  Every thread that finds it unset stores the same
// choice, so the race is benign; Sha512SelectEngine overrides it.
std::atomic<int> g_engine{-1};

Sha512Engine ActiveEngine()
{
    int engine = g_engine.load(std::memory_order_relaxed);
    if (engine < 0) {
        engine = int(BestEngine());
        g_engine.store(engine, std::memory_order_relaxed);
    }
    return Sha512Engine(engine);
}

} // namespace

bool Sha512EngineAvailable(Sha512Engine engine)
{
    return Available(engine);
}

Sha512Engine Sha512ActiveEngine()
{
    return ActiveEngine();
}

bool Sha512SelectEngine(Sha512Engine engine)
{
    if (!Available(engine))
        return false;
    g_engine.store(int(engine), std::memory_order_relaxed);
    return true;
}

void XSha512Base::CompressBlocks(Sha512Engine engine, uint64_t state[8], const uint8_t* blocks, size_t count)
{
    FunctionOf(engine)(state, blocks, count);
}

void XSha512Base::Start(const uint64_t initial[8])
{
    ResetCounters();
    for (int i = 0; i < 8; ++i)
        state_[i] = initial[i];
}

void XSha512Base::Compress(const uint8_t* blocks, size_t count)
{
    FunctionOf(ActiveEngine())(state_, blocks, count);
}

void XSha512Base::Output(uint8_t* out, uint32_t bytes)
{
    Pad(true);
    uint8_t all[64];
    for (int i = 0; i < 8; ++i)
        StoreBe64(all + 8 * i, state_[i]);
    for (uint32_t i = 0; i < bytes; ++i)
        out[i] = all[i];
    SecureWipe(all, sizeof all);
}

void XSha512::Reset()
{
    Start(kInitial512);
}

void XSha512::FinishInto(uint8_t* out)
{
    Output(out, kSize);
    Reset();
}

void XSha384::Reset()
{
    Start(kInitial384);
}

void XSha384::FinishInto(uint8_t* out)
{
    Output(out, kSize);
    Reset();
}

void XSha512_256::Reset()
{
    Start(kInitial512_256);
}

void XSha512_256::FinishInto(uint8_t* out)
{
    Output(out, kSize);
    Reset();
}
