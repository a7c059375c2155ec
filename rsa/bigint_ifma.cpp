// The AVX-512 IFMA exponentiation (see bigint_ifma.h).  Only the functions
// marked ZEL_IFMA_TARGET use the 512-bit instructions: they are compiled for
// them by target attributes, the rest of the engine stays baseline x86-64,
// and nothing here runs unless CpuSupported() said yes.
#include "rsa/bigint_ifma.h"

#include "rsa/bigint_limbs.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#if ZEL_BIGINT_IFMA
#include <cpuid.h>
// GCC 12's 512-bit intrinsics start some results from a deliberately
// undefined register value, which -Wmaybe-uninitialized reports at every
// inlined use.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#endif

namespace zel_bigint {

bool IfmaTakesPower(uint64_t bits)
{
#if ZEL_BIGINT_IFMA
    return g_ifmaKernel.load(std::memory_order_relaxed) && ifma::TakesModulus(bits);
#else
    (void)bits;
    return false;
#endif
}

namespace ifma {

#if ZEL_BIGINT_IFMA

namespace {

#define ZEL_IFMA_TARGET __attribute__((target("avx512f,avx512ifma")))

constexpr unsigned kDigitBits = 52;
constexpr uint64_t kDigitMask = (uint64_t(1) << kDigitBits) - 1;
constexpr size_t kLanes = 8;
// Registers per number in the unrolled products: 80 digits, 4158-bit moduli.
constexpr size_t kMaxVectors = 10;
constexpr uint64_t kMinBits = 512;
constexpr unsigned kSecretWindow = 5;
constexpr size_t kSecretEntries = size_t(1) << kSecretWindow;

using u128 = unsigned __int128;

// Digits for a modulus of `bits` bits: 4m <= R = 2^(52 K).
size_t DigitsFor(uint64_t bits)
{
    return size_t((bits + 2 + kDigitBits - 1) / kDigitBits);
}

size_t VectorsFor(size_t digits)
{
    return (digits + kLanes - 1) / kLanes;
}

// -m^-1 mod 2^52 for odd m0.
uint64_t NegInverse52(uint64_t m0)
{
    uint64_t x = m0; // correct to 3 bits
    for (unsigned bits = 3; bits < 64; bits *= 2)
        x *= 2 - m0 * x;
    return (0 - x) & kDigitMask;
}

// d (count digits) = the n-limb x in radix 2^52 (high digits 0 past x).
void ToDigits(uint64_t* d, size_t count, const uint64_t* x, size_t n)
{
    for (size_t j = 0; j < count; ++j) {
        const uint64_t bit = uint64_t(j) * kDigitBits;
        const size_t limb = size_t(bit / 64);
        const unsigned shift = unsigned(bit % 64);
        uint64_t v = limb < n ? x[limb] >> shift : 0;
        if (shift > 64 - kDigitBits && limb + 1 < n)
            v |= x[limb + 1] << (64 - shift);
        d[j] = v & kDigitMask;
    }
}

// x (n limbs) = the value of the normalized digits d (count digits), its
// bits above n limbs dropped.
void FromDigits(uint64_t* x, size_t n, const uint64_t* d, size_t count)
{
    std::memset(x, 0, n * sizeof(uint64_t));
    for (size_t j = 0; j < count; ++j) {
        const uint64_t bit = uint64_t(j) * kDigitBits;
        const size_t limb = size_t(bit / 64);
        const unsigned shift = unsigned(bit % 64);
        if (limb < n)
            x[limb] |= d[j] << shift;
        if (shift > 64 - kDigitBits && limb + 1 < n)
            x[limb + 1] |= d[j] >> (64 - shift);
    }
}

// One row of the scalar side of a product: the exact digit 0 of the
// accumulator.  The vector side leaves its lane 0 short of the carries, which
// live here; r0 is the digit 0 before the row, d1 the accumulator's digit 1
// (exact in the vector), bi the row's digit of b.  Returns the row's
// multiplier y and leaves in r0 the digit 0 after the row and its shift.
inline uint64_t ScalarRow(uint64_t& r0, uint64_t d1, uint64_t bi, uint64_t a0, uint64_t a1, uint64_t m0,
                          uint64_t m1, uint64_t k0)
{
    const u128 pa = u128(a0) * bi;
    uint64_t t = r0 + (uint64_t(pa) & kDigitMask);
    const uint64_t y = (t * k0) & kDigitMask;
    const u128 pm = u128(m0) * y;
    t += uint64_t(pm) & kDigitMask; // a multiple of 2^52 now
    r0 = d1 + ((a1 * bi) & kDigitMask) + ((m1 * y) & kDigitMask) + uint64_t(pa >> kDigitBits) +
         uint64_t(pm >> kDigitBits) + (t >> kDigitBits);
    return y;
}

// The digits of R (V registers, lanes of up to 62 bits, their value below
// 2^(52 K)) brought to 52 bits each without a branch: every lane's carry
// moves one lane up, which leaves each lane at most 2^52 + 2^10; the single
// carries that remain then ripple through lanes of exactly 2^52 - 1, and
// the lanes they reach are found at once by an addition on bit masks
// (generating lanes G, propagating lanes P: reached = ((G << 1) + P) ^ P).
template <size_t V>
ZEL_IFMA_TARGET inline void NormalizeLanes(__m512i* R)
{
    const __m512i mask = _mm512_set1_epi64(int64_t(kDigitMask));
    const __m512i zero = _mm512_setzero_si512();
    __m512i carry[V];
    for (size_t v = 0; v < V; ++v) {
        carry[v] = _mm512_srli_epi64(R[v], kDigitBits);
        R[v] = _mm512_and_si512(R[v], mask);
    }
    R[0] = _mm512_add_epi64(R[0], _mm512_alignr_epi64(carry[0], zero, 7));
    for (size_t v = 1; v < V; ++v)
        R[v] = _mm512_add_epi64(R[v], _mm512_alignr_epi64(carry[v], carry[v - 1], 7));
    u128 generate = 0, propagate = 0;
    for (size_t v = 0; v < V; ++v) {
        generate |= u128(_mm512_cmpgt_epu64_mask(R[v], mask)) << (kLanes * v);
        propagate |= u128(_mm512_cmpeq_epu64_mask(R[v], mask)) << (kLanes * v);
    }
    const u128 reached = ((generate << 1) + propagate) ^ propagate;
    const __m512i one = _mm512_set1_epi64(1);
    for (size_t v = 0; v < V; ++v) {
        const __mmask8 add = __mmask8(uint64_t(reached >> (kLanes * v)) & 0xff);
        R[v] = _mm512_and_si512(_mm512_mask_add_epi64(R[v], add, R[v], one), mask);
    }
}

// One row on the vector side: R = (R + a b_i + m y) / 2^52 in lanes (lane 0
// left short of its carry, which the scalar side holds).  The four product
// halves are formed apart from R and added to it, so that R's own chain
// from row to row is three additions and a lane shift, not four dependent
// multiply-adds.
template <size_t V>
ZEL_IFMA_TARGET inline void Row(__m512i* R, const __m512i* A, __m512i B, const __m512i* M, __m512i Y)
{
    const __m512i zero = _mm512_setzero_si512();
    __m512i low[V], high[V];
    for (size_t v = 0; v < V; ++v) {
        low[v] = _mm512_madd52lo_epu64(_mm512_madd52lo_epu64(zero, A[v], B), M[v], Y);
        high[v] = _mm512_madd52hi_epu64(_mm512_madd52hi_epu64(zero, A[v], B), M[v], Y);
    }
    for (size_t v = 0; v < V; ++v)
        R[v] = _mm512_add_epi64(R[v], low[v]);
    for (size_t v = 0; v + 1 < V; ++v)
        R[v] = _mm512_alignr_epi64(R[v + 1], R[v], 1);
    R[V - 1] = _mm512_alignr_epi64(zero, R[V - 1], 1);
    for (size_t v = 0; v < V; ++v)
        R[v] = _mm512_add_epi64(R[v], high[v]);
}

// r = a b / R mod m, below 2m, over K digits held in V registers; a, b < 2m
// normalized.  Row by row (a digit of b each): the accumulator takes a b_i
// and m y (low halves), drops its lowest digit (zero by the choice of y) by
// one lane shift, then takes the high halves, which belong one digit up.
// Lanes gather up to 4K products' halves below 2^52 each: they do not
// overflow for K <= 80.  r may alias a or b (written at the end).
template <size_t V>
ZEL_IFMA_TARGET inline void Product1(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m,
                                     uint64_t k0, size_t digits)
{
    __m512i A[V], M[V], R[V];
    for (size_t v = 0; v < V; ++v) {
        A[v] = _mm512_loadu_si512(a + kLanes * v);
        M[v] = _mm512_loadu_si512(m + kLanes * v);
        R[v] = _mm512_setzero_si512();
    }
    const uint64_t a0 = a[0], a1 = a[1], m0 = m[0], m1 = m[1];
    uint64_t r0 = 0;
    for (size_t i = 0; i < digits; ++i) {
        const uint64_t bi = b[i];
        const __m512i B = _mm512_set1_epi64(int64_t(bi));
        const uint64_t d1 = uint64_t(_mm_extract_epi64(_mm512_castsi512_si128(R[0]), 1));
        const uint64_t y = ScalarRow(r0, d1, bi, a0, a1, m0, m1, k0);
        const __m512i Y = _mm512_set1_epi64(int64_t(y));
        Row<V>(R, A, B, M, Y);
    }
    R[0] = _mm512_mask_set1_epi64(R[0], 1, int64_t(r0));
    NormalizeLanes<V>(R);
    for (size_t v = 0; v < V; ++v)
        _mm512_storeu_si512(r + kLanes * v, R[v]);
}

// Two independent products of the same digit count, row by row together.
template <size_t V>
ZEL_IFMA_TARGET inline void Product2(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m,
                                     uint64_t k0, uint64_t* s, const uint64_t* c, const uint64_t* d,
                                     const uint64_t* n, uint64_t l0, size_t digits)
{
    __m512i A[V], M[V], R[V], C[V], N[V], S[V];
    for (size_t v = 0; v < V; ++v) {
        A[v] = _mm512_loadu_si512(a + kLanes * v);
        M[v] = _mm512_loadu_si512(m + kLanes * v);
        R[v] = _mm512_setzero_si512();
        C[v] = _mm512_loadu_si512(c + kLanes * v);
        N[v] = _mm512_loadu_si512(n + kLanes * v);
        S[v] = _mm512_setzero_si512();
    }
    const uint64_t a0 = a[0], a1 = a[1], m0 = m[0], m1 = m[1];
    const uint64_t c0 = c[0], c1 = c[1], n0 = n[0], n1 = n[1];
    uint64_t r0 = 0, s0 = 0;
    for (size_t i = 0; i < digits; ++i) {
        const uint64_t bi = b[i], di = d[i];
        const __m512i B = _mm512_set1_epi64(int64_t(bi));
        const __m512i D = _mm512_set1_epi64(int64_t(di));
        const uint64_t r1 = uint64_t(_mm_extract_epi64(_mm512_castsi512_si128(R[0]), 1));
        const uint64_t s1 = uint64_t(_mm_extract_epi64(_mm512_castsi512_si128(S[0]), 1));
        const uint64_t y = ScalarRow(r0, r1, bi, a0, a1, m0, m1, k0);
        const uint64_t z = ScalarRow(s0, s1, di, c0, c1, n0, n1, l0);
        const __m512i Y = _mm512_set1_epi64(int64_t(y));
        const __m512i Z = _mm512_set1_epi64(int64_t(z));
        Row<V>(R, A, B, M, Y);
        Row<V>(S, C, D, N, Z);
    }
    R[0] = _mm512_mask_set1_epi64(R[0], 1, int64_t(r0));
    S[0] = _mm512_mask_set1_epi64(S[0], 1, int64_t(s0));
    NormalizeLanes<V>(R);
    NormalizeLanes<V>(S);
    for (size_t v = 0; v < V; ++v) {
        _mm512_storeu_si512(r + kLanes * v, R[v]);
        _mm512_storeu_si512(s + kLanes * v, S[v]);
    }
}

// entry = table[index] of 32 entries of V registers each, every entry read
// and kept under a mask from a vector comparison: neither a branch nor an
// address depends on the index.
template <size_t V>
ZEL_IFMA_TARGET inline void Gather(uint64_t* entry, const uint64_t* table, unsigned index)
{
    __m512i E[V];
    for (size_t v = 0; v < V; ++v)
        E[v] = _mm512_setzero_si512();
    const __m512i wanted = _mm512_set1_epi64(index);
    for (size_t k = 0; k < kSecretEntries; ++k) {
        const __mmask8 take = _mm512_cmpeq_epi64_mask(_mm512_set1_epi64(int64_t(k)), wanted);
        for (size_t v = 0; v < V; ++v)
            E[v] = _mm512_mask_mov_epi64(E[v], take, _mm512_loadu_si512(table + (k * V + v) * kLanes));
    }
    for (size_t v = 0; v < V; ++v)
        _mm512_storeu_si512(entry + kLanes * v, E[v]);
}

// The 5 bits of e starting at bit `low` (e padded with a zero limb).
inline unsigned WindowBits(const uint64_t* e, uint64_t low)
{
    const size_t limb = size_t(low / 64);
    const unsigned shift = unsigned(low % 64);
    uint64_t bits = e[limb] >> shift;
    if (shift > 64 - kSecretWindow)
        bits |= e[limb + 1] << (64 - shift);
    return unsigned(bits) & (kSecretEntries - 1);
}

// One modulus in radix 2^52 with what its powers need.
struct Context {
    size_t digits = 0;  // K
    size_t vectors = 0; // V
    uint64_t k0 = 0;
    LimbBuffer<uint64_t> space;
    uint64_t* m;     // K digits padded to 8V
    uint64_t* rr;    // R^2 mod m, digits
    uint64_t* one;   // R mod m, digits
    uint64_t* unity; // the number 1, digits

    Context(const uint64_t* modulus, size_t n, uint64_t bits)
        : digits(DigitsFor(bits)), vectors(VectorsFor(digits)), space(4 * kLanes * vectors)
    {
        const size_t width = kLanes * vectors;
        m = space.Get();
        rr = m + width;
        one = rr + width;
        unity = one + width;
        std::memset(m, 0, 4 * width * sizeof(uint64_t));
        ToDigits(m, digits, modulus, n);
        k0 = NegInverse52(m[0]);
        unity[0] = 1;
        // R mod m and R^2 mod m by long division of the powers of two
        // (values of the public modulus alone).
        const uint64_t rbits = uint64_t(digits) * kDigitBits;
        for (int power = 1; power <= 2; ++power) {
            const uint64_t shift = rbits * uint64_t(power);
            const size_t un = size_t(shift / 64) + 1;
            LimbBuffer<uint64_t> u(un), rem(n);
            std::memset(u.Get(), 0, un * sizeof(uint64_t));
            u[un - 1] = uint64_t(1) << (shift % 64);
            DivRem<uint64_t>(nullptr, rem.Get(), u.Get(), un, modulus, n);
            ToDigits(power == 1 ? one : rr, digits, rem.Get(), n);
        }
    }

    size_t Width() const { return kLanes * vectors; }
};

// The value of the almost-reduced x (below 2m, Montgomery form, digits) as
// an n-limb number below m: x / R by a product with 1, which is at most m,
// and m itself taken off under a mask.
template <size_t V>
void Leave(uint64_t* result, const uint64_t* x, const Context& c, const uint64_t* modulus, size_t n)
{
    uint64_t plain[kLanes * V];
    Product1<V>(plain, x, c.unity, c.m, c.k0, c.digits);
    LimbBuffer<uint64_t> diff(n);
    FromDigits(result, n, plain, c.digits);
    const uint64_t borrow = SubN(diff.Get(), result, modulus, n);
    const uint64_t keep = borrow - 1; // all ones when result >= m
    for (size_t i = 0; i < n; ++i)
        result[i] = (diff[i] & keep) | (result[i] & ~keep);
    SecureWipe(plain, sizeof(plain));
}

template <size_t V>
void SecretPower1(uint64_t* result, const uint64_t* g, const uint64_t* e, uint64_t bits, const uint64_t* modulus,
                  size_t n, const Context& c)
{
    constexpr size_t W = kLanes * V;
    LimbBuffer<uint64_t> space((kSecretEntries + 2) * W);
    uint64_t* table = space.Get();
    uint64_t* entry = table + kSecretEntries * W;
    uint64_t* acc = entry + W;
    std::memset(acc, 0, W * sizeof(uint64_t));
    ToDigits(acc, c.digits, g, n);
    std::memcpy(table, c.one, W * sizeof(uint64_t));
    Product1<V>(table + W, acc, c.rr, c.m, c.k0, c.digits); // g R
    for (size_t k = 2; k < kSecretEntries; ++k)
        Product1<V>(table + k * W, table + (k - 1) * W, table + W, c.m, c.k0, c.digits);

    // The top window's entry is the start; each further window costs five
    // squarings and a product.
    const uint64_t windows = (bits + kSecretWindow - 1) / kSecretWindow;
    Gather<V>(acc, table, WindowBits(e, (windows - 1) * kSecretWindow));
    for (uint64_t w = windows - 1; w-- > 0;) {
        for (unsigned s = 0; s < kSecretWindow; ++s)
            Product1<V>(acc, acc, acc, c.m, c.k0, c.digits);
        Gather<V>(entry, table, WindowBits(e, w * kSecretWindow));
        Product1<V>(acc, acc, entry, c.m, c.k0, c.digits);
    }
    Leave<V>(result, acc, c, modulus, n);
}

template <size_t V>
void SecretPower2(uint64_t* r1, const uint64_t* g1, const uint64_t* e1, const uint64_t* m1, size_t n1,
                  const Context& c1, uint64_t* r2, const uint64_t* g2, const uint64_t* e2, const uint64_t* m2,
                  size_t n2, const Context& c2, uint64_t bits)
{
    constexpr size_t W = kLanes * V;
    const size_t K = c1.digits;
    LimbBuffer<uint64_t> space(2 * (kSecretEntries + 2) * W);
    uint64_t* t1 = space.Get();
    uint64_t* x1 = t1 + kSecretEntries * W;
    uint64_t* a1 = x1 + W;
    uint64_t* t2 = a1 + W;
    uint64_t* x2 = t2 + kSecretEntries * W;
    uint64_t* a2 = x2 + W;
    std::memset(a1, 0, W * sizeof(uint64_t));
    std::memset(a2, 0, W * sizeof(uint64_t));
    ToDigits(a1, K, g1, n1);
    ToDigits(a2, K, g2, n2);
    std::memcpy(t1, c1.one, W * sizeof(uint64_t));
    std::memcpy(t2, c2.one, W * sizeof(uint64_t));
    Product2<V>(t1 + W, a1, c1.rr, c1.m, c1.k0, t2 + W, a2, c2.rr, c2.m, c2.k0, K);
    for (size_t k = 2; k < kSecretEntries; ++k)
        Product2<V>(t1 + k * W, t1 + (k - 1) * W, t1 + W, c1.m, c1.k0, t2 + k * W, t2 + (k - 1) * W, t2 + W,
                    c2.m, c2.k0, K);

    const uint64_t windows = (bits + kSecretWindow - 1) / kSecretWindow;
    Gather<V>(a1, t1, WindowBits(e1, (windows - 1) * kSecretWindow));
    Gather<V>(a2, t2, WindowBits(e2, (windows - 1) * kSecretWindow));
    for (uint64_t w = windows - 1; w-- > 0;) {
        for (unsigned s = 0; s < kSecretWindow; ++s)
            Product2<V>(a1, a1, a1, c1.m, c1.k0, a2, a2, a2, c2.m, c2.k0, K);
        Gather<V>(x1, t1, WindowBits(e1, w * kSecretWindow));
        Gather<V>(x2, t2, WindowBits(e2, w * kSecretWindow));
        Product2<V>(a1, a1, x1, c1.m, c1.k0, a2, a2, x2, c2.m, c2.k0, K);
    }
    Leave<V>(r1, a1, c1, m1, n1);
    Leave<V>(r2, a2, c2, m2, n2);
}

inline unsigned Bit(const uint64_t* e, uint64_t i)
{
    return unsigned(e[i / 64] >> (i % 64)) & 1;
}

template <size_t V>
void PublicPower(uint64_t* result, const uint64_t* g, const uint64_t* e, uint64_t ebits, const uint64_t* modulus,
                 size_t n, const Context& c)
{
    constexpr size_t W = kLanes * V;
    const unsigned w = WindowWidth(ebits);
    const size_t entries = size_t(1) << (w - 1);
    LimbBuffer<uint64_t> space((entries + 2) * W);
    uint64_t* table = space.Get(); // table[k] = g^(2k + 1) R
    uint64_t* g2 = table + entries * W;
    uint64_t* acc = g2 + W;
    std::memset(acc, 0, W * sizeof(uint64_t));
    ToDigits(acc, c.digits, g, n);
    Product1<V>(table, acc, c.rr, c.m, c.k0, c.digits);
    if (entries > 1) {
        Product1<V>(g2, table, table, c.m, c.k0, c.digits);
        for (size_t k = 1; k < entries; ++k)
            Product1<V>(table + k * W, table + (k - 1) * W, g2, c.m, c.k0, c.digits);
    }
    bool started = false;
    uint64_t i = ebits;
    while (i > 0) {
        const uint64_t top = i - 1;
        if (!Bit(e, top)) {
            Product1<V>(acc, acc, acc, c.m, c.k0, c.digits);
            i = top;
            continue;
        }
        uint64_t low = top + 1 >= w ? top + 1 - w : 0;
        while (!Bit(e, low))
            ++low;
        size_t value = 0;
        for (uint64_t b = top + 1; b-- > low;)
            value = (value << 1) | Bit(e, b);
        const uint64_t* entry = table + (value >> 1) * W;
        if (!started) {
            std::memcpy(acc, entry, W * sizeof(uint64_t));
            started = true;
        } else {
            for (uint64_t s = low; s <= top; ++s)
                Product1<V>(acc, acc, acc, c.m, c.k0, c.digits);
            Product1<V>(acc, acc, entry, c.m, c.k0, c.digits);
        }
        i = low;
    }
    Leave<V>(result, acc, c, modulus, n);
}

uint64_t BitsOf(const uint64_t* m, size_t n)
{
    n = Significant(m, n);
    return n == 0 ? 0 : uint64_t(n) * 64 - CountLeadingZeros(m[n - 1]);
}

// Calls f.template operator()<V>() for the context's register count.
template <typename F>
void WithVectors(size_t vectors, F&& f)
{
    switch (vectors) {
    case 2: f(std::integral_constant<size_t, 2>()); break;
    case 3: f(std::integral_constant<size_t, 3>()); break;
    case 4: f(std::integral_constant<size_t, 4>()); break;
    case 5: f(std::integral_constant<size_t, 5>()); break;
    case 6: f(std::integral_constant<size_t, 6>()); break;
    case 7: f(std::integral_constant<size_t, 7>()); break;
    case 8: f(std::integral_constant<size_t, 8>()); break;
    case 9: f(std::integral_constant<size_t, 9>()); break;
    case 10: f(std::integral_constant<size_t, 10>()); break;
    default: break; // not reached: TakesModulus keeps to these
    }
}

bool DetectCpu()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const unsigned kOsxsave = 1u << 27;
    if (!(ecx & kOsxsave))
        return false;
    // XCR0: SSE, AVX, the opmask registers and both halves of the upper
    // ZMM state saved by the operating system.
    unsigned lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    const unsigned kZmmState = 0x2 | 0x4 | 0x20 | 0x40 | 0x80;
    if ((lo & kZmmState) != kZmmState)
        return false;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    const unsigned kAvx512f = 1u << 16, kAvx512ifma = 1u << 21;
    return (ebx & (kAvx512f | kAvx512ifma)) == (kAvx512f | kAvx512ifma);
}

} // namespace

bool CpuSupported()
{
    static const bool supported = DetectCpu();
    return supported;
}

bool TakesModulus(uint64_t bits)
{
    return bits >= kMinBits && VectorsFor(DigitsFor(bits)) <= kMaxVectors;
}

void PowModSecret(uint64_t* result, const uint64_t* g, const uint64_t* e, uint64_t bits, const uint64_t* m,
                  size_t n)
{
    const Context c(m, n, BitsOf(m, n));
    WithVectors(c.vectors, [&](auto v) { SecretPower1<decltype(v)::value>(result, g, e, bits, m, n, c); });
}

void PowModSecretPair(uint64_t* r1, const uint64_t* g1, const uint64_t* e1, const uint64_t* m1, size_t n1,
                      uint64_t* r2, const uint64_t* g2, const uint64_t* e2, const uint64_t* m2, size_t n2,
                      uint64_t bits)
{
    const Context c1(m1, n1, BitsOf(m1, n1)), c2(m2, n2, BitsOf(m2, n2));
    if (c1.digits != c2.digits) {
        WithVectors(c1.vectors, [&](auto v) { SecretPower1<decltype(v)::value>(r1, g1, e1, bits, m1, n1, c1); });
        WithVectors(c2.vectors, [&](auto v) { SecretPower1<decltype(v)::value>(r2, g2, e2, bits, m2, n2, c2); });
        return;
    }
    WithVectors(c1.vectors, [&](auto v) {
        SecretPower2<decltype(v)::value>(r1, g1, e1, m1, n1, c1, r2, g2, e2, m2, n2, c2, bits);
    });
}

void PowMod(uint64_t* result, const uint64_t* g, const uint64_t* e, uint64_t ebits, const uint64_t* m, size_t n)
{
    const Context c(m, n, BitsOf(m, n));
    WithVectors(c.vectors, [&](auto v) { PublicPower<decltype(v)::value>(result, g, e, ebits, m, n, c); });
}

bool AlmostMontgomeryProduct(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m, size_t digits)
{
    const size_t vectors = VectorsFor(digits);
    if (digits < 10 || vectors > kMaxVectors || !CpuSupported())
        return false;
    const size_t width = kLanes * vectors;
    LimbBuffer<uint64_t> space(4 * width);
    uint64_t* pa = space.Get();
    uint64_t* pb = pa + width;
    uint64_t* pm = pb + width;
    uint64_t* pr = pm + width;
    std::memset(pa, 0, 4 * width * sizeof(uint64_t));
    std::memcpy(pa, a, digits * sizeof(uint64_t));
    std::memcpy(pb, b, digits * sizeof(uint64_t));
    std::memcpy(pm, m, digits * sizeof(uint64_t));
    const uint64_t k0 = NegInverse52(m[0]);
    WithVectors(vectors, [&](auto v) { Product1<decltype(v)::value>(pr, pa, pb, pm, k0, digits); });
    std::memcpy(r, pr, digits * sizeof(uint64_t));
    return true;
}

#else // no kernel on this build

bool CpuSupported()
{
    return false;
}

bool TakesModulus(uint64_t)
{
    return false;
}

void PowModSecret(uint64_t*, const uint64_t*, const uint64_t*, uint64_t, const uint64_t*, size_t) {}

void PowModSecretPair(uint64_t*, const uint64_t*, const uint64_t*, const uint64_t*, size_t, uint64_t*,
                      const uint64_t*, const uint64_t*, const uint64_t*, size_t, uint64_t)
{
}

void PowMod(uint64_t*, const uint64_t*, const uint64_t*, uint64_t, const uint64_t*, size_t) {}

bool AlmostMontgomeryProduct(uint64_t*, const uint64_t*, const uint64_t*, const uint64_t*, size_t)
{
    return false;
}

#endif

} // namespace ifma
} // namespace zel_bigint
