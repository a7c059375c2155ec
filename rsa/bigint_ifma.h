// Modular exponentiation with the AVX-512 IFMA instructions (VPMADD52LUQ and
// VPMADD52HUQ: 52 x 52-bit products added to 64-bit lanes), for odd moduli of
// the sizes RSA uses.
//
// Numbers are carried in radix 2^52, eight digits to a 512-bit register, and
// multiplied by an "almost Montgomery" product: for a, b < 2m and R = 2^(52 K)
// with 4m <= R, a b / R mod m is returned as a value below 2m, so no final
// subtraction is needed between products; the one comparison with m is made
// at the end of an exponentiation, by masks.  The product runs the same
// instructions and touches the same addresses whatever the values.
//
// The 64-bit limb arrays of XBigIntT come in and go out; the conversion to
// and from radix 2^52 and into the Montgomery domain is made once per
// exponentiation.  The functions exist on x86-64 builds with GCC or Clang
// (ZEL_BIGINT_IFMA); the process uses them only when CPUID and XGETBV say that
// the CPU and the operating system support the instructions and their state.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__GNUC__) && defined(__x86_64__)
#define ZEL_BIGINT_IFMA 1
#else
#define ZEL_BIGINT_IFMA 0
#endif

#if ZEL_BIGINT_IFMA
#include <atomic>
#endif

namespace zel_bigint {

#if ZEL_BIGINT_IFMA
// Whether the modular powers take this kernel (set at start-up from CPUID;
// XBigIntSelectKernel changes it).
extern std::atomic<bool> g_ifmaKernel;
#endif

// Whether a power modulo an odd modulus of `bits` bits runs here.
bool IfmaTakesPower(uint64_t bits);

namespace ifma {

// Whether this CPU runs AVX512F and AVX512IFMA with the operating system
// saving the 512-bit register state (false on builds without the kernel).
bool CpuSupported();

// Whether a modulus of `bits` bits takes this kernel: 512 bits up to the
// largest size the unrolled products cover (4096-bit moduli and a little
// more).
bool TakesModulus(uint64_t bits);

// result = g^e mod m for a secret exponent.  m is odd with n limbs and
// TakesModulus(its bit length); g < m (n limbs); e is read as `bits` bits
// (and its limb array holds at least ceil(bits / 64) + 1 limbs, zeros above
// its value).  Fixed 5-bit windows; each table entry is gathered by reading
// every entry under masks.
void PowModSecret(uint64_t* result, const uint64_t* g, const uint64_t* e, uint64_t bits, const uint64_t* m,
                  size_t n);

// Two such powers with moduli of the same size (the two halves of an RSA
// private operation with the CRT), computed together in one pass: their
// products are interleaved so that one's latency hides the other's.  Both
// exponents are read over `bits` bits.  Each ri/gi/ei/mi as for PowModSecret
// with n1 and n2 limbs; when the two moduli need different digit counts the
// two powers run one after the other.
void PowModSecretPair(uint64_t* r1, const uint64_t* g1, const uint64_t* e1, const uint64_t* m1, size_t n1,
                      uint64_t* r2, const uint64_t* g2, const uint64_t* e2, const uint64_t* m2, size_t n2,
                      uint64_t bits);

// result = g^e mod m for a public exponent of `ebits` >= 1 bits (sliding
// windows: the operations follow e's bits).  m odd, n limbs, TakesModulus.
void PowMod(uint64_t* result, const uint64_t* g, const uint64_t* e, uint64_t ebits, const uint64_t* m, size_t n);

// One almost-Montgomery product in radix 2^52, for the tests: a, b, m have
// `digits` digits of 52 bits (digits * 52 >= bits of m + 2, a, b < 2m);
// r = a b 2^(-52 digits) mod m, below 2m, normalized digits.
// Returns false when the digit count is outside the kernel's range.
bool AlmostMontgomeryProduct(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m, size_t digits);

} // namespace ifma
} // namespace zel_bigint
