#include "cipher/ghash.h"

#include "cipher/ghash_x86.h"
#include "core/bytes.h"
#include "core/wipe.h"

#include <atomic>

#if ZEL_GHASH_X86
#include <cpuid.h>
#endif

namespace {

// ---------------------------------------------------------------------------
// Portable arithmetic.
//
// An element is the 128-bit number hi:lo (see XGhashElement), so z^i is bit
// 127 - i.  The carry-less product of two such numbers is a 256-bit number
// P3:P2:P1:P0 with z^0 at bit 254; multiplying by H * z^-1 instead of H puts
// z^0 at bit 255, where it belongs in a 256-bit element, and the product is
// then reduced: P1:P0 holds z^128 .. z^255 and folds back as
// z^128 = z^7 + z^2 + z + 1, which in this bit order means shifting right by
// 0, 1, 2 and 7 bits.

// The low 64 bits of the carry-less product x * y.  Each operand is split
// into four parts holding every fourth bit; an integer product of two parts
// has its bits on a 4-bit grid where each place sums at most 15 partial
// products in the low 64 bits, so the carries stay in the gaps and masking
// the grid leaves the XOR of the partial products.  No table, no branch.
inline uint64_t Bmul64(uint64_t x, uint64_t y)
{
    const uint64_t m0 = 0x1111111111111111u, m1 = 0x2222222222222222u, m2 = 0x4444444444444444u,
                   m3 = 0x8888888888888888u;
    const uint64_t x0 = x & m0, x1 = x & m1, x2 = x & m2, x3 = x & m3;
    const uint64_t y0 = y & m0, y1 = y & m1, y2 = y & m2, y3 = y & m3;
    uint64_t z0 = (x0 * y0) ^ (x1 * y3) ^ (x2 * y2) ^ (x3 * y1);
    uint64_t z1 = (x0 * y1) ^ (x1 * y0) ^ (x2 * y3) ^ (x3 * y2);
    uint64_t z2 = (x0 * y2) ^ (x1 * y1) ^ (x2 * y0) ^ (x3 * y3);
    uint64_t z3 = (x0 * y3) ^ (x1 * y2) ^ (x2 * y1) ^ (x3 * y0);
    return (z0 & m0) | (z1 & m1) | (z2 & m2) | (z3 & m3);
}

inline uint64_t Rev64(uint64_t x)
{
    x = ((x & 0x5555555555555555u) << 1) | ((x >> 1) & 0x5555555555555555u);
    x = ((x & 0x3333333333333333u) << 2) | ((x >> 2) & 0x3333333333333333u);
    x = ((x & 0x0f0f0f0f0f0f0f0fu) << 4) | ((x >> 4) & 0x0f0f0f0f0f0f0f0fu);
    x = ((x & 0x00ff00ff00ff00ffu) << 8) | ((x >> 8) & 0x00ff00ff00ff00ffu);
    x = ((x & 0x0000ffff0000ffffu) << 16) | ((x >> 16) & 0x0000ffff0000ffffu);
    return (x << 32) | (x >> 32);
}

// A factor with its bit-reversed words precomputed: the high half of a
// 64 x 64 product is the reversed low half of the product of the reversed
// operands, shifted by one.
struct PortableFactor {
    uint64_t lo, hi, mid, loRev, hiRev, midRev;
};

PortableFactor Factor(const XGhashElement& h)
{
    const uint64_t mid = h.lo ^ h.hi;
    return {h.lo, h.hi, mid, Rev64(h.lo), Rev64(h.hi), Rev64(mid)};
}

// y * h where `h` is the factor of H * z^-1: the element y * H.
XGhashElement Multiply(const XGhashElement& y, const PortableFactor& h)
{
    const uint64_t mid = y.lo ^ y.hi;
    // Karatsuba: lo * lo, hi * hi, and (lo ^ hi) * (lo ^ hi), each as a low
    // and a high word.
    const uint64_t a0 = Bmul64(y.lo, h.lo), b0 = Bmul64(y.hi, h.hi);
    uint64_t c0 = Bmul64(mid, h.mid);
    const uint64_t a1 = Rev64(Bmul64(Rev64(y.lo), h.loRev)) >> 1;
    const uint64_t b1 = Rev64(Bmul64(Rev64(y.hi), h.hiRev)) >> 1;
    uint64_t c1 = Rev64(Bmul64(Rev64(mid), h.midRev)) >> 1;
    c0 ^= a0 ^ b0;
    c1 ^= a1 ^ b1;

    uint64_t p0 = a0, p1 = a1 ^ c0, p2 = b0 ^ c1, p3 = b1;
    p2 ^= p0 ^ (p0 >> 1) ^ (p0 >> 2) ^ (p0 >> 7);
    p1 ^= (p0 << 63) ^ (p0 << 62) ^ (p0 << 57);
    p3 ^= p1 ^ (p1 >> 1) ^ (p1 >> 2) ^ (p1 >> 7);
    p2 ^= (p1 << 63) ^ (p1 << 62) ^ (p1 << 57);
    return {p2, p3};
}

// h * z^-1.  In this bit order z^-1 is a shift left by one; z^0 leaves at
// the top and comes back as z^-1 = z^127 + z^6 + z + 1 (bits 0, 121, 126, 127).
XGhashElement TimesInverseZ(const XGhashElement& h)
{
    const uint64_t carry = 0 - (h.hi >> 63);
    return {(h.lo << 1) ^ (carry & 1), ((h.hi << 1) | (h.lo >> 63)) ^ (carry & 0xc200000000000000u)};
}

XGhashElement ReadElement(const uint8_t* p)
{
    return {LoadBe64(p + 8), LoadBe64(p)};
}

void WriteElement(uint8_t* p, const XGhashElement& e)
{
    StoreBe64(p, e.hi);
    StoreBe64(p + 8, e.lo);
}

void UpdatePortable(const XGhashKey& key, uint8_t* y, const uint8_t* blocks, size_t count)
{
    PortableFactor h = Factor(key.Powers()[0]);
    XGhashElement acc = ReadElement(y);
    for (size_t i = 0; i < count; ++i, blocks += 16) {
        const XGhashElement x = ReadElement(blocks);
        acc = Multiply({acc.lo ^ x.lo, acc.hi ^ x.hi}, h);
    }
    WriteElement(y, acc);
    SecureWipe(&h, sizeof h);
    SecureWipe(&acc, sizeof acc);
}

#if ZEL_GHASH_X86
// ---------------------------------------------------------------------------
// PCLMULQDQ: eight blocks per reduction, then four, then one at a time.

ZEL_X86_MODES_ENTRY void UpdatePclmul(const XGhashKey& key, uint8_t* y, const uint8_t* blocks, size_t count)
{
    using namespace ghash_x86;
    Powers<8> p;
    LoadPowers(key, p);
    __m128i acc = LoadElement(y);
    __m128i x[8];
    for (; count >= 8; count -= 8, blocks += 128) {
#pragma GCC unroll 8
        for (size_t i = 0; i < 8; ++i)
            x[i] = LoadElement(blocks + 16 * i);
        acc = Absorb<8>(acc, x, p);
    }
    if (count >= 4) {
#pragma GCC unroll 4
        for (size_t i = 0; i < 4; ++i)
            x[i] = LoadElement(blocks + 16 * i);
        acc = Absorb<4>(acc, x, p);
        count -= 4;
        blocks += 64;
    }
    for (; count > 0; --count, blocks += 16) {
        x[0] = LoadElement(blocks);
        acc = Absorb<1>(acc, x, p);
    }
    StoreElement(y, acc);
}

bool CpuHasPclmul()
{
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    return (edx & bit_SSE2) && (ecx & bit_SSSE3) && (ecx & bit_SSE4_1) && (ecx & bit_PCLMUL);
}
#endif

// ---------------------------------------------------------------------------
// Engine selection, as for AES.

bool Available(GhashEngine engine)
{
    switch (engine) {
    case GhashEngine::kPortable:
        return true;
    case GhashEngine::kPclmul:
#if ZEL_GHASH_X86
    {
        static const bool present = CpuHasPclmul();
        return present;
    }
#else
        return false;
#endif
    }
    return false;
}

std::atomic<int> g_engine{-1};

GhashEngine ActiveEngine()
{
    int engine = g_engine.load(std::memory_order_relaxed);
    if (engine < 0) {
        engine = int(Available(GhashEngine::kPclmul) ? GhashEngine::kPclmul : GhashEngine::kPortable);
        g_engine.store(engine, std::memory_order_relaxed);
    }
    return GhashEngine(engine);
}

} // namespace

bool GhashEngineAvailable(GhashEngine engine)
{
    return Available(engine);
}

GhashEngine GhashActiveEngine()
{
    return ActiveEngine();
}

bool GhashSelectEngine(GhashEngine engine)
{
    if (!Available(engine))
        return false;
    g_engine.store(int(engine), std::memory_order_relaxed);
    return true;
}

// ---------------------------------------------------------------------------
// XGhashKey

void XGhashKey::SetKey(const uint8_t* h)
{
    const XGhashElement first = ReadElement(h);
    PortableFactor factor = Factor(TimesInverseZ(first));
    XGhashElement power = first;
    for (size_t i = 0; i < kPowers; ++i) {
        if (i)
            power = Multiply(power, factor);
        powers_[i] = TimesInverseZ(power);
        folded_[i] = powers_[i].lo ^ powers_[i].hi;
    }
    SecureWipe(&factor, sizeof factor);
    SecureWipe(&power, sizeof power);
}

XGhashKey::~XGhashKey()
{
    SecureWipe(powers_, sizeof powers_);
    SecureWipe(folded_, sizeof folded_);
}

void XGhashKey::Update(uint8_t* y, const uint8_t* blocks, size_t count) const
{
    if (count == 0)
        return;
#if ZEL_GHASH_X86
    if (ActiveEngine() == GhashEngine::kPclmul) {
        UpdatePclmul(*this, y, blocks, count);
        return;
    }
#endif
    UpdatePortable(*this, y, blocks, count);
}
