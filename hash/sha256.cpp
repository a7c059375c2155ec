#include "hash/sha256.h"

#include "core/wipe.h"
#include "hash/cpu_features.h"

#include <atomic>

#if ZEL_HASH_X86
#include <immintrin.h>
#endif

namespace {

using CompressFn = void (*)(uint32_t* state, const uint8_t* blocks, size_t count);

// The round constants: the first 32 bits of the fractional parts of the
// cube roots of the first 64 primes.
alignas(16) const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

const uint32_t kInitial256[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
const uint32_t kInitial224[8] = {0xc1059ed8, 0x367cd507, 0x3070dd17, 0xf70e5939,
                                 0xffc00b31, 0x68581511, 0x64f98fa7, 0xbefa4fa4};

// ---------------------------------------------------------------------------
// Portable compression.  The message schedule lives in a 16-word ring: word
// t (t >= 16) replaces word t - 16 once that one has been used.  The eight
// working variables change roles each round instead of moving.

#define SHA256_BIG0(x) (Rotr32(x, 2) ^ Rotr32(x, 13) ^ Rotr32(x, 22))
#define SHA256_BIG1(x) (Rotr32(x, 6) ^ Rotr32(x, 11) ^ Rotr32(x, 25))
#define SHA256_SMALL0(x) (Rotr32(x, 7) ^ Rotr32(x, 18) ^ ((x) >> 3))
#define SHA256_SMALL1(x) (Rotr32(x, 17) ^ Rotr32(x, 19) ^ ((x) >> 10))
#define SHA256_CH(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define SHA256_MAJ(x, y, z) (((x) & (y)) | ((z) & ((x) | (y))))

// Schedule word j + i for rounds 16..63 (i = 0..15 within a group of 16).
#define SHA256_W(i)                                                                                       \
    (w[(i) & 15] += SHA256_SMALL1(w[((i) + 14) & 15]) + w[((i) + 9) & 15] + SHA256_SMALL0(w[((i) + 1) & 15]))

#define SHA256_ROUND(a, b, c, d, e, f, g, h, k, x)                  \
    h += SHA256_BIG1(e) + SHA256_CH(e, f, g) + (k) + (x);           \
    d += h;                                                         \
    h += SHA256_BIG0(a) + SHA256_MAJ(a, b, c)

// Sixteen rounds; X(i) gives the schedule word of round j + i.
#define SHA256_16(X)                                                   \
    SHA256_ROUND(a, b, c, d, e, f, g, h, k[j + 0], X(0));              \
    SHA256_ROUND(h, a, b, c, d, e, f, g, k[j + 1], X(1));              \
    SHA256_ROUND(g, h, a, b, c, d, e, f, k[j + 2], X(2));              \
    SHA256_ROUND(f, g, h, a, b, c, d, e, k[j + 3], X(3));              \
    SHA256_ROUND(e, f, g, h, a, b, c, d, k[j + 4], X(4));              \
    SHA256_ROUND(d, e, f, g, h, a, b, c, k[j + 5], X(5));              \
    SHA256_ROUND(c, d, e, f, g, h, a, b, k[j + 6], X(6));              \
    SHA256_ROUND(b, c, d, e, f, g, h, a, k[j + 7], X(7));              \
    SHA256_ROUND(a, b, c, d, e, f, g, h, k[j + 8], X(8));              \
    SHA256_ROUND(h, a, b, c, d, e, f, g, k[j + 9], X(9));              \
    SHA256_ROUND(g, h, a, b, c, d, e, f, k[j + 10], X(10));            \
    SHA256_ROUND(f, g, h, a, b, c, d, e, k[j + 11], X(11));            \
    SHA256_ROUND(e, f, g, h, a, b, c, d, k[j + 12], X(12));            \
    SHA256_ROUND(d, e, f, g, h, a, b, c, k[j + 13], X(13));            \
    SHA256_ROUND(c, d, e, f, g, h, a, b, k[j + 14], X(14));            \
    SHA256_ROUND(b, c, d, e, f, g, h, a, k[j + 15], X(15))

#define SHA256_LOADED(i) w[i]

void CompressPortable(uint32_t* state, const uint8_t* p, size_t count)
{
    const uint32_t* const k = kRound;
    uint32_t w[16];
    for (; count > 0; --count, p += 64) {
        for (int i = 0; i < 16; ++i)
            w[i] = LoadBe32(p + 4 * i);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];

        int j = 0;
        SHA256_16(SHA256_LOADED);
        for (j = 16; j < 64; j += 16) {
            SHA256_16(SHA256_W);
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

#undef SHA256_BIG0
#undef SHA256_BIG1
#undef SHA256_SMALL0
#undef SHA256_SMALL1
#undef SHA256_CH
#undef SHA256_MAJ
#undef SHA256_W
#undef SHA256_ROUND
#undef SHA256_16
#undef SHA256_LOADED

#if ZEL_HASH_X86
// ---------------------------------------------------------------------------
// SHA-NI compression.  SHA256RNDS2 does two rounds: it takes the state as
// two registers, (A, B, E, F) and (C, D, G, H), and two schedule words with
// their round constants added in the low half of a third.  SHA256MSG1 and
// SHA256MSG2, with an add of words t-7, compute the schedule four words at
// a time.  The 64 rounds are 16 groups of four.
//
// As for SHA-1, only these functions are compiled for the SHA extensions,
// and force_align_arg_pointer realigns the stack on entry for 32-bit
// Windows, which promises only 4-byte alignment.

#define ZEL_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// Group g (rounds 4g..4g+3).  msg[g % 4] holds schedule words 4g..4g+3 when
// the group starts (groups 0..3 load them from the block).  The group also
// advances the schedule: SHA256MSG1 starts words 4(g+3).. (groups 1..12),
// and words 4(g+1).. are finished with the words 4g-3.. and SHA256MSG2
// (groups 3..14).
template <int G>
ZEL_SHA_TARGET __attribute__((always_inline)) inline void ShaNiGroup(__m128i& abef, __m128i& cdgh, __m128i msg[4],
                                                                     const uint8_t* p, __m128i byteSwap)
{
    if constexpr (G < 4)
        msg[G] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * G)), byteSwap);
    __m128i words = _mm_add_epi32(msg[G % 4], _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * G)));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, words);
    if constexpr (G >= 3 && G <= 14) {
        const __m128i tail = _mm_alignr_epi8(msg[G % 4], msg[(G + 3) % 4], 4);
        msg[(G + 1) % 4] = _mm_sha256msg2_epu32(_mm_add_epi32(msg[(G + 1) % 4], tail), msg[G % 4]);
    }
    words = _mm_shuffle_epi32(words, 0x0e);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, words);
    if constexpr (G >= 1 && G <= 12)
        msg[(G + 3) % 4] = _mm_sha256msg1_epu32(msg[(G + 3) % 4], msg[G % 4]);
}

template <int... G>
ZEL_SHA_TARGET __attribute__((always_inline)) inline void ShaNiGroups(__m128i& abef, __m128i& cdgh, __m128i msg[4],
                                                                      const uint8_t* p, __m128i byteSwap)
{
    (ShaNiGroup<G>(abef, cdgh, msg, p, byteSwap), ...);
}

ZEL_SHA_TARGET __attribute__((force_align_arg_pointer)) void CompressShaNi(uint32_t* state, const uint8_t* p,
                                                                           size_t count)
{
    // The message words are big-endian: reverse the bytes of each 32-bit lane.
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);

    // state[0..7] = A..H to the instructions' (A, B, E, F) and (C, D, G, H),
    // A and C in the top lanes.
    const __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    const __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xb1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1b);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xf0);

    for (; count > 0; --count, p += 64) {
        const __m128i abefSaved = abef;
        const __m128i cdghSaved = cdgh;
        __m128i msg[4];
        ShaNiGroups<0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15>(abef, cdgh, msg, p, byteSwap);
        abef = _mm_add_epi32(abef, abefSaved);
        cdgh = _mm_add_epi32(cdgh, cdghSaved);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1b);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xb1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xf0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}
#endif // ZEL_HASH_X86

bool Available(Sha256Engine engine)
{
    switch (engine) {
    case Sha256Engine::kPortable:
        return true;
    case Sha256Engine::kShaExtensions:
        return CpuHasShaExtensions();
    }
    return false;
}

CompressFn FunctionOf(Sha256Engine engine)
{
#if ZEL_HASH_X86
    if (engine == Sha256Engine::kShaExtensions)
        return CompressShaNi;
#endif
    (void)engine;
    return CompressPortable;
}

Sha256Engine BestEngine()
{
    return Available(Sha256Engine::kShaExtensions) ? Sha256Engine::kShaExtensions : Sha256Engine::kPortable;
}

// The selected engine.  Every thread that finds it unset stores the same
// choice, so the race is benign; Sha256SelectEngine overrides it.
std::atomic<int> g_engine{-1};

Sha256Engine ActiveEngine()
{
    int engine = g_engine.load(std::memory_order_relaxed);
    if (engine < 0) {
        engine = int(BestEngine());
        g_engine.store(engine, std::memory_order_relaxed);
    }
    return Sha256Engine(engine);
}

} // namespace

bool Sha256EngineAvailable(Sha256Engine engine)
{
    return Available(engine);
}

Sha256Engine Sha256ActiveEngine()
{
    return ActiveEngine();
}

bool Sha256SelectEngine(Sha256Engine engine)
{
    if (!Available(engine))
        return false;
    g_engine.store(int(engine), std::memory_order_relaxed);
    return true;
}

void XSha256Base::CompressBlocks(Sha256Engine engine, uint32_t state[8], const uint8_t* blocks, size_t count)
{
    FunctionOf(engine)(state, blocks, count);
}

void XSha256Base::Start(const uint32_t initial[8])
{
    ResetCounters();
    for (int i = 0; i < 8; ++i)
        state_[i] = initial[i];
}

void XSha256Base::Compress(const uint8_t* blocks, size_t count)
{
    FunctionOf(ActiveEngine())(state_, blocks, count);
}

void XSha256Base::Output(uint8_t* out, int words)
{
    Pad(true);
    for (int i = 0; i < words; ++i)
        StoreBe32(out + 4 * i, state_[i]);
}

void XSha256::Reset()
{
    Start(kInitial256);
}

void XSha256::FinishInto(uint8_t* out)
{
    Output(out, 8);
    Reset();
}

void XSha224::Reset()
{
    Start(kInitial224);
}

void XSha224::FinishInto(uint8_t* out)
{
    Output(out, 7);
    Reset();
}
