// CRC-32 against zlib's crc32 and CRC-24 against a bit-at-a-time rendering
// of the RFC 2440 algorithm, through every entry point (Compute on an XBlob,
// bulk Update, UpdateByte) and with the register running on between calls.
#include "hash/crc.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace test_support;

uint32_t ZlibCrc32(const uint8_t* p, size_t n)
{
    return uint32_t(crc32(crc32(0, nullptr, 0), p, uInt(n)));
}

// RFC 2440 section 6.1, one bit at a time: no tables at all.
uint32_t ReferenceCrc24(const uint8_t* p, size_t n)
{
    uint32_t crc = 0xB704CE;
    for (size_t i = 0; i < n; ++i) {
        crc ^= uint32_t(p[i]) << 16;
        for (int bit = 0; bit < 8; ++bit) {
            crc <<= 1;
            if (crc & 0x1000000)
                crc ^= 0x1864CFB;
        }
    }
    return crc & 0xFFFFFF;
}

TEST(Crc, CheckValues)
{
    struct {
        const char* text;
        uint32_t crc32;
        uint32_t crc24;
    } const table[] = {
        {"", 0x00000000, 0xB704CE},
        {"123456789", 0xCBF43926, 0x21CF02},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.text);
        const XBlob b = BlobOf(row.text);
        EXPECT_EQ(XCrc32().Compute(b), row.crc32);
        EXPECT_EQ(XCrc24().Compute(b), row.crc24);

        XCrc32 c32;
        XCrc24 c24;
        for (const char* p = row.text; *p; ++p) {
            c32.UpdateByte(uint8_t(*p));
            c24.UpdateByte(uint8_t(*p));
        }
        EXPECT_EQ(c32.Value(), row.crc32);
        EXPECT_EQ(c24.Value(), row.crc24);
    }
}

// Every length from 0 to 300 and some long ones (the bulk path takes 16
// bytes per step and finishes byte by byte), each from several alignments.
TEST(Crc, MatchIndependentImplementations)
{
    std::mt19937 random(5);
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 300; ++n)
        lengths.push_back(n);
    for (size_t n : {1023u, 1024u, 1025u, 65536u + 13, 1000003u})
        lengths.push_back(n);

    for (size_t n : lengths) {
        SCOPED_TRACE("length " + std::to_string(n));
        const Bytes buffer = RandomBytes(random, n + 7);
        const size_t offset = n % 8;
        const uint8_t* m = buffer.data() + offset;
        const uint32_t want32 = ZlibCrc32(m, n);
        const uint32_t want24 = ReferenceCrc24(m, n);

        const XBlob blob = BlobOf(m, n);
        ASSERT_EQ(XCrc32().Compute(blob), want32);
        ASSERT_EQ(XCrc24().Compute(blob), want24);

        XCrc32 bulk32;
        XCrc24 bulk24;
        bulk32.Update(m, n);
        bulk24.Update(m, n);
        ASSERT_EQ(bulk32.Value(), want32);
        ASSERT_EQ(bulk24.Value(), want24);

        if (n <= 4096) {
            XCrc32 byte32;
            XCrc24 byte24;
            for (size_t i = 0; i < n; ++i) {
                byte32.UpdateByte(m[i]);
                byte24.UpdateByte(m[i]);
            }
            ASSERT_EQ(byte32.Value(), want32);
            ASSERT_EQ(byte24.Value(), want24);
        }
    }
}

// The register is never reset or complemented in place: a second Compute on
// the same object gives the checksum of both runs together, and the pieces
// may be fed through any mix of entry points.
TEST(Crc, RegisterRunsOnAcrossCalls)
{
    std::mt19937 random(6);
    for (int round = 0; round < 100; ++round) {
        const Bytes m = RandomBytes(random, random() % 2000);
        const size_t cut = m.empty() ? 0 : random() % (m.size() + 1);

        XCrc32 c32;
        XCrc24 c24;
        const XBlob first = BlobOf(m.data(), cut);
        EXPECT_EQ(c32.Compute(first), ZlibCrc32(m.data(), cut));
        EXPECT_EQ(c24.Compute(first), ReferenceCrc24(m.data(), cut));

        // The rest in random pieces through the three entry points.
        size_t pos = cut;
        uint32_t last32 = c32.Value(), last24 = c24.Value();
        while (pos < m.size()) {
            const size_t piece = std::min<size_t>(random() % 70, m.size() - pos);
            switch (random() % 3) {
            case 0:
                last32 = c32.Compute(BlobOf(m.data() + pos, piece));
                last24 = c24.Compute(BlobOf(m.data() + pos, piece));
                break;
            case 1:
                c32.Update(m.data() + pos, piece);
                c24.Update(m.data() + pos, piece);
                last32 = c32.Value();
                last24 = c24.Value();
                break;
            default:
                for (size_t i = 0; i < piece; ++i) {
                    c32.UpdateByte(m[pos + i]);
                    c24.UpdateByte(m[pos + i]);
                }
                last32 = c32.Value();
                last24 = c24.Value();
            }
            pos += piece;
        }
        ASSERT_EQ(last32, ZlibCrc32(m.data(), m.size())) << "round " << round;
        ASSERT_EQ(last24, ReferenceCrc24(m.data(), m.size())) << "round " << round;
        // An empty Compute changes nothing.
        ASSERT_EQ(c32.Compute(XBlob()), last32);
        ASSERT_EQ(c24.Compute(XBlob()), last24);
    }
}

} // namespace
