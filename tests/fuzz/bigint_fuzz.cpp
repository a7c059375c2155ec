// Fuzz target: the RSA engine's big integers.  Every operation runs three
// ways: 64-bit limbs with the portable row products, 64-bit limbs with the
// MULX/ADX kernel, and 32-bit limbs (the i686 build's width), and the three
// must agree byte for byte (XBigInt promises that no result depends on the
// width or the kernel).  Beyond that, each result is checked against what
// it must be: q v + r = u with r < v, (u + v) - v = u, u u^-1 = 1 mod m, the
// gcd divides both and leaves coprime cofactors, PowModSecret = PowMod and
// u^(e+1) = u^e u, shifts against multiplication and division by 2^k, the
// small-number helpers against the general operations, bytes and bits
// against the number's bytes, operations with an argument that is *this.
// The prime sieve must hand out exactly the odd numbers that no table prime
// divides (checked by trial division), NextPrime a number that passes the
// Fermat test with every odd number before it either divisible by a table
// prime or failing that test, and the strong test must agree with its
// definition.
//
// Input: a control byte (bit 0: the prime-search checks), a 4-byte field for
// the small numbers, lengths and shift counts, then parts: u, v, m and an
// exponent.  Products and quotients take numbers up to 2048 bytes (the
// high bytes are dropped), exponentiations, gcds and inverses numbers of up
// to 64 bytes (the RSA target runs the larger ones), the prime search 32
// bytes, so that no input runs long.
#include "core/xblob.h"
#include "rsa/bigint.h"
#include "rsa/primes.h"
#include "tests/fuzz/fuzz_support.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

using fuzz::Blob;
using fuzz::Bytes;

namespace {

using Wide = XBigIntT<uint64_t>;
using Narrow = XBigIntT<uint32_t>;
using Model = std::vector<uint8_t>;

constexpr size_t kMaxLinearBytes = 2048;
constexpr size_t kMaxPowerBytes = 64;
constexpr size_t kMaxPrimeBytes = 32;

// Minimal big-endian form: no leading zeros, zero as the one byte 00.
Model Minimal(const Model& bytes)
{
    auto first = std::find_if(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0; });
    return first == bytes.end() ? Model{0} : Model(first, bytes.end());
}

// The low `max` bytes.
Model Low(Model bytes, size_t max)
{
    if (bytes.size() > max)
        bytes.erase(bytes.begin(), bytes.end() - max);
    return bytes;
}

void SelectKernel(bool adx)
{
    const XBigIntKernel kernel =
        adx && XBigIntKernelAvailable(XBigIntKernel::kAdx) ? XBigIntKernel::kAdx : XBigIntKernel::kPortable;
    FUZZ_CHECK(XBigIntSelectKernel(kernel) && XBigIntActiveKernel() == kernel);
}

// One value at both widths.
struct Num {
    Wide w;
    Narrow n;

    explicit Num(const Model& bytes)
    {
        w.FromBytes(Blob(bytes));
        n.FromBytes(Blob(bytes));
    }
    explicit Num(uint32_t v = 0) : w(v), n(v) {}

    // The value's bytes, the same at both widths.
    Model Value() const
    {
        const Model a = Bytes(w.ToBytes(0));
        FUZZ_CHECK(a == Bytes(n.ToBytes(0)));
        return a;
    }
    bool operator==(const Num& b) const { return Value() == b.Value(); }
    bool operator!=(const Num& b) const { return !(*this == b); }
};

// The operand at the width of x.
const Wide& Of(const Wide&, const Num& n)
{
    return n.w;
}
const Narrow& Of(const Narrow&, const Num& n)
{
    return n.n;
}

// op applied to a copy of x at both widths, the wide one under both
// kernels; the three results must agree.
template <class Op>
Num Apply(const Num& x, Op op)
{
    Num r = x;
    Wide other = x.w;
    SelectKernel(false);
    op(r.w);
    op(r.n);
    SelectKernel(true);
    op(other);
    FUZZ_CHECK(Bytes(other.ToBytes(0)) == Bytes(r.w.ToBytes(0)));
    r.Value();
    return r;
}

Num Add(const Num& a, const Num& b)
{
    return Apply(a, [&](auto& x) { x.Add(Of(x, b)); });
}
Num Sub(const Num& a, const Num& b)
{
    return Apply(a, [&](auto& x) { x.Subtract(Of(x, b)); });
}
Num Mul(const Num& a, const Num& b)
{
    return Apply(a, [&](auto& x) { x.Multiply(Of(x, b)); });
}
Num Div(const Num& a, const Num& b)
{
    return Apply(a, [&](auto& x) { x.Divide(Of(x, b)); });
}
Num Mod(const Num& a, const Num& b)
{
    return Apply(a, [&](auto& x) { x.Modulo(Of(x, b)); });
}
Num Gcd(const Num& a, const Num& b)
{
    return Apply(a, [&](auto& x) { x.Gcd(Of(x, b)); });
}
Num PowMod(const Num& a, const Num& e, const Num& m)
{
    return Apply(a, [&](auto& x) { x.PowMod(Of(x, e), Of(x, m)); });
}

bool IsZero(const Num& a)
{
    return a.w.IsZero();
}

int CompareBytes(const Model& a, const Model& b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a < b ? -1 : a > b ? 1 : 0;
}

// 2^k as bytes.
Model PowerOfTwo(uint32_t k)
{
    Model m(k / 8 + 1, 0);
    m[0] = uint8_t(1u << (k % 8));
    return m;
}

void CheckRepresentation(const Num& x, const Model& raw, uint32_t field)
{
    const Model value = Minimal(raw);
    FUZZ_CHECK(x.Value() == value);
    // A fixed length: zeros in front, or only the low bytes.
    const uint32_t length = field % 600 + 1;
    Model fixed(length, 0);
    for (size_t k = 0; k < length && k < value.size(); ++k)
        fixed[length - 1 - k] = value[value.size() - 1 - k];
    FUZZ_CHECK(Bytes(x.w.ToBytes(length)) == fixed && Bytes(x.n.ToBytes(length)) == fixed);
    // Bits against the bytes.
    const bool zero = value == Model{0};
    uint64_t bits = 0;
    if (!zero) {
        bits = 8 * (value.size() - 1);
        for (uint8_t top = value[0]; top; top >>= 1)
            ++bits;
    }
    FUZZ_CHECK(x.w.BitLength() == bits && x.n.BitLength() == bits);
    for (uint64_t i : {uint64_t(0), uint64_t(field % 97), bits ? bits - 1 : 0, bits, bits + 64}) {
        const bool bit = i / 8 < value.size() && ((value[value.size() - 1 - i / 8] >> (i % 8)) & 1);
        FUZZ_CHECK(x.w.TestBit(i) == bit && x.n.TestBit(i) == bit);
    }
    FUZZ_CHECK(x.w.IsZero() == zero && x.n.IsZero() == zero);
    FUZZ_CHECK(x.w.IsOne() == (value == Model{1}) && x.n.IsOne() == (value == Model{1}));
    FUZZ_CHECK(x.w.IsEven() == !(value.back() & 1) && x.n.IsEven() == !(value.back() & 1));
    // Normal form: no zero limb on top.
    FUZZ_CHECK(x.w.LimbCount() == std::max<uint64_t>(1, (bits + 63) / 64));
    FUZZ_CHECK(x.n.LimbCount() == std::max<uint64_t>(1, (bits + 31) / 32));
}

void CheckLinear(const Num& u, const Num& v, uint32_t field)
{
    const int c = CompareBytes(u.Value(), v.Value());
    FUZZ_CHECK(u.w.Compare(v.w) == c && u.n.Compare(v.n) == c);
    FUZZ_CHECK((u.w < v.w) == (c < 0) && (u.w <= v.w) == (c <= 0) && (u.w > v.w) == (c > 0) &&
               (u.w >= v.w) == (c >= 0) && (u.w == v.w) == (c == 0) && (u.w != v.w) == (c != 0));

    // Sum and difference undo each other; a difference below zero is 0.
    const Num sum = Add(u, v);
    FUZZ_CHECK(Sub(sum, v) == u && Sub(sum, u) == v);
    const Num difference = Sub(u, v);
    FUZZ_CHECK(c < 0 ? IsZero(difference) : Add(difference, v) == u);

    // Quotient and remainder: q v + r = u, r < v; by 0 both are 0.
    const Num q = Div(u, v), r = Mod(u, v);
    const Num both = Apply(u, [&](auto& x) {
        auto rest = Of(x, u);
        x.DivMod(Of(x, v), &rest);
        x = rest;
    });
    FUZZ_CHECK(both == r);
    // A remainder target that is this number ends up holding the remainder.
    FUZZ_CHECK(Apply(u, [&](auto& x) { x.DivMod(Of(x, v), &x); }) == r);
    if (IsZero(v)) {
        FUZZ_CHECK(IsZero(q) && IsZero(r));
    } else {
        FUZZ_CHECK(Add(Mul(q, v), r) == u);
        FUZZ_CHECK(r.w < v.w);
        // The product divides back.
        const Num p = Mul(u, v);
        FUZZ_CHECK(Div(p, v) == u && IsZero(Mod(p, v)));
        // MulMod is the product's remainder.
        FUZZ_CHECK(Apply(u, [&](auto& x) { x.MulMod(Of(x, u), Of(x, v)); }) == Mod(Mul(u, u), v));
    }

    // Arguments that are this number.
    FUZZ_CHECK(Apply(u, [](auto& x) { x.Add(x); }) == Add(u, u));
    FUZZ_CHECK(Apply(u, [](auto& x) { x.Multiply(x); }) == Mul(u, u));
    FUZZ_CHECK(Apply(u, [](auto& x) { x.Subtract(x); }) == Num(0u));
    if (!IsZero(u)) {
        FUZZ_CHECK(Apply(u, [](auto& x) { x.Divide(x); }) == Num(1u));
        FUZZ_CHECK(Apply(u, [](auto& x) { x.Modulo(x); }) == Num(0u));
        FUZZ_CHECK(Apply(u, [](auto& x) { x.DivMod(x, &x); }) == Num(0u));
    }
    FUZZ_CHECK(Apply(u, [](auto& x) { x.Gcd(x); }) == u);

    // The small-number helpers against the general operations.
    const uint32_t small = field;
    const Num s(small);
    FUZZ_CHECK(Apply(u, [&](auto& x) { x.AddSmall(small); }) == Add(u, s));
    FUZZ_CHECK(Apply(u, [&](auto& x) { x.SubtractSmall(small); }) == Sub(u, s));
    const Model residue = Mod(u, s).Value();
    uint32_t expected = 0;
    for (uint8_t b : residue)
        expected = expected << 8 | b;
    FUZZ_CHECK(u.w.ModSmall(small) == expected && u.n.ModSmall(small) == expected);

    // Shifts: multiplication and division by 2^k.
    const uint32_t k = field % 300;
    const Num two(PowerOfTwo(k));
    const Num left = Apply(u, [&](auto& x) { x.ShiftLeft(k); });
    FUZZ_CHECK(left == Mul(u, two));
    FUZZ_CHECK(Apply(u, [&](auto& x) { x.ShiftRight(k); }) == Div(u, two));
    FUZZ_CHECK(Apply(left, [&](auto& x) { x.ShiftRight(k); }) == u);
}

void CheckGcdAndInverse(const Num& u, const Num& v, const Num& m)
{
    const Num g = Gcd(u, v);
    if (IsZero(v)) {
        FUZZ_CHECK(g == u);
    } else if (!IsZero(g)) {
        FUZZ_CHECK(IsZero(Mod(u, g)) && IsZero(Mod(v, g)));
        FUZZ_CHECK(Gcd(Div(u, g), Div(v, g)) == Num(1u));
    }

    if (m.w <= Num(1u).w)
        return;
    const bool coprime = Gcd(u, m) == Num(1u);
    if (coprime) {
        const Num inverse = Apply(u, [&](auto& x) { x.InverseMod(Of(x, m)); });
        FUZZ_CHECK(inverse.w < m.w);
        FUZZ_CHECK(Mod(Mul(u, inverse), m) == Num(1u));
        if (!m.w.IsEven()) {
            Num odd = u;
            FUZZ_CHECK(odd.w.InverseModOdd(m.w) && odd.n.InverseModOdd(m.n));
            FUZZ_CHECK(odd == inverse);
        }
    } else {
        Num odd = u;
        FUZZ_CHECK(!odd.w.InverseModOdd(m.w) && !odd.n.InverseModOdd(m.n));
        FUZZ_CHECK(odd == u);
    }
    if (m.w.IsEven()) {
        // Even moduli are refused whatever the number.
        Num odd = u;
        FUZZ_CHECK(!odd.w.InverseModOdd(m.w) && !odd.n.InverseModOdd(m.n) && odd == u);
    }
}

void CheckPower(const Num& u, const Num& e, const Num& m)
{
    const Num power = PowMod(u, e, m);
    FUZZ_CHECK(Apply(u, [&](auto& x) { x.PowModSecret(Of(x, e), Of(x, m)); }) == power);
    if (IsZero(e)) {
        FUZZ_CHECK(power == Num(1u));
        return;
    }
    if (IsZero(m) || m == Num(1u)) {
        FUZZ_CHECK(IsZero(power));
        return;
    }
    FUZZ_CHECK(power.w < m.w);
    // u^(e + 1) = u^e u.
    const Num next = PowMod(u, Add(e, Num(1u)), m);
    FUZZ_CHECK(next == Apply(power, [&](auto& x) { x.MulMod(Of(x, u), Of(x, m)); }));
    // The exponent and the modulus may be this number.
    FUZZ_CHECK(Apply(e, [&](auto& x) { x.PowMod(x, Of(x, m)); }) == PowMod(e, e, m));
    FUZZ_CHECK(Apply(m, [&](auto& x) { x.PowModSecret(Of(x, e), x); }) == PowMod(m, e, m));
}

bool HasTableDivisor(const Wide& c)
{
    if (c.BitLength() <= 64) {
        const Model b = Bytes(c.ToBytes(8));
        uint64_t v = 0;
        for (uint8_t byte : b)
            v = v << 8 | byte;
        for (uint16_t p : SmallPrimes)
            if (v % p == 0)
                return true;
        return false;
    }
    for (uint16_t p : SmallPrimes)
        if (c.ModSmall(p) == 0)
            return true;
    return false;
}

bool PassesFermat(const Wide& c)
{
    Wide exponent(c), power(2);
    exponent.SubtractSmall(1);
    power.PowMod(exponent, c);
    return power.IsOne();
}

// The strong test to base 2 from its definition: c - 1 = t 2^s with t odd;
// 2^t = 1, or 2^(t 2^r) = c - 1 for some r < s.
bool StrongByDefinition(const Wide& c)
{
    if (c.IsEven() || c.BitLength() < 2)
        return false;
    Wide minusOne(c);
    minusOne.SubtractSmall(1);
    uint64_t s = 0;
    while (!minusOne.TestBit(s))
        ++s;
    for (uint64_t r = 0; r < s; ++r) {
        Wide exponent(minusOne), y(2);
        exponent.ShiftRight(s - r);
        y.PowMod(exponent, c);
        if ((r == 0 && y.IsOne()) || y == minusOne)
            return true;
    }
    return false;
}

void CheckPrimes(const Model& start, uint32_t field)
{
    Wide x;
    x.FromBytes(Blob(start));
    FUZZ_CHECK(IsStrongProbablePrimeBase2(x) == StrongByDefinition(x));

    // The sieve's candidates against trial division of every odd number.
    XPrimeSieve sieve(x);
    Wide expect(x);
    if (expect.IsEven())
        expect.AddSmall(1);
    // Every number from 2 to the last table prime has a table prime as a
    // factor (itself, when it is prime): none of them is a candidate (1 is).
    const Wide lastTablePrime(SmallPrimes.back());
    if (!expect.IsOne() && expect <= lastTablePrime) {
        expect = lastTablePrime;
        expect.AddSmall(2);
    }
    // Mostly a few candidates; now and then some 600, past the first sieve
    // window of 4096 odd numbers.
    const uint32_t count = (field & 0x700) == 0x700 ? 600 : field % 64 + 1;
    for (uint32_t i = 0; i < count; ++i) {
        const Wide& c = sieve.Next();
        while (expect < c) {
            FUZZ_CHECK(HasTableDivisor(expect));
            expect.AddSmall(2);
        }
        FUZZ_CHECK(expect == c);
        FUZZ_CHECK(!HasTableDivisor(c));
        expect.AddSmall(2);
    }

    // NextPrime: the first odd number from x on that no table prime
    // divides and that passes the Fermat test (0 and 1 give 1).
    const Wide prime = NextPrime(x);
    if (x.BitLength() <= 1) {
        FUZZ_CHECK(prime.IsOne());
        return;
    }
    FUZZ_CHECK(x <= prime && !prime.IsEven() && !HasTableDivisor(prime) && PassesFermat(prime));
    Wide c(x);
    if (c.IsEven())
        c.AddSmall(1);
    if (c <= lastTablePrime) {
        c = lastTablePrime;
        c.AddSmall(2);
    }
    for (; c < prime; c.AddSmall(2))
        FUZZ_CHECK(HasTableDivisor(c) || !PassesFermat(c));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    fuzz::Reader in(data, size);
    const uint8_t control = in.Byte();
    const uint32_t field = in.Long();
    const Model uRaw = Low(in.Part(), kMaxLinearBytes), vRaw = Low(in.Part(), kMaxLinearBytes);
    const Model mRaw = Low(in.Part(), kMaxPowerBytes), eRaw = Low(in.Part(), kMaxPowerBytes);
    const Num u(uRaw), v(vRaw), m(mRaw), e(eRaw);

    CheckRepresentation(u, uRaw, field);
    CheckRepresentation(m, mRaw, field >> 8);
    CheckLinear(u, v, field);
    // Euclid's algorithm takes a division per step: kept to the sizes of
    // exponentiations, like the powers.
    const Num uShort(Low(uRaw, kMaxPowerBytes)), vShort(Low(vRaw, kMaxPowerBytes));
    CheckGcdAndInverse(uShort, vShort, m);
    CheckPower(uShort, e, m);
    if (control & 1)
        CheckPrimes(Low(uRaw, kMaxPrimeBytes), field);
    return 0;
}
