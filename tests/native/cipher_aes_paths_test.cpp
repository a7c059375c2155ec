// XAes's chained and feedback functions (CBC deciphering, full-block CFB
// both ways, CBC enciphering) and the key schedule, on every AES path the CPU
// has (portable, AES-NI, VAES on 256-bit and on 512-bit vectors): against OpenSSL over every length that reaches a different tail of
// the 8-block and 16-block loops, in place and out of place, with the
// chaining or feedback block carried across calls cut at random points;
// then the paths against each other on long random messages.  XPgpCfb (the
// OpenPGP CFB with its resync) against libgcrypt's, cut into random pieces,
// for AES on every path and for ciphers of both block sizes that go through
// the block-cipher defaults.
#include "cipher/aes.h"
#include "pgp/cfb.h"
#include "pgp/message.h"

#include "cipher_test_support.h"

#include <algorithm>
#include <ostream>
#include <random>

namespace {

using namespace test_support;

Bytes Random(std::mt19937& random, size_t n)
{
    Bytes v(n);
    for (auto& b : v)
        b = uint8_t(random());
    return v;
}

// OpenSSL's AES-CFB with the full-block shift.
Bytes OpenSslCfb(bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& data)
{
    const EVP_CIPHER* cipher = key.size() == 16   ? EVP_aes_128_cfb128()
                               : key.size() == 24 ? EVP_aes_192_cfb128()
                                                  : EVP_aes_256_cfb128();
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    Bytes out(data.size() + 16);
    int n = 0;
    const bool ok = EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), iv.data(), encrypt ? 1 : 0) == 1 &&
                    EVP_CipherUpdate(ctx.get(), out.data(), &n, data.data(), int(data.size())) == 1;
    EXPECT_TRUE(ok);
    out.resize(ok ? size_t(n) : 0);
    return out;
}

std::unique_ptr<XAes> Keyed(const Bytes& key)
{
    auto aes = std::make_unique<XAes>();
    aes->MakeKey(BlobOf(key), uint32_t(key.size()));
    return aes;
}

// Block counts: every count up to three 16-block groups and a few past
// (each tail of the 16-, 8- and 4-block loops after 0 to 3 whole groups, on
// each width).
std::vector<size_t> Counts()
{
    std::vector<size_t> counts;
    for (size_t n = 0; n <= 52; ++n)
        counts.push_back(n);
    for (size_t n : {63, 64, 65, 127, 128, 129, 255, 256, 257})
        counts.push_back(n);
    return counts;
}

enum class Op { kCbcDecrypt, kCbcEncrypt, kCfbEncrypt, kCfbDecrypt };

const char* NameOf(Op op)
{
    switch (op) {
    case Op::kCbcDecrypt:
        return "CBC decrypt";
    case Op::kCbcEncrypt:
        return "CBC encrypt";
    case Op::kCfbEncrypt:
        return "CFB encrypt";
    case Op::kCfbDecrypt:
        return "CFB decrypt";
    }
    return "";
}

constexpr Op kOps[] = {Op::kCbcDecrypt, Op::kCbcEncrypt, Op::kCfbEncrypt, Op::kCfbDecrypt};

// Whether the op may run in place (CBC deciphering takes separate buffers).
bool InPlaceAllowed(Op op)
{
    return op != Op::kCbcDecrypt;
}

// One call of the op over `count` blocks; `chain` is the chaining or feedback block.
void Run(const XAes& aes, Op op, const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain)
{
    switch (op) {
    case Op::kCbcDecrypt:
        aes.DecryptBlocksChained(in, out, count, chain);
        break;
    case Op::kCbcEncrypt:
        aes.EncryptBlocksChained(in, out, count, chain);
        break;
    case Op::kCfbEncrypt:
        aes.CfbEncryptBlocks(in, out, count, chain);
        break;
    case Op::kCfbDecrypt:
        aes.CfbDecryptBlocks(in, out, count, chain);
        break;
    }
}

Bytes Oracle(Op op, const Bytes& key, const Bytes& iv, const Bytes& data)
{
    if (data.empty())
        return {};
    switch (op) {
    case Op::kCbcDecrypt:
        return OpenSslAes(Chaining::kCbc, false, key, iv, data);
    case Op::kCbcEncrypt:
        return OpenSslAes(Chaining::kCbc, true, key, iv, data);
    case Op::kCfbEncrypt:
        return OpenSslCfb(true, key, iv, data);
    case Op::kCfbDecrypt:
        return OpenSslCfb(false, key, iv, data);
    }
    return {};
}

// The op over the whole message in calls cut at `cuts` (block indices),
// in place or not; the chaining block after the last call into `chain`.
Bytes RunInPieces(const XAes& aes, Op op, const Bytes& iv, const Bytes& data, std::vector<size_t> cuts,
                  bool inPlace, Bytes& chain)
{
    const size_t blocks = data.size() / 16;
    cuts.push_back(blocks);
    std::sort(cuts.begin(), cuts.end());
    Bytes out = inPlace ? data : Bytes(data.size(), 0xA5);
    chain = iv;
    size_t at = 0;
    for (size_t cut : cuts) {
        const uint8_t* in = (inPlace ? out.data() : data.data()) + 16 * at;
        Run(aes, op, in, out.data() + 16 * at, cut - at, chain.data());
        at = cut;
    }
    return out;
}

// The chaining block the op leaves after a message: the last ciphertext block.
Bytes LastCiphertext(Op op, const Bytes& iv, const Bytes& data, const Bytes& out)
{
    if (data.empty())
        return iv;
    const Bytes& c = (op == Op::kCbcEncrypt || op == Op::kCfbEncrypt) ? out : data;
    return Bytes(c.end() - 16, c.end());
}

// An AES path: the engine, and for kVaes whether the deciphering loops run
// on 512-bit vectors.
struct Path {
    const char* name;
    AesEngine engine;
    bool wide512;
};

void PrintTo(const Path& path, std::ostream* out)
{
    *out << path.name;
}

void RestoreDefaultPath()
{
    AesSelectEngine(BestAesEngine());
    AesSelectWide512(AesWide512Available());
}

class AesPaths : public ::testing::TestWithParam<Path> {
protected:
    void SetUp() override
    {
        if (!AesSelectEngine(GetParam().engine) || !AesSelectWide512(GetParam().wide512))
            GTEST_SKIP() << "this CPU lacks the instructions of this path";
    }
    void TearDown() override { RestoreDefaultPath(); }

    std::mt19937 random_{0xAE5};
};

INSTANTIATE_TEST_SUITE_P(Engines, AesPaths,
                         ::testing::Values(Path{"Portable", AesEngine::kPortable, false},
                                           Path{"AesNi", AesEngine::kAesNi, false},
                                           Path{"Vaes", AesEngine::kVaes, false},
                                           Path{"Vaes512", AesEngine::kVaes, true}),
                         [](const ::testing::TestParamInfo<Path>& info) { return std::string(info.param.name); });

// The key schedule made on this path equals the portable one, for random
// keys of each size (the block functions of every path read the same
// schedules, whichever path made them).
TEST_P(AesPaths, KeySchedulesEqualThePortableOnes)
{
    for (size_t keySize : {16, 24, 32}) {
        for (int trial = 0; trial < 20; ++trial) {
            const Bytes key = Random(random_, keySize);
            const auto hereEngine = Keyed(key);
            const XAes& here = *hereEngine;
            ASSERT_TRUE(AesSelectEngine(AesEngine::kPortable));
            const auto portableEngine = Keyed(key);
            const XAes& portable = *portableEngine;
            ASSERT_TRUE(AesSelectEngine(GetParam().engine));
            const size_t words = 4 * (portable.Rounds() + 1);
            ASSERT_EQ(here.Rounds(), portable.Rounds());
            EXPECT_TRUE(std::equal(portable.EncryptionRoundKeys(), portable.EncryptionRoundKeys() + words,
                                   here.EncryptionRoundKeys()))
                << keySize << "-byte key";
            EXPECT_TRUE(std::equal(portable.DecryptionRoundKeys(), portable.DecryptionRoundKeys() + words,
                                   here.DecryptionRoundKeys()))
                << keySize << "-byte key";
        }
    }
}

// Every op against OpenSSL, every key size, every block count of Counts(),
// in one call and in place where allowed; the chaining block ends as the
// last ciphertext block.
TEST_P(AesPaths, EveryLengthMatchesOpenSsl)
{
    for (size_t keySize : {16, 24, 32}) {
        const Bytes key = Random(random_, keySize);
        const auto engine = Keyed(key);
        const XAes& aes = *engine;
        for (Op op : kOps) {
            for (size_t count : Counts()) {
                SCOPED_TRACE(testing::Message() << NameOf(op) << ", " << keySize << "-byte key, " << count
                                                << " blocks");
                const Bytes iv = Random(random_, 16), data = Random(random_, 16 * count);
                const Bytes expected = Oracle(op, key, iv, data);
                for (bool inPlace : {false, true}) {
                    if (inPlace && !InPlaceAllowed(op))
                        continue;
                    Bytes chain;
                    const Bytes out = RunInPieces(aes, op, iv, data, {}, inPlace, chain);
                    EXPECT_EQ(out, expected) << (inPlace ? "in place" : "out of place");
                    EXPECT_EQ(chain, LastCiphertext(op, iv, data, expected));
                }
            }
        }
    }
}

// The same message cut into two to five calls at random block boundaries
// gives what one call gives: the chaining block carries everything.
TEST_P(AesPaths, ChainingCarriesAcrossCalls)
{
    for (size_t keySize : {16, 24, 32}) {
        const Bytes key = Random(random_, keySize);
        const auto engine = Keyed(key);
        const XAes& aes = *engine;
        for (Op op : kOps) {
            for (int trial = 0; trial < 40; ++trial) {
                const size_t count = random_() % 90;
                const Bytes iv = Random(random_, 16), data = Random(random_, 16 * count);
                std::vector<size_t> cuts(1 + random_() % 4);
                for (auto& c : cuts)
                    c = count ? random_() % (count + 1) : 0;
                const bool inPlace = InPlaceAllowed(op) && (trial & 1);
                SCOPED_TRACE(testing::Message() << NameOf(op) << ", " << keySize << "-byte key, " << count
                                                << " blocks, trial " << trial);
                Bytes chain;
                const Bytes out = RunInPieces(aes, op, iv, data, cuts, inPlace, chain);
                const Bytes expected = Oracle(op, key, iv, data);
                EXPECT_EQ(out, expected);
                EXPECT_EQ(chain, LastCiphertext(op, iv, data, expected));
            }
        }
    }
}

// This path against the portable one on long random messages under random
// keys: the wide loops' steady state, far from any tail.
TEST_P(AesPaths, LongMessagesEqualThePortablePath)
{
    for (int trial = 0; trial < 6; ++trial) {
        const size_t keySize = 16 + 8 * size_t(trial % 3);
        const Bytes key = Random(random_, keySize);
        const size_t count = 1000 + random_() % 1000;
        const Bytes iv = Random(random_, 16), data = Random(random_, 16 * count);
        for (Op op : kOps) {
            SCOPED_TRACE(testing::Message() << NameOf(op) << ", " << keySize << "-byte key, " << count << " blocks");
            Bytes chainHere, chainPortable;
            const Bytes here = RunInPieces(*Keyed(key), op, iv, data, {count / 3}, false, chainHere);
            ASSERT_TRUE(AesSelectEngine(AesEngine::kPortable));
            const Bytes portable = RunInPieces(*Keyed(key), op, iv, data, {}, false, chainPortable);
            ASSERT_TRUE(AesSelectEngine(GetParam().engine));
            EXPECT_EQ(here, portable);
            EXPECT_EQ(chainHere, chainPortable);
        }
    }
}

// Mode 2 of XBlockCipher::Decrypt over several calls (the chaining block
// kept by the object) against OpenSSL's CBC over the whole message.
TEST_P(AesPaths, ModeTwoDecryptAcrossCallsMatchesOpenSsl)
{
    for (size_t keySize : {16, 24, 32}) {
        const Bytes key = Random(random_, keySize);
        XAes aes;
        aes.Setup(XBlockCipher::kModeCbc, 0);
        aes.MakeKey(BlobOf(key), uint32_t(keySize));
        Bytes all, plain;
        for (size_t count : {0, 1, 7, 8, 9, 15, 16, 17, 33, 100}) {
            const Bytes part = Random(random_, 16 * count);
            const Bytes p = Content(aes.Decrypt(BlobOf(part)));
            all.insert(all.end(), part.begin(), part.end());
            plain.insert(plain.end(), p.begin(), p.end());
        }
        EXPECT_EQ(plain, OpenSslAes(Chaining::kCbc, false, key, Bytes(16, 0), all)) << keySize << "-byte key";
    }
}

// --- OpenPGP CFB ---------------------------------------------------------------------

// libgcrypt's OpenPGP CFB: a zero IV, the bs + 2 prefix bytes, its resync, the rest.
Bytes GcryptPgpCfb(int algorithm, size_t blockSize, const Bytes& key, const Bytes& data, bool encrypt)
{
    EXPECT_TRUE(GcryptReady());
    gcry_cipher_hd_t h = nullptr;
    EXPECT_EQ(gcry_cipher_open(&h, algorithm, GCRY_CIPHER_MODE_CFB, GCRY_CIPHER_ENABLE_SYNC), 0u);
    const Bytes iv(blockSize, 0);
    gcry_cipher_setkey(h, key.data(), key.size());
    gcry_cipher_setiv(h, iv.data(), iv.size());
    Bytes out(data.size());
    const size_t prefix = blockSize + 2;
    auto run = [&](size_t from, size_t n) {
        if (n == 0)
            return;
        if (encrypt)
            gcry_cipher_encrypt(h, out.data() + from, n, data.data() + from, n);
        else
            gcry_cipher_decrypt(h, out.data() + from, n, data.data() + from, n);
    };
    run(0, prefix);
    gcry_cipher_sync(h);
    run(prefix, data.size() - prefix);
    gcry_cipher_close(h);
    return out;
}

// XPgpCfb over the same: the prefix and the rest each cut into random pieces.
Bytes OursPgpCfb(uint8_t id, const Bytes& key, const Bytes& data, bool encrypt, bool inPlace, std::mt19937& random)
{
    auto engine = XPgpMessage::CipherById(id);
    engine->MakeKey(BlobOf(key), uint32_t(key.size()));
    XPgpCfb cfb(std::move(engine));
    const size_t bs = cfb.BlockSize(), prefix = bs + 2;
    Bytes out = inPlace ? data : Bytes(data.size(), 0x5A);
    auto pieces = [&](size_t from, size_t to) {
        while (from < to) {
            // Mostly short pieces, sometimes a long one (a bulk run).
            const size_t left = to - from;
            const size_t n = std::min(left, random() % 4 ? size_t(random() % 40) : size_t(random() % (left + 1)));
            const uint8_t* in = (inPlace ? out.data() : data.data()) + from;
            if (encrypt)
                cfb.Encrypt(in, out.data() + from, n);
            else
                cfb.Decrypt(in, out.data() + from, n);
            from += n;
        }
    };
    pieces(0, prefix);
    // The resync takes the enciphered prefix: the output when enciphering.
    cfb.Resync(encrypt ? out.data() : data.data());
    pieces(prefix, data.size());
    return out;
}

struct PgpCipher {
    uint8_t id;
    int gcrypt;
    size_t blockSize, keySize;
};

void CheckPgpCfb(const PgpCipher& c, std::mt19937& random)
{
    for (int trial = 0; trial < 60; ++trial) {
        const size_t n = c.blockSize + 2 + (trial < 40 ? size_t(trial) * 7 : size_t(random() % 3000));
        const Bytes key = Random(random, c.keySize), data = Random(random, n);
        for (bool encrypt : {true, false}) {
            const Bytes expected = GcryptPgpCfb(c.gcrypt, c.blockSize, key, data, encrypt);
            for (bool inPlace : {false, true}) {
                SCOPED_TRACE(testing::Message() << "cipher " << int(c.id) << ", " << n << " bytes, "
                                                << (encrypt ? "encrypt" : "decrypt")
                                                << (inPlace ? ", in place" : ""));
                EXPECT_EQ(OursPgpCfb(c.id, key, data, encrypt, inPlace, random), expected);
            }
        }
    }
}

TEST_P(AesPaths, PgpCfbMatchesLibgcrypt)
{
    for (const PgpCipher& c : {PgpCipher{7, GCRY_CIPHER_AES128, 16, 16}, PgpCipher{8, GCRY_CIPHER_AES192, 16, 24},
                               PgpCipher{9, GCRY_CIPHER_AES256, 16, 32}})
        CheckPgpCfb(c, random_);
}

// Ciphers on the block-cipher defaults of the CFB runs: 16- and 8-byte blocks.
TEST(PgpCfbDefaults, MatchesLibgcrypt)
{
    std::mt19937 random(0xCFB);
    for (const PgpCipher& c : {PgpCipher{10, GCRY_CIPHER_TWOFISH, 16, 32}, PgpCipher{3, GCRY_CIPHER_CAST5, 8, 16},
                               PgpCipher{4, GCRY_CIPHER_BLOWFISH, 8, 16}})
        CheckPgpCfb(c, random);
}

} // namespace
