// What every block-cipher engine must do, run over all five: XAes (on the
// portable tables and on the AES instructions), XTwofish, XBlowfish, XCast
// and XTripleDes, and over engines that supply only the six required slots
// (so that XBlockCipher's own one-block-at-a-time loops are checked as well
// as the engines' batch overrides).
//
// Setup, the alarms without a key, whole messages in both modes with the
// filler, the chaining block carried from call to call, the batch functions
// against single blocks and the independent implementations, key records
// that round-trip, and malformed records that change nothing.  Each engine's
// own file keeps its published vectors and its own key rules.
#include "cipher/aes.h"
#include "cipher/blowfish.h"
#include "cipher/cast.h"
#include "cipher/triple_des.h"
#include "cipher/twofish.h"

#include "cipher_test_support.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace test_support;

// Only the slots every engine must supply, forwarded to a real engine; the
// batch functions are XBlockCipher's.
template <typename Engine>
class SlotsOnly : public XBlockCipher {
public:
    uint32_t BlockSize() const override { return inner_.BlockSize(); }
    void EncryptBlock(const uint8_t* in, uint8_t* out) const override { inner_.EncryptBlock(in, out); }
    void DecryptBlock(const uint8_t* in, uint8_t* out) const override { inner_.DecryptBlock(in, out); }
    void MakeKey(const XBlob& material, uint32_t length) override
    {
        inner_.filler = filler;
        inner_.MakeKey(material, length);
        MarkKeyReady();
    }
    void SetKey(const XBlob& record) override
    {
        inner_.SetKey(record);
        MarkKeyReady();
    }
    XBlob GetKey() const override { return inner_.GetKey(); }
    const Engine& Inner() const { return inner_; }

private:
    Engine inner_;
};

struct MalformedRecord {
    std::string what;
    Bytes record;
};

// One engine and what the battery needs to know about it.
struct CipherKind {
    const char* name; // the test-name suffix
    const char* source; // the source name of its alarms
    uint32_t blockSize;
    std::function<std::unique_ptr<XBlockCipher>()> make;
    bool selectsAesPath = false; // run on `aesPath`, skipped where the CPU lacks it
    AesEngine aesPath = AesEngine::kPortable;
    std::vector<size_t> keyLengths; // every key length the engine takes
    std::vector<size_t> mainKeyLengths; // a few, for the longer tests
    size_t keyedLength; // the key held while malformed records are offered
    std::function<Bytes(const Bytes& key)> record; // the record of exactly this key
    std::function<bool(size_t)> makeKeyTakes; // MakeKey(key, key length) under filler 0 loads exactly this key
    // A number the engine reports about its key (rounds, key length), and the
    // value it must have for a key length; null where there is none.
    std::function<uint32_t(const XBlockCipher&)> shape;
    std::function<uint32_t(size_t keyLength)> expectedShape;
    std::vector<CipherOracle> oracles; // the first runs everywhere, the others where noted
    std::vector<MalformedRecord> malformed;
};

// GoogleTest shows the parameter by this (ctest names the tests after it).
void PrintTo(const CipherKind& kind, std::ostream* out)
{
    *out << kind.name;
}

// --- the engines -------------------------------------------------------------------

// A record of `number` and `keyBytes` bytes of a fixed pattern.
Bytes PatternRecord(uint32_t number, size_t keyBytes)
{
    Bytes key(keyBytes);
    for (size_t i = 0; i < keyBytes; ++i)
        key[i] = uint8_t(0xa0 + i);
    return Record(number, key);
}

std::vector<size_t> Range(size_t from, size_t to)
{
    std::vector<size_t> v;
    for (size_t n = from; n <= to; ++n)
        v.push_back(n);
    return v;
}

std::vector<CipherOracle> AesOracles()
{
    return {{"OpenSSL", OpenSslAes}, {"nettle", NettleAes}, {"libgcrypt", GcryptAes}};
}

std::vector<MalformedRecord> AesMalformed()
{
    return {
        {"empty", {}},
        {"three bytes", {0, 0, 0}},
        {"round count alone", PatternRecord(10, 0)},
        {"19 bytes for 10 rounds", PatternRecord(10, 15)},
        {"21 bytes for 10 rounds", PatternRecord(10, 17)},
        {"36 bytes for 10 rounds", PatternRecord(10, 32)},
        {"20 bytes for 12 rounds", PatternRecord(12, 16)},
        {"36 bytes for 12 rounds", PatternRecord(12, 32)},
        {"28 bytes for 14 rounds", PatternRecord(14, 24)},
        {"35 bytes for 14 rounds", PatternRecord(14, 31)},
        {"11 rounds", PatternRecord(11, 32)},
        {"13 rounds", PatternRecord(13, 32)},
        {"0 rounds", PatternRecord(0, 32)},
        {"9 rounds", PatternRecord(9, 32)},
        {"15 rounds", PatternRecord(15, 32)},
        {"16 rounds", PatternRecord(16, 32)},
        {"round count 10 little-endian", PatternRecord(0x0a000000u, 16)},
        {"round count 0x10a", PatternRecord(0x10au, 16)},
        {"round count 2^32 - 1", PatternRecord(0xffffffffu, 32)},
    };
}

template <typename Aes>
CipherKind AesKind(const char* name, bool selectsPath, AesEngine path)
{
    CipherKind k;
    k.name = name;
    k.source = "AES";
    k.blockSize = 16;
    k.make = [] { return std::make_unique<Aes>(); };
    k.selectsAesPath = selectsPath;
    k.aesPath = path;
    k.keyLengths = k.mainKeyLengths = {16, 24, 32};
    k.keyedLength = 24;
    k.record = [](const Bytes& key) { return Record(uint32_t(key.size() / 4 + 6), key); };
    k.makeKeyTakes = [](size_t) { return true; };
    k.shape = [](const XBlockCipher& c) {
        if (auto* slots = dynamic_cast<const SlotsOnly<XAes>*>(&c))
            return slots->Inner().Rounds();
        return static_cast<const XAes&>(c).Rounds();
    };
    k.expectedShape = [](size_t n) { return uint32_t(n / 4 + 6); };
    k.oracles = AesOracles();
    k.malformed = AesMalformed();
    return k;
}

CipherKind TwofishKind()
{
    CipherKind k;
    k.name = "Twofish";
    k.source = "Twofish";
    k.blockSize = 16;
    k.make = [] { return std::make_unique<XTwofish>(); };
    k.keyLengths = k.mainKeyLengths = {16, 24, 32};
    k.keyedLength = 24;
    k.record = [](const Bytes& key) { return Record(uint32_t(key.size() / 8), key); };
    k.makeKeyTakes = [](size_t) { return true; };
    k.oracles = {{"nettle", NettleTwofish},
                 {"libgcrypt", GcryptTwofish, [](size_t n) { return n == 16 || n == 32; }}};
    k.malformed = {
        {"empty", {}},
        {"1 byte", {0x00}},
        {"4 bytes saying 2", {0x00, 0x00, 0x00, 0x02}},
        {"2 words, 15 key bytes", PatternRecord(2, 15)},
        {"2 words, 17 key bytes", PatternRecord(2, 17)},
        {"2 words, 24 key bytes", PatternRecord(2, 24)},
        {"3 words, 16 key bytes", PatternRecord(3, 16)},
        {"3 words, 32 key bytes", PatternRecord(3, 32)},
        {"4 words, 31 key bytes", PatternRecord(4, 31)},
        {"4 words, 33 key bytes", PatternRecord(4, 33)},
        {"0 words, 0 key bytes", PatternRecord(0, 0)},
        {"1 word, 8 key bytes", PatternRecord(1, 8)},
        {"5 words, 40 key bytes", PatternRecord(5, 40)},
        // 8 * words + 4 is 20 in 32-bit arithmetic.
        {"0x20000002 words, 16 key bytes", PatternRecord(0x20000002u, 16)},
        {"0xFFFFFFFF words, 36 key bytes", PatternRecord(0xFFFFFFFFu, 32)},
        {"key words little-endian", {0x02, 0x00, 0x00, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
    };
    return k;
}

CipherKind BlowfishKind()
{
    CipherKind k;
    k.name = "Blowfish";
    k.source = "Blowfish";
    k.blockSize = 8;
    k.make = [] { return std::make_unique<XBlowfish>(); };
    k.keyLengths = Range(1, 56);
    k.mainKeyLengths = {24, 8, 56};
    k.keyedLength = 20;
    k.record = [](const Bytes& key) { return Record(uint32_t(key.size()), key); };
    // Keys of 1 to 7 bytes come only from a record: MakeKey makes at least 8.
    k.makeKeyTakes = [](size_t n) { return n >= 8; };
    k.shape = [](const XBlockCipher& c) { return static_cast<const XBlowfish&>(c).KeyLength(); };
    k.expectedShape = [](size_t n) { return uint32_t(n); };
    k.oracles = {{"OpenSSL", [](Chaining c, bool e, const Bytes& key, const Bytes& iv,
                                const Bytes& data) { return OpenSsl("BF", c, e, key, iv, data); }},
                 {"nettle", NettleBlowfish, [](size_t n) { return n >= BLOWFISH_MIN_KEY_SIZE; }}};
    const Bytes seven = FromHex("01020304050607"), eight = FromHex("0102030405060708");
    k.malformed = {
        {"empty", {}},
        {"1 byte", {0x00}},
        {"3 bytes", {0x00, 0x00, 0x00}},
        {"exactly 4 bytes, length 0", {0x00, 0x00, 0x00, 0x00}},
        {"exactly 4 bytes, length 8", {0x00, 0x00, 0x00, 0x08}},
        {"length 0 in 5 bytes", Record(0, {0x55})},
        {"one key byte short", Record(8, seven)},
        {"one key byte over", Record(8, Concat(eight, {0x09}))},
        {"length 7, 8 key bytes", Record(7, eight)},
        {"consistent but 57 bytes", Record(57, Bytes(57, 0x11))},
        {"consistent but 100 bytes", Record(100, Bytes(100, 0x11))},
        {"length 2^32 - 1", Record(0xFFFFFFFF, Bytes(8, 0x11))},
        {"length 0x108, whose low byte alone would say 8", Record(0x00000108, eight)},
    };
    return k;
}

CipherKind CastKind()
{
    CipherKind k;
    k.name = "Cast";
    k.source = "CAST";
    k.blockSize = 8;
    k.make = [] { return std::make_unique<XCast>(); };
    // From 5 bytes (the oracles' minimum) to 16; up to 10 bytes the key has
    // 12 rounds and is padded with zeros to 16.
    k.keyLengths = Range(5, 16);
    k.mainKeyLengths = {16, 10};
    k.keyedLength = 7;
    k.record = [](const Bytes& key) {
        Bytes padded = key;
        padded.resize(16, 0);
        return Record(key.size() > 10 ? 16 : 12, padded);
    };
    k.makeKeyTakes = [](size_t) { return true; };
    k.shape = [](const XBlockCipher& c) { return static_cast<const XCast&>(c).Rounds(); };
    k.expectedShape = [](size_t n) { return n > 10 ? 16u : 12u; };
    k.oracles = {{"OpenSSL", [](Chaining c, bool e, const Bytes& key, const Bytes& iv,
                                const Bytes& data) { return OpenSsl("CAST5", c, e, key, iv, data); }},
                 {"nettle", NettleCast}};
    // Every record shorter than 20 bytes.
    const Bytes whole = Record(16, Bytes(16, 0x5A));
    for (size_t n = 0; n < 20; ++n)
        k.malformed.push_back({std::to_string(n) + "-byte record", Bytes(whole.begin(), whole.begin() + n)});
    return k;
}

template <typename TripleDes>
CipherKind TripleDesKind(const char* name)
{
    CipherKind k;
    k.name = name;
    k.source = "TripleDES";
    k.blockSize = 8;
    k.make = [] { return std::make_unique<TripleDes>(); };
    k.keyLengths = k.mainKeyLengths = {24};
    k.keyedLength = 24;
    k.record = [](const Bytes& key) { return key; }; // the 24 key bytes, no header
    k.makeKeyTakes = [](size_t) { return true; };
    k.oracles = {{"OpenSSL", [](Chaining c, bool e, const Bytes& key, const Bytes& iv,
                                const Bytes& data) { return OpenSsl("DES-EDE3", c, e, key, iv, data); }},
                 {"nettle", NettleTripleDes},
                 {"libgcrypt", GcryptTripleDes}};
    std::mt19937 random(19);
    for (size_t n : {0, 1, 7, 8, 16, 23})
        k.malformed.push_back({std::to_string(n) + "-byte record", RandomBytes(random, n)});
    return k;
}

class BlockCipherBattery : public ::testing::TestWithParam<CipherKind> {
protected:
    void SetUp() override
    {
        if (Kind().selectsAesPath && !AesSelectEngine(Kind().aesPath))
            GTEST_SKIP() << "this CPU has no AES instructions";
        key_ = RandomBytes(random_, Kind().mainKeyLengths[0]);
    }
    void TearDown() override
    {
        if (Kind().selectsAesPath)
            AesSelectEngine(BestAesEngine());
    }

    const CipherKind& Kind() const { return GetParam(); }
    size_t B() const { return Kind().blockSize; }
    std::unique_ptr<XBlockCipher> Make() const { return Kind().make(); }

    // Loads exactly `key`: by MakeKey from exactly its bytes under filler 0
    // (the filler set before stays), or from its record.
    void Load(XBlockCipher& engine, const Bytes& key, bool viaRecord = false) const
    {
        if (!viaRecord && Kind().makeKeyTakes(key.size())) {
            const uint8_t filler = engine.filler;
            engine.filler = 0;
            engine.MakeKey(BlobOf(key), uint32_t(key.size()));
            engine.filler = filler;
        } else {
            engine.SetKey(BlobOf(Kind().record(key)));
        }
    }

    // A set-up engine keyed with `key`.
    std::unique_ptr<XBlockCipher> Keyed(const Bytes& key, int mode, uint8_t filler = 0, bool viaRecord = false) const
    {
        auto engine = Make();
        engine->Setup(mode, filler);
        Load(*engine, key, viaRecord);
        return engine;
    }

    // The first oracle, which takes every key the engine takes.
    Bytes Oracle(Chaining chaining, bool encrypt, const Bytes& key, const Bytes& data, const Bytes& iv = {}) const
    {
        return Kind().oracles.front().run(chaining, encrypt, key, iv.empty() ? ZeroIv() : iv, data);
    }

    Bytes ZeroIv() const { return Bytes(B(), 0); }
    Bytes Pad(const Bytes& m, uint8_t filler) const { return PadWith(m, filler, B()); }
    Bytes ChainOf(const XBlockCipher& engine) const { return Bytes(engine.Chain(), engine.Chain() + B()); }
    Bytes LastBlock(const Bytes& v) const { return Bytes(v.end() - std::ptrdiff_t(B()), v.end()); }

    void ExpectShape(const XBlockCipher& engine, size_t keyLength) const
    {
        if (Kind().shape) {
            EXPECT_EQ(Kind().shape(engine), Kind().expectedShape(keyLength));
        }
    }

    std::mt19937 random_{41};
    Bytes key_;
};

INSTANTIATE_TEST_SUITE_P(
    Engines, BlockCipherBattery,
    ::testing::Values(AesKind<XAes>("AesPortable", true, AesEngine::kPortable),
                      AesKind<XAes>("AesNi", true, AesEngine::kAesNi),
                      AesKind<XAes>("AesVaes", true, AesEngine::kVaes),
                      AesKind<SlotsOnly<XAes>>("AesSlotsOnly", false, AesEngine::kPortable), TwofishKind(),
                      BlowfishKind(), CastKind(), TripleDesKind<XTripleDes>("TripleDes"),
                      TripleDesKind<SlotsOnly<XTripleDes>>("TripleDesSlotsOnly")),
    [](const ::testing::TestParamInfo<CipherKind>& info) { return std::string(info.param.name); });

// --- Setup -------------------------------------------------------------------------

TEST_P(BlockCipherBattery, SetupNormalisesModeAndFillerAndClearsChain)
{
    struct Case {
        int32_t mode;
        uint32_t filler;
        int32_t expectedMode;
        uint8_t expectedFiller;
    };
    const Case cases[] = {
        {2, 0, 2, 0},          {1, 0x41, 1, 0x41},      {0, 0x1ff, 1, 0xff},
        {3, 0x12345, 1, 0x45}, {-1, 0xffffff00u, 1, 0}, {INT_MIN, 0x80, 1, 0x80},
    };
    auto engine = Keyed(key_, 1);
    EXPECT_EQ(engine->BlockSize(), B());
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode));
        // Leave something in the chaining block first.
        engine->Encrypt(BlobOf(RandomBytes(random_, B())));
        ASSERT_NE(ChainOf(*engine), ZeroIv());
        engine->Setup(c.mode, c.filler);
        EXPECT_EQ(engine->mode, c.expectedMode);
        EXPECT_EQ(engine->filler, c.expectedFiller);
        EXPECT_EQ(ChainOf(*engine), ZeroIv());
    }
}

// --- without a key ----------------------------------------------------------------

// Encrypt and Decrypt raise "Invalid key" without a source, in any mode and
// for any length, and leave the chaining block; GetKey raises it with the
// engine's name, fresh or after Setup.
TEST_P(BlockCipherBattery, NoKeyRaisesInvalidKey)
{
    for (int mode : {1, 2, 0}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        auto engine = Make();
        engine->Setup(mode, 0);
        engine->mode = mode;
        for (size_t length : {size_t(0), size_t(5), B(), 2 * B()}) {
            const XBlob source = BlobOf(RandomBytes(random_, length));
            EXPECT_TRUE(RaisesAlarm([&] { engine->Encrypt(source); }, XMessage::kInvalidKey, nullptr));
            EXPECT_TRUE(RaisesAlarm([&] { engine->Decrypt(source); }, XMessage::kInvalidKey, nullptr));
        }
        EXPECT_EQ(ChainOf(*engine), ZeroIv());
        EXPECT_FALSE(engine->KeyReady());
    }
    auto fresh = Make();
    EXPECT_TRUE(RaisesAlarm([&] { fresh->GetKey(); }, XMessage::kInvalidKey, Kind().source));
    fresh->Setup(2, 0x20);
    EXPECT_TRUE(RaisesAlarm([&] { fresh->GetKey(); }, XMessage::kInvalidKey, Kind().source));
}

// A ciphertext that is not whole blocks is refused before anything happens,
// whatever the mode; the chaining block is untouched.
TEST_P(BlockCipherBattery, DecryptOfPartialBlockRaisesAndKeepsChain)
{
    for (int mode : {1, 2, 0, 3}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        auto engine = Keyed(key_, 2);
        engine->Encrypt(BlobOf(RandomBytes(random_, 40)));
        engine->mode = mode;
        const Bytes chain = ChainOf(*engine);
        for (size_t length : {size_t(1), B() - 1, B() + 1, 2 * B() - 1, 2 * B() + 1, 62 * B() + B() / 2}) {
            SCOPED_TRACE("length " + std::to_string(length));
            const XBlob source = BlobOf(RandomBytes(random_, length));
            EXPECT_TRUE(RaisesAlarm([&] { engine->Decrypt(source); }, XMessage::kUnableToDecrypt, nullptr));
            EXPECT_EQ(ChainOf(*engine), chain);
        }
        if (mode == 1 || mode == 2) {
            EXPECT_EQ(engine->Decrypt(BlobOf(RandomBytes(random_, B()))).Length(), B());
        }
    }
}

// --- lengths and padding -------------------------------------------------------------

TEST_P(BlockCipherBattery, EmptyInputGivesEmptyOutputAndKeepsChain)
{
    for (int mode : {1, 2}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        auto engine = Keyed(key_, mode);
        engine->Encrypt(BlobOf(RandomBytes(random_, 20)));
        const Bytes chain = ChainOf(*engine);
        EXPECT_EQ(engine->Encrypt(XBlob()).Length(), 0u);
        EXPECT_EQ(engine->Decrypt(XBlob()).Length(), 0u);
        EXPECT_EQ(ChainOf(*engine), chain);
    }
}

// One byte more than a block becomes two blocks whose second is that byte
// and fillers; deciphering keeps the fillers.
TEST_P(BlockCipherBattery, PartialLastBlockIsPaddedWithFiller)
{
    const Bytes m = RandomBytes(random_, B() + 1);
    for (int mode : {1, 2}) {
        for (uint8_t filler : {uint8_t(0), uint8_t(0x2a), uint8_t(0xff)}) {
            SCOPED_TRACE("mode " + std::to_string(mode) + ", filler " + std::to_string(filler));
            const Bytes padded = Pad(m, filler);
            ASSERT_EQ(padded.size(), 2 * B());
            auto engine = Keyed(key_, mode, filler);
            const Bytes ct = Content(engine->Encrypt(BlobOf(m)));
            EXPECT_EQ(ct, Oracle(mode == 1 ? Chaining::kEcb : Chaining::kCbc, true, key_, padded));

            auto fresh = Keyed(key_, mode, filler ^ 1);
            const Bytes back = Content(fresh->Decrypt(BlobOf(ct)));
            EXPECT_EQ(back, padded) << "the fillers stay in the plaintext";
        }
    }
}

// Modes other than 1 and 2 (stored directly, as the scriptable objects may)
// are refused by Encrypt and Decrypt, empty messages included, after the key
// and length checks; the chaining block stays.
TEST_P(BlockCipherBattery, OtherModesAreRefused)
{
    for (int32_t mode : {0, 3, -1, INT_MAX, INT_MIN}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        auto engine = Keyed(key_, 2);
        engine->Encrypt(BlobOf(RandomBytes(random_, B())));
        const Bytes chain = ChainOf(*engine);
        engine->mode = mode;
        for (size_t length : {size_t(0), size_t(1), B(), B() + 1, 4 * B()}) {
            const XBlob source = BlobOf(RandomBytes(random_, length));
            EXPECT_TRUE(RaisesAlarm([&] { engine->Encrypt(source); }, XMessage::kUnsupportedAlgorithm, nullptr));
            if (length % B() == 0) {
                EXPECT_TRUE(RaisesAlarm([&] { engine->Decrypt(source); }, XMessage::kUnsupportedAlgorithm, nullptr));
            }
        }
        EXPECT_EQ(ChainOf(*engine), chain);
        auto keyless = Kind().make();
        keyless->mode = mode;
        EXPECT_TRUE(RaisesAlarm([&] { keyless->Encrypt(XBlob()); }, XMessage::kInvalidKey, nullptr));
    }
}

// --- whole messages against the independent implementations ---------------------------

// Messages of every length up to a few blocks past the engines' interleaved
// groups, then longer ones up to a mebibyte, in both modes, under random keys
// and filler bytes.  The ciphertext is every oracle's on the filler-padded
// message; a freshly set-up engine deciphers it to the padded message, and
// deciphers random blocks as the oracles do.  One engine takes all the keys
// in turn, by MakeKey and from records.
TEST_P(BlockCipherBattery, MessagesMatchOracles)
{
    std::mt19937 random(2024);
    std::vector<size_t> lengths = Range(0, 90);
    for (size_t n : {127, 128, 129, 255, 257, 1000, 4095, 4096, 65537})
        lengths.push_back(n);
    for (int i = 0; i < 30; ++i)
        lengths.push_back(random() % 2000);
    for (int i = 0; i < 6; ++i)
        lengths.push_back(1000 + random() % 5000);
    lengths.push_back((1u << 20) + 5);

    const std::vector<size_t>& keyLengths = Kind().keyLengths;
    auto engine = Make();
    int trial = 0;
    for (int mode : {1, 2}) {
        const Chaining chaining = mode == 1 ? Chaining::kEcb : Chaining::kCbc;
        for (size_t i = 0; i < lengths.size(); ++i) {
            // Up to three key lengths for each message length, all of them
            // where the engine has no more.
            for (size_t j = 0; j < std::min<size_t>(3, keyLengths.size()); ++j, ++trial) {
                const size_t keyLength = keyLengths[(i * 3 + j) % keyLengths.size()];
                const Bytes key = RandomBytes(random, keyLength);
                const Bytes m = RandomBytes(random, lengths[i]);
                const uint8_t filler = uint8_t(random());
                const bool viaRecord = trial % 3 == 0;
                SCOPED_TRACE("mode " + std::to_string(mode) + ", " + std::to_string(m.size()) + " bytes, " +
                             std::to_string(keyLength) + "-byte key" + (viaRecord ? " from a record" : "") +
                             ", filler " + std::to_string(filler));
                const Bytes padded = Pad(m, filler);

                engine->Setup(mode, filler);
                Load(*engine, key, viaRecord);
                ExpectShape(*engine, keyLength);
                const Bytes ct = Content(engine->Encrypt(BlobOf(m)));
                ASSERT_EQ(ct.size(), padded.size());
                for (const CipherOracle& oracle : Kind().oracles) {
                    if (!oracle.takes(keyLength))
                        continue;
                    ASSERT_EQ(ct, oracle.run(chaining, true, key, ZeroIv(), padded)) << oracle.name;
                }

                engine->Setup(mode, filler);
                ASSERT_EQ(Content(engine->Decrypt(BlobOf(ct))), padded);
                if (m.size() > 70000)
                    continue; // the oracles' decryption is checked on the shorter ones
                const Bytes noise = RandomBytes(random, padded.size());
                for (const CipherOracle& oracle : Kind().oracles) {
                    if (!oracle.takes(keyLength))
                        continue;
                    engine->Setup(mode, filler);
                    ASSERT_EQ(Content(engine->Decrypt(BlobOf(noise))),
                              oracle.run(chaining, false, key, ZeroIv(), noise))
                        << oracle.name;
                }
            }
        }
    }
}

// Single blocks under random keys of every length, both directions, against
// every oracle: deciphering a random block agrees too, not only the round trip.
TEST_P(BlockCipherBattery, BlocksMatchOracles)
{
    std::mt19937 random(13);
    const std::vector<size_t>& keyLengths = Kind().keyLengths;
    const size_t trials = std::max<size_t>(300, keyLengths.size() * 3);
    for (size_t trial = 0; trial < trials; ++trial) {
        const size_t keyLength = keyLengths[trial % keyLengths.size()];
        const Bytes key = RandomBytes(random, keyLength);
        const Bytes block = RandomBytes(random, B());
        SCOPED_TRACE("trial " + std::to_string(trial) + ", " + std::to_string(keyLength) + "-byte key");
        auto engine = Keyed(key, 1, 0, trial % 2 == 1);
        Bytes ours(B()), oursInverse(B()), back(B());
        engine->EncryptBlock(block.data(), ours.data());
        engine->DecryptBlock(block.data(), oursInverse.data());
        engine->DecryptBlock(ours.data(), back.data());
        ASSERT_EQ(back, block);
        for (const CipherOracle& oracle : Kind().oracles) {
            if (!oracle.takes(keyLength))
                continue;
            ASSERT_EQ(ours, oracle.run(Chaining::kEcb, true, key, ZeroIv(), block)) << oracle.name;
            ASSERT_EQ(oursInverse, oracle.run(Chaining::kEcb, false, key, ZeroIv(), block)) << oracle.name;
        }
    }
}

// The batch functions for every count around the engines' interleaved groups
// (four and eight blocks side by side): against one block at a time and
// against the first oracle, out of place from addresses that are not
// aligned, and in place.  The chained function continues from the chaining
// block it is given and leaves the last ciphertext block in it.
TEST_P(BlockCipherBattery, BatchFunctionsMatchSingleBlocksAndOracle)
{
    std::mt19937 random(7);
    std::vector<size_t> counts = Range(0, 17);
    for (size_t n : {20, 23, 24, 31, 64, 67})
        counts.push_back(n);
    for (size_t keyLength : Kind().mainKeyLengths) {
        const Bytes key = RandomBytes(random, keyLength);
        auto engine = Keyed(key, 1);
        for (size_t count : counts) {
            SCOPED_TRACE(std::to_string(keyLength) + "-byte key, " + std::to_string(count) + " blocks");
            const size_t n = B() * count;
            const Bytes data = RandomBytes(random, n);
            const Bytes iv = RandomBytes(random, B());

            Bytes encrypted(n), decrypted(n), chained(n);
            Bytes chain = iv;
            for (size_t i = 0; i < count; ++i) {
                engine->EncryptBlock(&data[B() * i], &encrypted[B() * i]);
                engine->DecryptBlock(&data[B() * i], &decrypted[B() * i]);
                Bytes work(B());
                for (size_t j = 0; j < B(); ++j)
                    work[j] = uint8_t(chain[j] ^ data[B() * i + j]);
                engine->EncryptBlock(work.data(), chain.data());
                std::memcpy(&chained[B() * i], chain.data(), B());
            }
            ASSERT_EQ(encrypted, Oracle(Chaining::kEcb, true, key, data));
            ASSERT_EQ(decrypted, Oracle(Chaining::kEcb, false, key, data));
            ASSERT_EQ(chained, Oracle(Chaining::kCbc, true, key, data, iv));

            for (size_t offset : {0, 1, 3, 5}) {
                SCOPED_TRACE("offset " + std::to_string(offset));
                Bytes in(n + offset), out(n + offset);
                std::copy(data.begin(), data.end(), in.begin() + std::ptrdiff_t(offset));
                engine->EncryptBlocks(in.data() + offset, out.data() + offset, count);
                EXPECT_EQ(Bytes(out.begin() + std::ptrdiff_t(offset), out.end()), encrypted);
                engine->DecryptBlocks(in.data() + offset, out.data() + offset, count);
                EXPECT_EQ(Bytes(out.begin() + std::ptrdiff_t(offset), out.end()), decrypted);
                Bytes running = iv;
                engine->EncryptBlocksChained(in.data() + offset, out.data() + offset, count, running.data());
                EXPECT_EQ(Bytes(out.begin() + std::ptrdiff_t(offset), out.end()), chained);
                EXPECT_EQ(running, count ? LastBlock(chained) : iv);
            }

            Bytes inPlace = data;
            engine->EncryptBlocks(inPlace.data(), inPlace.data(), count);
            EXPECT_EQ(inPlace, encrypted);
            engine->DecryptBlocks(inPlace.data(), inPlace.data(), count);
            EXPECT_EQ(inPlace, data);
            engine->DecryptBlocks(inPlace.data(), inPlace.data(), count);
            EXPECT_EQ(inPlace, decrypted);
            inPlace = data;
            Bytes running = iv;
            engine->EncryptBlocksChained(inPlace.data(), inPlace.data(), count, running.data());
            EXPECT_EQ(inPlace, chained);
            EXPECT_EQ(running, count ? LastBlock(chained) : iv);
        }
    }
}

// --- the chaining block across calls ---------------------------------------------------

// Messages of many lengths against the oracle, and the chaining block left
// behind: the last ciphertext block after Encrypt (both modes) and after
// Decrypt in mode 2, the last plaintext block after Decrypt in mode 1.
TEST_P(BlockCipherBattery, ChainHoldsLastBlockAfterEachCall)
{
    for (int mode : {1, 2}) {
        for (size_t length : {1, 16, 31, 32, 100, 129, 1024}) {
            SCOPED_TRACE("mode " + std::to_string(mode) + ", length " + std::to_string(length));
            const uint8_t filler = uint8_t(random_());
            const Bytes m = RandomBytes(random_, length);
            const Bytes padded = Pad(m, filler);
            const Chaining chaining = mode == 1 ? Chaining::kEcb : Chaining::kCbc;

            auto engine = Keyed(key_, mode, filler);
            const Bytes ct = Content(engine->Encrypt(BlobOf(m)));
            ASSERT_EQ(ct, Oracle(chaining, true, key_, padded));
            EXPECT_EQ(ChainOf(*engine), LastBlock(ct));

            engine->Setup(mode, filler);
            EXPECT_EQ(Content(engine->Decrypt(BlobOf(ct))), padded);
            EXPECT_EQ(ChainOf(*engine), LastBlock(mode == 1 ? padded : ct));
        }
    }
}

// Consecutive Encrypt calls continue one chain in mode 2, and stand alone in
// mode 1; so do Decrypt calls.  Split anywhere at a block boundary, the calls
// give what one call gives (and the oracle).
TEST_P(BlockCipherBattery, ConsecutiveCallsContinueTheChain)
{
    for (int mode : {2, 1}) {
        const Chaining chaining = mode == 1 ? Chaining::kEcb : Chaining::kCbc;
        for (size_t firstLength : {size_t(0), B(), 3 * B(), 10 * B(), 11 * B()}) {
            for (size_t secondLength : {0, 1, 16, 33, 69, 200}) {
                SCOPED_TRACE("mode " + std::to_string(mode) + ", " + std::to_string(firstLength) + " + " +
                             std::to_string(secondLength));
                const Bytes a = RandomBytes(random_, firstLength), b = RandomBytes(random_, secondLength);
                const Bytes whole = Pad(Concat(a, b), 0x5c);
                auto split = Keyed(key_, mode, 0x5c);
                const Bytes first = Content(split->Encrypt(BlobOf(a)));
                const Bytes twoCalls = Concat(first, Content(split->Encrypt(BlobOf(b))));
                auto single = Keyed(key_, mode, 0x5c);
                EXPECT_EQ(twoCalls, Content(single->Encrypt(BlobOf(Concat(a, b)))));
                EXPECT_EQ(twoCalls, Oracle(chaining, true, key_, whole));

                auto reader = Keyed(key_, mode);
                const Bytes backA =
                    Content(reader->Decrypt(BlobOf(Bytes(twoCalls.begin(), twoCalls.begin() + a.size()))));
                const Bytes backB =
                    Content(reader->Decrypt(BlobOf(Bytes(twoCalls.begin() + a.size(), twoCalls.end()))));
                EXPECT_EQ(Concat(backA, backB), whole);
            }
        }
    }

    // Three calls, the last one partial, then deciphered in 48-byte pieces.
    for (size_t keyLength : Kind().mainKeyLengths) {
        SCOPED_TRACE(std::to_string(keyLength) + "-byte key");
        const Bytes key = RandomBytes(random_, keyLength);
        const Bytes first = RandomBytes(random_, 80), second = RandomBytes(random_, 16), third = RandomBytes(random_, 37);
        const uint8_t filler = 0xC3;
        const Bytes whole = Pad(Concat(Concat(first, second), third), filler);

        auto sender = Keyed(key, 2, filler);
        Bytes cipher = Content(sender->Encrypt(BlobOf(first)));
        cipher = Concat(cipher, Content(sender->Encrypt(BlobOf(second))));
        cipher = Concat(cipher, Content(sender->Encrypt(BlobOf(third))));
        ASSERT_EQ(cipher, Oracle(Chaining::kCbc, true, key, whole));
        EXPECT_EQ(ChainOf(*sender), LastBlock(cipher));

        auto receiver = Keyed(key, 2, 0);
        Bytes plain;
        for (size_t p = 0; p < cipher.size(); p += 48) {
            const Bytes piece(cipher.begin() + std::ptrdiff_t(p),
                              cipher.begin() + std::ptrdiff_t(std::min(cipher.size(), p + 48)));
            plain = Concat(plain, Content(receiver->Decrypt(BlobOf(piece))));
        }
        EXPECT_EQ(plain, whole);
    }
}

// Decrypt right after Encrypt on one engine starts from the last ciphertext
// block instead of zeros: only the first block comes out wrong, XORed with
// that block.  A freshly set-up engine deciphers cleanly.
TEST_P(BlockCipherBattery, DecryptAfterEncryptWithoutSetupGarblesFirstBlock)
{
    const Bytes m = RandomBytes(random_, 70);
    const Bytes padded = Pad(m, 0x11);
    auto engine = Keyed(key_, 2, 0x11);
    const Bytes ct = Content(engine->Encrypt(BlobOf(m)));
    const Bytes lastCipherBlock = LastBlock(ct);

    Bytes expected = padded;
    for (size_t i = 0; i < B(); ++i)
        expected[i] ^= lastCipherBlock[i];
    EXPECT_EQ(Content(engine->Decrypt(BlobOf(ct))), expected);

    auto fresh = Keyed(key_, 2, 0x11);
    EXPECT_EQ(Content(fresh->Decrypt(BlobOf(ct))), padded);
}

// Switching from mode 1 to mode 2 without Setup: the first chaining step uses
// the block mode 1 left behind, after Encrypt (a ciphertext block) and after
// Decrypt (a plaintext block).
TEST_P(BlockCipherBattery, ModeOneThenModeTwoChainsFromLastModeOneBlock)
{
    const Bytes first = RandomBytes(random_, 40), second = RandomBytes(random_, 50);

    auto engine = Keyed(key_, 1);
    const Bytes ecb = Content(engine->Encrypt(BlobOf(first)));
    engine->mode = 2;
    EXPECT_EQ(Content(engine->Encrypt(BlobOf(second))),
              Oracle(Chaining::kCbc, true, key_, Pad(second, 0), LastBlock(ecb)));

    auto decryptor = Keyed(key_, 1);
    const Bytes plain = Content(decryptor->Decrypt(BlobOf(ecb)));
    EXPECT_EQ(plain, Pad(first, 0));
    decryptor->mode = 2;
    EXPECT_EQ(Content(decryptor->Encrypt(BlobOf(second))),
              Oracle(Chaining::kCbc, true, key_, Pad(second, 0), LastBlock(plain)));
}

// A new key, by MakeKey or SetKey, and changes of filler and mode through the
// fields keep the chaining block.
TEST_P(BlockCipherBattery, ChainSurvivesNewKeyAndFieldChanges)
{
    const Bytes otherKey = RandomBytes(random_, Kind().keyLengths.back());
    const Bytes m = RandomBytes(random_, 48);
    for (bool viaRecord : {false, true}) {
        SCOPED_TRACE(viaRecord ? "SetKey" : "MakeKey");
        auto engine = Keyed(key_, 2);
        engine->Encrypt(BlobOf(RandomBytes(random_, 32)));
        const Bytes chain = ChainOf(*engine);
        Load(*engine, otherKey, viaRecord);
        engine->filler = 0x77;
        engine->mode = 1;
        engine->mode = 2;
        EXPECT_EQ(ChainOf(*engine), chain);
        EXPECT_EQ(Content(engine->Encrypt(BlobOf(m))), Oracle(Chaining::kCbc, true, otherKey, m, chain));
    }
}

// --- key records -----------------------------------------------------------------------

// Every key length: the key MakeKey loads reads back as its record; a fresh
// engine loaded from that record is keyed, reads back the same record and
// enciphers alike (and as the oracle does).  One engine loading the records
// from the longest key to the shortest and back shows that nothing of a
// longer previous key survives.
TEST_P(BlockCipherBattery, RecordsRoundTrip)
{
    std::vector<size_t> order = Kind().keyLengths;
    std::reverse(order.begin(), order.end());
    order.insert(order.end(), Kind().keyLengths.begin(), Kind().keyLengths.end());
    auto reused = Make();
    reused->Setup(2, 0x33);
    for (size_t keyLength : order) {
        SCOPED_TRACE(std::to_string(keyLength) + "-byte key");
        const Bytes key = RandomBytes(random_, keyLength);
        const Bytes m = RandomBytes(random_, 100);
        const Bytes record = Kind().record(key);

        auto made = Keyed(key, 2, 0x33);
        if (Kind().makeKeyTakes(keyLength)) {
            EXPECT_EQ(Content(made->GetKey()), record);
        }
        auto loaded = Make();
        loaded->Setup(2, 0x33);
        EXPECT_FALSE(loaded->KeyReady());
        loaded->SetKey(made->GetKey());
        EXPECT_TRUE(loaded->KeyReady());
        ExpectShape(*loaded, keyLength);
        EXPECT_EQ(Content(loaded->GetKey()), record);
        reused->SetKey(BlobOf(record));
        EXPECT_EQ(Content(reused->GetKey()), record);
        ExpectShape(*reused, keyLength);

        const Bytes expected = Oracle(Chaining::kCbc, true, key, Pad(m, 0x33));
        EXPECT_EQ(Content(made->Encrypt(BlobOf(m))), expected);
        EXPECT_EQ(Content(loaded->Encrypt(BlobOf(m))), expected);
        reused->Setup(2, 0x33);
        EXPECT_EQ(Content(reused->Encrypt(BlobOf(m))), expected);
        reused->Setup(2, 0x33);
        EXPECT_EQ(Content(reused->Decrypt(BlobOf(expected))), Pad(m, 0x33));
    }
}

// A second key, by either path, replaces the first completely, from the
// longest key to the shortest: the record and the cipher in both directions
// follow the new key alone.
TEST_P(BlockCipherBattery, NewKeyReplacesTheOldOne)
{
    const Bytes first = RandomBytes(random_, Kind().keyLengths.back());
    const Bytes second = RandomBytes(random_, Kind().keyLengths.front());
    const Bytes m = RandomBytes(random_, 6 * B());
    for (bool firstViaRecord : {false, true}) {
        for (bool secondViaRecord : {false, true}) {
            SCOPED_TRACE(std::string(firstViaRecord ? "SetKey" : "MakeKey") + " then " +
                         (secondViaRecord ? "SetKey" : "MakeKey"));
            auto engine = Keyed(first, 1, 0, firstViaRecord);
            Load(*engine, second, secondViaRecord);
            ExpectShape(*engine, second.size());
            EXPECT_EQ(Content(engine->GetKey()), Kind().record(second));
            EXPECT_EQ(Content(engine->Encrypt(BlobOf(m))), Oracle(Chaining::kEcb, true, second, m));
            EXPECT_EQ(Content(engine->Decrypt(BlobOf(m))), Oracle(Chaining::kEcb, false, second, m));
        }
    }
}

// Every malformed record raises "Data is corrupted" with the engine's name
// and leaves the loaded key (record, schedule, rounds or length) in place, or
// an unkeyed engine unkeyed.
TEST_P(BlockCipherBattery, MalformedRecordsChangeNothing)
{
    const Bytes key = RandomBytes(random_, Kind().keyedLength);
    const Bytes m = RandomBytes(random_, 48);
    for (const MalformedRecord& bad : Kind().malformed) {
        SCOPED_TRACE(bad.what);
        auto keyed = Keyed(key, 1);
        const Bytes record = Content(keyed->GetKey());
        const Bytes ct = Content(keyed->Encrypt(BlobOf(m)));
        ASSERT_EQ(ct, Oracle(Chaining::kEcb, true, key, m));
        EXPECT_TRUE(RaisesAlarm([&] { keyed->SetKey(BlobOf(bad.record)); }, XMessage::kDataCorrupted, Kind().source));
        EXPECT_TRUE(keyed->KeyReady());
        EXPECT_EQ(Content(keyed->GetKey()), record);
        ExpectShape(*keyed, Kind().keyedLength);
        EXPECT_EQ(Content(keyed->Encrypt(BlobOf(m))), ct);
        EXPECT_EQ(Content(keyed->Decrypt(BlobOf(ct))), m);

        auto unkeyed = Make();
        unkeyed->Setup(1, 0);
        EXPECT_TRUE(
            RaisesAlarm([&] { unkeyed->SetKey(BlobOf(bad.record)); }, XMessage::kDataCorrupted, Kind().source));
        EXPECT_FALSE(unkeyed->KeyReady());
        EXPECT_TRUE(RaisesAlarm([&] { unkeyed->GetKey(); }, XMessage::kInvalidKey, Kind().source));
    }
}

} // namespace
