// Montgomery products for the 32-bit-limb big integers on x86 vector units
// (SSE2 PMULUDQ, two 32x32->64 products per instruction, or AVX2 VPMULUDQ,
// four), chosen at run time; the portable limb loops stay the path elsewhere.
//
// The operands are cut into 28-bit digits, each held in a 64-bit lane.  A
// product of two digits takes 56 bits, so a lane can sum 256 of them before
// it overflows: the word-by-word Montgomery reduction then runs over whole
// rows of lanes with no carry between lanes, and the carries are settled
// once, at the end.  A row (digit i of b) adds a * b_i + m * q_i into the
// lanes i+1 .. i+d of the accumulator, q_i chosen so that lane i becomes a
// multiple of 2^28; lane i's excess moves up as a scalar carry.  Each lane
// receives at most two products per row, from at most d rows: d <= 127 keeps
// every lane below 2^64.
//
// The Montgomery radix is R = 2^(28 d) with d = floor(32 n / 28) + 1 digits
// for an n-limb modulus, so R > m and the result of a product of two values
// below m is below 2m: one subtraction, made by masked selection, brings it
// below m.  The instructions run and the addresses touched depend only on n,
// never on the operands' values (the private-key exponentiation relies on it).
#pragma once

#include "rsa/bigint.h"

#include <cstddef>
#include <cstdint>

namespace zel_bigint {

class VectorMontgomery32 {
public:
    static constexpr unsigned kDigitBits = 28;
    // Moduli of 1 to kMaxLimbs limbs (3552 bits: d <= 127).
    static constexpr size_t kMaxLimbs = 111;

    // Whether the vector kernels take n-limb moduli.
    static bool Fits(size_t n) { return n >= 1 && n <= kMaxLimbs; }

    // m odd with n limbs, 1 <= n <= kMaxLimbs; kernel kSse2 or kAvx2 (and
    // available on this CPU).
    VectorMontgomery32(const uint32_t* m, size_t n, XBigIntNarrowKernel kernel);
    ~VectorMontgomery32();
    VectorMontgomery32(const VectorMontgomery32&) = delete;
    VectorMontgomery32& operator=(const VectorMontgomery32&) = delete;

    // log2 R: values in the Montgomery domain are x * 2^RBits() mod m.
    uint64_t RBits() const { return uint64_t(kDigitBits) * digits_; }
    size_t Digits() const { return digits_; }

    // r = a * b / R mod m for a, b < m (n limbs each); r (n limbs) may alias
    // a or b.
    void Multiply(uint32_t* r, const uint32_t* a, const uint32_t* b);

private:
    size_t n_;
    size_t digits_;
    XBigIntNarrowKernel kernel_;
    uint32_t minv_; // -m^-1 mod 2^28
    // One wiped allocation holding the lanes below (aligned to 32 bytes).
    uint64_t* space_;
    size_t spaceLanes_;
    uint64_t* a_;     // digits of a, one per lane, zero lanes above
    uint64_t* m_;     // digits of m, likewise
    uint64_t* t_;     // the accumulator, 2d + 8 lanes
    uint32_t* b_;     // digits of b
    uint32_t* stage_; // n + 2 limbs: an operand with zero limbs above it
    uint32_t* out_;   // n + 1 limbs of the unreduced result
    uint32_t* diff_;  // n + 1 limbs: result - m
    uint32_t* mpad_;  // m with a zero limb above it
};

} // namespace zel_bigint
