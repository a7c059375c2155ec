// XBigIntT at both limb widths (32-bit limbs, the i686 build's, and 64-bit
// limbs where the compiler has 128-bit products), checked against GMP and
// against Ref, a digit-by-digit implementation written here: 16-bit digits,
// schoolbook multiplication, long division scaled by a multiplier with the
// add-back step, right-to-left square-and-multiply, and the extended Euclid
// with a sign marker.  Ref also runs its division on 32- and 64-bit digits to
// confirm that the hand-made dividends below do reach the add-back step at
// the engine's own limb width.
#include "rsa/bigint.h"

#include "rsa_gmp_reference.h"
#include "test_support.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

using namespace test_support;
using rsa_gmp::Mpz;

// --- GMP ---------------------------------------------------------------------

Mpz Pow2(unsigned long bits)
{
    Mpz r;
    mpz_setbit(r.get(), bits);
    return r;
}

// --- Ref: the straightforward digit-by-digit reference -----------------------

template <typename D>
struct RefWideOf;
template <>
struct RefWideOf<uint16_t> {
    using T = uint32_t;
};
template <>
struct RefWideOf<uint32_t> {
    using T = uint64_t;
};
#if ZEL_BIGINT_HAVE_LIMB64
template <>
struct RefWideOf<uint64_t> {
    __extension__ typedef unsigned __int128 T;
};
#endif

// What Ref's divisions ran into since the counters were last cleared.
struct DivisionEvents {
    long addBacks = 0;      // trial digit one too large after the two-digit test
    long exactBaseSums = 0; // a digit sum of exactly the base in an add-back
};

template <typename D>
class Ref {
public:
    using W = typename RefWideOf<D>::T;
    static constexpr unsigned kBits = 8 * sizeof(D);
    static constexpr W kBase = W(1) << kBits;

    static DivisionEvents events;

    std::vector<D> d{0}; // least significant digit first, normal form

    Ref() = default;
    explicit Ref(D v) : d{v} {}

    static Ref FromBytes(const Bytes& bytes)
    {
        Bytes b(bytes);
        while (b.size() % sizeof(D))
            b.insert(b.begin(), 0);
        Ref r;
        r.d.clear();
        for (size_t end = b.size(); end > 0; end -= sizeof(D)) {
            D v = 0;
            for (size_t i = end - sizeof(D); i < end; ++i)
                v = D(W(v) << 8 | b[i]);
            r.d.push_back(v);
        }
        if (r.d.empty())
            r.d.push_back(0);
        r.Normalize();
        return r;
    }

    Bytes ToBytes(size_t length = 0) const
    {
        Bytes all;
        for (size_t i = d.size(); i-- > 0;)
            for (size_t k = sizeof(D); k-- > 0;)
                all.push_back(uint8_t(d[i] >> (8 * k)));
        const size_t total = all.size();
        if (length == 0) {
            size_t skip = 0;
            while (skip + 1 < total && all[skip] == 0)
                ++skip;
            return Bytes(all.begin() + std::ptrdiff_t(skip), all.end());
        }
        if (length >= total) {
            Bytes out(length - total, 0);
            out.insert(out.end(), all.begin(), all.end());
            return out;
        }
        return Bytes(all.end() - std::ptrdiff_t(length), all.end());
    }

    void Normalize()
    {
        while (d.size() > 1 && d.back() == 0)
            d.pop_back();
    }
    bool IsZero() const { return d.size() == 1 && d[0] == 0; }

    int Compare(const Ref& b) const
    {
        if (d.size() != b.d.size())
            return d.size() < b.d.size() ? -1 : 1;
        for (size_t i = d.size(); i-- > 0;)
            if (d[i] != b.d[i])
                return d[i] < b.d[i] ? -1 : 1;
        return 0;
    }

    void Add(const Ref& b)
    {
        const size_t n = std::max(d.size(), b.d.size());
        d.resize(n, 0);
        W carry = 0;
        for (size_t i = 0; i < n; ++i) {
            const W s = W(d[i]) + (i < b.d.size() ? b.d[i] : 0) + carry;
            d[i] = D(s);
            carry = s >> kBits;
        }
        if (carry)
            d.push_back(D(carry));
    }

    void Subtract(const Ref& b)
    {
        D borrow = 0;
        for (size_t i = 0; i < d.size(); ++i) {
            const D y = i < b.d.size() ? b.d[i] : 0;
            const D x = d[i];
            d[i] = D(x - y - borrow);
            borrow = (x < y || (x == y && borrow)) ? 1 : 0;
        }
        Normalize();
    }

    void Multiply(const Ref& b)
    {
        std::vector<D> r(d.size() + b.d.size() + 1, 0);
        for (size_t i = 0; i < d.size(); ++i) {
            W carry = 0;
            for (size_t j = 0; j < b.d.size(); ++j) {
                const W t = W(d[i]) * b.d[j] + r[i + j] + carry;
                r[i + j] = D(t);
                carry = t >> kBits;
            }
            r[i + b.d.size()] = D(carry);
        }
        d = r;
        Normalize();
    }

    // Long division: scale by the multiplier s = B / (top + 1) so that the
    // divisor's top digit is at least B/2, estimate each quotient digit from
    // three digits of the remainder and two of the divisor, subtract, and add
    // the divisor back when the estimate was one too large.
    void DivMod(const Ref& v, Ref* remainder)
    {
        const size_t n = v.d.size();
        std::vector<D> vs = v.d, u = d;
        const W scale = kBase / (W(vs[n - 1]) + 1);
        if (scale != 1) {
            u.push_back(MulDigit(u, scale));
            MulDigit(vs, scale);
        } else {
            u.push_back(0);
        }
        const W d1 = vs[n - 1], d2 = n > 1 ? vs[n - 2] : 0;
        std::vector<D> q;
        while (u.size() > n) {
            const size_t len = u.size();
            const W u1 = u[len - 1], u2 = u[len - 2], u3 = len >= 3 ? u[len - 3] : 0;
            W qhat = u1 == d1 ? kBase - 1 : ((u1 << kBits) | u2) / d1;
            // The test of qhat * d2 against the remainder is only needed while
            // that remainder is below B (above, it always passes).
            W rhat = ((u1 << kBits) | u2) - qhat * d1;
            while (rhat < kBase && qhat * d2 > ((rhat << kBits) | u3)) {
                --qhat;
                rhat += d1;
            }
            if (qhat > 0) {
                const size_t start = len - n - 1;
                W carry = 0;
                D borrow = 0;
                for (size_t i = 0; i < n; ++i) {
                    const W p = qhat * vs[i] + carry;
                    carry = p >> kBits;
                    const D pl = D(p), x = u[start + i];
                    u[start + i] = D(x - pl - borrow);
                    borrow = (x < pl || (x == pl && borrow)) ? 1 : 0;
                }
                if (W(u[len - 1]) < carry + borrow) {
                    --qhat;
                    ++events.addBacks;
                    W c = 0;
                    for (size_t i = 0; i < n; ++i) {
                        const W s = W(u[start + i]) + vs[i] + c;
                        if (s == kBase)
                            ++events.exactBaseSums;
                        u[start + i] = D(s);
                        c = s >> kBits;
                    }
                }
            }
            q.insert(q.begin(), D(qhat));
            u.pop_back();
        }
        if (remainder) {
            // Undo the scaling: divide by the single digit, from the top.
            std::vector<D> r(u.size(), 0);
            W rest = 0;
            for (size_t i = u.size(); i-- > 0;) {
                const W t = (rest << kBits) | u[i];
                r[i] = D(t / scale);
                rest = t % scale;
            }
            remainder->d = r;
            remainder->Normalize();
        }
        d = q.empty() ? std::vector<D>{0} : q;
        Normalize();
    }

    void Modulo(const Ref& m)
    {
        Ref copy = *this;
        copy.DivMod(m, this);
    }

    void MulMod(const Ref& b, const Ref& m)
    {
        Multiply(b);
        Modulo(m);
    }

    void PowMod(const Ref& e, const Ref& m)
    {
        Ref result(1), base = *this;
        const size_t bits = e.BitLength();
        for (size_t i = 0; i < bits; ++i) {
            if (e.TestBit(i))
                result.MulMod(base, m);
            base.MulMod(base, m);
        }
        *this = result;
    }

    void InverseMod(const Ref& m)
    {
        Ref x0(1), x1(0), a = *this, b = m;
        bool positive = true;
        while (!b.IsZero()) {
            Ref q = a, r;
            q.DivMod(b, &r);
            Ref t = q;
            t.Multiply(x1);
            t.Add(x0);
            x0 = x1;
            x1 = t;
            a = b;
            b = r;
            positive = !positive;
        }
        if (positive) {
            *this = x0;
        } else {
            *this = m;
            Subtract(x0);
        }
    }

    void Gcd(const Ref& b)
    {
        Ref bb = b;
        while (!bb.IsZero()) {
            Ref t = *this;
            t.Modulo(bb);
            *this = bb;
            bb = t;
        }
    }

    size_t BitLength() const
    {
        size_t bits = kBits * d.size();
        for (D top = d.back(), mask = D(W(1) << (kBits - 1)); mask && !(top & mask); mask >>= 1)
            --bits;
        return bits;
    }

    bool TestBit(size_t i) const { return (d[i / kBits] >> (i % kBits)) & 1; }

private:
    // x *= s in place (s < B); returns the carry out of the top.
    static D MulDigit(std::vector<D>& x, W s)
    {
        W carry = 0;
        for (D& digit : x) {
            const W t = W(digit) * s + carry;
            digit = D(t);
            carry = t >> kBits;
        }
        return D(carry);
    }
};

template <typename D>
DivisionEvents Ref<D>::events;

using Ref16 = Ref<uint16_t>;

// --- operands -----------------------------------------------------------------

// A number of exactly `bits` bits (0 gives zero) whose 16-bit digits are
// drawn from random values and the patterns that stress carries and
// estimates: 0000, ffff, 8000, 0001, 7fff.
Bytes Operand(std::mt19937_64& rng, size_t bits)
{
    if (bits == 0)
        return {};
    const size_t digits = (bits + 15) / 16;
    std::vector<uint16_t> v(digits);
    // Whole runs of one pattern now and then, single pattern digits otherwise.
    const unsigned style = unsigned(rng() % 4);
    const uint16_t run = std::vector<uint16_t>{0x0000, 0xffff, 0x8000, 0x7fff}[rng() % 4];
    for (auto& digit : v) {
        const unsigned pick = unsigned(rng() % 10);
        if (style == 0 && pick < 7)
            digit = run;
        else if (pick < 5)
            digit = uint16_t(rng());
        else
            digit = std::vector<uint16_t>{0x0000, 0xffff, 0x8000, 0x0001, 0x7fff}[pick - 5];
    }
    const unsigned topBits = unsigned((bits - 1) % 16 + 1);
    v[0] = uint16_t(v[0] & (topBits == 16 ? 0xffff : (1u << topBits) - 1));
    v[0] = uint16_t(v[0] | (1u << (topBits - 1)));
    Bytes out;
    for (uint16_t digit : v) {
        out.push_back(uint8_t(digit >> 8));
        out.push_back(uint8_t(digit));
    }
    // Whole leading zero bytes are part of the encoding only now and then.
    size_t drop = 0;
    while (drop < out.size() && out[drop] == 0)
        ++drop;
    if (rng() % 4)
        out.erase(out.begin(), out.begin() + std::ptrdiff_t(drop));
    return out;
}

size_t RandomBits(std::mt19937_64& rng, size_t max)
{
    return size_t(rng() % (max + 1));
}

// --- the typed suite -------------------------------------------------------------

template <typename Num>
class BigIntTest : public ::testing::Test {
public:
    static constexpr unsigned kLimbBits = Num::kLimbBits;

    static Num Make(const Bytes& b)
    {
        Num n(7); // a stale value and array to be replaced
        n.FromBytes(BlobOf(b));
        return n;
    }
    static Num Make(const Mpz& z) { return Make(z.ToBytes()); }
    static std::string H(const Num& n) { return ToHex(Content(n.ToBytes())); }
    static std::string H(const Mpz& z) { return ToHex(z.ToBytes()); }
    template <typename D> static std::string H(const Ref<D>& r) { return ToHex(r.ToBytes()); }
    // No zero limb on top: what Compare and IsZero rely on.
    static bool Normal(const Num& n)
    {
        return n.LimbCount() == 1 || uint64_t(n.LimbCount() - 1) * kLimbBits < n.BitLength();
    }

protected:
    std::mt19937_64 rng{0x5eed0000u + kLimbBits};
};

struct LimbName {
    template <typename T>
    static std::string GetName(int)
    {
        return "Limb" + std::to_string(T::kLimbBits);
    }
};

#if ZEL_BIGINT_HAVE_LIMB64
using Widths = ::testing::Types<XBigIntT<uint32_t>, XBigIntT<uint64_t>>;
#else
using Widths = ::testing::Types<XBigIntT<uint32_t>>;
#endif
TYPED_TEST_SUITE(BigIntTest, Widths, LimbName);

static_assert(std::is_same<XBigInt, XBigIntT<XBigIntLimb>>::value, "XBigInt is the build's width");

// The examples of the number's documented behaviour, as one table each.
TYPED_TEST(BigIntTest, DocumentedExamples)
{
    using Num = TypeParam;
    auto num = [](const Bytes& b) { return TestFixture::Make(b); };

    struct BytesCase {
        Bytes in;
        uint32_t length;
        Bytes out;
    };
    const BytesCase bytes[] = {
        {{0x01, 0x00, 0x01}, 0, {0x01, 0x00, 0x01}},
        {{0x00, 0x00, 0x01, 0x00}, 0, {0x01, 0x00}},
        {{}, 0, {0x00}},
        {{0x00, 0x00}, 0, {0x00}},
        {{0x01, 0x00, 0x01}, 4, {0x00, 0x01, 0x00, 0x01}},
        {{0x01, 0x00, 0x01}, 2, {0x00, 0x01}},
        {{0x12, 0x34}, 1, {0x34}},
        {{}, 3, {0x00, 0x00, 0x00}},
    };
    for (const auto& c : bytes)
        EXPECT_EQ(ToHex(Content(num(c.in).ToBytes(c.length))), ToHex(c.out)) << ToHex(c.in) << " length " << c.length;

    EXPECT_EQ(num({0x01, 0x00, 0x00}).Compare(num({0xff, 0xff})), 1);
    EXPECT_EQ(num({0xff, 0xff}).Compare(num({0x01, 0x00, 0x00})), -1);
    EXPECT_EQ(num({0x00, 0x05}).Compare(num({0x05})), 0);

    struct DivCase {
        Bytes u, v, q, r;
    };
    const DivCase divisions[] = {
        {{0x07}, {0x0a}, {0x00}, {0x07}},
        {{0x01, 0x00, 0x00, 0x00, 0x00}, {0xff, 0xff}, {0x01, 0x00, 0x01}, {0x01}},
    };
    for (const auto& c : divisions) {
        Num q = num(c.u), r(99);
        q.DivMod(num(c.v), &r);
        EXPECT_EQ(TestFixture::H(q), ToHex(c.q)) << ToHex(c.u) << " / " << ToHex(c.v);
        EXPECT_EQ(TestFixture::H(r), ToHex(c.r)) << ToHex(c.u) << " mod " << ToHex(c.v);
    }

    struct PowCase {
        Bytes a, e, m, result;
    };
    const PowCase powers[] = {
        {{0x05}, {}, {0x07}, {0x01}},
        {{0x05}, {}, {0x01}, {0x01}},
        {{0x02}, {0x06}, {0x07}, {0x01}},
        {{0x03}, {0x01, 0x00, 0x01}, {0x07}, {0x05}},
        {{0x03}, {0x01, 0x00, 0x01}, {0x08}, {0x03}},
    };
    for (const auto& c : powers) {
        Num a = num(c.a);
        a.PowMod(num(c.e), num(c.m));
        EXPECT_EQ(TestFixture::H(a), ToHex(c.result)) << ToHex(c.a) << "^" << ToHex(c.e) << " mod " << ToHex(c.m);
    }

    struct PairCase {
        uint32_t a, b, result;
    };
    const PairCase inverses[] = {{3, 7, 5}, {17, 3120, 2753}, {65537, 3120, 2753}};
    for (const auto& c : inverses) {
        Num a(c.a);
        a.InverseMod(Num(c.b));
        EXPECT_EQ(a.Compare(Num(c.result)), 0) << c.a << "^-1 mod " << c.b << " gave " << TestFixture::H(a);
    }
    const PairCase gcds[] = {{65537, 3120, 1}, {12, 18, 6}, {18, 12, 6}, {5, 0, 5}, {0, 5, 5}};
    for (const auto& c : gcds) {
        Num a(c.a);
        a.Gcd(Num(c.b));
        EXPECT_EQ(a.Compare(Num(c.result)), 0) << "gcd(" << c.a << ", " << c.b << ")";
    }

    EXPECT_EQ(Num(1).BitLength(), 1u);
    EXPECT_EQ(num({0x01, 0x00, 0x00}).BitLength(), 17u);
    EXPECT_EQ(Num(0).BitLength(), 0u);
}

TYPED_TEST(BigIntTest, BytesMatchGmpAndReference)
{
    for (int i = 0; i < 300; ++i) {
        Bytes in = Operand(this->rng, RandomBits(this->rng, 300));
        if (i % 5 == 0)
            in.insert(in.begin(), size_t(this->rng() % 9), 0);
        const auto n = TestFixture::Make(in);
        const Mpz z(in);
        const Ref16 ref = Ref16::FromBytes(in);
        EXPECT_TRUE(TestFixture::Normal(n)) << ToHex(in);
        ASSERT_EQ(TestFixture::H(n), TestFixture::H(z)) << ToHex(in);
        EXPECT_EQ(ToHex(ref.ToBytes()), TestFixture::H(z)) << ToHex(in);
        // Every length from 1 to past the value's own: cut, exact and padded.
        const size_t bytes = (mpz_sizeinbase(z.get(), 2) + 7) / 8;
        for (size_t length = 1; length <= bytes + 9; ++length) {
            const std::string expected = ToHex(z.ToBytes(length));
            ASSERT_EQ(ToHex(Content(n.ToBytes(uint32_t(length)))), expected) << ToHex(in) << " length " << length;
            ASSERT_EQ(ToHex(ref.ToBytes(length)), expected) << ToHex(in) << " length " << length;
        }
    }
}

TYPED_TEST(BigIntTest, CompareAndBitQueriesMatchGmp)
{
    using Num = TypeParam;
    for (int i = 0; i < 300; ++i) {
        const size_t bits = RandomBits(this->rng, 260);
        const Bytes ab = Operand(this->rng, bits);
        // Half the pairs share their length, many of them most digits.
        Bytes bb = i % 2 ? Operand(this->rng, bits) : ab;
        if (i % 2 == 0 && !bb.empty())
            bb[this->rng() % bb.size()] ^= uint8_t(1u << (this->rng() % 8));
        const Num a = TestFixture::Make(ab), b = TestFixture::Make(bb);
        const Mpz za(ab), zb(bb);
        const int expected = (mpz_cmp(za.get(), zb.get()) > 0) - (mpz_cmp(za.get(), zb.get()) < 0);
        ASSERT_EQ(a.Compare(b), expected) << ToHex(ab) << " vs " << ToHex(bb);
        EXPECT_EQ(a < b, expected < 0);
        EXPECT_EQ(a <= b, expected <= 0);
        EXPECT_EQ(a > b, expected > 0);
        EXPECT_EQ(a >= b, expected >= 0);
        EXPECT_EQ(a == b, expected == 0);
        EXPECT_EQ(a != b, expected != 0);

        EXPECT_EQ(a.BitLength(), mpz_sgn(za.get()) ? mpz_sizeinbase(za.get(), 2) : 0) << ToHex(ab);
        EXPECT_EQ(a.IsZero(), mpz_sgn(za.get()) == 0);
        EXPECT_EQ(a.IsOne(), mpz_cmp_ui(za.get(), 1) == 0);
        EXPECT_EQ(a.IsEven(), mpz_even_p(za.get()) != 0);
        for (uint64_t bit = 0; bit < bits + 2 * TestFixture::kLimbBits; ++bit)
            ASSERT_EQ(a.TestBit(bit), mpz_tstbit(za.get(), bit) != 0) << ToHex(ab) << " bit " << bit;
    }
    EXPECT_FALSE(Num(1).TestBit(uint64_t(1) << 40));
    EXPECT_TRUE(Num(1).IsOne());
    EXPECT_FALSE(Num(0).IsOne());
}

TYPED_TEST(BigIntTest, AddSubtractMultiplyMatchGmpAndReference)
{
    using Num = TypeParam;
    for (int i = 0; i < 400; ++i) {
        const Bytes ab = Operand(this->rng, RandomBits(this->rng, 600));
        const Bytes bb = Operand(this->rng, RandomBits(this->rng, i % 3 ? 600 : 70));
        const Mpz za(ab), zb(bb);
        Mpz sum, product, big, small;
        mpz_add(sum.get(), za.get(), zb.get());
        mpz_mul(product.get(), za.get(), zb.get());
        const bool aLarger = mpz_cmp(za.get(), zb.get()) >= 0;
        big = aLarger ? za : zb;
        small = aLarger ? zb : za;
        Mpz difference;
        mpz_sub(difference.get(), big.get(), small.get());

        Num a = TestFixture::Make(ab);
        a.Add(TestFixture::Make(bb));
        ASSERT_EQ(TestFixture::H(a), TestFixture::H(sum)) << ToHex(ab) << " + " << ToHex(bb);
        EXPECT_TRUE(TestFixture::Normal(a));

        Num d = TestFixture::Make(big);
        d.Subtract(TestFixture::Make(small));
        ASSERT_EQ(TestFixture::H(d), TestFixture::H(difference)) << TestFixture::H(big) << " - " << TestFixture::H(small);
        EXPECT_TRUE(TestFixture::Normal(d));

        Num p = TestFixture::Make(ab);
        p.Multiply(TestFixture::Make(bb));
        ASSERT_EQ(TestFixture::H(p), TestFixture::H(product)) << ToHex(ab) << " * " << ToHex(bb);
        EXPECT_TRUE(TestFixture::Normal(p));

        if (i % 4 == 0) {
            Ref16 rs = Ref16::FromBytes(ab), rd = Ref16::FromBytes(big.ToBytes()),
                  rp = Ref16::FromBytes(ab);
            rs.Add(Ref16::FromBytes(bb));
            rd.Subtract(Ref16::FromBytes(small.ToBytes()));
            rp.Multiply(Ref16::FromBytes(bb));
            EXPECT_EQ(TestFixture::H(rs), TestFixture::H(sum));
            EXPECT_EQ(TestFixture::H(rd), TestFixture::H(difference));
            EXPECT_EQ(TestFixture::H(rp), TestFixture::H(product));
        }
    }

    // Carries and borrows that run through every limb, and results of zero.
    for (size_t bits : {16u, 32u, 64u, 96u, 128u, 200u, 512u}) {
        const Mpz all = [&] {
            Mpz z = Pow2(bits);
            mpz_sub_ui(z.get(), z.get(), 1);
            return z;
        }();
        Num x = TestFixture::Make(all);
        x.Add(Num(1));
        EXPECT_EQ(TestFixture::H(x), TestFixture::H(Pow2(bits))) << bits;
        x.Subtract(Num(1));
        EXPECT_EQ(TestFixture::H(x), TestFixture::H(all)) << bits;
        x.Subtract(TestFixture::Make(all));
        EXPECT_TRUE(x.IsZero()) << bits;
        EXPECT_EQ(x.LimbCount(), 1u);
        Num sq = TestFixture::Make(all);
        sq.Multiply(TestFixture::Make(all));
        Mpz expected;
        mpz_mul(expected.get(), all.get(), all.get());
        EXPECT_EQ(TestFixture::H(sq), TestFixture::H(expected)) << bits;
        sq.Multiply(Num(0));
        EXPECT_TRUE(sq.IsZero());
    }
}

TYPED_TEST(BigIntTest, DivisionMatchesGmpAndReference)
{
    using Num = TypeParam;
    for (int i = 0; i < 600; ++i) {
        const size_t vbits = 1 + RandomBits(this->rng, i % 4 ? 400 : 40);
        const size_t ubits = i % 7 == 0 ? RandomBits(this->rng, vbits) : vbits + RandomBits(this->rng, 500);
        const Bytes ub = Operand(this->rng, ubits), vb = Operand(this->rng, vbits);
        const Mpz zu(ub), zv(vb);
        Mpz q, r;
        mpz_fdiv_qr(q.get(), r.get(), zu.get(), zv.get());

        Num quotient = TestFixture::Make(ub), remainder(12345);
        quotient.DivMod(TestFixture::Make(vb), &remainder);
        ASSERT_EQ(TestFixture::H(quotient), TestFixture::H(q)) << ToHex(ub) << " / " << ToHex(vb);
        ASSERT_EQ(TestFixture::H(remainder), TestFixture::H(r)) << ToHex(ub) << " mod " << ToHex(vb);
        EXPECT_TRUE(TestFixture::Normal(quotient) && TestFixture::Normal(remainder));

        Num divided = TestFixture::Make(ub), reduced = TestFixture::Make(ub);
        divided.Divide(TestFixture::Make(vb));
        reduced.Modulo(TestFixture::Make(vb));
        EXPECT_EQ(TestFixture::H(divided), TestFixture::H(q));
        EXPECT_EQ(TestFixture::H(reduced), TestFixture::H(r));

        if (i % 3 == 0) {
            Ref16 rq = Ref16::FromBytes(ub), rr;
            rq.DivMod(Ref16::FromBytes(vb), &rr);
            EXPECT_EQ(TestFixture::H(rq), TestFixture::H(q)) << ToHex(ub) << " / " << ToHex(vb);
            EXPECT_EQ(TestFixture::H(rr), TestFixture::H(r)) << ToHex(ub) << " mod " << ToHex(vb);
        }
    }
}

// Dividends built so that a quotient digit's estimate survives the two-digit
// test and is one too large, at the 16-bit digit width and at the limb width
// under test.  With B the base and H = B/2: the divisor v = H*B^(k-1) + low
// has its top digit H (so neither scaling changes it) and a zero second
// digit (so the two-digit test cannot lower the estimate); u = Q*v + rem with
// rem = H*B^(k-1) - B*t, 1 <= B*t <= q0*low, q0 = Q mod B, makes the last
// estimate q0 + 1.  rem has a zero low digit while v's is not, so the
// add-back's lowest digit sum is exactly B.  A second family is the classic
// u = (H-1)B^3 + H*B^2 over v = H*B^2 + 1.  Ref at the same width confirms
// both events.
template <typename Num, typename D>
void CheckAddBackDivisions(std::mt19937_64& rng)
{
    constexpr unsigned kBits = 8 * sizeof(D);
    Ref<D>::events = {};
    auto digits = [&](size_t count) {
        Mpz z;
        for (size_t i = 0; i < count; ++i) {
            mpz_mul_2exp(z.get(), z.get(), kBits);
            mpz_add_ui(z.get(), z.get(), (unsigned long)(rng() & ((uint64_t(1) << (kBits - 1) << 1) - 1)));
        }
        return z;
    };
    for (int i = 0; i < 60; ++i) {
        const size_t k = 3 + size_t(rng() % 4);
        Mpz v = Pow2((unsigned long)(kBits * (k - 1) + kBits - 1)); // H * B^(k-1)
        Mpz low = digits(k - 2);
        mpz_setbit(low.get(), kBits * (k - 2) - 1); // low >= B^(k-2) / 2
        mpz_setbit(low.get(), 0);                   // a non-zero low digit
        mpz_add(v.get(), v.get(), low.get());
        // q0 in [2, B - 2]
        const uint64_t span = kBits == 64 ? ~uint64_t(0) - 2 : (uint64_t(1) << kBits) - 3;
        const Mpz q0((unsigned long)(2 + rng() % span));
        // t in [1, q0 * low / B]
        Mpz tmax, t;
        mpz_mul(tmax.get(), q0.get(), low.get());
        mpz_fdiv_q_2exp(tmax.get(), tmax.get(), kBits);
        mpz_set_ui(t.get(), (unsigned long)rng());
        mpz_mod(t.get(), t.get(), tmax.get());
        mpz_add_ui(t.get(), t.get(), 1);
        Mpz rem = Pow2((unsigned long)(kBits * (k - 1) + kBits - 1));
        mpz_submul(rem.get(), t.get(), Pow2(kBits).get());
        Mpz big = digits(size_t(rng() % 3)), u; // higher quotient digits
        mpz_mul_2exp(big.get(), big.get(), kBits);
        mpz_add(big.get(), big.get(), q0.get());
        mpz_mul(u.get(), big.get(), v.get());
        mpz_add(u.get(), u.get(), rem.get());

        const long before = Ref<D>::events.addBacks, sumsBefore = Ref<D>::events.exactBaseSums;
        Ref<D> rq = Ref<D>::FromBytes(u.ToBytes()), rr;
        rq.DivMod(Ref<D>::FromBytes(v.ToBytes()), &rr);
        EXPECT_GT(Ref<D>::events.addBacks, before) << ToHex(u.ToBytes()) << " / " << ToHex(v.ToBytes());
        EXPECT_GT(Ref<D>::events.exactBaseSums, sumsBefore);
        EXPECT_EQ(ToHex(rq.ToBytes()), ToHex(big.ToBytes()));
        EXPECT_EQ(ToHex(rr.ToBytes()), ToHex(rem.ToBytes()));

        Num quotient = BigIntTest<Num>::Make(u), remainder;
        quotient.DivMod(BigIntTest<Num>::Make(v), &remainder);
        ASSERT_EQ(BigIntTest<Num>::H(quotient), BigIntTest<Num>::H(big))
            << ToHex(u.ToBytes()) << " / " << ToHex(v.ToBytes());
        ASSERT_EQ(BigIntTest<Num>::H(remainder), BigIntTest<Num>::H(rem))
            << ToHex(u.ToBytes()) << " mod " << ToHex(v.ToBytes());
    }

    // (H-1)B^3 + H*B^2 over H*B^2 + 1: quotient B - 2, remainder H*B^2 - B + 2.
    const Mpz h = Pow2(kBits - 1);
    Mpz u, v, q, r;
    mpz_sub_ui(u.get(), h.get(), 1);
    mpz_mul_2exp(u.get(), u.get(), kBits);
    mpz_add(u.get(), u.get(), h.get());
    mpz_mul_2exp(u.get(), u.get(), 2 * kBits);
    mpz_mul_2exp(v.get(), h.get(), 2 * kBits);
    mpz_add_ui(v.get(), v.get(), 1);
    mpz_fdiv_qr(q.get(), r.get(), u.get(), v.get());
    const long before = Ref<D>::events.addBacks;
    Ref<D> rq = Ref<D>::FromBytes(u.ToBytes());
    rq.DivMod(Ref<D>::FromBytes(v.ToBytes()), nullptr);
    EXPECT_EQ(Ref<D>::events.addBacks, before + 1);
    Num quotient = BigIntTest<Num>::Make(u), remainder;
    quotient.DivMod(BigIntTest<Num>::Make(v), &remainder);
    EXPECT_EQ(BigIntTest<Num>::H(quotient), BigIntTest<Num>::H(q));
    EXPECT_EQ(BigIntTest<Num>::H(remainder), BigIntTest<Num>::H(r));
}

TYPED_TEST(BigIntTest, DivisionsThatNeedTheAddBack)
{
    using Num = TypeParam;
    CheckAddBackDivisions<Num, uint16_t>(this->rng);
    if (TestFixture::kLimbBits == 32)
        CheckAddBackDivisions<Num, uint32_t>(this->rng);
#if ZEL_BIGINT_HAVE_LIMB64
    if (TestFixture::kLimbBits == 64)
        CheckAddBackDivisions<Num, uint64_t>(this->rng);
#endif
}

TYPED_TEST(BigIntTest, MulModMatchesGmp)
{
    using Num = TypeParam;
    for (int i = 0; i < 300; ++i) {
        const Bytes ab = Operand(this->rng, RandomBits(this->rng, 400));
        const Bytes bb = Operand(this->rng, RandomBits(this->rng, 400));
        const Bytes mb = Operand(this->rng, 1 + RandomBits(this->rng, 300));
        Mpz expected;
        mpz_mul(expected.get(), Mpz(ab).get(), Mpz(bb).get());
        mpz_mod(expected.get(), expected.get(), Mpz(mb).get());
        Num a = TestFixture::Make(ab);
        a.MulMod(TestFixture::Make(bb), TestFixture::Make(mb));
        ASSERT_EQ(TestFixture::H(a), TestFixture::H(expected))
            << ToHex(ab) << " * " << ToHex(bb) << " mod " << ToHex(mb);
    }
}

// Odd moduli take Montgomery arithmetic, even ones long division; both must
// give a^e mod m for every base, reduced or not.
TYPED_TEST(BigIntTest, PowModMatchesGmpAndReference)
{
    using Num = TypeParam;
    auto check = [&](const Bytes& ab, const Bytes& eb, const Bytes& mb, bool withRef) {
        const Mpz za(ab), ze(eb), zm(mb);
        Mpz expected;
        if (mpz_sgn(ze.get()) == 0)
            mpz_set_ui(expected.get(), 1); // not reduced, also for m = 1
        else
            mpz_powm(expected.get(), za.get(), ze.get(), zm.get());
        Num a = TestFixture::Make(ab);
        a.PowMod(TestFixture::Make(eb), TestFixture::Make(mb));
        ASSERT_EQ(TestFixture::H(a), TestFixture::H(expected))
            << ToHex(ab) << " ^ " << ToHex(eb) << " mod " << ToHex(mb);
        EXPECT_TRUE(TestFixture::Normal(a));
        // The fixed-window power for secret exponents gives the same value.
        Num s = TestFixture::Make(ab);
        s.PowModSecret(TestFixture::Make(eb), TestFixture::Make(mb));
        ASSERT_EQ(TestFixture::H(s), TestFixture::H(expected))
            << "masked: " << ToHex(ab) << " ^ " << ToHex(eb) << " mod " << ToHex(mb);
        EXPECT_TRUE(TestFixture::Normal(s));
        if (withRef) {
            Ref16 r = Ref16::FromBytes(ab);
            r.PowMod(Ref16::FromBytes(eb), Ref16::FromBytes(mb));
            ASSERT_EQ(TestFixture::H(r), TestFixture::H(expected))
                << ToHex(ab) << " ^ " << ToHex(eb) << " mod " << ToHex(mb);
        }
    };
    for (int i = 0; i < 240; ++i) {
        const size_t mbits = 1 + RandomBits(this->rng, 300);
        Bytes mb = Operand(this->rng, mbits);
        if (i % 2)
            mb.back() |= 1;
        else
            mb.back() &= 0xfe;
        if (Mpz(mb).ToBytes() == Bytes{0})
            mb = {0x02};
        // Bases below m, equal to m and well above it.
        const size_t abits = i % 5 == 0 ? mbits + RandomBits(this->rng, 200) : RandomBits(this->rng, mbits);
        const Bytes ab = i % 11 == 0 ? mb : Operand(this->rng, abits);
        const Bytes eb = Operand(this->rng, RandomBits(this->rng, i % 3 ? 300 : 24));
        check(ab, eb, mb, mbits <= 160);
    }
    // Full-size exponents at the RSA sizes, both parities.
    for (size_t bits : {512u, 1024u, 2048u}) {
        for (int parity = 0; parity < 2; ++parity) {
            Bytes mb = Operand(this->rng, bits);
            mb.back() = uint8_t((mb.back() & 0xfe) | parity);
            check(Operand(this->rng, bits - 1), Operand(this->rng, bits), mb, false);
        }
    }
    // Small moduli and exponents, base 0 and m - 1, every combination.
    const std::vector<Bytes> smallModuli = {{0x01}, {0x02}, {0x03}, {0x04}, {0x05}, {0xff, 0xff},
                                            {0x01, 0x00, 0x01}, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}};
    const std::vector<Bytes> exponents = {{}, {0x01}, {0x02}, {0x03}, {0x80}, {0x01, 0x00, 0x01},
                                          {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}};
    for (const Bytes& mb : smallModuli) {
        Mpz mMinus1(mb);
        mpz_sub_ui(mMinus1.get(), mMinus1.get(), 1);
        for (const Bytes& ab : {Bytes{}, Bytes{0x02}, mMinus1.ToBytes(), Bytes{0xff, 0xff, 0xff, 0xff, 0xff}})
            for (const Bytes& eb : exponents)
                check(ab, eb, mb, true);
    }
}

// The same numbers through both paths: a^e mod m by Montgomery (m odd) must
// equal (a^e mod 2m) mod m by long division.
TYPED_TEST(BigIntTest, MontgomeryAndDivisionPathsAgree)
{
    using Num = TypeParam;
    for (int i = 0; i < 60; ++i) {
        const size_t bits = 2 + RandomBits(this->rng, i < 50 ? 300 : 1100);
        Bytes mb = Operand(this->rng, bits);
        mb.back() |= 1;
        const Num m = TestFixture::Make(mb);
        Num twice = m;
        twice.ShiftLeft(1);
        const Num base = TestFixture::Make(Operand(this->rng, bits + 8));
        const Num e = TestFixture::Make(Operand(this->rng, 1 + RandomBits(this->rng, bits)));
        Num montgomery = base, division = base;
        montgomery.PowMod(e, m);
        division.PowMod(e, twice);
        division.Modulo(m);
        ASSERT_EQ(TestFixture::H(montgomery), TestFixture::H(division)) << ToHex(mb);
    }
}

TYPED_TEST(BigIntTest, InverseModFollowsTheSignMarkerEuclid)
{
    using Num = TypeParam;
    // Every pair, coprime or not, gives Ref's result; coprime ones also GMP's
    // inverse.
    int coprime = 0;
    for (int i = 0; i < 300; ++i) {
        const Bytes ab = Operand(this->rng, RandomBits(this->rng, 260));
        const Bytes mb = Operand(this->rng, 1 + RandomBits(this->rng, 260));
        Ref16 r = Ref16::FromBytes(ab);
        r.InverseMod(Ref16::FromBytes(mb));
        Num a = TestFixture::Make(ab);
        a.InverseMod(TestFixture::Make(mb));
        ASSERT_EQ(TestFixture::H(a), TestFixture::H(r)) << ToHex(ab) << " ^-1 mod " << ToHex(mb);
        Mpz inverse;
        if (mpz_cmp_ui(Mpz(mb).get(), 1) > 0 && mpz_invert(inverse.get(), Mpz(ab).get(), Mpz(mb).get())) {
            ++coprime;
            ASSERT_EQ(TestFixture::H(a), TestFixture::H(inverse)) << ToHex(ab) << " ^-1 mod " << ToHex(mb);
        }
    }
    EXPECT_GT(coprime, 50);

    // Key generation's uses: e modulo an even phi of 2048 bits, q modulo p.
    gmp_randstate_t state;
    gmp_randinit_mt(state);
    gmp_randseed_ui(state, 20240611);
    for (unsigned long bits : {256ul, 512ul, 1024ul}) {
        Mpz p, q, phi, inverse;
        mpz_urandomb(p.get(), state, bits);
        mpz_setbit(p.get(), bits - 1);
        mpz_nextprime(p.get(), p.get());
        mpz_urandomb(q.get(), state, bits);
        mpz_setbit(q.get(), bits - 1);
        mpz_nextprime(q.get(), q.get());
        if (mpz_cmp(p.get(), q.get()) < 0)
            mpz_swap(p.get(), q.get());
        Mpz p1 = p, q1 = q;
        mpz_sub_ui(p1.get(), p1.get(), 1);
        mpz_sub_ui(q1.get(), q1.get(), 1);
        mpz_mul(phi.get(), p1.get(), q1.get());

        Num qInv = TestFixture::Make(q);
        qInv.InverseMod(TestFixture::Make(p));
        ASSERT_TRUE(mpz_invert(inverse.get(), q.get(), p.get()));
        EXPECT_EQ(TestFixture::H(qInv), TestFixture::H(inverse)) << bits;

        Num e(65537);
        Mpz g;
        mpz_gcd_ui(g.get(), phi.get(), 65537);
        if (mpz_cmp_ui(g.get(), 1) == 0) {
            e.InverseMod(TestFixture::Make(phi));
            ASSERT_TRUE(mpz_invert(inverse.get(), Mpz(65537).get(), phi.get()));
            EXPECT_EQ(TestFixture::H(e), TestFixture::H(inverse)) << bits;
        }
    }
    gmp_randclear(state);

    // Degenerate inputs run the same steps: 0 modulo m gives m, anything
    // modulo 1 gives 1 and modulo 0 gives 1.
    Num zero(0);
    zero.InverseMod(Num(3120));
    EXPECT_EQ(zero.Compare(Num(3120)), 0);
    Num five(5);
    five.InverseMod(Num(1));
    EXPECT_TRUE(five.IsOne());
    Num seven(7);
    seven.InverseMod(Num(0));
    EXPECT_TRUE(seven.IsOne());
}

// The binary inverse for odd moduli: GMP's inverse for coprime pairs (bases
// above the modulus included), false and the number unchanged otherwise.
TYPED_TEST(BigIntTest, InverseModOddMatchesGmp)
{
    using Num = TypeParam;
    int coprime = 0, refused = 0;
    auto check = [&](const Bytes& ab, const Bytes& mb) {
        const Mpz za(ab), zm(mb);
        Mpz inverse;
        const bool expected = mpz_odd_p(zm.get()) && mpz_cmp_ui(zm.get(), 1) > 0 &&
                              mpz_invert(inverse.get(), za.get(), zm.get()) != 0;
        Num a = TestFixture::Make(ab);
        ASSERT_EQ(a.InverseModOdd(TestFixture::Make(mb)), expected) << ToHex(ab) << " ^-1 mod " << ToHex(mb);
        if (expected) {
            ++coprime;
            ASSERT_EQ(TestFixture::H(a), TestFixture::H(inverse)) << ToHex(ab) << " ^-1 mod " << ToHex(mb);
            EXPECT_TRUE(TestFixture::Normal(a));
        } else {
            ++refused;
            ASSERT_EQ(TestFixture::H(a), TestFixture::H(za)) << "changed although refused";
        }
    };
    for (int i = 0; i < 400; ++i) {
        const size_t mbits = 1 + RandomBits(this->rng, i < 300 ? 300 : 2100);
        Bytes mb = Operand(this->rng, mbits);
        if (i % 8 != 0)
            mb.back() |= 1;
        const size_t abits = i % 5 == 0 ? mbits + 70 : RandomBits(this->rng, mbits);
        check(Operand(this->rng, abits), mb);
    }
    // Common factors, 0, 1, m - 1, m itself, and the moduli 1, 2 and 3.
    const Bytes m15 = {0x0f}, m3 = {0x03};
    for (const Bytes& ab : {Bytes{}, Bytes{0x01}, Bytes{0x03}, Bytes{0x05}, Bytes{0x0e}, Bytes{0x0f}, Bytes{0x10}})
        check(ab, m15);
    for (const Bytes& mb : {Bytes{0x01}, Bytes{0x02}, m3})
        check(Bytes{0x02}, mb);
    EXPECT_GT(coprime, 200);
    EXPECT_GT(refused, 20);
}

TYPED_TEST(BigIntTest, GcdMatchesGmp)
{
    for (int i = 0; i < 300; ++i) {
        Bytes ab = Operand(this->rng, RandomBits(this->rng, 300));
        Bytes bb = Operand(this->rng, RandomBits(this->rng, 300));
        // A common factor now and then, so that the answers are not all 1.
        if (i % 2) {
            const Mpz f(Operand(this->rng, 1 + RandomBits(this->rng, 100)));
            Mpz a(ab), b(bb);
            mpz_mul(a.get(), a.get(), f.get());
            mpz_mul(b.get(), b.get(), f.get());
            ab = a.ToBytes();
            bb = b.ToBytes();
        }
        Mpz expected;
        mpz_gcd(expected.get(), Mpz(ab).get(), Mpz(bb).get());
        auto a = TestFixture::Make(ab);
        a.Gcd(TestFixture::Make(bb));
        ASSERT_EQ(TestFixture::H(a), TestFixture::H(expected)) << "gcd(" << ToHex(ab) << ", " << ToHex(bb) << ")";
    }
}

TYPED_TEST(BigIntTest, SmallNumberHelpersMatchGmp)
{
    using Num = TypeParam;
    const uint32_t smallValues[] = {0, 1, 2, 3, 7, 255, 65535, 65536, 20393, 0x7fffffffu, 0xfffffffbu, 0xffffffffu};
    for (int i = 0; i < 200; ++i) {
        const Bytes ab = Operand(this->rng, RandomBits(this->rng, 300));
        const Mpz za(ab);
        const uint32_t v = i % 2 ? smallValues[size_t(i / 2) % 12] : uint32_t(this->rng());

        Num sum = TestFixture::Make(ab);
        sum.AddSmall(v);
        Mpz expected;
        mpz_add_ui(expected.get(), za.get(), v);
        ASSERT_EQ(TestFixture::H(sum), TestFixture::H(expected)) << ToHex(ab) << " + " << v;

        if (mpz_cmp_ui(za.get(), v) >= 0) {
            Num difference = TestFixture::Make(ab);
            difference.SubtractSmall(v);
            mpz_sub_ui(expected.get(), za.get(), v);
            ASSERT_EQ(TestFixture::H(difference), TestFixture::H(expected)) << ToHex(ab) << " - " << v;
            EXPECT_TRUE(TestFixture::Normal(difference));
        }

        if (v != 0) {
            ASSERT_EQ(TestFixture::Make(ab).ModSmall(v), mpz_fdiv_ui(za.get(), v)) << ToHex(ab) << " mod " << v;
        }

        const uint64_t shift = this->rng() % 200;
        Num left = TestFixture::Make(ab), right = TestFixture::Make(ab);
        left.ShiftLeft(shift);
        right.ShiftRight(shift);
        mpz_mul_2exp(expected.get(), za.get(), shift);
        ASSERT_EQ(TestFixture::H(left), TestFixture::H(expected)) << ToHex(ab) << " << " << shift;
        mpz_fdiv_q_2exp(expected.get(), za.get(), shift);
        ASSERT_EQ(TestFixture::H(right), TestFixture::H(expected)) << ToHex(ab) << " >> " << shift;
        EXPECT_TRUE(TestFixture::Normal(right));
    }
    Num x(0);
    x.AddSmall(5);
    EXPECT_EQ(x.Compare(Num(5)), 0);
    x.SubtractSmall(5);
    EXPECT_TRUE(x.IsZero());
    EXPECT_EQ(x.ModSmall(0), 0u);
    x.ShiftRight(uint64_t(1) << 40);
    EXPECT_TRUE(x.IsZero());
}

// a.Op(a), a.Op(b, a) and remainder targets that are an argument: each
// operand is read as it was before the call.
TYPED_TEST(BigIntTest, ArgumentsMayBeTheNumberItself)
{
    using Num = TypeParam;
    for (int i = 0; i < 40; ++i) {
        const Bytes ab = Operand(this->rng, 1 + RandomBits(this->rng, 400));
        const Bytes bb = Operand(this->rng, 1 + RandomBits(this->rng, 200));
        const Mpz za(ab), zb(bb);
        Mpz expected;

        Num x = TestFixture::Make(ab);
        x.Add(x);
        mpz_add(expected.get(), za.get(), za.get());
        EXPECT_EQ(TestFixture::H(x), TestFixture::H(expected));

        x = TestFixture::Make(ab);
        x.Subtract(x);
        EXPECT_TRUE(x.IsZero());

        x = TestFixture::Make(ab);
        x.Multiply(x);
        mpz_mul(expected.get(), za.get(), za.get());
        EXPECT_EQ(TestFixture::H(x), TestFixture::H(expected));

        x = TestFixture::Make(ab);
        x.DivMod(x, &x); // the remainder target wins
        EXPECT_TRUE(x.IsZero());

        x = TestFixture::Make(ab);
        Num v = TestFixture::Make(bb);
        x.DivMod(v, &v);
        Mpz q, r;
        mpz_fdiv_qr(q.get(), r.get(), za.get(), zb.get());
        EXPECT_EQ(TestFixture::H(x), TestFixture::H(q));
        EXPECT_EQ(TestFixture::H(v), TestFixture::H(r));

        x = TestFixture::Make(ab);
        x.DivMod(TestFixture::Make(bb), &x);
        EXPECT_EQ(TestFixture::H(x), TestFixture::H(r));

        x = TestFixture::Make(ab);
        x.Modulo(x);
        EXPECT_TRUE(x.IsZero());

        x = TestFixture::Make(ab);
        x.MulMod(TestFixture::Make(bb), x); // (a * b) mod a
        EXPECT_TRUE(x.IsZero());

        x = TestFixture::Make(ab);
        x.MulMod(x, TestFixture::Make(bb));
        mpz_mul(expected.get(), za.get(), za.get());
        mpz_mod(expected.get(), expected.get(), zb.get());
        EXPECT_EQ(TestFixture::H(x), TestFixture::H(expected));

        x = TestFixture::Make(ab);
        x.PowMod(x, TestFixture::Make(bb)); // a^a mod b
        mpz_powm(expected.get(), za.get(), za.get(), zb.get());
        EXPECT_EQ(TestFixture::H(x), TestFixture::H(expected));

        x = TestFixture::Make(ab);
        x.PowMod(TestFixture::Make(bb), x); // a^b mod a
        EXPECT_TRUE(x.IsZero());

        x = TestFixture::Make(ab);
        x.Gcd(x);
        EXPECT_EQ(TestFixture::H(x), TestFixture::H(za));
    }
}

TYPED_TEST(BigIntTest, CopiesAreIndependentValues)
{
    using Num = TypeParam;
    const Bytes ab = Operand(this->rng, 300), bb = Operand(this->rng, 40);
    const Num a = TestFixture::Make(ab);
    Num copy(a);
    copy.AddSmall(1);
    EXPECT_EQ(TestFixture::H(a), ToHex(Mpz(ab).ToBytes()));
    EXPECT_EQ(copy.Compare(a), 1);

    Num assigned = TestFixture::Make(bb); // shorter storage: grows
    assigned = a;
    EXPECT_EQ(assigned.Compare(a), 0);
    Num shrunk = a; // longer storage: reused
    shrunk = TestFixture::Make(bb);
    EXPECT_EQ(TestFixture::H(shrunk), ToHex(Mpz(bb).ToBytes()));
    shrunk = shrunk;
    EXPECT_EQ(TestFixture::H(shrunk), ToHex(Mpz(bb).ToBytes()));

    Num moved(std::move(copy));
    EXPECT_EQ(moved.Compare(a), 1);
    EXPECT_TRUE(copy.IsZero()); // a moved-from number is zero and usable
    copy.Add(a);
    EXPECT_EQ(copy.Compare(a), 0);
    Num target(5);
    target = std::move(moved);
    EXPECT_EQ(target.Compare(a), 1);

    // Numbers that never held a value are zero and take any operation.
    Num z1, z2;
    z1.Subtract(z2);
    z1.Multiply(z2);
    z1.ShiftLeft(100);
    EXPECT_TRUE(z1.IsZero());
    EXPECT_EQ(ToHex(Content(z1.ToBytes())), "00");
    z1.AddSmall(0);
    EXPECT_TRUE(z1.IsZero());
    EXPECT_EQ(z1.LimbCount(), 1u);
}

// Outside the contract the results are fixed and no array is overrun (the
// sanitizer build checks the latter).
TYPED_TEST(BigIntTest, ZeroDivisorAndNegativeDifferenceGiveZero)
{
    using Num = TypeParam;
    const Bytes ab = Operand(this->rng, 500);
    Num q = TestFixture::Make(ab), r(77);
    q.DivMod(Num(0), &r);
    EXPECT_TRUE(q.IsZero());
    EXPECT_TRUE(r.IsZero());
    Num m = TestFixture::Make(ab);
    m.Modulo(Num(0));
    EXPECT_TRUE(m.IsZero());
    m = TestFixture::Make(ab);
    m.MulMod(TestFixture::Make(ab), Num(0));
    EXPECT_TRUE(m.IsZero());
    Num p = TestFixture::Make(ab);
    p.PowMod(TestFixture::Make(ab), Num(0));
    EXPECT_TRUE(p.IsZero());
    p = TestFixture::Make(ab);
    p.PowMod(Num(0), Num(0));
    EXPECT_TRUE(p.IsOne());

    for (const Bytes& small : {Bytes{}, Bytes{0x01}, Bytes{0xff, 0xff, 0xff, 0xff, 0xff}}) {
        Num s = TestFixture::Make(small);
        s.Subtract(TestFixture::Make(ab));
        EXPECT_TRUE(s.IsZero());
        EXPECT_EQ(s.LimbCount(), 1u);
    }
    // Same length, larger by one low bit only: the borrow leaves the top.
    Mpz larger(ab), smaller(ab);
    mpz_setbit(larger.get(), 0);
    mpz_clrbit(smaller.get(), 0);
    Num s = TestFixture::Make(smaller);
    s.Subtract(TestFixture::Make(larger));
    EXPECT_TRUE(s.IsZero());
    Num t(3);
    t.SubtractSmall(4);
    EXPECT_TRUE(t.IsZero());
}

// The reference itself, on its own digits, against GMP: what makes it a
// yardstick for the add-back and inverse checks above.
TEST(BigIntReference, AgreesWithGmp)
{
    std::mt19937_64 rng(16);
    for (int i = 0; i < 300; ++i) {
        const Bytes ab = Operand(rng, RandomBits(rng, 300)), bb = Operand(rng, 1 + RandomBits(rng, 200));
        const Mpz za(ab), zb(bb);
        Mpz q, r;
        mpz_fdiv_qr(q.get(), r.get(), za.get(), zb.get());
        Ref16 q16 = Ref16::FromBytes(ab), r16;
        q16.DivMod(Ref16::FromBytes(bb), &r16);
        Ref<uint32_t> q32 = Ref<uint32_t>::FromBytes(ab), r32;
        q32.DivMod(Ref<uint32_t>::FromBytes(bb), &r32);
        ASSERT_EQ(ToHex(q16.ToBytes()), ToHex(q.ToBytes())) << ToHex(ab) << " / " << ToHex(bb);
        ASSERT_EQ(ToHex(r16.ToBytes()), ToHex(r.ToBytes()));
        ASSERT_EQ(ToHex(q32.ToBytes()), ToHex(q.ToBytes()));
        ASSERT_EQ(ToHex(r32.ToBytes()), ToHex(r.ToBytes()));
        Ref16 g = Ref16::FromBytes(ab);
        g.Gcd(Ref16::FromBytes(bb));
        Mpz zg;
        mpz_gcd(zg.get(), za.get(), zb.get());
        EXPECT_EQ(ToHex(g.ToBytes()), ToHex(zg.ToBytes()));
    }
}

} // namespace
