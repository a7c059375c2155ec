#include "cipher/ocb_x86.h"

#if ZEL_AES_MODES_X86
#include "cipher/ghash_x86.h"

// OCB's whole blocks with the offsets kept in registers: each group's
// offsets are computed as it is loaded, XORed in with the first round key,
// and XORed out again through the last round key (AESENCLAST and
// AESDECLAST end with an XOR of their key), so a block costs what it costs
// in the codebook loops plus a few XORs.  Deciphering runs the equivalent
// inverse cipher on XAes's decryption schedule.  As in aes_modes_x86.cpp,
// the round count is a template parameter, helpers are always inlined and
// every entry point realigns the stack for 32-bit Windows.

namespace {

inline unsigned TrailingZeros(uint64_t i)
{
    return unsigned(__builtin_ctzll(i));
}

namespace narrow {

constexpr size_t kLanes = 8;

ZEL_X86_MODES_INLINE __m128i Load(const uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

ZEL_X86_MODES_INLINE void Store(uint8_t* p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

template <uint32_t Rounds, bool Encrypt, size_t N>
ZEL_X86_MODES_INLINE void Lanes(const __m128i* k, const uint8_t* levels, uint64_t& index, __m128i& offset,
                                __m128i& checksum, const uint8_t* in, uint8_t* out)
{
    __m128i o[N], b[N];
#pragma GCC unroll 8
    for (size_t j = 0; j < N; ++j) {
        offset = _mm_xor_si128(offset, Load(levels + 16 * TrailingZeros(++index)));
        o[j] = offset;
        const __m128i x = Load(in + 16 * j);
        if (Encrypt)
            checksum = _mm_xor_si128(checksum, x);
        b[j] = _mm_xor_si128(x, _mm_xor_si128(offset, k[0]));
    }
#pragma GCC unroll 13
    for (uint32_t r = 1; r < Rounds; ++r) {
#pragma GCC unroll 8
        for (size_t j = 0; j < N; ++j)
            b[j] = Encrypt ? _mm_aesenc_si128(b[j], k[r]) : _mm_aesdec_si128(b[j], k[r]);
    }
#pragma GCC unroll 8
    for (size_t j = 0; j < N; ++j) {
        const __m128i last = _mm_xor_si128(k[Rounds], o[j]);
        const __m128i y = Encrypt ? _mm_aesenclast_si128(b[j], last) : _mm_aesdeclast_si128(b[j], last);
        if (!Encrypt)
            checksum = _mm_xor_si128(checksum, y);
        Store(out + 16 * j, y);
    }
}

template <uint32_t Rounds, bool Encrypt>
ZEL_X86_MODES_INLINE void Blocks(const uint32_t* schedule, const uint8_t* levels, uint64_t& index, uint8_t* offsetBytes,
                                 uint8_t* checksumBytes, const uint8_t* in, uint8_t* out, size_t blocks)
{
    __m128i k[Rounds + 1];
#pragma GCC unroll 15
    for (uint32_t r = 0; r <= Rounds; ++r)
        k[r] = Load(reinterpret_cast<const uint8_t*>(schedule + 4 * r));
    __m128i offset = Load(offsetBytes), checksum = Load(checksumBytes);
    uint64_t i = index;
    for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes)
        Lanes<Rounds, Encrypt, kLanes>(k, levels, i, offset, checksum, in, out);
    for (; blocks > 0; --blocks, in += 16, out += 16)
        Lanes<Rounds, Encrypt, 1>(k, levels, i, offset, checksum, in, out);
    index = i;
    Store(offsetBytes, offset);
    Store(checksumBytes, checksum);
}

} // namespace narrow

#define ZEL_VAES_TARGET __attribute__((target("vaes,vpclmulqdq,avx2,avx,aes,pclmul,sse2,ssse3,sse4.1")))
#define ZEL_VAES_INLINE ZEL_VAES_TARGET __attribute__((always_inline)) inline
#define ZEL_VAES_ENTRY ZEL_VAES_TARGET __attribute__((force_align_arg_pointer, noinline))

namespace wide {

constexpr size_t kPairs = 8; // sixteen blocks a group

ZEL_VAES_INLINE __m128i Load(const uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

ZEL_VAES_INLINE __m256i Load2(const uint8_t* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

ZEL_VAES_INLINE void Store2(uint8_t* p, __m256i v)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

template <uint32_t Rounds, bool Encrypt>
ZEL_VAES_INLINE void Blocks(const uint32_t* schedule, const uint8_t* levels, uint64_t& index, uint8_t* offsetBytes,
                            uint8_t* checksumBytes, const uint8_t* in, uint8_t* out, size_t blocks)
{
    if (blocks >= 2 * kPairs) {
        __m256i k[Rounds + 1];
#pragma GCC unroll 15
        for (uint32_t r = 0; r <= Rounds; ++r)
            k[r] = _mm256_broadcastsi128_si256(Load(reinterpret_cast<const uint8_t*>(schedule + 4 * r)));
        __m128i offset = Load(offsetBytes);
        __m256i checksum = _mm256_setzero_si256();
        uint64_t i = index;
        for (; blocks >= 2 * kPairs; blocks -= 2 * kPairs, in += 32 * kPairs, out += 32 * kPairs) {
            __m256i o[kPairs], b[kPairs];
#pragma GCC unroll 8
            for (size_t j = 0; j < kPairs; ++j) {
                const __m128i first = _mm_xor_si128(offset, Load(levels + 16 * TrailingZeros(++i)));
                offset = _mm_xor_si128(first, Load(levels + 16 * TrailingZeros(++i)));
                o[j] = _mm256_inserti128_si256(_mm256_castsi128_si256(first), offset, 1);
                const __m256i x = Load2(in + 32 * j);
                if (Encrypt)
                    checksum = _mm256_xor_si256(checksum, x);
                b[j] = _mm256_xor_si256(x, _mm256_xor_si256(o[j], k[0]));
            }
#pragma GCC unroll 13
            for (uint32_t r = 1; r < Rounds; ++r) {
#pragma GCC unroll 8
                for (size_t j = 0; j < kPairs; ++j)
                    b[j] = Encrypt ? _mm256_aesenc_epi128(b[j], k[r]) : _mm256_aesdec_epi128(b[j], k[r]);
            }
#pragma GCC unroll 8
            for (size_t j = 0; j < kPairs; ++j) {
                const __m256i last = _mm256_xor_si256(k[Rounds], o[j]);
                const __m256i y =
                    Encrypt ? _mm256_aesenclast_epi128(b[j], last) : _mm256_aesdeclast_epi128(b[j], last);
                if (!Encrypt)
                    checksum = _mm256_xor_si256(checksum, y);
                Store2(out + 32 * j, y);
            }
        }
        index = i;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(offsetBytes), offset);
        const __m128i folded = _mm_xor_si128(_mm256_castsi256_si128(checksum), _mm256_extracti128_si256(checksum, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(checksumBytes), _mm_xor_si128(Load(checksumBytes), folded));
    }
    narrow::Blocks<Rounds, Encrypt>(schedule, levels, index, offsetBytes, checksumBytes, in, out, blocks);
}

} // namespace wide

#define ZEL_BY_ROUNDS(rounds, call)                                                                    \
    do {                                                                                               \
        if ((rounds) == 10)                                                                            \
            call(10);                                                                                  \
        else if ((rounds) == 12)                                                                       \
            call(12);                                                                                  \
        else                                                                                           \
            call(14);                                                                                  \
    } while (0)

template <bool Encrypt>
ZEL_X86_MODES_ENTRY void Narrow(const XAes& aes, const uint8_t* levels, uint64_t& index, uint8_t* offset,
                                uint8_t* checksum, const uint8_t* in, uint8_t* out, size_t blocks)
{
    const uint32_t* schedule = Encrypt ? aes.EncryptionRoundKeys() : aes.DecryptionRoundKeys();
#define ZEL_CALL(R) narrow::Blocks<R, Encrypt>(schedule, levels, index, offset, checksum, in, out, blocks)
    ZEL_BY_ROUNDS(aes.Rounds(), ZEL_CALL);
#undef ZEL_CALL
}

template <bool Encrypt>
ZEL_VAES_ENTRY void Wide(const XAes& aes, const uint8_t* levels, uint64_t& index, uint8_t* offset,
                         uint8_t* checksum, const uint8_t* in, uint8_t* out, size_t blocks)
{
    const uint32_t* schedule = Encrypt ? aes.EncryptionRoundKeys() : aes.DecryptionRoundKeys();
#define ZEL_CALL(R) wide::Blocks<R, Encrypt>(schedule, levels, index, offset, checksum, in, out, blocks)
    ZEL_BY_ROUNDS(aes.Rounds(), ZEL_CALL);
#undef ZEL_CALL
}

#undef ZEL_BY_ROUNDS

} // namespace

namespace ocb_x86 {

void Blocks(bool wide, bool encrypt, const XAes& aes, const uint8_t* levels, uint64_t& index, uint8_t* offset,
            uint8_t* checksum, const uint8_t* in, uint8_t* out, size_t blocks)
{
    if (wide)
        encrypt ? Wide<true>(aes, levels, index, offset, checksum, in, out, blocks)
                : Wide<false>(aes, levels, index, offset, checksum, in, out, blocks);
    else
        encrypt ? Narrow<true>(aes, levels, index, offset, checksum, in, out, blocks)
                : Narrow<false>(aes, levels, index, offset, checksum, in, out, blocks);
}

} // namespace ocb_x86
#endif
