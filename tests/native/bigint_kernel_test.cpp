// The kernels of the big integers (portable C++ and, where the CPU has them,
// MULX/ADCX/ADOX rows and the AVX-512 IFMA powers) and the base-2 path of
// PowMod, checked
// against GMP: products, squares and powers at every limb count up to past
// the RSA sizes, with operands of all one bits (the longest carry chains),
// random operands and the edge bases.
#include "rsa/bigint.h"
#include "tests/native/rsa_test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace rsa_test;

std::vector<XBigIntKernel> Kernels()
{
    std::vector<XBigIntKernel> kernels{XBigIntKernel::kPortable};
    if (XBigIntKernelAvailable(XBigIntKernel::kAdx))
        kernels.push_back(XBigIntKernel::kAdx);
    if (XBigIntKernelAvailable(XBigIntKernel::kIfma))
        kernels.push_back(XBigIntKernel::kIfma);
    return kernels;
}

const char* Name(XBigIntKernel kernel)
{
    switch (kernel) {
    case XBigIntKernel::kAdx:
        return "adx";
    case XBigIntKernel::kIfma:
        return "ifma";
    default:
        return "portable";
    }
}

// Restores the process's kernel at the end of a test.
class KernelGuard {
public:
    KernelGuard() : saved_(XBigIntActiveKernel()) {}
    ~KernelGuard() { XBigIntSelectKernel(saved_); }

private:
    XBigIntKernel saved_;
};

Mpz Random(std::mt19937_64& random, size_t bytes, bool allOnes)
{
    Bytes b(bytes);
    for (auto& v : b)
        v = allOnes ? 0xff : uint8_t(random());
    return Mpz(b);
}

TEST(BigIntKernel, SelectionFollowsAvailability)
{
    KernelGuard guard;
    EXPECT_TRUE(XBigIntKernelAvailable(XBigIntKernel::kPortable));
    for (XBigIntKernel kernel : {XBigIntKernel::kPortable, XBigIntKernel::kAdx, XBigIntKernel::kIfma}) {
        const bool available = XBigIntKernelAvailable(kernel);
        const XBigIntKernel before = XBigIntActiveKernel();
        EXPECT_EQ(XBigIntSelectKernel(kernel), available);
        EXPECT_EQ(XBigIntActiveKernel(), available ? kernel : before);
    }
}

TEST(BigIntKernel, ProductsAndSquaresMatchGmp)
{
    KernelGuard guard;
    std::mt19937_64 random(0x6b);
    for (XBigIntKernel kernel : Kernels()) {
        ASSERT_TRUE(XBigIntSelectKernel(kernel));
        // Byte lengths covering 1 to 70 limbs of either width, with every
        // remainder modulo 4 limbs.
        for (size_t bytes = 1; bytes <= 560; bytes += bytes < 80 ? 1 : 37) {
            for (int variant = 0; variant < 3; ++variant) {
                const bool ones = variant == 0;
                const Mpz a = Random(random, bytes, ones), b = Random(random, bytes + variant * 9, ones);
                XBigInt x = ToBig(a), y = ToBig(a);
                x.Multiply(ToBig(b));
                y.Multiply(y);
                Mpz product, square;
                mpz_mul(product.get(), a.get(), b.get());
                mpz_mul(square.get(), a.get(), a.get());
                ASSERT_TRUE(Equal(x, product)) << Name(kernel) << ", " << bytes << " bytes";
                ASSERT_TRUE(Equal(y, square)) << Name(kernel) << ", " << bytes << " bytes";
            }
        }
    }
}

TEST(BigIntKernel, PowersMatchGmp)
{
    KernelGuard guard;
    std::mt19937_64 random(0x70);
    for (XBigIntKernel kernel : Kernels()) {
        ASSERT_TRUE(XBigIntSelectKernel(kernel));
        for (size_t bytes : {1u, 2u, 8u, 9u, 24u, 32u, 33u, 64u, 100u, 128u, 256u}) {
            for (int round = 0; round < 3; ++round) {
                Mpz m = Random(random, bytes, round == 0);
                mpz_setbit(m.get(), 0); // odd: the Montgomery path
                if (mpz_cmp_ui(m.get(), 1) == 0)
                    mpz_set_ui(m.get(), 3);
                Mpz mMinusOne;
                mpz_sub_ui(mMinusOne.get(), m.get(), 1);
                const Mpz e = Random(random, round == 2 ? 3 : bytes, round == 0);
                // The base 2 takes the doubling path; the others the window.
                const Mpz bases[] = {Mpz(2), Mpz(0), Mpz(1), mMinusOne, Random(random, bytes + 3, false)};
                for (const Mpz& base : bases) {
                    XBigInt x = ToBig(base), secret = ToBig(base);
                    x.PowMod(ToBig(e), ToBig(m));
                    secret.PowModSecret(ToBig(e), ToBig(m));
                    Mpz expected;
                    mpz_powm(expected.get(), base.get(), e.get(), m.get());
                    ASSERT_TRUE(Equal(x, expected))
                        << Name(kernel) << ": " << Hex(base) << " ^ " << Hex(e) << " mod " << Hex(m);
                    ASSERT_TRUE(Equal(secret, expected))
                        << Name(kernel) << ", masked: " << Hex(base) << " ^ " << Hex(e) << " mod " << Hex(m);
                }
                // 2^(m-1) mod m: the Fermat test itself.
                XBigInt two(2);
                two.PowMod(ToBig(mMinusOne), ToBig(m));
                Mpz expected;
                mpz_powm(expected.get(), Mpz(2).get(), mMinusOne.get(), m.get());
                ASSERT_TRUE(Equal(two, expected)) << Name(kernel) << ", " << bytes << " bytes";
            }
        }
    }
}

} // namespace
