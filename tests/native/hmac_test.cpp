// HMAC, PBKDF2 and HKDF over the hash table: the published vectors (RFC 4231
// for the SHA-2 HMACs, RFC 2202 for MD5 and SHA-1, RFC 6070 and RFC 7914 for
// PBKDF2, RFC 5869 for HKDF), and OpenSSL's HMAC, PKCS5_PBKDF2_HMAC and
// HKDF as the independent implementation for every row of the table, with
// keys and outputs on either side of the block and digest sizes.
#include "hash/hmac.h"

#include "hash/digest.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace test_support;

const XHashAlgorithm& Row(const char* name)
{
    const XHashAlgorithm* row = FindHashAlgorithmByName(name);
    if (!row)
        throw std::logic_error(std::string("no hash ") + name);
    return *row;
}

Bytes Repeat(uint8_t b, size_t n)
{
    return Bytes(n, b);
}

// The bytes from..to-1.
Bytes Range(unsigned from, unsigned to)
{
    Bytes v;
    for (unsigned b = from; b < to; ++b)
        v.push_back(uint8_t(b));
    return v;
}

// --- the independent implementation ------------------------------------

struct Oracle {
    const char* row;
    const EVP_MD* (*evp)();
};

const Oracle kOracles[] = {
    {"MD5", EVP_md5},           {"SHA1", EVP_sha1},         {"RIPEMD160", EVP_ripemd160},
    {"SHA224", EVP_sha224},     {"SHA256", EVP_sha256},     {"SHA384", EVP_sha384},
    {"SHA512", EVP_sha512},     {"SHA512/256", EVP_sha512_256}, {"SHA3-256", EVP_sha3_256},
    {"SHA3-512", EVP_sha3_512},
};

Bytes OpenSslHmac(const EVP_MD* md, const Bytes& key, const Bytes& data)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    static const unsigned char none = 0;
    EXPECT_NE(HMAC(md, key.empty() ? &none : key.data(), int(key.size()), data.data(), data.size(), out, &length),
              nullptr);
    return Bytes(out, out + length);
}

Bytes OpenSslPbkdf2(const EVP_MD* md, const Bytes& password, const Bytes& salt, int iterations, size_t length)
{
    Bytes out(length);
    EXPECT_EQ(PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(password.data()), int(password.size()), salt.data(),
                                int(salt.size()), iterations, md, int(length), out.data()),
              1);
    return out;
}

Bytes OpenSslHkdf(const EVP_MD* md, const Bytes& ikm, const Bytes& salt, const Bytes& info, size_t length)
{
    Bytes out(length);
    size_t outLength = length;
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_HKDF, nullptr);
    EXPECT_NE(ctx, nullptr);
    EXPECT_EQ(EVP_PKEY_derive_init(ctx), 1);
    EXPECT_EQ(EVP_PKEY_CTX_set_hkdf_md(ctx, md), 1);
    if (!salt.empty()) {
        EXPECT_EQ(EVP_PKEY_CTX_set1_hkdf_salt(ctx, salt.data(), int(salt.size())), 1);
    }
    EXPECT_EQ(EVP_PKEY_CTX_set1_hkdf_key(ctx, ikm.data(), int(ikm.size())), 1);
    if (!info.empty()) {
        EXPECT_EQ(EVP_PKEY_CTX_add1_hkdf_info(ctx, info.data(), int(info.size())), 1);
    }
    EXPECT_EQ(EVP_PKEY_derive(ctx, out.data(), &outLength), 1);
    EVP_PKEY_CTX_free(ctx);
    EXPECT_EQ(outLength, length);
    return out;
}

// --- HMAC: published vectors -----------------------------------------------

// RFC 4231: the seven test cases, each with the MACs of HMAC-SHA-224, -256,
// -384 and -512.  Case 5 publishes only the first 128 bits of each MAC.
struct Rfc4231Case {
    Bytes key;
    Bytes data;
    const char* mac[4]; // SHA-224, SHA-256, SHA-384, SHA-512
};

std::vector<Rfc4231Case> Rfc4231()
{
    return {
        {Repeat(0x0b, 20), TextBytes("Hi There"),
         {"896fb1128abbdf196832107cd49df33f47b4b1169912ba4f53684b22",
          "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7",
          "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6",
          "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cde"
          "daa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1702e696c203a126854"}},
        {TextBytes("Jefe"), TextBytes("what do ya want for nothing?"),
         {"a30e01098bc6dbbf45690f3a7e9e6d0f8bbea2a39e6148008fd05e44",
          "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
          "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649",
          "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea250554"
          "9758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b4b636e070a38bce737"}},
        {Repeat(0xaa, 20), Repeat(0xdd, 50),
         {"7fb3cb3588c6c1f6ffa9694d7d6ad2649365b0c1f65d69d1ec8333ea",
          "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe",
          "88062608d3e6ad8a0aa2ace014c8a86f0aa635d947ac9febe83ef4e55966144b2a5ab39dc13814b94e3ab6e101a34f27",
          "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39"
          "bf3e848279a722c806b485a47e67c807b946a337bee8942674278859e13292fb"}},
        {Range(1, 26), Repeat(0xcd, 50),
         {"6c11506874013cac6a2abc1bb382627cec6a90d86efc012de7afec5a",
          "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b",
          "3e8a69b7783c25851933ab6290af6ca77a9981480850009cc5577c6e1f573b4e6801dd23c4a7d679ccf8a386c674cffb",
          "b0ba465637458c6990e5a8c5f61d4af7e576d97ff94b872de76f8050361ee3db"
          "a91ca5c11aa25eb4d679275cc5788063a5f19741120c4f2de2adebeb10a298dd"}},
        {Repeat(0x0c, 20), TextBytes("Test With Truncation"),
         {"0e2aea68a90c8d37c988bcdb9fca6fa8", "a3b6167473100ee06e0c796c2955552b",
          "3abf34c3503b2a23a46efc619baef897", "415fad6271580a531d4179bc891d87a6"}},
        {Repeat(0xaa, 131), TextBytes("Test Using Larger Than Block-Size Key - Hash Key First"),
         {"95e9a0db962095adaebe9b2d6f0dbce2d499f112f2d2b7273fa6870e",
          "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54",
          "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952",
          "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f352"
          "6b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec8b915a985d786598"}},
        {Repeat(0xaa, 131),
         TextBytes("This is a test using a larger than block-size key and a larger than block-size data. The key "
                   "needs to be hashed before being used by the HMAC algorithm."),
         {"3a854166ac5d9f023f54d517d0b39dbd946770db9c2b95c9f6f565d1",
          "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2",
          "6617178e941f020d351e2f254e8fd32c602420feb0b8fb9adccebb82461e99c5a678cc31e799176d3860e6110c46523e",
          "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944"
          "b6022cac3c4982b10d5eeb55c3e4de15134676fb6de0446065c97440fa8c6a58"}},
    };
}

// Whether `mac` is the published value, which may be the MAC's prefix; the
// MAC itself always has the digest's length.
::testing::AssertionResult MacMatches(const XBlob& mac, const XHashAlgorithm& hash, const char* published)
{
    const Bytes expected = FromHex(published);
    if (mac.Length() != hash.digestSize)
        return ::testing::AssertionFailure() << "MAC of " << mac.Length() << " bytes";
    const Bytes got = Content(mac);
    if (!std::equal(expected.begin(), expected.end(), got.begin()))
        return ::testing::AssertionFailure() << ToHex(got) << " is not " << published;
    return ::testing::AssertionSuccess();
}

TEST(Hmac, Rfc4231)
{
    const char* const hashes[4] = {"SHA224", "SHA256", "SHA384", "SHA512"};
    int n = 0;
    for (const Rfc4231Case& c : Rfc4231()) {
        ++n;
        for (int h = 0; h < 4; ++h) {
            SCOPED_TRACE(testing::Message() << "case " << n << ", " << hashes[h]);
            const XHashAlgorithm& hash = Row(hashes[h]);
            EXPECT_TRUE(MacMatches(Hmac(hash, BlobOf(c.key), BlobOf(c.data)), hash, c.mac[h]));
        }
    }
}

// RFC 2202: the seven HMAC-MD5 and seven HMAC-SHA-1 cases.  Case 5's full
// MAC is published beside its 96-bit truncation.
TEST(Hmac, Rfc2202)
{
    const Bytes bigKey = Repeat(0xaa, 80);
    const Bytes bigKeyFirst = TextBytes("Test Using Larger Than Block-Size Key - Hash Key First");
    const Bytes bigData = TextBytes("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data");
    const struct {
        const char* hash;
        Bytes key, data;
        const char* mac;
    } cases[] = {
        {"MD5", Repeat(0x0b, 16), TextBytes("Hi There"), "9294727a3638bb1c13f48ef8158bfc9d"},
        {"MD5", TextBytes("Jefe"), TextBytes("what do ya want for nothing?"), "750c783e6ab0b503eaa86e310a5db738"},
        {"MD5", Repeat(0xaa, 16), Repeat(0xdd, 50), "56be34521d144c88dbb8c733f0e8b3f6"},
        {"MD5", Range(1, 26), Repeat(0xcd, 50), "697eaf0aca3a3aea3a75164746ffaa79"},
        {"MD5", Repeat(0x0c, 16), TextBytes("Test With Truncation"), "56461ef2342edc00f9bab995690efd4c"},
        {"MD5", bigKey, bigKeyFirst, "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {"MD5", bigKey, bigData, "6f630fad67cda0ee1fb1f562db3aa53e"},
        {"SHA1", Repeat(0x0b, 20), TextBytes("Hi There"), "b617318655057264e28bc0b6fb378c8ef146be00"},
        {"SHA1", TextBytes("Jefe"), TextBytes("what do ya want for nothing?"),
         "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {"SHA1", Repeat(0xaa, 20), Repeat(0xdd, 50), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {"SHA1", Range(1, 26), Repeat(0xcd, 50), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
        {"SHA1", Repeat(0x0c, 20), TextBytes("Test With Truncation"), "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
        {"SHA1", bigKey, bigKeyFirst, "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {"SHA1", bigKey, bigData, "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.hash << ", data " << ToHex(c.data).substr(0, 16));
        const XHashAlgorithm& hash = Row(c.hash);
        EXPECT_EQ(Content(Hmac(hash, BlobOf(c.key), BlobOf(c.data))), FromHex(c.mac));
    }
}

// --- HMAC: every row against OpenSSL -----------------------------------------

class KeyedTest : public ::testing::TestWithParam<Oracle> {
protected:
    const XHashAlgorithm& Hash() const { return Row(GetParam().row); }
    const EVP_MD* Md() const { return GetParam().evp(); }
};

void PrintTo(const Oracle& o, std::ostream* out)
{
    *out << o.row;
}

// Keys of every length around the block size (a key one longer than the
// block is hashed first, one of exactly the block is not), messages around
// one and two blocks once the key block is in.
TEST_P(KeyedTest, HmacMatchesOpenSsl)
{
    const uint32_t block = Hash().blockSize;
    std::mt19937 random(11);
    for (size_t keyLength : {size_t(0), size_t(1), size_t(Hash().digestSize), size_t(block - 1), size_t(block),
                             size_t(block + 1), size_t(2 * block + 3), size_t(300)}) {
        for (size_t dataLength : {size_t(0), size_t(1), size_t(block - 1), size_t(block), size_t(block + 1),
                                  size_t(3 * block + 17), size_t(5000)}) {
            SCOPED_TRACE(testing::Message() << "key " << keyLength << ", data " << dataLength);
            const Bytes key = RandomBytes(random, keyLength), data = RandomBytes(random, dataLength);
            ASSERT_EQ(Content(Hmac(Hash(), BlobOf(key), BlobOf(data))), OpenSslHmac(Md(), key, data));
        }
    }
}

// The incremental context: any pieces, several messages under one key (each
// Finish starts the next), Reset dropping a half-fed message, and a copy
// continuing on its own.
TEST_P(KeyedTest, IncrementalHmacMatchesOneShot)
{
    std::mt19937 random(12);
    const Bytes key = RandomBytes(random, 1 + random() % 200);
    XHmac hmac(Hash(), BlobOf(key));
    EXPECT_EQ(hmac.Size(), Hash().digestSize);
    for (int round = 0; round < 20; ++round) {
        const Bytes data = RandomBytes(random, random() % 2000);
        if (round % 4 == 3) {
            const Bytes junk = RandomBytes(random, 1 + random() % 300);
            hmac.Update(junk.data(), junk.size());
            hmac.Reset();
        }
        size_t pos = 0;
        while (pos < data.size()) {
            const size_t piece = std::min<size_t>(random() % 150, data.size() - pos);
            hmac.Update(data.data() + pos, piece);
            pos += piece;
        }
        ASSERT_EQ(Content(hmac.Finish()), OpenSslHmac(Md(), key, data)) << "round " << round;
    }

    const Bytes head = RandomBytes(random, 77), tail = RandomBytes(random, 333);
    hmac.Update(BlobOf(head));
    XHmac copy(hmac);
    copy.Update(BlobOf(tail));
    hmac.Update(BlobOf(head));
    EXPECT_EQ(Content(copy.Finish()), OpenSslHmac(Md(), key, Concat(head, tail)));
    EXPECT_EQ(Content(hmac.Finish()), OpenSslHmac(Md(), key, Concat(head, head)));
}

// --- PBKDF2 ------------------------------------------------------------------

// RFC 6070 (PBKDF2-HMAC-SHA1) and RFC 7914 section 11 (PBKDF2-HMAC-SHA256).
TEST(Pbkdf2, PublishedVectors)
{
    const struct {
        const char* hash;
        Bytes password, salt;
        uint32_t iterations, length;
        const char* key;
    } cases[] = {
        {"SHA1", TextBytes("password"), TextBytes("salt"), 1, 20, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"SHA1", TextBytes("password"), TextBytes("salt"), 2, 20, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"SHA1", TextBytes("password"), TextBytes("salt"), 4096, 20, "4b007901b765489abead49d926f721d065a429c1"},
        {"SHA1", TextBytes("passwordPASSWORDpassword"), TextBytes("saltSALTsaltSALTsaltSALTsaltSALTsalt"), 4096, 25,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {"SHA1", Bytes{'p', 'a', 's', 's', 0, 'w', 'o', 'r', 'd'}, Bytes{'s', 'a', 0, 'l', 't'}, 4096, 16,
         "56fa6aa75548099dcc37d7f03425e0c3"},
        {"SHA256", TextBytes("passwd"), TextBytes("salt"), 1, 64,
         "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
         "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783"},
        {"SHA256", TextBytes("Password"), TextBytes("NaCl"), 80000, 64,
         "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
         "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.hash << ", " << c.iterations << " iterations, " << c.length << " bytes");
        EXPECT_EQ(Content(Pbkdf2(Row(c.hash), BlobOf(c.password), BlobOf(c.salt), c.iterations, c.length)),
                  FromHex(c.key));
    }
}

// RFC 6070's case of 16,777,216 iterations: the count the per-iteration cost
// is about.
TEST(Pbkdf2, SixteenMillionIterations)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "33 million compressions through unoptimised code; the optimised tree runs this";
#endif
    EXPECT_EQ(Content(Pbkdf2(Row("SHA1"), BlobOf(TextBytes("password")), BlobOf(TextBytes("salt")), 16777216, 20)),
              FromHex("eefe3d61cd4da4e4e9945b3d6ba2158c2634e984"));
}

// Outputs of less than one digest, exactly one, one byte more (a second
// block from a new index), several; passwords on either side of the block
// size; iteration counts that make U2 and U3 count.
TEST_P(KeyedTest, Pbkdf2MatchesOpenSsl)
{
    const uint32_t size = Hash().digestSize, block = Hash().blockSize;
    std::mt19937 random(13);
    const struct {
        size_t password;
        uint32_t iterations, length;
    } cases[] = {
        {8, 1, 1},          {8, 1, size},           {0, 2, size + 1},   {block, 3, 2 * size},
        {block + 1, 3, 50}, {block - 1, 1000, 3 * size + 5}, {200, 2, 1}, {1, 17, 4 * size},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "password " << c.password << ", " << c.iterations << " iterations, "
                                        << c.length << " bytes");
        const Bytes password = RandomBytes(random, c.password), salt = RandomBytes(random, random() % 40);
        ASSERT_EQ(Content(Pbkdf2(Hash(), BlobOf(password), BlobOf(salt), c.iterations, c.length)),
                  OpenSslPbkdf2(Md(), password, salt, int(c.iterations), c.length));
    }
}

TEST(Pbkdf2, EdgesOfTheArguments)
{
    const XBlob password = BlobOf(TextBytes("pw")), salt = BlobOf(TextBytes("salt"));
    EXPECT_THROW(Pbkdf2(Row("SHA256"), password, salt, 0, 32), std::invalid_argument);
    EXPECT_EQ(Pbkdf2(Row("SHA256"), password, salt, 1000, 0).Length(), 0u);
    // A shorter output is the longer one's prefix.
    const Bytes longer = Content(Pbkdf2(Row("SHA512"), password, salt, 5, 150));
    const Bytes shorter = Content(Pbkdf2(Row("SHA512"), password, salt, 5, 70));
    EXPECT_EQ(shorter, Bytes(longer.begin(), longer.begin() + 70));
}

// --- HKDF --------------------------------------------------------------------

// RFC 5869's seven cases: the pseudorandom key and the output, one step at
// a time and together.  Case 7 gives no salt at all, which is the empty salt
// here; case 3 and 6 an empty salt and no info.
TEST(Hkdf, Rfc5869)
{
    const struct {
        const char* hash;
        Bytes ikm, salt, info;
        uint32_t length;
        const char* prk;
        const char* okm;
    } cases[] = {
        {"SHA256", Repeat(0x0b, 22), Range(0, 13), Range(0xf0, 0xfa), 42,
         "077709362c2e32df0ddc3f0dc47bba6390b6c73bb50f9c3122ec844ad7c2b3e5",
         "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"},
        {"SHA256", Range(0, 0x50), Range(0x60, 0xb0), Range(0xb0, 0x100), 82,
         "06a6b88c5853361a06104c9ceb35b45cef760014904671014a193f40c15fc244",
         "b11e398dc80327a1c8e7f78c596a49344f012eda2d4efad8a050cc4c19afa97c59045a99cac7827271cb41c65e590e09da3275600c2f0"
         "9b8367793a9aca3db71cc30c58179ec3e87c14c01d5c1f3434f1d87"},
        {"SHA256", Repeat(0x0b, 22), {}, {}, 42, "19ef24a32c717b167f33a91d6f648bdf96596776afdb6377ac434c1c293ccb04",
         "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"},
        {"SHA1", Repeat(0x0b, 11), Range(0, 13), Range(0xf0, 0xfa), 42, "9b6c18c432a7bf8f0e71c8eb88f4b30baa2ba243",
         "085a01ea1b10f36933068b56efa5ad81a4f14b822f5b091568a9cdd4f155fda2c22e422478d305f3f896"},
        {"SHA1", Range(0, 0x50), Range(0x60, 0xb0), Range(0xb0, 0x100), 82, "8adae09a2a307059478d309b26c4115a224cfaf6",
         "0bd770a74d1160f7c9f12cd5912a06ebff6adcae899d92191fe4305673ba2ffe8fa3f1a4e5ad79f3f334b3b202b2173c486ea37ce3d39"
         "7ed034c7f9dfeb15c5e927336d0441f4c4300e2cff0d0900b52d3b4"},
        {"SHA1", Repeat(0x0b, 22), {}, {}, 42, "da8c8a73c7fa77288ec6f5e7c297786aa0d32d01",
         "0ac1af7002b3d761d1e55298da9d0506b9ae52057220a306e07b6b87e8df21d0ea00033de03984d34918"},
        {"SHA1", Repeat(0x0c, 22), {}, {}, 42, "2adccada18779e7c2077ad2eb19d3f3e731385dd",
         "2c91117204d745f3500d636a62f64f0ab3bae548aa53d423b0d1f27ebba6f5e5673a081d70cce7acfc48"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << ++n);
        const XHashAlgorithm& hash = Row(c.hash);
        const XBlob prk = HkdfExtract(hash, BlobOf(c.salt), BlobOf(c.ikm));
        EXPECT_EQ(Content(prk), FromHex(c.prk));
        EXPECT_EQ(Content(HkdfExpand(hash, prk, BlobOf(c.info), c.length)), FromHex(c.okm));
        EXPECT_EQ(Content(Hkdf(hash, BlobOf(c.ikm), BlobOf(c.salt), BlobOf(c.info), c.length)), FromHex(c.okm));
    }
    // No salt is a salt of HashLen zeros.
    const XHashAlgorithm& sha1 = Row("SHA1");
    EXPECT_EQ(Content(HkdfExtract(sha1, BlobOf(Repeat(0, 20)), BlobOf(Repeat(0x0c, 22)))),
              FromHex("2adccada18779e7c2077ad2eb19d3f3e731385dd"));
}

// Lengths from one byte to the largest, 255 digests; salts empty, short
// and longer than a block; info empty and long.
TEST_P(KeyedTest, HkdfMatchesOpenSsl)
{
    const uint32_t size = Hash().digestSize, block = Hash().blockSize;
    std::mt19937 random(14);
    const struct {
        size_t ikm, salt, info;
        uint32_t length;
    } cases[] = {
        {22, 13, 10, 1},      {22, 0, 0, size},        {80, 80, 80, size + 1}, {16, block + 1, 0, 3 * size - 1},
        {1, 0, 300, 100},     {64, 5, 1, 255 * size},  {200, block, 7, 254 * size + 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "ikm " << c.ikm << ", salt " << c.salt << ", info " << c.info << ", "
                                        << c.length << " bytes");
        const Bytes ikm = RandomBytes(random, c.ikm), salt = RandomBytes(random, c.salt),
                    info = RandomBytes(random, c.info);
        ASSERT_EQ(Content(Hkdf(Hash(), BlobOf(ikm), BlobOf(salt), BlobOf(info), c.length)),
                  OpenSslHkdf(Md(), ikm, salt, info, c.length));
    }
}

// One byte past 255 digests is refused by both entry points; an empty
// input key is allowed (it is HMAC's message); no output is empty.
TEST_P(KeyedTest, HkdfBounds)
{
    const uint32_t size = Hash().digestSize;
    const XBlob ikm = BlobOf(TextBytes("input key")), salt = BlobOf(TextBytes("salt")), info;
    EXPECT_THROW(Hkdf(Hash(), ikm, salt, info, 255 * size + 1), std::invalid_argument);
    EXPECT_THROW(HkdfExpand(Hash(), HkdfExtract(Hash(), salt, ikm), info, 255 * size + 1), std::invalid_argument);
    EXPECT_THROW(Hkdf(Hash(), ikm, salt, info, 0xFFFFFFFFu), std::invalid_argument);
    EXPECT_EQ(Hkdf(Hash(), ikm, salt, info, 0).Length(), 0u);
    const XBlob prk = Hmac(Hash(), salt, XBlob());
    EXPECT_EQ(Hkdf(Hash(), XBlob(), salt, info, 2 * size), HkdfExpand(Hash(), prk, info, 2 * size));
}

INSTANTIATE_TEST_SUITE_P(KeyedHashes, KeyedTest, ::testing::ValuesIn(kOracles),
                         [](const ::testing::TestParamInfo<Oracle>& info) {
                             std::string name = info.param.row;
                             for (char& ch : name)
                                 if (ch == '/' || ch == '-')
                                     ch = '_';
                             return name;
                         });

} // namespace
