// AES in GCM, CBC and CTR (cipher/aes_modes.h), and GHASH (cipher/ghash.h),
// on every pairing of the AES implementations (portable tables, AES-NI on
// 128-bit and on 256-bit vectors) with the GHASH implementations (portable,
// PCLMULQDQ): the published vectors (the GCM paper's test cases 1 to 18;
// SP 800-38A F.2 and F.5), OpenSSL's EVP ciphers on random data of many
// lengths, a bit-by-bit GHASH written from SP 800-38D, counters that wrap,
// and every refusal.
#include "cipher/aes_modes.h"

#include "cipher_test_support.h"
#include "gcm_vectors.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace test_support;

// --- the implementations under test -------------------------------------------

struct ModePath {
    const char* name;
    AesEngine aes;
    GhashEngine ghash;
};

void PrintTo(const ModePath& path, std::ostream* out)
{
    *out << path.name;
}

GhashEngine BestGhashEngine()
{
    return GhashEngineAvailable(GhashEngine::kPclmul) ? GhashEngine::kPclmul : GhashEngine::kPortable;
}

class AesModes : public ::testing::TestWithParam<ModePath> {
protected:
    void SetUp() override
    {
        if (!AesSelectEngine(GetParam().aes))
            GTEST_SKIP() << "this CPU lacks the AES instructions of this path";
        if (!GhashSelectEngine(GetParam().ghash))
            GTEST_SKIP() << "this CPU has no carry-less multiply";
    }
    void TearDown() override
    {
        AesSelectEngine(BestAesEngine());
        GhashSelectEngine(BestGhashEngine());
    }

    std::mt19937 random_{0x6c3};
};

INSTANTIATE_TEST_SUITE_P(Paths, AesModes,
                         ::testing::Values(ModePath{"VaesPclmul", AesEngine::kVaes, GhashEngine::kPclmul},
                                           ModePath{"VaesPortableGhash", AesEngine::kVaes, GhashEngine::kPortable},
                                           ModePath{"AesNiPclmul", AesEngine::kAesNi, GhashEngine::kPclmul},
                                           ModePath{"AesNiPortableGhash", AesEngine::kAesNi, GhashEngine::kPortable},
                                           ModePath{"PortableAesPclmul", AesEngine::kPortable, GhashEngine::kPclmul},
                                           ModePath{"Portable", AesEngine::kPortable, GhashEngine::kPortable}),
                         [](const ::testing::TestParamInfo<ModePath>& info) { return std::string(info.param.name); });

// --- OpenSSL ------------------------------------------------------------------------

using EvpContext = std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)>;

EvpContext NewContext()
{
    return EvpContext(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
}

const EVP_CIPHER* EvpAes(size_t keySize, const char* mode)
{
    const std::string m = mode;
    switch (keySize) {
    case 16:
        return m == "gcm" ? EVP_aes_128_gcm() : m == "cbc" ? EVP_aes_128_cbc() : EVP_aes_128_ctr();
    case 24:
        return m == "gcm" ? EVP_aes_192_gcm() : m == "cbc" ? EVP_aes_192_cbc() : EVP_aes_192_ctr();
    default:
        return m == "gcm" ? EVP_aes_256_gcm() : m == "cbc" ? EVP_aes_256_cbc() : EVP_aes_256_ctr();
    }
}

// Ciphertext || the first tagLength bytes of the tag; any IV length.
Bytes OpenSslGcmSeal(const Bytes& key, const Bytes& iv, const Bytes& aad, const Bytes& plain, size_t tagLength)
{
    EvpContext ctx = NewContext();
    Bytes out(plain.size() + 16);
    int n = 0, tail = 0;
    uint8_t tag[16];
    const bool ok =
        EVP_EncryptInit_ex(ctx.get(), EvpAes(key.size(), "gcm"), nullptr, nullptr, nullptr) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, int(iv.size()), nullptr) == 1 &&
        EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), iv.data()) == 1 &&
        (aad.empty() || EVP_EncryptUpdate(ctx.get(), nullptr, &n, aad.data(), int(aad.size())) == 1) &&
        (n = 0, plain.empty() || EVP_EncryptUpdate(ctx.get(), out.data(), &n, plain.data(), int(plain.size())) == 1) &&
        EVP_EncryptFinal_ex(ctx.get(), out.data() + n, &tail) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, int(tagLength), tag) == 1;
    EXPECT_TRUE(ok) << "OpenSSL AES-GCM failed";
    out.resize(size_t(n + tail));
    out.insert(out.end(), tag, tag + tagLength);
    return out;
}

// CBC (with PKCS#7 padding or without) and CTR.
Bytes OpenSslCrypt(const char* mode, bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& data,
                   bool padding = false)
{
    EvpContext ctx = NewContext();
    Bytes out(data.size() + 32);
    int n = 0, tail = 0;
    const bool ok = EVP_CipherInit_ex(ctx.get(), EvpAes(key.size(), mode), nullptr, key.data(), iv.data(),
                                      encrypt ? 1 : 0) == 1 &&
                    EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0) == 1 &&
                    (data.empty() || EVP_CipherUpdate(ctx.get(), out.data(), &n, data.data(), int(data.size())) == 1) &&
                    EVP_CipherFinal_ex(ctx.get(), out.data() + n, &tail) == 1;
    EXPECT_TRUE(ok) << "OpenSSL AES-" << mode << " failed";
    out.resize(size_t(n + tail));
    return out;
}

Bytes OpenSslEcbBlock(const Bytes& key, const Bytes& block)
{
    return OpenSslAes(Chaining::kEcb, true, key, Bytes(16, 0), block);
}

// --- GF(2^128) and GHASH bit by bit, as SP 800-38D (6.3, 6.4) writes them ------------

struct Element {
    uint64_t hi = 0, lo = 0; // bytes 0..7 and 8..15, big-endian
};

Element ElementOf(const uint8_t* p)
{
    Element e;
    for (int i = 0; i < 8; ++i) {
        e.hi = e.hi << 8 | p[i];
        e.lo = e.lo << 8 | p[8 + i];
    }
    return e;
}

Bytes BytesOf(const Element& e)
{
    Bytes b(16);
    for (int i = 0; i < 8; ++i) {
        b[i] = uint8_t(e.hi >> (56 - 8 * i));
        b[8 + i] = uint8_t(e.lo >> (56 - 8 * i));
    }
    return b;
}

// Algorithm 1: X * Y.
Element Multiply(const Element& x, const Element& y)
{
    Element z, v = y;
    for (int i = 0; i < 128; ++i) {
        const uint64_t word = i < 64 ? x.hi : x.lo;
        if ((word >> (63 - i % 64)) & 1) {
            z.hi ^= v.hi;
            z.lo ^= v.lo;
        }
        const bool carry = v.lo & 1;
        v.lo = (v.lo >> 1) | (v.hi << 63);
        v.hi >>= 1;
        if (carry)
            v.hi ^= 0xe100000000000000u;
    }
    return z;
}

// x^(2^128 - 2), the inverse of a non-zero x.
Element Inverse(const Element& x)
{
    Element r;
    r.hi = 0x8000000000000000u; // the element 1
    for (int i = 127; i >= 0; --i) {
        r = Multiply(r, r);
        if (i != 0)
            r = Multiply(r, x);
    }
    return r;
}

Element Xor(Element a, const Element& b)
{
    a.hi ^= b.hi;
    a.lo ^= b.lo;
    return a;
}

// Algorithm 2 from y over whole blocks.
Bytes ReferenceGhash(const Bytes& h, Bytes y, const Bytes& blocks)
{
    const Element hash = ElementOf(h.data());
    Element acc = ElementOf(y.data());
    for (size_t i = 0; i + 16 <= blocks.size(); i += 16)
        acc = Multiply(Xor(acc, ElementOf(blocks.data() + i)), hash);
    return BytesOf(acc);
}

// The 16-byte IV whose first counter block J0 = GHASH(IV || 0^64 || [128]_64)
// is `j0`: J0 = (IV * H ^ L) * H, so IV = (J0 / H ^ L) / H.
Bytes IvForPreCounter(const Bytes& h, const Bytes& j0)
{
    const Element hInverse = Inverse(ElementOf(h.data()));
    Element lengths;
    lengths.lo = 128;
    return BytesOf(Multiply(Xor(Multiply(ElementOf(j0.data()), hInverse), lengths), hInverse));
}

// --- GHASH ---------------------------------------------------------------------------

// Every block count through the eight-, four- and one-block paths, from a
// non-zero start, against the bit-by-bit GHASH; the reference's field
// arithmetic is checked first on x * x^-1 = 1.
TEST_P(AesModes, GhashMatchesBitByBitDefinition)
{
    const Bytes h = RandomBytes(random_, 16);
    {
        const Element one = Multiply(ElementOf(h.data()), Inverse(ElementOf(h.data())));
        ASSERT_EQ(one.hi, 0x8000000000000000u);
        ASSERT_EQ(one.lo, 0u);
    }
    XGhashKey key;
    key.SetKey(h.data());
    for (size_t count : {0, 1, 2, 3, 4, 5, 7, 8, 9, 11, 12, 15, 16, 17, 23, 24, 31, 64, 67}) {
        SCOPED_TRACE(std::to_string(count) + " blocks");
        const Bytes start = RandomBytes(random_, 16), blocks = RandomBytes(random_, 16 * count);
        Bytes y = start;
        key.Update(y.data(), blocks.data(), count);
        EXPECT_EQ(ToHex(y), ToHex(ReferenceGhash(h, start, blocks)));
    }
    // Keys with the top and bottom coefficients set, where z^-1 wraps.
    for (const char* special : {"80000000000000000000000000000000", "00000000000000000000000000000001",
                                "ffffffffffffffffffffffffffffffff"}) {
        SCOPED_TRACE(special);
        const Bytes h2 = FromHex(special), blocks = RandomBytes(random_, 16 * 13);
        XGhashKey k2;
        k2.SetKey(h2.data());
        Bytes y(16, 0);
        k2.Update(y.data(), blocks.data(), 13);
        EXPECT_EQ(ToHex(y), ToHex(ReferenceGhash(h2, Bytes(16, 0), blocks)));
    }
}

// --- GCM: the published vectors ----------------------------------------------------------

// The vectors are in gcm_vectors.h.

// Every vector with every tag length: the shortened tag is the full tag's
// prefix, and Open takes it back.
TEST_P(AesModes, GcmPublishedVectors)
{
    for (const GcmVector& v : kGcmVectors) {
        SCOPED_TRACE("test case " + std::to_string(v.number));
        const Bytes key = FromHex(v.key), iv = FromHex(v.iv), aad = FromHex(v.aad), plain = FromHex(v.plain),
                    cipher = FromHex(v.cipher), tag = FromHex(v.tag);
        const XAesGcm gcm(BlobOf(key));
        for (uint32_t tagLength = 12; tagLength <= 16; ++tagLength) {
            SCOPED_TRACE("tag of " + std::to_string(tagLength) + " bytes");
            const Bytes sealed = Concat(cipher, Bytes(tag.begin(), tag.begin() + tagLength));
            EXPECT_EQ(ToHex(Content(gcm.Seal(BlobOf(iv), BlobOf(aad), BlobOf(plain), tagLength))), ToHex(sealed));
            EXPECT_EQ(ToHex(Content(gcm.Open(BlobOf(iv), BlobOf(aad), BlobOf(sealed), tagLength))), ToHex(plain));
        }
    }
}

// --- GCM against OpenSSL --------------------------------------------------------------------

std::vector<size_t> CrossCheckLengths(std::mt19937& random)
{
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 140; ++n)
        lengths.push_back(n);
    for (size_t m = 256; m <= 5120; m += 128) {
        lengths.push_back(m - 1);
        lengths.push_back(m);
        lengths.push_back(m + 1);
    }
    for (int i = 0; i < 20; ++i)
        lengths.push_back(random() % 5000);
    return lengths;
}

// Random keys of the three sizes, IVs of many lengths (12 most often),
// additional data from none to a few hundred bytes, every tag length: the
// sealed message is OpenSSL's, and Open gives the plaintext back.
TEST_P(AesModes, GcmMatchesOpenSsl)
{
    const size_t ivLengths[] = {12, 1, 12, 8, 16, 12, 60, 13, 12, 64, 15, 17, 100};
    const size_t keySizes[] = {16, 24, 32};
    std::mt19937& random = random_;
    int trial = 0;
    for (size_t n : CrossCheckLengths(random)) {
        ++trial;
        const size_t keySize = keySizes[trial % 3];
        const size_t ivLength = ivLengths[trial % (sizeof ivLengths / sizeof ivLengths[0])];
        const size_t aadLength = trial % 7 == 0 ? random() % 400 : random() % 40;
        const uint32_t tagLength = 12 + trial % 5;
        SCOPED_TRACE("length " + std::to_string(n) + ", AES-" + std::to_string(keySize * 8) + ", IV " +
                     std::to_string(ivLength) + ", AAD " + std::to_string(aadLength) + ", tag " +
                     std::to_string(tagLength));
        const Bytes key = RandomBytes(random, keySize), iv = RandomBytes(random, ivLength),
                    aad = RandomBytes(random, aadLength), plain = RandomBytes(random, n);
        const XAesGcm gcm(BlobOf(key));
        const Bytes expected = OpenSslGcmSeal(key, iv, aad, plain, tagLength);
        const Bytes sealed = Content(gcm.Seal(BlobOf(iv), BlobOf(aad), BlobOf(plain), tagLength));
        ASSERT_EQ(ToHex(sealed), ToHex(expected));
        ASSERT_EQ(Content(gcm.Open(BlobOf(iv), BlobOf(aad), BlobOf(sealed), tagLength)), plain);
    }
}

// The counter block's last 32 bits wrap to zero and the other 96 stay: an IV
// of 16 bytes chosen (through the inverse of GHASH) so that J0 ends in
// FFFFFFF0 .. FFFFFFFF, and messages long enough to run past the wrap in
// every position of the eight-block groups.  The keystream is checked block
// by block against OpenSSL's AES of the counter blocks, and the whole sealed
// message against OpenSSL's GCM.
TEST_P(AesModes, GcmCounterWrapsInItsLast32Bits)
{
    for (size_t keySize : {16, 32}) {
        const Bytes key = RandomBytes(random_, keySize);
        const Bytes h = OpenSslEcbBlock(key, Bytes(16, 0));
        for (uint32_t low : {0xfffffff0u, 0xfffffff7u, 0xfffffffeu, 0xffffffffu}) {
            SCOPED_TRACE("AES-" + std::to_string(keySize * 8) + ", J0 ending in " + std::to_string(low));
            Bytes j0 = RandomBytes(random_, 12);
            Bytes tail = BigEndian32(low);
            j0.insert(j0.end(), tail.begin(), tail.end());
            const Bytes iv = IvForPreCounter(h, j0);
            const Bytes plain = RandomBytes(random_, 16 * 40 + 5), aad = RandomBytes(random_, 9);

            const XAesGcm gcm(BlobOf(key));
            const Bytes sealed = Content(gcm.Seal(BlobOf(iv), BlobOf(aad), BlobOf(plain), 16));
            ASSERT_EQ(sealed.size(), plain.size() + 16);
            for (size_t block = 0; block * 16 < plain.size(); ++block) {
                Bytes counter(j0.begin(), j0.begin() + 12);
                const Bytes number = BigEndian32(uint32_t(low + 1 + block));
                counter.insert(counter.end(), number.begin(), number.end());
                const Bytes stream = OpenSslEcbBlock(key, counter);
                for (size_t i = 0; i < 16 && 16 * block + i < plain.size(); ++i)
                    ASSERT_EQ(sealed[16 * block + i], uint8_t(plain[16 * block + i] ^ stream[i]))
                        << "block " << block << ", byte " << i;
            }
            EXPECT_EQ(ToHex(sealed), ToHex(OpenSslGcmSeal(key, iv, aad, plain, 16)));
            EXPECT_EQ(Content(gcm.Open(BlobOf(iv), BlobOf(aad), BlobOf(sealed), 16)), plain);
        }
    }
}

// --- GCM refusals ---------------------------------------------------------------------------

// Open must refuse with "Unable to decrypt data" and give nothing back.
::testing::AssertionResult Refused(const XAesGcm& gcm, const Bytes& iv, const Bytes& aad, const Bytes& sealed,
                                   uint32_t tagLength)
{
    return RaisesAlarm([&] { gcm.Open(BlobOf(iv), BlobOf(aad), BlobOf(sealed), tagLength); },
                       XMessage::kUnableToDecrypt, nullptr);
}

// Any single bit changed in the ciphertext, the tag, the additional data or
// the IV (12 bytes and 8 bytes) is refused, at every tag length.
TEST_P(AesModes, GcmRefusesEveryFlippedBit)
{
    const Bytes key = RandomBytes(random_, 32), aad = RandomBytes(random_, 21), plain = RandomBytes(random_, 70);
    const XAesGcm gcm(BlobOf(key));
    for (size_t ivLength : {12, 8}) {
        const Bytes iv = RandomBytes(random_, ivLength);
        for (uint32_t tagLength = 12; tagLength <= 16; ++tagLength) {
            SCOPED_TRACE("IV of " + std::to_string(ivLength) + " bytes, tag of " + std::to_string(tagLength));
            const Bytes sealed = Content(gcm.Seal(BlobOf(iv), BlobOf(aad), BlobOf(plain), tagLength));
            ASSERT_EQ(Content(gcm.Open(BlobOf(iv), BlobOf(aad), BlobOf(sealed), tagLength)), plain);
            for (size_t bit = 0; bit < 8 * sealed.size(); ++bit) {
                Bytes bad = sealed;
                bad[bit / 8] ^= uint8_t(1u << (bit % 8));
                EXPECT_TRUE(Refused(gcm, iv, aad, bad, tagLength)) << (bit / 8 < plain.size() ? "ciphertext" : "tag")
                                                                   << " bit " << bit;
            }
            for (size_t bit = 0; bit < 8 * aad.size(); ++bit) {
                Bytes bad = aad;
                bad[bit / 8] ^= uint8_t(1u << (bit % 8));
                EXPECT_TRUE(Refused(gcm, iv, bad, sealed, tagLength)) << "additional data bit " << bit;
            }
            for (size_t bit = 0; bit < 8 * iv.size(); ++bit) {
                Bytes bad = iv;
                bad[bit / 8] ^= uint8_t(1u << (bit % 8));
                EXPECT_TRUE(Refused(gcm, bad, aad, sealed, tagLength)) << "IV bit " << bit;
            }
        }
    }
}

// What else does not open: a message cut short, one byte added, additional
// data dropped or added, the tag read at another length than it was made
// with, another key, and inputs shorter than the tag (down to nothing).
TEST_P(AesModes, GcmRefusesOtherTampering)
{
    const Bytes key = RandomBytes(random_, 16), iv = RandomBytes(random_, 12), aad = RandomBytes(random_, 5);
    const XAesGcm gcm(BlobOf(key));
    for (size_t n : {0, 1, 16, 33}) {
        SCOPED_TRACE("plaintext of " + std::to_string(n));
        const Bytes plain = RandomBytes(random_, n);
        const Bytes sealed = Content(gcm.Seal(BlobOf(iv), BlobOf(aad), BlobOf(plain), 16));
        EXPECT_TRUE(Refused(gcm, iv, aad, Bytes(sealed.begin() + 1, sealed.end()), 16));
        EXPECT_TRUE(Refused(gcm, iv, aad, Bytes(sealed.begin(), sealed.end() - 1), 16));
        EXPECT_TRUE(Refused(gcm, iv, aad, Concat(sealed, {0}), 16));
        EXPECT_TRUE(Refused(gcm, iv, {}, sealed, 16));
        EXPECT_TRUE(Refused(gcm, iv, Concat(aad, {0}), sealed, 16));
        for (uint32_t other = 12; other < 16; ++other)
            EXPECT_TRUE(Refused(gcm, iv, aad, sealed, other)) << "read with a tag of " << other;
        const XAesGcm otherKey(BlobOf(RandomBytes(random_, 16)));
        EXPECT_TRUE(Refused(otherKey, iv, aad, sealed, 16));
    }
    for (uint32_t tagLength = 12; tagLength <= 16; ++tagLength)
        for (size_t n = 0; n < tagLength; ++n)
            EXPECT_TRUE(Refused(gcm, iv, aad, RandomBytes(random_, n), tagLength))
                << n << " bytes for a tag of " << tagLength;
}

// Arguments outside the mode's range are the caller's error, raised before
// any data is looked at: tag lengths other than 12 to 16, an empty IV.
TEST_P(AesModes, GcmRejectsBadArguments)
{
    const XAesGcm gcm(BlobOf(RandomBytes(random_, 24)));
    const XBlob iv = BlobOf(RandomBytes(random_, 12)), data = BlobOf(RandomBytes(random_, 40));
    for (uint32_t tagLength : {0u, 1u, 4u, 8u, 11u, 17u, 32u, 0xffffffffu}) {
        SCOPED_TRACE("tag of " + std::to_string(tagLength));
        EXPECT_THROW(gcm.Seal(iv, XBlob(), data, tagLength), std::invalid_argument);
        EXPECT_THROW(gcm.Open(iv, XBlob(), data, tagLength), std::invalid_argument);
    }
    EXPECT_THROW(gcm.Seal(XBlob(), XBlob(), data, 16), std::invalid_argument);
    EXPECT_THROW(gcm.Open(XBlob(), XBlob(), data, 16), std::invalid_argument);
}

// --- keys ---------------------------------------------------------------------------------

// Every function takes keys of 16, 24 and 32 bytes and raises "Invalid key"
// with no source for any other, before looking at the other arguments.
TEST(AesModeKeys, OnlyAesKeySizesAreTaken)
{
    std::mt19937 random(5);
    const XBlob iv = BlobOf(RandomBytes(random, 16)), block = BlobOf(RandomBytes(random, 16));
    const XBlob badIv = BlobOf(RandomBytes(random, 3));
    for (size_t length : {0, 1, 8, 15, 17, 20, 23, 25, 31, 33, 48, 64}) {
        SCOPED_TRACE("key of " + std::to_string(length));
        const XBlob key = BlobOf(RandomBytes(random, length));
        EXPECT_TRUE(RaisesAlarm([&] { XAesGcm gcm(key); }, XMessage::kInvalidKey, nullptr));
        EXPECT_TRUE(RaisesAlarm([&] { AesCbcEncrypt(key, iv, block, true); }, XMessage::kInvalidKey, nullptr));
        EXPECT_TRUE(RaisesAlarm([&] { AesCbcDecrypt(key, iv, block, true); }, XMessage::kInvalidKey, nullptr));
        EXPECT_TRUE(RaisesAlarm([&] { AesCtr(key, iv, block); }, XMessage::kInvalidKey, nullptr));
        EXPECT_TRUE(RaisesAlarm([&] { AesCbcEncrypt(key, badIv, block, false); }, XMessage::kInvalidKey, nullptr));
        EXPECT_TRUE(RaisesAlarm([&] { AesCtr(key, badIv, block); }, XMessage::kInvalidKey, nullptr));
    }
    for (size_t length : {16, 24, 32}) {
        const XBlob key = BlobOf(RandomBytes(random, length));
        EXPECT_NO_THROW(XAesGcm gcm(key));
        EXPECT_EQ(AesCbcEncrypt(key, iv, block, false).Length(), 16u);
        EXPECT_EQ(AesCtr(key, iv, block).Length(), 16u);
    }
}

// --- CBC and CTR: SP 800-38A ---------------------------------------------------------------

const char kSp800_38aPlain[] = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                               "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";

struct ModeVector {
    const char* name;
    const char* key;
    const char* iv;
    const char* cipher;
};

const ModeVector kCbcVectors[] = {
    {"F.2.1", "2b7e151628aed2a6abf7158809cf4f3c", "000102030405060708090a0b0c0d0e0f",
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b273bed6b8e3c1743b7116e69e22229516"
     "3ff1caa1681fac09120eca307586e1a7"},
    {"F.2.3", "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b", "000102030405060708090a0b0c0d0e0f",
     "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a571b242012fb7ae07fa9baac3df102e0"
     "08b0e27988598881d920a9e64f5615cd"},
    {"F.2.5", "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4", "000102030405060708090a0b0c0d0e0f",
     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d39f23369a9d9bacfa530e26304231461"
     "b2eb05e2c39be9fcda6c19078c6a9d1b"},
};

const ModeVector kCtrVectors[] = {
    {"F.5.1", "2b7e151628aed2a6abf7158809cf4f3c", "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
     "874d6191b620e3261bef6864990db6ce9806f66b7970fdff8617187bb9fffdff5ae4df3edbd5d35e5b4f09020db03eab"
     "1e031dda2fbe03d1792170a0f3009cee"},
    {"F.5.3", "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b", "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
     "1abc932417521ca24f2b0459fe7e6e0b090339ec0aa6faefd5ccc2c6f4ce8e941e36b26bd1ebc670d1bd1d665620abf7"
     "4f78a7f6d29809585a97daec58c6b050"},
    {"F.5.5", "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4", "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
     "601ec313775789a5b7a7f504bbf3d228f443e3ca4d62b59aca84e990cacaf5c52b0930daa23de94ce87017ba2d84988d"
     "dfc9c58db67aada613c2dd08457941a6"},
};

// F.2 without padding both ways; with PKCS#7 the same blocks come first and
// a block of sixteen 0x10 bytes follows (its ciphertext OpenSSL's), and
// decryption strips it.  Every prefix of whole blocks too.
TEST_P(AesModes, CbcSp800_38aVectors)
{
    const Bytes plain = FromHex(kSp800_38aPlain);
    for (const ModeVector& v : kCbcVectors) {
        SCOPED_TRACE(v.name);
        const Bytes key = FromHex(v.key), iv = FromHex(v.iv), cipher = FromHex(v.cipher);
        for (size_t blocks = 0; blocks <= 4; ++blocks) {
            const Bytes p(plain.begin(), plain.begin() + 16 * blocks), c(cipher.begin(), cipher.begin() + 16 * blocks);
            EXPECT_EQ(ToHex(Content(AesCbcEncrypt(BlobOf(key), BlobOf(iv), BlobOf(p), false))), ToHex(c));
            EXPECT_EQ(ToHex(Content(AesCbcDecrypt(BlobOf(key), BlobOf(iv), BlobOf(c), false))), ToHex(p));
            const Bytes padded = Content(AesCbcEncrypt(BlobOf(key), BlobOf(iv), BlobOf(p), true));
            ASSERT_EQ(padded.size(), c.size() + 16);
            EXPECT_EQ(ToHex(Bytes(padded.begin(), padded.begin() + std::ptrdiff_t(c.size()))), ToHex(c));
            EXPECT_EQ(ToHex(padded), ToHex(OpenSslCrypt("cbc", true, key, iv, p, true)));
            EXPECT_EQ(ToHex(Content(AesCbcDecrypt(BlobOf(key), BlobOf(iv), BlobOf(padded), true))), ToHex(p));
        }
    }
}

// F.5 both ways (the same function), and every prefix, whole blocks or not.
TEST_P(AesModes, CtrSp800_38aVectors)
{
    const Bytes plain = FromHex(kSp800_38aPlain);
    for (const ModeVector& v : kCtrVectors) {
        SCOPED_TRACE(v.name);
        const Bytes key = FromHex(v.key), iv = FromHex(v.iv), cipher = FromHex(v.cipher);
        EXPECT_EQ(ToHex(Content(AesCtr(BlobOf(key), BlobOf(iv), BlobOf(plain)))), ToHex(cipher));
        EXPECT_EQ(ToHex(Content(AesCtr(BlobOf(key), BlobOf(iv), BlobOf(cipher)))), ToHex(plain));
        for (size_t n = 0; n <= plain.size(); ++n) {
            const Bytes p(plain.begin(), plain.begin() + n);
            EXPECT_EQ(Content(AesCtr(BlobOf(key), BlobOf(iv), BlobOf(p))), Bytes(cipher.begin(), cipher.begin() + n))
                << n << " bytes";
        }
    }
}

// --- CBC and CTR against OpenSSL --------------------------------------------------------------

// Random data of many lengths under the three key sizes: CBC with padding
// (any length) and without (whole blocks), both ways.
TEST_P(AesModes, CbcMatchesOpenSsl)
{
    int trial = 0;
    for (size_t n : CrossCheckLengths(random_)) {
        const size_t keySize = 16 + 8 * (trial++ % 3);
        SCOPED_TRACE("length " + std::to_string(n) + ", AES-" + std::to_string(keySize * 8));
        const Bytes key = RandomBytes(random_, keySize), iv = RandomBytes(random_, 16),
                    plain = RandomBytes(random_, n);
        const Bytes padded = Content(AesCbcEncrypt(BlobOf(key), BlobOf(iv), BlobOf(plain), true));
        ASSERT_EQ(ToHex(padded), ToHex(OpenSslCrypt("cbc", true, key, iv, plain, true)));
        ASSERT_EQ(Content(AesCbcDecrypt(BlobOf(key), BlobOf(iv), BlobOf(padded), true)), plain);

        const Bytes whole(plain.begin(), plain.begin() + std::ptrdiff_t(n / 16 * 16));
        const Bytes bare = Content(AesCbcEncrypt(BlobOf(key), BlobOf(iv), BlobOf(whole), false));
        ASSERT_EQ(ToHex(bare), ToHex(OpenSslCrypt("cbc", true, key, iv, whole)));
        // Deciphering random blocks (as an attacker may send them) as OpenSSL does.
        const Bytes junk = RandomBytes(random_, whole.size());
        ASSERT_EQ(ToHex(Content(AesCbcDecrypt(BlobOf(key), BlobOf(iv), BlobOf(junk), false))),
                  ToHex(OpenSslCrypt("cbc", false, key, iv, junk)));
    }
}

// Random data of many lengths, and counters whose last 32 bits, last 64
// bits or all 128 bits wrap within the message, at every offset from the
// wrap and so in every lane of a multi-block group.
TEST_P(AesModes, CtrMatchesOpenSslAcrossCounterWraps)
{
    int trial = 0;
    for (size_t n : CrossCheckLengths(random_)) {
        const size_t keySize = 16 + 8 * (trial++ % 3);
        const Bytes key = RandomBytes(random_, keySize), iv = RandomBytes(random_, 16),
                    data = RandomBytes(random_, n);
        ASSERT_EQ(ToHex(Content(AesCtr(BlobOf(key), BlobOf(iv), BlobOf(data)))),
                  ToHex(OpenSslCrypt("ctr", true, key, iv, data)))
            << "length " << n;
    }
    const Bytes data = RandomBytes(random_, 16 * 24 + 7);
    for (size_t ones : {4, 8, 16}) {
        for (uint32_t before = 1; before <= 20; ++before) {
            // The last `ones` bytes FF except that the counter is `before`
            // blocks short of the wrap.
            Bytes iv = RandomBytes(random_, 16);
            for (size_t i = 16 - ones; i < 16; ++i)
                iv[i] = 0xff;
            iv[15] = uint8_t(0x100 - before);
            if (ones < 16)
                iv[15 - ones] = uint8_t(iv[15 - ones] == 0xff ? 0xfe : iv[15 - ones]); // a carry that stops there
            const size_t keySize = 16 + 8 * (before % 3);
            const Bytes key = RandomBytes(random_, keySize);
            SCOPED_TRACE("last " + std::to_string(ones) + " bytes wrap after " + std::to_string(before) + " blocks");
            for (size_t n : {data.size(), size_t(16 * before), size_t(16 * before + 1)}) {
                const Bytes part(data.begin(), data.begin() + std::ptrdiff_t(n));
                ASSERT_EQ(ToHex(Content(AesCtr(BlobOf(key), BlobOf(iv), BlobOf(part)))),
                          ToHex(OpenSslCrypt("ctr", true, key, iv, part)))
                    << n << " bytes";
            }
        }
    }
}

// --- CBC refusals and padding ---------------------------------------------------------------

// The IV is 16 bytes; unpadded plaintext is whole blocks (the caller's
// errors); ciphertext that is not whole blocks, and an empty one where
// padding is expected, does not decrypt.
TEST_P(AesModes, CbcLengthRules)
{
    const XBlob key = BlobOf(RandomBytes(random_, 16)), iv = BlobOf(RandomBytes(random_, 16));
    for (size_t ivLength : {0, 1, 8, 12, 15, 17, 32}) {
        const XBlob badIv = BlobOf(RandomBytes(random_, ivLength)), data = BlobOf(RandomBytes(random_, 32));
        EXPECT_THROW(AesCbcEncrypt(key, badIv, data, true), std::invalid_argument) << ivLength;
        EXPECT_THROW(AesCbcDecrypt(key, badIv, data, false), std::invalid_argument) << ivLength;
        EXPECT_THROW(AesCtr(key, badIv, data), std::invalid_argument) << ivLength;
    }
    for (size_t n : {1, 8, 15, 17, 31, 33, 100}) {
        SCOPED_TRACE(std::to_string(n) + " bytes");
        const XBlob data = BlobOf(RandomBytes(random_, n));
        EXPECT_THROW(AesCbcEncrypt(key, iv, data, false), std::invalid_argument);
        EXPECT_EQ(AesCbcEncrypt(key, iv, data, true).Length(), (n / 16 + 1) * 16);
        for (bool pkcs7 : {false, true})
            EXPECT_TRUE(RaisesAlarm([&] { AesCbcDecrypt(key, iv, data, pkcs7); }, XMessage::kUnableToDecrypt, nullptr));
    }
    EXPECT_EQ(AesCbcEncrypt(key, iv, XBlob(), false).Length(), 0u);
    EXPECT_EQ(AesCbcDecrypt(key, iv, XBlob(), false).Length(), 0u);
    EXPECT_EQ(AesCbcEncrypt(key, iv, XBlob(), true).Length(), 16u);
    EXPECT_TRUE(RaisesAlarm([&] { AesCbcDecrypt(key, iv, XBlob(), true); }, XMessage::kUnableToDecrypt, nullptr));
}

// PKCS#7 as defined: a last byte p from 1 to 16, the last p bytes all p.
size_t ValidPadding(const Bytes& last)
{
    const size_t p = last[15];
    if (p < 1 || p > 16)
        return 0;
    for (size_t i = 16 - p; i < 16; ++i)
        if (last[i] != p)
            return 0;
    return p;
}

// Every last-byte value 0 to 255, with the bytes before it set as valid
// padding of that length would have them, and then each of the 16 bytes in
// turn changed: accepted exactly when the block is valid padding (a change
// outside the padding, or one that happens to make other valid padding),
// and then exactly the padding is removed.  Messages of one and of three
// blocks.
TEST_P(AesModes, CbcPkcs7PaddingIsCheckedInFull)
{
    const Bytes key = RandomBytes(random_, 32), iv = RandomBytes(random_, 16);
    size_t accepted = 0, refused = 0;
    for (size_t blocks : {1, 3}) {
        const Bytes head = RandomBytes(random_, 16 * (blocks - 1));
        for (uint32_t value = 0; value < 256; ++value) {
            for (int changed = -1; changed < 16; ++changed) {
                Bytes last = RandomBytes(random_, 16);
                for (uint32_t i = 0; i < 16; ++i)
                    if (16 - i <= value)
                        last[i] = uint8_t(value);
                last[15] = uint8_t(value);
                if (changed >= 0)
                    last[size_t(changed)] ^= uint8_t(1 + random_() % 255);
                const size_t padding = ValidPadding(last);
                const bool valid = padding != 0;
                (valid ? accepted : refused)++;
                const Bytes plain = Concat(head, last);
                const XBlob cipher = AesCbcEncrypt(BlobOf(key), BlobOf(iv), BlobOf(plain), false);
                SCOPED_TRACE("last byte " + std::to_string(value) + ", byte " + std::to_string(changed) +
                             " changed, " + std::to_string(blocks) + " block(s)");
                if (valid) {
                    EXPECT_EQ(Content(AesCbcDecrypt(BlobOf(key), BlobOf(iv), cipher, true)),
                              Bytes(plain.begin(), plain.end() - std::ptrdiff_t(padding)));
                } else {
                    EXPECT_TRUE(RaisesAlarm([&] { AesCbcDecrypt(BlobOf(key), BlobOf(iv), cipher, true); },
                                            XMessage::kUnableToDecrypt, nullptr));
                }
                // Without padding the same data always decrypts, unchanged.
                EXPECT_EQ(Content(AesCbcDecrypt(BlobOf(key), BlobOf(iv), cipher, false)), plain);
            }
        }
    }
    // Both outcomes in quantity: every valid length with changes outside the
    // padding, and every other value.
    EXPECT_GT(accepted, 2u * 16 * 8);
    EXPECT_GT(refused, 2u * 240 * 16);
}

// --- big messages -----------------------------------------------------------------------------

// A mebibyte and a bit through every mode against OpenSSL, to cover the
// chunked loops well past their first rounds.
TEST_P(AesModes, LongMessagesMatchOpenSsl)
{
    const Bytes key = RandomBytes(random_, 32), iv = RandomBytes(random_, 16), aad = RandomBytes(random_, 77);
    const Bytes data = RandomBytes(random_, (1u << 20) + 21);
    const Bytes gcmIv(iv.begin(), iv.begin() + 12);
    const XAesGcm gcm(BlobOf(key));
    const Bytes sealed = Content(gcm.Seal(BlobOf(gcmIv), BlobOf(aad), BlobOf(data), 16));
    EXPECT_TRUE(sealed == OpenSslGcmSeal(key, gcmIv, aad, data, 16));
    EXPECT_TRUE(Content(gcm.Open(BlobOf(gcmIv), BlobOf(aad), BlobOf(sealed), 16)) == data);
    const Bytes cbc = Content(AesCbcEncrypt(BlobOf(key), BlobOf(iv), BlobOf(data), true));
    EXPECT_TRUE(cbc == OpenSslCrypt("cbc", true, key, iv, data, true));
    EXPECT_TRUE(Content(AesCbcDecrypt(BlobOf(key), BlobOf(iv), BlobOf(cbc), true)) == data);
    EXPECT_TRUE(Content(AesCtr(BlobOf(key), BlobOf(iv), BlobOf(data))) == OpenSslCrypt("ctr", true, key, iv, data));
}

} // namespace
