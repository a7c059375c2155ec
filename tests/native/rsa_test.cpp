// The RSA engine: key blobs, imports and their alarms, the block encoding
// of Encrypt and Decrypt, signatures, and the keys the operations refuse.
// Independent checks: ciphertexts are opened with GMP's mpz_powm and the
// encoding is undone by code written here over OpenSSL's SHA-1; signatures
// are checked and made by OpenSSL (PKCS #1 v1.5 type 1 padding over the raw
// 20-byte digest, which is the engine's signature block).
#include "rsa/rsa.h"
#include "tests/native/rsa_test_support.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace rsa_test;

const char kInvalidKey[] = "Invalid key";
const char kUnable[] = "Unable to decrypt data";
const char kCorrupted[] = "Data is corrupted";

// --- Injected randomness ----------------------------------------------------------

// Seeds handed to Encrypt, each 20 bytes from a counter-driven generator; the
// draws are recorded so that tests can find them again in the ciphertext.
std::mt19937_64 g_entropyState;
std::vector<Bytes> g_draws;

void RecordingEntropy(uint8_t* out, size_t length)
{
    Bytes drawn(length);
    for (auto& b : drawn)
        b = uint8_t(g_entropyState());
    std::copy(drawn.begin(), drawn.end(), out);
    g_draws.push_back(drawn);
}

void ResetEntropy(uint64_t seed)
{
    g_entropyState.seed(seed);
    g_draws.clear();
}

// --- Independent encoding -------------------------------------------------------

Bytes Sha1(const Bytes& data)
{
    return OpenSslDigest(EVP_sha1(), data);
}

Bytes MaskGenRef(const Bytes& z, size_t length)
{
    Bytes out;
    for (uint32_t counter = 0; out.size() < length; counter += 20) {
        Bytes input = z;
        const Bytes c = Long(counter);
        input.insert(input.end(), c.begin(), c.end());
        const Bytes h = Sha1(input);
        out.insert(out.end(), h.begin(), h.end());
    }
    out.resize(length);
    return out;
}

Bytes Xor(Bytes a, const Bytes& b)
{
    for (size_t i = 0; i < a.size(); ++i)
        a[i] ^= b[i];
    return a;
}

// DB of one block: label, zeros, 01, the message bytes (k - 21 bytes).
Bytes DataBlock(const Bytes& label, const Bytes& chunk, uint32_t k)
{
    Bytes db = label;
    db.resize(k - 21 - chunk.size() - 1, 0);
    db.push_back(0x01);
    db.insert(db.end(), chunk.begin(), chunk.end());
    return db;
}

// EM = maskedSeed | maskedDB (k - 1 bytes).
Bytes EncodeBlock(const Bytes& db, const Bytes& seed)
{
    const Bytes maskedDb = Xor(db, MaskGenRef(seed, db.size()));
    Bytes em = Xor(seed, MaskGenRef(maskedDb, 20));
    em.insert(em.end(), maskedDb.begin(), maskedDb.end());
    return em;
}

// Undoes EncodeBlock: the seed and DB.
std::pair<Bytes, Bytes> DecodeBlock(const Bytes& em)
{
    const Bytes maskedSeed(em.begin(), em.begin() + 20), maskedDb(em.begin() + 20, em.end());
    const Bytes seed = Xor(maskedSeed, MaskGenRef(maskedDb, 20));
    return {seed, Xor(maskedDb, MaskGenRef(seed, maskedDb.size()))};
}

Bytes SignatureBlock(const Bytes& data, uint32_t k)
{
    Bytes em{0x01};
    em.resize(k - 22, 0xff);
    em.push_back(0x00);
    const Bytes h = Sha1(data);
    em.insert(em.end(), h.begin(), h.end());
    return em;
}

Bytes PowBytes(const Bytes& x, const Mpz& exponent, const Mpz& n, size_t length)
{
    Mpz r;
    mpz_powm(r.get(), Mpz(x).get(), exponent.get(), n.get());
    return r.ToBytes(length);
}

Bytes Pattern(size_t length, uint8_t salt)
{
    Bytes b(length);
    for (size_t i = 0; i < length; ++i)
        b[i] = uint8_t(i * 131 + salt);
    return b;
}

Bytes Slice(const Bytes& b, size_t pos, size_t count)
{
    return Bytes(b.begin() + long(pos), b.begin() + long(pos + count));
}

// --- Keys -------------------------------------------------------------------------

// Engines with generated keys, made once per seed pair and size.
const XRsa& Generated(const std::string& a, const std::string& b, uint32_t size)
{
    static std::map<std::string, std::unique_ptr<XRsa>> cache;
    const std::string name = a + "|" + b + "|" + std::to_string(size);
    auto& slot = cache[name];
    if (!slot) {
        slot = std::make_unique<XRsa>();
        slot->Keygen(BlobOf(a), BlobOf(b), size);
    }
    return *slot;
}

// A key whose modulus is k bytes long.
const XRsa& FullKey(uint32_t k)
{
    const XRsa& rsa = Generated("key a", "key b", k);
    EXPECT_EQ(rsa.N().BitLength() > 8 * uint64_t(k - 1), true) << "pick other seeds: n is short";
    return rsa;
}

// Seeds whose modulus is shorter than k bytes at all three sizes (502, 1014
// and 2038 bits): a random block is at or above n with probability 3/4.
const XRsa& ShortKey(uint32_t k)
{
    const XRsa& rsa = Generated("short-54", "partner", k);
    EXPECT_LE(rsa.N().BitLength(), 8 * uint64_t(k - 1)) << "the seeds no longer give a short modulus";
    return rsa;
}

rsa_gmp::Key GmpKey(const XRsa& rsa)
{
    rsa_gmp::Key key;
    key.k = rsa.KeySize();
    key.p = ToMpz(rsa.P());
    key.q = ToMpz(rsa.Q());
    key.n = ToMpz(rsa.N());
    key.e = ToMpz(rsa.E());
    key.d = ToMpz(rsa.D());
    key.dP = ToMpz(rsa.DP());
    key.dQ = ToMpz(rsa.DQ());
    key.qInv = ToMpz(rsa.QInv());
    return key;
}

XRsa PublicOnly(const XBlob& blob)
{
    XRsa rsa;
    rsa.ImportPublicKey(blob);
    return rsa;
}

XRsa PrivateOnly(const XBlob& blob)
{
    XRsa rsa;
    rsa.ImportPrivateKey(blob);
    return rsa;
}

XRsa BothHalves(const rsa_gmp::Key& key)
{
    XRsa rsa(RecordingEntropy);
    rsa.ImportPrivateKey(PrivateBlob(key));
    rsa.ImportPublicKey(PublicBlob(key.k, key.n, key.e));
    return rsa;
}

// --- OpenSSL ------------------------------------------------------------------------

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct CtxFree {
    void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

// An OpenSSL RSA key with the engine's numbers.
Pkey OpenSslKey(const XRsa& rsa)
{
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    std::vector<BIGNUM*> numbers;
    const std::pair<const char*, const XBigInt*> parts[] = {
        {OSSL_PKEY_PARAM_RSA_N, &rsa.N()},
        {OSSL_PKEY_PARAM_RSA_E, &rsa.E()},
        {OSSL_PKEY_PARAM_RSA_D, &rsa.D()},
        {OSSL_PKEY_PARAM_RSA_FACTOR1, &rsa.P()},
        {OSSL_PKEY_PARAM_RSA_FACTOR2, &rsa.Q()},
        {OSSL_PKEY_PARAM_RSA_EXPONENT1, &rsa.DP()},
        {OSSL_PKEY_PARAM_RSA_EXPONENT2, &rsa.DQ()},
        {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, &rsa.QInv()},
    };
    for (const auto& part : parts) {
        const XBlob bytes = part.second->ToBytes(0);
        BIGNUM* bn = BN_bin2bn(bytes.Data(), int(bytes.Length()), nullptr);
        numbers.push_back(bn);
        OSSL_PARAM_BLD_push_BN(bld, part.first, bn);
    }
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    const bool ok = EVP_PKEY_fromdata_init(ctx.get()) == 1 &&
                    EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_KEYPAIR, params) == 1;
    EXPECT_TRUE(ok) << "OpenSSL refused the key";
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    for (BIGNUM* bn : numbers)
        BN_free(bn);
    return Pkey(key);
}

// The message OpenSSL recovers from a signature (PKCS #1 v1.5 type 1).
bool OpenSslRecover(EVP_PKEY* key, const Bytes& signature, Bytes& recovered)
{
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    size_t length = 0;
    if (EVP_PKEY_verify_recover_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_verify_recover(ctx.get(), nullptr, &length, signature.data(), signature.size()) != 1)
        return false;
    recovered.resize(length);
    if (EVP_PKEY_verify_recover(ctx.get(), recovered.data(), &length, signature.data(), signature.size()) != 1)
        return false;
    recovered.resize(length);
    return true;
}

Bytes OpenSslSign(EVP_PKEY* key, const Bytes& digest)
{
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    size_t length = 0;
    Bytes out;
    const bool ok = EVP_PKEY_sign_init(ctx.get()) == 1 &&
                    EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
                    EVP_PKEY_sign(ctx.get(), nullptr, &length, digest.data(), digest.size()) == 1 &&
                    (out.resize(length), EVP_PKEY_sign(ctx.get(), out.data(), &length, digest.data(),
                                                       digest.size()) == 1);
    EXPECT_TRUE(ok) << "OpenSSL could not sign";
    out.resize(length);
    return out;
}

const uint32_t kSizes[] = {64, 128, 256};

// --- A new engine ---------------------------------------------------------------

TEST(RsaEngine, NewEngineHoldsNoKey)
{
    XRsa rsa;
    EXPECT_EQ(Content(rsa.ExportPublicKey()), (Bytes{0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0}));
    Bytes emptyPrivate = Long(0);
    for (int i = 0; i < 7; ++i)
        AppendItem(emptyPrivate, {0});
    EXPECT_EQ(Content(rsa.ExportPrivateKey()), emptyPrivate);
    EXPECT_EQ(rsa.KeySize(), 0u);
    EXPECT_EQ(rsa.KeyFlags(), 0u);
    EXPECT_EQ(Content(rsa.LabelHash()), Sha1({0, 0, 0, 0}));
    const XBlob data = BlobOf("data");
    EXPECT_TRUE(RaisesAlarm([&] { rsa.Encrypt(data); }, kInvalidKey, "RSA"));
    EXPECT_TRUE(RaisesAlarm([&] { rsa.Decrypt(data); }, kInvalidKey, "RSA"));
    EXPECT_TRUE(RaisesAlarm([&] { rsa.Sign(data); }, kInvalidKey, "RSA"));
    EXPECT_TRUE(RaisesAlarm([&] { rsa.Verify(data, data); }, kInvalidKey, "RSA"));
    // Also with nothing to work on: the key is checked first.
    EXPECT_TRUE(RaisesAlarm([&] { rsa.Encrypt(XBlob()); }, kInvalidKey, "RSA"));
    EXPECT_TRUE(RaisesAlarm([&] { rsa.Decrypt(XBlob()); }, kInvalidKey, "RSA"));
}

TEST(RsaMaskGen, CounterStepsByTheDigestLength)
{
    const Bytes z20 = Pattern(20, 7);
    // The worked example: MaskGen(Z, 43) = SHA-1(Z|0) | SHA-1(Z|0x14) | 3 bytes of SHA-1(Z|0x28).
    Bytes expected;
    for (uint32_t counter : {0u, 0x14u, 0x28u}) {
        Bytes input = z20;
        const Bytes c = Long(counter);
        input.insert(input.end(), c.begin(), c.end());
        const Bytes h = Sha1(input);
        expected.insert(expected.end(), h.begin(), h.end());
    }
    expected.resize(43);
    EXPECT_EQ(Content(XRsa::MaskGen(BlobOf(z20), 43)), expected);
    EXPECT_EQ(Content(XRsa::MaskGen(BlobOf(z20), 20)), Slice(expected, 0, 20));

    for (size_t zLength : {0u, 1u, 20u, 55u, 56u, 64u, 300u}) {
        const Bytes z = Pattern(zLength, uint8_t(zLength));
        for (uint32_t length : {0u, 1u, 19u, 20u, 21u, 40u, 41u, 107u, 235u, 1000u})
            EXPECT_EQ(Content(XRsa::MaskGen(BlobOf(z), length)), MaskGenRef(z, length))
                << "Z of " << zLength << " bytes, " << length << " bytes";
    }
}

// --- Key blobs ----------------------------------------------------------------------

TEST(RsaKeyBlobs, LayoutOfGeneratedKeys)
{
    for (uint32_t k : kSizes) {
        const XRsa& rsa = FullKey(k);
        uint32_t size = 0;
        std::vector<Bytes> items;
        ASSERT_TRUE(ParseItems(Content(rsa.ExportPublicKey()), size, items));
        EXPECT_EQ(size, k);
        ASSERT_EQ(items.size(), 2u);
        EXPECT_EQ(items[0], ToMpz(rsa.N()).ToBytes());
        EXPECT_EQ(items[1], ToMpz(rsa.E()).ToBytes());
        EXPECT_EQ(items[0].size(), k);

        ASSERT_TRUE(ParseItems(Content(rsa.ExportPrivateKey()), size, items));
        EXPECT_EQ(size, k);
        ASSERT_EQ(items.size(), 7u);
        const XBigInt* parts[] = {&rsa.N(), &rsa.D(), &rsa.P(), &rsa.Q(), &rsa.DP(), &rsa.DQ(), &rsa.QInv()};
        for (size_t i = 0; i < 7; ++i) {
            EXPECT_EQ(items[i], ToMpz(*parts[i]).ToBytes()) << "item " << i;
            EXPECT_NE(items[i][0], 0) << "item " << i << " is not minimal";
        }
    }
    const Bytes pub64 = Content(FullKey(64).ExportPublicKey());
    EXPECT_EQ(pub64.size(), 79u);
    EXPECT_EQ(Slice(pub64, 72, 7), (Bytes{0, 0, 0, 3, 1, 0, 1}));
    EXPECT_EQ(Slice(Content(FullKey(64).ExportPrivateKey()), 0, 4), (Bytes{0, 0, 0, 0x40}));
}

TEST(RsaKeyBlobs, HalvesTravelBetweenEngines)
{
    for (uint32_t k : kSizes) {
        const XRsa& source = FullKey(k);
        const XBlob pub = source.ExportPublicKey(), priv = source.ExportPrivateKey();
        const XBlob data = BlobOf("shared halves");

        XRsa publicOnly = PublicOnly(pub);
        EXPECT_EQ(publicOnly.KeyFlags(), XRsa::kHasPublicKey);
        EXPECT_EQ(publicOnly.ExportPublicKey(), pub);
        XRsa privateOnly = PrivateOnly(priv);
        EXPECT_EQ(privateOnly.KeyFlags(), XRsa::kHasPrivateKey);
        EXPECT_EQ(privateOnly.ExportPrivateKey(), priv);
        // The private blob has no e: a private-only engine exports e = 0.
        EXPECT_EQ(Content(privateOnly.ExportPublicKey()), Content(PublicBlob(k, ToMpz(source.N()), Mpz(0))));

        EXPECT_EQ(Content(privateOnly.Decrypt(publicOnly.Encrypt(data))), Content(data));
        EXPECT_EQ(publicOnly.Verify(data, privateOnly.Sign(data)), 1);
        EXPECT_TRUE(RaisesAlarm([&] { publicOnly.Decrypt(source.ExportPublicKey()); }, kInvalidKey, "RSA"));
        EXPECT_TRUE(RaisesAlarm([&] { publicOnly.Sign(data); }, kInvalidKey, "RSA"));
        EXPECT_TRUE(RaisesAlarm([&] { privateOnly.Encrypt(data); }, kInvalidKey, "RSA"));
        EXPECT_TRUE(RaisesAlarm([&] { privateOnly.Verify(data, data); }, kInvalidKey, "RSA"));

        // Both halves, in either order, give the generated engine back.
        for (bool publicFirst : {true, false}) {
            XRsa both;
            if (publicFirst) {
                both.ImportPublicKey(pub);
                both.ImportPrivateKey(priv);
            } else {
                both.ImportPrivateKey(priv);
                both.ImportPublicKey(pub);
            }
            EXPECT_EQ(both.KeyFlags(), XRsa::kHasPrivateKey | XRsa::kHasPublicKey);
            EXPECT_EQ(both.ExportPublicKey(), pub);
            EXPECT_EQ(both.ExportPrivateKey(), priv);
            EXPECT_EQ(Content(both.Sign(data)), Content(source.Sign(data)));
        }
    }
}

TEST(RsaKeyBlobs, MalformedBlobsRaiseAndKeepWhatWasRead)
{
    const XRsa& source = FullKey(64);
    const Bytes pub = Content(source.ExportPublicKey()), priv = Content(source.ExportPrivateKey());
    const Bytes n = ToMpz(source.N()).ToBytes();

    struct Case {
        const char* what;
        Bytes blob;
        const char* source; // of the alarm
    } cases[] = {
        {"empty", {}, "RSA"},
        {"4 bytes", {0, 0, 0, 64}, "RSA"},
        {"6 bytes", {0, 0, 0, 64, 0, 0}, "XBlob"},
        {"item longer than the blob", {0, 0, 0, 64, 0, 0, 0, 9, 1, 2, 3}, "XBlob"},
        {"huge item length", {0, 0, 0, 64, 0xff, 0xff, 0xff, 0xff, 1}, "XBlob"},
    };
    for (const Case& c : cases) {
        XRsa rsa;
        EXPECT_TRUE(RaisesAlarm([&] { rsa.ImportPublicKey(BlobOf(c.blob)); }, kCorrupted, c.source)) << c.what;
        EXPECT_TRUE(RaisesAlarm([&] { rsa.ImportPrivateKey(BlobOf(c.blob)); }, kCorrupted, c.source)) << c.what;
        EXPECT_EQ(rsa.KeyFlags(), 0u) << c.what;
    }

    // A blob that breaks off after some of its items changes nothing: the
    // engine keeps the key it held (none, one half, or another key).
    {
        const XRsa& other = Generated("other a", "other b", 64);
        uint32_t k = 0;
        std::vector<Bytes> items;
        ASSERT_TRUE(ParseItems(priv, k, items));
        const struct {
            const char* what;
            Bytes blob;
            bool isPublic;
        } cuts[] = {
            {"public, cut inside e", Slice(pub, 0, 4 + 4 + n.size() + 2), true},
            {"public, one byte short", Slice(pub, 0, pub.size() - 1), true},
            {"private, cut inside q",
             Slice(priv, 0, 4 + (4 + items[0].size()) + (4 + items[1].size()) + (4 + items[2].size()) + 4 + 3), false},
            {"private, one byte short", Slice(priv, 0, priv.size() - 1), false},
        };
        for (const auto& c : cuts) {
            XRsa empty;
            XRsa publicOnly = PublicOnly(other.ExportPublicKey());
            XRsa privateOnly = PrivateOnly(other.ExportPrivateKey());
            for (XRsa* rsa : {&empty, &publicOnly, &privateOnly}) {
                const XBlob pubBefore = rsa->ExportPublicKey(), privBefore = rsa->ExportPrivateKey();
                const uint32_t flags = rsa->KeyFlags();
                // With the other half of another key loaded, the modulus
                // disagrees before the cut is reached.
                const bool disagrees = rsa == (c.isPublic ? &privateOnly : &publicOnly);
                const char* message = disagrees ? kInvalidKey : kCorrupted;
                const char* source = disagrees ? "RSA" : "XBlob";
                if (c.isPublic)
                    EXPECT_TRUE(RaisesAlarm([&] { rsa->ImportPublicKey(BlobOf(c.blob)); }, message, source)) << c.what;
                else
                    EXPECT_TRUE(RaisesAlarm([&] { rsa->ImportPrivateKey(BlobOf(c.blob)); }, message, source)) << c.what;
                EXPECT_EQ(rsa->KeyFlags(), flags) << c.what;
                EXPECT_EQ(rsa->ExportPublicKey(), pubBefore) << c.what;
                EXPECT_EQ(rsa->ExportPrivateKey(), privBefore) << c.what;
            }
            // The held half still works after the failure.
            EXPECT_EQ(publicOnly.Verify(BlobOf("d"), other.Sign(BlobOf("d"))), 1) << c.what;
            EXPECT_EQ(privateOnly.Decrypt(PublicOnly(other.ExportPublicKey()).Encrypt(BlobOf("d"))), BlobOf("d"))
                << c.what;
        }
    }
    // Bytes after the last item are ignored.
    {
        Bytes longer = pub;
        longer.insert(longer.end(), {1, 2, 3, 4, 5});
        EXPECT_EQ(PublicOnly(BlobOf(longer)).ExportPublicKey(), BlobOf(pub));
        longer = priv;
        longer.push_back(9);
        EXPECT_EQ(PrivateOnly(BlobOf(longer)).ExportPrivateKey(), BlobOf(priv));
    }
}

TEST(RsaKeyBlobs, SecondHalfMustAgreeWithTheFirst)
{
    const XRsa& mine = FullKey(64);
    const XRsa& other = Generated("other a", "other b", 64);
    const XBlob myPub = mine.ExportPublicKey(), myPriv = mine.ExportPrivateKey();
    const XBlob otherPub = other.ExportPublicKey(), otherPriv = other.ExportPrivateKey();
    const Mpz n = ToMpz(mine.N()), e = ToMpz(mine.E());

    // Both halves loaded: another modulus or size is refused, nothing changes.
    XRsa both;
    both.Keygen(BlobOf("key a"), BlobOf("key b"), 64);
    const struct {
        const char* what;
        XBlob blob;
        bool isPublic;
    } refused[] = {
        {"other public key", otherPub, true},
        {"other private key", otherPriv, false},
        {"same n, other k", PublicBlob(128, n, e), true},
        {"n with a leading zero byte", [&] {
             Bytes b = Long(64);
             Bytes padded = n.ToBytes();
             padded.insert(padded.begin(), 0);
             AppendItem(b, padded);
             AppendItem(b, e.ToBytes());
             return BlobOf(b);
         }(), true},
    };
    for (const auto& c : refused) {
        if (c.isPublic)
            EXPECT_TRUE(RaisesAlarm([&] { both.ImportPublicKey(c.blob); }, kInvalidKey, "RSA")) << c.what;
        else
            EXPECT_TRUE(RaisesAlarm([&] { both.ImportPrivateKey(c.blob); }, kInvalidKey, "RSA")) << c.what;
        EXPECT_EQ(both.ExportPublicKey(), myPub) << c.what;
        EXPECT_EQ(both.ExportPrivateKey(), myPriv) << c.what;
    }
    // Its own halves are accepted and change nothing; a new e with the same
    // n and k is taken.
    both.ImportPublicKey(myPub);
    both.ImportPrivateKey(myPriv);
    EXPECT_EQ(both.ExportPublicKey(), myPub);
    EXPECT_EQ(both.ExportPrivateKey(), myPriv);
    both.ImportPublicKey(PublicBlob(64, n, Mpz(3)));
    EXPECT_TRUE(Equal(both.E(), Mpz(3)));

    // One half loaded: the other half must agree with it...
    XRsa publicOnly = PublicOnly(myPub);
    EXPECT_TRUE(RaisesAlarm([&] { publicOnly.ImportPrivateKey(otherPriv); }, kInvalidKey, "RSA"));
    EXPECT_EQ(publicOnly.KeyFlags(), XRsa::kHasPublicKey);
    XRsa privateOnly = PrivateOnly(myPriv);
    EXPECT_TRUE(RaisesAlarm([&] { privateOnly.ImportPublicKey(otherPub); }, kInvalidKey, "RSA"));
    EXPECT_EQ(privateOnly.KeyFlags(), XRsa::kHasPrivateKey);
    // ...while the same half again simply replaces it.
    publicOnly.ImportPublicKey(otherPub);
    EXPECT_EQ(publicOnly.ExportPublicKey(), otherPub);
    privateOnly.ImportPrivateKey(otherPriv);
    EXPECT_EQ(privateOnly.ExportPrivateKey(), otherPriv);
}

// Every number of a key blob fits in the blob's k bytes (leading zero bytes
// aside); a longer one is refused and the engine keeps its key.  Unchecked,
// a 4096-byte e or d made one operation take minutes, and a modulus longer
// than k gave results cut to k bytes.
TEST(RsaKeyBlobs, NumbersLongerThanTheKeySizeAreRefused)
{
    const XRsa& key = FullKey(64);
    const Bytes pub = Content(key.ExportPublicKey()), priv = Content(key.ExportPrivateKey());
    // `blob` with k replaced by `k` and item i by `item` (items as they are when empty).
    auto rebuilt = [](const Bytes& blob, uint32_t k, size_t i, const Bytes& item) {
        uint32_t oldK = 0;
        std::vector<Bytes> items;
        EXPECT_TRUE(ParseItems(blob, oldK, items));
        if (!item.empty())
            items[i] = item;
        Bytes out = Long(k);
        for (const Bytes& it : items)
            AppendItem(out, it);
        return out;
    };
    Bytes justOver(65, 0); // 2^512: one byte more than k
    justOver[0] = 1;
    const Bytes huge(4096, 0xff);
    const XRsa& other = Generated("other a", "other b", 64);
    for (const Bytes& big : {justOver, huge}) {
        for (int isPublic = 0; isPublic < 2; ++isPublic) {
            const Bytes& blob = isPublic ? pub : priv;
            for (size_t i = 0; i < (isPublic ? 2u : 7u); ++i) {
                const XBlob bad = BlobOf(rebuilt(blob, 64, i, big));
                const std::string what = std::string(isPublic ? "public" : "private") + " item " +
                                         std::to_string(i) + ", " + std::to_string(big.size()) + " bytes";
                XRsa fresh;
                XRsa held(RecordingEntropy);
                held.ImportPublicKey(other.ExportPublicKey());
                held.ImportPrivateKey(other.ExportPrivateKey());
                for (XRsa* rsa : {&fresh, &held}) {
                    const XBlob pubBefore = rsa->ExportPublicKey(), privBefore = rsa->ExportPrivateKey();
                    const uint32_t flags = rsa->KeyFlags();
                    EXPECT_TRUE(RaisesAlarm([&] { isPublic ? rsa->ImportPublicKey(bad) : rsa->ImportPrivateKey(bad); },
                                            kInvalidKey, "RSA"))
                        << what;
                    EXPECT_EQ(rsa->KeyFlags(), flags) << what;
                    EXPECT_EQ(rsa->ExportPublicKey(), pubBefore) << what;
                    EXPECT_EQ(rsa->ExportPrivateKey(), privBefore) << what;
                }
            }
        }
    }
    // k smaller than the modulus: Encrypt and Sign used to cut their blocks.
    EXPECT_TRUE(RaisesAlarm([&] { PublicOnly(BlobOf(rebuilt(pub, 63, 0, {}))); }, kInvalidKey, "RSA"));
    EXPECT_TRUE(RaisesAlarm([&] { PrivateOnly(BlobOf(rebuilt(priv, 63, 0, {}))); }, kInvalidKey, "RSA"));

    // Leading zero bytes do not count: e and d padded past k bytes are taken.
    Bytes paddedE(70, 0), paddedD(80, 0);
    const Bytes e = ToMpz(key.E()).ToBytes(), d = ToMpz(key.D()).ToBytes();
    paddedE.insert(paddedE.end(), e.begin(), e.end());
    paddedD.insert(paddedD.end(), d.begin(), d.end());
    XRsa padded;
    padded.ImportPublicKey(BlobOf(rebuilt(pub, 64, 1, paddedE)));
    padded.ImportPrivateKey(BlobOf(rebuilt(priv, 64, 1, paddedD)));
    EXPECT_EQ(padded.ExportPrivateKey(), key.ExportPrivateKey());
    EXPECT_EQ(padded.Sign(BlobOf("z")), key.Sign(BlobOf("z")));
}

// --- Private operations: checked and blinded ------------------------------------

// One flipped bit in a CRT value used to make Sign hand out a wrong signature
// s, and gcd(s^e - m, n) of that one signature is a prime factor of n.  Every
// private result is now checked before it leaves: whatever comes out is the
// right result, and a key whose CRT values are damaged does not sign at all.
TEST(RsaPrivate, DamagedKeyValuesNeverGiveAWrongResult)
{
    using Field = Mpz rsa_gmp::Key::*;
    const struct {
        const char* name;
        Field field;
        bool crtValue; // used by Sign's CRT steps
    } fields[] = {
        {"dP", &rsa_gmp::Key::dP, true}, {"dQ", &rsa_gmp::Key::dQ, true}, {"qInv", &rsa_gmp::Key::qInv, true},
        {"p", &rsa_gmp::Key::p, true},   {"q", &rsa_gmp::Key::q, true},   {"d", &rsa_gmp::Key::d, false},
    };
    for (uint32_t k : {64u, 128u}) {
        const XRsa& key = FullKey(k);
        const rsa_gmp::Key ref = GmpKey(key);
        const Bytes plain = Pattern(3 * (k - 42) - 5, 8);
        const XBlob cipher = PublicOnly(key.ExportPublicKey()).Encrypt(BlobOf(plain));
        const Bytes data = Pattern(33, 6);
        const Bytes rightSignature = PowBytes(SignatureBlock(data, k), ref.d, ref.n, k);
        for (const auto& f : fields) {
            for (unsigned long bit : {0ul, 1ul, 77ul}) {
                rsa_gmp::Key bad = ref;
                mpz_combit((bad.*(f.field)).get(), bit);
                for (bool both : {false, true}) {
                    const std::string what = std::string(f.name) + " bit " + std::to_string(bit) +
                                             (both ? ", both halves" : ", private half") + ", k " +
                                             std::to_string(k);
                    XRsa rsa = both ? BothHalves(bad) : PrivateOnly(PrivateBlob(bad));
                    try {
                        const Bytes signature = Content(rsa.Sign(BlobOf(data)));
                        EXPECT_FALSE(f.crtValue) << what << ": signed with a damaged CRT value";
                        EXPECT_EQ(signature, rightSignature) << what;
                    } catch (const XCryptoAlarm& alarm) {
                        EXPECT_STREQ(alarm.Message(), kInvalidKey) << what;
                    }
                    try {
                        EXPECT_EQ(Content(rsa.Decrypt(cipher)), plain) << what;
                    } catch (const XCryptoAlarm& alarm) {
                        // A damaged d cannot decrypt: refused as a bad key or as
                        // blocks that do not decode, never as wrong bytes.
                        EXPECT_FALSE(f.crtValue) << what << ": " << alarm.Message();
                    }
                }
            }
        }
    }
}

// Every private operation is blinded with a fresh random number of its own,
// drawn from the engine's entropy source (twice the modulus length each),
// sixteen at a time; the blinding never shows in the result.
TEST(RsaPrivate, EveryPrivateOperationIsBlindedAfresh)
{
    const uint32_t k = 128;
    const rsa_gmp::Key ref = GmpKey(FullKey(k));
    XRsa rsa = BothHalves(ref);
    const Bytes data = Pattern(10, 3);
    const Bytes expected = PowBytes(SignatureBlock(data, k), ref.d, ref.n, k);
    ResetEntropy(1);
    for (int i = 1; i <= 16; ++i) {
        EXPECT_EQ(Content(rsa.Sign(BlobOf(data))), expected);
        EXPECT_EQ(g_draws.size(), 16u) << "one batch serves the first sixteen operations";
    }
    for (const Bytes& draw : g_draws)
        EXPECT_EQ(draw.size(), 2u * k);
    // The seventeenth needs a number no operation has used.
    EXPECT_EQ(Content(rsa.Sign(BlobOf(data))), expected);
    EXPECT_EQ(g_draws.size(), 32u);
    // Fifteen left: three blocks take three of them, and the next batch
    // comes when they run out.
    const Bytes plain = Pattern(3 * (k - 42), 4);
    const XBlob cipher = rsa.Encrypt(BlobOf(plain));
    ResetEntropy(4);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Content(rsa.Decrypt(cipher)), plain);
    EXPECT_TRUE(g_draws.empty());
    EXPECT_EQ(Content(rsa.Decrypt(cipher)), plain);
    EXPECT_EQ(g_draws.size(), 16u);
    // A new key starts a new batch: numbers for the old modulus are dropped.
    rsa.Keygen(BlobOf("key a"), BlobOf("key b"), 64);
    ResetEntropy(5);
    EXPECT_EQ(rsa.Verify(BlobOf(data), rsa.Sign(BlobOf(data))), 1);
    EXPECT_EQ(g_draws.size(), 16u);
    EXPECT_EQ(g_draws[0].size(), 2u * 64);
}

// A private half alone checks its results with e = d^-1 mod lcm(p - 1, q - 1);
// a key without usable primes has no such e and is served by two
// independently blinded computations.
TEST(RsaPrivate, CheckExponentOfAPrivateHalfAlone)
{
    for (uint32_t k : kSizes) {
        const XRsa& key = FullKey(k);
        XRsa rsa = PrivateOnly(key.ExportPrivateKey());
        ASSERT_NE(rsa.CheckExponent(), nullptr);
        EXPECT_TRUE(*rsa.CheckExponent() == key.E()) << k;
        EXPECT_EQ(rsa.Sign(BlobOf("m")), key.Sign(BlobOf("m")));
    }
    // e = 3 with d the inverse modulo lcm(p - 1, q - 1): the derived e is 3.
    auto primeForThree = [](unsigned long bits) {
        Mpz p = PrimeAbove(bits, 1);
        while (mpz_fdiv_ui(p.get(), 3) != 2)
            mpz_nextprime(p.get(), p.get());
        return p;
    };
    const rsa_gmp::Key small = KeyFromPrimes(64, primeForThree(255), primeForThree(254), 3, true);
    XRsa rsa = PrivateOnly(PrivateBlob(small));
    ASSERT_NE(rsa.CheckExponent(), nullptr);
    EXPECT_TRUE(Equal(*rsa.CheckExponent(), Mpz(3)));
    // Both halves: the loaded e, whatever d says.
    XRsa both = BothHalves(GmpKey(FullKey(64)));
    EXPECT_EQ(both.CheckExponent(), &both.E());
}

// --- Encrypt and Decrypt --------------------------------------------------------------

TEST(RsaEncrypt, BlockCountsAndRoundTrips)
{
    for (uint32_t k : kSizes) {
        for (const XRsa* key : {&FullKey(k), &ShortKey(k)}) {
            XRsa rsa;
            rsa.ImportPublicKey(key->ExportPublicKey());
            rsa.ImportPrivateKey(key->ExportPrivateKey());
            const uint32_t m = k - 42;
            for (uint32_t length : {0u, 1u, m - 1, m, m + 1, 2 * m, 2 * m + 1, 5 * m - 3, 1000u}) {
                const Bytes plain = Pattern(length, uint8_t(length));
                const XBlob cipher = rsa.Encrypt(BlobOf(plain));
                EXPECT_EQ(cipher.Length(), (length + m - 1) / m * k) << "k " << k << ", " << length << " bytes";
                EXPECT_EQ(Content(rsa.Decrypt(cipher)), plain) << "k " << k << ", " << length << " bytes";
            }
        }
    }
    // The worked example at k = 64: 22 message bytes per block.
    XRsa rsa;
    rsa.ImportPublicKey(FullKey(64).ExportPublicKey());
    for (const auto& c : {std::make_pair(22u, 64u), std::make_pair(23u, 128u), std::make_pair(44u, 128u),
                          std::make_pair(0u, 0u)})
        EXPECT_EQ(rsa.Encrypt(BlobOf(Pattern(c.first, 1))).Length(), c.second) << c.first;
}

TEST(RsaEncrypt, LabelsMustMatchAcrossEngines)
{
    const XRsa& key = FullKey(128);
    XRsa sender = PublicOnly(key.ExportPublicKey());
    XRsa receiver = PrivateOnly(key.ExportPrivateKey());
    const XBlob plain = BlobOf("a message under a label");

    sender.SetIV(BlobOf("label one"));
    receiver.SetIV(BlobOf("label one"));
    const XBlob cipher = sender.Encrypt(plain);
    EXPECT_EQ(receiver.Decrypt(cipher), plain);
    receiver.SetIV(BlobOf("label two"));
    EXPECT_TRUE(RaisesAlarm([&] { receiver.Decrypt(cipher); }, kUnable, "RSA"));
    // An empty parameter is a label of its own, not the initial one.
    receiver.SetIV(XBlob());
    EXPECT_TRUE(RaisesAlarm([&] { receiver.Decrypt(cipher); }, kUnable, "RSA"));

    // The four zero bytes give back the initial label.
    const XBlob initial = PublicOnly(key.ExportPublicKey()).Encrypt(plain);
    receiver.SetIV(BlobOf(Bytes{0, 0, 0, 0}));
    EXPECT_EQ(receiver.Decrypt(initial), plain);
    EXPECT_EQ(Content(receiver.LabelHash()), Sha1({0, 0, 0, 0}));
    // Imports and key generation leave the label alone.
    receiver.SetIV(BlobOf("kept"));
    receiver.ImportPrivateKey(key.ExportPrivateKey());
    receiver.Keygen(BlobOf("x"), BlobOf("y"), 64);
    EXPECT_EQ(Content(receiver.LabelHash()), Sha1(Content(BlobOf("kept"))));
}

// Each ciphertext block, raised to d by GMP, is the encoding of its message
// bytes with the seed the entropy source handed out for that block.
TEST(RsaEncrypt, BlocksOpenWithAnIndependentDecryption)
{
    for (uint32_t k : kSizes) {
        const XRsa& key = FullKey(k);
        const rsa_gmp::Key ref = GmpKey(key);
        XRsa rsa(RecordingEntropy);
        rsa.ImportPublicKey(key.ExportPublicKey());
        rsa.SetIV(BlobOf("parameter"));
        const Bytes label = Sha1(Content(BlobOf("parameter")));
        const uint32_t m = k - 42;
        const Bytes plain = Pattern(3 * m - 5, 3);

        ResetEntropy(k);
        const Bytes cipher = Content(rsa.Encrypt(BlobOf(plain)));
        ASSERT_EQ(cipher.size(), 3u * k);
        ASSERT_EQ(g_draws.size(), 3u) << "one seed per block for a full-length modulus";
        for (uint32_t block = 0; block < 3; ++block) {
            const Bytes full = PowBytes(Slice(cipher, block * k, k), ref.d, ref.n, k);
            EXPECT_EQ(full[0], 0) << "the encoding has k - 1 bytes";
            const Bytes em(full.begin() + 1, full.end());
            const auto [seed, db] = DecodeBlock(em);
            EXPECT_EQ(seed, g_draws[block]);
            const size_t take = std::min<size_t>(m, plain.size() - block * m);
            EXPECT_EQ(db, DataBlock(label, Slice(plain, block * m, take), k));
            EXPECT_EQ(em, EncodeBlock(db, g_draws[block]));
        }
        // The same seeds give the same ciphertext.
        ResetEntropy(k);
        EXPECT_EQ(Content(rsa.Encrypt(BlobOf(plain))), cipher);
    }
    // The operating system's generator gives a fresh seed per block and call.
    XRsa rsa;
    rsa.ImportPublicKey(FullKey(64).ExportPublicKey());
    const XBlob plain = BlobOf("same data, same second");
    const XBlob one = rsa.Encrypt(plain), two = rsa.Encrypt(plain);
    EXPECT_NE(one, two);
    const Bytes twice = Content(rsa.Encrypt(BlobOf(Pattern(44, 0))));
    EXPECT_NE(Slice(twice, 0, 64), Slice(twice, 64, 64));
}

// With n < 256^(k-1) some encodings reach n: such a block gets a new seed,
// and the block used is the first whose encoding is below n.
TEST(RsaEncrypt, ShortModulusRedrawsTheSeed)
{
    for (uint32_t k : kSizes) {
        const XRsa& key = ShortKey(k);
        const rsa_gmp::Key ref = GmpKey(key);
        XRsa rsa(RecordingEntropy);
        rsa.ImportPublicKey(key.ExportPublicKey());
        const Bytes label = Sha1({0, 0, 0, 0});
        const uint32_t m = k - 42;
        const uint32_t blocks = 12;
        const Bytes plain = Pattern(blocks * m, 9);

        ResetEntropy(1000 + k);
        const Bytes cipher = Content(rsa.Encrypt(BlobOf(plain)));
        ASSERT_EQ(cipher.size(), blocks * k);
        EXPECT_GT(g_draws.size(), blocks) << "some draws should have been refused at 502/1014/2038 bits";
        size_t draw = 0;
        for (uint32_t block = 0; block < blocks; ++block) {
            const Bytes db = DataBlock(label, Slice(plain, block * m, m), k);
            // Skip the draws whose encoding is not below n.
            while (draw < g_draws.size() && mpz_cmp(Mpz(EncodeBlock(db, g_draws[draw])).get(), ref.n.get()) >= 0)
                ++draw;
            ASSERT_LT(draw, g_draws.size());
            const Bytes em = EncodeBlock(db, g_draws[draw++]);
            EXPECT_EQ(Slice(cipher, block * k, k), PowBytes(em, ref.e, ref.n, k)) << "block " << block;
        }
        EXPECT_EQ(draw, g_draws.size());
        XRsa receiver = PrivateOnly(key.ExportPrivateKey());
        EXPECT_EQ(Content(receiver.Decrypt(BlobOf(cipher))), plain);
    }
}

TEST(RsaDecrypt, MalformedBlocks)
{
    const uint32_t k = 64;
    const XRsa& key = FullKey(k);
    const rsa_gmp::Key ref = GmpKey(key);
    XRsa rsa = PrivateOnly(key.ExportPrivateKey());
    const Bytes label = Sha1({0, 0, 0, 0});
    const Bytes seed = Pattern(20, 0x44);
    auto encrypt = [&](const Bytes& db) { return PowBytes(EncodeBlock(db, seed), ref.e, ref.n, k); };

    const Bytes good = Content(PublicOnly(key.ExportPublicKey()).Encrypt(BlobOf("good")));
    EXPECT_EQ(Content(rsa.Decrypt(XBlob())), Bytes());
    EXPECT_TRUE(RaisesAlarm([&] { rsa.Decrypt(BlobOf(Slice(good, 0, k - 1))); }, kUnable, "RSA"));
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_TRUE(RaisesAlarm([&] { rsa.Decrypt(BlobOf(longer)); }, kUnable, "RSA"));

    // The separator may be any non-zero byte; what follows it is the message,
    // zeros included.
    Bytes db = label;
    db.resize(k - 21 - 6, 0);
    db.insert(db.end(), {0x07, 0x00, 'a', 'b', 0x00, 'c'});
    EXPECT_EQ(Content(rsa.Decrypt(BlobOf(encrypt(db)))), (Bytes{0x00, 'a', 'b', 0x00, 'c'}));
    // A separator as the last byte: an empty message.
    db = label;
    db.resize(k - 22, 0);
    db.push_back(0xff);
    EXPECT_EQ(Content(rsa.Decrypt(BlobOf(encrypt(db)))), Bytes());
    // Nothing but zeros after the label.
    db = label;
    db.resize(k - 21, 0);
    EXPECT_TRUE(RaisesAlarm([&] { rsa.Decrypt(BlobOf(encrypt(db))); }, kUnable, "RSA"));
    // A wrong label, even with a proper body.
    db = DataBlock(Sha1(Content(BlobOf("other"))), Content(BlobOf("body")), k);
    EXPECT_TRUE(RaisesAlarm([&] { rsa.Decrypt(BlobOf(encrypt(db))); }, kUnable, "RSA"));
    // One bad block among good ones fails the whole call.
    Bytes mixed = good;
    const Bytes bad = encrypt(db);
    mixed.insert(mixed.end(), bad.begin(), bad.end());
    mixed.insert(mixed.end(), good.begin(), good.end());
    EXPECT_TRUE(RaisesAlarm([&] { rsa.Decrypt(BlobOf(mixed)); }, kUnable, "RSA"));
    // Random blocks (values above n included) fail without anything else.
    std::mt19937_64 random(77);
    for (int i = 0; i < 20; ++i) {
        Bytes noise(k);
        for (auto& b : noise)
            b = uint8_t(random());
        if (i == 0)
            std::fill(noise.begin(), noise.end(), 0xff);
        EXPECT_TRUE(RaisesAlarm([&] { rsa.Decrypt(BlobOf(noise)); }, kUnable, "RSA"));
    }
}

// --- Sign and Verify ---------------------------------------------------------------

TEST(RsaSign, SignaturesAndTheirChecks)
{
    for (uint32_t k : kSizes) {
        for (const XRsa* key : {&FullKey(k), &ShortKey(k)}) {
            const rsa_gmp::Key ref = GmpKey(*key);
            XRsa signer = PrivateOnly(key->ExportPrivateKey());
            XRsa verifier = PublicOnly(key->ExportPublicKey());
            for (size_t length : {0u, 1u, 64u, 1000u}) {
                const Bytes data = Pattern(length, 5);
                const Bytes signature = Content(signer.Sign(BlobOf(data)));
                ASSERT_EQ(signature.size(), k);
                // s = EM^d mod n, computed without the CRT.
                EXPECT_EQ(signature, PowBytes(SignatureBlock(data, k), ref.d, ref.n, k));
                EXPECT_EQ(Content(signer.Sign(BlobOf(data))), signature);
                EXPECT_EQ(verifier.Verify(BlobOf(data), BlobOf(signature)), 1);

                Bytes changed = data;
                changed.push_back(0);
                EXPECT_EQ(verifier.Verify(BlobOf(changed), BlobOf(signature)), 0);
                Bytes flipped = signature;
                flipped[k / 2] ^= 0x20;
                EXPECT_EQ(verifier.Verify(BlobOf(data), BlobOf(flipped)), 0);
                // Leading zero bytes do not matter, in either direction.
                Bytes padded(3, 0);
                padded.insert(padded.end(), signature.begin(), signature.end());
                EXPECT_EQ(verifier.Verify(BlobOf(data), BlobOf(padded)), 1);
                Bytes stripped = signature;
                while (!stripped.empty() && stripped[0] == 0)
                    stripped.erase(stripped.begin());
                EXPECT_EQ(verifier.Verify(BlobOf(data), BlobOf(stripped)), 1);
            }
            // Values at or above n, and nothing at all, are no signature.
            const XBlob data = BlobOf("x");
            Mpz nPlusSig;
            mpz_add(nPlusSig.get(), ref.n.get(), Mpz(Content(signer.Sign(data))).get());
            EXPECT_EQ(verifier.Verify(data, BlobOf(ref.n.ToBytes())), 0);
            EXPECT_EQ(verifier.Verify(data, BlobOf(nPlusSig.ToBytes())), 0);
            EXPECT_EQ(verifier.Verify(data, XBlob()), 0);
            EXPECT_EQ(verifier.Verify(data, BlobOf(Bytes(5000, 0xff))), 0);
        }
    }
}

TEST(RsaSign, OpenSslAgreesOnSignatures)
{
    for (uint32_t k : kSizes) {
        const XRsa& key = FullKey(k);
        const Pkey ossl = OpenSslKey(key);
        ASSERT_TRUE(ossl);
        for (size_t length : {0u, 3u, 200u}) {
            const Bytes data = Pattern(length, 11);
            const Bytes ours = Content(key.Sign(BlobOf(data)));
            Bytes recovered;
            ASSERT_TRUE(OpenSslRecover(ossl.get(), ours, recovered)) << "k " << k;
            EXPECT_EQ(recovered, Sha1(data));
            const Bytes theirs = OpenSslSign(ossl.get(), Sha1(data));
            EXPECT_EQ(theirs, ours);
            EXPECT_EQ(key.Verify(BlobOf(data), BlobOf(theirs)), 1);
        }
        // A signature over another digest is refused by both.
        const Bytes other = OpenSslSign(ossl.get(), Sha1(Content(BlobOf("other"))));
        EXPECT_EQ(key.Verify(BlobOf("this"), BlobOf(other)), 0);
    }
}

// A key whose primes are the other way round (q > p) still signs: the CRT
// difference is taken modulo p after reducing m2.
TEST(RsaSign, PrimesInEitherOrder)
{
    const Mpz small = PrimeAbove(250, 12345), large = PrimeAbove(252, 999);
    for (bool swapped : {false, true}) {
        const rsa_gmp::Key key = swapped ? KeyFromPrimes(64, small, large, 65537) : KeyFromPrimes(64, large, small, 65537);
        XRsa rsa = BothHalves(key);
        const XBlob data = BlobOf("order");
        const Bytes signature = Content(rsa.Sign(data));
        EXPECT_EQ(signature, PowBytes(SignatureBlock(Content(data), 64), key.d, key.n, 64)) << swapped;
        EXPECT_EQ(rsa.Verify(data, BlobOf(signature)), 1);
        EXPECT_EQ(Content(rsa.Decrypt(rsa.Encrypt(data))), Content(data));
    }
}

// --- Keys the operations refuse or treat specially ----------------------------------

TEST(RsaKeys, UnusableSizesAndModuliAreRefused)
{
    const XRsa& key = FullKey(64);
    const rsa_gmp::Key ref = GmpKey(key);
    struct Case {
        uint32_t k;
        unsigned long n; // replaces the key's own modulus when `replaceN`
        bool replaceN;
    } cases[] = {
        {0, 0, true}, {42, 1, true}, {4097, 0, false}, {0xFFFFFFFFu, 0, false},
        {64, 0, true}, {64, 1, true},
    };
    const XBlob data = BlobOf("data");
    for (const Case& c : cases) {
        rsa_gmp::Key bad = ref;
        bad.k = c.k;
        if (c.replaceN) {
            mpz_set_ui(bad.n.get(), c.n);
            // Numbers must fit in k bytes: with k = 0 only zeros do.
            for (Mpz* x : {&bad.e, &bad.d, &bad.p, &bad.q, &bad.dP, &bad.dQ, &bad.qInv})
                mpz_set_ui(x->get(), c.k ? 3 : 0);
        }
        XRsa rsa = BothHalves(bad);
        const std::string what = "k " + std::to_string(c.k) + (c.replaceN ? ", n " + std::to_string(c.n) : "");
        EXPECT_TRUE(RaisesAlarm([&] { rsa.Encrypt(data); }, kInvalidKey, "RSA")) << what;
        EXPECT_TRUE(RaisesAlarm([&] { rsa.Decrypt(data); }, kInvalidKey, "RSA")) << what;
        EXPECT_TRUE(RaisesAlarm([&] { rsa.Sign(data); }, kInvalidKey, "RSA")) << what;
        EXPECT_TRUE(RaisesAlarm([&] { rsa.Verify(data, data); }, kInvalidKey, "RSA")) << what;
        EXPECT_TRUE(RaisesAlarm([&] { rsa.Encrypt(XBlob()); }, kInvalidKey, "RSA")) << what;
    }
    // Moduli no private operation can blind (2 has no residue above 1, an
    // even one no inverses): refused at once, where drawing a blinding
    // number for n = 2 would never have ended.
    for (unsigned long n : {2ul, 4ul, 6ul, 1000000ul}) {
        rsa_gmp::Key bad = ref;
        mpz_set_ui(bad.n.get(), n);
        XRsa rsa = BothHalves(bad);
        EXPECT_TRUE(RaisesAlarm([&] { rsa.Decrypt(BlobOf(Bytes(64, 0))); }, kInvalidKey, "RSA")) << n;
        EXPECT_TRUE(RaisesAlarm([&] { rsa.Sign(data); }, kInvalidKey, "RSA")) << n;
    }
    // The bounds themselves are accepted: 4096 with an (odd) small modulus,
    // and 43 with a 43-byte key, which carries one message byte per block.
    {
        rsa_gmp::Key big = ref;
        big.k = 4096;
        XRsa rsa = BothHalves(big);
        EXPECT_EQ(rsa.Verify(data, data), 0);
        EXPECT_EQ(rsa.Decrypt(XBlob()).Length(), 0u);
    }
    {
        const rsa_gmp::Key key43 = KeyFromPrimes(43, PrimeAbove(171, 77), PrimeAbove(170, 5), 65537);
        ASSERT_EQ(key43.n.ToBytes().size(), 43u);
        XRsa rsa = BothHalves(key43);
        const Bytes plain = Pattern(5, 1);
        const XBlob cipher = rsa.Encrypt(BlobOf(plain));
        EXPECT_EQ(cipher.Length(), 5u * 43);
        EXPECT_EQ(Content(rsa.Decrypt(cipher)), plain);
        EXPECT_EQ(rsa.Verify(BlobOf(plain), rsa.Sign(BlobOf(plain))), 1);
    }
}

TEST(RsaKeys, PrimesOfZeroOrOneRefuseSigning)
{
    const rsa_gmp::Key ref = GmpKey(FullKey(64));
    const XBlob data = BlobOf("message");
    const XBlob cipher = PublicOnly(FullKey(64).ExportPublicKey()).Encrypt(data);
    for (int which = 0; which < 4; ++which) {
        rsa_gmp::Key bad = ref;
        mpz_set_ui((which < 2 ? bad.p : bad.q).get(), which % 2);
        XRsa rsa = PrivateOnly(PrivateBlob(bad));
        EXPECT_TRUE(RaisesAlarm([&] { rsa.Sign(data); }, kInvalidKey, "RSA")) << which;
        // Decryption does not need the primes: it falls back to d mod n,
        // checked by a second computation as no e can be derived.
        EXPECT_FALSE(rsa.DecryptsWithCrt());
        EXPECT_EQ(rsa.CheckExponent(), nullptr);
        EXPECT_EQ(rsa.Decrypt(cipher), data) << which;
    }
}

// n below 256^(k-2): Encrypt cannot draw encodings below it in reasonable
// time and refuses the key; between 256^(k-2) and the signature block, Sign
// refuses while Encrypt works by redrawing.
TEST(RsaKeys, ModuliTooShortForTheBlocks)
{
    const uint32_t k = 64;
    const XBlob data = BlobOf("short");
    // 61 bytes.
    {
        XRsa rsa = BothHalves(KeyFromPrimes(k, PrimeAbove(243, 1), PrimeAbove(240, 1), 65537));
        ASSERT_EQ(rsa.N().BitLength(), 484u);
        ResetEntropy(1);
        EXPECT_TRUE(RaisesAlarm([&] { rsa.Encrypt(data); }, kInvalidKey, "RSA"));
        EXPECT_TRUE(g_draws.empty());
        EXPECT_TRUE(RaisesAlarm([&] { rsa.Sign(data); }, kInvalidKey, "RSA"));
        EXPECT_EQ(rsa.Verify(data, data), 0);
    }
    // Three bytes: no encoding can fit.
    {
        XRsa rsa = BothHalves(KeyFromPrimes(k, Mpz(4093), Mpz(4091), 65537));
        EXPECT_TRUE(RaisesAlarm([&] { rsa.Encrypt(data); }, kInvalidKey, "RSA"));
        EXPECT_TRUE(RaisesAlarm([&] { rsa.Sign(data); }, kInvalidKey, "RSA"));
    }
    // 497 bits: just above 256^(k-2), below 01 FF FF ...
    {
        const rsa_gmp::Key key = KeyFromPrimes(k, PrimeAbove(248, 1 << 20), PrimeAbove(248, 1), 65537);
        XRsa rsa = BothHalves(key);
        ASSERT_EQ(rsa.N().BitLength(), 497u);
        EXPECT_TRUE(RaisesAlarm([&] { rsa.Sign(data); }, kInvalidKey, "RSA"));
        ResetEntropy(2);
        const Bytes plain = Pattern(3 * (k - 42), 2);
        const XBlob cipher = rsa.Encrypt(BlobOf(plain));
        EXPECT_GT(g_draws.size(), 30u) << "about one draw in 256 succeeds";
        EXPECT_EQ(Content(rsa.Decrypt(cipher)), plain);
    }
}

// Decrypt takes the CRT only for a key whose parts are consistent: the
// results never differ from d mod n.
TEST(RsaDecrypt, CrtOnlyForConsistentKeys)
{
    const uint32_t k = 64;
    const rsa_gmp::Key ref = GmpKey(FullKey(k));
    const Bytes plain = Pattern(100, 4);
    {
        XRsa rsa = BothHalves(ref);
        EXPECT_TRUE(rsa.DecryptsWithCrt());
        EXPECT_EQ(Content(rsa.Decrypt(rsa.Encrypt(BlobOf(plain)))), plain);
    }
    // Each variant still decrypts with d mod n (d and n are untouched and
    // valid), but some CRT value is off.
    Mpz pm1;
    mpz_sub_ui(pm1.get(), ref.p.get(), 1);
    struct Variant {
        const char* what;
        rsa_gmp::Key key;
    };
    std::vector<Variant> variants;
    variants.push_back({"dP + (p - 1)", ref});
    mpz_add(variants.back().key.dP.get(), ref.dP.get(), pm1.get());
    variants.push_back({"qInv + p", ref});
    mpz_add(variants.back().key.qInv.get(), ref.qInv.get(), ref.p.get());
    variants.push_back({"p and q swapped", ref});
    mpz_swap(variants.back().key.p.get(), variants.back().key.q.get());
    variants.push_back({"q = n", ref});
    variants.back().key.q = ref.n;
    for (Variant& v : variants) {
        XRsa rsa = BothHalves(v.key);
        EXPECT_FALSE(rsa.DecryptsWithCrt()) << v.what;
        EXPECT_EQ(Content(rsa.Decrypt(rsa.Encrypt(BlobOf(plain)))), plain) << v.what;
    }

    // 341 = 11 * 31 passes the Fermat test to base 2.  With it as "p" and d
    // the inverse of e modulo lcm(10, 30, q - 1), d mod n decrypts; the CRT
    // with dP = d mod 340 does not whenever 30 does not divide d - dP (the
    // first e below for which it does not is taken).
    const Mpz q = PrimeAbove(503, 3);
    rsa_gmp::Key odd;
    for (unsigned long e : {65537ul, 65539ul, 257ul, 17ul, 13ul, 11ul, 7ul}) {
        odd = KeyFromPrimes(k, Mpz(341), q, e, true);
        Mpz difference;
        mpz_sub(difference.get(), odd.d.get(), odd.dP.get());
        if (mpz_fdiv_ui(difference.get(), 30) != 0)
            break;
    }
    XRsa rsa = BothHalves(odd);
    EXPECT_FALSE(rsa.DecryptsWithCrt());
    ResetEntropy(3);
    const Bytes cipher = Content(rsa.Encrypt(BlobOf(plain)));
    EXPECT_EQ(Content(rsa.Decrypt(BlobOf(cipher))), plain);
    // The private half alone, whose lcm(p - 1, q - 1) is no exponent of the
    // group: it decrypts all the same.
    EXPECT_EQ(Content(PrivateOnly(PrivateBlob(odd)).Decrypt(BlobOf(cipher))), plain);
    int differing = 0;
    for (size_t pos = 0; pos < cipher.size(); pos += k) {
        Mpz direct, crt;
        const Mpz block(Slice(cipher, pos, k));
        mpz_powm(direct.get(), block.get(), odd.d.get(), odd.n.get());
        rsa_gmp::CrtPower(crt, block, odd);
        differing += mpz_cmp(direct.get(), crt.get()) != 0;
    }
    EXPECT_GT(differing, 0) << "the CRT would have given the same blocks: the key tests nothing";
}

} // namespace
