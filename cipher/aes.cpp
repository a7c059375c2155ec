#include "cipher/aes.h"

#include "cipher/aes_modes_x86.h"

#include "core/alarm.h"
#include "core/bytes.h"
#include "core/wipe.h"

#include <atomic>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define ZEL_AES_X86 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

const char kSource[] = "AES";

// ---------------------------------------------------------------------------
// Constant tables, computed by the compiler from the field arithmetic rather
// than typed in.  GF(2^8) uses the polynomial x^8 + x^4 + x^3 + x + 1 (0x11B).
//
// Words hold a column of the state with row r in bits 8r..8r+7.  te[x] is
// the column that MixColumns makes of S-box(x) standing in row 0, that is
// (2, 1, 1, 3) * S(x); for a byte in row r the column is te[x] rotated left
// by 8r bits.  td[x] is the same for InvMixColumns of the inverse S-box:
// (14, 9, 13, 11) * InvS(x).

constexpr uint8_t Xtime(uint8_t x)
{
    return uint8_t((x << 1) ^ ((x & 0x80) ? 0x1b : 0));
}

struct AesTables {
    uint8_t sbox[256];
    uint8_t inverseSbox[256];
    uint32_t te[256];
    uint32_t td[256];
};

constexpr AesTables MakeTables()
{
    // Logarithms and antilogarithms to the generator 3.
    uint8_t alog[255] = {};
    uint8_t log[256] = {};
    uint8_t x = 1;
    for (int i = 0; i < 255; ++i) {
        alog[i] = x;
        log[x] = uint8_t(i);
        x = uint8_t(x ^ Xtime(x));
    }
    auto mul = [&alog, &log](uint8_t a, uint8_t b) -> uint8_t {
        return (a && b) ? alog[(log[a] + log[b]) % 255] : 0;
    };

    AesTables t{};
    for (int v = 0; v < 256; ++v) {
        // Multiplicative inverse (0 for 0), then the affine transformation.
        const uint8_t inv = v ? alog[(255 - log[v]) % 255] : 0;
        uint8_t s = inv;
        for (int k = 1; k <= 4; ++k)
            s = uint8_t(s ^ uint8_t((inv << k) | (inv >> (8 - k))));
        s = uint8_t(s ^ 0x63);
        t.sbox[v] = s;
        t.inverseSbox[s] = uint8_t(v);
    }
    for (int v = 0; v < 256; ++v) {
        const uint8_t s = t.sbox[v];
        t.te[v] = uint32_t(mul(2, s)) | uint32_t(s) << 8 | uint32_t(s) << 16 | uint32_t(mul(3, s)) << 24;
        const uint8_t i = t.inverseSbox[v];
        t.td[v] = uint32_t(mul(14, i)) | uint32_t(mul(9, i)) << 8 | uint32_t(mul(13, i)) << 16 |
                  uint32_t(mul(11, i)) << 24;
    }
    return t;
}

constexpr AesTables kTables = MakeTables();

// Spot checks of the generated tables against the well-known values.
static_assert(kTables.sbox[0x00] == 0x63 && kTables.sbox[0x01] == 0x7c && kTables.sbox[0x53] == 0xed &&
              kTables.sbox[0xff] == 0x16);
static_assert(kTables.inverseSbox[0x63] == 0x00 && kTables.inverseSbox[0x00] == 0x52);
static_assert(kTables.te[0x00] == 0xa56363c6u && kTables.td[0x00] == 0x50a7f451u);

inline uint32_t SubWord(uint32_t w)
{
    const uint8_t* s = kTables.sbox;
    return uint32_t(s[w & 0xff]) | uint32_t(s[(w >> 8) & 0xff]) << 8 | uint32_t(s[(w >> 16) & 0xff]) << 16 |
           uint32_t(s[w >> 24]) << 24;
}

// InvMixColumns of one column: td[] applies InvMixColumns after the inverse
// S-box, so feeding it S-box values cancels the substitution.
inline uint32_t InvMixColumn(uint32_t w)
{
    const uint8_t* s = kTables.sbox;
    const uint32_t* td = kTables.td;
    return td[s[w & 0xff]] ^ Rotl32(td[s[(w >> 8) & 0xff]], 8) ^ Rotl32(td[s[(w >> 16) & 0xff]], 16) ^
           Rotl32(td[s[w >> 24]], 24);
}

uint32_t KeyLengthForRounds(uint32_t rounds)
{
    return rounds == 10 ? 16 : rounds == 12 ? 24 : 32;
}

// FIPS-197 key expansion into `enc`, and the round keys of the equivalent
// inverse cipher into `dec`: the last encryption round key first, the first
// one last, InvMixColumns applied to all those in between.
void ExpandKey(const uint8_t* key, uint32_t rounds, uint32_t* enc, uint32_t* dec)
{
    const uint32_t nk = KeyLengthForRounds(rounds) / 4;
    const uint32_t total = 4 * (rounds + 1);
    for (uint32_t i = 0; i < nk; ++i)
        enc[i] = LoadLe32(key + 4 * i);
    uint8_t rcon = 1;
    for (uint32_t i = nk; i < total; ++i) {
        uint32_t t = enc[i - 1];
        if (i % nk == 0) {
            // RotWord moves byte 1 to byte 0: a right rotation of the word.
            t = SubWord(Rotl32(t, 24)) ^ rcon;
            rcon = Xtime(rcon);
        } else if (nk > 6 && i % nk == 4) {
            t = SubWord(t);
        }
        enc[i] = enc[i - nk] ^ t;
    }

    for (uint32_t r = 0; r <= rounds; ++r) {
        const uint32_t* from = enc + 4 * (rounds - r);
        for (uint32_t c = 0; c < 4; ++c)
            dec[4 * r + c] = (r == 0 || r == rounds) ? from[c] : InvMixColumn(from[c]);
    }
}

// ---------------------------------------------------------------------------
// Portable block functions.  Each output column of a middle round combines
// one byte of each input column (ShiftRows: row r of output column c comes
// from input column c + r, or c - r when deciphering) through the table.

#define ZEL_AES_TE(a, b, c, d)                                                                         \
    (te[(a) & 0xff] ^ Rotl32(te[((b) >> 8) & 0xff], 8) ^ Rotl32(te[((c) >> 16) & 0xff], 16) ^             \
     Rotl32(te[(d) >> 24], 24))
#define ZEL_AES_TD(a, b, c, d)                                                                         \
    (td[(a) & 0xff] ^ Rotl32(td[((b) >> 8) & 0xff], 8) ^ Rotl32(td[((c) >> 16) & 0xff], 16) ^             \
     Rotl32(td[(d) >> 24], 24))
#define ZEL_AES_LAST(box, a, b, c, d)                                                                  \
    (uint32_t(box[(a) & 0xff]) | uint32_t(box[((b) >> 8) & 0xff]) << 8 |                               \
     uint32_t(box[((c) >> 16) & 0xff]) << 16 | uint32_t(box[(d) >> 24]) << 24)

void EncryptPortable(const uint32_t* rk, uint32_t rounds, const uint8_t* in, uint8_t* out)
{
    const uint32_t* te = kTables.te;
    uint32_t s0 = LoadLe32(in) ^ rk[0];
    uint32_t s1 = LoadLe32(in + 4) ^ rk[1];
    uint32_t s2 = LoadLe32(in + 8) ^ rk[2];
    uint32_t s3 = LoadLe32(in + 12) ^ rk[3];
    for (uint32_t r = 1; r < rounds; ++r) {
        rk += 4;
        const uint32_t t0 = ZEL_AES_TE(s0, s1, s2, s3) ^ rk[0];
        const uint32_t t1 = ZEL_AES_TE(s1, s2, s3, s0) ^ rk[1];
        const uint32_t t2 = ZEL_AES_TE(s2, s3, s0, s1) ^ rk[2];
        const uint32_t t3 = ZEL_AES_TE(s3, s0, s1, s2) ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    const uint8_t* box = kTables.sbox;
    StoreLe32(out, ZEL_AES_LAST(box, s0, s1, s2, s3) ^ rk[0]);
    StoreLe32(out + 4, ZEL_AES_LAST(box, s1, s2, s3, s0) ^ rk[1]);
    StoreLe32(out + 8, ZEL_AES_LAST(box, s2, s3, s0, s1) ^ rk[2]);
    StoreLe32(out + 12, ZEL_AES_LAST(box, s3, s0, s1, s2) ^ rk[3]);
}

void DecryptPortable(const uint32_t* rk, uint32_t rounds, const uint8_t* in, uint8_t* out)
{
    const uint32_t* td = kTables.td;
    uint32_t s0 = LoadLe32(in) ^ rk[0];
    uint32_t s1 = LoadLe32(in + 4) ^ rk[1];
    uint32_t s2 = LoadLe32(in + 8) ^ rk[2];
    uint32_t s3 = LoadLe32(in + 12) ^ rk[3];
    for (uint32_t r = 1; r < rounds; ++r) {
        rk += 4;
        const uint32_t t0 = ZEL_AES_TD(s0, s3, s2, s1) ^ rk[0];
        const uint32_t t1 = ZEL_AES_TD(s1, s0, s3, s2) ^ rk[1];
        const uint32_t t2 = ZEL_AES_TD(s2, s1, s0, s3) ^ rk[2];
        const uint32_t t3 = ZEL_AES_TD(s3, s2, s1, s0) ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    const uint8_t* box = kTables.inverseSbox;
    StoreLe32(out, ZEL_AES_LAST(box, s0, s3, s2, s1) ^ rk[0]);
    StoreLe32(out + 4, ZEL_AES_LAST(box, s1, s0, s3, s2) ^ rk[1]);
    StoreLe32(out + 8, ZEL_AES_LAST(box, s2, s1, s0, s3) ^ rk[2]);
    StoreLe32(out + 12, ZEL_AES_LAST(box, s3, s2, s1, s0) ^ rk[3]);
}

#undef ZEL_AES_TE
#undef ZEL_AES_TD
#undef ZEL_AES_LAST

void EncryptBlocksPortable(const uint32_t* rk, uint32_t rounds, const uint8_t* in, uint8_t* out, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        EncryptPortable(rk, rounds, in + 16 * i, out + 16 * i);
}

void DecryptBlocksPortable(const uint32_t* rk, uint32_t rounds, const uint8_t* in, uint8_t* out, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        DecryptPortable(rk, rounds, in + 16 * i, out + 16 * i);
}

void EncryptChainedPortable(const uint32_t* rk, uint32_t rounds, const uint8_t* in, uint8_t* out, size_t count,
                            uint8_t* chain)
{
    uint8_t work[16];
    for (size_t i = 0; i < count; ++i, in += 16, out += 16) {
        for (int j = 0; j < 16; ++j)
            work[j] = uint8_t(chain[j] ^ in[j]);
        EncryptPortable(rk, rounds, work, chain);
        std::memcpy(out, chain, 16);
    }
}

#if ZEL_AES_X86
// ---------------------------------------------------------------------------
// AES-NI.  AESENC/AESENCLAST do one cipher round, AESDEC/AESDECLAST one round
// of the equivalent inverse cipher, whose round keys dec_ already holds in
// order; the schedules are the portable ones, read as byte strings.
//
// Only these functions are compiled for the AES instructions, so the rest of
// the program runs on any x86 CPU.  32-bit Windows only promises a 4-byte
// aligned stack while the compiler spills vectors to 16-byte aligned slots:
// every entry point realigns the stack (force_align_arg_pointer), and the
// helpers are always inlined into an entry point, so that no vector crosses
// a call.
//
// Electronic codebook runs eight independent blocks through each round, to
// keep the pipelined AES unit busy; chaining is one block after another by
// nature.  The round count is a template parameter so that the round loops
// unroll and the round keys stay in registers where there are enough.

#define ZEL_AESNI_TARGET __attribute__((target("aes,sse2,ssse3,sse4.1")))
#define ZEL_AESNI_INLINE ZEL_AESNI_TARGET __attribute__((always_inline)) inline
#define ZEL_AESNI_ENTRY ZEL_AESNI_TARGET __attribute__((force_align_arg_pointer, noinline))

constexpr size_t kLanes = 8;

template <uint32_t Rounds>
ZEL_AESNI_INLINE void LoadRoundKeys(const uint32_t* schedule, __m128i* k)
{
#pragma GCC unroll 15
    for (uint32_t r = 0; r <= Rounds; ++r)
        k[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(schedule + 4 * r));
}

ZEL_AESNI_INLINE __m128i Load(const uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

ZEL_AESNI_INLINE void Store(uint8_t* p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// N blocks at in (all read before any is written, so in may equal out).
template <uint32_t Rounds, size_t N, bool Decrypt>
ZEL_AESNI_INLINE void CipherLanes(const __m128i* k, const uint8_t* in, uint8_t* out)
{
    __m128i b[N];
#pragma GCC unroll 8
    for (size_t i = 0; i < N; ++i)
        b[i] = _mm_xor_si128(Load(in + 16 * i), k[0]);
#pragma GCC unroll 13
    for (uint32_t r = 1; r < Rounds; ++r) {
#pragma GCC unroll 8
        for (size_t i = 0; i < N; ++i)
            b[i] = Decrypt ? _mm_aesdec_si128(b[i], k[r]) : _mm_aesenc_si128(b[i], k[r]);
    }
#pragma GCC unroll 8
    for (size_t i = 0; i < N; ++i)
        Store(out + 16 * i,
              Decrypt ? _mm_aesdeclast_si128(b[i], k[Rounds]) : _mm_aesenclast_si128(b[i], k[Rounds]));
}

template <uint32_t Rounds, bool Decrypt>
ZEL_AESNI_INLINE void Codebook(const uint32_t* schedule, const uint8_t* in, uint8_t* out, size_t count)
{
    __m128i k[Rounds + 1];
    LoadRoundKeys<Rounds>(schedule, k);
    for (; count >= kLanes; count -= kLanes, in += 16 * kLanes, out += 16 * kLanes)
        CipherLanes<Rounds, kLanes, Decrypt>(k, in, out);
    if (count >= 4) {
        CipherLanes<Rounds, 4, Decrypt>(k, in, out);
        count -= 4;
        in += 64;
        out += 64;
    }
    for (; count > 0; --count, in += 16, out += 16)
        CipherLanes<Rounds, 1, Decrypt>(k, in, out);
}

template <uint32_t Rounds>
ZEL_AESNI_INLINE void Chained(const uint32_t* schedule, const uint8_t* in, uint8_t* out, size_t count,
                              uint8_t* chain)
{
    if (count == 0)
        return;
    __m128i k[Rounds + 1];
    LoadRoundKeys<Rounds>(schedule, k);
    __m128i c = Load(chain);
    __m128i s = _mm_xor_si128(c, _mm_xor_si128(Load(in), k[0]));
    for (;;) {
#pragma GCC unroll 13
        for (uint32_t r = 1; r < Rounds; ++r)
            s = _mm_aesenc_si128(s, k[r]);
        c = _mm_aesenclast_si128(s, k[Rounds]);
        Store(out, c);
        if (--count == 0)
            break;
        in += 16;
        out += 16;
        // The next block enters round 1 as c XOR plaintext XOR the first
        // round key: all three XORs go into the last round key of this
        // block, so that no XOR sits on the chain between one block's last
        // round and the next block's first.
        s = _mm_aesenclast_si128(s, _mm_xor_si128(k[Rounds], _mm_xor_si128(Load(in), k[0])));
    }
    Store(chain, c);
}

ZEL_AESNI_ENTRY void EncryptBlocksAesNi(const uint32_t* rk, uint32_t rounds, const uint8_t* in, uint8_t* out,
                                        size_t count)
{
    if (rounds == 10)
        Codebook<10, false>(rk, in, out, count);
    else if (rounds == 12)
        Codebook<12, false>(rk, in, out, count);
    else
        Codebook<14, false>(rk, in, out, count);
}

ZEL_AESNI_ENTRY void DecryptBlocksAesNi(const uint32_t* rk, uint32_t rounds, const uint8_t* in, uint8_t* out,
                                        size_t count)
{
    if (rounds == 10)
        Codebook<10, true>(rk, in, out, count);
    else if (rounds == 12)
        Codebook<12, true>(rk, in, out, count);
    else
        Codebook<14, true>(rk, in, out, count);
}

ZEL_AESNI_ENTRY void EncryptChainedAesNi(const uint32_t* rk, uint32_t rounds, const uint8_t* in, uint8_t* out,
                                         size_t count, uint8_t* chain)
{
    if (rounds == 10)
        Chained<10>(rk, in, out, count, chain);
    else if (rounds == 12)
        Chained<12>(rk, in, out, count, chain);
    else
        Chained<14>(rk, in, out, count, chain);
}

// The key expansion of ExpandKey with SubWord done by AESKEYGENASSIST
// (whose words are SubWord of the second and fourth words, alone and with
// RotWord and the round constant) and InvMixColumns by AESIMC:
// no table is indexed by key bytes, and a key is ready in a few hundred
// cycles, which matters to the modes that take a fresh key per message.
ZEL_AESNI_INLINE uint32_t SubWordAesNi(uint32_t w)
{
    return uint32_t(_mm_cvtsi128_si32(_mm_aeskeygenassist_si128(_mm_set_epi32(0, 0, int(w), 0), 0)));
}

// One step of the 128-bit schedule (and the even steps of the 256-bit one):
// the four words of `k` each XORed with all words before them, then with
// the word `assist` prepared by AESKEYGENASSIST, picked by Pick.
template <int Pick>
ZEL_AESNI_INLINE __m128i KeyStep(__m128i k, __m128i assist)
{
    k = _mm_xor_si128(k, _mm_slli_si128(k, 4));
    k = _mm_xor_si128(k, _mm_slli_si128(k, 4));
    k = _mm_xor_si128(k, _mm_slli_si128(k, 4));
    return _mm_xor_si128(k, _mm_shuffle_epi32(assist, Pick));
}

// The 128- and 256-bit schedules a round key at a time (the round constant
// of AESKEYGENASSIST is an immediate: the steps are written out).
ZEL_AESNI_INLINE void Expand128(const uint8_t* key, __m128i* rk)
{
    rk[0] = Load(key);
#define ZEL_STEP(i, rcon) rk[i] = KeyStep<0xff>(rk[i - 1], _mm_aeskeygenassist_si128(rk[i - 1], rcon))
    ZEL_STEP(1, 0x01);
    ZEL_STEP(2, 0x02);
    ZEL_STEP(3, 0x04);
    ZEL_STEP(4, 0x08);
    ZEL_STEP(5, 0x10);
    ZEL_STEP(6, 0x20);
    ZEL_STEP(7, 0x40);
    ZEL_STEP(8, 0x80);
    ZEL_STEP(9, 0x1b);
    ZEL_STEP(10, 0x36);
#undef ZEL_STEP
}

ZEL_AESNI_INLINE void Expand256(const uint8_t* key, __m128i* rk)
{
    rk[0] = Load(key);
    rk[1] = Load(key + 16);
    // Even round keys: RotWord, SubWord and the round constant of the last
    // word before them; odd ones: SubWord alone.
#define ZEL_STEP(i, rcon)                                                                          \
    rk[i] = KeyStep<0xff>(rk[i - 2], _mm_aeskeygenassist_si128(rk[i - 1], rcon));                  \
    if (i < 14)                                                                                    \
    rk[i + 1] = KeyStep<0xaa>(rk[i - 1], _mm_aeskeygenassist_si128(rk[i], 0))
    ZEL_STEP(2, 0x01);
    ZEL_STEP(4, 0x02);
    ZEL_STEP(6, 0x04);
    ZEL_STEP(8, 0x08);
    ZEL_STEP(10, 0x10);
    ZEL_STEP(12, 0x20);
    ZEL_STEP(14, 0x40);
#undef ZEL_STEP
}

ZEL_AESNI_ENTRY void ExpandKeyAesNi(const uint8_t* key, uint32_t rounds, uint32_t* enc, uint32_t* dec)
{
    if (rounds != 12) {
        __m128i rk[XAes::kMaxRounds + 1];
        if (rounds == 10)
            Expand128(key, rk);
        else
            Expand256(key, rk);
        for (uint32_t r = 0; r <= rounds; ++r) {
            Store(reinterpret_cast<uint8_t*>(enc + 4 * r), rk[r]);
            Store(reinterpret_cast<uint8_t*>(dec + 4 * (rounds - r)),
                  (r == 0 || r == rounds) ? rk[r] : _mm_aesimc_si128(rk[r]));
        }
        return;
    }
    // 192-bit keys word by word.
    const uint32_t nk = (rounds - 6);
    const uint32_t total = 4 * (rounds + 1);
    for (uint32_t i = 0; i < nk; ++i)
        enc[i] = LoadLe32(key + 4 * i);
    uint8_t rcon = 1;
    for (uint32_t i = nk; i < total; ++i) {
        uint32_t t = enc[i - 1];
        if (i % nk == 0) {
            t = SubWordAesNi(Rotl32(t, 24)) ^ rcon;
            rcon = Xtime(rcon);
        } else if (nk > 6 && i % nk == 4) {
            t = SubWordAesNi(t);
        }
        enc[i] = enc[i - nk] ^ t;
    }
    for (uint32_t r = 0; r <= rounds; ++r) {
        const __m128i k = Load(reinterpret_cast<const uint8_t*>(enc + 4 * (rounds - r)));
        Store(reinterpret_cast<uint8_t*>(dec + 4 * r), (r == 0 || r == rounds) ? k : _mm_aesimc_si128(k));
    }
}

#undef ZEL_AESNI_TARGET
#undef ZEL_AESNI_INLINE
#undef ZEL_AESNI_ENTRY

bool CpuHasAesNi()
{
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    return (edx & bit_SSE2) && (ecx & bit_SSSE3) && (ecx & bit_SSE4_1) && (ecx & bit_AES);
}

// VAES and VPCLMULQDQ (CPUID leaf 7, ECX bits 9 and 10) with AVX2 (EBX bit
// 5), and an operating system that saves the 256-bit registers across
// context switches (OSXSAVE, and XCR0 with the SSE and AVX state bits).
bool CpuHasVaes()
{
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const unsigned kOsXsave = 1u << 27, kAvx = 1u << 28;
    if (!(ecx & kOsXsave) || !(ecx & kAvx))
        return false;
    unsigned xcr0Low, xcr0High;
    __asm__ __volatile__("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
    if ((xcr0Low & 6) != 6)
        return false;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    const unsigned kAvx2 = 1u << 5, kVaes = 1u << 9, kVpclmulqdq = 1u << 10;
    return (ebx & kAvx2) && (ecx & kVaes) && (ecx & kVpclmulqdq);
}
// AVX-512 (foundation and vector-length extensions, CPUID leaf 7 EBX bits
// 16 and 31) beside VAES, and the operating system saving the opmask and
// 512-bit register state (XCR0 bits 5 to 7, with SSE and AVX).
bool CpuHasAvx512()
{
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const unsigned kOsXsave = 1u << 27;
    if (!(ecx & kOsXsave))
        return false;
    unsigned xcr0Low, xcr0High;
    __asm__ __volatile__("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
    if ((xcr0Low & 0xe6) != 0xe6)
        return false;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    const unsigned kAvx512f = 1u << 16, kAvx512vl = 1u << 31;
    return (ebx & kAvx512f) && (ebx & kAvx512vl);
}
#endif // ZEL_AES_X86

// ---------------------------------------------------------------------------
// Engine selection.

bool Available(AesEngine engine)
{
    switch (engine) {
    case AesEngine::kPortable:
        return true;
    case AesEngine::kAesNi:
#if ZEL_AES_X86
    {
        // Function-local static: detected once, thread-safe.
        static const bool present = CpuHasAesNi();
        return present;
    }
#else
        return false;
#endif
    case AesEngine::kVaes:
#if ZEL_AES_X86
    {
        static const bool present = CpuHasAesNi() && CpuHasVaes();
        return present;
    }
#else
        return false;
#endif
    }
    return false;
}

AesEngine BestEngine()
{
    if (Available(AesEngine::kVaes))
        return AesEngine::kVaes;
    return Available(AesEngine::kAesNi) ? AesEngine::kAesNi : AesEngine::kPortable;
}

// The selected engine.  Every thread that finds it unset stores the same
// choice, so the race is benign; AesSelectEngine overrides it.
std::atomic<int> g_engine{-1};

AesEngine ActiveEngine()
{
    int engine = g_engine.load(std::memory_order_relaxed);
    if (engine < 0) {
        engine = int(BestEngine());
        g_engine.store(engine, std::memory_order_relaxed);
    }
    return AesEngine(engine);
}

bool UseAesNi()
{
#if ZEL_AES_X86
    return ActiveEngine() != AesEngine::kPortable;
#else
    return false;
#endif
}

bool Wide512Available()
{
#if ZEL_AES_X86
    static const bool present = Available(AesEngine::kVaes) && CpuHasAvx512();
    return present;
#else
    return false;
#endif
}

// -1: not chosen yet (on where available); 0 off; 1 on.
std::atomic<int> g_wide512{-1};

// Whether CBC and CFB deciphering run on 512-bit vectors: the kVaes engine
// selected, and the 512-bit loops on.
bool UseWide512()
{
    if (ActiveEngine() != AesEngine::kVaes)
        return false;
    int on = g_wide512.load(std::memory_order_relaxed);
    if (on < 0) {
        on = Wide512Available() ? 1 : 0;
        g_wide512.store(on, std::memory_order_relaxed);
    }
    return on != 0;
}

} // namespace

bool AesWide512Available()
{
    return Wide512Available();
}

bool AesWide512Active()
{
    int on = g_wide512.load(std::memory_order_relaxed);
    return on < 0 ? Wide512Available() : on != 0;
}

bool AesSelectWide512(bool on)
{
    if (on && !Wide512Available())
        return false;
    g_wide512.store(on ? 1 : 0, std::memory_order_relaxed);
    return true;
}

bool AesEngineAvailable(AesEngine engine)
{
    return Available(engine);
}

AesEngine AesActiveEngine()
{
    return ActiveEngine();
}

bool AesSelectEngine(AesEngine engine)
{
    if (!Available(engine))
        return false;
    g_engine.store(int(engine), std::memory_order_relaxed);
    return true;
}

// ---------------------------------------------------------------------------
// XAes

XAes::~XAes()
{
    SecureWipe(key_, sizeof key_);
    SecureWipe(enc_, sizeof enc_);
    SecureWipe(dec_, sizeof dec_);
    SecureWipe(&rounds_, sizeof rounds_);
}

void XAes::Schedule()
{
#if ZEL_AES_X86
    if (UseAesNi()) {
        ExpandKeyAesNi(key_, rounds_, enc_, dec_);
        MarkKeyReady();
        return;
    }
#endif
    ExpandKey(key_, rounds_, enc_, dec_);
    MarkKeyReady();
}

void XAes::MakeKey(const XBlob& material, uint32_t length)
{
    const uint32_t rounds = length >= 32 ? 14 : length >= 24 ? 12 : 10;
    const uint32_t keyLength = KeyLengthForRounds(rounds);
    BuildKey(material, keyLength, key_);
    // Bytes left over from a longer previous key are no longer part of any key.
    SecureWipe(key_ + keyLength, kMaxKeySize - keyLength);
    rounds_ = rounds;
    Schedule();
}

void XAes::SetKey(const XBlob& record)
{
    if (record.Length() < 5)
        throw XCryptoAlarm(XMessage::kDataCorrupted, kSource);
    const uint32_t rounds = record.ReadLong(0);
    const uint32_t keyLength = KeyLengthForRounds(rounds);
    if (record.Length() != keyLength + 4)
        throw XCryptoAlarm(XMessage::kDataCorrupted, kSource);
    // Any other round count would be read as a 32-byte key, but is not AES
    // (and 15 or more would not fit the schedules).
    if (rounds != 10 && rounds != 12 && rounds != 14)
        throw XCryptoAlarm(XMessage::kDataCorrupted, kSource);

    record.CopyOut(key_, keyLength, 4);
    SecureWipe(key_ + keyLength, kMaxKeySize - keyLength);
    rounds_ = rounds;
    Schedule();
}

XBlob XAes::GetKey() const
{
    if (!KeyReady())
        throw XCryptoAlarm(XMessage::kInvalidKey, kSource);
    XBlob record;
    record.AppendLong(rounds_);
    record.AppendBytes(key_, KeyLengthForRounds(rounds_));
    return record;
}

void XAes::EncryptBlock(const uint8_t* in, uint8_t* out) const
{
#if ZEL_AES_X86
    if (UseAesNi()) {
        EncryptBlocksAesNi(enc_, rounds_, in, out, 1);
        return;
    }
#endif
    EncryptPortable(enc_, rounds_, in, out);
}

void XAes::DecryptBlock(const uint8_t* in, uint8_t* out) const
{
#if ZEL_AES_X86
    if (UseAesNi()) {
        DecryptBlocksAesNi(dec_, rounds_, in, out, 1);
        return;
    }
#endif
    DecryptPortable(dec_, rounds_, in, out);
}

void XAes::EncryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const
{
#if ZEL_AES_X86
    if (UseAesNi()) {
        EncryptBlocksAesNi(enc_, rounds_, in, out, count);
        return;
    }
#endif
    EncryptBlocksPortable(enc_, rounds_, in, out, count);
}

void XAes::DecryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const
{
#if ZEL_AES_X86
    if (UseAesNi()) {
        DecryptBlocksAesNi(dec_, rounds_, in, out, count);
        return;
    }
#endif
    DecryptBlocksPortable(dec_, rounds_, in, out, count);
}

void XAes::EncryptBlocksChained(const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain) const
{
#if ZEL_AES_X86
    if (UseAesNi()) {
        EncryptChainedAesNi(enc_, rounds_, in, out, count, chain);
        return;
    }
#endif
    EncryptChainedPortable(enc_, rounds_, in, out, count, chain);
}

void XAes::DecryptBlocksChained(const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain) const
{
#if ZEL_AES_MODES_X86
    if (count && UseAesNi()) {
        if (UseWide512())
            aes_modes_x86::CbcDecryptBlocks512(*this, chain, in, out, count);
        else
            aes_modes_x86::CbcDecryptBlocks(ActiveEngine() == AesEngine::kVaes, *this, chain, in, out, count);
        std::memcpy(chain, in + 16 * (count - 1), 16);
        return;
    }
#endif
    XBlockCipher::DecryptBlocksChained(in, out, count, chain);
}

void XAes::CfbEncryptBlocks(const uint8_t* in, uint8_t* out, size_t count, uint8_t* feedback) const
{
#if ZEL_AES_MODES_X86
    if (UseAesNi()) {
        aes_modes_x86::CfbEncryptBlocks(*this, feedback, in, out, count);
        return;
    }
#endif
    XBlockCipher::CfbEncryptBlocks(in, out, count, feedback);
}

void XAes::CfbDecryptBlocks(const uint8_t* in, uint8_t* out, size_t count, uint8_t* feedback) const
{
#if ZEL_AES_MODES_X86
    if (UseAesNi()) {
        if (UseWide512())
            aes_modes_x86::CfbDecryptBlocks512(*this, feedback, in, out, count);
        else
            aes_modes_x86::CfbDecryptBlocks(ActiveEngine() == AesEngine::kVaes, *this, feedback, in, out, count);
        return;
    }
#endif
    XBlockCipher::CfbDecryptBlocks(in, out, count, feedback);
}
