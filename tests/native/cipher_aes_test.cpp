// XAes: the FIPS-197 vectors on both implementations (portable tables and
// AES-NI), the key-size rules of MakeKey, a record typed in, and the choice
// between the implementations.  What every block cipher does (messages and
// blocks against OpenSSL, nettle and libgcrypt, the batch functions, the
// chaining block, key records, malformed records, the alarms) is checked by
// cipher_battery_test.cpp over both implementations.
#include "cipher/aes.h"

#include "cipher_test_support.h"

#include <algorithm>
#include <fstream>
#include <ostream>
#include <sstream>

// GoogleTest shows the parameter by this (ctest names the tests after it);
// found by argument-dependent lookup, so beside the enumeration.
static void PrintTo(AesEngine engine, std::ostream* out)
{
    *out << (engine == AesEngine::kVaes ? "VAES" : engine == AesEngine::kAesNi ? "AES-NI" : "portable");
}

namespace {

using namespace test_support;

// --- every implementation ------------------------------------------------
// (XAes's own functions run the AES-NI code under kVaes too; they are run
// there to show that.)

class AesEngineTest : public ::testing::TestWithParam<AesEngine> {
protected:
    void SetUp() override
    {
        if (!AesSelectEngine(GetParam()))
            GTEST_SKIP() << "this CPU lacks these AES instructions";
    }
    void TearDown() override { AesSelectEngine(BestAesEngine()); }
};

std::string EngineName(const ::testing::TestParamInfo<AesEngine>& info)
{
    return info.param == AesEngine::kVaes ? "Vaes" : info.param == AesEngine::kAesNi ? "AesNi" : "Portable";
}

INSTANTIATE_TEST_SUITE_P(Engines, AesEngineTest,
                         ::testing::Values(AesEngine::kPortable, AesEngine::kAesNi, AesEngine::kVaes), EngineName);

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
        EXPECT_EQ(Content(aes.Encrypt(BlobOf(block))), OpenSslAes(Chaining::kEcb, true, key, Bytes(16, 0), block));
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
        {10, 16, 0x00, 16}, {5, 16, 0x2a, 16}, {0, 16, 0x00, 16}, {0, 32, 0xff, 32}, {5, 24, 0x2a, 24},
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
        EXPECT_EQ(Content(aes.Encrypt(BlobOf(block))), OpenSslAes(Chaining::kEcb, true, key, Bytes(16, 0), block));
    }
}

// A record typed in: FIPS-197 C.2 under round count 12.
TEST(XAesKeys, TypedInRecordLoads)
{
    XAes aes;
    aes.Setup(1, 0);
    aes.SetKey(BlobOf(FromHex("0000000c000102030405060708090a0b0c0d0e0f1011121314151617")));
    EXPECT_EQ(aes.Rounds(), 12u);
    EXPECT_EQ(Content(aes.Encrypt(BlobOf(FromHex("00112233445566778899aabbccddeeff")))),
              FromHex("dda97ca4864cdfe06eaf70a0ec0d7191"));
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
        EXPECT_EQ(back, PadWith(m, 0, 16));
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
    bool kernelSaysAes = false, kernelSaysVaes = false, kernelSaysVpclmulqdq = false, kernelSaysAvx2 = false;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("flags", 0) != 0)
            continue;
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            kernelSaysAes = kernelSaysAes || word == "aes";
            kernelSaysVaes = kernelSaysVaes || word == "vaes";
            kernelSaysVpclmulqdq = kernelSaysVpclmulqdq || word == "vpclmulqdq";
            kernelSaysAvx2 = kernelSaysAvx2 || word == "avx2";
        }
        break;
    }
    EXPECT_EQ(AesEngineAvailable(AesEngine::kAesNi), kernelSaysAes);
    EXPECT_EQ(AesEngineAvailable(AesEngine::kVaes),
              kernelSaysAes && kernelSaysVaes && kernelSaysVpclmulqdq && kernelSaysAvx2);
#else
    GTEST_SKIP() << "no /proc/cpuinfo on this platform";
#endif
}

} // namespace
