// XBigInt: the unsigned multi-precision integer of the RSA engine (primes,
// modulus, exponents, CRT values and every message block on its way through
// an RSA operation).  There is no sign: every value is >= 0, and Subtract
// requires its caller to keep the result >= 0.
//
// A number is a plain value: a heap array of limbs, least significant first,
// always in normal form (no zero limb on top; the value zero is one limb 0).
// Most operations work in place, a.Op(b) replacing a by the result, and every
// operation accepts its arguments aliasing each other or *this.
//
// The limb width is chosen at compile time: 64-bit limbs where the compiler
// offers a 128-bit unsigned type for the double-width products (x86_64 GCC
// and Clang, MinGW-w64 x86_64 included), 32-bit limbs with 64-bit products
// elsewhere (the i686 build).  XBigInt is the class of the chosen width; the
// class template is instantiated for both widths on a host that has both, so
// that the tests run the narrow path natively as well.  No result depends on
// the width.
//
// Outside the contract, and still without reading or writing outside any
// array: a zero divisor (DivMod, Divide, Modulo, MulMod, PowMod with a zero
// modulus) gives the quotient 0 and the remainder 0, and Subtract of a larger
// number gives 0.
//
// Arrays that held a value are wiped before they are freed (numbers carry
// private key material); the operations are not constant-time, except the
// exponentiation PowModSecret.
#pragma once

#include "core/xblob.h"

#include <cstddef>
#include <cstdint>

#if defined(__SIZEOF_INT128__)
#define ZEL_BIGINT_HAVE_LIMB64 1
using XBigIntLimb = uint64_t;
#else
#define ZEL_BIGINT_HAVE_LIMB64 0
using XBigIntLimb = uint32_t;
#endif

template <typename Limb>
class XBigIntT {
public:
    static constexpr uint32_t kLimbBits = 8 * sizeof(Limb);

    // The value `value` (the engine uses 0, 1 and 2).
    explicit XBigIntT(uint32_t value = 0);
    XBigIntT(const XBigIntT& other);
    XBigIntT(XBigIntT&& other) noexcept;
    ~XBigIntT();

    // Copy assignment keeps this number's array when it is large enough.
    XBigIntT& operator=(const XBigIntT& other);
    XBigIntT& operator=(XBigIntT&& other) noexcept;

    // The big-endian number held in `bytes` (the first byte is the most
    // significant; leading zero bytes do not count; no bytes give zero).
    void FromBytes(const XBlob& bytes);
    // The value as big-endian bytes.  length 0: the minimal form (zero is the
    // one byte 00).  Otherwise exactly `length` bytes: zeros in front of a
    // shorter value, or only the low `length` bytes of a longer one.
    XBlob ToBytes(uint32_t length = 0) const;

    // -1, 0 or 1 as this number is less than, equal to or greater than b.
    int Compare(const XBigIntT& b) const;
    bool operator<(const XBigIntT& b) const { return Compare(b) < 0; }
    bool operator<=(const XBigIntT& b) const { return Compare(b) <= 0; }
    bool operator>(const XBigIntT& b) const { return Compare(b) > 0; }
    bool operator>=(const XBigIntT& b) const { return Compare(b) >= 0; }
    bool operator==(const XBigIntT& b) const { return Compare(b) == 0; }
    bool operator!=(const XBigIntT& b) const { return Compare(b) != 0; }

    void Add(const XBigIntT& b);       // this + b
    void Subtract(const XBigIntT& b);  // this - b; the caller keeps this >= b
    void Multiply(const XBigIntT& b);  // this * b
    // this = floor(this / v); remainder, when not null, = this mod v (of this
    // as it was before the call).  A remainder target that is this number
    // ends up holding the remainder.
    void DivMod(const XBigIntT& v, XBigIntT* remainder);
    void Divide(const XBigIntT& v) { DivMod(v, nullptr); }
    void Modulo(const XBigIntT& v);                      // this mod v
    void MulMod(const XBigIntT& b, const XBigIntT& m);   // (this * b) mod m
    // this^e mod m.  e = 0 gives 1 whatever m is (1 also for m = 1).
    void PowMod(const XBigIntT& e, const XBigIntT& m);
    // The same value for a secret exponent: with an odd modulus, fixed
    // windows over max(bits of m, bits of e), table entries gathered under
    // masks and the Montgomery reductions' final subtraction masked, so that
    // neither branches nor memory addresses depend on e's bits (the time
    // still depends on the lengths of m and e).  Even moduli, which no
    // private key has, take PowMod.
    void PowModSecret(const XBigIntT& e, const XBigIntT& m);
    // a = a^ea mod ma and b = b^eb mod mb, each as PowModSecret gives it
    // (the two exponents read over the same number of bits, the larger of
    // the four bit lengths).  The two halves of an RSA private operation
    // with the CRT: with the IFMA kernel and two moduli of the same size,
    // the two powers are computed together, interleaved.  a and b are two
    // different numbers, neither one an exponent or modulus of the other.
    static void PowModSecretPair(XBigIntT& a, const XBigIntT& ea, const XBigIntT& ma, XBigIntT& b,
                                 const XBigIntT& eb, const XBigIntT& mb);
    // The inverse of this modulo m for coprime this and m, by the extended
    // Euclidean algorithm on non-negative numbers: the Bezout coefficient of
    // this is tracked by its magnitude x0 and a sign marker, and the result is
    // x0 when the marker says positive, m - x0 otherwise.  For pairs that are
    // not coprime the same steps run and their result is returned as it is.
    void InverseMod(const XBigIntT& m);
    // The inverse of this modulo an odd m > 1, by the binary extended
    // Euclidean algorithm (shifts and subtractions, no division): true and
    // the inverse in [0, m), or false and this unchanged when this and m
    // have a common factor or m is even or 1.
    bool InverseModOdd(const XBigIntT& m);
    // The greatest common divisor of this and b (this unchanged for b = 0).
    void Gcd(const XBigIntT& b);

    uint64_t BitLength() const;        // 0 for zero
    bool TestBit(uint64_t i) const;    // bit i, bit 0 lowest; 0 beyond the top
    bool IsEven() const { return (limbs_[0] & 1) == 0; }
    bool IsZero() const { return length_ == 1 && limbs_[0] == 0; }
    bool IsOne() const { return length_ == 1 && limbs_[0] == 1; }

    // Small-number helpers for the prime search.
    void AddSmall(uint32_t v);             // this + v
    void SubtractSmall(uint32_t v);        // this - v; the caller keeps this >= v (else 0)
    // this mod divisor; 0 for the divisor 0.
    uint32_t ModSmall(uint32_t divisor) const;
    void ShiftLeft(uint64_t bits);         // this * 2^bits
    void ShiftRight(uint64_t bits);        // floor(this / 2^bits)

    // Limbs in use (>= 1): lets tests check the normal form.
    uint32_t LimbCount() const { return length_; }

private:
    // Makes room for `count` limbs, keeping the first `keep` limbs in use.
    void Reserve(uint32_t count, uint32_t keep);
    // Sets the value from `count` limbs (count may be 0; top zeros dropped).
    void Assign(const Limb* limbs, size_t count);
    void Normalize();

    Limb* limbs_;
    uint32_t capacity_;
    uint32_t length_;
};

using XBigInt = XBigIntT<XBigIntLimb>;

// The row products under multiplication, squaring and Montgomery reduction
// have two implementations for 64-bit limbs: portable C++, and on x86-64 CPUs
// that have them, the BMI2 and ADX instructions (MULX with two independent
// carry chains, ADCX and ADOX).  The process picks the faster one available
// at start-up; tests and benchmarks may switch (results are identical).
// kIfma: on x86-64 CPUs with AVX-512 IFMA, the modular powers of odd moduli
// from 512 bits up to 4096 and a little more run in radix 2^52 on 512-bit
// registers (rsa/bigint_ifma.h); everything else runs the ADX kernel.
enum class XBigIntKernel {
    kPortable,
    kAdx,
    kIfma,
};

// Whether this build and this CPU can run the kernel.
bool XBigIntKernelAvailable(XBigIntKernel kernel);
XBigIntKernel XBigIntActiveKernel();
// Returns false, and changes nothing, when the kernel is not available.
bool XBigIntSelectKernel(XBigIntKernel kernel);

// The Montgomery products of the 32-bit-limb numbers (XBigInt of the i686
// build, XBigIntT<uint32_t> everywhere) have three implementations: portable
// C++, and on x86 CPUs the SSE2 and AVX2 vector kernels (28-bit digits in
// 64-bit lanes, rsa/bigint_sse2.h).  The process picks the fastest one the
// CPU has at start-up; tests and benchmarks may switch (results are
// identical).  This choice is separate from the 64-bit limbs' kernel above.
enum class XBigIntNarrowKernel {
    kPortable,
    kSse2,
    kAvx2,
};

bool XBigIntNarrowKernelAvailable(XBigIntNarrowKernel kernel);
XBigIntNarrowKernel XBigIntActiveNarrowKernel();
// Returns false, and changes nothing, when the kernel is not available.
bool XBigIntSelectNarrowKernel(XBigIntNarrowKernel kernel);
