// The byte-order helpers every engine uses: each load and store against the
// bytes written out by hand, and the rotations at the counts where a naive
// shift would be undefined (0, the width) or wrap (above it).
#include "core/bytes.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const uint8_t kBytes[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};

TEST(Bytes, LoadsInBothOrders)
{
    EXPECT_EQ(LoadBe16(kBytes), 0x0123u);
    EXPECT_EQ(LoadLe16(kBytes), 0x2301u);
    EXPECT_EQ(LoadBe32(kBytes), 0x01234567u);
    EXPECT_EQ(LoadLe32(kBytes), 0x67452301u);
    EXPECT_EQ(LoadBe64(kBytes), 0x0123456789abcdefull);
    EXPECT_EQ(LoadLe64(kBytes), 0xefcdab8967452301ull);
}

TEST(Bytes, StoresGiveBackWhatLoadsRead)
{
    uint8_t out[8] = {};
    StoreBe16(out, 0x0123);
    EXPECT_EQ(0, std::memcmp(out, kBytes, 2));
    StoreLe16(out, 0x2301);
    EXPECT_EQ(0, std::memcmp(out, kBytes, 2));
    StoreBe32(out, 0x01234567u);
    EXPECT_EQ(0, std::memcmp(out, kBytes, 4));
    StoreLe32(out, 0x67452301u);
    EXPECT_EQ(0, std::memcmp(out, kBytes, 4));
    StoreBe64(out, 0x0123456789abcdefull);
    EXPECT_EQ(0, std::memcmp(out, kBytes, 8));
    StoreLe64(out, 0xefcdab8967452301ull);
    EXPECT_EQ(0, std::memcmp(out, kBytes, 8));
}

TEST(Bytes, RotationsTakeTheCountModuloTheWidth)
{
    const struct {
        unsigned n;
        uint32_t left, right;
    } cases32[] = {
        {0, 0x80000001u, 0x80000001u},  {1, 0x00000003u, 0xC0000000u}, {31, 0xC0000000u, 0x00000003u},
        {32, 0x80000001u, 0x80000001u}, {33, 0x00000003u, 0xC0000000u},
    };
    for (const auto& c : cases32) {
        EXPECT_EQ(Rotl32(0x80000001u, c.n), c.left) << c.n;
        EXPECT_EQ(Rotr32(0x80000001u, c.n), c.right) << c.n;
    }
    const uint64_t x = 0x8000000000000001ull;
    for (unsigned n : {0u, 64u})
        EXPECT_EQ(Rotl64(x, n), x);
    EXPECT_EQ(Rotl64(x, 1), 3u);
    EXPECT_EQ(Rotr64(x, 1), 0xC000000000000000ull);
    EXPECT_EQ(Rotl64(x, 65), 3u);
}

} // namespace
