// The vector Montgomery kernels of the 32-bit-limb big integers (SSE2 and
// AVX2, one source compiled for x86-64 and i686 alike, each kernel under its
// own target attribute) and the run-time choice between them and the
// portable limb loops.
#include "rsa/bigint_sse2.h"

#include "rsa/bigint_limbs.h"

#include <atomic>
#include <cstring>
#include <new>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define ZEL_BIGINT_VECTOR32 1
#include <cpuid.h>
#include <immintrin.h>
#else
#define ZEL_BIGINT_VECTOR32 0
#endif

// 32-bit Windows only keeps the stack 4-byte aligned across calls, and the
// compiler spills vector registers to 16- and 32-byte aligned stack slots
// (eight vector registers are few): the kernels realign the stack on entry.
#if ZEL_BIGINT_VECTOR32 && defined(__i386__)
#define ZEL_REALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define ZEL_REALIGN_STACK
#endif

namespace zel_bigint {

namespace {

constexpr uint32_t kDigitMask = (uint32_t(1) << VectorMontgomery32::kDigitBits) - 1;

#if ZEL_BIGINT_VECTOR32

bool CpuHasSse2()
{
#if defined(__x86_64__)
    return true; // part of the x86-64 baseline
#else
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    return (edx & (1u << 26)) != 0;
#endif
}

bool CpuHasAvx2()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const unsigned kOsxsave = 1u << 27, kAvx = 1u << 28;
    if ((ecx & (kOsxsave | kAvx)) != (kOsxsave | kAvx))
        return false;
    // The system saves the SSE and AVX register state on task switches.
    unsigned xcr0 = 0, xcr0High = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
    if ((xcr0 & 6u) != 6u)
        return false;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    return (ebx & (1u << 5)) != 0;
}

#endif

bool Available(XBigIntNarrowKernel kernel)
{
    switch (kernel) {
    case XBigIntNarrowKernel::kPortable:
        return true;
#if ZEL_BIGINT_VECTOR32
    case XBigIntNarrowKernel::kSse2:
        return CpuHasSse2();
    case XBigIntNarrowKernel::kAvx2:
        return CpuHasAvx2();
#endif
    default:
        return false;
    }
}

// AVX2 where the CPU has it (measured: 1.3 times the speed of SSE2 on the
// RSA-2048 private operation's exponentiations, 1.5 times on PowMod 2048),
// else SSE2, else the portable loops.
XBigIntNarrowKernel DefaultKernel()
{
    if (Available(XBigIntNarrowKernel::kAvx2))
        return XBigIntNarrowKernel::kAvx2;
    if (Available(XBigIntNarrowKernel::kSse2))
        return XBigIntNarrowKernel::kSse2;
    return XBigIntNarrowKernel::kPortable;
}

std::atomic<int> g_narrowKernel{int(DefaultKernel())};

// The rows of one product.  Row i takes digit b_i: the scalar part settles
// lane i (held in `lane`, with the carry from lane i-1) and chooses q_i,
// then adds row i's share to lane i+1 before loading it as the next `lane`,
// so that the chain from one q to the next runs through registers only; the
// vector part adds a[j] b_i + m[j] q_i to lanes i+j for j = 2 .. d-1, whole
// vectors at a time over the zero lanes above d.  On return `lane` holds
// lane d and `carry` the carry into it; lanes d+1 .. 2d-1 are in t.
struct RowState {
    uint64_t lane;
    uint64_t carry;
};

#define ZEL_ROW_SCALAR_PART()                                                                                  \
    const uint32_t bi = b[i];                                                                                  \
    uint64_t v = lane + carry + uint64_t(a0) * bi;                                                             \
    const uint32_t q = (uint32_t(v) * minv) & kDigitMask;                                                      \
    v += uint64_t(m0) * q;                                                                                     \
    carry = v >> VectorMontgomery32::kDigitBits;                                                               \
    lane = t[i + 1] + uint64_t(a1) * bi + uint64_t(m1) * q

// Rows i and i + 1 taken together (the vector part then adds both rows'
// products to lanes i+3 .. i+d in one pass): q_i, then lane i+1 with row i's
// share, q_(i+1), and the next `lane`, lane i+2 with both rows' shares.
#define ZEL_PAIR_SCALAR_PART()                                                                                 \
    const uint32_t b0 = b[i];                                                                                  \
    uint64_t v = lane + carry + uint64_t(a0) * b0;                                                             \
    const uint32_t q0 = (uint32_t(v) * minv) & kDigitMask;                                                     \
    v += uint64_t(m0) * q0;                                                                                    \
    carry = v >> VectorMontgomery32::kDigitBits;                                                               \
    lane = t[i + 1] + uint64_t(a1) * b0 + uint64_t(m1) * q0;                                                   \
    const uint32_t b1 = b[i + 1];                                                                              \
    v = lane + carry + uint64_t(a0) * b1;                                                                      \
    const uint32_t q1 = (uint32_t(v) * minv) & kDigitMask;                                                     \
    v += uint64_t(m0) * q1;                                                                                    \
    carry = v >> VectorMontgomery32::kDigitBits;                                                               \
    lane = t[i + 2] + uint64_t(a2s) * b0 + uint64_t(m2s) * q0 + uint64_t(a1) * b1 + uint64_t(m1) * q1

#if ZEL_BIGINT_VECTOR32

// Both kernels take the rows two at a time: the scalar part settles lanes i
// and i+1 and chooses q_i and q_(i+1), and one pass over lanes i+3 .. i+d
// adds both rows' products, so that each accumulator vector is loaded and
// stored once per two rows (measured: a fifth less time for the RSA-2048
// private operation with AVX2).  An odd last row goes alone.
__attribute__((target("sse2"))) ZEL_REALIGN_STACK RowState RowsSse2(uint64_t* t, const uint64_t* a,
                                                                     const uint64_t* m, const uint32_t* b,
                                                                     size_t d, uint32_t minv)
{
    const uint32_t a0 = uint32_t(a[0]), a1 = uint32_t(a[1]), m0 = uint32_t(m[0]), m1 = uint32_t(m[1]);
    const uint32_t a2s = uint32_t(a[2]), m2s = uint32_t(m[2]);
    const __m128i* a2 = reinterpret_cast<const __m128i*>(a + 2);
    const __m128i* m2 = reinterpret_cast<const __m128i*>(m + 2);
    const __m128i* a3 = reinterpret_cast<const __m128i*>(a + 3);
    const __m128i* m3 = reinterpret_cast<const __m128i*>(m + 3);
    const size_t vectors = (d - 2 + 1) / 2;
    uint64_t lane = 0, carry = 0;
    size_t i = 0;
    for (; i + 1 < d; i += 2) {
        ZEL_PAIR_SCALAR_PART();
        const __m128i vb0 = _mm_set1_epi32(int(b0)), vq0 = _mm_set1_epi32(int(q0));
        const __m128i vb1 = _mm_set1_epi32(int(b1)), vq1 = _mm_set1_epi32(int(q1));
        __m128i* row = reinterpret_cast<__m128i*>(t + i + 3);
        for (size_t j = 0; j < vectors; ++j) {
            __m128i x = _mm_loadu_si128(row + j);
            x = _mm_add_epi64(x, _mm_mul_epu32(_mm_loadu_si128(a3 + j), vb0));
            x = _mm_add_epi64(x, _mm_mul_epu32(_mm_loadu_si128(m3 + j), vq0));
            x = _mm_add_epi64(x, _mm_mul_epu32(_mm_load_si128(a2 + j), vb1));
            x = _mm_add_epi64(x, _mm_mul_epu32(_mm_load_si128(m2 + j), vq1));
            _mm_storeu_si128(row + j, x);
        }
    }
    for (; i < d; ++i) {
        ZEL_ROW_SCALAR_PART();
        const __m128i vb = _mm_set1_epi32(int(bi)), vq = _mm_set1_epi32(int(q));
        __m128i* row = reinterpret_cast<__m128i*>(t + i + 2);
        for (size_t j = 0; j < vectors; ++j) {
            __m128i x = _mm_loadu_si128(row + j);
            x = _mm_add_epi64(x, _mm_mul_epu32(_mm_load_si128(a2 + j), vb));
            x = _mm_add_epi64(x, _mm_mul_epu32(_mm_load_si128(m2 + j), vq));
            _mm_storeu_si128(row + j, x);
        }
    }
    return {lane, carry};
}

__attribute__((target("avx2"))) ZEL_REALIGN_STACK RowState RowsAvx2(uint64_t* t, const uint64_t* a,
                                                                     const uint64_t* m, const uint32_t* b,
                                                                     size_t d, uint32_t minv)
{
    const uint32_t a0 = uint32_t(a[0]), a1 = uint32_t(a[1]), m0 = uint32_t(m[0]), m1 = uint32_t(m[1]);
    const uint32_t a2s = uint32_t(a[2]), m2s = uint32_t(m[2]);
    const __m256i* a2 = reinterpret_cast<const __m256i*>(a + 2);
    const __m256i* m2 = reinterpret_cast<const __m256i*>(m + 2);
    const __m256i* a3 = reinterpret_cast<const __m256i*>(a + 3);
    const __m256i* m3 = reinterpret_cast<const __m256i*>(m + 3);
    const size_t vectors = (d - 2 + 3) / 4;
    uint64_t lane = 0, carry = 0;
    size_t i = 0;
    for (; i + 1 < d; i += 2) {
        ZEL_PAIR_SCALAR_PART();
        const __m256i vb0 = _mm256_set1_epi32(int(b0)), vq0 = _mm256_set1_epi32(int(q0));
        const __m256i vb1 = _mm256_set1_epi32(int(b1)), vq1 = _mm256_set1_epi32(int(q1));
        __m256i* row = reinterpret_cast<__m256i*>(t + i + 3);
        for (size_t j = 0; j < vectors; ++j) {
            __m256i x = _mm256_loadu_si256(row + j);
            x = _mm256_add_epi64(x, _mm256_mul_epu32(_mm256_loadu_si256(a3 + j), vb0));
            x = _mm256_add_epi64(x, _mm256_mul_epu32(_mm256_loadu_si256(m3 + j), vq0));
            x = _mm256_add_epi64(x, _mm256_mul_epu32(_mm256_load_si256(a2 + j), vb1));
            x = _mm256_add_epi64(x, _mm256_mul_epu32(_mm256_load_si256(m2 + j), vq1));
            _mm256_storeu_si256(row + j, x);
        }
    }
    for (; i < d; ++i) {
        ZEL_ROW_SCALAR_PART();
        const __m256i vb = _mm256_set1_epi32(int(bi)), vq = _mm256_set1_epi32(int(q));
        __m256i* row = reinterpret_cast<__m256i*>(t + i + 2);
        for (size_t j = 0; j < vectors; ++j) {
            __m256i x = _mm256_loadu_si256(row + j);
            x = _mm256_add_epi64(x, _mm256_mul_epu32(_mm256_load_si256(a2 + j), vb));
            x = _mm256_add_epi64(x, _mm256_mul_epu32(_mm256_load_si256(m2 + j), vq));
            _mm256_storeu_si256(row + j, x);
        }
    }
    return {lane, carry};
}

#endif

// The same rows in plain C++: only reached when a vector kernel was asked
// for on a build without one (the constructor refuses that), kept so that
// every build compiles the same Multiply.
RowState RowsScalar(uint64_t* t, const uint64_t* a, const uint64_t* m, const uint32_t* b, size_t d,
                    uint32_t minv)
{
    const uint32_t a0 = uint32_t(a[0]), a1 = uint32_t(a[1]), m0 = uint32_t(m[0]), m1 = uint32_t(m[1]);
    uint64_t lane = 0, carry = 0;
    for (size_t i = 0; i < d; ++i) {
        ZEL_ROW_SCALAR_PART();
        for (size_t j = 2; j < d; ++j)
            t[i + j] += uint64_t(uint32_t(a[j])) * bi + uint64_t(uint32_t(m[j])) * q;
    }
    return {lane, carry};
}

#undef ZEL_ROW_SCALAR_PART
#undef ZEL_PAIR_SCALAR_PART

// The 28-bit digits of x (n limbs) into `digits` lanes of `out` (64-bit
// lanes or 32-bit words), by way of `stage` (n + 2 limbs), which gives the
// top digits zero limbs to read.
template <typename Digit>
void ToDigits(Digit* out, size_t digits, const uint32_t* x, size_t n, uint32_t* stage)
{
    std::memcpy(stage, x, n * sizeof(uint32_t));
    stage[n] = 0;
    stage[n + 1] = 0;
    for (size_t k = 0; k < digits; ++k) {
        const size_t bit = k * VectorMontgomery32::kDigitBits;
        const size_t word = bit / 32;
        const uint64_t pair = (uint64_t(stage[word + 1]) << 32) | stage[word];
        out[k] = Digit(uint32_t(pair >> (bit % 32)) & kDigitMask);
    }
}

} // namespace

VectorMontgomery32::VectorMontgomery32(const uint32_t* m, size_t n, XBigIntNarrowKernel kernel)
    : n_(n), digits_(32 * n / kDigitBits + 1), kernel_(kernel)
{
    if (!Fits(n) || kernel == XBigIntNarrowKernel::kPortable || !Available(kernel))
        throw std::bad_alloc(); // never asked for by the engine, which checks first
    const size_t d = digits_;
    // a and m: lanes from 2 below a 32-byte boundary (the vector loops read
    // from lane 2 on, aligned, and lane 3 on) up to past lane d + 4 (a whole
    // last vector from lane 3).
    const size_t rowLanes = (d + 8 + 3) / 4 * 4;
    const size_t tLanes = 2 * d + 8;
    const size_t words = d + (n + 2) + 3 * (n + 1);
    spaceLanes_ = 4 + 2 * rowLanes + tLanes + (words + 1) / 2;
    space_ = new uint64_t[spaceLanes_];
    std::memset(space_, 0, spaceLanes_ * sizeof(uint64_t));
    uint64_t* base = space_;
    while (reinterpret_cast<uintptr_t>(base) % 32 != 0)
        ++base; // new gives at least 8-byte alignment: at most 3 lanes skipped
    a_ = base + 2;
    m_ = base + rowLanes + 2;
    t_ = base + 2 * rowLanes;
    uint32_t* w = reinterpret_cast<uint32_t*>(t_ + tLanes);
    b_ = w;
    stage_ = b_ + d;
    out_ = stage_ + (n + 2);
    diff_ = out_ + (n + 1);
    mpad_ = diff_ + (n + 1);
    std::memcpy(mpad_, m, n * sizeof(uint32_t));
    mpad_[n] = 0;
    ToDigits(m_, d, m, n, stage_);
    minv_ = Montgomery<uint32_t>::NegInverse(m[0]) & kDigitMask;
}

VectorMontgomery32::~VectorMontgomery32()
{
    SecureWipe(space_, spaceLanes_ * sizeof(uint64_t));
    delete[] space_;
}

void VectorMontgomery32::Multiply(uint32_t* r, const uint32_t* a, const uint32_t* b)
{
    const size_t n = n_, d = digits_;
    ToDigits(a_, d, a, n, stage_);
    if (b == a) {
        for (size_t k = 0; k < d; ++k)
            b_[k] = uint32_t(a_[k]);
    } else {
        ToDigits(b_, d, b, n, stage_);
    }
    std::memset(t_, 0, (2 * d + 8) * sizeof(uint64_t));

    RowState rows;
#if ZEL_BIGINT_VECTOR32
    if (kernel_ == XBigIntNarrowKernel::kAvx2)
        rows = RowsAvx2(t_, a_, m_, b_, d, minv_);
    else
        rows = RowsSse2(t_, a_, m_, b_, d, minv_);
#else
    rows = RowsScalar(t_, a_, m_, b_, d, minv_);
#endif
    (void)&RowsScalar;

    // Settle the carries of lanes d .. 2d-1 and pack their 28-bit digits
    // into limbs: the sum is below 2m < R, so no carry is left at the top.
    uint64_t carry = rows.carry, window = 0;
    unsigned held = 0;
    size_t o = 0;
    for (size_t k = 0; k < d; ++k) {
        const uint64_t v = (k == 0 ? rows.lane : t_[d + k]) + carry;
        carry = v >> kDigitBits;
        window |= uint64_t(uint32_t(v) & kDigitMask) << held;
        held += kDigitBits;
        if (held >= 32) {
            out_[o++] = uint32_t(window);
            window >>= 32;
            held -= 32;
        }
    }
    // 28 d < 32 (n + 1): at most n limbs are complete here.
    out_[o++] = uint32_t(window);
    while (o <= n)
        out_[o++] = 0;

    // The result is out - m when that does not borrow, out otherwise:
    // chosen by mask, not by branch.
    const uint32_t borrow = SubN(diff_, out_, mpad_, n + 1);
    const uint32_t keepDifference = uint32_t(0) - (borrow ^ 1);
    for (size_t i = 0; i < n; ++i)
        r[i] = (diff_[i] & keepDifference) | (out_[i] & ~keepDifference);
}

} // namespace zel_bigint

bool XBigIntNarrowKernelAvailable(XBigIntNarrowKernel kernel)
{
    return zel_bigint::Available(kernel);
}

XBigIntNarrowKernel XBigIntActiveNarrowKernel()
{
    return XBigIntNarrowKernel(zel_bigint::g_narrowKernel.load(std::memory_order_relaxed));
}

bool XBigIntSelectNarrowKernel(XBigIntNarrowKernel kernel)
{
    if (!zel_bigint::Available(kernel))
        return false;
    zel_bigint::g_narrowKernel.store(int(kernel), std::memory_order_relaxed);
    return true;
}
