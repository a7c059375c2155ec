// The AEAD modes (cipher/aead.h) on AES and Twofish, on the fast and the
// portable AES and GHASH paths: the published vectors (OCB's sample results
// and its iterative digests for 12- to 15-byte nonces, the EAX paper's
// vectors, the GCM paper's test cases), OpenSSL (AES OCB and GCM) and
// libgcrypt (OCB, EAX and GCM on AES and Twofish) over many lengths of text,
// associated data and nonce, in place and not, GCM's counter running past
// its 32-bit wrap, every tampered bit, the arguments refused, and one object
// used from several threads.
#include "cipher/aead.h"

#include "cipher/aes.h"
#include "cipher/ciphers.h"
#include "cipher/ghash.h"
#include "cipher_test_support.h"
#include "gcm_vectors.h"

#include <gcrypt.h>
#include <openssl/evp.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace test_support;

// --- the implementations under test -------------------------------------------

struct AeadPath {
    const char* name;
    AesEngine aes;
    GhashEngine ghash;
};

void PrintTo(const AeadPath& path, std::ostream* out)
{
    *out << path.name;
}

class Aead : public ::testing::TestWithParam<AeadPath> {
protected:
    void SetUp() override
    {
        if (!AesSelectEngine(GetParam().aes))
            GTEST_SKIP() << "this CPU lacks the AES instructions of this path";
        if (!GhashSelectEngine(GetParam().ghash))
            GTEST_SKIP() << "this CPU lacks the carry-less multiply";
    }
    void TearDown() override
    {
        AesSelectEngine(AesEngineAvailable(AesEngine::kVaes)    ? AesEngine::kVaes
                        : AesEngineAvailable(AesEngine::kAesNi) ? AesEngine::kAesNi
                                                                : AesEngine::kPortable);
        GhashSelectEngine(GhashEngineAvailable(GhashEngine::kPclmul) ? GhashEngine::kPclmul
                                                                     : GhashEngine::kPortable);
    }
    std::mt19937 random_{20261211};
};

INSTANTIATE_TEST_SUITE_P(Paths, Aead,
                         ::testing::Values(AeadPath{"VaesPclmul", AesEngine::kVaes, GhashEngine::kPclmul},
                                           AeadPath{"AesNiPclmul", AesEngine::kAesNi, GhashEngine::kPclmul},
                                           AeadPath{"Portable", AesEngine::kPortable, GhashEngine::kPortable}),
                         [](const ::testing::TestParamInfo<AeadPath>& info) { return info.param.name; });

enum class Cipher { kAes, kTwofish };

const char* ModeName(XAeadMode mode)
{
    return mode == XAeadMode::kOcb ? "OCB" : mode == XAeadMode::kEax ? "EAX" : "GCM";
}

// A keyed engine from the cipher table, keyed the way the OpenPGP code keys
// one with raw key bytes.
std::unique_ptr<XBlockCipher> Engine(Cipher cipher, const Bytes& key)
{
    const uint8_t id = cipher == Cipher::kTwofish ? 10 : key.size() == 16 ? 7 : key.size() == 24 ? 8 : 9;
    std::unique_ptr<XBlockCipher> engine = FindCipherAlgorithm(id)->make();
    engine->MakeKey(BlobOf(key), uint32_t(key.size()));
    return engine;
}

std::unique_ptr<XAead> MakeAead(XAeadMode mode, Cipher cipher, const Bytes& key)
{
    return XAead::Make(mode, Engine(cipher, key));
}

// Ciphertext || tag.  In place: the plaintext is copied to the output
// buffer first and sealed there.
Bytes Seal(const XAead& aead, const Bytes& nonce, const Bytes& ad, const Bytes& plain, bool inPlace = false)
{
    Bytes out(plain.size() + XAead::kTagSize, 0xA5);
    if (inPlace)
        std::copy(plain.begin(), plain.end(), out.begin());
    aead.Seal(nonce.data(), uint32_t(nonce.size()), ad.data(), ad.size(), inPlace ? out.data() : plain.data(),
              out.data(), plain.size(), out.data() + plain.size());
    return out;
}

// The plaintext of ciphertext || tag, or nothing when Open refuses it; a
// refusal must leave the whole output zero (it starts as a pattern).
std::optional<Bytes> Open(const XAead& aead, const Bytes& nonce, const Bytes& ad, const Bytes& sealed,
                          bool inPlace = false)
{
    if (sealed.size() < XAead::kTagSize) {
        ADD_FAILURE() << "sealed message shorter than a tag";
        return std::nullopt;
    }
    const size_t n = sealed.size() - XAead::kTagSize;
    Bytes out(n, 0x5A);
    if (inPlace)
        std::copy(sealed.begin(), sealed.begin() + ptrdiff_t(n), out.begin());
    const bool right = aead.Open(nonce.data(), uint32_t(nonce.size()), ad.data(), ad.size(),
                                 inPlace ? out.data() : sealed.data(), out.data(), n, sealed.data() + n);
    if (right)
        return out;
    if (std::any_of(out.begin(), out.end(), [](uint8_t b) { return b != 0; }))
        ADD_FAILURE() << "a refused message left bytes behind";
    return std::nullopt;
}

// --- the independent implementations --------------------------------------------

using EvpContext = std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)>;

// OpenSSL's AES-OCB or AES-GCM: ciphertext || 16-byte tag.
Bytes OpenSslSeal(XAeadMode mode, const Bytes& key, const Bytes& nonce, const Bytes& ad, const Bytes& plain)
{
    const EVP_CIPHER* cipher = nullptr;
    if (mode == XAeadMode::kOcb)
        cipher = key.size() == 16 ? EVP_aes_128_ocb() : key.size() == 24 ? EVP_aes_192_ocb() : EVP_aes_256_ocb();
    else
        cipher = key.size() == 16 ? EVP_aes_128_gcm() : key.size() == 24 ? EVP_aes_192_gcm() : EVP_aes_256_gcm();
    EvpContext ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    Bytes out(plain.size() + 16 + 16);
    int n = 0, tail = 0;
    bool ok = EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, nullptr, nullptr) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_IVLEN, int(nonce.size()), nullptr) == 1 &&
              (mode != XAeadMode::kOcb || EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_TAG, 16, nullptr) == 1) &&
              EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), nonce.data()) == 1;
    if (ok && !ad.empty())
        ok = EVP_EncryptUpdate(ctx.get(), nullptr, &n, ad.data(), int(ad.size())) == 1;
    n = 0;
    if (ok && !plain.empty())
        ok = EVP_EncryptUpdate(ctx.get(), out.data(), &n, plain.data(), int(plain.size())) == 1;
    ok = ok && EVP_EncryptFinal_ex(ctx.get(), out.data() + n, &tail) == 1 && size_t(n + tail) == plain.size() &&
         EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_GET_TAG, 16, out.data() + plain.size()) == 1;
    if (!ok) {
        ADD_FAILURE() << "OpenSSL " << ModeName(mode) << " failed";
        return {};
    }
    out.resize(plain.size() + 16);
    return out;
}

// libgcrypt's OCB, EAX or GCM on AES or Twofish (256-bit keys): ciphertext || 16-byte tag.
Bytes GcryptSeal(XAeadMode mode, Cipher cipherKind, const Bytes& key, const Bytes& nonce, const Bytes& ad,
                 const Bytes& plain)
{
    if (!GcryptReady()) {
        ADD_FAILURE() << "libgcrypt did not initialise";
        return {};
    }
    const int algorithm = cipherKind == Cipher::kTwofish ? GCRY_CIPHER_TWOFISH
                          : key.size() == 16             ? GCRY_CIPHER_AES128
                          : key.size() == 24             ? GCRY_CIPHER_AES192
                                                         : GCRY_CIPHER_AES256;
    const int gmode = mode == XAeadMode::kOcb   ? GCRY_CIPHER_MODE_OCB
                      : mode == XAeadMode::kEax ? GCRY_CIPHER_MODE_EAX
                                                : GCRY_CIPHER_MODE_GCM;
    gcry_cipher_hd_t h = nullptr;
    if (gcry_cipher_open(&h, algorithm, gmode, 0)) {
        ADD_FAILURE() << "gcry_cipher_open";
        return {};
    }
    Bytes out(plain.size() + 16);
    std::copy(plain.begin(), plain.end(), out.begin());
    gcry_error_t e = gcry_cipher_setkey(h, key.data(), key.size());
    if (!e)
        e = gcry_cipher_setiv(h, nonce.data(), nonce.size());
    if (!e && !ad.empty())
        e = gcry_cipher_authenticate(h, ad.data(), ad.size());
    if (!e && mode == XAeadMode::kOcb)
        e = gcry_cipher_final(h);
    if (!e)
        e = gcry_cipher_encrypt(h, out.data(), plain.size(), nullptr, 0);
    if (!e)
        e = gcry_cipher_gettag(h, out.data() + plain.size(), 16);
    gcry_cipher_close(h);
    if (e) {
        ADD_FAILURE() << "libgcrypt " << ModeName(mode) << ": " << gcry_strerror(e);
        return {};
    }
    return out;
}

// --- OCB: the published vectors -----------------------------------------------------

// The sample results for AES-128 under the key 000102..0F: nonce
// BBAA99887766554433221100 + i, and the associated data and plaintext the
// first adLength and plainLength bytes of 000102030405...
struct OcbSample {
    uint8_t nonceLast;
    size_t adLength, plainLength;
    const char* sealed;
};

const OcbSample kOcbSamples[] = {
    {0x00, 0, 0, "785407BFFFC8AD9EDCC5520AC9111EE6"},
    {0x01, 8, 8, "6820B3657B6F615A5725BDA0D3B4EB3A257C9AF1F8F03009"},
    {0x02, 8, 0, "81017F8203F081277152FADE694A0A00"},
    {0x03, 0, 8, "45DD69F8F5AAE72414054CD1F35D82760B2CD00D2F99BFA9"},
    {0x04, 16, 16, "571D535B60B277188BE5147170A9A22C3AD7A4FF3835B8C5701C1CCEC8FC3358"},
    {0x05, 16, 0, "8CF761B6902EF764462AD86498CA6B97"},
    {0x06, 0, 16, "5CE88EC2E0692706A915C00AEB8B2396F40E1C743F52436BDF06D8FA1ECA343D"},
    {0x07, 24, 24, "1CA2207308C87C010756104D8840CE1952F09673A448A122C92C62241051F57356D7F3C90BB0E07F"},
    {0x08, 24, 0, "6DC225A071FC1B9F7C69F93B0F1E10DE"},
    {0x09, 0, 24, "221BD0DE7FA6FE993ECCD769460A0AF2D6CDED0C395B1C3CE725F32494B9F914D85C0B1EB38357FF"},
    {0x0A, 32, 32,
     "BD6F6C496201C69296C11EFD138A467ABD3C707924B964DEAFFC40319AF5A48540FBBA186C5553C68AD9F592A79A4240"},
    {0x0B, 32, 0, "FE80690BEE8A485D11F32965BC9D2A32"},
    {0x0C, 0, 32,
     "2942BFC773BDA23CABC6ACFD9BFD5835BD300F0973792EF46040C53F1432BCDFB5E1DDE3BC18A5F840B52E653444D5DF"},
    {0x0D, 40, 40,
     "D5CA91748410C1751FF8A2F618255B68A0A12E093FF454606E59F9C1D0DDC54B65E8628E568BAD7AED07BA06A4A69483A703549"
     "0C5769E60"},
    {0x0E, 40, 0, "C5CD9D1850C141E358649994EE701B68"},
    {0x0F, 0, 40,
     "4412923493C57D5DE0D700F753CCE0D1D2D95060122E9F15A5DDBFC5787E50B5CC55EE507BCB084E479AD363AC366B95A98CA5F"
     "3000B1479"},
};

Bytes Counting(size_t n)
{
    Bytes v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(i);
    return v;
}

TEST_P(Aead, OcbSampleResults)
{
    const auto ocb = MakeAead(XAeadMode::kOcb, Cipher::kAes, Counting(16));
    for (const OcbSample& s : kOcbSamples) {
        SCOPED_TRACE("nonce ending in " + std::to_string(s.nonceLast));
        Bytes nonce = FromHex("BBAA99887766554433221100");
        nonce.back() = s.nonceLast;
        const Bytes ad = Counting(s.adLength), plain = Counting(s.plainLength), sealed = FromHex(s.sealed);
        EXPECT_EQ(ToHex(Seal(*ocb, nonce, ad, plain)), ToHex(sealed));
        EXPECT_EQ(Open(*ocb, nonce, ad, sealed), plain);
    }
}

// The iterative test: key zeros || 128 (the tag length); for i = 0 .. 127,
// S = i zero bytes, seal (S, S), (empty, S) and (S, empty) as (A, P) under
// the nonces 3i + 1, 3i + 2 and 3i + 3 (big-endian, nonceLength bytes), all
// outputs concatenated; the digest is the tag of that as associated data
// under nonce 385.  12-byte nonces from the OCB document, 13 to 15 bytes from
// the published OpenPGP OCB vectors.
struct OcbIterative {
    size_t keyLength, nonceLength;
    const char* digest;
};

const OcbIterative kOcbIterative[] = {
    {16, 12, "67E944D23256C5E0B6C61FA22FDF1EA2"}, {24, 12, "F673F2C3E7174AAE7BAE986CA9F29E17"},
    {32, 12, "D90EB8E9C977C88B79DD793D7FFA161C"}, {16, 13, "C47F5F0341E15326D4D1C46F47F05062"},
    {24, 13, "95B9167A38EB80495DFC561A8486E109"}, {32, 13, "AFE1CDDB97028FD92F8FB3C8CFBA7D83"},
    {16, 14, "CA8AFCA031BAC3F480A583BD6C50A547"}, {24, 14, "D170C1DF356308079DA9A3F619147148"},
    {32, 14, "57F94381F2F9231EFB04AECD323757C3"}, {16, 15, "9E043A7140A25FB91F43BCC9DD7E0F46"},
    {24, 15, "680000E53908323A7F396B955B8EC641"}, {32, 15, "8304B97FAACDA56E676602E1878A7E6F"},
};

TEST_P(Aead, OcbIterativeDigests)
{
    for (const OcbIterative& v : kOcbIterative) {
        SCOPED_TRACE("AES-" + std::to_string(v.keyLength * 8) + ", " + std::to_string(v.nonceLength) +
                     "-byte nonces");
        Bytes key(v.keyLength, 0);
        key.back() = 128;
        const auto ocb = MakeAead(XAeadMode::kOcb, Cipher::kAes, key);
        auto nonce = [&](uint32_t value) {
            Bytes n(v.nonceLength, 0);
            for (size_t i = 0; i < 4; ++i)
                n[v.nonceLength - 1 - i] = uint8_t(value >> (8 * i));
            return n;
        };
        Bytes all;
        for (uint32_t i = 0; i < 128; ++i) {
            const Bytes s(i, 0);
            all = Concat(all, Seal(*ocb, nonce(3 * i + 1), s, s));
            all = Concat(all, Seal(*ocb, nonce(3 * i + 2), {}, s));
            all = Concat(all, Seal(*ocb, nonce(3 * i + 3), s, {}));
        }
        ASSERT_EQ(all.size(), 22400u);
        EXPECT_EQ(ToHex(Seal(*ocb, nonce(385), all, {})), ToHex(FromHex(v.digest)));
    }
}

// --- EAX: the paper's vectors (AES-128, 16-byte nonces) ---------------------------------

struct EaxVector {
    const char* key;
    const char* nonce;
    const char* header;
    const char* plain;
    const char* cipher;
    const char* tag;
};

const EaxVector kEaxVectors[] = {
    {"233952dee4d5ed5f9b9c6d6ff80ff478", "62ec67f9c3a4a407fcb2a8c49031a8b3", "6bfb914fd07eae6b", "", "",
     "e037830e8389f27b025a2d6527e79d01"},
    {"91945d3f4dcbee0bf45ef52255f095a4", "becaf043b0a23d843194ba972c66debd", "fa3bfd4806eb53fa", "f7fb", "19dd",
     "5c4c9331049d0bdab0277408f67967e5"},
    {"01f74ad64077f2e704c0f60ada3dd523", "70c3db4f0d26368400a10ed05d2bff5e", "234a3463c1264ac6", "1a47cb4933",
     "d851d5bae0", "3a59f238a23e39199dc9266626c40f80"},
    {"d07cf6cbb7f313bdde66b727afd3c5e8", "8408dfff3c1a2b1292dc199e46b7d617", "33cce2eabff5a79d", "481c9e39b1",
     "632a9d131a", "d4c168a4225d8e1ff755939974a7bede"},
    {"35b6d0580005bbc12b0587124557d2c2", "fdb6b06676eedc5c61d74276e1f8e816", "aeb96eaebe2970e9", "40d0c07da5e4",
     "071dfe16c675", "cb0677e536f73afe6a14b74ee49844dd"},
    {"bd8e6e11475e60b268784c38c62feb22", "6eac5c93072d8e8513f750935e46da1b", "d4482d1ca78dce0f",
     "4de3b35c3fc039245bd1fb7d", "835bb4f15d743e350e728414", "abb8644fd6ccb86947c5e10590210a4f"},
    {"7c77d6e813bed5ac98baa417477a2e7d", "1a8c98dcd73d38393b2bf1569deefc19", "65d2017990d62528",
     "8b0a79306c9ce7ed99dae4f87f8dd61636", "02083e3979da014812f59f11d52630da30", "137327d10649b0aa6e1c181db617d7f2"},
    {"5fff20cafab119ca2fc73549e20f5b0d", "dde59b97d722156d4d9aff2bc7559826", "54b9f04e6a09189a",
     "1bda122bce8a8dbaf1877d962b8592dd2d56", "2ec47b2c4954a489afc7ba4897edcdae8cc3",
     "3b60450599bd02c96382902aef7f832a"},
    {"a4a4782bcffd3ec5e7ef6d8c34a56123", "b781fcf2f75fa5a8de97a9ca48e522ec", "899a175897561d7e",
     "6cf36720872b8513f6eab1a8a44438d5ef11", "0de18fd0fdd91e7af19f1d8ee8733938b1e8",
     "e7f6d2231618102fdb7fe55ff1991700"},
    {"8395fcf1e95bebd697bd010bc766aac3", "22e7add93cfc6393c57ec0b3c17d6b44", "126735fcc320d25a",
     "ca40d7446e545ffaed3bd12a740a659ffbbb3ceab7", "cb8920f87a6c75cff39627b56e3ed197c552d295a7",
     "cfc46afc253b4652b1af3795b124ab6e"},
};

TEST_P(Aead, EaxPaperVectors)
{
    for (const EaxVector& v : kEaxVectors) {
        SCOPED_TRACE(std::string("key ") + v.key);
        const auto eax = MakeAead(XAeadMode::kEax, Cipher::kAes, FromHex(v.key));
        const Bytes nonce = FromHex(v.nonce), header = FromHex(v.header), plain = FromHex(v.plain);
        const Bytes sealed = Concat(FromHex(v.cipher), FromHex(v.tag));
        EXPECT_EQ(ToHex(Seal(*eax, nonce, header, plain)), ToHex(sealed));
        EXPECT_EQ(Open(*eax, nonce, header, sealed), plain);
    }
}

// --- GCM: the GCM paper's test cases (8-, 12- and 60-byte IVs) ---------------------------

TEST_P(Aead, GcmPaperVectors)
{
    for (const GcmVector& v : kGcmVectors) {
        SCOPED_TRACE("test case " + std::to_string(v.number));
        const auto gcm = MakeAead(XAeadMode::kGcm, Cipher::kAes, FromHex(v.key));
        const Bytes iv = FromHex(v.iv), aad = FromHex(v.aad), plain = FromHex(v.plain);
        const Bytes sealed = Concat(FromHex(v.cipher), FromHex(v.tag));
        EXPECT_EQ(ToHex(Seal(*gcm, iv, aad, plain)), ToHex(sealed));
        EXPECT_EQ(Open(*gcm, iv, aad, sealed), plain);
    }
}

// --- against the independent implementations ---------------------------------------------

enum class Oracle { kOpenSsl, kGcrypt };

struct OracleRow {
    XAeadMode mode;
    Cipher cipher;
    size_t keyLength;
    Oracle oracle;
    std::vector<uint32_t> nonceLengths; // the first is OpenPGP's, used for most lengths
};

std::string RowName(const OracleRow& row)
{
    return std::string(ModeName(row.mode)) + (row.cipher == Cipher::kAes ? " AES-" : " Twofish-") +
           std::to_string(row.keyLength * 8) + (row.oracle == Oracle::kOpenSsl ? " vs OpenSSL" : " vs libgcrypt");
}

const std::vector<OracleRow>& OracleRows()
{
    static const std::vector<OracleRow> rows = {
        {XAeadMode::kOcb, Cipher::kAes, 16, Oracle::kOpenSsl, {15, 1, 7, 12, 14}},
        {XAeadMode::kOcb, Cipher::kAes, 24, Oracle::kOpenSsl, {15, 12}},
        {XAeadMode::kOcb, Cipher::kAes, 32, Oracle::kOpenSsl, {15, 3, 12}},
        {XAeadMode::kOcb, Cipher::kAes, 16, Oracle::kGcrypt, {15}},
        {XAeadMode::kOcb, Cipher::kTwofish, 32, Oracle::kGcrypt, {15, 8, 12}},
        {XAeadMode::kEax, Cipher::kAes, 16, Oracle::kGcrypt, {16, 1, 12, 31}},
        {XAeadMode::kEax, Cipher::kAes, 32, Oracle::kGcrypt, {16}},
        {XAeadMode::kEax, Cipher::kTwofish, 32, Oracle::kGcrypt, {16, 5, 17}},
        {XAeadMode::kGcm, Cipher::kAes, 16, Oracle::kOpenSsl, {12, 1, 16, 60}},
        {XAeadMode::kGcm, Cipher::kAes, 24, Oracle::kOpenSsl, {12}},
        {XAeadMode::kGcm, Cipher::kAes, 32, Oracle::kOpenSsl, {12, 8}},
        {XAeadMode::kGcm, Cipher::kTwofish, 32, Oracle::kGcrypt, {12, 13}},
    };
    return rows;
}

Bytes OracleSeal(const OracleRow& row, const Bytes& key, const Bytes& nonce, const Bytes& ad, const Bytes& plain)
{
    return row.oracle == Oracle::kOpenSsl ? OpenSslSeal(row.mode, key, nonce, ad, plain)
                                          : GcryptSeal(row.mode, row.cipher, key, nonce, ad, plain);
}

// One message: ours seals to the oracle's bytes (in place when asked) and
// opens the oracle's message back to the plaintext.
void CheckAgainstOracle(const OracleRow& row, const XAead& ours, const Bytes& key, const Bytes& nonce,
                        const Bytes& ad, const Bytes& plain, bool inPlace)
{
    const Bytes expected = OracleSeal(row, key, nonce, ad, plain);
    const Bytes sealed = Seal(ours, nonce, ad, plain, inPlace);
    ASSERT_EQ(ToHex(sealed), ToHex(expected))
        << plain.size() << " bytes, " << ad.size() << " of associated data, " << nonce.size() << "-byte nonce"
        << (inPlace ? ", in place" : "");
    ASSERT_EQ(Open(ours, nonce, ad, expected, inPlace), plain)
        << plain.size() << " bytes, " << ad.size() << " of associated data" << (inPlace ? ", in place" : "");
}

// Every length from 0 to 600 (through every partial block and the batch
// boundaries), associated data of 0 to 50 bytes, the other nonce lengths on
// some lengths, every fifth length in place.
TEST_P(Aead, MatchesIndependentImplementationsOnShortMessages)
{
    for (const OracleRow& row : OracleRows()) {
        SCOPED_TRACE(RowName(row));
        const Bytes key = RandomBytes(random_, row.keyLength);
        const auto ours = MakeAead(row.mode, row.cipher, key);
        for (size_t n = 0; n <= 600; ++n) {
            const uint32_t nonceLength =
                n % 7 == 3 ? row.nonceLengths[n / 7 % row.nonceLengths.size()] : row.nonceLengths[0];
            const Bytes nonce = RandomBytes(random_, nonceLength), ad = RandomBytes(random_, n * 13 % 51),
                        plain = RandomBytes(random_, n);
            CheckAgainstOracle(row, *ours, key, nonce, ad, plain, n % 5 == 0);
            if (HasFatalFailure())
                return;
        }
    }
}

// Chunk-sized messages (OpenPGP's 256 KiB chunks and their neighbours) and
// long associated data.
TEST_P(Aead, MatchesIndependentImplementationsOnLongMessages)
{
    for (const OracleRow& row : OracleRows()) {
        SCOPED_TRACE(RowName(row));
        const Bytes key = RandomBytes(random_, row.keyLength);
        const auto ours = MakeAead(row.mode, row.cipher, key);
        for (size_t n : {size_t(1) << 18, (size_t(1) << 18) + 13, (size_t(1) << 18) - 1, size_t(300000) + 7}) {
            const Bytes nonce = RandomBytes(random_, row.nonceLengths[0]), ad = RandomBytes(random_, n % 4099),
                        plain = RandomBytes(random_, n);
            CheckAgainstOracle(row, *ours, key, nonce, ad, plain, n % 2 == 1);
            if (HasFatalFailure())
                return;
        }
    }
}

// --- GCM's counter wrapping in its last 32 bits -------------------------------------

// GF(2^128) as GCM defines it, bit by bit on the byte strings.
Bytes GfMultiply(const Bytes& x, const Bytes& y)
{
    Bytes z(16, 0), v = y;
    for (int i = 0; i < 128; ++i) {
        if ((x[i / 8] >> (7 - i % 8)) & 1)
            for (int j = 0; j < 16; ++j)
                z[j] ^= v[j];
        const bool carry = v[15] & 1;
        for (int j = 15; j > 0; --j)
            v[j] = uint8_t(v[j] >> 1 | v[j - 1] << 7);
        v[0] >>= 1;
        if (carry)
            v[0] ^= 0xE1;
    }
    return z;
}

// x^(2^128 - 2) = x^-1.
Bytes GfInverse(const Bytes& x)
{
    Bytes result = FromHex("80000000000000000000000000000000"), power = x;
    for (int i = 1; i < 128; ++i) {
        power = GfMultiply(power, power); // x^(2^i)
        result = GfMultiply(result, power);
    }
    return result;
}

// A 16-byte IV whose first counter block is j0: GHASH(IV || 0^64 || [128]_64)
// = ((IV * H) XOR L) * H = j0.
Bytes IvForCounter(const Bytes& h, const Bytes& j0)
{
    const Bytes hInverse = GfInverse(h);
    Bytes t = GfMultiply(j0, hInverse);
    t[15] ^= 128;
    return GfMultiply(t, hInverse);
}

// J0 ending in FFFFFFF0 .. FFFFFFFF: counter mode passes the wrap at every
// position of the batches, checked against OpenSSL (AES) and libgcrypt (Twofish).
TEST_P(Aead, GcmCounterWrapsInItsLast32Bits)
{
    ASSERT_EQ(ToHex(GfMultiply(FromHex("0388dace60b6a392f328c2b971b2fe78"), GfInverse(FromHex(
                                   "0388dace60b6a392f328c2b971b2fe78")))),
              "80000000000000000000000000000000");
    for (const OracleRow& row : OracleRows()) {
        if (row.mode != XAeadMode::kGcm || row.keyLength == 24)
            continue;
        SCOPED_TRACE(RowName(row));
        const Bytes key = RandomBytes(random_, row.keyLength);
        const auto ours = MakeAead(row.mode, row.cipher, key);
        Bytes h(16, 0);
        Engine(row.cipher, key)->EncryptBlock(h.data(), h.data());
        for (uint32_t low : {0xfffffff0u, 0xfffffff7u, 0xfffffffeu, 0xffffffffu}) {
            SCOPED_TRACE("J0 ending in " + std::to_string(low));
            const Bytes j0 = Concat(RandomBytes(random_, 12), BigEndian32(low));
            const Bytes iv = IvForCounter(h, j0);
            const Bytes plain = RandomBytes(random_, 16 * 40 + 5), ad = RandomBytes(random_, 9);
            CheckAgainstOracle(row, *ours, key, iv, ad, plain, false);
        }
    }
}

// --- tampering ------------------------------------------------------------------------

// Every bit of the ciphertext, the tag, the nonce and the associated data,
// flipped alone, makes Open refuse and zero its output; so do a cut or
// lengthened nonce, dropped associated data and another key.
TEST_P(Aead, OpenRefusesEveryFlippedBit)
{
    for (XAeadMode mode : {XAeadMode::kOcb, XAeadMode::kEax, XAeadMode::kGcm}) {
        for (Cipher cipher : {Cipher::kAes, Cipher::kTwofish}) {
            SCOPED_TRACE(std::string(ModeName(mode)) + (cipher == Cipher::kAes ? " AES" : " Twofish"));
            const Bytes key = RandomBytes(random_, cipher == Cipher::kAes ? 16 : 32);
            const auto aead = MakeAead(mode, cipher, key);
            const Bytes nonce = RandomBytes(random_, XAead::NonceSizeOf(mode));
            for (size_t n : {0, 1, 16, 33}) {
                SCOPED_TRACE(std::to_string(n) + " bytes");
                const Bytes ad = RandomBytes(random_, n % 2 ? 0 : 5), plain = RandomBytes(random_, n);
                const Bytes sealed = Seal(*aead, nonce, ad, plain);
                ASSERT_EQ(Open(*aead, nonce, ad, sealed), plain);
                for (size_t bit = 0; bit < 8 * sealed.size(); ++bit) {
                    Bytes bad = sealed;
                    bad[bit / 8] ^= uint8_t(1u << (bit % 8));
                    EXPECT_FALSE(Open(*aead, nonce, ad, bad, bit % 2 == 0))
                        << (bit / 8 < n ? "ciphertext" : "tag") << " bit " << bit;
                }
                for (size_t bit = 0; bit < 8 * nonce.size(); ++bit) {
                    Bytes bad = nonce;
                    bad[bit / 8] ^= uint8_t(1u << (bit % 8));
                    EXPECT_FALSE(Open(*aead, bad, ad, sealed)) << "nonce bit " << bit;
                }
                for (size_t bit = 0; bit < 8 * ad.size(); ++bit) {
                    Bytes bad = ad;
                    bad[bit / 8] ^= uint8_t(1u << (bit % 8));
                    EXPECT_FALSE(Open(*aead, nonce, bad, sealed)) << "associated data bit " << bit;
                }
                EXPECT_FALSE(Open(*aead, Bytes(nonce.begin(), nonce.end() - 1), ad, sealed));
                if (mode != XAeadMode::kOcb) {
                    EXPECT_FALSE(Open(*aead, Concat(nonce, {0}), ad, sealed));
                }
                EXPECT_FALSE(Open(*aead, nonce, Concat(ad, {0}), sealed));
                if (!ad.empty()) {
                    EXPECT_FALSE(Open(*aead, nonce, {}, sealed));
                }
                const auto otherKey = MakeAead(mode, cipher, RandomBytes(random_, key.size()));
                EXPECT_FALSE(Open(*otherKey, nonce, ad, sealed));
            }
        }
    }
}

// --- the arguments -------------------------------------------------------------------

TEST(AeadArguments, MakeTakesOnlyKeyedSixteenByteBlockCiphers)
{
    EXPECT_THROW(XAead::Make(XAeadMode::kOcb, nullptr), std::invalid_argument);
    EXPECT_THROW(XAead::Make(XAeadMode::kGcm, FindCipherAlgorithm(7)->make()), std::invalid_argument)
        << "an unkeyed engine";
    for (uint8_t eightByteBlocks : {2, 3, 4}) { // Triple DES, CAST5, Blowfish
        auto engine = FindCipherAlgorithm(eightByteBlocks)->make();
        engine->MakeKey(BlobOf(Bytes(24, 1)), 24);
        ASSERT_TRUE(engine->KeyReady());
        EXPECT_THROW(XAead::Make(XAeadMode::kEax, std::move(engine)), std::invalid_argument)
            << "cipher " << int(eightByteBlocks);
    }
    EXPECT_THROW(XAead::Make(XAeadMode(0), Engine(Cipher::kAes, Bytes(16, 1))), std::invalid_argument);
    EXPECT_THROW(XAead::Make(XAeadMode(4), Engine(Cipher::kAes, Bytes(16, 1))), std::invalid_argument);
    EXPECT_THROW(XAead::NonceSizeOf(XAeadMode(4)), std::invalid_argument);
}

TEST(AeadArguments, NonceSizesAndRefusedNonceLengths)
{
    struct Row {
        XAeadMode mode;
        uint32_t nonceSize;
        std::vector<uint32_t> refused;
    };
    for (const Row& row : {Row{XAeadMode::kEax, 16, {0}}, Row{XAeadMode::kOcb, 15, {0, 16, 17, 255}},
                           Row{XAeadMode::kGcm, 12, {0}}}) {
        SCOPED_TRACE(ModeName(row.mode));
        const auto aead = MakeAead(row.mode, Cipher::kAes, Bytes(16, 7));
        EXPECT_EQ(aead->Mode(), row.mode);
        EXPECT_EQ(aead->NonceSize(), row.nonceSize);
        EXPECT_EQ(XAead::NonceSizeOf(row.mode), row.nonceSize);
        const Bytes nonce(300, 1), data(20, 2);
        uint8_t out[20], tag[16] = {};
        for (uint32_t length : row.refused) {
            EXPECT_THROW(aead->Seal(nonce.data(), length, nullptr, 0, data.data(), out, 20, tag),
                         std::invalid_argument)
                << length;
            EXPECT_THROW(aead->Open(nonce.data(), length, nullptr, 0, data.data(), out, 20, tag),
                         std::invalid_argument)
                << length;
        }
    }
}

// Null pointers are fine for empty text and empty associated data: the
// result is the one for empty vectors, and it opens.
TEST(AeadArguments, NullPointersForEmptyInputs)
{
    for (XAeadMode mode : {XAeadMode::kEax, XAeadMode::kOcb, XAeadMode::kGcm}) {
        SCOPED_TRACE(ModeName(mode));
        const auto aead = MakeAead(mode, Cipher::kTwofish, Bytes(32, 3));
        const Bytes nonce(XAead::NonceSizeOf(mode), 9), empty;
        uint8_t tag[16];
        aead->Seal(nonce.data(), uint32_t(nonce.size()), nullptr, 0, nullptr, nullptr, 0, tag);
        EXPECT_EQ(ToHex(Bytes(tag, tag + 16)), ToHex(GcryptSeal(mode, Cipher::kTwofish, Bytes(32, 3), nonce, {}, {})));
        EXPECT_TRUE(aead->Open(nonce.data(), uint32_t(nonce.size()), nullptr, 0, nullptr, nullptr, 0, tag));
        tag[0] ^= 1;
        EXPECT_FALSE(aead->Open(nonce.data(), uint32_t(nonce.size()), nullptr, 0, nullptr, nullptr, 0, tag));
    }
}

// --- one object, several threads --------------------------------------------------------

TEST(AeadThreads, OneObjectServesSeveralThreadsAtOnce)
{
    std::mt19937 random(7);
    for (XAeadMode mode : {XAeadMode::kEax, XAeadMode::kOcb, XAeadMode::kGcm}) {
        SCOPED_TRACE(ModeName(mode));
        const auto aead = MakeAead(mode, Cipher::kAes, RandomBytes(random, 16));
        constexpr size_t kThreads = 4, kMessages = 24;
        std::vector<Bytes> nonces, ads, plains, expected;
        for (size_t i = 0; i < kThreads * kMessages; ++i) {
            nonces.push_back(RandomBytes(random, XAead::NonceSizeOf(mode)));
            ads.push_back(RandomBytes(random, i % 9));
            plains.push_back(RandomBytes(random, 1000 + 37 * i));
            expected.push_back(Seal(*aead, nonces[i], ads[i], plains[i]));
        }
        std::vector<int> wrong(kThreads, 0);
        std::vector<std::thread> threads;
        for (size_t t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int round = 0; round < 3; ++round) {
                    for (size_t k = 0; k < kMessages; ++k) {
                        const size_t i = t * kMessages + (k + size_t(round) * 5) % kMessages;
                        Bytes out(plains[i].size() + 16);
                        aead->Seal(nonces[i].data(), uint32_t(nonces[i].size()), ads[i].data(), ads[i].size(),
                                   plains[i].data(), out.data(), plains[i].size(), out.data() + plains[i].size());
                        Bytes back(plains[i].size());
                        const bool opened =
                            aead->Open(nonces[i].data(), uint32_t(nonces[i].size()), ads[i].data(), ads[i].size(),
                                       out.data(), back.data(), back.size(), out.data() + back.size());
                        if (out != expected[i] || !opened || back != plains[i])
                            ++wrong[t];
                    }
                }
            });
        }
        for (auto& thread : threads)
            thread.join();
        for (size_t t = 0; t < kThreads; ++t)
            EXPECT_EQ(wrong[t], 0) << "thread " << t;
    }
}

} // namespace
