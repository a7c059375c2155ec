// The random generator: with its clock and entropy replaced, the exact output
// MD5(S), MD5(S + 1), ... against OpenSSL's MD5 and a big-endian counter kept
// in the test; with the system's sources, fresh bytes on every call.
#include "random/random.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <ctime>
#include <vector>

namespace {

using namespace test_support;
using Block = std::array<uint8_t, 16>;

Block Md5(const uint8_t* p, size_t n)
{
    const Bytes digest = OpenSslDigest(EVP_md5(), p, n);
    Block out{};
    EXPECT_EQ(digest.size(), out.size());
    std::copy(digest.begin(), digest.begin() + std::min(digest.size(), out.size()), out.begin());
    return out;
}

// a + b as 128-bit big-endian numbers, modulo 2^128.
Block Add(const Block& a, const Block& b)
{
    Block sum{};
    unsigned carry = 0;
    for (int i = 15; i >= 0; --i) {
        const unsigned s = a[i] + b[i] + carry;
        sum[i] = uint8_t(s & 0xFF);
        carry = s >> 8;
    }
    return sum;
}

Block One()
{
    Block one{};
    one[15] = 1;
    return one;
}

// --- the replaced sources: a fixed clock and fixed seed bytes ---------------

uint32_t g_clock = 0;
Block g_entropy{}; // bytes 4..15 are handed out
size_t g_entropyCalls = 0;
size_t g_entropyLength = 0;

uint32_t FixedClock()
{
    return g_clock;
}

void FixedEntropy(uint8_t* out, size_t length)
{
    ++g_entropyCalls;
    g_entropyLength = length;
    for (size_t i = 0; i < length && i < 12; ++i)
        out[i] = g_entropy[4 + i];
}

const XRandomSources kFixed{FixedClock, FixedEntropy};

// The seed block S: (time, big-endian, then the 12 entropy bytes) + MD5(time bytes).
Block Seed(uint32_t time, const Block& entropy)
{
    Block start = entropy;
    const uint8_t timeBytes[4] = {uint8_t(time >> 24), uint8_t(time >> 16), uint8_t(time >> 8), uint8_t(time)};
    for (int i = 0; i < 4; ++i)
        start[i] = timeBytes[i];
    return Add(start, Md5(timeBytes, 4));
}

// MD5(S), MD5(S + 1), ... cut to count.
Bytes Expected(const Block& seed, size_t count)
{
    Bytes out;
    Block counter = seed;
    while (out.size() < count) {
        const Block digest = Md5(counter.data(), 16);
        out.insert(out.end(), digest.begin(), digest.begin() + std::min<size_t>(16, count - out.size()));
        counter = Add(counter, One());
    }
    return out;
}

class RandomFixed : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_clock = 0;
        g_entropy = Block{};
        g_entropyCalls = 0;
        g_entropyLength = 0;
    }
};

// The lengths around the block size, with zero entropy and a few clocks.
TEST_F(RandomFixed, ExactOutputWithZeroEntropy)
{
    for (uint32_t clock : {0u, 1u, 0x5F5E1000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        g_clock = clock;
        const Block seed = Seed(clock, Block{});
        for (uint32_t count : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 48u, 100u, 1000u}) {
            SCOPED_TRACE(testing::Message() << "clock " << clock << ", count " << count);
            const XBlob out = RandomBlob(count, kFixed);
            EXPECT_EQ(out.Length(), count);
            EXPECT_EQ(Content(out), Expected(seed, count));
        }
    }
}

TEST_F(RandomFixed, BlockBoundaries)
{
    g_clock = 1234567890;
    const Block seed = Seed(g_clock, Block{});
    const Block first = Md5(seed.data(), 16);
    const Block plusOne = Add(seed, One());
    const Block second = Md5(plusOne.data(), 16);

    EXPECT_EQ(Content(RandomBlob(0, kFixed)), Bytes());
    EXPECT_EQ(Content(RandomBlob(1, kFixed)), Bytes(first.begin(), first.begin() + 1));
    EXPECT_EQ(Content(RandomBlob(16, kFixed)), Bytes(first.begin(), first.end()));
    Bytes seventeen(first.begin(), first.end());
    seventeen.push_back(second[0]);
    EXPECT_EQ(Content(RandomBlob(17, kFixed)), seventeen);
    Bytes thirtyTwo(first.begin(), first.end());
    thirtyTwo.insert(thirtyTwo.end(), second.begin(), second.end());
    EXPECT_EQ(Content(RandomBlob(32, kFixed)), thirtyTwo);
}

// With fixed sources a shorter result is a prefix of a longer one.
TEST_F(RandomFixed, ShorterIsPrefixOfLonger)
{
    g_clock = 42;
    const Bytes longest = Content(RandomBlob(200, kFixed));
    for (uint32_t count : {1u, 16u, 17u, 64u, 199u})
        EXPECT_EQ(Content(RandomBlob(count, kFixed)), Bytes(longest.begin(), longest.begin() + count)) << count;
}

// The entropy fills bytes 4..15 of the seed block, twelve bytes in one call.
TEST_F(RandomFixed, EntropyFillsTheLowTwelveBytes)
{
    g_clock = 1000;
    for (int i = 4; i < 16; ++i)
        g_entropy[i] = uint8_t(0x11 * (i - 3));
    const Bytes out = Content(RandomBlob(40, kFixed));
    EXPECT_EQ(g_entropyCalls, 1u);
    EXPECT_EQ(g_entropyLength, 12u);
    EXPECT_EQ(out, Expected(Seed(1000, g_entropy), 40));
    EXPECT_NE(out, Expected(Seed(1000, Block{}), 40));
}

// All-ones entropy: adding MD5(time) carries out of every byte it touches,
// through the twelve low bytes and into the time bytes.
TEST_F(RandomFixed, CarriesWhenTheTimeDigestIsAdded)
{
    g_clock = 0x12345678;
    for (int i = 4; i < 16; ++i)
        g_entropy[i] = 0xFF;
    const Block seed = Seed(g_clock, g_entropy);
    EXPECT_EQ(Content(RandomBlob(50, kFixed)), Expected(seed, 50));
}

// A clock whose seed ends in FF FF: the first step of the counter carries
// through two bytes into a third.  Found by search with zero entropy.
TEST_F(RandomFixed, CounterCarryAcrossBytesFromTheClock)
{
    uint32_t clock = 1700000000;
    Block seed = Seed(clock, Block{});
    while (!(seed[15] == 0xFF && seed[14] == 0xFF)) {
        ++clock;
        seed = Seed(clock, Block{});
        ASSERT_LT(clock, 1700000000u + 10000000u) << "no clock found";
    }
    g_clock = clock;
    const Block next = Add(seed, One());
    EXPECT_EQ(next[15], 0);
    EXPECT_EQ(next[14], 0);
    EXPECT_EQ(next[13], uint8_t(seed[13] + 1));
    for (uint32_t count : {16u, 17u, 32u, 40u})
        EXPECT_EQ(Content(RandomBlob(count, kFixed)), Expected(seed, count)) << "clock " << clock << ", " << count;
}

// Seed bytes chosen so that S ends in twelve FF bytes (S = t' || FF x 12):
// S + 1 carries through all twelve into the time bytes.  The entropy is made
// by subtracting MD5(time) from the wanted block, byte by byte from the end.
TEST_F(RandomFixed, CounterCarryIntoTheTimeBytes)
{
    g_clock = 0x0A0B0C0D;
    const uint8_t timeBytes[4] = {0x0A, 0x0B, 0x0C, 0x0D};
    const Block timeDigest = Md5(timeBytes, 4);
    unsigned borrow = 0;
    for (int i = 15; i >= 4; --i) {
        const int d = 0xFF - timeDigest[i] - int(borrow);
        g_entropy[i] = uint8_t(d & 0xFF);
        borrow = d < 0 ? 1 : 0;
    }
    const Block seed = Seed(g_clock, g_entropy);
    for (int i = 4; i < 16; ++i)
        ASSERT_EQ(seed[i], 0xFF) << i;
    const Block next = Add(seed, One());
    for (int i = 4; i < 16; ++i)
        ASSERT_EQ(next[i], 0x00) << i;
    EXPECT_NE(next[3], seed[3]);
    EXPECT_EQ(Content(RandomBlob(48, kFixed)), Expected(seed, 48));
}

// --- the system's sources ---------------------------------------------------

TEST(RandomSystem, TwoCallsInOneSecondDiffer)
{
    // The clock held still: only the entropy can tell the calls apart.
    g_clock = uint32_t(std::time(nullptr));
    const XRandomSources sameSecond{FixedClock, SystemEntropy};
    const Bytes a = Content(RandomBlob(32, sameSecond));
    const Bytes b = Content(RandomBlob(32, sameSecond));
    EXPECT_EQ(a.size(), 32u);
    EXPECT_NE(a, b);

    const Bytes c = Content(RandomBlob(32));
    const Bytes d = Content(RandomBlob(32));
    EXPECT_EQ(c.size(), 32u);
    EXPECT_NE(c, d);
    EXPECT_NE(a, c);
}

TEST(RandomSystem, ClockIsTheCalendarTime)
{
    const uint32_t before = uint32_t(std::time(nullptr));
    const uint32_t now = SystemRandomSources().clock();
    const uint32_t after = uint32_t(std::time(nullptr));
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

TEST(RandomSystem, EntropyFillsTheWholeBuffer)
{
    // Two buffers, one preset to zeros and one to ones: a byte left unwritten
    // keeps its preset in both, which fresh bytes do with a probability of
    // 1/65536 each.
    std::vector<uint8_t> zeros(4096, 0x00), ones(4096, 0xFF);
    SystemEntropy(zeros.data(), zeros.size());
    SystemEntropy(ones.data(), ones.size());
    size_t presetInBoth = 0;
    for (size_t i = 0; i < zeros.size(); ++i)
        presetInBoth += zeros[i] == 0x00 && ones[i] == 0xFF;
    EXPECT_LT(presetInBoth, 5u);
    EXPECT_NE(zeros, ones);
}

} // namespace
