// Password key derivation: the three OpenPGP string-to-key functions and the
// seed expander, against a reference that builds each whole preimage in
// memory and digests it with OpenSSL, against keys GnuPG derived, and the
// coded iteration count taken as a whole 32-bit value.
#include "hash/s2k.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace test_support;

// n bytes that differ from one position to the next and between seeds.
Bytes Pattern(size_t n, unsigned seed)
{
    Bytes v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(seed * 101 + i * 37 + (i >> 8));
    return v;
}

Bytes Prefix(const Bytes& v, size_t n)
{
    return Bytes(v.begin(), v.begin() + std::min(n, v.size()));
}

// --- the reference ---------------------------------------------------------

const EVP_MD* EvpById(uint8_t id)
{
    switch (id) {
    case 1: return EVP_md5();
    case 2: return EVP_sha1();
    case 3: return EVP_ripemd160();
    case 8: return EVP_sha256();
    case 9: return EVP_sha384();
    case 10: return EVP_sha512();
    case 11: return EVP_sha224();
    case 12: return EVP_sha3_256();
    case 14: return EVP_sha3_512();
    }
    return nullptr;
}

// RFC 2440's several-contexts rule spelled out: digest i hashes i zero bytes
// and then the preimage; the digests are joined and cut to length.
Bytes ReferenceS2K(uint8_t id, size_t length, const Bytes& preimage)
{
    const EVP_MD* md = EvpById(id);
    Bytes out;
    for (size_t i = 0; out.size() < length; ++i) {
        const Bytes digest = OpenSslDigest(md, Concat(Bytes(i, 0), preimage));
        out.insert(out.end(), digest.begin(), digest.end());
    }
    return Prefix(out, length);
}

// The iterated preimage: salt and password repeated until `count` bytes stand,
// and whole at least once.
Bytes IteratedPreimage(const Bytes& salt, const Bytes& password, uint64_t count)
{
    const Bytes unit = Concat(salt, password);
    if (unit.empty() || count <= unit.size())
        return unit;
    Bytes out;
    out.reserve(count);
    while (out.size() < count)
        out.insert(out.end(), unit.begin(), unit.begin() + std::min<uint64_t>(unit.size(), count - out.size()));
    return out;
}

// Counts worked out by hand from (16 + low nibble) << (high part + 6), with the
// shift taken modulo 32 and the product modulo 2^32.
struct CountCase {
    uint32_t passes;
    uint32_t count;
};
const CountCase kCounts[] = {
    {0, 1024},                 // 16 << 6: the OpenPGP minimum
    {1, 1088},                 // 17 << 6
    {15, 1984},                // 31 << 6
    {16, 2048},                // 16 << 7
    {24, 3072},                // 24 << 7
    {96, 65536},               // 16 << 12: the usual default
    {255, 65011712},           // 31 << 21: the OpenPGP maximum
    {256, 67108864},           // 16 << 22: first value past one byte
    {0x19F, 0x80000000u},      // 31 << 31: only bit 31 is left
    {0x1A0, 16},               // shift 32 wraps to 0
    {0x1AF, 31},               // 31 << 0
    {0x160, 0},                // 16 << 28 = 2^32, nothing left of it
    {0x170, 0},                // 16 << 29
    {0x171, 0x20000000u},      // 17 << 29: bit 33 and bit 29, only bit 29 stays
    {0x1F0, 512},              // shift 37 wraps to 5
    {0xFFFFFFFFu, 992},        // -1 from a script: shift 0x10000005 -> 5, 31 << 5
    {0x80000000u, 1024},       // shift 0x08000006 -> 6
};

// --- the coded count --------------------------------------------------------

TEST(S2KCount, WholeThirtyTwoBitValues)
{
    for (const CountCase& c : kCounts)
        EXPECT_EQ(S2KCount(c.passes), c.count) << "passes 0x" << std::hex << c.passes;
}

// Every one-byte code gives the OpenPGP count, which only grows with the code.
TEST(S2KCount, OneByteCodesGrow)
{
    for (uint32_t code = 1; code < 256; ++code)
        EXPECT_GT(S2KCount(code), S2KCount(code - 1)) << code;
}

// --- the three S2K functions against the reference -------------------------

struct HashCase {
    uint8_t id;
    uint32_t size;
};
// Every hash of the table with an OpenPGP id.
const HashCase kHashes[] = {{1, 16}, {2, 20}, {3, 20}, {8, 32}, {9, 48}, {10, 64}, {11, 28}, {12, 32}, {14, 64}};

// 0, 1, h - 1, h, h + 1, 3h + 5: empty, inside the first digest, at and
// across the boundaries of the zero-prefixed ones.
std::vector<uint32_t> Lengths(uint32_t h)
{
    return {0, 1, h - 1, h, h + 1, 3 * h + 5};
}

class S2KTest : public ::testing::TestWithParam<HashCase> {
protected:
    uint8_t Id() const { return GetParam().id; }
    uint32_t H() const { return GetParam().size; }
};

std::string HashName(const ::testing::TestParamInfo<HashCase>& info)
{
    switch (info.param.id) {
    case 1: return "MD5";
    case 2: return "SHA1";
    case 3: return "RIPEMD160";
    case 8: return "SHA256";
    case 9: return "SHA384";
    case 10: return "SHA512";
    case 11: return "SHA224";
    case 12: return "SHA3_256";
    default: return "SHA3_512";
    }
}

INSTANTIATE_TEST_SUITE_P(Hashes, S2KTest, ::testing::ValuesIn(kHashes), HashName);

TEST_P(S2KTest, Simple)
{
    const Bytes passwords[] = {{}, TextBytes("a"), TextBytes("password"), Pattern(64, 1), Pattern(200, 2)};
    for (const Bytes& password : passwords) {
        for (uint32_t length : Lengths(H())) {
            SCOPED_TRACE(testing::Message() << "password " << password.size() << " bytes, length " << length);
            const XBlob result = S2KSimple(Id(), length, BlobOf(password));
            EXPECT_EQ(result.Length(), length);
            EXPECT_EQ(Content(result), ReferenceS2K(Id(), length, password));
        }
    }
}

TEST_P(S2KTest, Salted)
{
    const Bytes salts[] = {{}, Pattern(1, 3), Pattern(8, 4), Pattern(13, 5), Pattern(64, 6)};
    const Bytes passwords[] = {{}, TextBytes("secret"), Pattern(70, 7)};
    for (const Bytes& salt : salts) {
        for (const Bytes& password : passwords) {
            for (uint32_t length : Lengths(H())) {
                SCOPED_TRACE(testing::Message() << "salt " << salt.size() << ", password " << password.size()
                                                << ", length " << length);
                const XBlob result = S2KSalted(Id(), length, BlobOf(password), BlobOf(salt));
                EXPECT_EQ(result.Length(), length);
                EXPECT_EQ(Content(result), ReferenceS2K(Id(), length, Concat(salt, password)));
            }
        }
    }
}

TEST_P(S2KTest, IteratedWithSmallCodes)
{
    const Bytes salts[] = {Pattern(8, 8), Pattern(1, 9), Pattern(5, 10), Pattern(16, 11), {}};
    const Bytes passwords[] = {TextBytes("hunter2"), {}, Pattern(37, 12)};
    // Counts that are not multiples of the salt and password (a part of one
    // copy ends the preimage) and ones that are.
    for (uint32_t passes : {0u, 1u, 24u}) {
        for (const Bytes& salt : salts) {
            for (const Bytes& password : passwords) {
                const uint32_t count = S2KCount(passes);
                const Bytes preimage = IteratedPreimage(salt, password, count);
                for (uint32_t length : Lengths(H())) {
                    SCOPED_TRACE(testing::Message() << "passes " << passes << ", salt " << salt.size()
                                                    << ", password " << password.size() << ", length " << length);
                    const XBlob result = S2KIterated(Id(), length, BlobOf(password), BlobOf(salt), passes);
                    EXPECT_EQ(result.Length(), length);
                    EXPECT_EQ(Content(result), ReferenceS2K(Id(), length, preimage));
                }
            }
        }
    }
}

TEST_P(S2KTest, IteratedCode96)
{
    const Bytes salt = FromHex("0102030405060708");
    const Bytes password = TextBytes("correct horse battery staple");
    const Bytes preimage = IteratedPreimage(salt, password, 65536);
    ASSERT_EQ(preimage.size(), 65536u);
    for (uint32_t length : {H(), 2 * H() + 3}) {
        SCOPED_TRACE(length);
        EXPECT_EQ(Content(S2KIterated(Id(), length, BlobOf(password), BlobOf(salt), 96)),
                  ReferenceS2K(Id(), length, preimage));
    }
}

// Long outputs, where the zero prefix itself runs over several 64-byte
// blocks (digest i starts with i zero bytes), against the reference that
// builds each whole preimage: preimages that end around the padding
// boundaries (55, 56, 63, 64 bytes) and a longer one.
TEST_P(S2KTest, LongOutputsCrossManyBlocks)
{
    const uint32_t length = 150 * H() + 7; // prefixes of up to 150 zero bytes
    for (size_t n : {0, 1, 47, 55, 56, 63, 64, 200}) {
        const Bytes password = Pattern(n, unsigned(n) + 30);
        const Bytes salt = Pattern(8, 31);
        SCOPED_TRACE(testing::Message() << "password " << n << " bytes");
        EXPECT_EQ(Content(S2KSimple(Id(), length, BlobOf(password))), ReferenceS2K(Id(), length, password));
        EXPECT_EQ(Content(S2KSalted(Id(), length, BlobOf(password), BlobOf(salt))),
                  ReferenceS2K(Id(), length, Concat(salt, password)));
        EXPECT_EQ(Content(S2KIterated(Id(), length, BlobOf(password), BlobOf(salt), 1)),
                  ReferenceS2K(Id(), length, IteratedPreimage(salt, password, S2KCount(1))));
    }
}

// The largest key Misc.Keygen hands out: 65,536 bytes.
TEST_P(S2KTest, KeygenLimitAgreesWithTheReference)
{
    const Bytes password = TextBytes("a password");
    const Bytes salt = Pattern(8, 32);
    EXPECT_EQ(Content(S2KSimple(Id(), 65536, BlobOf(password))), ReferenceS2K(Id(), 65536, password));
    EXPECT_EQ(Content(S2KSalted(Id(), 65536, BlobOf(password), BlobOf(salt))),
              ReferenceS2K(Id(), 65536, Concat(salt, password)));
}

// A megabyte of output costs about as much as hashing its digests once:
// under 20 ms, about 0.1 s under the sanitizers.  Recomputing the zero
// prefix of every digest from the start took 3 s for MD5 (65,536 digests,
// 2 GB of zeros).
TEST(S2KCost, GrowsWithTheOutputNotItsSquare)
{
    const XBlob password = BlobOf(TextBytes("password"));
    double best = 1e9;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto start = std::chrono::steady_clock::now();
        const XBlob key = S2KSimple(1, 1 << 20, password);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ASSERT_EQ(key.Length(), 1u << 20);
        best = std::min(best, seconds);
    }
    EXPECT_LT(best, 1.0) << "1 MB of MD5 simple S2K took " << best << " s";
}

// Passes beyond one byte, the way a script's 32-bit number arrives: the
// count from the table above decides the preimage; a count of 0 or one
// smaller than salt and password hashes them once.
TEST_P(S2KTest, IteratedWithWholeThirtyTwoBitPasses)
{
    const Bytes salt = Pattern(8, 13);
    const Bytes password = Pattern(20, 14); // 28 bytes with the salt
    for (const CountCase& c : kCounts) {
        if (c.count > 70000)
            continue; // the large ones cost a lot of hashing and say nothing new
        SCOPED_TRACE(testing::Message() << "passes 0x" << std::hex << c.passes);
        const Bytes preimage = IteratedPreimage(salt, password, c.count);
        EXPECT_EQ(preimage.size(), std::max<size_t>(c.count, 28));
        const uint32_t length = H() + 1;
        EXPECT_EQ(Content(S2KIterated(Id(), length, BlobOf(password), BlobOf(salt), c.passes)),
                  ReferenceS2K(Id(), length, preimage));
    }
}

// Salt and password longer than the count: hashed once, whole.
TEST_P(S2KTest, IteratedInputLongerThanTheCount)
{
    const Bytes salt = Pattern(8, 15);
    const Bytes password = Pattern(1500, 16);
    const uint32_t length = 2 * H() + 1;
    const Bytes once = ReferenceS2K(Id(), length, Concat(salt, password));
    EXPECT_EQ(Content(S2KIterated(Id(), length, BlobOf(password), BlobOf(salt), 0)), once);
    EXPECT_EQ(Content(S2KIterated(Id(), length, BlobOf(password), BlobOf(salt), 1)), once);
    EXPECT_EQ(Content(S2KSalted(Id(), length, BlobOf(password), BlobOf(salt))), once);
}

// With nothing to repeat the preimage is empty: only the zero prefixes are hashed.
TEST_P(S2KTest, IteratedWithEmptySaltAndPassword)
{
    const uint32_t length = 2 * H() + 1;
    EXPECT_EQ(Content(S2KIterated(Id(), length, XBlob(), XBlob(), 96)), ReferenceS2K(Id(), length, {}));
}

TEST_P(S2KTest, InputsAreNotChanged)
{
    const XBlob password = BlobOf(TextBytes("pw"));
    const XBlob salt = BlobOf(Pattern(8, 17));
    const XBlob passwordBefore(password), saltBefore(salt);
    S2KSimple(Id(), 50, password);
    S2KSalted(Id(), 50, password, salt);
    S2KIterated(Id(), 50, password, salt, 0);
    EXPECT_TRUE(password == passwordBefore);
    EXPECT_TRUE(salt == saltBefore);
}

// Code 255 hashes 65,011,712 bytes per digest: once, for SHA-1, with two
// digests so that the zero prefix is exercised on the long preimage too.
TEST(S2KIterated, LargestOneByteCode)
{
    const Bytes salt = FromHex("a1b2c3d4e5f60718");
    const Bytes password = TextBytes("big count");
    const Bytes preimage = IteratedPreimage(salt, password, 65011712);
    ASSERT_EQ(preimage.size(), 65011712u);
    EXPECT_EQ(Content(S2KIterated(2, 25, BlobOf(password), BlobOf(salt), 255)), ReferenceS2K(2, 25, preimage));
}

// --- keys GnuPG derived ------------------------------------------------------
//
// Each key is the session key GnuPG 2.2 derived for a password-only message
// (no encrypted session key in the symmetric-key packet, so the derived key
// is the message key), taken with
//
//   gpg --batch --pinentry-mode loopback --passphrase PW --s2k-mode M
//       --s2k-digest-algo H --s2k-count N --cipher-algo C -c file
//   gpg --list-packets file.gpg          # salt and coded count
//   gpg --batch --pinentry-mode loopback --passphrase PW --show-session-key -d file.gpg
//
// The key length is the cipher's: 16 (AES128), 24 (AES192), 32 (AES256).

struct GnuPGCase {
    int mode;
    uint8_t hash;
    const char* salt;
    uint32_t passes;
    std::string password;
    const char* key;
};

std::string LongPassword()
{
    std::string text;
    for (int i = 0; i < 1500; ++i)
        text += char('a' + i % 26);
    return text;
}

TEST(S2KGnuPG, KeysAgree)
{
    const GnuPGCase cases[] = {
        {0, 1, "", 0, "pw", "8fe4c11451281c094a6578e6ddbf5eed"},
        {0, 2, "", 0, "open sesame", "5bcaff7f22ff533ca099b3408ead876c0ebba9a7b978dcbffc8928b1f25972a5"},
        {1, 2, "ae25fd9a611bb135", 0, "secret", "3e93dc2326b6b21ba19f4f918c4b3b9ebde555d903b4a0d84425831896a04aa7"},
        {1, 3, "6695aafe69cc7aea", 0, "correct horse", "cc37267dbd26165a9be20e652dd6db654c54bf04177e75f6"},
        {3, 1, "287613d942ffcadb", 96, "abc", "6fdc99a63b88ea220d2defefc4a37b22782d60dcfa2a01f299123015fab90725"},
        {3, 1, "b59423687671e86f", 24, "p", "1ef9ddfb8f33bb3cd03860491a91a7db903834de09c1d33c"},
        {3, 2, "96b11d3ae96fe1c3", 96, "pw", "a0112c0720582e7a932f2133d1ea0b917f83c03310a4e81a827c6f196a57b479"},
        {3, 3, "6f43d2ca0d892ccf", 16, "hunter2", "22d782776e8081c45618c5752baf9cfb0a3a7150a20a69a02a6337909db4a0ee"},
        // 1508 bytes of salt and password against a count of 1088: hashed once.
        {3, 2, "0ae0f6be01a87650", 1, LongPassword(), "cee49d8bc4762afc85a09004706abd2b830acc5f3c4a50e0"},
    };
    for (const GnuPGCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " hash " << int(c.hash) << " salt " << c.salt);
        const Bytes expected = FromHex(c.key);
        const uint32_t length = uint32_t(expected.size());
        const XBlob password = BlobOf(TextBytes(c.password));
        const XBlob salt = BlobOf(FromHex(c.salt));
        XBlob result;
        if (c.mode == 0)
            result = S2KSimple(c.hash, length, password);
        else if (c.mode == 1)
            result = S2KSalted(c.hash, length, password, salt);
        else
            result = S2KIterated(c.hash, length, password, salt, c.passes);
        EXPECT_EQ(Content(result), expected);
    }
}

TEST(S2KGnuPG, LargestOneByteCode)
{
    // gpg --s2k-count 65011712, SHA-1, AES128: "count 65011712 (255)".
    const XBlob result = S2KIterated(2, 16, BlobOf(TextBytes("big count")), BlobOf(FromHex("5774a57f676effc6")), 255);
    EXPECT_EQ(Content(result), FromHex("2991a6b584f23a967e76919da72c3ddf"));
}

// --- refusals -----------------------------------------------------------------

TEST(S2KUnknownHash, IsRefusedBeforeAnything)
{
    const XBlob password = BlobOf(TextBytes("pw"));
    const XBlob salt = BlobOf(Pattern(8, 18));
    for (int id : {0, 4, 5, 110, 255}) {
        for (uint32_t length : {0u, 1u, 20u}) {
            SCOPED_TRACE(testing::Message() << "id " << id << ", length " << length);
            EXPECT_TRUE(RaisesAlarm([&] { S2KSimple(uint8_t(id), length, password); }, XMessage::kUnsupportedAlgorithm,
                                    nullptr));
            EXPECT_TRUE(RaisesAlarm([&] { S2KSalted(uint8_t(id), length, password, salt); },
                                    XMessage::kUnsupportedAlgorithm, nullptr));
            // Code 255 would take a long time to hash: the refusal must come first.
            EXPECT_TRUE(RaisesAlarm([&] { S2KIterated(uint8_t(id), length, password, salt, 255); },
                                    XMessage::kUnsupportedAlgorithm, nullptr));
        }
    }
}

// --- the seed expander -----------------------------------------------------------

// t = seed followed by everything produced so far; MD5(t) then SHA-1(t).
Bytes ReferenceExpand(const Bytes& seed, size_t length)
{
    Bytes out;
    while (out.size() < length) {
        const Bytes t = Concat(seed, out);
        const Bytes md5 = OpenSslDigest(EVP_md5(), t);
        const Bytes sha1 = OpenSslDigest(EVP_sha1(), t);
        out.insert(out.end(), md5.begin(), md5.end());
        out.insert(out.end(), sha1.begin(), sha1.end());
    }
    return Prefix(out, length);
}

TEST(ExpandSeed, AgreesWithTheReference)
{
    const Bytes seeds[] = {{}, TextBytes("seed"), Pattern(20, 19), Pattern(64, 20), Pattern(300, 21)};
    const uint32_t lengths[] = {0, 1, 15, 16, 17, 20, 35, 36, 37, 40, 71, 72, 73, 128, 1000};
    for (const Bytes& seed : seeds) {
        for (uint32_t length : lengths) {
            SCOPED_TRACE(testing::Message() << "seed " << seed.size() << " bytes, length " << length);
            const XBlob result = ExpandSeed(BlobOf(seed), length);
            EXPECT_EQ(result.Length(), length);
            EXPECT_EQ(Content(result), ReferenceExpand(seed, length));
        }
    }
}

// The largest key Misc.Keygen hands out, where t has grown to 64 KB.
TEST(ExpandSeed, KeygenLimitAgreesWithTheReference)
{
    const Bytes seed = TextBytes("a password");
    EXPECT_EQ(Content(ExpandSeed(BlobOf(seed), 65536)), ReferenceExpand(seed, 65536));
}

// The two smallest cases spelled out: 16 bytes are MD5(seed); 40 bytes are
// MD5(seed), SHA-1(seed) and the first 4 bytes of MD5(seed + those 36).
TEST(ExpandSeed, FirstRounds)
{
    const Bytes seed = TextBytes("abc");
    const Bytes md5 = OpenSslDigest(EVP_md5(), seed);
    const Bytes sha1 = OpenSslDigest(EVP_sha1(), seed);
    EXPECT_EQ(Content(ExpandSeed(BlobOf(seed), 16)), md5);
    const Bytes round1 = Concat(md5, sha1);
    const Bytes next = OpenSslDigest(EVP_md5(), Concat(seed, round1));
    EXPECT_EQ(Content(ExpandSeed(BlobOf(seed), 40)), Concat(round1, Prefix(next, 4)));
}

// A shorter result is a prefix of a longer one, and the seed is left alone.
TEST(ExpandSeed, ShorterIsPrefixOfLonger)
{
    const XBlob seed = BlobOf(Pattern(33, 22));
    const XBlob before(seed);
    const Bytes longest = Content(ExpandSeed(seed, 500));
    for (uint32_t length : {0u, 1u, 36u, 37u, 250u, 499u})
        EXPECT_EQ(Content(ExpandSeed(seed, length)), Prefix(longest, length)) << length;
    EXPECT_TRUE(seed == before);
}

} // namespace
