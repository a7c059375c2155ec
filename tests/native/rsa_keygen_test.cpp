// Prime search and key generation, checked against the same procedure
// written over GMP (rsa_gmp_reference.h): its own table of small primes from
// mpz_nextprime, plain trial division per candidate, mpz_powm for the Fermat
// test, mpz_gcd and mpz_invert for the key parts.
#include "rsa/primes.h"
#include "rsa/rsa.h"
#include "tests/native/rsa_test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace rsa_test;

Mpz RandomMpz(std::mt19937_64& random, unsigned bytes)
{
    Bytes b(bytes);
    for (auto& v : b)
        v = uint8_t(random());
    return Mpz(b);
}

// --- The table and the scan -----------------------------------------------------

TEST(PrimeTable, IsTheFirst2304Primes)
{
    const auto& reference = rsa_gmp::TablePrimes();
    ASSERT_EQ(SmallPrimes.size(), reference.size());
    for (size_t i = 0; i < SmallPrimes.size(); ++i)
        ASSERT_EQ(SmallPrimes[i], reference[i]) << "index " << i;
    EXPECT_EQ(SmallPrimes.back(), 20393);
}

TEST(PrimeSearch, NextPrimeOfSmallNumbers)
{
    struct Case {
        unsigned long x, expected;
    } cases[] = {
        {65538, 65539}, {65537, 65537}, {65536, 65537},
        // A table prime is divisible by itself: the scan passes over it.
        {20393, 20399}, {20392, 20399}, {3, 20399}, {2, 20399}, {1000, 20399},
        // No table prime divides 1, and the Fermat power 2^0 is 1.
        {0, 1}, {1, 1},
        {20400, 20407},
    };
    for (const Case& c : cases) {
        const XBigInt got = NextPrime(ToBig(Mpz(c.x)));
        EXPECT_TRUE(Equal(got, Mpz(c.expected))) << c.x << " gave " << Hex(ToMpz(got));
        EXPECT_TRUE(Equal(got, rsa_gmp::NextPrime(Mpz(c.x)))) << c.x;
    }
}

TEST(PrimeSearch, NextPrimeMatchesThePlainProcedure)
{
    std::mt19937_64 random(0x9e1);
    for (unsigned bytes : {8u, 16u, 32u, 64u, 128u}) {
        for (int i = 0; i < (bytes >= 128 ? 2 : 4); ++i) {
            const Mpz x = RandomMpz(random, bytes);
            const Mpz expected = rsa_gmp::NextPrime(x);
            EXPECT_TRUE(Equal(NextPrime(ToBig(x)), expected)) << Hex(x);
            // The result is a prime (a base-2 pseudoprime this large is
            // practically never met).
            EXPECT_NE(mpz_probab_prime_p(expected.get(), 25), 0);
        }
    }
}

// A Carmichael number (6j + 1)(12j + 1)(18j + 1) with three prime factors
// above the table: no table prime divides it and it passes the Fermat test
// to base 2, so the scan stops at it although it is composite.
TEST(PrimeSearch, FermatToBase2IsTheOnlyTest)
{
    Mpz a, b, c, carmichael;
    for (unsigned long j = 20393 / 6 + 1;; ++j) {
        mpz_set_ui(a.get(), 6 * j + 1);
        mpz_set_ui(b.get(), 12 * j + 1);
        mpz_set_ui(c.get(), 18 * j + 1);
        if (mpz_probab_prime_p(a.get(), 25) && mpz_probab_prime_p(b.get(), 25) && mpz_probab_prime_p(c.get(), 25))
            break;
    }
    mpz_mul(carmichael.get(), a.get(), b.get());
    mpz_mul(carmichael.get(), carmichael.get(), c.get());
    ASSERT_EQ(mpz_probab_prime_p(carmichael.get(), 25), 0);
    EXPECT_TRUE(Equal(NextPrime(ToBig(carmichael)), carmichael)) << Hex(carmichael);
    // The strong test to base 2 (used elsewhere) is not fooled by it.
    EXPECT_FALSE(IsStrongProbablePrimeBase2(ToBig(carmichael)));
}

TEST(PrimeSearch, StrongTestToBase2)
{
    struct Case {
        unsigned long c;
        bool expected;
    } cases[] = {
        {3, true}, {5, true}, {65537, true}, {20399, true},
        {0, false}, {1, false}, {2, false}, {9, false}, {65535, false},
        {341, false},  // Fermat pseudoprime to base 2, not a strong one
        {561, false},  // Carmichael
        {2047, true},  // 23 * 89, the smallest strong pseudoprime to base 2
        {3277, true},  // 29 * 113, the next one
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsStrongProbablePrimeBase2(XBigInt(uint32_t(c.c))), c.expected) << c.c;
    std::mt19937_64 random(0x5b);
    for (int i = 0; i < 6; ++i) {
        const Mpz prime = rsa_gmp::NextPrime(RandomMpz(random, 48));
        Mpz composite;
        mpz_mul(composite.get(), prime.get(), rsa_gmp::NextPrime(RandomMpz(random, 8)).get());
        EXPECT_TRUE(IsStrongProbablePrimeBase2(ToBig(prime)));
        EXPECT_FALSE(IsStrongProbablePrimeBase2(ToBig(composite)));
    }
}

// The sieve lets through exactly the candidates that trial division by each
// table prime lets through, in order, across several windows.
TEST(PrimeSieve, PicksTheCandidatesTrialDivisionPicks)
{
    std::mt19937_64 random(0x51e);
    std::vector<Mpz> starts = {Mpz(0), Mpz(1), Mpz(2), Mpz(20390), Mpz(65536)};
    for (unsigned bytes : {4u, 32u, 128u})
        starts.push_back(RandomMpz(random, bytes));
    for (const Mpz& start : starts) {
        XPrimeSieve sieve(ToBig(start));
        Mpz c(start);
        if (mpz_even_p(c.get()))
            mpz_add_ui(c.get(), c.get(), 1);
        // 1500 survivors span about 13000 candidates: more than 3 windows.
        for (int found = 0; found < 1500; mpz_add_ui(c.get(), c.get(), 2)) {
            if (rsa_gmp::DividedByTablePrime(c))
                continue;
            const XBigInt& got = sieve.Next();
            ASSERT_TRUE(Equal(got, c)) << "start " << Hex(start) << ", survivor " << found << ": got "
                                       << Hex(ToMpz(got)) << ", expected " << Hex(c);
            ++found;
        }
    }
}

// --- Key generation --------------------------------------------------------------

// Our key parts equal the GMP procedure's, and satisfy the RSA relations.
void ExpectKeyMatchesReference(const XRsa& rsa, const XBlob& seed1, const XBlob& seed2, uint32_t size)
{
    const rsa_gmp::Key ref = rsa_gmp::Keygen(seed1, seed2, size);
    EXPECT_EQ(rsa.KeySize(), ref.k);
    EXPECT_EQ(rsa.KeyFlags(), XRsa::kHasPrivateKey | XRsa::kHasPublicKey);
    const std::pair<const XBigInt*, const Mpz*> parts[] = {
        {&rsa.P(), &ref.p},   {&rsa.Q(), &ref.q},   {&rsa.N(), &ref.n},   {&rsa.E(), &ref.e},
        {&rsa.D(), &ref.d},   {&rsa.DP(), &ref.dP}, {&rsa.DQ(), &ref.dQ}, {&rsa.QInv(), &ref.qInv},
    };
    for (size_t i = 0; i < sizeof parts / sizeof parts[0]; ++i)
        EXPECT_TRUE(Equal(*parts[i].first, *parts[i].second))
            << "part " << i << " differs: " << Hex(ToMpz(*parts[i].first)) << " vs " << Hex(*parts[i].second);

    const Mpz p = ToMpz(rsa.P()), q = ToMpz(rsa.Q()), n = ToMpz(rsa.N()), e = ToMpz(rsa.E()), d = ToMpz(rsa.D());
    Mpz t, pm1, qm1, phi;
    EXPECT_GT(mpz_cmp(p.get(), q.get()), 0);
    mpz_mul(t.get(), p.get(), q.get());
    EXPECT_EQ(mpz_cmp(t.get(), n.get()), 0);
    mpz_sub_ui(pm1.get(), p.get(), 1);
    mpz_sub_ui(qm1.get(), q.get(), 1);
    mpz_mul(phi.get(), pm1.get(), qm1.get());
    mpz_mul(t.get(), e.get(), d.get());
    mpz_mod(t.get(), t.get(), phi.get());
    EXPECT_EQ(mpz_cmp_ui(t.get(), 1), 0) << "e d mod phi";
    mpz_mod(t.get(), d.get(), pm1.get());
    EXPECT_EQ(mpz_cmp(t.get(), ToMpz(rsa.DP()).get()), 0);
    mpz_mod(t.get(), d.get(), qm1.get());
    EXPECT_EQ(mpz_cmp(t.get(), ToMpz(rsa.DQ()).get()), 0);
    mpz_mul(t.get(), q.get(), ToMpz(rsa.QInv()).get());
    mpz_mod(t.get(), t.get(), p.get());
    EXPECT_EQ(mpz_cmp_ui(t.get(), 1), 0) << "q qInv mod p";
    EXPECT_LT(mpz_cmp(ToMpz(rsa.QInv()).get(), p.get()), 0);
    // The modulus never exceeds k bytes (no top bit is forced, so it may be
    // shorter).
    EXPECT_LE(mpz_sizeinbase(n.get(), 2), 8 * size_t(rsa.KeySize()));
}

TEST(Keygen, MatchesTheProcedureOverGmpForManySeeds)
{
    struct Size {
        uint32_t size;
        int pairs;
    } sizes[] = {{64, 16}, {128, 6}, {256, 3}};
    for (const Size& s : sizes) {
        for (int i = 0; i < s.pairs; ++i) {
            const XBlob a = BlobOf("first seed " + std::to_string(i)), b = BlobOf("second seed " + std::to_string(i));
            XRsa rsa;
            rsa.Keygen(a, b, s.size);
            ExpectKeyMatchesReference(rsa, a, b, s.size);
        }
    }
}

TEST(Keygen, SizeRoundsUpToThreeClasses)
{
    const XBlob a = BlobOf("size a"), b = BlobOf("size b");
    struct Case {
        uint32_t size, k;
    } cases[] = {
        {0, 64}, {1, 64}, {64, 64}, {65, 128}, {100, 128}, {128, 128},
        {129, 256}, {512, 256}, {1024, 256}, {2048, 256}, {0xFFFFFFFFu, 256},
    };
    std::vector<XBlob> canonical;
    for (uint32_t k : {64u, 128u, 256u}) {
        XRsa rsa;
        rsa.Keygen(a, b, k);
        canonical.push_back(rsa.ExportPrivateKey());
    }
    for (const Case& c : cases) {
        XRsa rsa;
        rsa.Keygen(a, b, c.size);
        EXPECT_EQ(rsa.KeySize(), c.k) << c.size;
        const size_t index = c.k == 64 ? 0 : c.k == 128 ? 1 : 2;
        EXPECT_EQ(rsa.ExportPrivateKey(), canonical[index]) << c.size;
    }
}

TEST(Keygen, SameSeedsGiveTheSameKey)
{
    const XBlob a = BlobOf("repeat a"), b = BlobOf("repeat b");
    XRsa one, two;
    one.Keygen(a, b, 128);
    two.Keygen(a, b, 128);
    EXPECT_EQ(one.ExportPublicKey(), two.ExportPublicKey());
    EXPECT_EQ(one.ExportPrivateKey(), two.ExportPrivateKey());
    // Again on the first engine, over its own key.
    one.Keygen(a, b, 128);
    EXPECT_EQ(one.ExportPrivateKey(), two.ExportPrivateKey());
    // The seeds' order matters only through which prime is larger.
    XRsa swapped;
    swapped.Keygen(b, a, 128);
    EXPECT_EQ(swapped.ExportPrivateKey(), one.ExportPrivateKey());
}

TEST(Keygen, EqualAndEmptySeeds)
{
    struct Case {
        std::string a, b;
    } cases[] = {{"same", "same"}, {"", ""}, {"", "not empty"}, {"not empty", ""}};
    for (const Case& c : cases) {
        for (uint32_t size : {64u, 128u}) {
            XRsa rsa;
            rsa.Keygen(BlobOf(c.a), BlobOf(c.b), size);
            ExpectKeyMatchesReference(rsa, BlobOf(c.a), BlobOf(c.b), size);
            if (c.a == c.b) {
                // q is the prime from the seed, p the next prime above it.
                Mpz next = ToMpz(rsa.Q());
                mpz_add_ui(next.get(), next.get(), 1);
                EXPECT_TRUE(Equal(rsa.Q(), rsa_gmp::NextPrime(rsa_gmp::FromSeed(BlobOf(c.a), size / 2))));
                EXPECT_TRUE(Equal(rsa.P(), rsa_gmp::NextPrime(next)));
            }
        }
    }
}

// The seed "estep-25988" was picked so that its prime p at k = 64 has
// 65537 | p - 1: e moves on to the next prime coprime to phi.
TEST(Keygen, PublicExponentStepsPastFactorsOfPhi)
{
    const XBlob a = BlobOf("estep-25988"), b = BlobOf("estep partner");
    XRsa rsa;
    rsa.Keygen(a, b, 64);
    ExpectKeyMatchesReference(rsa, a, b, 64);
    EXPECT_FALSE(Equal(rsa.E(), Mpz(65537)));
    EXPECT_TRUE(Equal(rsa.E(), Mpz(65539)));
    EXPECT_EQ(mpz_fdiv_ui(ToMpz(rsa.P()).get(), 65537) == 1 || mpz_fdiv_ui(ToMpz(rsa.Q()).get(), 65537) == 1, true);
}

TEST(Keygen, ReplacesAnyLoadedKeyAndKeepsTheLabel)
{
    XRsa other;
    other.Keygen(BlobOf("other a"), BlobOf("other b"), 64);
    XRsa rsa;
    rsa.ImportPublicKey(other.ExportPublicKey());
    const XBlob parameter = BlobOf("label");
    rsa.SetIV(parameter);
    const XBlob label = rsa.LabelHash();
    rsa.Keygen(BlobOf("new a"), BlobOf("new b"), 128);
    ExpectKeyMatchesReference(rsa, BlobOf("new a"), BlobOf("new b"), 128);
    EXPECT_EQ(rsa.LabelHash(), label);
    // Importing the old key's half now disagrees with the generated pair.
    EXPECT_TRUE(RaisesAlarm([&] { rsa.ImportPublicKey(other.ExportPublicKey()); }, "Invalid key", "RSA"));
}

} // namespace
