// TripleDES engine: published single-DES known answers through K1 = K2 = K3,
// the ignored parity bits, the roles of K1, K2 and K3, MakeKey and key
// records, and whole messages in ECB and CBC (filler padding, chaining across
// calls) against OpenSSL's libcrypto, nettle and libgcrypt over random keys,
// lengths and filler bytes.
#include "cipher/triple_des.h"

#include "core/alarm.h"

#include <gcrypt.h>
#include <gtest/gtest.h>
#include <nettle/cbc.h>
#include <nettle/des.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Content(const XBlob& b)
{
    return Bytes(b.Data(), b.Data() + b.Length());
}

XBlob BlobOf(const Bytes& v)
{
    XBlob b;
    b.AppendBytes(v.data(), uint32_t(v.size()));
    return b;
}

Bytes FromHex(const std::string& hex)
{
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes RandomBytes(std::mt19937& random, size_t n)
{
    Bytes v(n);
    for (auto& b : v)
        b = uint8_t(random());
    return v;
}

Bytes Concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Triple(const Bytes& k)
{
    return Concat(Concat(k, k), k);
}

// The message completed to whole blocks with the filler byte.
Bytes PadWith(Bytes m, uint8_t filler)
{
    while (m.size() % 8)
        m.push_back(filler);
    return m;
}

// An engine set up in `mode` with `filler` and loaded with a 24-byte key.
struct Engine {
    XTripleDes des;
    Engine(const Bytes& key, int32_t mode = XBlockCipher::kModeEcb, uint8_t filler = 0)
    {
        des.Setup(mode, filler);
        des.SetKey(BlobOf(key));
    }
    Bytes Encrypt(const Bytes& m) { return Content(des.Encrypt(BlobOf(m))); }
    Bytes Decrypt(const Bytes& c) { return Content(des.Decrypt(BlobOf(c))); }
    Bytes Block(const Bytes& in) const
    {
        Bytes out(8);
        des.EncryptBlock(in.data(), out.data());
        return out;
    }
};

// Runs the call and reports the alarm it raises: "message / source", or
// "none" when it raises nothing.
template <typename Call>
std::string AlarmOf(Call call)
{
    try {
        call();
    } catch (const XCryptoAlarm& alarm) {
        return std::string(alarm.Message()) + " / " + (alarm.Source() ? alarm.Source() : "(no source)");
    }
    return "none";
}

const std::string kCorrupted = std::string(XMessage::kDataCorrupted) + " / TripleDES";

// --- independent implementations (all run without padding) -------------------------

Bytes OpensslCrypt(bool cbc, bool encrypt, const Bytes& key, const Bytes& in)
{
    const EVP_CIPHER* cipher = cbc ? EVP_des_ede3_cbc() : EVP_des_ede3_ecb();
    const uint8_t iv[8] = {};
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size() + 8);
    int n = 0, tail = 0;
    const bool ok = ctx && EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv, encrypt ? 1 : 0) == 1 &&
                    EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                    EVP_CipherUpdate(ctx, out.data(), &n, in.data(), int(in.size())) == 1 &&
                    EVP_CipherFinal_ex(ctx, out.data() + n, &tail) == 1;
    EVP_CIPHER_CTX_free(ctx);
    EXPECT_TRUE(ok) << "OpenSSL DES-EDE3 failed";
    out.resize(size_t(n + tail));
    return out;
}

Bytes NettleCrypt(bool cbc, bool encrypt, const Bytes& key, const Bytes& in)
{
    des3_ctx ctx;
    des3_set_key(&ctx, key.data()); // 0 only for a weak DES key; random keys are not
    Bytes out(in.size());
    uint8_t iv[8] = {};
    const auto encryptFn = reinterpret_cast<nettle_cipher_func*>(des3_encrypt);
    const auto decryptFn = reinterpret_cast<nettle_cipher_func*>(des3_decrypt);
    if (cbc && encrypt)
        cbc_encrypt(&ctx, encryptFn, 8, iv, in.size(), out.data(), in.data());
    else if (cbc)
        cbc_decrypt(&ctx, decryptFn, 8, iv, in.size(), out.data(), in.data());
    else if (encrypt)
        des3_encrypt(&ctx, in.size(), out.data(), in.data());
    else
        des3_decrypt(&ctx, in.size(), out.data(), in.data());
    return out;
}

void InitGcrypt()
{
    static const bool ready = [] {
        if (!gcry_check_version(nullptr))
            return false;
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    ASSERT_TRUE(ready);
}

Bytes GcryptCrypt(bool cbc, bool encrypt, const Bytes& key, const Bytes& in)
{
    InitGcrypt();
    gcry_cipher_hd_t h = nullptr;
    EXPECT_EQ(gcry_cipher_open(&h, GCRY_CIPHER_3DES, cbc ? GCRY_CIPHER_MODE_CBC : GCRY_CIPHER_MODE_ECB, 0), 0u);
    if (!h)
        return {};
    EXPECT_EQ(gcry_cipher_setkey(h, key.data(), key.size()), 0u);
    const uint8_t iv[8] = {};
    if (cbc) {
        EXPECT_EQ(gcry_cipher_setiv(h, iv, sizeof iv), 0u);
    }
    Bytes out(in.size());
    const gcry_error_t e = encrypt ? gcry_cipher_encrypt(h, out.data(), out.size(), in.data(), in.size())
                                   : gcry_cipher_decrypt(h, out.data(), out.size(), in.data(), in.size());
    EXPECT_EQ(e, 0u);
    gcry_cipher_close(h);
    return out;
}

// Single DES from nettle, for the relations between the three keys.
Bytes NettleDes(bool encrypt, const Bytes& key8, const Bytes& block)
{
    des_ctx ctx;
    des_set_key(&ctx, key8.data()); // the result only flags weak keys
    Bytes out(8);
    if (encrypt)
        des_encrypt(&ctx, 8, out.data(), block.data());
    else
        des_decrypt(&ctx, 8, out.data(), block.data());
    return out;
}

// --- published single-DES known answers through K1 = K2 = K3 ----------------------

struct KnownAnswer {
    const char* key;
    const char* plain;
    const char* cipher;
};

// NBS SP 500-20 variable-plaintext, variable-key, permutation and
// substitution tests, and the common "Now is t" / textbook examples.
const KnownAnswer kKnownAnswers[] = {
    {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    {"0101010101010101", "4000000000000000", "DD7F121CA5015619"},
    {"0101010101010101", "2000000000000000", "2E8653104F3834EA"},
    {"0101010101010101", "1000000000000000", "4BD388FF6CD81D4F"},
    {"0101010101010101", "0800000000000000", "20B9E767B2FB1456"},
    {"0101010101010101", "0400000000000000", "55579380D77138EF"},
    {"0101010101010101", "0200000000000000", "6CC5DEFAAF04512F"},
    {"0101010101010101", "0100000000000000", "0D9F279BA5D87260"},
    {"0101010101010101", "0000000000000001", "166B40B44ABA4BD6"},
    {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"4001010101010101", "0000000000000000", "0EEC1487DD8C26D5"},
    {"2001010101010101", "0000000000000000", "7AD16FFB79C45926"},
    {"1001010101010101", "0000000000000000", "D3746294CA6A6CF3"},
    {"0801010101010101", "0000000000000000", "809F5F873C1FD761"},
    {"0401010101010101", "0000000000000000", "C02FAFFEC989D1FC"},
    {"0201010101010101", "0000000000000000", "4615AA1D33E72F10"},
    {"1046913489980131", "0000000000000000", "88D55E54F54C97B4"},
    {"1007103489988020", "0000000000000000", "0C0CC00C83EA48FD"},
    {"10071034C8980120", "0000000000000000", "83BC8EF3A6570183"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
    {"07A1133E4A0B2686", "0248D43806F67172", "868EBB51CAB4599A"},
    {"3849674C2602319E", "51454B582DDF440A", "7178876E01F19B2A"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "AF37FB421F8C4095"},
    {"0101010101010101", "0000000000000000", "8CA64DE9C1B123A7"},
    {"FEFEFEFEFEFEFEFE", "FFFFFFFFFFFFFFFF", "7359B2163E4EDC58"},
    {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
};

TEST(TripleDes, SingleDesKnownAnswersThroughEqualKeys)
{
    for (const KnownAnswer& v : kKnownAnswers) {
        SCOPED_TRACE(std::string(v.key) + " " + v.plain);
        const Bytes key = FromHex(v.key), plain = FromHex(v.plain), cipher = FromHex(v.cipher);
        // The key as given, and with every parity bit complemented.
        Bytes flipped = key;
        for (auto& b : flipped)
            b ^= 1;
        for (const Bytes& k : {key, flipped}) {
            XTripleDes des;
            des.SetKey(BlobOf(Triple(k)));
            Bytes out(8), back(8);
            des.EncryptBlock(plain.data(), out.data());
            EXPECT_EQ(out, cipher);
            des.DecryptBlock(cipher.data(), back.data());
            EXPECT_EQ(back, plain);
        }
        // The same through MakeKey and the whole-message path.
        XTripleDes des;
        des.Setup(XBlockCipher::kModeEcb, 0);
        des.MakeKey(BlobOf(Triple(key)), 24);
        EXPECT_EQ(Content(des.Encrypt(BlobOf(plain))), cipher);
        EXPECT_EQ(Content(des.Decrypt(BlobOf(cipher))), plain);
    }
}

// Every one-bit plaintext under key 0101..01 and every one-bit key (parity
// bits excluded) under a zero plaintext, as in the NBS validation set, with
// nettle's single DES giving the expected blocks.
TEST(TripleDes, SingleDesBitSweepsAgreeWithNettle)
{
    const Bytes ones(8, 0x01), zero(8, 0x00);
    for (int bit = 0; bit < 64; ++bit) {
        Bytes plain(8, 0);
        plain[bit / 8] = uint8_t(0x80 >> (bit % 8));
        EXPECT_EQ(Engine(Triple(ones)).Block(plain), NettleDes(true, ones, plain)) << "plaintext bit " << bit;
        if (bit % 8 == 7)
            continue;
        Bytes key = ones;
        key[bit / 8] |= uint8_t(0x80 >> (bit % 8));
        EXPECT_EQ(Engine(Triple(key)).Block(zero), NettleDes(true, key, zero)) << "key bit " << bit;
    }
}

// Flipping the least significant bit of any key byte changes nothing, and
// flipping any other key bit changes the ciphertext: all 168 key bits are used.
TEST(TripleDes, ParityBitsIgnoredAndEveryOtherKeyBitMatters)
{
    std::mt19937 random(31);
    const Bytes key = RandomBytes(random, 24);
    const Bytes plain = RandomBytes(random, 16);
    const Bytes reference = Engine(key).Encrypt(plain);
    for (int bit = 0; bit < 192; ++bit) {
        Bytes changed = key;
        changed[bit / 8] ^= uint8_t(0x80 >> (bit % 8));
        const Bytes out = Engine(changed).Encrypt(plain);
        if (bit % 8 == 7)
            EXPECT_EQ(out, reference) << "parity bit of key byte " << bit / 8;
        else
            EXPECT_NE(out, reference) << "key bit " << bit;
    }
}

// E(K3, D(K2, E(K1, x))): with two equal neighbouring keys the middle pass
// cancels one outer pass, leaving single DES under the remaining key.  Checks
// which key bytes play which role, in both directions.
TEST(TripleDes, KeyRolesAgainstSingleDes)
{
    std::mt19937 random(7);
    for (int trial = 0; trial < 20; ++trial) {
        const Bytes a = RandomBytes(random, 8), b = RandomBytes(random, 8);
        const Bytes block = RandomBytes(random, 8);
        Bytes out(8), back(8);

        XTripleDes k1k1b; // K1 = K2: E(K3, x)
        k1k1b.SetKey(BlobOf(Concat(Concat(a, a), b)));
        k1k1b.EncryptBlock(block.data(), out.data());
        EXPECT_EQ(out, NettleDes(true, b, block));
        k1k1b.DecryptBlock(block.data(), back.data());
        EXPECT_EQ(back, NettleDes(false, b, block));

        XTripleDes abb; // K2 = K3: E(K1, x)
        abb.SetKey(BlobOf(Concat(Concat(a, b), b)));
        abb.EncryptBlock(block.data(), out.data());
        EXPECT_EQ(out, NettleDes(true, a, block));
        abb.DecryptBlock(block.data(), back.data());
        EXPECT_EQ(back, NettleDes(false, a, block));

        // Two-key TDEA (K1, K2, K1) spelt out with single DES.
        XTripleDes aba;
        aba.SetKey(BlobOf(Concat(Concat(a, b), a)));
        aba.EncryptBlock(block.data(), out.data());
        EXPECT_EQ(out, NettleDes(true, a, NettleDes(false, b, NettleDes(true, a, block))));
    }
}

// --- MakeKey ----------------------------------------------------------------------

TEST(TripleDes, MakeKeyBuildsTwentyFourBytesWithFiller)
{
    std::mt19937 random(11);
    const Bytes material = RandomBytes(random, 30);
    const Bytes plain = RandomBytes(random, 24);
    struct Case {
        size_t materialBytes;
        uint8_t filler;
    };
    for (const Case c : {Case{0, 0x00}, Case{0, 0xA5}, Case{5, 0x2A}, Case{8, 0x5A}, Case{16, 0x00}, Case{16, 0xFF},
                         Case{23, 0x13}, Case{24, 0x77}, Case{30, 0x77}}) {
        SCOPED_TRACE(c.materialBytes);
        const Bytes given(material.begin(), material.begin() + c.materialBytes);
        Bytes expected(given.begin(), given.begin() + std::min<size_t>(24, given.size()));
        expected.resize(24, c.filler);
        // The length argument is not used: every value gives the same key.
        for (uint32_t length : {0u, 8u, 16u, 24u, 32u, 0xFFFFFFFFu}) {
            XTripleDes des;
            des.Setup(XBlockCipher::kModeEcb, c.filler);
            des.MakeKey(BlobOf(given), length);
            EXPECT_EQ(Content(des.GetKey()), expected) << "length " << length;
            EXPECT_EQ(Content(des.Encrypt(BlobOf(plain))), OpensslCrypt(false, true, expected, plain));
        }
    }
}

TEST(TripleDes, MakeKeyPadsWithTheFillerOfItsTime)
{
    const Bytes material = FromHex("00112233445566778899AABBCCDDEEFF");
    XTripleDes des;
    des.Setup(XBlockCipher::kModeEcb, 0x00);
    des.MakeKey(BlobOf(material), 16);
    // 16 bytes of material: K3 is eight filler bytes, not K1.
    EXPECT_EQ(Content(des.GetKey()), Concat(material, Bytes(8, 0x00)));
    des.filler = 0xEE;
    EXPECT_EQ(Content(des.GetKey()), Concat(material, Bytes(8, 0x00)));
    des.MakeKey(BlobOf(material), 16);
    EXPECT_EQ(Content(des.GetKey()), Concat(material, Bytes(8, 0xEE)));
}

// --- key records ----------------------------------------------------------------

TEST(TripleDes, KeyRecordRoundTrip)
{
    std::mt19937 random(13);
    for (int trial = 0; trial < 10; ++trial) {
        const Bytes key = RandomBytes(random, 24);
        const Bytes plain = RandomBytes(random, 40);
        XTripleDes first;
        first.Setup(XBlockCipher::kModeCbc, 0);
        first.MakeKey(BlobOf(key), 24);
        const XBlob record = first.GetKey();
        EXPECT_EQ(Content(record), key); // exactly the 24 key bytes, no header

        XTripleDes second;
        second.Setup(XBlockCipher::kModeCbc, 0);
        second.SetKey(record);
        EXPECT_EQ(Content(second.GetKey()), key);
        EXPECT_EQ(Content(second.Encrypt(BlobOf(plain))), Content(first.Encrypt(BlobOf(plain))));
    }
}

TEST(TripleDes, LongerRecordLoadsItsFirstTwentyFourBytes)
{
    std::mt19937 random(17);
    const Bytes record = RandomBytes(random, 30);
    const Bytes key(record.begin(), record.begin() + 24);
    const Bytes plain = RandomBytes(random, 16);
    XTripleDes des;
    des.Setup(XBlockCipher::kModeEcb, 0);
    des.SetKey(BlobOf(record));
    EXPECT_EQ(Content(des.GetKey()), key);
    EXPECT_EQ(Content(des.Encrypt(BlobOf(plain))), OpensslCrypt(false, true, key, plain));
}

TEST(TripleDes, ShortRecordIsRejectedAndChangesNothing)
{
    std::mt19937 random(19);
    const Bytes key = RandomBytes(random, 24);
    const Bytes plain = RandomBytes(random, 32);
    Engine loaded(key);
    const Bytes before = loaded.Encrypt(plain);
    XTripleDes empty;
    empty.Setup(XBlockCipher::kModeEcb, 0);

    for (size_t n : {0, 1, 7, 8, 16, 23}) {
        SCOPED_TRACE(n);
        const XBlob record = BlobOf(RandomBytes(random, n));
        EXPECT_EQ(AlarmOf([&] { loaded.des.SetKey(record); }), kCorrupted);
        EXPECT_EQ(Content(loaded.des.GetKey()), key);
        EXPECT_EQ(loaded.Encrypt(plain), before);

        // Without a key before, there is still none after.
        EXPECT_EQ(AlarmOf([&] { empty.SetKey(record); }), kCorrupted);
        EXPECT_FALSE(empty.KeyReady());
        EXPECT_EQ(AlarmOf([&] { empty.GetKey(); }), std::string(XMessage::kInvalidKey) + " / TripleDES");
    }
}

TEST(TripleDes, GetKeyWithoutKeyRaisesInvalidKey)
{
    XTripleDes des;
    EXPECT_EQ(AlarmOf([&] { des.GetKey(); }), std::string(XMessage::kInvalidKey) + " / TripleDES");
    des.Setup(XBlockCipher::kModeCbc, 0x20);
    EXPECT_EQ(AlarmOf([&] { des.GetKey(); }), std::string(XMessage::kInvalidKey) + " / TripleDES");
    EXPECT_EQ(des.BlockSize(), 8u);
}

TEST(TripleDes, NewKeyReplacesTheScheduleCompletely)
{
    std::mt19937 random(23);
    const Bytes a = RandomBytes(random, 24), b = RandomBytes(random, 24);
    const Bytes plain = RandomBytes(random, 48);
    XTripleDes des;
    des.Setup(XBlockCipher::kModeEcb, 0);
    des.SetKey(BlobOf(a));
    des.MakeKey(BlobOf(b), 24);
    EXPECT_EQ(Content(des.Encrypt(BlobOf(plain))), OpensslCrypt(false, true, b, plain));
    EXPECT_EQ(Content(des.Decrypt(BlobOf(plain))), OpensslCrypt(false, false, b, plain));
}

// --- whole messages against the independent implementations ----------------------

struct Oracle {
    const char* name;
    Bytes (*crypt)(bool cbc, bool encrypt, const Bytes& key, const Bytes& in);
};

const Oracle kOracles[] = {
    {"OpenSSL", OpensslCrypt},
    {"nettle", NettleCrypt},
    {"libgcrypt", GcryptCrypt},
};

// Random keys, lengths (every length up to 11 blocks, so that the multi-block
// paths and their tails are all taken, then longer ones) and filler bytes; our
// padding is the filler, the oracles run on the padded message.
TEST(TripleDes, MessagesAgreeWithOtherImplementations)
{
    std::mt19937 random(2024);
    for (int mode : {XBlockCipher::kModeEcb, XBlockCipher::kModeCbc}) {
        const bool cbc = mode == XBlockCipher::kModeCbc;
        for (size_t trial = 0; trial < 120; ++trial) {
            const size_t length = trial < 90 ? trial : 90 + random() % 5000;
            const Bytes key = RandomBytes(random, 24);
            const Bytes plain = RandomBytes(random, length);
            const uint8_t filler = uint8_t(random());
            SCOPED_TRACE(testing::Message() << (cbc ? "CBC" : "ECB") << " length " << length << " filler "
                                            << int(filler));
            const Bytes padded = PadWith(plain, filler);

            const Bytes cipher = Engine(key, mode, filler).Encrypt(plain);
            ASSERT_EQ(cipher.size(), padded.size());
            EXPECT_EQ(Engine(key, mode, filler).Decrypt(cipher), padded);
            for (const Oracle& o : kOracles) {
                if (trial % 3 && o.crypt != OpensslCrypt)
                    continue; // OpenSSL on every message, the others on every third
                EXPECT_EQ(cipher, o.crypt(cbc, true, key, padded)) << o.name;
                // Decrypting an arbitrary block string, not only our own output.
                const Bytes noise = RandomBytes(random, padded.size());
                EXPECT_EQ(Engine(key, mode, filler).Decrypt(noise), o.crypt(cbc, false, key, noise)) << o.name;
            }
        }
    }
}

// Consecutive calls on one engine continue one CBC chain (the chaining block
// comes back from the engine's chained encryption and from its decryption),
// and in ECB each call stands alone.
TEST(TripleDes, ChainingContinuesAcrossCalls)
{
    std::mt19937 random(29);
    for (int trial = 0; trial < 20; ++trial) {
        const Bytes key = RandomBytes(random, 24);
        const size_t splitBlocks = random() % 12;
        const Bytes a = RandomBytes(random, 8 * splitBlocks), b = RandomBytes(random, random() % 70);
        const uint8_t filler = uint8_t(random());
        const Bytes whole = PadWith(Concat(a, b), filler);
        for (int mode : {XBlockCipher::kModeEcb, XBlockCipher::kModeCbc}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " trial " << trial);
            const bool cbc = mode == XBlockCipher::kModeCbc;
            const Bytes expected = OpensslCrypt(cbc, true, key, whole);

            Engine encryptor(key, mode, filler);
            const Bytes first = encryptor.Encrypt(a);
            const Bytes second = encryptor.Encrypt(b);
            EXPECT_EQ(Concat(first, second), expected);

            Engine decryptor(key, mode, filler);
            const Bytes head(expected.begin(), expected.begin() + a.size());
            const Bytes tail(expected.begin() + a.size(), expected.end());
            const Bytes plainHead = decryptor.Decrypt(head);
            const Bytes plainTail = decryptor.Decrypt(tail);
            EXPECT_EQ(Concat(plainHead, plainTail), whole);
        }
    }
}

// The multi-block entry points agree with the one-block functions for every
// count around the interleaving width, also when the output overwrites the input.
TEST(TripleDes, MultiBlockPathsMatchSingleBlocksInPlace)
{
    std::mt19937 random(37);
    const Bytes key = RandomBytes(random, 24);
    XTripleDes des;
    des.SetKey(BlobOf(key));
    for (size_t count = 0; count <= 13; ++count) {
        SCOPED_TRACE(count);
        const Bytes in = RandomBytes(random, 8 * count);
        Bytes encrypted(in.size()), decrypted(in.size()), chained(in.size());
        uint8_t chain[8], work[8];
        const Bytes iv = RandomBytes(random, 8);
        std::memcpy(chain, iv.data(), 8);
        for (size_t i = 0; i < count; ++i) {
            des.EncryptBlock(&in[8 * i], &encrypted[8 * i]);
            des.DecryptBlock(&in[8 * i], &decrypted[8 * i]);
            for (int j = 0; j < 8; ++j)
                work[j] = chain[j] ^ in[8 * i + j];
            des.EncryptBlock(work, chain);
            std::memcpy(&chained[8 * i], chain, 8);
        }

        Bytes buffer = in;
        des.EncryptBlocks(buffer.data(), buffer.data(), count);
        EXPECT_EQ(buffer, encrypted);
        buffer = in;
        des.DecryptBlocks(buffer.data(), buffer.data(), count);
        EXPECT_EQ(buffer, decrypted);
        buffer = in;
        uint8_t running[8];
        std::memcpy(running, iv.data(), 8);
        des.EncryptBlocksChained(buffer.data(), buffer.data(), count, running);
        EXPECT_EQ(buffer, chained);
        EXPECT_EQ(Bytes(running, running + 8), count ? Bytes(chained.end() - 8, chained.end()) : iv);
    }
}

} // namespace
