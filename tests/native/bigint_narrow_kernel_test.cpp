// The Montgomery kernels of the 32-bit-limb big integers (portable, SSE2,
// AVX2: the i686 build's RSA path) checked against GMP: the vector product
// itself at every modulus length it takes, with the longest carry chains
// (all-ones operands and moduli, runs of ones ending at every 28-bit digit
// and 32-bit limb boundary) and moduli just below a power of two; powers
// through XBigIntT<uint32_t> at the limb counts around the RSA sizes with
// each kernel; and the RSA private operation (CRT and plain) on published
// keys and a 2048-bit key.
#include "rsa/bigint.h"
#include "rsa/bigint_sse2.h"
#include "tests/native/rsa_pkcs1_vectors.h"
#include "tests/native/rsa_test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace rsa_test;
using Narrow = XBigIntT<uint32_t>;
using zel_bigint::VectorMontgomery32;

const char* Name(XBigIntNarrowKernel kernel)
{
    switch (kernel) {
    case XBigIntNarrowKernel::kSse2:
        return "sse2";
    case XBigIntNarrowKernel::kAvx2:
        return "avx2";
    default:
        return "portable";
    }
}

std::vector<XBigIntNarrowKernel> Kernels(bool withPortable)
{
    std::vector<XBigIntNarrowKernel> kernels;
    if (withPortable)
        kernels.push_back(XBigIntNarrowKernel::kPortable);
    for (XBigIntNarrowKernel k : {XBigIntNarrowKernel::kSse2, XBigIntNarrowKernel::kAvx2}) {
        if (XBigIntNarrowKernelAvailable(k))
            kernels.push_back(k);
    }
    return kernels;
}

// Restores the process's narrow kernel at the end of a test.
class KernelGuard {
public:
    KernelGuard() : saved_(XBigIntActiveNarrowKernel()) {}
    ~KernelGuard() { XBigIntSelectNarrowKernel(saved_); }

private:
    XBigIntNarrowKernel saved_;
};

Narrow ToNarrow(const Mpz& z)
{
    Narrow x;
    x.FromBytes(BlobOf(z.ToBytes()));
    return x;
}

bool NarrowEqual(const Narrow& a, const Mpz& b)
{
    return mpz_cmp(Mpz(a.ToBytes(0)).get(), b.get()) == 0;
}

Mpz RandomBelow(std::mt19937_64& random, const Mpz& m)
{
    Bytes b(m.ToBytes().size() + 8);
    for (auto& v : b)
        v = uint8_t(random());
    Mpz x(b);
    mpz_mod(x.get(), x.get(), m.get());
    return x;
}

Mpz PowerOfTwo(unsigned long bits)
{
    Mpz x;
    mpz_setbit(x.get(), bits);
    return x;
}

// x as n little-endian 32-bit limbs (x < 2^(32 n)).
std::vector<uint32_t> Limbs(const Mpz& x, size_t n)
{
    std::vector<uint32_t> limbs(n, 0);
    size_t count = 0;
    mpz_export(limbs.data(), &count, -1, sizeof(uint32_t), 0, 0, x.get());
    return limbs;
}

Mpz FromLimbs(const std::vector<uint32_t>& limbs)
{
    Mpz x;
    mpz_import(x.get(), limbs.size(), -1, sizeof(uint32_t), 0, 0, limbs.data());
    return x;
}

// Runs the kernel's product on (a, b) modulo m and compares it with
// a b 2^-RBits mod m; the message names the case.
class ProductChecker {
public:
    ProductChecker(XBigIntNarrowKernel kernel, const Mpz& m)
        : n_((mpz_sizeinbase(m.get(), 2) + 31) / 32), m_(m), limbsM_(Limbs(m, n_)),
          kernel_(limbsM_.data(), n_, kernel)
    {
        // R^-1 mod m
        mpz_invert(rInverse_.get(), PowerOfTwo(kernel_.RBits()).get(), m.get());
    }

    ::testing::AssertionResult Check(const Mpz& a, const Mpz& b)
    {
        std::vector<uint32_t> x = Limbs(a, n_), y = Limbs(b, n_), r(n_ + 1, 0xa5a5a5a5);
        kernel_.Multiply(r.data(), x.data(), y.data());
        if (r[n_] != 0xa5a5a5a5)
            return ::testing::AssertionFailure() << "wrote past n limbs";
        r.resize(n_);
        Mpz expected;
        mpz_mul(expected.get(), a.get(), b.get());
        mpz_mul(expected.get(), expected.get(), rInverse_.get());
        mpz_mod(expected.get(), expected.get(), m_.get());
        const Mpz got = FromLimbs(r);
        if (mpz_cmp(got.get(), expected.get()) != 0)
            return ::testing::AssertionFailure() << Hex(a) << " * " << Hex(b) << " mod " << Hex(m_) << ": got "
                                                 << Hex(got) << ", expected " << Hex(expected);
        // The same product with the result written over an operand, and
        // the square through the one-operand path.
        kernel_.Multiply(x.data(), x.data(), y.data());
        if (x != r)
            return ::testing::AssertionFailure() << "aliased result differs";
        std::vector<uint32_t> s = Limbs(a, n_), t = Limbs(a, n_);
        kernel_.Multiply(s.data(), s.data(), s.data());
        kernel_.Multiply(t.data(), t.data(), Limbs(a, n_).data());
        if (s != t)
            return ::testing::AssertionFailure() << "square differs from product " << Hex(a);
        return ::testing::AssertionSuccess();
    }

private:
    size_t n_;
    Mpz m_;
    std::vector<uint32_t> limbsM_;
    VectorMontgomery32 kernel_;
    Mpz rInverse_;
};

TEST(BigIntNarrowKernel, SelectionFollowsAvailability)
{
    KernelGuard guard;
    EXPECT_TRUE(XBigIntNarrowKernelAvailable(XBigIntNarrowKernel::kPortable));
    for (XBigIntNarrowKernel kernel :
         {XBigIntNarrowKernel::kPortable, XBigIntNarrowKernel::kSse2, XBigIntNarrowKernel::kAvx2}) {
        const bool available = XBigIntNarrowKernelAvailable(kernel);
        const XBigIntNarrowKernel before = XBigIntActiveNarrowKernel();
        EXPECT_EQ(XBigIntSelectNarrowKernel(kernel), available);
        EXPECT_EQ(XBigIntActiveNarrowKernel(), available ? kernel : before);
    }
#if defined(__x86_64__)
    EXPECT_TRUE(XBigIntNarrowKernelAvailable(XBigIntNarrowKernel::kSse2)); // x86-64 baseline
#endif
}

TEST(BigIntNarrowKernel, ProductsAtEveryLengthMatchGmp)
{
    std::mt19937_64 random(0x5e2);
    for (XBigIntNarrowKernel kernel : Kernels(false)) {
        for (size_t n = 1; n <= VectorMontgomery32::kMaxLimbs; ++n) {
            const unsigned long bits = 32 * n;
            // A random odd modulus with its top bit set, the all-ones one,
            // and one just below a power of two inside the top limb.
            Mpz randomModulus = RandomBelow(random, PowerOfTwo(bits));
            mpz_setbit(randomModulus.get(), bits - 1);
            mpz_setbit(randomModulus.get(), 0);
            Mpz allOnes = PowerOfTwo(bits), belowPower = PowerOfTwo(bits - 13);
            mpz_sub_ui(allOnes.get(), allOnes.get(), 1);
            mpz_sub_ui(belowPower.get(), belowPower.get(), n == 1 ? 1 : 3);
            for (const Mpz* m : {&randomModulus, &allOnes, &belowPower}) {
                ProductChecker checker(kernel, *m);
                Mpz top(*m), zero(0), one(1);
                mpz_sub_ui(top.get(), top.get(), 1);
                const Mpz r1 = RandomBelow(random, *m), r2 = RandomBelow(random, *m);
                const std::pair<const Mpz*, const Mpz*> cases[] = {
                    {&top, &top}, {&top, &r1}, {&r1, &r2}, {&zero, &r1}, {&one, &top}, {&one, &one},
                };
                for (const auto& [a, b] : cases)
                    ASSERT_TRUE(checker.Check(*a, *b)) << Name(kernel) << ", " << n << " limbs";
            }
        }
    }
}

TEST(BigIntNarrowKernel, CarriesAtEveryDigitAndLimbBoundary)
{
    std::mt19937_64 random(0xb0d);
    for (XBigIntNarrowKernel kernel : Kernels(false)) {
        // The RSA sizes' halves and wholes.
        for (size_t n : {16u, 32u, 48u, 64u, 96u}) {
            const unsigned long bits = 32 * n;
            Mpz allOnes = PowerOfTwo(bits);
            mpz_sub_ui(allOnes.get(), allOnes.get(), 1);
            Mpz randomModulus = RandomBelow(random, PowerOfTwo(bits));
            mpz_setbit(randomModulus.get(), bits - 1);
            mpz_setbit(randomModulus.get(), 0);
            for (const Mpz* m : {&allOnes, &randomModulus}) {
                ProductChecker checker(kernel, *m);
                Mpz top(*m);
                mpz_sub_ui(top.get(), top.get(), 1);
                // Every boundary p of a digit (28 k) or a limb (32 k): a run
                // of ones ending there, a single bit there, and m minus it.
                for (unsigned long p = 1; p < bits; ++p) {
                    if (p % 28 != 0 && p % 32 != 0)
                        continue;
                    Mpz run = PowerOfTwo(p), bit = PowerOfTwo(p), rest;
                    mpz_sub_ui(run.get(), run.get(), 1);
                    mpz_sub(rest.get(), m->get(), run.get());
                    ASSERT_TRUE(checker.Check(run, top)) << Name(kernel) << ", " << n << " limbs, p " << p;
                    ASSERT_TRUE(checker.Check(run, run)) << Name(kernel) << ", " << n << " limbs, p " << p;
                    ASSERT_TRUE(checker.Check(bit, top)) << Name(kernel) << ", " << n << " limbs, p " << p;
                    ASSERT_TRUE(checker.Check(rest, rest)) << Name(kernel) << ", " << n << " limbs, p " << p;
                }
            }
        }
    }
}

TEST(BigIntNarrowKernel, PowersMatchGmpWithEachKernel)
{
    KernelGuard guard;
    std::mt19937_64 random(0x90e);
    // Limb counts around the RSA sizes (and the vector kernel's largest,
    // past which the portable loops take over), and a few short ones.
    std::vector<size_t> limbCounts = {1, 2, 3, 5, 7, 8, 15, 16, 17, 31, 32, 33, 47, 48, 49,
                                      63, 64, 65, 96, 111, 112};
    for (XBigIntNarrowKernel kernel : Kernels(true)) {
        ASSERT_TRUE(XBigIntSelectNarrowKernel(kernel));
        for (size_t n : limbCounts) {
            const unsigned long bits = 32 * n;
            Mpz randomModulus = RandomBelow(random, PowerOfTwo(bits));
            mpz_setbit(randomModulus.get(), bits - 1);
            mpz_setbit(randomModulus.get(), 0);
            Mpz belowPower = PowerOfTwo(bits - 7); // just below 2^k, k not a limb multiple
            mpz_sub_ui(belowPower.get(), belowPower.get(), 1);
            for (const Mpz* m : {&randomModulus, &belowPower}) {
                Mpz top(*m);
                mpz_sub_ui(top.get(), top.get(), 1);
                // Full-length exponents at the short lengths and the CRT
                // halves of RSA-2048; elsewhere 160 bits run the same
                // products, fewer times.  (PowModSecret reads the exponent
                // over the modulus's length whatever its own: above the CRT
                // halves' size it runs for the last two bases only.)
                const bool full = n < 16 || n == 32;
                const Mpz e = full ? RandomBelow(random, *m) : RandomBelow(random, PowerOfTwo(160));
                const Mpz bases[] = {Mpz(0), Mpz(1), Mpz(2), top, RandomBelow(random, *m)};
                for (size_t i = 0; i < 5; ++i) {
                    const Mpz& base = bases[i];
                    Mpz expected;
                    mpz_powm(expected.get(), base.get(), e.get(), m->get());
                    Narrow x = ToNarrow(base);
                    x.PowMod(ToNarrow(e), ToNarrow(*m));
                    ASSERT_TRUE(NarrowEqual(x, expected)) << Name(kernel) << ", " << n << " limbs: " << Hex(base);
                    if (n > 33 && i < 3)
                        continue;
                    Narrow secret = ToNarrow(base);
                    secret.PowModSecret(ToNarrow(e), ToNarrow(*m));
                    ASSERT_TRUE(NarrowEqual(secret, expected))
                        << Name(kernel) << ", masked, " << n << " limbs: " << Hex(base);
                }
            }
        }
    }
}

// The RSA private operation as the engine runs it on 32-bit limbs: both CRT
// halves by PowModSecret, then Garner's recombination.
Narrow CrtPower(const Narrow& x, const rsa_gmp::Key& key)
{
    const Narrow p = ToNarrow(key.p), q = ToNarrow(key.q);
    Narrow m1(x), m2(x);
    m1.Modulo(p);
    m1.PowModSecret(ToNarrow(key.dP), p);
    m2.Modulo(q);
    m2.PowModSecret(ToNarrow(key.dQ), q);
    Narrow t(m2);
    t.Modulo(p);
    if (m1 >= t) {
        m1.Subtract(t);
        t = m1;
    } else {
        Narrow u(p);
        u.Subtract(t);
        u.Add(m1);
        t = u;
    }
    t.MulMod(ToNarrow(key.qInv), p);
    t.Multiply(q);
    t.Add(m2);
    return t;
}

rsa_gmp::Key KeyFromHex(const rsa_vectors::PssKey& v)
{
    rsa_gmp::Key key;
    key.n = Mpz(FromHex(v.n));
    key.e = Mpz(FromHex(v.e));
    key.d = Mpz(FromHex(v.d));
    key.p = Mpz(FromHex(v.p));
    key.q = Mpz(FromHex(v.q));
    key.dP = Mpz(FromHex(v.dP));
    key.dQ = Mpz(FromHex(v.dQ));
    key.qInv = Mpz(FromHex(v.qInv));
    return key;
}

TEST(BigIntNarrowKernel, PrivateOperationGivesPublishedSignatures)
{
    KernelGuard guard;
    for (XBigIntNarrowKernel kernel : Kernels(true)) {
        ASSERT_TRUE(XBigIntSelectNarrowKernel(kernel));
        for (const auto& c : rsa_vectors::kPssCases) {
            const rsa_gmp::Key key = KeyFromHex(*c.key);
            const Mpz signature(FromHex(c.signature));
            // The encoded message is the signature raised to e.
            Mpz encoded;
            mpz_powm(encoded.get(), signature.get(), key.e.get(), key.n.get());
            const Narrow crt = CrtPower(ToNarrow(encoded), key);
            Narrow plain = ToNarrow(encoded);
            plain.PowModSecret(ToNarrow(key.d), ToNarrow(key.n));
            EXPECT_TRUE(NarrowEqual(crt, signature)) << Name(kernel) << ", vector " << c.name;
            EXPECT_TRUE(NarrowEqual(plain, signature)) << Name(kernel) << ", vector " << c.name << " without CRT";
        }
    }
}

// The engine's own private operation (blinding, CRT, result check) on the
// published keys with each kernel: on the i686 build XBigInt has 32-bit
// limbs and these are the DLL's RSA paths.
TEST(BigIntNarrowKernel, EnginePrivateOperationGivesPublishedSignatures)
{
    KernelGuard guard;
    for (XBigIntNarrowKernel kernel : Kernels(true)) {
        ASSERT_TRUE(XBigIntSelectNarrowKernel(kernel));
        for (const auto& c : rsa_vectors::kPssCases) {
            const rsa_gmp::Key key = KeyFromHex(*c.key);
            const Mpz signature(FromHex(c.signature));
            Mpz encoded;
            mpz_powm(encoded.get(), signature.get(), key.e.get(), key.n.get());
            XRsa rsa;
            rsa.LoadKeyPair(ToBig(key.n), ToBig(key.e), ToBig(key.d), ToBig(key.p), ToBig(key.q), ToBig(key.dP),
                            ToBig(key.dQ), ToBig(key.qInv));
            XBigInt x = ToBig(encoded);
            rsa.ApplyPrivate(x);
            EXPECT_TRUE(rsa_test::Equal(x, signature)) << Name(kernel) << ", vector " << c.name;
        }
    }
}

TEST(BigIntNarrowKernel, Rsa2048PrivateOperationMatchesGmp)
{
    KernelGuard guard;
    const rsa_gmp::Key key = rsa_gmp::Keygen(BlobOf(std::string("narrow kernel p")),
                                             BlobOf(std::string("narrow kernel q")), 256);
    // k = 256 bytes: p and q of 32 limbs, the CRT halves of RSA-2048.
    ASSERT_EQ(key.k, 256u);
    ASSERT_GT(mpz_sizeinbase(key.p.get(), 2), 992u);
    ASSERT_GT(mpz_sizeinbase(key.q.get(), 2), 992u);
    std::mt19937_64 random(0x2048);
    std::vector<Mpz> inputs = {Mpz(0), Mpz(1), Mpz(2)};
    Mpz top(key.n);
    mpz_sub_ui(top.get(), top.get(), 1);
    inputs.push_back(top);
    inputs.push_back(key.p); // a multiple of p: m1 = 0
    for (int i = 0; i < 3; ++i)
        inputs.push_back(RandomBelow(random, key.n));
    for (XBigIntNarrowKernel kernel : Kernels(true)) {
        ASSERT_TRUE(XBigIntSelectNarrowKernel(kernel));
        for (const Mpz& x : inputs) {
            Mpz expected;
            mpz_powm(expected.get(), x.get(), key.d.get(), key.n.get());
            EXPECT_TRUE(NarrowEqual(CrtPower(ToNarrow(x), key), expected)) << Name(kernel) << ": " << Hex(x);
        }
    }
}

} // namespace
