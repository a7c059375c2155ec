// XAes: the FIPS-197 vectors, agreement with OpenSSL, nettle and libgcrypt,
// the key-size rules of MakeKey, key records and the refusal of malformed
// ones.  Everything that enciphers runs over both implementations (portable
// tables and AES-NI).
#include "cipher/aes.h"

#include "aes_test_support.h"

#include <gcrypt.h>
#include <nettle/aes.h>

#include <fstream>
#include <ostream>
#include <sstream>

// GoogleTest shows the parameter by this (ctest names the tests after it);
// found by argument-dependent lookup, so beside the enumeration.
static void PrintTo(AesEngine engine, std::ostream* out)
{
    *out << (engine == AesEngine::kAesNi ? "AES-NI" : "portable");
}

namespace {

using namespace aes_test;

// --- both implementations ------------------------------------------------

class AesEngineTest : public ::testing::TestWithParam<AesEngine> {
protected:
    void SetUp() override
    {
        if (!AesSelectEngine(GetParam()))
            GTEST_SKIP() << "this CPU has no AES instructions";
    }
    void TearDown() override { AesSelectEngine(BestAesEngine()); }
};

std::string EngineName(const ::testing::TestParamInfo<AesEngine>& info)
{
    return info.param == AesEngine::kAesNi ? "AesNi" : "Portable";
}

INSTANTIATE_TEST_SUITE_P(Engines, AesEngineTest, ::testing::Values(AesEngine::kPortable, AesEngine::kAesNi),
                         EngineName);

struct KnownAnswer {
    const char* name;
    const char* key;
    const char* plaintext;
    const char* ciphertext;
};

const KnownAnswer kFips197[] = {
    // Appendix B (cipher example).
    {"B", "2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "3925841d02dc09fbdc118597196a0b32"},
    // Appendix C.1 to C.3 (example vectors for the three key sizes).
    {"C.1", "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"C.2", "000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"C.3", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
};

// The key comes from MakeKey with exactly K bytes and length K, the
// ciphertext from the block functions (also in place), the batch functions
// and the whole-message codebook mode.
TEST_P(AesEngineTest, Fips197Vectors)
{
    for (const KnownAnswer& v : kFips197) {
        SCOPED_TRACE(v.name);
        const Bytes key = FromHex(v.key), pt = FromHex(v.plaintext), ct = FromHex(v.ciphertext);
        XAes aes;
        aes.Setup(1, 0);
        aes.MakeKey(BlobOf(key), uint32_t(key.size()));
        EXPECT_EQ(aes.Rounds(), key.size() / 4 + 6);

        Bytes block(16);
        aes.EncryptBlock(pt.data(), block.data());
        EXPECT_EQ(block, ct);
        aes.DecryptBlock(block.data(), block.data());
        EXPECT_EQ(block, pt);
        aes.EncryptBlock(block.data(), block.data());
        EXPECT_EQ(block, ct);

        Bytes three = Concat(Concat(pt, pt), pt);
        aes.EncryptBlocks(three.data(), three.data(), 3);
        EXPECT_EQ(three, Concat(Concat(ct, ct), ct));
        aes.DecryptBlocks(three.data(), three.data(), 3);
        EXPECT_EQ(three, Concat(Concat(pt, pt), pt));

        EXPECT_EQ(Content(aes.Encrypt(BlobOf(pt))), ct);
        EXPECT_EQ(Content(aes.Decrypt(BlobOf(ct))), pt);
    }
}

// The batch functions against OpenSSL for every count that exercises the
// eight-block, four-block and single-block parts of the fast path, from an
// address that is not 16-byte aligned and in place.
TEST_P(AesEngineTest, BatchFunctionsMatchOpenSsl)
{
    std::mt19937 random(7);
    for (uint32_t keySize : {16u, 24u, 32u}) {
        const Bytes key = RandomBytes(random, keySize);
        XAes aes;
        aes.MakeKey(BlobOf(key), keySize);
        for (size_t count : {0, 1, 2, 3, 4, 5, 7, 8, 9, 11, 12, 13, 15, 16, 17, 20, 23, 24, 31, 64, 67}) {
            SCOPED_TRACE("key " + std::to_string(keySize) + ", " + std::to_string(count) + " blocks");
            const Bytes data = RandomBytes(random, 16 * count);
            const Bytes iv = RandomBytes(random, 16);
            const Bytes ecb = OpenSslAes(Chaining::kEcb, true, key, iv, data);
            const Bytes ecbInverse = OpenSslAes(Chaining::kEcb, false, key, iv, data);
            const Bytes cbc = OpenSslAes(Chaining::kCbc, true, key, iv, data);

            // One byte past an aligned start.
            std::vector<uint8_t> in(data.size() + 1), out(data.size() + 1);
            std::copy(data.begin(), data.end(), in.begin() + 1);
            aes.EncryptBlocks(in.data() + 1, out.data() + 1, count);
            EXPECT_EQ(Bytes(out.begin() + 1, out.end()), ecb);
            aes.DecryptBlocks(in.data() + 1, out.data() + 1, count);
            EXPECT_EQ(Bytes(out.begin() + 1, out.end()), ecbInverse);

            Bytes inPlace = data;
            aes.EncryptBlocks(inPlace.data(), inPlace.data(), count);
            EXPECT_EQ(inPlace, ecb);
            aes.DecryptBlocks(inPlace.data(), inPlace.data(), count);
            EXPECT_EQ(inPlace, data);

            Bytes chain = iv;
            aes.EncryptBlocksChained(in.data() + 1, out.data() + 1, count, chain.data());
            EXPECT_EQ(Bytes(out.begin() + 1, out.end()), cbc);
            EXPECT_EQ(chain, count ? Bytes(cbc.end() - 16, cbc.end()) : iv);
            chain = iv;
            inPlace = data;
            aes.EncryptBlocksChained(inPlace.data(), inPlace.data(), count, chain.data());
            EXPECT_EQ(inPlace, cbc);
        }
    }
}

// Whole messages of random lengths (partial last blocks padded with a random
// filler) in both modes against OpenSSL without padding over the plaintext
// padded here; then the fresh decryption gives the padded plaintext back.
TEST_P(AesEngineTest, MessagesMatchOpenSsl)
{
    std::mt19937 random(11);
    std::vector<size_t> lengths = {0, 1, 15, 16, 17, 31, 32, 33, 127, 128, 129, 255, 257};
    for (int i = 0; i < 30; ++i)
        lengths.push_back(random() % 2000);
    lengths.push_back((1u << 20) + 5);

    for (uint32_t keySize : {16u, 24u, 32u}) {
        for (int mode : {1, 2}) {
            for (size_t length : lengths) {
                SCOPED_TRACE("key " + std::to_string(keySize) + ", mode " + std::to_string(mode) + ", length " +
                             std::to_string(length));
                const Bytes key = RandomBytes(random, keySize);
                const Bytes m = RandomBytes(random, length);
                const uint8_t filler = uint8_t(random());
                const Bytes padded = PadWith(m, filler);
                const Chaining chaining = mode == 1 ? Chaining::kEcb : Chaining::kCbc;

                XAes aes;
                aes.Setup(mode, filler);
                aes.MakeKey(BlobOf(key), keySize);
                const Bytes ct = Content(aes.Encrypt(BlobOf(m)));
                ASSERT_EQ(ct, OpenSslAes(chaining, true, key, ZeroIv(), padded));

                aes.Setup(mode, filler);
                EXPECT_EQ(Content(aes.Decrypt(BlobOf(ct))), padded);
            }
        }
    }
}

// Two more independent implementations, on single blocks under random keys.
TEST_P(AesEngineTest, BlocksMatchNettleAndLibgcrypt)
{
    ASSERT_NE(gcry_check_version(nullptr), nullptr);
    std::mt19937 random(13);
    for (uint32_t keySize : {16u, 24u, 32u}) {
        for (int i = 0; i < 50; ++i) {
            const Bytes key = RandomBytes(random, keySize);
            const Bytes pt = RandomBytes(random, 16);
            Bytes nettle(16), nettleInverse(16);
            if (keySize == 16) {
                aes128_ctx e, d;
                aes128_set_encrypt_key(&e, key.data());
                aes128_set_decrypt_key(&d, key.data());
                aes128_encrypt(&e, 16, nettle.data(), pt.data());
                aes128_decrypt(&d, 16, nettleInverse.data(), pt.data());
            } else if (keySize == 24) {
                aes192_ctx e, d;
                aes192_set_encrypt_key(&e, key.data());
                aes192_set_decrypt_key(&d, key.data());
                aes192_encrypt(&e, 16, nettle.data(), pt.data());
                aes192_decrypt(&d, 16, nettleInverse.data(), pt.data());
            } else {
                aes256_ctx e, d;
                aes256_set_encrypt_key(&e, key.data());
                aes256_set_decrypt_key(&d, key.data());
                aes256_encrypt(&e, 16, nettle.data(), pt.data());
                aes256_decrypt(&d, 16, nettleInverse.data(), pt.data());
            }

            const int algorithm =
                keySize == 16 ? GCRY_CIPHER_AES128 : keySize == 24 ? GCRY_CIPHER_AES192 : GCRY_CIPHER_AES256;
            gcry_cipher_hd_t handle;
            ASSERT_EQ(gcry_cipher_open(&handle, algorithm, GCRY_CIPHER_MODE_ECB, 0), 0);
            Bytes gcrypt(16);
            ASSERT_EQ(gcry_cipher_setkey(handle, key.data(), key.size()), 0);
            ASSERT_EQ(gcry_cipher_encrypt(handle, gcrypt.data(), 16, pt.data(), 16), 0);
            gcry_cipher_close(handle);

            XAes aes;
            aes.MakeKey(BlobOf(key), keySize);
            Bytes ours(16), oursInverse(16);
            aes.EncryptBlock(pt.data(), ours.data());
            aes.DecryptBlock(pt.data(), oursInverse.data());
            ASSERT_EQ(ours, nettle) << "key size " << keySize;
            ASSERT_EQ(ours, gcrypt) << "key size " << keySize;
            ASSERT_EQ(oursInverse, nettleInverse) << "key size " << keySize;
        }
    }
}

// --- keys ------------------------------------------------------------------

// The key size MakeKey picks from `length` (unsigned), seen through the key
// record and through the ciphertext of the key OpenSSL is given.
TEST(XAesKeys, MakeKeyLengthSelectsKeySize)
{
    struct Case {
        uint32_t length;
        uint32_t rounds;
    };
    const Case cases[] = {
        {0, 10},  {1, 10},  {15, 10},  {16, 10},  {20, 10},   {23, 10},         {24, 12},          {25, 12},
        {31, 12}, {32, 14}, {33, 14},  {128, 14}, {256, 14},  {0x7fffffffu, 14}, {0x80000000u, 14}, {0xffffffffu, 14},
    };
    std::mt19937 random(17);
    const Bytes material = RandomBytes(random, 40);
    const Bytes block = RandomBytes(random, 16);
    for (const Case& c : cases) {
        SCOPED_TRACE("length " + std::to_string(c.length));
        XAes aes;
        aes.Setup(1, 0);
        aes.MakeKey(BlobOf(material), c.length);
        EXPECT_TRUE(aes.KeyReady());
        EXPECT_EQ(aes.Rounds(), c.rounds);
        const uint32_t keySize = c.rounds == 10 ? 16 : c.rounds == 12 ? 24 : 32;
        const Bytes key(material.begin(), material.begin() + keySize);

        XBlob expectedRecord;
        expectedRecord.AppendLong(c.rounds);
        expectedRecord.AppendBytes(key.data(), keySize);
        EXPECT_EQ(Content(aes.GetKey()), Content(expectedRecord));
        EXPECT_EQ(Content(aes.Encrypt(BlobOf(block))), OpenSslAes(Chaining::kEcb, true, key, ZeroIv(), block));
    }
}

// Material shorter than the key is completed with the filler of the time of
// the call; longer material is cut; a later filler change keeps the key.
TEST(XAesKeys, MakeKeyPadsShortMaterialWithFiller)
{
    struct Case {
        size_t materialSize;
        uint32_t length;
        uint8_t filler;
        size_t keySize;
    };
    const Case cases[] = {
        {10, 16, 0x00, 16}, {0, 16, 0x00, 16}, {0, 32, 0xff, 32}, {5, 24, 0x2a, 24},
        {23, 24, 0x80, 24}, {31, 32, 0x01, 32}, {20, 16, 0x55, 16}, {40, 24, 0x55, 24},
    };
    std::mt19937 random(19);
    const Bytes block = RandomBytes(random, 16);
    for (const Case& c : cases) {
        SCOPED_TRACE("material " + std::to_string(c.materialSize) + ", length " + std::to_string(c.length));
        const Bytes material = RandomBytes(random, c.materialSize);
        Bytes key(material.begin(), material.begin() + std::min(c.materialSize, c.keySize));
        key.resize(c.keySize, c.filler);

        XAes aes;
        aes.Setup(1, c.filler);
        aes.MakeKey(BlobOf(material), c.length);
        aes.filler = uint8_t(c.filler + 1);
        const Bytes record = Content(aes.GetKey());
        ASSERT_EQ(record.size(), c.keySize + 4);
        EXPECT_EQ(Bytes(record.begin() + 4, record.end()), key);
        EXPECT_EQ(Content(aes.Encrypt(BlobOf(block))), OpenSslAes(Chaining::kEcb, true, key, ZeroIv(), block));
    }
}

// A shorter key after a longer one: the record and the cipher follow the new
// key alone.
TEST(XAesKeys, ShorterKeyReplacesLongerOne)
{
    std::mt19937 random(23);
    const Bytes long_ = RandomBytes(random, 32), short_ = RandomBytes(random, 16);
    const Bytes block = RandomBytes(random, 16);
    XAes aes;
    aes.Setup(1, 0);
    aes.MakeKey(BlobOf(long_), 32);
    aes.MakeKey(BlobOf(short_), 16);
    EXPECT_EQ(Content(aes.GetKey()), Concat(FromHex("0000000a"), short_));
    EXPECT_EQ(Content(aes.Encrypt(BlobOf(block))), OpenSslAes(Chaining::kEcb, true, short_, ZeroIv(), block));
}

TEST(XAesKeys, RecordsRoundTrip)
{
    std::mt19937 random(29);
    const Bytes message = RandomBytes(random, 100);
    for (uint32_t keySize : {16u, 24u, 32u}) {
        SCOPED_TRACE("key " + std::to_string(keySize));
        const Bytes material = RandomBytes(random, keySize);
        XAes made;
        made.Setup(2, 0x33);
        made.MakeKey(BlobOf(material), keySize);
        const XBlob record = made.GetKey();
        const uint32_t rounds = keySize / 4 + 6;
        EXPECT_EQ(Content(record), Concat(Bytes{0, 0, 0, uint8_t(rounds)}, material));

        XAes loaded;
        loaded.Setup(2, 0x33);
        EXPECT_FALSE(loaded.KeyReady());
        loaded.SetKey(record);
        EXPECT_TRUE(loaded.KeyReady());
        EXPECT_EQ(loaded.Rounds(), rounds);
        EXPECT_EQ(Content(loaded.GetKey()), Content(record));
        EXPECT_EQ(Content(loaded.Encrypt(BlobOf(message))), Content(made.Encrypt(BlobOf(message))));
    }

    // A record typed in: FIPS-197 C.2 under round count 12.
    XAes aes;
    aes.Setup(1, 0);
    aes.SetKey(BlobOf(FromHex("0000000c000102030405060708090a0b0c0d0e0f1011121314151617")));
    EXPECT_EQ(Content(aes.Encrypt(BlobOf(FromHex("00112233445566778899aabbccddeeff")))),
              FromHex("dda97ca4864cdfe06eaf70a0ec0d7191"));
}

TEST(XAesKeys, GetKeyWithoutKeyRaisesInvalidKey)
{
    XAes aes;
    aes.Setup(1, 0);
    EXPECT_TRUE(RaisesAlarm([&] { aes.GetKey(); }, XMessage::kInvalidKey, "AES"));
    try {
        aes.GetKey();
    } catch (const XAlarm& alarm) {
        char text[64];
        alarm.Text(text, sizeof text - 1);
        EXPECT_STREQ(text, "Crypto System: Invalid key - AES");
    }
}

// Every malformed record raises "Data is corrupted" from "AES" and leaves
// the loaded key (record, round count, schedule) in place, or an unkeyed
// engine unkeyed.
TEST(XAesKeys, MalformedRecordsChangeNothing)
{
    auto record = [](uint32_t rounds, size_t keyBytes) {
        XBlob r;
        r.AppendLong(rounds);
        for (size_t i = 0; i < keyBytes; ++i)
            r.AppendByte(uint8_t(0xa0 + i));
        return r;
    };
    struct Case {
        const char* name;
        XBlob record;
    };
    XBlob three;
    three.AppendBytes("\0\0\0", 3);
    const Case cases[] = {
        {"empty", XBlob()},
        {"three bytes", three},
        {"round count alone", record(10, 0)},
        {"19 bytes for 10 rounds", record(10, 15)},
        {"21 bytes for 10 rounds", record(10, 17)},
        {"36 bytes for 10 rounds", record(10, 32)},
        {"20 bytes for 12 rounds", record(12, 16)},
        {"36 bytes for 12 rounds", record(12, 32)},
        {"28 bytes for 14 rounds", record(14, 24)},
        {"35 bytes for 14 rounds", record(14, 31)},
        {"11 rounds", record(11, 32)},
        {"13 rounds", record(13, 32)},
        {"0 rounds", record(0, 32)},
        {"9 rounds", record(9, 32)},
        {"15 rounds", record(15, 32)},
        {"16 rounds", record(16, 32)},
        {"round count 10 little-endian", record(0x0a000000u, 16)},
        {"round count 0x10a", record(0x10au, 16)},
        {"round count 2^32 - 1", record(0xffffffffu, 32)},
    };

    std::mt19937 random(31);
    const Bytes key = RandomBytes(random, 24);
    const Bytes message = RandomBytes(random, 48);
    const Bytes expected = OpenSslAes(Chaining::kEcb, true, key, ZeroIv(), message);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        XAes keyed;
        keyed.Setup(1, 0);
        keyed.MakeKey(BlobOf(key), 24);
        const Bytes before = Content(keyed.GetKey());
        EXPECT_TRUE(RaisesAlarm([&] { keyed.SetKey(c.record); }, XMessage::kDataCorrupted, "AES"));
        EXPECT_EQ(Content(keyed.GetKey()), before);
        EXPECT_EQ(keyed.Rounds(), 12u);
        EXPECT_EQ(Content(keyed.Encrypt(BlobOf(message))), expected);
        EXPECT_EQ(Content(keyed.Decrypt(BlobOf(expected))), message);

        XAes fresh;
        fresh.Setup(1, 0);
        EXPECT_TRUE(RaisesAlarm([&] { fresh.SetKey(c.record); }, XMessage::kDataCorrupted, "AES"));
        EXPECT_FALSE(fresh.KeyReady());
    }
}

// --- the implementations ---------------------------------------------------

// Both implementations read the same schedules, so the process may switch
// between them while an engine stays keyed.
TEST(XAesEngines, SwitchingKeepsResults)
{
    if (!AesEngineAvailable(AesEngine::kAesNi))
        GTEST_SKIP() << "this CPU has no AES instructions";
    std::mt19937 random(37);
    for (uint32_t keySize : {16u, 24u, 32u}) {
        XAes aes;
        aes.Setup(2, 0);
        aes.MakeKey(BlobOf(RandomBytes(random, keySize)), keySize);
        const Bytes m = RandomBytes(random, 300);

        ASSERT_TRUE(AesSelectEngine(AesEngine::kAesNi));
        EXPECT_EQ(AesActiveEngine(), AesEngine::kAesNi);
        const Bytes fast = Content(aes.Encrypt(BlobOf(m)));
        ASSERT_TRUE(AesSelectEngine(AesEngine::kPortable));
        EXPECT_EQ(AesActiveEngine(), AesEngine::kPortable);
        aes.Setup(2, 0);
        EXPECT_EQ(Content(aes.Encrypt(BlobOf(m))), fast);
        aes.Setup(2, 0);
        const Bytes back = Content(aes.Decrypt(BlobOf(fast)));
        ASSERT_TRUE(AesSelectEngine(AesEngine::kAesNi));
        EXPECT_EQ(back, PadWith(m, 0));
    }
    AesSelectEngine(BestAesEngine());
}

// A detection that failed on a CPU that has the instructions would quietly
// skip the fast path and its tests; compare with what the kernel reports.
TEST(XAesEngines, DetectionAgreesWithKernel)
{
    EXPECT_TRUE(AesEngineAvailable(AesEngine::kPortable));
#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    bool kernelSaysAes = false;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("flags", 0) != 0)
            continue;
        std::istringstream words(line);
        std::string word;
        while (words >> word)
            kernelSaysAes = kernelSaysAes || word == "aes";
        break;
    }
    EXPECT_EQ(AesEngineAvailable(AesEngine::kAesNi), kernelSaysAes);
#else
    GTEST_SKIP() << "no /proc/cpuinfo on this platform";
#endif
}

} // namespace
