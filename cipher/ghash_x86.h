// The GHASH arithmetic on x86 carry-less multiplication, shared by the GHASH
// engine (ghash.cpp) and the AES modes that hash and encipher in one pass
// (aes_modes.cpp).  Internal to cipher/.
//
// Everything here is compiled for the AES and PCLMULQDQ instructions by
// function attribute only, so the rest of the program still runs on any x86
// CPU; callers check GhashEngineAvailable first.  The helpers are always
// inlined into an entry point, which realigns the stack (32-bit Windows only
// promises 4-byte alignment, see aes.cpp).
//
// An element sits in a register byte-reversed from the standard's string:
// the 128-bit number hi:lo of XGhashElement, lo in the low lane.  Read that
// way, the coefficients run backwards (z^0 is bit 127), and the carry-less
// product of two elements, a 256-bit number, holds z^0 at bit 254: one short
// of the place a 256-bit element would have it.  The powers in XGhashKey
// carry an extra factor z^-1, which makes up for that, so products are
// reduced as they come out of the multiplier.
#pragma once

#include "cipher/ghash.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define ZEL_GHASH_X86 1
#include <immintrin.h>

#define ZEL_X86_MODES_TARGET __attribute__((target("aes,pclmul,sse2,ssse3,sse4.1")))
#define ZEL_X86_MODES_INLINE ZEL_X86_MODES_TARGET __attribute__((always_inline)) inline
#define ZEL_X86_MODES_ENTRY ZEL_X86_MODES_TARGET __attribute__((force_align_arg_pointer, noinline))

namespace ghash_x86 {

// The standard's byte string <-> the register form.
ZEL_X86_MODES_INLINE __m128i ByteReverse(__m128i v)
{
    return _mm_shuffle_epi8(v, _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
}

ZEL_X86_MODES_INLINE __m128i LoadElement(const uint8_t* p)
{
    return ByteReverse(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

ZEL_X86_MODES_INLINE void StoreElement(uint8_t* p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), ByteReverse(v));
}

// Powers H^1 .. H^N of the key in registers, with their Karatsuba middle
// factors (lo ^ hi in the low lane).
template <size_t N>
struct Powers {
    __m128i h[N];
    __m128i folded[N];
};

template <size_t N>
ZEL_X86_MODES_INLINE void LoadPowers(const XGhashKey& key, Powers<N>& p)
{
    static_assert(N <= XGhashKey::kPowers, "more powers than the key holds");
#pragma GCC unroll 8
    for (size_t i = 0; i < N; ++i) {
        p.h[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&key.Powers()[i]));
        p.folded[i] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&key.Folded()[i]));
    }
}

// A sum of unreduced products, kept as Karatsuba's three parts.
struct Sum {
    __m128i lo, mid, hi;
};

ZEL_X86_MODES_INLINE Sum Product(__m128i x, __m128i h, __m128i hFolded)
{
    const __m128i xFolded = _mm_xor_si128(x, _mm_shuffle_epi32(x, 0x4e));
    return {_mm_clmulepi64_si128(x, h, 0x00), _mm_clmulepi64_si128(xFolded, hFolded, 0x00),
            _mm_clmulepi64_si128(x, h, 0x11)};
}

ZEL_X86_MODES_INLINE void AddProduct(Sum& s, __m128i x, __m128i h, __m128i hFolded)
{
    const Sum p = Product(x, h, hFolded);
    s.lo = _mm_xor_si128(s.lo, p.lo);
    s.mid = _mm_xor_si128(s.mid, p.mid);
    s.hi = _mm_xor_si128(s.hi, p.hi);
}

// The element a sum of products stands for.  The 256-bit number hi:lo
// (after Karatsuba's middle part is folded in) has words P3:P2:P1:P0; the
// coefficients of z^128 and up, P1:P0, fold back as z^128 = z^7 + z^2 + z + 1,
// which in this bit order is the carry-less product with 0xC2 << 56 (shifts
// right by 1, 2 and 7, the bits that fall off coming in from the next word):
// P0 into P2:P1, then the new P1 into P3:P2.
ZEL_X86_MODES_INLINE __m128i Reduce(const Sum& s)
{
    const __m128i mid = _mm_xor_si128(s.mid, _mm_xor_si128(s.lo, s.hi));
    __m128i low = _mm_xor_si128(s.lo, _mm_slli_si128(mid, 8));
    const __m128i high = _mm_xor_si128(s.hi, _mm_srli_si128(mid, 8));
    const __m128i poly = _mm_set_epi32(0, 0, int(0xc2000000u), 0);
    // After each step the low lane holds the word to fold next and the high
    // lane what goes to the word above it.
    low = _mm_xor_si128(_mm_shuffle_epi32(low, 0x4e), _mm_clmulepi64_si128(low, poly, 0x00));
    low = _mm_xor_si128(_mm_shuffle_epi32(low, 0x4e), _mm_clmulepi64_si128(low, poly, 0x00));
    return _mm_xor_si128(high, low);
}

// y absorbs N blocks (register form): (((y ^ x0) H ^ x1) H ...) H, as
// (y ^ x0) H^N ^ x1 H^(N-1) ^ ... ^ x(N-1) H, with one reduction.
template <size_t N, size_t M>
ZEL_X86_MODES_INLINE __m128i Absorb(__m128i y, const __m128i* x, const Powers<M>& p)
{
    static_assert(N <= M, "not enough powers");
    Sum s = Product(_mm_xor_si128(y, x[0]), p.h[N - 1], p.folded[N - 1]);
#pragma GCC unroll 8
    for (size_t i = 1; i < N; ++i)
        AddProduct(s, x[i], p.h[N - 1 - i], p.folded[N - 1 - i]);
    return Reduce(s);
}

} // namespace ghash_x86
#endif
