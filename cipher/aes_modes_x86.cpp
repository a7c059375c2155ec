#include "cipher/aes_modes_x86.h"

#if ZEL_AES_MODES_X86
#include "cipher/ghash_x86.h"
#include "core/bytes.h"

// The loops of the AES modes on the AES instructions.  Where the blocks are
// independent they run in groups: eight blocks through each round on
// 128-bit registers, or sixteen (two per register) on 256-bit ones.  GCM
// enciphers and hashes in one pass: the carry-less products of one group are
// issued between the AES rounds of the next (of the same group when
// deciphering, whose ciphertext is known up front), so that the AES and
// multiply units work side by side.  The round keys are XAes's schedules,
// read as byte strings (see aes.cpp); as there, the round count is a
// template parameter so that the round loops unroll, helpers are always
// inlined, and every entry point realigns the stack for 32-bit Windows.

namespace {

// ---------------------------------------------------------------------------
// 128-bit registers.

namespace narrow {

using namespace ghash_x86;


constexpr size_t kLanes = 8;

template <uint32_t Rounds>
ZEL_X86_MODES_INLINE void LoadRoundKeys(const uint32_t* schedule, __m128i* k)
{
#pragma GCC unroll 15
    for (uint32_t r = 0; r <= Rounds; ++r)
        k[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(schedule + 4 * r));
}

ZEL_X86_MODES_INLINE __m128i Load(const uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

ZEL_X86_MODES_INLINE void Store(uint8_t* p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// Counter blocks.  GCM's counter is kept byte-reversed (the block as a
// little-endian number), so that its last 32 bits are the low lane and
// wrap there; CTR's as two 64-bit halves, the carry between them taken by
// hand in the rare group that crosses it.
struct Counter32 {
    __m128i value;

    ZEL_X86_MODES_INLINE explicit Counter32(const uint8_t* block) : value(ByteReverse(Load(block))) {}
    ZEL_X86_MODES_INLINE void Save(uint8_t* block) const { Store(block, ByteReverse(value)); }

    template <size_t N>
    ZEL_X86_MODES_INLINE void Next(__m128i* b)
    {
#pragma GCC unroll 8
        for (size_t i = 0; i < N; ++i)
            b[i] = ByteReverse(_mm_add_epi32(value, _mm_set_epi32(0, 0, 0, int(i))));
        value = _mm_add_epi32(value, _mm_set_epi32(0, 0, 0, int(N)));
    }
};

struct Counter128 {
    uint64_t high, low;

    ZEL_X86_MODES_INLINE explicit Counter128(const uint8_t* block) : high(LoadBe64(block)), low(LoadBe64(block + 8))
    {
    }
    ZEL_X86_MODES_INLINE void Save(uint8_t* block) const
    {
        StoreBe64(block, high);
        StoreBe64(block + 8, low);
    }

    template <size_t N>
    ZEL_X86_MODES_INLINE void Next(__m128i* b)
    {
        if (low <= UINT64_MAX - (N - 1)) {
            const __m128i base = _mm_set_epi64x(int64_t(high), int64_t(low));
#pragma GCC unroll 8
            for (size_t i = 0; i < N; ++i)
                b[i] = ByteReverse(_mm_add_epi64(base, _mm_set_epi64x(0, int64_t(i))));
        } else {
            for (size_t i = 0; i < N; ++i) {
                const uint64_t l = low + i;
                b[i] = ByteReverse(_mm_set_epi64x(int64_t(high + (l < low)), int64_t(l)));
            }
        }
        const uint64_t next = low + N;
        high += next < low;
        low = next;
    }
};

// N blocks through the middle rounds, the first round key already added
// and the last round left to the caller (the overload's third argument only
// picks it).
template <uint32_t Rounds, size_t N>
ZEL_X86_MODES_INLINE void EncryptLanes(const __m128i* k, __m128i* b, __m128i)
{
#pragma GCC unroll 13
    for (uint32_t r = 1; r < Rounds; ++r) {
#pragma GCC unroll 8
        for (size_t i = 0; i < N; ++i)
            b[i] = _mm_aesenc_si128(b[i], k[r]);
    }
}

// N blocks through all rounds, the first round key already added.
template <uint32_t Rounds, size_t N>
ZEL_X86_MODES_INLINE void EncryptLanes(const __m128i* k, __m128i* b)
{
#pragma GCC unroll 13
    for (uint32_t r = 1; r < Rounds; ++r) {
#pragma GCC unroll 8
        for (size_t i = 0; i < N; ++i)
            b[i] = _mm_aesenc_si128(b[i], k[r]);
    }
#pragma GCC unroll 8
    for (size_t i = 0; i < N; ++i)
        b[i] = _mm_aesenclast_si128(b[i], k[Rounds]);
}

// N counter blocks enciphered and XORed into N whole blocks of data.
template <uint32_t Rounds, size_t N, typename Counter>
ZEL_X86_MODES_INLINE void CtrLanes(const __m128i* k, Counter& counter, const uint8_t* in, uint8_t* out)
{
    __m128i b[N];
    counter.template Next<N>(b);
#pragma GCC unroll 8
    for (size_t i = 0; i < N; ++i)
        b[i] = _mm_xor_si128(b[i], k[0]);
    EncryptLanes<Rounds, N>(k, b);
#pragma GCC unroll 8
    for (size_t i = 0; i < N; ++i)
        Store(out + 16 * i, _mm_xor_si128(b[i], Load(in + 16 * i)));
}

// Counter mode over whole blocks; the counter block is read and written back.
template <uint32_t Rounds, typename Counter>
ZEL_X86_MODES_INLINE void Ctr(const uint32_t* schedule, uint8_t* counterBlock, const uint8_t* in, uint8_t* out,
                              size_t blocks)
{
    __m128i k[Rounds + 1];
    LoadRoundKeys<Rounds>(schedule, k);
    Counter counter(counterBlock);
    for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes)
        CtrLanes<Rounds, kLanes>(k, counter, in, out);
    for (; blocks > 0; --blocks, in += 16, out += 16)
        CtrLanes<Rounds, 1>(k, counter, in, out);
    counter.Save(counterBlock);
}

// GCM over whole blocks: counter mode from the counter block, and the
// ciphertext hashed into y.  Enciphering hashes each group of ciphertext
// while the next group is enciphered; deciphering hashes each group of
// ciphertext while it is deciphered.
template <uint32_t Rounds, bool Encrypt>
ZEL_X86_MODES_INLINE void Gcm(const uint32_t* schedule, const XGhashKey& key, uint8_t* counterBlock,
                              const uint8_t* in, uint8_t* out, size_t blocks, uint8_t* y)
{
    static_assert(Rounds - 1 >= kLanes, "a product goes between each pair of rounds");
    __m128i k[Rounds + 1];
    LoadRoundKeys<Rounds>(schedule, k);
    Powers<kLanes> p;
    LoadPowers(key, p);
    Counter32 counter(counterBlock);
    __m128i acc = LoadElement(y);
    __m128i x[kLanes]; // the group to hash, register form
    bool pending = false;

    for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
        __m128i b[kLanes];
        counter.Next<kLanes>(b);
#pragma GCC unroll 8
        for (size_t i = 0; i < kLanes; ++i)
            b[i] = _mm_xor_si128(b[i], k[0]);
        if (!Encrypt) {
#pragma GCC unroll 8
            for (size_t i = 0; i < kLanes; ++i)
                x[i] = LoadElement(in + 16 * i);
        }
        if (Encrypt && !pending) {
            // Nothing to hash yet: the first group on its own.
            EncryptLanes<Rounds, kLanes>(k, b);
        } else {
            Sum s = Product(_mm_xor_si128(acc, x[0]), p.h[kLanes - 1], p.folded[kLanes - 1]);
#pragma GCC unroll 13
            for (uint32_t r = 1; r < Rounds; ++r) {
#pragma GCC unroll 8
                for (size_t i = 0; i < kLanes; ++i)
                    b[i] = _mm_aesenc_si128(b[i], k[r]);
                if (r < kLanes)
                    AddProduct(s, x[r], p.h[kLanes - 1 - r], p.folded[kLanes - 1 - r]);
            }
#pragma GCC unroll 8
            for (size_t i = 0; i < kLanes; ++i)
                b[i] = _mm_aesenclast_si128(b[i], k[Rounds]);
            acc = Reduce(s);
        }
#pragma GCC unroll 8
        for (size_t i = 0; i < kLanes; ++i) {
            const __m128i c = _mm_xor_si128(b[i], Load(in + 16 * i));
            Store(out + 16 * i, c);
            if (Encrypt)
                x[i] = ByteReverse(c);
        }
        pending = Encrypt;
    }
    if (pending)
        acc = Absorb<kLanes>(acc, x, p);
    // The last few whole blocks one at a time.
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        if (!Encrypt)
            x[0] = LoadElement(in);
        CtrLanes<Rounds, 1>(k, counter, in, out);
        if (Encrypt)
            x[0] = LoadElement(out);
        acc = Absorb<1>(acc, x, p);
    }
    StoreElement(y, acc);
    counter.Save(counterBlock);
}

// CBC deciphering: eight blocks through the rounds at once, each XORed with
// the ciphertext block before it (folded into the last round key).
template <uint32_t Rounds>
ZEL_X86_MODES_INLINE void CbcDecrypt(const uint32_t* schedule, const uint8_t* iv, const uint8_t* in, uint8_t* out,
                                     size_t blocks)
{
    __m128i k[Rounds + 1];
    LoadRoundKeys<Rounds>(schedule, k);
    __m128i previous = Load(iv);
    for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
        // The ciphertext blocks are read again for the last round rather
        // than held: eight blocks and the round keys already fill the
        // sixteen registers of x86-64.
        __m128i b[kLanes];
#pragma GCC unroll 8
        for (size_t i = 0; i < kLanes; ++i)
            b[i] = _mm_xor_si128(Load(in + 16 * i), k[0]);
#pragma GCC unroll 13
        for (uint32_t r = 1; r < Rounds; ++r) {
#pragma GCC unroll 8
            for (size_t i = 0; i < kLanes; ++i)
                b[i] = _mm_aesdec_si128(b[i], k[r]);
        }
#pragma GCC unroll 8
        for (size_t i = 0; i < kLanes; ++i)
            b[i] = _mm_aesdeclast_si128(b[i], _mm_xor_si128(k[Rounds], i ? Load(in + 16 * (i - 1)) : previous));
        previous = Load(in + 16 * (kLanes - 1));
#pragma GCC unroll 8
        for (size_t i = 0; i < kLanes; ++i)
            Store(out + 16 * i, b[i]);
    }
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        const __m128i c = Load(in);
        __m128i b = _mm_xor_si128(c, k[0]);
#pragma GCC unroll 13
        for (uint32_t r = 1; r < Rounds; ++r)
            b = _mm_aesdec_si128(b, k[r]);
        Store(out, _mm_aesdeclast_si128(b, _mm_xor_si128(k[Rounds], previous)));
        previous = c;
    }
}

// CFB deciphering: block i is c_i XOR E(c_(i-1)), the feedback block
// standing in for c_(-1); the XOR goes into the last round key.  Every
// ciphertext block of a group is read before any output block is written,
// so that in may equal out; `previous` carries the last one.
template <uint32_t Rounds, size_t N>
ZEL_X86_MODES_INLINE void CfbDecryptLanes(const __m128i* k, __m128i& previous, const uint8_t* in, uint8_t* out)
{
    __m128i b[N];
    b[0] = _mm_xor_si128(previous, k[0]);
#pragma GCC unroll 8
    for (size_t i = 1; i < N; ++i)
        b[i] = _mm_xor_si128(Load(in + 16 * (i - 1)), k[0]);
    EncryptLanes<Rounds, N>(k, b, k[Rounds]);
    // EncryptLanes leaves the last round undone (see below): here it takes
    // the ciphertext XOR the last round key.
#pragma GCC unroll 8
    for (size_t i = 0; i < N; ++i)
        b[i] = _mm_aesenclast_si128(b[i], _mm_xor_si128(k[Rounds], Load(in + 16 * i)));
    previous = Load(in + 16 * (N - 1));
#pragma GCC unroll 8
    for (size_t i = 0; i < N; ++i)
        Store(out + 16 * i, b[i]);
}

template <uint32_t Rounds>
ZEL_X86_MODES_INLINE void CfbDecrypt(const uint32_t* schedule, uint8_t* feedback, const uint8_t* in, uint8_t* out,
                                     size_t blocks)
{
    __m128i k[Rounds + 1];
    LoadRoundKeys<Rounds>(schedule, k);
    __m128i previous = Load(feedback);
    for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes)
        CfbDecryptLanes<Rounds, kLanes>(k, previous, in, out);
    if (blocks >= 4) {
        CfbDecryptLanes<Rounds, 4>(k, previous, in, out);
        blocks -= 4;
        in += 64;
        out += 64;
    }
    for (; blocks > 0; --blocks, in += 16, out += 16)
        CfbDecryptLanes<Rounds, 1>(k, previous, in, out);
    Store(feedback, previous);
}

// CFB enciphering, one block after another: c_i = p_i XOR E(c_(i-1)).  The
// next block enters round 1 as c_i XOR the first round key, which is the
// last round of this block under (last round key XOR p_i XOR first round
// key): the three XORs are worked out beside the rounds, and the chain from
// one block to the next is the AESENC chain alone.
template <uint32_t Rounds>
ZEL_X86_MODES_INLINE void CfbEncrypt(const uint32_t* schedule, uint8_t* feedback, const uint8_t* in, uint8_t* out,
                                     size_t blocks)
{
    if (blocks == 0)
        return;
    __m128i k[Rounds + 1];
    LoadRoundKeys<Rounds>(schedule, k);
    const __m128i lastAndFirst = _mm_xor_si128(k[Rounds], k[0]);
    __m128i s = _mm_xor_si128(Load(feedback), k[0]);
    __m128i c;
    for (;;) {
        const __m128i p = Load(in);
#pragma GCC unroll 13
        for (uint32_t r = 1; r < Rounds; ++r)
            s = _mm_aesenc_si128(s, k[r]);
        c = _mm_aesenclast_si128(s, _mm_xor_si128(k[Rounds], p));
        Store(out, c);
        if (--blocks == 0)
            break;
        s = _mm_aesenclast_si128(s, _mm_xor_si128(lastAndFirst, p));
        in += 16;
        out += 16;
    }
    Store(feedback, c);
}

} // namespace narrow

// ---------------------------------------------------------------------------
// 256-bit registers: VAES and VPCLMULQDQ with AVX2.  Each register holds two
// blocks, one per 128-bit lane; the last blocks of a message that do not fill
// a group go to the 128-bit loops above (inlined here, the instruction sets
// being a subset).

#define ZEL_VAES_TARGET __attribute__((target("vaes,vpclmulqdq,avx2,avx,aes,pclmul,sse2,ssse3,sse4.1")))
#define ZEL_VAES_INLINE ZEL_VAES_TARGET __attribute__((always_inline)) inline
#define ZEL_VAES_ENTRY ZEL_VAES_TARGET __attribute__((force_align_arg_pointer, noinline))

namespace wide {

constexpr size_t kPairs = 8; // sixteen blocks a group

template <uint32_t Rounds>
ZEL_VAES_INLINE void LoadRoundKeys(const uint32_t* schedule, __m256i* k)
{
#pragma GCC unroll 15
    for (uint32_t r = 0; r <= Rounds; ++r)
        k[r] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(schedule + 4 * r)));
}

ZEL_VAES_INLINE __m256i Load2(const uint8_t* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

ZEL_VAES_INLINE void Store2(uint8_t* p, __m256i v)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// Each block's bytes reversed within its lane.
ZEL_VAES_INLINE __m256i ByteReverse2(__m256i v)
{
    const __m256i order = _mm256_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6,
                                          7, 8, 9, 10, 11, 12, 13, 14, 15);
    return _mm256_shuffle_epi8(v, order);
}

// The counters of one group, as pairs of blocks, and the counter advanced
// past them; the same two kinds as the 128-bit loops have.
ZEL_VAES_INLINE void NextPairs(narrow::Counter32& counter, __m256i* b)
{
    const __m256i base =
        _mm256_add_epi32(_mm256_broadcastsi128_si256(counter.value), _mm256_set_epi32(0, 0, 0, 1, 0, 0, 0, 0));
#pragma GCC unroll 8
    for (size_t j = 0; j < kPairs; ++j)
        b[j] = ByteReverse2(_mm256_add_epi32(base, _mm256_set_epi32(0, 0, 0, int(2 * j), 0, 0, 0, int(2 * j))));
    counter.value = _mm_add_epi32(counter.value, _mm_set_epi32(0, 0, 0, int(2 * kPairs)));
}

ZEL_VAES_INLINE void NextPairs(narrow::Counter128& counter, __m256i* b)
{
    const uint64_t high = counter.high, low = counter.low;
    if (low <= UINT64_MAX - (2 * kPairs - 1)) {
        const __m256i base = _mm256_set_epi64x(int64_t(high), int64_t(low + 1), int64_t(high), int64_t(low));
#pragma GCC unroll 8
        for (size_t j = 0; j < kPairs; ++j)
            b[j] = ByteReverse2(_mm256_add_epi64(base, _mm256_set_epi64x(0, int64_t(2 * j), 0, int64_t(2 * j))));
    } else {
        for (size_t j = 0; j < kPairs; ++j) {
            const uint64_t l0 = low + 2 * j, l1 = low + 2 * j + 1;
            b[j] = ByteReverse2(_mm256_set_epi64x(int64_t(high + (l1 < low)), int64_t(l1), int64_t(high + (l0 < low)),
                                                  int64_t(l0)));
        }
    }
    const uint64_t next = low + 2 * kPairs;
    counter.high += next < low;
    counter.low = next;
}

template <uint32_t Rounds, typename Counter>
ZEL_VAES_INLINE void Ctr(const uint32_t* schedule, uint8_t* counterBlock, const uint8_t* in, uint8_t* out,
                         size_t blocks)
{
    __m256i k[Rounds + 1];
    LoadRoundKeys<Rounds>(schedule, k);
    Counter counter(counterBlock);
    for (; blocks >= 2 * kPairs; blocks -= 2 * kPairs, in += 32 * kPairs, out += 32 * kPairs) {
        __m256i b[kPairs];
        NextPairs(counter, b);
#pragma GCC unroll 8
        for (size_t j = 0; j < kPairs; ++j)
            b[j] = _mm256_xor_si256(b[j], k[0]);
#pragma GCC unroll 13
        for (uint32_t r = 1; r < Rounds; ++r) {
#pragma GCC unroll 8
            for (size_t j = 0; j < kPairs; ++j)
                b[j] = _mm256_aesenc_epi128(b[j], k[r]);
        }
#pragma GCC unroll 8
        for (size_t j = 0; j < kPairs; ++j)
            Store2(out + 32 * j, _mm256_xor_si256(_mm256_aesenclast_epi128(b[j], k[Rounds]), Load2(in + 32 * j)));
    }
    counter.Save(counterBlock);
    narrow::Ctr<Rounds, Counter>(schedule, counterBlock, in, out, blocks);
}

// GHASH over pairs: sixteen blocks (eight pairs) absorbed with one
// reduction, pair j multiplied by H^(16-2j) in its low lane and H^(15-2j) in
// its high one.
struct PairPowers {
    __m256i h[kPairs];
    __m256i folded[kPairs];
};

ZEL_VAES_INLINE void LoadPairPowers(const XGhashKey& key, PairPowers& p)
{
    static_assert(XGhashKey::kPowers >= 2 * kPairs, "a group needs sixteen powers");
#pragma GCC unroll 8
    for (size_t j = 0; j < kPairs; ++j) {
        const size_t first = 2 * kPairs - 1 - 2 * j; // index of H^(16-2j)
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&key.Powers()[first]));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&key.Powers()[first - 1]));
        p.h[j] = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
        const __m128i lowFolded = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&key.Folded()[first]));
        const __m128i highFolded = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&key.Folded()[first - 1]));
        p.folded[j] = _mm256_inserti128_si256(_mm256_castsi128_si256(lowFolded), highFolded, 1);
    }
}

struct PairSum {
    __m256i lo, mid, hi;
};

ZEL_VAES_INLINE void AddPairProduct(PairSum& s, __m256i x, __m256i h, __m256i hFolded)
{
    const __m256i xFolded = _mm256_xor_si256(x, _mm256_shuffle_epi32(x, 0x4e));
    s.lo = _mm256_xor_si256(s.lo, _mm256_clmulepi64_epi128(x, h, 0x00));
    s.mid = _mm256_xor_si256(s.mid, _mm256_clmulepi64_epi128(xFolded, hFolded, 0x00));
    s.hi = _mm256_xor_si256(s.hi, _mm256_clmulepi64_epi128(x, h, 0x11));
}

// v in the low lane, zero in the high one.
ZEL_VAES_INLINE __m256i LowLane(__m128i v)
{
    return _mm256_inserti128_si256(_mm256_setzero_si256(), v, 0);
}

ZEL_VAES_INLINE __m128i FoldLanes(__m256i v)
{
    return _mm_xor_si128(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

// The sum of the two lanes' products, reduced.
ZEL_VAES_INLINE __m128i ReducePairs(const PairSum& s)
{
    return narrow::Reduce({FoldLanes(s.lo), FoldLanes(s.mid), FoldLanes(s.hi)});
}

// GCM over whole blocks, sixteen at a time, as narrow::Gcm does eight.
template <uint32_t Rounds, bool Encrypt>
ZEL_VAES_INLINE void Gcm(const uint32_t* schedule, const XGhashKey& key, uint8_t* counterBlock, const uint8_t* in,
                         uint8_t* out, size_t blocks, uint8_t* y)
{
    static_assert(Rounds - 1 >= kPairs, "a product goes between each pair of rounds");
    __m256i k[Rounds + 1];
    LoadRoundKeys<Rounds>(schedule, k);
    PairPowers p;
    LoadPairPowers(key, p);
    narrow::Counter32 counter(counterBlock);
    __m128i acc = narrow::LoadElement(y);
    __m256i x[kPairs]; // the group to hash, register form
    bool pending = false;

    for (; blocks >= 2 * kPairs; blocks -= 2 * kPairs, in += 32 * kPairs, out += 32 * kPairs) {
        __m256i b[kPairs];
        NextPairs(counter, b);
#pragma GCC unroll 8
        for (size_t j = 0; j < kPairs; ++j)
            b[j] = _mm256_xor_si256(b[j], k[0]);
        if (!Encrypt) {
#pragma GCC unroll 8
            for (size_t j = 0; j < kPairs; ++j)
                x[j] = ByteReverse2(Load2(in + 32 * j));
        }
        if (Encrypt && !pending) {
#pragma GCC unroll 13
            for (uint32_t r = 1; r < Rounds; ++r) {
#pragma GCC unroll 8
                for (size_t j = 0; j < kPairs; ++j)
                    b[j] = _mm256_aesenc_epi128(b[j], k[r]);
            }
        } else {
            // The running hash joins the first block of the group.
            x[0] = _mm256_xor_si256(x[0], LowLane(acc));
            PairSum s = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()};
#pragma GCC unroll 13
            for (uint32_t r = 1; r < Rounds; ++r) {
#pragma GCC unroll 8
                for (size_t j = 0; j < kPairs; ++j)
                    b[j] = _mm256_aesenc_epi128(b[j], k[r]);
                if (r <= kPairs)
                    AddPairProduct(s, x[r - 1], p.h[r - 1], p.folded[r - 1]);
            }
            acc = ReducePairs(s);
        }
#pragma GCC unroll 8
        for (size_t j = 0; j < kPairs; ++j) {
            const __m256i c = _mm256_xor_si256(_mm256_aesenclast_epi128(b[j], k[Rounds]), Load2(in + 32 * j));
            Store2(out + 32 * j, c);
            if (Encrypt)
                x[j] = ByteReverse2(c);
        }
        pending = Encrypt;
    }
    if (pending) {
        x[0] = _mm256_xor_si256(x[0], LowLane(acc));
        PairSum s = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()};
#pragma GCC unroll 8
        for (size_t j = 0; j < kPairs; ++j)
            AddPairProduct(s, x[j], p.h[j], p.folded[j]);
        acc = ReducePairs(s);
    }
    narrow::StoreElement(y, acc);
    counter.Save(counterBlock);
    narrow::Gcm<Rounds, Encrypt>(schedule, key, counterBlock, in, out, blocks, y);
}

// CBC deciphering: block i is D(c_i) XOR c_(i-1), and the pair of previous
// blocks of a pair is one unaligned load 16 bytes back (the first pair of a
// group takes the block before the group from a register).
template <uint32_t Rounds>
ZEL_VAES_INLINE void CbcDecrypt(const uint32_t* schedule, const uint8_t* iv, const uint8_t* in, uint8_t* out,
                                size_t blocks)
{
    __m256i k[Rounds + 1];
    LoadRoundKeys<Rounds>(schedule, k);
    __m128i previous = narrow::Load(iv);
    for (; blocks >= 2 * kPairs; blocks -= 2 * kPairs, in += 32 * kPairs, out += 32 * kPairs) {
        __m256i b[kPairs];
#pragma GCC unroll 8
        for (size_t j = 0; j < kPairs; ++j)
            b[j] = _mm256_xor_si256(Load2(in + 32 * j), k[0]);
#pragma GCC unroll 13
        for (uint32_t r = 1; r < Rounds; ++r) {
#pragma GCC unroll 8
            for (size_t j = 0; j < kPairs; ++j)
                b[j] = _mm256_aesdec_epi128(b[j], k[r]);
        }
#pragma GCC unroll 8
        for (size_t j = 0; j < kPairs; ++j) {
            const __m256i before =
                j ? Load2(in + 32 * j - 16)
                  : _mm256_inserti128_si256(_mm256_castsi128_si256(previous), narrow::Load(in), 1);
            Store2(out + 32 * j, _mm256_aesdeclast_epi128(b[j], _mm256_xor_si256(k[Rounds], before)));
        }
        previous = narrow::Load(in + 32 * kPairs - 16);
    }
    uint8_t chain[16];
    narrow::Store(chain, previous);
    narrow::CbcDecrypt<Rounds>(schedule, chain, in, out, blocks);
}

// CFB deciphering on pairs: the pair of keystream inputs of a pair is one
// unaligned load 16 bytes back (the first pair of a group takes the block
// before the group from a register).  All loads of a group come before its
// stores, so that in may equal out.
template <uint32_t Rounds>
ZEL_VAES_INLINE void CfbDecrypt(const uint32_t* schedule, uint8_t* feedback, const uint8_t* in, uint8_t* out,
                                size_t blocks)
{
    __m256i k[Rounds + 1];
    LoadRoundKeys<Rounds>(schedule, k);
    __m128i previous = narrow::Load(feedback);
    for (; blocks >= 2 * kPairs; blocks -= 2 * kPairs, in += 32 * kPairs, out += 32 * kPairs) {
        __m256i b[kPairs];
        b[0] = _mm256_xor_si256(_mm256_inserti128_si256(_mm256_castsi128_si256(previous), narrow::Load(in), 1), k[0]);
#pragma GCC unroll 8
        for (size_t j = 1; j < kPairs; ++j)
            b[j] = _mm256_xor_si256(Load2(in + 32 * j - 16), k[0]);
#pragma GCC unroll 13
        for (uint32_t r = 1; r < Rounds; ++r) {
#pragma GCC unroll 8
            for (size_t j = 0; j < kPairs; ++j)
                b[j] = _mm256_aesenc_epi128(b[j], k[r]);
        }
#pragma GCC unroll 8
        for (size_t j = 0; j < kPairs; ++j)
            b[j] = _mm256_aesenclast_epi128(b[j], _mm256_xor_si256(k[Rounds], Load2(in + 32 * j)));
        previous = narrow::Load(in + 32 * kPairs - 16);
#pragma GCC unroll 8
        for (size_t j = 0; j < kPairs; ++j)
            Store2(out + 32 * j, b[j]);
    }
    narrow::Store(feedback, previous);
    if (blocks)
        narrow::CfbDecrypt<Rounds>(schedule, feedback, in, out, blocks);
}

} // namespace wide

// ---------------------------------------------------------------------------
// 512-bit registers (VAES with AVX-512): four blocks a register, for the
// deciphering loops of CBC and CFB, whose blocks are independent.  The last
// blocks that do not fill a group go to the 256-bit loops.

#define ZEL_VAES512_TARGET                                                                             \
    __attribute__((target("avx512f,avx512vl,vaes,vpclmulqdq,avx2,avx,aes,pclmul,sse2,ssse3,sse4.1")))
#define ZEL_VAES512_INLINE ZEL_VAES512_TARGET __attribute__((always_inline)) inline
#define ZEL_VAES512_ENTRY ZEL_VAES512_TARGET __attribute__((force_align_arg_pointer, noinline))

namespace wide512 {

constexpr size_t kQuads = 4; // sixteen blocks a group

template <uint32_t Rounds>
ZEL_VAES512_INLINE void LoadRoundKeys(const uint32_t* schedule, __m512i* k)
{
#pragma GCC unroll 15
    for (uint32_t r = 0; r <= Rounds; ++r)
        k[r] = _mm512_maskz_broadcast_i32x4(0xffff, _mm_loadu_si128(reinterpret_cast<const __m128i*>(schedule + 4 * r)));
}

ZEL_VAES512_INLINE __m512i Load4(const uint8_t* p)
{
    return _mm512_loadu_si512(p);
}

ZEL_VAES512_INLINE void Store4(uint8_t* p, __m512i v)
{
    _mm512_storeu_si512(p, v);
}

// The blocks before the first four of a group: `previous`, then in[0..2].
ZEL_VAES512_INLINE __m512i FirstBefore(__m128i previous, const uint8_t* in)
{
    // (The masked forms, all lanes kept: GCC 12's plain ones read an
    // undefined vector and warn.)
    __m512i v = _mm512_zextsi128_si512(previous);
    v = _mm512_maskz_inserti32x4(0xffff, v, narrow::Load(in), 1);
    return _mm512_maskz_inserti64x4(0xff, v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 16)), 1);
}

// CFB deciphering as wide::CfbDecrypt, four blocks a register; in may equal out.
template <uint32_t Rounds>
ZEL_VAES512_INLINE void CfbDecrypt(const uint32_t* schedule, uint8_t* feedback, const uint8_t* in, uint8_t* out,
                                   size_t blocks)
{
    __m512i k[Rounds + 1];
    LoadRoundKeys<Rounds>(schedule, k);
    __m128i previous = narrow::Load(feedback);
    for (; blocks >= 4 * kQuads; blocks -= 4 * kQuads, in += 64 * kQuads, out += 64 * kQuads) {
        __m512i b[kQuads];
        b[0] = _mm512_xor_si512(FirstBefore(previous, in), k[0]);
#pragma GCC unroll 8
        for (size_t j = 1; j < kQuads; ++j)
            b[j] = _mm512_xor_si512(Load4(in + 64 * j - 16), k[0]);
#pragma GCC unroll 13
        for (uint32_t r = 1; r < Rounds; ++r) {
#pragma GCC unroll 8
            for (size_t j = 0; j < kQuads; ++j)
                b[j] = _mm512_aesenc_epi128(b[j], k[r]);
        }
#pragma GCC unroll 8
        for (size_t j = 0; j < kQuads; ++j)
            b[j] = _mm512_aesenclast_epi128(b[j], _mm512_xor_si512(k[Rounds], Load4(in + 64 * j)));
        previous = narrow::Load(in + 64 * kQuads - 16);
#pragma GCC unroll 8
        for (size_t j = 0; j < kQuads; ++j)
            Store4(out + 64 * j, b[j]);
    }
    narrow::Store(feedback, previous);
    if (blocks)
        wide::CfbDecrypt<Rounds>(schedule, feedback, in, out, blocks);
}

// CBC deciphering as wide::CbcDecrypt, four blocks a register.
template <uint32_t Rounds>
ZEL_VAES512_INLINE void CbcDecrypt(const uint32_t* schedule, const uint8_t* iv, const uint8_t* in, uint8_t* out,
                                   size_t blocks)
{
    __m512i k[Rounds + 1];
    LoadRoundKeys<Rounds>(schedule, k);
    __m128i previous = narrow::Load(iv);
    for (; blocks >= 4 * kQuads; blocks -= 4 * kQuads, in += 64 * kQuads, out += 64 * kQuads) {
        __m512i b[kQuads];
#pragma GCC unroll 8
        for (size_t j = 0; j < kQuads; ++j)
            b[j] = _mm512_xor_si512(Load4(in + 64 * j), k[0]);
#pragma GCC unroll 13
        for (uint32_t r = 1; r < Rounds; ++r) {
#pragma GCC unroll 8
            for (size_t j = 0; j < kQuads; ++j)
                b[j] = _mm512_aesdec_epi128(b[j], k[r]);
        }
        b[0] = _mm512_aesdeclast_epi128(b[0], _mm512_xor_si512(k[Rounds], FirstBefore(previous, in)));
#pragma GCC unroll 8
        for (size_t j = 1; j < kQuads; ++j)
            b[j] = _mm512_aesdeclast_epi128(b[j], _mm512_xor_si512(k[Rounds], Load4(in + 64 * j - 16)));
        previous = narrow::Load(in + 64 * kQuads - 16);
#pragma GCC unroll 8
        for (size_t j = 0; j < kQuads; ++j)
            Store4(out + 64 * j, b[j]);
    }
    if (blocks) {
        uint8_t chain[16];
        narrow::Store(chain, previous);
        wide::CbcDecrypt<Rounds>(schedule, chain, in, out, blocks);
    }
}

} // namespace wide512

#define ZEL_BY_ROUNDS(rounds, call)                                                                    \
    do {                                                                                               \
        if ((rounds) == 10)                                                                            \
            call(10);                                                                                  \
        else if ((rounds) == 12)                                                                       \
            call(12);                                                                                  \
        else                                                                                           \
            call(14);                                                                                  \
    } while (0)

template <typename Counter>
ZEL_X86_MODES_ENTRY void NarrowCtr(const XAes& aes, uint8_t* counter, const uint8_t* in, uint8_t* out, size_t blocks)
{
#define ZEL_CALL(R) narrow::Ctr<R, Counter>(aes.EncryptionRoundKeys(), counter, in, out, blocks)
    ZEL_BY_ROUNDS(aes.Rounds(), ZEL_CALL);
#undef ZEL_CALL
}

template <typename Counter>
ZEL_VAES_ENTRY void WideCtr(const XAes& aes, uint8_t* counter, const uint8_t* in, uint8_t* out, size_t blocks)
{
#define ZEL_CALL(R) wide::Ctr<R, Counter>(aes.EncryptionRoundKeys(), counter, in, out, blocks)
    ZEL_BY_ROUNDS(aes.Rounds(), ZEL_CALL);
#undef ZEL_CALL
}

ZEL_X86_MODES_ENTRY void NarrowCbcDecrypt(const XAes& aes, const uint8_t* iv, const uint8_t* in, uint8_t* out,
                                          size_t blocks)
{
#define ZEL_CALL(R) narrow::CbcDecrypt<R>(aes.DecryptionRoundKeys(), iv, in, out, blocks)
    ZEL_BY_ROUNDS(aes.Rounds(), ZEL_CALL);
#undef ZEL_CALL
}

ZEL_VAES_ENTRY void WideCbcDecrypt(const XAes& aes, const uint8_t* iv, const uint8_t* in, uint8_t* out,
                                   size_t blocks)
{
#define ZEL_CALL(R) wide::CbcDecrypt<R>(aes.DecryptionRoundKeys(), iv, in, out, blocks)
    ZEL_BY_ROUNDS(aes.Rounds(), ZEL_CALL);
#undef ZEL_CALL
}

ZEL_X86_MODES_ENTRY void NarrowCfbDecrypt(const XAes& aes, uint8_t* feedback, const uint8_t* in, uint8_t* out,
                                          size_t blocks)
{
#define ZEL_CALL(R) narrow::CfbDecrypt<R>(aes.EncryptionRoundKeys(), feedback, in, out, blocks)
    ZEL_BY_ROUNDS(aes.Rounds(), ZEL_CALL);
#undef ZEL_CALL
}

ZEL_VAES_ENTRY void WideCfbDecrypt(const XAes& aes, uint8_t* feedback, const uint8_t* in, uint8_t* out,
                                   size_t blocks)
{
#define ZEL_CALL(R) wide::CfbDecrypt<R>(aes.EncryptionRoundKeys(), feedback, in, out, blocks)
    ZEL_BY_ROUNDS(aes.Rounds(), ZEL_CALL);
#undef ZEL_CALL
}

ZEL_X86_MODES_ENTRY void NarrowCfbEncrypt(const XAes& aes, uint8_t* feedback, const uint8_t* in, uint8_t* out,
                                          size_t blocks)
{
#define ZEL_CALL(R) narrow::CfbEncrypt<R>(aes.EncryptionRoundKeys(), feedback, in, out, blocks)
    ZEL_BY_ROUNDS(aes.Rounds(), ZEL_CALL);
#undef ZEL_CALL
}

ZEL_VAES512_ENTRY void Wide512CfbDecrypt(const XAes& aes, uint8_t* feedback, const uint8_t* in, uint8_t* out,
                                         size_t blocks)
{
#define ZEL_CALL(R) wide512::CfbDecrypt<R>(aes.EncryptionRoundKeys(), feedback, in, out, blocks)
    ZEL_BY_ROUNDS(aes.Rounds(), ZEL_CALL);
#undef ZEL_CALL
}

ZEL_VAES512_ENTRY void Wide512CbcDecrypt(const XAes& aes, const uint8_t* iv, const uint8_t* in, uint8_t* out,
                                         size_t blocks)
{
#define ZEL_CALL(R) wide512::CbcDecrypt<R>(aes.DecryptionRoundKeys(), iv, in, out, blocks)
    ZEL_BY_ROUNDS(aes.Rounds(), ZEL_CALL);
#undef ZEL_CALL
}

ZEL_VAES_ENTRY void WideGcm(bool encrypt, const XAes& aes, const XGhashKey& key, uint8_t* counter,
                            const uint8_t* in, uint8_t* out, size_t blocks, uint8_t* y)
{
    if (encrypt) {
#define ZEL_CALL(R) wide::Gcm<R, true>(aes.EncryptionRoundKeys(), key, counter, in, out, blocks, y)
        ZEL_BY_ROUNDS(aes.Rounds(), ZEL_CALL);
#undef ZEL_CALL
    } else {
#define ZEL_CALL(R) wide::Gcm<R, false>(aes.EncryptionRoundKeys(), key, counter, in, out, blocks, y)
        ZEL_BY_ROUNDS(aes.Rounds(), ZEL_CALL);
#undef ZEL_CALL
    }
}

ZEL_X86_MODES_ENTRY void NarrowGcm(bool encrypt, const XAes& aes, const XGhashKey& key, uint8_t* counter,
                                   const uint8_t* in, uint8_t* out, size_t blocks, uint8_t* y)
{
    if (encrypt) {
#define ZEL_CALL(R) narrow::Gcm<R, true>(aes.EncryptionRoundKeys(), key, counter, in, out, blocks, y)
        ZEL_BY_ROUNDS(aes.Rounds(), ZEL_CALL);
#undef ZEL_CALL
    } else {
#define ZEL_CALL(R) narrow::Gcm<R, false>(aes.EncryptionRoundKeys(), key, counter, in, out, blocks, y)
        ZEL_BY_ROUNDS(aes.Rounds(), ZEL_CALL);
#undef ZEL_CALL
    }
}

#undef ZEL_BY_ROUNDS

} // namespace

namespace aes_modes_x86 {

void Ctr32Blocks(bool wide, const XAes& aes, uint8_t* counter, const uint8_t* in, uint8_t* out, size_t blocks)
{
    if (wide)
        WideCtr<narrow::Counter32>(aes, counter, in, out, blocks);
    else
        NarrowCtr<narrow::Counter32>(aes, counter, in, out, blocks);
}

void Ctr128Blocks(bool wide, const XAes& aes, uint8_t* counter, const uint8_t* in, uint8_t* out, size_t blocks)
{
    if (wide)
        WideCtr<narrow::Counter128>(aes, counter, in, out, blocks);
    else
        NarrowCtr<narrow::Counter128>(aes, counter, in, out, blocks);
}

void GcmBlocks(bool wide, bool encrypt, const XAes& aes, const XGhashKey& key, uint8_t* counter,
               const uint8_t* in, uint8_t* out, size_t blocks, uint8_t* y)
{
    if (wide)
        WideGcm(encrypt, aes, key, counter, in, out, blocks, y);
    else
        NarrowGcm(encrypt, aes, key, counter, in, out, blocks, y);
}

void CbcDecryptBlocks(bool wide, const XAes& aes, const uint8_t* iv, const uint8_t* in, uint8_t* out,
                      size_t blocks)
{
    if (wide)
        WideCbcDecrypt(aes, iv, in, out, blocks);
    else
        NarrowCbcDecrypt(aes, iv, in, out, blocks);
}

void CfbDecryptBlocks(bool wide, const XAes& aes, uint8_t* feedback, const uint8_t* in, uint8_t* out,
                      size_t blocks)
{
    if (wide)
        WideCfbDecrypt(aes, feedback, in, out, blocks);
    else
        NarrowCfbDecrypt(aes, feedback, in, out, blocks);
}

void CfbEncryptBlocks(const XAes& aes, uint8_t* feedback, const uint8_t* in, uint8_t* out, size_t blocks)
{
    NarrowCfbEncrypt(aes, feedback, in, out, blocks);
}

void CbcDecryptBlocks512(const XAes& aes, const uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks)
{
    Wide512CbcDecrypt(aes, iv, in, out, blocks);
}

void CfbDecryptBlocks512(const XAes& aes, uint8_t* feedback, const uint8_t* in, uint8_t* out, size_t blocks)
{
    Wide512CfbDecrypt(aes, feedback, in, out, blocks);
}

} // namespace aes_modes_x86
#endif
