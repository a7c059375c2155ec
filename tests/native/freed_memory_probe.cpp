// Freed memory must not hold secrets.  This program replaces the C library's
// free (glibc lets a program define its own and reach the original as
// __libc_free; operator delete ends there too), and while a test watches,
// every block is searched for known secrets before it goes back to the heap:
// passwords, derived keys, cipher keys and their records, plaintext, RSA
// seeds, primes and private exponents (big-endian as in key blobs, and in
// the little-endian order of the big integers' limbs).  Each test runs one
// engine's operations, failure paths included, and destroys its objects
// before the search results are read.
//
// The engine's own allocations are the subject; the test keeps its secrets
// in XBlobs (which must wipe themselves) or in static storage, never in
// std::vector or std::string.  Not built with the sanitizers, which replace
// free themselves.
#include "cipher/aead.h"
#include "cipher/aes.h"
#include "cipher/aes_modes.h"
#include "cipher/blowfish.h"
#include "cipher/cast.h"
#include "cipher/triple_des.h"
#include "cipher/twofish.h"
#include "core/alarm.h"
#include "hash/argon2.h"
#include "hash/blake2b.h"
#include "hash/digest.h"
#include "hash/hmac.h"
#include "hash/s2k.h"
#include "pgp/compression.h"
#include "pgp/message.h"
#include "random/random.h"
#include "rsa/rsa.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <random>

extern "C" void __libc_free(void* p);

namespace {

// A secret is searched for in 16-byte pieces (any one of them in a freed
// block is a leak), so that partial copies count as well.
constexpr size_t kPiece = 16;
constexpr size_t kMaxSecrets = 128;
constexpr size_t kMaxSecretSize = 1024;
constexpr size_t kMaxFindings = 16;

struct Secret {
    char what[48];
    uint8_t bytes[kMaxSecretSize];
    size_t length;
};

Secret g_secrets[kMaxSecrets];
std::atomic<size_t> g_secretCount{0};
std::atomic<bool> g_watching{false};

struct Finding {
    const char* what;
    size_t blockSize;
    size_t offset;
};
Finding g_findings[kMaxFindings];
std::atomic<size_t> g_findingCount{0};
std::atomic<size_t> g_blocksInspected{0};

void Inspect(const uint8_t* block, size_t size)
{
    g_blocksInspected.fetch_add(1, std::memory_order_relaxed);
    const size_t count = g_secretCount.load();
    for (size_t s = 0; s < count; ++s) {
        const Secret& secret = g_secrets[s];
        for (size_t piece = 0; piece + kPiece <= secret.length; piece += kPiece) {
            const void* hit = memmem(block, size, secret.bytes + piece, kPiece);
            if (!hit)
                continue;
            const size_t n = g_findingCount.fetch_add(1);
            if (n < kMaxFindings)
                g_findings[n] = {secret.what, size, size_t(static_cast<const uint8_t*>(hit) - block)};
            return;
        }
    }
}

} // namespace

extern "C" void free(void* p)
{
    if (p && g_watching.load(std::memory_order_relaxed))
        Inspect(static_cast<const uint8_t*>(p), malloc_usable_size(p));
    __libc_free(p);
}

namespace {

void AddSecret(const char* what, const uint8_t* bytes, size_t length)
{
    ASSERT_GE(length, kPiece) << what << ": too short to search for";
    ASSERT_LE(length, kMaxSecretSize) << what;
    const size_t n = g_secretCount.load();
    ASSERT_LT(n, kMaxSecrets);
    Secret& secret = g_secrets[n];
    std::snprintf(secret.what, sizeof secret.what, "%s", what);
    std::memcpy(secret.bytes, bytes, length);
    secret.length = length;
    g_secretCount.store(n + 1);
}

void AddSecret(const char* what, const XBlob& bytes)
{
    AddSecret(what, bytes.Data(), bytes.Length());
}

// A number as a key blob holds it (big-endian) and as the limbs of a big
// integer hold it in memory (little-endian).
void AddNumber(const char* what, const XBigInt& x)
{
    const XBlob big = x.ToBytes(0);
    AddSecret(what, big);
    uint8_t little[kMaxSecretSize];
    ASSERT_LE(big.Length(), sizeof little);
    for (uint32_t i = 0; i < big.Length(); ++i)
        little[i] = big.At(big.Length() - 1 - i);
    AddSecret(what, little, big.Length());
}

// High-entropy bytes that occur nowhere by chance.
XBlob Pattern(uint32_t length, uint64_t seed)
{
    std::mt19937_64 random(seed);
    XBlob b(length);
    for (uint32_t i = 0; i < length; ++i)
        b.AppendByte(uint8_t(random()));
    return b;
}

// Watches the frees of one test: starts empty, and the test asks for the
// findings once its objects are gone.
class FreedMemory : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_secretCount = 0;
        g_findingCount = 0;
        g_blocksInspected = 0;
        g_watching = true;
    }
    void TearDown() override { g_watching = false; }

    ::testing::AssertionResult NothingLeaked()
    {
        g_watching = false;
        const size_t n = g_findingCount.load();
        if (g_blocksInspected.load() == 0)
            return ::testing::AssertionFailure() << "no block was freed: the probe saw nothing";
        if (n == 0)
            return ::testing::AssertionSuccess();
        auto failure = ::testing::AssertionFailure();
        failure << n << " freed block(s) held a secret:";
        for (size_t i = 0; i < n && i < kMaxFindings; ++i)
            failure << "\n  " << g_findings[i].what << " at offset " << g_findings[i].offset << " of a "
                    << g_findings[i].blockSize << "-byte block";
        return failure;
    }
};

// The probe itself: a plain heap copy of a secret, freed unwiped, is found.
TEST_F(FreedMemory, TheProbeFindsAnUnwipedCopy)
{
    const XBlob secret = Pattern(48, 1);
    AddSecret("a plain copy", secret);
    // Through volatile pointers: the compiler may not drop the pair.
    void* (*volatile allocate)(size_t) = std::malloc;
    void (*volatile release)(void*) = std::free;
    void* copy = allocate(100);
    std::memcpy(static_cast<uint8_t*>(copy) + 30, secret.Data() + 8, 32); // holds piece 16..31
    release(copy);
    EXPECT_EQ(g_findingCount.load(), 1u);
    g_findingCount = 0;
    EXPECT_TRUE(NothingLeaked());
}

TEST_F(FreedMemory, KeyDerivation)
{
    {
        const XBlob password = Pattern(37, 2), salt = Pattern(8, 3);
        AddSecret("password", password);
        for (uint8_t hash : {1, 2, 3}) {
            const XBlob simple = S2KSimple(hash, 70, password);
            const XBlob salted = S2KSalted(hash, 70, password, salt);
            const XBlob iterated = S2KIterated(hash, 70, password, salt, 96);
            AddSecret("simple S2K key", simple);
            AddSecret("salted S2K key", salted);
            AddSecret("iterated S2K key", iterated);
        }
        const XBlob expanded = ExpandSeed(password, 100);
        AddSecret("expanded seed", expanded);
        try {
            S2KSimple(13, 16, password);
        } catch (const XCryptoAlarm&) {
        }
    }
    EXPECT_TRUE(NothingLeaked());
}

// HMAC, PBKDF2 and HKDF over every hash: the keys, what is derived from
// them (a long key's digest, the key XOR the inner pad, MACs, derived keys,
// HKDF's pseudorandom key) stay out of freed memory.
TEST_F(FreedMemory, KeyedHashes)
{
    {
        size_t count = 0;
        const XHashAlgorithm* rows = HashAlgorithms(count);
        const XBlob shortKey = Pattern(40, 20), longKey = Pattern(200, 21), salt = Pattern(16, 22);
        AddSecret("HMAC key", shortKey);
        AddSecret("long HMAC key", longKey);
        uint8_t padded[64];
        for (uint32_t i = 0; i < sizeof padded; ++i)
            padded[i] = uint8_t((i < shortKey.Length() ? shortKey.At(i) : 0) ^ 0x36);
        AddSecret("key XOR ipad", padded, sizeof padded);
        for (size_t r = 0; r < count; ++r) {
            const XHashAlgorithm& hash = rows[r];
            AddSecret("long key's digest", hash.oneShot(longKey));
            for (const XBlob* key : {&shortKey, &longKey}) {
                const XBlob mac = Hmac(hash, *key, salt);
                AddSecret("MAC", mac);
                XHmac hmac(hash, *key);
                hmac.Update(salt);
                const XBlob again = hmac.Finish();
                const XBlob pbkdf2 = Pbkdf2(hash, *key, salt, 3, 100);
                AddSecret("PBKDF2 key", pbkdf2);
                const XBlob prk = HkdfExtract(hash, salt, *key);
                AddSecret("HKDF pseudorandom key", prk);
                const XBlob okm = Hkdf(hash, *key, salt, salt, 100);
                AddSecret("HKDF key", okm);
            }
        }
    }
    EXPECT_TRUE(NothingLeaked());
}

// Argon2: the password, the tag and the memory blocks.  With one pass each lane's first block keeps its value from H'
// to the end, so the test can compute it and look for it.
TEST_F(FreedMemory, Argon2)
{
    {
        const XBlob password = Pattern(40, 60), salt = Pattern(16, 61);
        AddSecret("Argon2 password", password);
        for (XArgon2Type type : {XArgon2Type::kD, XArgon2Type::kI, XArgon2Type::kId}) {
            // H0 over the parameters and inputs, then block 0 of lane 0.
            XBlob h0Input(256);
            for (uint32_t v : {2u, 100u, 64u, 1u, 0x13u, uint32_t(type), password.Length()})
                for (int shift = 0; shift < 32; shift += 8)
                    h0Input.AppendByte(uint8_t(v >> shift));
            h0Input.Append(password);
            for (int shift = 0; shift < 32; shift += 8)
                h0Input.AppendByte(uint8_t(salt.Length() >> shift));
            h0Input.Append(salt);
            for (int i = 0; i < 8; ++i)
                h0Input.AppendByte(0); // no secret, no associated data
            XBlob seed(72);
            seed.SetLength(72);
            XBlake2b h0(64);
            h0.Update(h0Input.Data(), h0Input.Length());
            h0.Final(seed.Data());
            for (uint32_t i = 64; i < 72; ++i)
                seed.At(i) = 0; // column 0, lane 0
            const XBlob firstBlock = Argon2VariableHash(seed, 1024);
            AddSecret("Argon2 memory block", firstBlock);
            // The tag, known from a first run, searched for in the second.
            const XBlob tag = Argon2(type, password, salt, 1, 2, 64, 100);
            AddSecret("Argon2 tag", tag);
            EXPECT_EQ(Argon2(type, password, salt, 1, 2, 64, 100), tag);
        }
    }
    EXPECT_TRUE(NothingLeaked());
}

TEST_F(FreedMemory, RandomBytes)
{
    {
        XBlob first = RandomBlob(64);
        AddSecret("random bytes", first);
        XBlob more = RandomBlob(1000);
        AddSecret("random bytes", more.Data(), 512);
    }
    EXPECT_TRUE(NothingLeaked());
}

template <typename Cipher>
void CipherRoundTrip(uint32_t keyLength, uint64_t seed)
{
    const XBlob material = Pattern(keyLength, seed), plain = Pattern(208, seed + 1);
    AddSecret("key material", material);
    AddSecret("plaintext", plain);
    for (int32_t mode : {1, 2}) {
        auto one = std::make_unique<Cipher>();
        one->MakeKey(material, keyLength);
        one->Setup(mode, 0);
        const XBlob record = one->GetKey();
        AddSecret("key record", record.Data() + record.Length() - kPiece, kPiece);
        const XBlob cipher = one->Encrypt(plain);
        auto two = std::make_unique<Cipher>();
        two->SetKey(record);
        two->Setup(mode, 0);
        EXPECT_EQ(two->Decrypt(cipher), plain);
        // A malformed record fails after reading key bytes.
        XBlob broken(record);
        broken.SetLength(broken.Length() - 1);
        try {
            two->SetKey(broken);
        } catch (const XCryptoAlarm&) {
        }
    }
}

TEST_F(FreedMemory, BlockCiphers)
{
    CipherRoundTrip<XAes>(32, 10);
    CipherRoundTrip<XTwofish>(32, 20);
    CipherRoundTrip<XBlowfish>(56, 30);
    CipherRoundTrip<XCast>(16, 40);
    CipherRoundTrip<XTripleDes>(24, 50);
    EXPECT_TRUE(NothingLeaked());
}

TEST_F(FreedMemory, Rsa)
{
    {
        const XBlob seed1 = Pattern(32, 60), seed2 = Pattern(32, 61), plain = Pattern(300, 62);
        AddSecret("seed", seed1);
        AddSecret("seed", seed2);
        AddSecret("plaintext", plain);
        auto key = std::make_unique<XRsa>();
        key->Keygen(seed1, seed2, 128);
        AddNumber("p", key->P());
        AddNumber("q", key->Q());
        AddNumber("d", key->D());
        AddNumber("dP", key->DP());
        const XBlob priv = key->ExportPrivateKey();
        auto receiver = std::make_unique<XRsa>();
        receiver->ImportPrivateKey(priv);
        const XBlob cipher = key->Encrypt(plain);
        EXPECT_EQ(receiver->Decrypt(cipher), plain);
        EXPECT_EQ(key->Verify(plain, receiver->Sign(plain)), 1);
        // A private blob cut inside qInv: the items read before stay in
        // temporaries until the import gives up.
        XBlob cut(priv);
        cut.SetLength(cut.Length() - 3);
        auto other = std::make_unique<XRsa>();
        try {
            other->ImportPrivateKey(cut);
        } catch (const XCryptoAlarm&) {
        }
        // A damaged dQ: the checked signature is refused.
        XBlob damaged(priv);
        damaged.At(damaged.Length() - 70) ^= 1;
        try {
            other->ImportPrivateKey(damaged);
            other->Sign(plain);
        } catch (const XCryptoAlarm&) {
        }
    }
    EXPECT_TRUE(NothingLeaked());
}

TEST_F(FreedMemory, PgpMessages)
{
    {
        const XBlob password = Pattern(24, 70), plain = Pattern(500, 71);
        AddSecret("password", password);
        AddSecret("plaintext", plain);
        XBlob message;
        {
            XPgpMessage writer;
            writer.SetAlgorithms(2, 9);
            writer.SetS2K(3, 96);
            writer.SetPassword(password);
            message = writer.Encrypt(plain);
            AddSecret("session key", writer.Key());
        }
        XPgpMessage reader;
        reader.SetPassword(password);
        EXPECT_EQ(reader.Decrypt(message), plain);
        XPgpMessage wrong;
        wrong.SetPassword(Pattern(24, 72));
        try {
            wrong.Decrypt(message);
        } catch (const XCryptoAlarm&) {
        }
    }
    EXPECT_TRUE(NothingLeaked());
}

// Compression: zlib's state and window hold plaintext, and so does the result
// that is dropped when the limit is passed or the stream turns out truncated.
TEST_F(FreedMemory, Compression)
{
    {
        const XBlob piece = Pattern(400, 90);
        AddSecret("plaintext", piece);
        XBlob plain;
        for (int i = 0; i < 50; ++i)
            plain.Append(piece);
        for (XCompression format : {XCompression::kZip, XCompression::kZlib}) {
            const XBlob packed = Compress(format, plain.Data(), plain.Length());
            EXPECT_LT(packed.Length(), plain.Length() / 10);
            EXPECT_EQ(Decompress(format, packed.Data(), packed.Length(), plain.Length()), plain);
            try {
                Decompress(format, packed.Data(), packed.Length(), plain.Length() - 1);
                ADD_FAILURE() << "output past the limit was taken";
            } catch (const XCryptoAlarm&) {
            }
            try {
                Decompress(format, packed.Data(), packed.Length() - 8, plain.Length());
                ADD_FAILURE() << "a truncated stream was taken";
            } catch (const XCryptoAlarm&) {
            }
        }
    }
    EXPECT_TRUE(NothingLeaked());
}

// The AES modes: GCM objects on the heap (their schedules and hash key must
// be wiped when they go), sealing and opening, a refused tag after the
// plaintext was produced, CBC with good and bad padding, CTR.
TEST_F(FreedMemory, AesModes)
{
    {
        const XBlob key = Pattern(32, 80), plain = Pattern(300, 81), iv = Pattern(16, 82);
        XBlob gcmIv(iv);
        gcmIv.SetLength(12);
        AddSecret("key", key);
        AddSecret("plaintext", plain);
        {
            // The hash key H = E(K, 0) as XGhashKey keeps its first power:
            // H * z^-1 (the 128-bit big-endian number shifted left by one,
            // 0xC2...01 added when a bit falls off), stored as two
            // little-endian words, low word first.
            XAes aes;
            aes.MakeKey(key, 32);
            uint8_t h[16] = {};
            aes.EncryptBlock(h, h);
            uint64_t hi = 0, lo = 0;
            for (int i = 0; i < 8; ++i) {
                hi = hi << 8 | h[i];
                lo = lo << 8 | h[8 + i];
            }
            const uint64_t carry = hi >> 63;
            hi = (hi << 1 | lo >> 63) ^ (carry ? 0xc200000000000000u : 0);
            lo = (lo << 1) ^ carry;
            uint8_t kept[16];
            std::memcpy(kept, &lo, 8);
            std::memcpy(kept + 8, &hi, 8);
            AddSecret("GHASH key", kept, sizeof kept);
        }
        auto gcm = std::make_unique<XAesGcm>(key);
        XBlob sealed = gcm->Seal(gcmIv, iv, plain, 16);
        EXPECT_EQ(gcm->Open(gcmIv, iv, sealed, 16), plain);
        sealed.At(sealed.Length() - 1) ^= 1;
        try {
            gcm->Open(gcmIv, iv, sealed, 16);
            ADD_FAILURE() << "a wrong tag was taken";
        } catch (const XCryptoAlarm&) {
        }
        gcm.reset();

        const XBlob cbc = AesCbcEncrypt(key, iv, plain, true);
        EXPECT_EQ(AesCbcDecrypt(key, iv, cbc, true), plain);
        // The same blocks without their padding block end in plaintext, which
        // is no valid padding.
        XBlob unpadded(cbc);
        unpadded.SetLength(cbc.Length() - 16);
        try {
            AesCbcDecrypt(key, iv, unpadded, true);
        } catch (const XCryptoAlarm&) {
        }
        EXPECT_EQ(AesCtr(key, iv, AesCtr(key, iv, plain)), plain);
    }
    EXPECT_TRUE(NothingLeaked());
}

// The AEAD modes over AES and Twofish: the object owns its engine, and both
// go when it does.  E(K, 0) and its double are what OCB (L_*, L_$) and EAX
// (CMAC's K1) keep; sealing, opening, and a refused tag after the text was
// deciphered.
TEST_F(FreedMemory, AeadModes)
{
    {
        const XBlob key = Pattern(32, 90), plain = Pattern(300, 91), nonce = Pattern(16, 92), ad = Pattern(13, 93);
        AddSecret("key", key);
        AddSecret("plaintext", plain);
        for (int twofish = 0; twofish < 2; ++twofish) {
            auto engine = [&]() -> std::unique_ptr<XBlockCipher> {
                std::unique_ptr<XBlockCipher> e;
                if (twofish)
                    e = std::make_unique<XTwofish>();
                else
                    e = std::make_unique<XAes>();
                e->MakeKey(key, 32);
                return e;
            };
            uint8_t zero[16] = {};
            engine()->EncryptBlock(zero, zero);
            AddSecret(twofish ? "Twofish E(K, 0)" : "AES E(K, 0)", zero, 16);
            uint8_t doubled[16];
            for (int i = 0; i < 16; ++i)
                doubled[i] = uint8_t(zero[i] << 1 | (i < 15 ? zero[i + 1] >> 7 : 0));
            doubled[15] ^= uint8_t(zero[0] & 0x80 ? 0x87 : 0);
            AddSecret(twofish ? "Twofish doubled E(K, 0)" : "AES doubled E(K, 0)", doubled, 16);
        }
        for (XAeadMode mode : {XAeadMode::kOcb, XAeadMode::kEax, XAeadMode::kGcm}) {
            for (int twofish = 0; twofish < 2; ++twofish) {
                std::unique_ptr<XBlockCipher> e;
                if (twofish)
                    e = std::make_unique<XTwofish>();
                else
                    e = std::make_unique<XAes>();
                e->MakeKey(key, 32);
                auto aead = XAead::Make(mode, std::move(e));
                const uint32_t nonceLength = XAead::NonceSizeOf(mode);
                XBlob sealed(plain);
                uint8_t tag[16];
                aead->Seal(nonce.Data(), nonceLength, ad.Data(), ad.Length(), sealed.Data(), sealed.Data(),
                           sealed.Length(), tag);
                XBlob opened(sealed);
                EXPECT_TRUE(aead->Open(nonce.Data(), nonceLength, ad.Data(), ad.Length(), opened.Data(),
                                       opened.Data(), opened.Length(), tag));
                EXPECT_EQ(opened, plain);
                tag[0] ^= 1;
                XBlob refused(sealed);
                EXPECT_FALSE(aead->Open(nonce.Data(), nonceLength, ad.Data(), ad.Length(), refused.Data(),
                                        refused.Data(), refused.Length(), tag));
            }
        }
    }
    EXPECT_TRUE(NothingLeaked());
}

} // namespace
