// XCast: the RFC 2144 vectors (appendix B.1, and the B.2 maintenance test),
// how MakeKey picks the round count and pads the key, and the records it
// tolerates.  What every block cipher does (messages against OpenSSL and
// nettle for both round counts, the batch functions, the chaining block, key
// records, short records refused, the alarms) is checked by
// cipher_battery_test.cpp.
#include "cipher/cast.h"

#include "cipher_test_support.h"

#include <algorithm>
#include <string>

namespace {

using namespace test_support;

// OpenSSL's CAST5, ECB.
Bytes OpenSslEcb(const Bytes& key, const Bytes& data)
{
    return OpenSsl("CAST5", Chaining::kEcb, true, key, Bytes(8, 0), data);
}

// --- RFC 2144, appendix B --------------------------------------------------

struct KnownAnswer {
    const char* name;
    const char* key; // as the RFC gives it, before padding to 128 bits
    uint32_t rounds;
    const char* ciphertext;
};

const char kB1Plaintext[] = "0123456789ABCDEF";
const KnownAnswer kB1[] = {
    {"128-bit", "0123456712345678234567893456789A", 16, "238B4FE5847E44B2"},
    {"80-bit", "01234567123456782345", 12, "EB6A711A2C02271B"},
    {"40-bit", "0123456712", 12, "7AC816D16E9B302E"},
};

// MakeKey from exactly the vector's key bytes with filler 0 pads the key
// with zeros and picks the round count from the material; the length
// argument plays no part.  A record with the zero-padded key and the round
// count loads the same cipher.
TEST(XCastVectors, Rfc2144B1)
{
    const Bytes pt = FromHex(kB1Plaintext);
    for (const KnownAnswer& v : kB1) {
        const Bytes key = FromHex(v.key), ct = FromHex(v.ciphertext);
        Bytes padded = key;
        padded.resize(16, 0);
        for (uint32_t length : {uint32_t(key.size()), 0u, 16u, 0xFFFFFFFFu}) {
            SCOPED_TRACE(std::string(v.name) + ", length " + std::to_string(length));
            XCast cast;
            cast.Setup(1, 0);
            cast.MakeKey(BlobOf(key), length);
            EXPECT_EQ(cast.Rounds(), v.rounds);
            EXPECT_EQ(Content(cast.GetKey()), Record(v.rounds, padded));

            Bytes block(8);
            cast.EncryptBlock(pt.data(), block.data());
            EXPECT_EQ(block, ct);
            cast.DecryptBlock(block.data(), block.data());
            EXPECT_EQ(block, pt);
            EXPECT_EQ(Content(cast.Encrypt(BlobOf(pt))), ct);
            EXPECT_EQ(Content(cast.Decrypt(BlobOf(ct))), pt);
        }
        SCOPED_TRACE(std::string(v.name) + " from a record");
        XCast fromRecord;
        fromRecord.SetKey(BlobOf(Record(v.rounds, padded)));
        Bytes block(8);
        fromRecord.EncryptBlock(pt.data(), block.data());
        EXPECT_EQ(block, ct);
    }
}

// The round count follows the material's length, not the key's content: the
// 80-bit vector's key written out to 16 bytes is a 16-round key and no
// longer gives the vector's ciphertext (it gives what OpenSSL gives for that
// 16-byte key).
TEST(XCastVectors, PaddedMaterialGetsSixteenRounds)
{
    const Bytes pt = FromHex(kB1Plaintext);
    Bytes padded = FromHex("01234567123456782345");
    padded.resize(16, 0);
    XCast cast;
    cast.Setup(1, 0);
    cast.MakeKey(BlobOf(padded), 10);
    EXPECT_EQ(cast.Rounds(), 16u);
    const Bytes ct = Content(cast.Encrypt(BlobOf(pt)));
    EXPECT_NE(ct, FromHex("EB6A711A2C02271B"));
    EXPECT_EQ(ct, OpenSslEcb(padded, pt));
}

// B.2: a million rounds of enciphering each 128-bit half under the other.
// Every step re-keys both engines, so this exercises the key schedule two
// million times along with four million block encipherments.
TEST(XCastVectors, Rfc2144B2MaintenanceTest)
{
    XBlob a = BlobOf(FromHex("0123456712345678234567893456789A"));
    XBlob b = a;
    XCast underA, underB;
    for (int i = 0; i < 1000000; ++i) {
        underB.MakeKey(b, 16);
        underB.EncryptBlocks(a.Data(), a.Data(), 2);
        underA.MakeKey(a, 16);
        underA.EncryptBlocks(b.Data(), b.Data(), 2);
    }
    EXPECT_EQ(Content(a), FromHex("EEA9D0A249FD3BA6B3436FB89D6DCA92"));
    EXPECT_EQ(Content(b), FromHex("B2C95EB00C31AD7180AC05B8E83D696E"));
}

// --- MakeKey -----------------------------------------------------------------

// The key bytes OpenSSL and nettle are given for key material under filler
// 0: at most 16 bytes, and at least their minimum of 5 (zero bytes added,
// which is what padding to 128 bits adds anyway).
Bytes OracleKey(const Bytes& material)
{
    Bytes key(material.begin(), material.begin() + std::min<size_t>(material.size(), 16));
    if (key.size() < 5)
        key.resize(5, 0);
    return key;
}

// 12 rounds for material of 10 bytes or fewer, 16 above, whatever the length
// argument; the key is the first 16 bytes, the shortfall filled with the
// filler byte.  Under filler 0 the cipher is RFC 2144's variable-size one
// (OpenSSL's), under another filler a 16-round key is OpenSSL's for the
// padded bytes.
TEST(XCastKeys, MakeKeyRoundsAndFiller)
{
    std::mt19937 random(2144);
    for (uint32_t n : {0u, 1u, 4u, 5u, 8u, 10u, 11u, 12u, 15u, 16u, 17u, 20u, 100u}) {
        const uint32_t rounds = n > 10 ? 16 : 12;
        const Bytes material = RandomBytes(random, n);
        const Bytes message = RandomBytes(random, 24);
        for (uint8_t filler : {0x00, 0x2A}) {
            for (uint32_t length : {0u, n, 16u, 0xFFFFFFFFu}) {
                SCOPED_TRACE(std::to_string(n) + " bytes of material, filler " + std::to_string(filler) +
                             ", length " + std::to_string(length));
                Bytes key(material.begin(), material.begin() + std::min(n, 16u));
                key.resize(16, filler);
                XCast cast;
                cast.Setup(1, filler);
                cast.MakeKey(BlobOf(material), length);
                cast.filler = 0x77; // a later change does not reach the loaded key
                EXPECT_EQ(cast.Rounds(), rounds);
                EXPECT_EQ(Content(cast.GetKey()), Record(rounds, key));

                const Bytes ct = Content(cast.Encrypt(BlobOf(message)));
                if (filler == 0) {
                    EXPECT_EQ(ct, OpenSslEcb(OracleKey(material), message));
                } else if (rounds == 16) {
                    EXPECT_EQ(ct, OpenSslEcb(key, message));
                } else {
                    EXPECT_EQ(Content(cast.Decrypt(BlobOf(ct))), message);
                }
            }
        }
    }
}

// --- key records -------------------------------------------------------------

// Bytes after the 20th are ignored; a round count other than 16 is kept as
// it is and gives the 12-round cipher.
TEST(XCastKeys, RecordsTolerateTrailingBytesAndOddRoundCounts)
{
    std::mt19937 random(25);
    const Bytes key = RandomBytes(random, 16);
    const Bytes message = RandomBytes(random, 40);
    XCast sixteen, twelve;
    sixteen.SetKey(BlobOf(Record(16, key)));
    twelve.SetKey(BlobOf(Record(12, key)));
    const Bytes ct16 = Content(sixteen.Encrypt(BlobOf(message)));
    const Bytes ct12 = Content(twelve.Encrypt(BlobOf(message)));
    EXPECT_NE(ct16, ct12);

    XCast cast;
    cast.SetKey(BlobOf(Concat(Record(16, key), FromHex("0102030405"))));
    EXPECT_EQ(Content(cast.GetKey()), Record(16, key));
    EXPECT_EQ(Content(cast.Encrypt(BlobOf(message))), ct16);

    for (uint32_t rounds : {0u, 1u, 11u, 13u, 15u, 17u, 32u, 0x10000010u, 0xFFFFFFFFu}) {
        SCOPED_TRACE("round count " + std::to_string(rounds));
        cast.SetKey(BlobOf(Record(rounds, key)));
        EXPECT_EQ(cast.Rounds(), rounds);
        EXPECT_EQ(Content(cast.GetKey()), Record(rounds, key));
        const Bytes ct = Content(cast.Encrypt(BlobOf(message)));
        EXPECT_EQ(ct, ct12);
        EXPECT_EQ(Content(cast.Decrypt(BlobOf(ct))), message);
    }
}

} // namespace
