#include "hash/sha1.h"

#include "core/wipe.h"
#include "hash/cpu_features.h"

#include <atomic>

#if ZEL_HASH_X86
#include <immintrin.h>
#endif

namespace {

using CompressFn = void (*)(uint32_t* state, const uint8_t* blocks, size_t count);

// ---------------------------------------------------------------------------
// Portable compression.  The message schedule lives in a 16-word ring: word t
// (t >= 16) replaces word t - 16 once that one has been used.

#define SHA1_W(t) (w[(t) & 15] = Rotl32(w[((t) + 13) & 15] ^ w[((t) + 8) & 15] ^ w[((t) + 2) & 15] ^ w[(t) & 15], 1))
#define SHA1_STEP(a, b, c, d, e, f, k, x)           \
    e += Rotl32(a, 5) + (f) + (k) + (x);              \
    b = Rotl32(b, 30)
#define SHA1_CH(b, c, d) ((((c) ^ (d)) & (b)) ^ (d))
#define SHA1_PARITY(b, c, d) ((b) ^ (c) ^ (d))
#define SHA1_MAJ(b, c, d) (((b) & (c)) + (((b) ^ (c)) & (d)))

#define SHA1_R0(a, b, c, d, e, t) SHA1_STEP(a, b, c, d, e, SHA1_CH(b, c, d), 0x5a827999u, w[t])
#define SHA1_R1(a, b, c, d, e, t) SHA1_STEP(a, b, c, d, e, SHA1_CH(b, c, d), 0x5a827999u, SHA1_W(t))
#define SHA1_R2(a, b, c, d, e, t) SHA1_STEP(a, b, c, d, e, SHA1_PARITY(b, c, d), 0x6ed9eba1u, SHA1_W(t))
#define SHA1_R3(a, b, c, d, e, t) SHA1_STEP(a, b, c, d, e, SHA1_MAJ(b, c, d), 0x8f1bbcdcu, SHA1_W(t))
#define SHA1_R4(a, b, c, d, e, t) SHA1_STEP(a, b, c, d, e, SHA1_PARITY(b, c, d), 0xca62c1d6u, SHA1_W(t))

// Five steps, after which the roles of the working variables are back where
// they started.
#define SHA1_5(R, t)                 \
    R(a, b, c, d, e, (t));           \
    R(e, a, b, c, d, (t) + 1);       \
    R(d, e, a, b, c, (t) + 2);       \
    R(c, d, e, a, b, (t) + 3);       \
    R(b, c, d, e, a, (t) + 4)

void CompressPortable(uint32_t* state, const uint8_t* p, size_t count)
{
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (; count > 0; --count, p += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = LoadBe32(p + 4 * i);
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e;

        SHA1_5(SHA1_R0, 0);
        SHA1_5(SHA1_R0, 5);
        SHA1_5(SHA1_R0, 10);
        SHA1_R0(a, b, c, d, e, 15);
        SHA1_R1(e, a, b, c, d, 16);
        SHA1_R1(d, e, a, b, c, 17);
        SHA1_R1(c, d, e, a, b, 18);
        SHA1_R1(b, c, d, e, a, 19);
        SHA1_5(SHA1_R2, 20);
        SHA1_5(SHA1_R2, 25);
        SHA1_5(SHA1_R2, 30);
        SHA1_5(SHA1_R2, 35);
        SHA1_5(SHA1_R3, 40);
        SHA1_5(SHA1_R3, 45);
        SHA1_5(SHA1_R3, 50);
        SHA1_5(SHA1_R3, 55);
        SHA1_5(SHA1_R4, 60);
        SHA1_5(SHA1_R4, 65);
        SHA1_5(SHA1_R4, 70);
        SHA1_5(SHA1_R4, 75);

        a += a0;
        b += b0;
        c += c0;
        d += d0;
        e += e0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
    state[4] = e;
}

#undef SHA1_W
#undef SHA1_STEP
#undef SHA1_CH
#undef SHA1_PARITY
#undef SHA1_MAJ
#undef SHA1_R0
#undef SHA1_R1
#undef SHA1_R2
#undef SHA1_R3
#undef SHA1_R4
#undef SHA1_5

#if ZEL_HASH_X86
// ---------------------------------------------------------------------------
// SHA-NI compression.  The four-round instruction SHA1RNDS4 takes A..D in one
// register (A in the top lane) and E already added to the first of four
// message words in another; SHA1NEXTE derives the next E from the old A and
// adds it to the next four words; SHA1MSG1/SHA1MSG2 compute the message
// schedule four words at a time.  The 80 rounds are 20 groups of four.
//
// Only this function and its helpers are compiled for the SHA extensions, so
// the rest of the program runs on any x86 CPU.  32-bit Windows only promises
// a 4-byte aligned stack, and with eight XMM registers the compiler spills
// vectors to aligned stack slots: force_align_arg_pointer realigns the stack
// on entry.

#define ZEL_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// Group g (rounds 4g..4g+3).  msg[g % 4] holds schedule words 4g..4g+3 when
// the group starts; the group also advances the schedule for later groups:
// SHA1MSG1 for words 4(g+3).., the XOR for 4(g+2).., SHA1MSG2 finishing
// 4(g+1)...  e[g % 2] carries this group's E, e[(g + 1) % 2] receives the A..D
// that the next group derives its E from.
template <int G>
ZEL_SHA_TARGET __attribute__((always_inline)) inline void ShaNiGroup(__m128i& abcd, __m128i e[2], __m128i msg[4])
{
    if constexpr (G == 0)
        e[0] = _mm_add_epi32(e[0], msg[0]);
    else
        e[G % 2] = _mm_sha1nexte_epu32(e[G % 2], msg[G % 4]);
    e[(G + 1) % 2] = abcd;
    if constexpr (G >= 3 && G <= 18)
        msg[(G + 1) % 4] = _mm_sha1msg2_epu32(msg[(G + 1) % 4], msg[G % 4]);
    abcd = _mm_sha1rnds4_epu32(abcd, e[G % 2], G / 5);
    if constexpr (G >= 1 && G <= 16)
        msg[(G + 3) % 4] = _mm_sha1msg1_epu32(msg[(G + 3) % 4], msg[G % 4]);
    if constexpr (G >= 2 && G <= 17)
        msg[(G + 2) % 4] = _mm_xor_si128(msg[(G + 2) % 4], msg[G % 4]);
}

template <int... G>
ZEL_SHA_TARGET __attribute__((always_inline)) inline void ShaNiGroups(__m128i& abcd, __m128i e[2], __m128i msg[4])
{
    (ShaNiGroup<G>(abcd, e, msg), ...);
}

ZEL_SHA_TARGET __attribute__((force_align_arg_pointer)) void CompressShaNi(uint32_t* state, const uint8_t* p,
                                                                           size_t count)
{
    // Byte order: the message words are big-endian; the state register holds
    // A in the top lane.
    const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1b);
    __m128i e[2];
    e[0] = _mm_set_epi32(int(state[4]), 0, 0, 0);

    for (; count > 0; --count, p += 64) {
        const __m128i abcdSaved = abcd;
        const __m128i eSaved = e[0];
        __m128i msg[4];
        for (int i = 0; i < 4; ++i)
            msg[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)), byteSwap);

        ShaNiGroups<0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19>(abcd, e, msg);

        // After group 19, e[0] holds the final A..D from which E follows.
        e[0] = _mm_sha1nexte_epu32(e[0], eSaved);
        abcd = _mm_add_epi32(abcd, abcdSaved);
    }

    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1b));
    state[4] = uint32_t(_mm_extract_epi32(e[0], 3));
}

#endif // ZEL_HASH_X86

bool Available(Sha1Engine engine)
{
    switch (engine) {
    case Sha1Engine::kPortable:
        return true;
    case Sha1Engine::kShaExtensions:
        return CpuHasShaExtensions();
    }
    return false;
}

CompressFn FunctionOf(Sha1Engine engine)
{
#if ZEL_HASH_X86
    if (engine == Sha1Engine::kShaExtensions)
        return CompressShaNi;
#endif
    (void)engine;
    return CompressPortable;
}

Sha1Engine BestEngine()
{
    return Available(Sha1Engine::kShaExtensions) ? Sha1Engine::kShaExtensions : Sha1Engine::kPortable;
}

// The selected engine.  Every thread that finds it unset stores the same
// choice, so the race is benign; Sha1SelectEngine overrides it.
std::atomic<int> g_engine{-1};

Sha1Engine ActiveEngine()
{
    int engine = g_engine.load(std::memory_order_relaxed);
    if (engine < 0) {
        engine = int(BestEngine());
        g_engine.store(engine, std::memory_order_relaxed);
    }
    return Sha1Engine(engine);
}

} // namespace

bool Sha1EngineAvailable(Sha1Engine engine)
{
    return Available(engine);
}

Sha1Engine Sha1ActiveEngine()
{
    return ActiveEngine();
}

bool Sha1SelectEngine(Sha1Engine engine)
{
    if (!Available(engine))
        return false;
    g_engine.store(int(engine), std::memory_order_relaxed);
    return true;
}

void XSha1::CompressBlocks(Sha1Engine engine, uint32_t state[5], const uint8_t* blocks, size_t count)
{
    FunctionOf(engine)(state, blocks, count);
}

void XSha1::Reset()
{
    ResetCounters();
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    state_[4] = 0xc3d2e1f0;
}

void XSha1::Compress(const uint8_t* blocks, size_t count)
{
    FunctionOf(ActiveEngine())(state_, blocks, count);
}

void XSha1::FinishInto(uint8_t* out)
{
    Pad(true);
    for (int i = 0; i < 5; ++i)
        StoreBe32(out + 4 * i, state_[i]);
    Reset();
}
