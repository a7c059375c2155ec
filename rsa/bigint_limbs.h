// Arithmetic on little-endian limb arrays, the layer under XBigIntT.  Every
// function is a template over the limb type (uint32_t with uint64_t products,
// uint64_t with unsigned __int128 products) and works on raw arrays whose
// sizes the caller guarantees.  Only DivRem allocates (its scratch).
//
// Notation: B = 2^kBits is the limb base; "n limbs" means n >= 1 unless said
// otherwise.  Results may alias inputs only where a function says so.
#pragma once

#include "core/wipe.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

// The limb loops are short (a few dozen iterations at RSA sizes) and carry a
// dependency through one register; unrolling them lets the compiler drop most
// of the loop overhead, which is a large share of each iteration.
// x86-64 with GCC or Clang: an assembly kernel for the row products
// (AddMul1) with the BMI2 and ADX instructions, used when the CPU has them.
#if defined(__GNUC__) && defined(__x86_64__)
#define ZEL_BIGINT_ADX 1
#include <atomic>
#else
#define ZEL_BIGINT_ADX 0
#endif

#if defined(__GNUC__)
#define ZEL_BIGINT_UNROLL _Pragma("GCC unroll 4")
#else
#define ZEL_BIGINT_UNROLL
#endif

namespace zel_bigint {

template <typename Limb>
struct LimbTraits;

template <>
struct LimbTraits<uint32_t> {
    using Wide = uint64_t;
};

#if defined(__SIZEOF_INT128__)
template <>
struct LimbTraits<uint64_t> {
    __extension__ typedef unsigned __int128 Wide;
};
#endif

template <typename Limb>
using Wide = typename LimbTraits<Limb>::Wide;

template <typename Limb>
constexpr unsigned kBits = 8 * sizeof(Limb);

// Leading zero bits of a non-zero limb.
template <typename Limb>
inline unsigned CountLeadingZeros(Limb x)
{
    unsigned n = 0;
    for (unsigned step = kBits<Limb> / 2; step; step /= 2) {
        if ((x >> (kBits<Limb> - step)) == 0) {
            x <<= step;
            n += step;
        }
    }
    return n;
}

// Heap scratch that is wiped before it is freed.
template <typename Limb>
class LimbBuffer {
public:
    explicit LimbBuffer(size_t count)
        : data_(count ? new Limb[count] : nullptr), count_(count)
    {
    }
    ~LimbBuffer()
    {
        if (data_) {
            SecureWipe(data_, count_ * sizeof(Limb));
            delete[] data_;
        }
    }
    LimbBuffer(const LimbBuffer&) = delete;
    LimbBuffer& operator=(const LimbBuffer&) = delete;

    Limb* Get() { return data_; }
    Limb& operator[](size_t i) { return data_[i]; }

private:
    Limb* data_;
    size_t count_;
};

// Limbs in use once the zero limbs on top are dropped (0 for all zeros).
template <typename Limb>
inline size_t Significant(const Limb* a, size_t n)
{
    while (n > 0 && a[n - 1] == 0)
        --n;
    return n;
}

// Compares two n-limb numbers: -1, 0 or 1.
template <typename Limb>
inline int CompareN(const Limb* a, const Limb* b, size_t n)
{
    while (n-- > 0) {
        if (a[n] != b[n])
            return a[n] < b[n] ? -1 : 1;
    }
    return 0;
}

// r = a + b over n limbs (n may be 0); returns the carry (0 or 1).  r may
// alias a or b.
template <typename Limb>
inline Limb AddN(Limb* r, const Limb* a, const Limb* b, size_t n)
{
    Limb carry = 0;
    for (size_t i = 0; i < n; ++i) {
        const Wide<Limb> t = Wide<Limb>(a[i]) + b[i] + carry; // <= 2B - 1
        r[i] = Limb(t);
        carry = Limb(t >> kBits<Limb>);
    }
    return carry;
}

// r = a - b over n limbs (n may be 0); returns the borrow (0 or 1).  r may
// alias a or b.
template <typename Limb>
inline Limb SubN(Limb* r, const Limb* a, const Limb* b, size_t n)
{
    Limb borrow = 0;
    for (size_t i = 0; i < n; ++i) {
        const Limb x = a[i], y = b[i];
        const Limb d = x - y;
        const Limb nb = Limb(x < y) | Limb(d < borrow);
        r[i] = d - borrow;
        borrow = nb;
    }
    return borrow;
}

// a += c over n limbs (n may be 0), the carry running up; returns the carry
// out of the top.
template <typename Limb>
inline Limb AddLimb(Limb* a, size_t n, Limb c)
{
    for (size_t i = 0; i < n && c; ++i) {
        a[i] += c;
        c = a[i] < c;
    }
    return c;
}

// a -= c over n limbs (n may be 0), the borrow running up; returns the
// borrow out of the top.
template <typename Limb>
inline Limb SubLimb(Limb* a, size_t n, Limb c)
{
    for (size_t i = 0; i < n && c; ++i) {
        const Limb x = a[i];
        a[i] = x - c;
        c = x < c;
    }
    return c;
}

// r = a * b over n limbs; returns the top limb.  r may alias a.
template <typename Limb>
inline Limb Mul1(Limb* r, const Limb* a, size_t n, Limb b)
{
    Limb carry = 0;
    ZEL_BIGINT_UNROLL
    for (size_t i = 0; i < n; ++i) {
        // (B-1)^2 + (B-1) < B^2
        const Wide<Limb> t = Wide<Limb>(a[i]) * b + carry;
        r[i] = Limb(t);
        carry = Limb(t >> kBits<Limb>);
    }
    return carry;
}

// r += a * b over n limbs; returns the carry into limb n.  r must not
// overlap a unless r == a.
template <typename Limb>
inline Limb AddMul1Portable(Limb* r, const Limb* a, size_t n, Limb b)
{
    Limb carry = 0;
    ZEL_BIGINT_UNROLL
    for (size_t i = 0; i < n; ++i) {
        // (B-1)^2 + 2(B-1) = B^2 - 1: the sum fits the double width.
        const Wide<Limb> t = Wide<Limb>(a[i]) * b + r[i] + carry;
        r[i] = Limb(t);
        carry = Limb(t >> kBits<Limb>);
    }
    return carry;
}

#if ZEL_BIGINT_ADX
// Whether AddMul1 takes the MULX/ADCX/ADOX kernel (set from CPUID at start
// up; XBigIntSelectKernel changes it).
extern std::atomic<bool> g_adxKernel;

// r[0, 4k) += a[0, 4k) * b + carry for k >= 1; returns the carry out.  Two
// carry chains run side by side: ADCX adds the high half of the previous
// product to the low half of the current one (CF), ADOX adds the limb of r
// (OF).  Nothing in the loop may touch those flags: the pointers advance by
// LEA and the loop ends by JRCXZ.
inline uint64_t AddMul4kAdx(uint64_t* r, const uint64_t* a, size_t k, uint64_t b, uint64_t carry)
{
    uint64_t lo0, hi0, lo1, hi1;
    __asm__ volatile(
        "xor %k[lo0], %k[lo0]\n\t" // clears CF and OF
        "1:\n\t"
        "mulx (%[a]), %[lo0], %[hi0]\n\t"
        "adcx %[carry], %[lo0]\n\t"
        "adox (%[r]), %[lo0]\n\t"
        "mov %[lo0], (%[r])\n\t"
        "mulx 8(%[a]), %[lo1], %[hi1]\n\t"
        "adcx %[hi0], %[lo1]\n\t"
        "adox 8(%[r]), %[lo1]\n\t"
        "mov %[lo1], 8(%[r])\n\t"
        "mulx 16(%[a]), %[lo0], %[hi0]\n\t"
        "adcx %[hi1], %[lo0]\n\t"
        "adox 16(%[r]), %[lo0]\n\t"
        "mov %[lo0], 16(%[r])\n\t"
        "mulx 24(%[a]), %[lo1], %[carry]\n\t"
        "adcx %[hi0], %[lo1]\n\t"
        "adox 24(%[r]), %[lo1]\n\t"
        "mov %[lo1], 24(%[r])\n\t"
        "lea 32(%[a]), %[a]\n\t"
        "lea 32(%[r]), %[r]\n\t"
        "lea -1(%[k]), %[k]\n\t"
        "jrcxz 2f\n\t"
        "jmp 1b\n\t"
        "2:\n\t"
        // The last high half plus both pending carries: below B, since
        // a * b + r + carry < B^(4k+1).
        "mov $0, %k[lo0]\n\t"
        "adcx %[lo0], %[carry]\n\t"
        "adox %[lo0], %[carry]\n\t"
        : [r] "+&r"(r), [a] "+&r"(a), [k] "+&c"(k), [carry] "+&r"(carry), [lo0] "=&r"(lo0), [hi0] "=&r"(hi0),
          [lo1] "=&r"(lo1), [hi1] "=&r"(hi1)
        : "d"(b)
        : "cc", "memory");
    return carry;
}
#endif

// r += a * b over n limbs; returns the carry into limb n.  r must not
// overlap a unless r == a.
template <typename Limb>
inline Limb AddMul1(Limb* r, const Limb* a, size_t n, Limb b)
{
#if ZEL_BIGINT_ADX
    if constexpr (sizeof(Limb) == 8) {
        if (n >= 4 && g_adxKernel.load(std::memory_order_relaxed)) {
            // The first n mod 4 limbs here, the rest four at a time.
            const size_t head = n % 4;
            const Limb carry = head ? AddMul1Portable(r, a, head, b) : 0;
            return AddMul4kAdx(r + head, a + head, n / 4, b, carry);
        }
    }
#endif
    return AddMul1Portable(r, a, n, b);
}

// Whether AddMul1 runs the MULX/ADX kernel.  With it, a full product of
// equal-length rows is quicker than the squaring's shorter rows, whose
// leftover limbs and short tails run the portable loop (measured on RSA-2048
// private operations: about 5 % less time).
template <typename Limb>
inline bool RowKernelIsFast()
{
#if ZEL_BIGINT_ADX
    if constexpr (sizeof(Limb) == 8)
        return g_adxKernel.load(std::memory_order_relaxed);
#endif
    return false;
}

// r -= a * b over n limbs; returns the amount to take from limb n (< B).
template <typename Limb>
inline Limb SubMul1(Limb* r, const Limb* a, size_t n, Limb b)
{
    Limb borrow = 0;
    ZEL_BIGINT_UNROLL
    for (size_t i = 0; i < n; ++i) {
        const Wide<Limb> p = Wide<Limb>(a[i]) * b + borrow;
        const Limb low = Limb(p);
        // The high half is at most B - 1, and B - 1 only with a low half of
        // 0, which cannot borrow: the sum stays below B.
        borrow = Limb(p >> kBits<Limb>);
        const Limb x = r[i];
        r[i] = x - low;
        borrow += x < low;
    }
    return borrow;
}

// r = a << shift over n limbs, 0 <= shift < kBits; returns the bits shifted
// out of the top.  r may alias a.
template <typename Limb>
inline Limb ShiftLeftN(Limb* r, const Limb* a, size_t n, unsigned shift)
{
    if (shift == 0) {
        if (r != a)
            std::memmove(r, a, n * sizeof(Limb));
        return 0;
    }
    const Limb out = a[n - 1] >> (kBits<Limb> - shift);
    for (size_t i = n - 1; i > 0; --i)
        r[i] = Limb(a[i] << shift) | (a[i - 1] >> (kBits<Limb> - shift));
    r[0] = Limb(a[0] << shift);
    return out;
}

// r = a >> shift over n limbs, 0 <= shift < kBits.  r may alias a.
template <typename Limb>
inline void ShiftRightN(Limb* r, const Limb* a, size_t n, unsigned shift)
{
    if (shift == 0) {
        if (r != a)
            std::memmove(r, a, n * sizeof(Limb));
        return;
    }
    for (size_t i = 0; i + 1 < n; ++i)
        r[i] = (a[i] >> shift) | Limb(a[i + 1] << (kBits<Limb> - shift));
    r[n - 1] = a[n - 1] >> shift;
}

// r = a * b, schoolbook: r has an + bn limbs and overlaps neither input.
template <typename Limb>
inline void MulBasecase(Limb* r, const Limb* a, size_t an, const Limb* b, size_t bn)
{
    r[an] = Mul1(r, a, an, b[0]);
    for (size_t j = 1; j < bn; ++j)
        r[an + j] = AddMul1(r + j, a, an, b[j]);
}

// r = a^2: r has 2n limbs and does not overlap a.  The products a[i]a[j],
// i < j, are summed once and doubled, then the squares a[i]^2 are added: about
// half the limb products of MulBasecase.
template <typename Limb>
inline void SqrBasecase(Limb* r, const Limb* a, size_t n)
{
    if (n == 1) {
        const Wide<Limb> t = Wide<Limb>(a[0]) * a[0];
        r[0] = Limb(t);
        r[1] = Limb(t >> kBits<Limb>);
        return;
    }
    // Row i adds a[i] * a[i+1..n) at position 2i + 1; its carry lands in
    // limb i + n, which no earlier row has written.
    r[0] = 0;
    r[n] = Mul1(r + 1, a + 1, n - 1, a[0]);
    for (size_t i = 1; i + 1 < n; ++i)
        r[i + n] = AddMul1(r + 2 * i + 1, a + i + 1, n - i - 1, a[i]);
    r[2 * n - 1] = 0;
    // Double the off-diagonal sum (below B^(2n) / 2, so nothing is lost) and
    // add the squares, two limbs per step.
    Limb shiftedOut = 0; // top bit of the limb below, moved up by the doubling
    Limb carry = 0;
    for (size_t i = 0; i < n; ++i) {
        const Wide<Limb> sq = Wide<Limb>(a[i]) * a[i];
        const Limb x0 = r[2 * i], x1 = r[2 * i + 1];
        const Limb d0 = Limb(x0 << 1) | shiftedOut;
        const Limb d1 = Limb(x1 << 1) | (x0 >> (kBits<Limb> - 1));
        shiftedOut = x1 >> (kBits<Limb> - 1);
        Wide<Limb> t = Wide<Limb>(d0) + Limb(sq) + carry;
        r[2 * i] = Limb(t);
        t = Wide<Limb>(d1) + Limb(sq >> kBits<Limb>) + Limb(t >> kBits<Limb>);
        r[2 * i + 1] = Limb(t);
        carry = Limb(t >> kBits<Limb>);
    }
    // a^2 < B^(2n): no carry is left.
}

// r = a * b for any sizes (an, bn >= 1); squares take the squaring path.
// r has an + bn limbs and overlaps neither input.
template <typename Limb>
inline void Mul(Limb* r, const Limb* a, size_t an, const Limb* b, size_t bn)
{
    if (a == b && an == bn)
        SqrBasecase(r, a, an);
    else if (an >= bn)
        MulBasecase(r, a, an, b, bn);
    else
        MulBasecase(r, b, bn, a, an);
}

// Divides a (n limbs) by the single limb d != 0: q (n limbs, may alias a)
// receives the quotient; returns the remainder.
template <typename Limb>
inline Limb DivRem1(Limb* q, const Limb* a, size_t n, Limb d)
{
    Limb r = 0;
    for (size_t i = n; i-- > 0;) {
        // r < d, so the quotient limb fits.
        const Wide<Limb> t = (Wide<Limb>(r) << kBits<Limb>) | a[i];
        q[i] = Limb(t / d);
        r = Limb(t % d);
    }
    return r;
}

// Knuth's long division (Algorithm D) on a normalized divisor.
//
// u has un + 1 limbs (un >= vn) whose top vn limbs, read as one number, are
// below v, so that every quotient limb fits in a limb; v has vn >= 2 limbs
// and the top bit of v[vn - 1] set.  On return u[0..vn) holds the
// remainder (the rest of u is zero) and, when q is not null, q[0..un - vn]
// the quotient.  q must not overlap u or v.
template <typename Limb>
inline void DivRemNormalized(Limb* q, Limb* u, size_t un, const Limb* v, size_t vn)
{
    using W = Wide<Limb>;
    constexpr unsigned kB = kBits<Limb>;
    const Limb d1 = v[vn - 1], d0 = v[vn - 2];
    for (size_t j = un - vn + 1; j-- > 0;) {
        Limb* uj = u + j;
        const Limb u2 = uj[vn], u1 = uj[vn - 1], u0 = uj[vn - 2];
        // Trial quotient from the top two limbs of the remainder and the top
        // limb of v: at most 2 too large (v normalized); the test against
        // the second limb of v removes all but rare cases of one too many.
        Limb qhat, rhat;
        bool rhatFits = true; // rhat < B
        if (u2 >= d1) {
            // u2 == d1: the two-limb quotient would be B or more; take B - 1
            // and rhat = u2 * B + u1 - (B - 1) * d1 = u1 + d1.
            qhat = Limb(~Limb(0));
            rhat = u1 + d1;
            rhatFits = rhat >= u1;
        } else {
            const W num = (W(u2) << kB) | u1;
            qhat = Limb(num / d1);
            rhat = Limb(num - W(qhat) * d1);
        }
        while (rhatFits && W(qhat) * d0 > ((W(rhat) << kB) | u0)) {
            --qhat;
            const Limb old = rhat;
            rhat += d1;
            rhatFits = rhat >= old;
        }
        const Limb borrow = SubMul1(uj, v, vn, qhat);
        if (uj[vn] < borrow) {
            // qhat was one too large: add v back; the carry out of the top
            // cancels the borrow.
            --qhat;
            AddN(uj, uj, v, vn);
        }
        uj[vn] = 0;
        if (q)
            q[j] = qhat;
    }
}

// q = floor(u / v) and r = u mod v for un >= vn >= 1, u[un - 1] and
// v[vn - 1] non-zero.  q (un - vn + 1 limbs) may be null; r has vn limbs.
// Neither q nor r overlaps u or v.
template <typename Limb>
inline void DivRem(Limb* q, Limb* r, const Limb* u, size_t un, const Limb* v, size_t vn)
{
    if (vn == 1) {
        if (q) {
            r[0] = DivRem1(q, u, un, v[0]);
        } else {
            // The remainder alone: only the running remainder is kept.
            Limb rem = 0;
            for (size_t i = un; i-- > 0;)
                rem = Limb(((Wide<Limb>(rem) << kBits<Limb>) | u[i]) % v[0]);
            r[0] = rem;
        }
        return;
    }
    // Scale both so that v's top bit is set: the trial quotients of the
    // long division are then at most 2 too large.
    const unsigned shift = CountLeadingZeros(v[vn - 1]);
    LimbBuffer<Limb> scratch(un + 1 + vn);
    Limb* un1 = scratch.Get();
    Limb* vs = un1 + un + 1;
    ShiftLeftN(vs, v, vn, shift);
    un1[un] = ShiftLeftN(un1, u, un, shift);
    DivRemNormalized(q, un1, un, vs, vn);
    ShiftRightN(r, un1, vn, shift);
}

// The modulus of a Montgomery representation: m odd, n limbs, R = B^n.
// Values are kept in [0, m) as x * R mod m.
template <typename Limb>
struct Montgomery {
    const Limb* m;
    size_t n;
    Limb minv; // -m^-1 mod B

    static Limb NegInverse(Limb m0)
    {
        // Newton's iteration doubles the correct low bits: m0 * m0 = 1 mod 8
        // gives 3, then 6, 12, 24, 48, 96.
        Limb x = m0;
        for (unsigned bits = 3; bits < kBits<Limb>; bits *= 2)
            x *= Limb(2) - m0 * x;
        return Limb(0) - x;
    }

    // r = t / R mod m for t < m * R held in 2n limbs (destroyed).  r has n
    // limbs and may alias t + n.
    void Reduce(Limb* r, Limb* t) const
    {
        // Each row clears the lowest remaining limb of t by adding a multiple
        // of m.  Its carry belongs to limb i + n; it is kept in the cleared
        // limb t[i] and added in one pass at the end, which is safe because
        // the multipliers depend only on limbs 0..n-1, which no carry reaches.
        for (size_t i = 0; i < n; ++i) {
            const Limb q = t[i] * minv;
            t[i] = AddMul1(t + i, m, n, q);
        }
        // (t + Q * m) / R < (m * R + R * m) / R = 2m: one subtraction at most.
        const Limb carry = AddN(r, t + n, t, n);
        if (carry || CompareN(r, m, n) >= 0)
            SubN(r, r, m, n);
    }

    // As Reduce, with the final subtraction made by masked selection: the
    // instructions run and the addresses touched do not depend on whether
    // the subtraction is needed (private-key exponentiation).
    void ReduceMasked(Limb* r, Limb* t) const
    {
        for (size_t i = 0; i < n; ++i) {
            const Limb q = t[i] * minv;
            t[i] = AddMul1(t + i, m, n, q);
        }
        const Limb carry = AddN(r, t + n, t, n);
        // The low half of t is free now (r may only alias the high half):
        // it takes r - m.  The difference is the result when the sum carried
        // out of n limbs or r >= m (no borrow).
        const Limb borrow = SubN(t, r, m, n);
        const Limb keepDifference = Limb(0) - Limb(carry | (borrow ^ 1));
        for (size_t i = 0; i < n; ++i)
            r[i] = (t[i] & keepDifference) | (r[i] & ~keepDifference);
    }

    // r = a * b / R mod m; a, b < m with n limbs; r (n limbs) may alias a or
    // b; t is scratch of 2n limbs.
    void Multiply(Limb* r, const Limb* a, const Limb* b, Limb* t) const
    {
        Product(t, a, b);
        Reduce(r, t);
    }

    // The same with ReduceMasked.
    void MultiplyMasked(Limb* r, const Limb* a, const Limb* b, Limb* t) const
    {
        Product(t, a, b);
        ReduceMasked(r, t);
    }

private:
    void Product(Limb* t, const Limb* a, const Limb* b) const
    {
        if (a == b && !RowKernelIsFast<Limb>())
            SqrBasecase(t, a, n);
        else
            MulBasecase(t, a, n, b, n);
    }
};


// Window width for the sliding window over an exponent of `bits` bits: the
// table costs 2^(w-1) products, the scan about bits / (w + 1) multiplies.
inline unsigned WindowWidth(uint64_t bits)
{
    unsigned best = 1;
    double bestCost = 1.0 + double(bits) / 2;
    for (unsigned w = 2; w <= 7; ++w) {
        const double cost = double(1u << (w - 1)) + double(bits) / (w + 1);
        if (cost < bestCost) {
            bestCost = cost;
            best = w;
        }
    }
    return best;
}
} // namespace zel_bigint
