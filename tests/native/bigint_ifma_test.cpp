// The AVX-512 IFMA powers next to the other kernels and GMP: the radix 2^52
// product at every digit count it takes, with the operands that make the
// longest carry chains (all-ones digits and limbs, 2m - 1) and moduli just
// below a power of two; PowMod, PowModSecret and the paired CRT powers at
// the bit lengths around each digit count change near the RSA sizes; and
// the published PKCS #1 vectors through the private operation on every
// kernel.  The IFMA cases are skipped on a CPU without the instructions.
#include "rsa/bigint.h"
#include "rsa/bigint_ifma.h"
#include "tests/native/bigint_kernel_support.h"
#include "tests/native/rsa_pkcs1_vectors.h"
#include "tests/native/rsa_test_support.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace rsa_test;
using bigint_kernels::Name;

constexpr unsigned kDigitBits = 52;

Mpz RandomBits(std::mt19937_64& random, unsigned bits)
{
    Bytes b((bits + 7) / 8);
    for (auto& v : b)
        v = uint8_t(random());
    Mpz z(b);
    mpz_fdiv_r_2exp(z.get(), z.get(), bits);
    return z;
}

// An odd modulus of exactly `bits` bits: 0 random, 1 all ones (2^bits - 1),
// 2 the top bit and 1 (2^(bits-1) + 1).
Mpz Modulus(std::mt19937_64& random, unsigned bits, int kind)
{
    Mpz m;
    if (kind == 1) {
        mpz_ui_pow_ui(m.get(), 2, bits);
        mpz_sub_ui(m.get(), m.get(), 1);
    } else if (kind == 2) {
        mpz_ui_pow_ui(m.get(), 2, bits - 1);
        mpz_add_ui(m.get(), m.get(), 1);
    } else {
        m = RandomBits(random, bits);
        mpz_setbit(m.get(), bits - 1);
        mpz_setbit(m.get(), 0);
    }
    return m;
}

Mpz AllOnes(unsigned bits)
{
    Mpz z;
    mpz_ui_pow_ui(z.get(), 2, bits);
    mpz_sub_ui(z.get(), z.get(), 1);
    return z;
}

std::vector<uint64_t> Digits(const Mpz& z, size_t count)
{
    std::vector<uint64_t> d(count, 0);
    size_t written = 0;
    mpz_export(d.data(), &written, -1, sizeof(uint64_t), 0, 64 - kDigitBits, z.get());
    EXPECT_LE(written, count);
    return d;
}

Mpz FromDigits(const std::vector<uint64_t>& d)
{
    Mpz z;
    mpz_import(z.get(), d.size(), -1, sizeof(uint64_t), 0, 64 - kDigitBits, d.data());
    return z;
}

TEST(BigIntIfma, ProductsAtEveryDigitCount)
{
    if (!zel_bigint::ifma::CpuSupported())
        GTEST_SKIP() << "no AVX-512 IFMA on this CPU";
    std::mt19937_64 random(0x1f3a);
    for (size_t digits = 10; digits <= 80; ++digits) {
        // The longest and the shortest modulus with this digit count.
        for (unsigned bits : {unsigned(kDigitBits * digits - 2), unsigned(kDigitBits * (digits - 1) - 1)}) {
            for (int kind = 0; kind < 3; ++kind) {
                const Mpz m = Modulus(random, bits, kind);
                Mpz twoM, twoMMinusOne, mMinusOne;
                mpz_mul_2exp(twoM.get(), m.get(), 1);
                mpz_sub_ui(twoMMinusOne.get(), twoM.get(), 1);
                mpz_sub_ui(mMinusOne.get(), m.get(), 1);
                // Operands below 2m: the edges, all-ones runs ending at every
                // digit and at every 64-bit limb, and random values.
                std::vector<Mpz> operands = {Mpz(0), Mpz(1), mMinusOne, m, twoMMinusOne};
                for (unsigned top = kDigitBits; top <= bits; top += kDigitBits)
                    operands.push_back(AllOnes(top));
                for (unsigned top = 64; top <= bits; top += 64)
                    operands.push_back(AllOnes(top));
                for (int i = 0; i < 4; ++i) {
                    Mpz r = RandomBits(random, bits + 1);
                    mpz_mod(r.get(), r.get(), twoM.get());
                    operands.push_back(r);
                }
                const std::vector<uint64_t> md = Digits(m, digits);
                Mpz R;
                mpz_ui_pow_ui(R.get(), 2, kDigitBits * digits);
                for (size_t i = 0; i < operands.size(); ++i) {
                    const Mpz& a = operands[i];
                    const Mpz* partners[] = {&a, &twoMMinusOne, &operands[(i * 7 + 3) % operands.size()]};
                    for (const Mpz* b : partners) {
                        std::vector<uint64_t> r(digits);
                        ASSERT_TRUE(zel_bigint::ifma::AlmostMontgomeryProduct(
                            r.data(), Digits(a, digits).data(), Digits(*b, digits).data(), md.data(), digits));
                        for (uint64_t digit : r)
                            ASSERT_LT(digit, uint64_t(1) << kDigitBits) << digits << " digits";
                        const Mpz result = FromDigits(r);
                        ASSERT_LT(mpz_cmp(result.get(), twoM.get()), 0) << digits << " digits, " << Hex(a);
                        // result R = a b (mod m)
                        Mpz left, right;
                        mpz_mul(left.get(), result.get(), R.get());
                        mpz_mod(left.get(), left.get(), m.get());
                        mpz_mul(right.get(), a.get(), b->get());
                        mpz_mod(right.get(), right.get(), m.get());
                        ASSERT_EQ(mpz_cmp(left.get(), right.get()), 0)
                            << digits << " digits: " << Hex(a) << " * " << Hex(*b) << " mod " << Hex(m);
                    }
                }
            }
        }
    }
}

TEST(BigIntIfma, TakesTheSizesItCovers)
{
    using zel_bigint::ifma::TakesModulus;
    if (!ZEL_BIGINT_IFMA) {
        EXPECT_FALSE(TakesModulus(2048));
        return;
    }
    EXPECT_FALSE(TakesModulus(511));
    EXPECT_TRUE(TakesModulus(512));
    EXPECT_TRUE(TakesModulus(4096));
    EXPECT_TRUE(TakesModulus(52 * 80 - 2));
    EXPECT_FALSE(TakesModulus(52 * 80 - 1));
}

// Every kernel, PowMod and PowModSecret, against GMP, at the bit lengths
// where the digit count changes around 512 to 4096 bits (52 K - 2 is the
// last of K digits), and just past the largest size the IFMA kernel takes.
TEST(BigIntIfma, PowersAgreeAcrossKernelsAndGmp)
{
    bigint_kernels::Guard guard;
    std::mt19937_64 random(0x2b7c);
    const unsigned sizes[] = {512,  518,  519,  570,  571,  1022, 1023, 1024, 1025, 1038, 1039,
                              1535, 1536, 1558, 1559, 2046, 2047, 2048, 2049, 2078, 2079, 3072,
                              4094, 4095, 4096, 4158, 4159};
    for (unsigned bits : sizes) {
        for (int kind : {0, 1}) {
            const Mpz m = Modulus(random, bits, kind);
            Mpz mMinusOne;
            mpz_sub_ui(mMinusOne.get(), m.get(), 1);
            // Full-length exponents up to the CRT halves of RSA-2048; shorter
            // above, where the portable path would take long (the windows
            // do not depend on the modulus size).
            const unsigned ebits = bits <= 1100 ? bits : 400;
            Mpz onesBelowM = AllOnes(((bits - 1) / 64) * 64);
            const std::pair<Mpz, Mpz> cases[] = {
                {mMinusOne, AllOnes(ebits)},
                {onesBelowM, RandomBits(random, ebits)},
                {RandomBits(random, bits - 1), RandomBits(random, ebits)},
                {Mpz(0), RandomBits(random, ebits)},
                {Mpz(1), AllOnes(ebits)},
            };
            // Above the RSA-2048 sizes the masked power still reads the
            // exponent over the modulus length: two cases there.
            const size_t count = bits <= 2100 ? std::size(cases) : 2;
            for (size_t i = 0; i < count; ++i) {
                const auto& [base, e] = cases[i];
                Mpz expected;
                mpz_powm(expected.get(), base.get(), e.get(), m.get());
                for (XBigIntKernel kernel : bigint_kernels::Available()) {
                    ASSERT_TRUE(XBigIntSelectKernel(kernel));
                    XBigInt x = ToBig(base), secret = ToBig(base);
                    x.PowMod(ToBig(e), ToBig(m));
                    secret.PowModSecret(ToBig(e), ToBig(m));
                    ASSERT_TRUE(Equal(x, expected))
                        << Name(kernel) << ", " << bits << " bits: " << Hex(base) << " ^ " << Hex(e) << " mod "
                        << Hex(m);
                    ASSERT_TRUE(Equal(secret, expected))
                        << Name(kernel) << ", masked, " << bits << " bits: " << Hex(base) << " ^ " << Hex(e)
                        << " mod " << Hex(m);
                }
            }
        }
    }
}

// The paired powers of the CRT: moduli of one size (run together), of two
// digit counts (one after the other), an even one (the plain path) and
// bases not below their moduli, each against GMP on every kernel.
TEST(BigIntIfma, PairedPowersMatchTwoPowers)
{
    bigint_kernels::Guard guard;
    std::mt19937_64 random(0x3c11);
    const std::pair<unsigned, unsigned> sizes[] = {{512, 512},   {1024, 1024}, {1024, 1023}, {1536, 1536},
                                                   {2048, 2048}, {1024, 1100}, {2048, 512},  {700, 64}};
    for (const auto& [abits, bbits] : sizes) {
        for (int round = 0; round < 3; ++round) {
            const Mpz ma = Modulus(random, abits, round == 1 ? 1 : 0);
            Mpz mb = Modulus(random, bbits, 0);
            if (round == 2)
                mpz_clrbit(mb.get(), 0); // even: no Montgomery form
            const Mpz ea = RandomBits(random, abits), eb = round == 1 ? AllOnes(bbits) : RandomBits(random, bbits);
            // Bases up to twice the modulus length: reduced first.
            const Mpz a = RandomBits(random, 2 * abits), b = RandomBits(random, bbits + 7);
            Mpz expectA, expectB;
            mpz_powm(expectA.get(), a.get(), ea.get(), ma.get());
            mpz_powm(expectB.get(), b.get(), eb.get(), mb.get());
            for (XBigIntKernel kernel : bigint_kernels::Available()) {
                ASSERT_TRUE(XBigIntSelectKernel(kernel));
                XBigInt x = ToBig(a), y = ToBig(b);
                XBigInt::PowModSecretPair(x, ToBig(ea), ToBig(ma), y, ToBig(eb), ToBig(mb));
                ASSERT_TRUE(Equal(x, expectA)) << Name(kernel) << ", " << abits << "/" << bbits << " round " << round;
                ASSERT_TRUE(Equal(y, expectB)) << Name(kernel) << ", " << abits << "/" << bbits << " round " << round;
            }
        }
    }
}

XBigInt BigFromHex(const char* hex)
{
    XBigInt x;
    x.FromBytes(BlobOf(FromHex(hex)));
    return x;
}

// The published signatures, 1024 to 2048-bit keys: the private operation
// (CRT, blinding, the check with e) turns s^e mod n, computed by GMP, back
// into s on every kernel.
TEST(BigIntIfma, PublishedSignaturesComeBackOnEveryKernel)
{
    bigint_kernels::Guard guard;
    for (XBigIntKernel kernel : bigint_kernels::Available()) {
        ASSERT_TRUE(XBigIntSelectKernel(kernel));
        for (const auto& c : rsa_vectors::kPssCases) {
            SCOPED_TRACE(std::string(Name(kernel)) + ", " + c.name);
            const rsa_vectors::PssKey& k = *c.key;
            XRsa rsa;
            rsa.LoadKeyPair(BigFromHex(k.n), BigFromHex(k.e), BigFromHex(k.d), BigFromHex(k.p), BigFromHex(k.q),
                            BigFromHex(k.dP), BigFromHex(k.dQ), BigFromHex(k.qInv));
            const Mpz s(FromHex(c.signature)), e(FromHex(k.e)), n(FromHex(k.n));
            Mpz em;
            mpz_powm(em.get(), s.get(), e.get(), n.get());
            XBigInt x = ToBig(em);
            rsa.ApplyPrivate(x);
            EXPECT_TRUE(Equal(x, s));
        }
    }
}

} // namespace
