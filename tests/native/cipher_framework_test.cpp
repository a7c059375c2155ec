// XBlockCipher: Setup, whole-message Encrypt/Decrypt in both modes, padding
// with the filler, the alarms, and the chaining block carried from call to
// call.  AES is the engine, with OpenSSL's AES as the reference.
//
// Every test runs twice: with XAes itself, and with an engine that supplies
// only the six block-cipher slots (its block functions are XAes's), so that
// the framework's own one-block-at-a-time loops are checked as well as
// XAes's batch overrides.
#include "cipher/block_cipher.h"

#include "aes_test_support.h"

#include <climits>
#include <functional>
#include <ostream>

namespace {

using namespace aes_test;

// Only the slots every engine must supply; the batch functions are the
// framework's.
class SlotsOnlyAes : public XBlockCipher {
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

private:
    XAes inner_;
};

struct EngineKind {
    const char* name;
    std::function<std::unique_ptr<XBlockCipher>()> make;
};

// GoogleTest shows the parameter by this (ctest names the tests after it).
void PrintTo(const EngineKind& kind, std::ostream* out)
{
    *out << kind.name;
}

class FrameworkTest : public ::testing::TestWithParam<EngineKind> {
protected:
    std::unique_ptr<XBlockCipher> Make() const { return GetParam().make(); }

    // A set-up engine keyed with `key`.
    std::unique_ptr<XBlockCipher> Keyed(const Bytes& key, int mode, uint8_t filler = 0) const
    {
        auto engine = Make();
        engine->Setup(mode, filler);
        engine->MakeKey(BlobOf(key), uint32_t(key.size()));
        return engine;
    }

    static Bytes ChainOf(const XBlockCipher& engine)
    {
        return Bytes(engine.Chain(), engine.Chain() + engine.BlockSize());
    }

    std::mt19937 random_{41};
    Bytes key_ = RandomBytes(random_, 16);
};

INSTANTIATE_TEST_SUITE_P(Engines, FrameworkTest,
                         ::testing::Values(EngineKind{"XAes", [] { return std::make_unique<XAes>(); }},
                                           EngineKind{"SlotsOnly", [] { return std::make_unique<SlotsOnlyAes>(); }}),
                         [](const ::testing::TestParamInfo<EngineKind>& info) { return info.param.name; });

// --- Setup -------------------------------------------------------------------

TEST_P(FrameworkTest, SetupNormalisesModeAndFillerAndClearsChain)
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
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode));
        // Leave something in the chaining block first.
        engine->Encrypt(BlobOf(RandomBytes(random_, 16)));
        ASSERT_NE(ChainOf(*engine), Bytes(16, 0));
        engine->Setup(c.mode, c.filler);
        EXPECT_EQ(engine->mode, c.expectedMode);
        EXPECT_EQ(engine->filler, c.expectedFiller);
        EXPECT_EQ(ChainOf(*engine), Bytes(16, 0));
    }
}

// --- alarms ------------------------------------------------------------------

TEST_P(FrameworkTest, NoKeyRaisesInvalidKeyWithoutSource)
{
    for (int mode : {1, 2, 0}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        auto engine = Make();
        engine->Setup(mode, 0);
        engine->mode = mode;
        for (size_t length : {0, 5, 16, 32}) {
            const XBlob source = BlobOf(RandomBytes(random_, length));
            EXPECT_TRUE(RaisesAlarm([&] { engine->Encrypt(source); }, XMessage::kInvalidKey, nullptr));
            EXPECT_TRUE(RaisesAlarm([&] { engine->Decrypt(source); }, XMessage::kInvalidKey, nullptr));
        }
        EXPECT_EQ(ChainOf(*engine), Bytes(16, 0));
    }
    auto engine = Make();
    engine->Setup(1, 0);
    try {
        engine->Encrypt(XBlob());
        ADD_FAILURE() << "no alarm";
    } catch (const XAlarm& alarm) {
        char text[64];
        alarm.Text(text, sizeof text - 1);
        EXPECT_STREQ(text, "Crypto System: Invalid key");
    }
}

// A ciphertext that is not whole blocks is refused before anything happens,
// whatever the mode; the chaining block is untouched.
TEST_P(FrameworkTest, DecryptOfPartialBlockRaisesAndKeepsChain)
{
    for (int mode : {1, 2, 0, 3}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        auto engine = Keyed(key_, 2);
        engine->Encrypt(BlobOf(RandomBytes(random_, 40)));
        engine->mode = mode;
        const Bytes chain = ChainOf(*engine);
        for (size_t length : {1, 15, 17, 31, 33, 1000}) {
            SCOPED_TRACE("length " + std::to_string(length));
            const XBlob source = BlobOf(RandomBytes(random_, length));
            EXPECT_TRUE(RaisesAlarm([&] { engine->Decrypt(source); }, XMessage::kUnableToDecrypt, nullptr));
            EXPECT_EQ(ChainOf(*engine), chain);
        }
        EXPECT_EQ(engine->Decrypt(BlobOf(RandomBytes(random_, 16))).Length(), mode == 1 || mode == 2 ? 16u : 0u);
    }
}

// --- lengths and padding -------------------------------------------------------

TEST_P(FrameworkTest, EmptyInputGivesEmptyOutputAndKeepsChain)
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

// 17 bytes become two blocks whose second is byte 16 and fifteen fillers.
TEST_P(FrameworkTest, PartialLastBlockIsPaddedWithFiller)
{
    const Bytes m = RandomBytes(random_, 17);
    for (int mode : {1, 2}) {
        for (uint8_t filler : {uint8_t(0), uint8_t(0x2a), uint8_t(0xff)}) {
            SCOPED_TRACE("mode " + std::to_string(mode) + ", filler " + std::to_string(filler));
            const Bytes padded = PadWith(m, filler);
            ASSERT_EQ(padded.size(), 32u);
            auto engine = Keyed(key_, mode, filler);
            const Bytes ct = Content(engine->Encrypt(BlobOf(m)));
            EXPECT_EQ(ct, OpenSslAes(mode == 1 ? Chaining::kEcb : Chaining::kCbc, true, key_, ZeroIv(), padded));

            auto fresh = Keyed(key_, mode, filler ^ 1);
            const Bytes back = Content(fresh->Decrypt(BlobOf(ct)));
            EXPECT_EQ(back, padded) << "the fillers stay in the plaintext";
        }
    }
}

// Modes other than 1 and 2 (stored directly, as the scriptable objects may)
// encipher nothing and raise nothing; the chaining block stays.
TEST_P(FrameworkTest, OtherModesGiveEmptyResults)
{
    for (int32_t mode : {0, 3, -1, INT_MAX, INT_MIN}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        auto engine = Keyed(key_, 2);
        engine->Encrypt(BlobOf(RandomBytes(random_, 16)));
        const Bytes chain = ChainOf(*engine);
        engine->mode = mode;
        for (size_t length : {0, 1, 16, 17, 64}) {
            const XBlob source = BlobOf(RandomBytes(random_, length));
            EXPECT_EQ(engine->Encrypt(source).Length(), 0u);
            if (length % 16 == 0) {
                EXPECT_EQ(engine->Decrypt(source).Length(), 0u);
            }
        }
        EXPECT_EQ(ChainOf(*engine), chain);
    }
}

// --- the chaining block across calls --------------------------------------------

// Messages of many lengths against OpenSSL, and the chaining block left
// behind: the last ciphertext block after Encrypt (both modes) and after
// Decrypt in mode 2, the last plaintext block after Decrypt in mode 1.
TEST_P(FrameworkTest, ChainHoldsLastBlockAfterEachCall)
{
    for (int mode : {1, 2}) {
        for (size_t length : {1, 16, 31, 32, 100, 129, 1024}) {
            SCOPED_TRACE("mode " + std::to_string(mode) + ", length " + std::to_string(length));
            const uint8_t filler = uint8_t(random_());
            const Bytes m = RandomBytes(random_, length);
            const Bytes padded = PadWith(m, filler);
            const Chaining chaining = mode == 1 ? Chaining::kEcb : Chaining::kCbc;

            auto engine = Keyed(key_, mode, filler);
            const Bytes ct = Content(engine->Encrypt(BlobOf(m)));
            ASSERT_EQ(ct, OpenSslAes(chaining, true, key_, ZeroIv(), padded));
            EXPECT_EQ(ChainOf(*engine), Bytes(ct.end() - 16, ct.end()));

            engine->Setup(mode, filler);
            EXPECT_EQ(Content(engine->Decrypt(BlobOf(ct))), padded);
            const Bytes& last = mode == 1 ? padded : ct;
            EXPECT_EQ(ChainOf(*engine), Bytes(last.end() - 16, last.end()));
        }
    }
}

// Consecutive Encrypt calls in mode 2 continue one chain; so do Decrypt calls.
TEST_P(FrameworkTest, ConsecutiveCallsContinueTheChain)
{
    for (size_t firstLength : {16, 48, 160}) {
        for (size_t secondLength : {1, 16, 33, 200}) {
            SCOPED_TRACE(std::to_string(firstLength) + " + " + std::to_string(secondLength));
            const Bytes a = RandomBytes(random_, firstLength), b = RandomBytes(random_, secondLength);
            auto split = Keyed(key_, 2, 0x5c);
            const Bytes first = Content(split->Encrypt(BlobOf(a)));
            const Bytes twoCalls = Concat(first, Content(split->Encrypt(BlobOf(b))));
            auto whole = Keyed(key_, 2, 0x5c);
            EXPECT_EQ(twoCalls, Content(whole->Encrypt(BlobOf(Concat(a, b)))));
            EXPECT_EQ(twoCalls, OpenSslAes(Chaining::kCbc, true, key_, ZeroIv(), PadWith(Concat(a, b), 0x5c)));

            auto reader = Keyed(key_, 2);
            const Bytes backA = Content(reader->Decrypt(BlobOf(Bytes(twoCalls.begin(), twoCalls.begin() + a.size()))));
            const Bytes backB = Content(reader->Decrypt(BlobOf(Bytes(twoCalls.begin() + a.size(), twoCalls.end()))));
            EXPECT_EQ(Concat(backA, backB), PadWith(Concat(a, b), 0x5c));
        }
    }
}

// Decrypt right after Encrypt on one engine starts from the last ciphertext
// block instead of zeros: only the first block comes out wrong, XORed with
// that block.  A freshly set-up engine deciphers cleanly.
TEST_P(FrameworkTest, DecryptAfterEncryptWithoutSetupGarblesFirstBlock)
{
    const Bytes m = RandomBytes(random_, 70);
    const Bytes padded = PadWith(m, 0x11);
    auto engine = Keyed(key_, 2, 0x11);
    const Bytes ct = Content(engine->Encrypt(BlobOf(m)));
    const Bytes lastCipherBlock(ct.end() - 16, ct.end());

    Bytes expected = padded;
    for (int i = 0; i < 16; ++i)
        expected[i] ^= lastCipherBlock[i];
    EXPECT_EQ(Content(engine->Decrypt(BlobOf(ct))), expected);

    auto fresh = Keyed(key_, 2, 0x11);
    EXPECT_EQ(Content(fresh->Decrypt(BlobOf(ct))), padded);
}

// Switching from mode 1 to mode 2 without Setup: the first chaining step uses
// the block mode 1 left behind, after Encrypt (a ciphertext block) and after
// Decrypt (a plaintext block).
TEST_P(FrameworkTest, ModeOneThenModeTwoChainsFromLastModeOneBlock)
{
    const Bytes first = RandomBytes(random_, 40), second = RandomBytes(random_, 50);

    auto engine = Keyed(key_, 1);
    const Bytes ecb = Content(engine->Encrypt(BlobOf(first)));
    const Bytes iv(ecb.end() - 16, ecb.end());
    engine->mode = 2;
    EXPECT_EQ(Content(engine->Encrypt(BlobOf(second))),
              OpenSslAes(Chaining::kCbc, true, key_, iv, PadWith(second, 0)));

    auto decryptor = Keyed(key_, 1);
    const Bytes plain = Content(decryptor->Decrypt(BlobOf(ecb)));
    EXPECT_EQ(plain, PadWith(first, 0));
    const Bytes plainIv(plain.end() - 16, plain.end());
    decryptor->mode = 2;
    EXPECT_EQ(Content(decryptor->Encrypt(BlobOf(second))),
              OpenSslAes(Chaining::kCbc, true, key_, plainIv, PadWith(second, 0)));
}

// A new key, by MakeKey or SetKey, and changes of filler and mode through the
// fields keep the chaining block.
TEST_P(FrameworkTest, ChainSurvivesNewKeyAndFieldChanges)
{
    const Bytes otherKey = RandomBytes(random_, 32);
    const Bytes m = RandomBytes(random_, 48);
    for (bool viaRecord : {false, true}) {
        SCOPED_TRACE(viaRecord ? "SetKey" : "MakeKey");
        auto engine = Keyed(key_, 2);
        engine->Encrypt(BlobOf(RandomBytes(random_, 32)));
        const Bytes chain = ChainOf(*engine);
        if (viaRecord) {
            XBlob record;
            record.AppendLong(14);
            record.Append(BlobOf(otherKey));
            engine->SetKey(record);
        } else {
            engine->MakeKey(BlobOf(otherKey), 32);
        }
        engine->filler = 0x77;
        engine->mode = 1;
        engine->mode = 2;
        EXPECT_EQ(ChainOf(*engine), chain);
        EXPECT_EQ(Content(engine->Encrypt(BlobOf(m))), OpenSslAes(Chaining::kCbc, true, otherKey, chain, m));
    }
}

// --- MakeKey's common rule --------------------------------------------------------

TEST_P(FrameworkTest, MakeKeyPadsMaterialWithFiller)
{
    const Bytes material = {1, 2, 3, 4, 5};
    Bytes key = material;
    key.resize(16, 0x2a);
    auto engine = Make();
    engine->Setup(1, 0x2a);
    engine->MakeKey(BlobOf(material), 16);
    EXPECT_EQ(Content(engine->GetKey()), Concat(FromHex("0000000a"), key));
    const Bytes block = RandomBytes(random_, 16);
    EXPECT_EQ(Content(engine->Encrypt(BlobOf(block))), OpenSslAes(Chaining::kEcb, true, key, ZeroIv(), block));
}

} // namespace
