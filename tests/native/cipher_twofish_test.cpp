// Twofish engine: the designers' published known answers and their iterated,
// variable-key and variable-text tables; agreement with nettle (all key
// sizes) and libgcrypt (128- and 256-bit keys; it refuses 192-bit Twofish
// keys); the key size that MakeKey picks and its filler padding; key records
// and the records that are refused; whole messages in both chaining modes
// with a padded last block; and the multi-block paths against single blocks.
#include "cipher/twofish.h"

#include "core/alarm.h"

#include <gcrypt.h>
#include <gtest/gtest.h>
#include <nettle/cbc.h>
#include <nettle/twofish.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
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

// The plaintext followed by filler bytes up to a whole number of blocks.
Bytes Padded(Bytes data, uint8_t filler)
{
    while (data.size() % 16)
        data.push_back(filler);
    return data;
}

// --- independent implementations -------------------------------------------

enum class Mode { kEcb, kCbc };

// nettle's block functions with the signature its CBC functions take.
void NettleEncrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src)
{
    twofish_encrypt(static_cast<const twofish_ctx*>(context), length, dst, src);
}

void NettleDecrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src)
{
    twofish_decrypt(static_cast<const twofish_ctx*>(context), length, dst, src);
}

// nettle, any key size; CBC from a zero initialisation vector.
Bytes Nettle(const Bytes& key, Mode mode, bool encrypt, const Bytes& data)
{
    twofish_ctx context;
    twofish_set_key(&context, key.size(), key.data());
    Bytes out(data.size());
    uint8_t iv[16] = {};
    nettle_cipher_func* f = encrypt ? NettleEncrypt : NettleDecrypt;
    if (mode == Mode::kEcb)
        f(&context, data.size(), out.data(), data.data());
    else if (encrypt)
        cbc_encrypt(&context, f, 16, iv, data.size(), out.data(), data.data());
    else
        cbc_decrypt(&context, f, 16, iv, data.size(), out.data(), data.data());
    return out;
}

bool GcryptReady()
{
    static const bool ready = [] {
        if (!gcry_check_version(nullptr))
            return false;
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    return ready;
}

// libgcrypt, 128- or 256-bit keys; CBC from a zero initialisation vector.
Bytes Gcrypt(const Bytes& key, Mode mode, bool encrypt, const Bytes& data)
{
    EXPECT_TRUE(key.size() == 16 || key.size() == 32);
    if (!GcryptReady()) {
        ADD_FAILURE() << "libgcrypt did not initialise";
        return {};
    }
    gcry_cipher_hd_t handle = nullptr;
    const int gmode = mode == Mode::kEcb ? GCRY_CIPHER_MODE_ECB : GCRY_CIPHER_MODE_CBC;
    if (gcry_cipher_open(&handle, GCRY_CIPHER_TWOFISH, gmode, 0)) {
        ADD_FAILURE() << "gcry_cipher_open";
        return {};
    }
    Bytes out(data.size());
    gcry_error_t error = gcry_cipher_setkey(handle, key.data(), key.size());
    if (!error && mode == Mode::kCbc) {
        const uint8_t iv[16] = {};
        error = gcry_cipher_setiv(handle, iv, sizeof iv);
    }
    if (!error && !data.empty())
        error = encrypt ? gcry_cipher_encrypt(handle, out.data(), out.size(), data.data(), data.size())
                        : gcry_cipher_decrypt(handle, out.data(), out.size(), data.data(), data.size());
    gcry_cipher_close(handle);
    if (error) {
        ADD_FAILURE() << "libgcrypt: " << gcry_strerror(error);
        return {};
    }
    return out;
}

bool GcryptTakes(const Bytes& key)
{
    return key.size() == 16 || key.size() == 32;
}

// --- the engine under test ---------------------------------------------------

// An engine set up in `mode` with `filler`, keyed by MakeKey from exactly the
// key bytes with the matching length.
std::unique_ptr<XTwofish> Keyed(const Bytes& key, int32_t mode = 1, uint8_t filler = 0)
{
    auto engine = std::make_unique<XTwofish>();
    engine->Setup(mode, filler);
    engine->MakeKey(BlobOf(key), uint32_t(key.size()));
    return engine;
}

Bytes EncryptOne(const XTwofish& engine, const Bytes& block)
{
    Bytes out(16);
    engine.EncryptBlock(block.data(), out.data());
    return out;
}

Bytes DecryptOne(const XTwofish& engine, const Bytes& block)
{
    Bytes out(16);
    engine.DecryptBlock(block.data(), out.data());
    return out;
}

Bytes KeyRecord(uint32_t words, const Bytes& key)
{
    XBlob record;
    record.AppendLong(words);
    record.AppendBytes(key.data(), uint32_t(key.size()));
    return Content(record);
}

const uint32_t kKeySizes[] = {16, 24, 32};

// --- published known answers ---------------------------------------------------

TEST(TwofishKnownAnswer, PublishedVectors)
{
    struct Case {
        const char* key;
        const char* plain;
        const char* cipher;
    };
    const Case cases[] = {
        // Zero keys and the first steps of the 128-bit iterated table.
        {"00000000000000000000000000000000", "00000000000000000000000000000000", "9F589F5CF6122C32B6BFEC2F2AE8C35A"},
        {"00000000000000000000000000000000", "9F589F5CF6122C32B6BFEC2F2AE8C35A", "D491DB16E7B1C39E86CB086B789F5419"},
        {"9F589F5CF6122C32B6BFEC2F2AE8C35A", "D491DB16E7B1C39E86CB086B789F5419", "019F9809DE1711858FAAC3A3BA20FBC3"},
        {"000000000000000000000000000000000000000000000000", "00000000000000000000000000000000",
         "EFA71F788965BD4453F860178FC19101"},
        {"0000000000000000000000000000000000000000000000000000000000000000", "00000000000000000000000000000000",
         "57FF739D4DC92C1BD7FC01700CC8216F"},
        // The vectors of the designers' paper for 192- and 256-bit keys.
        {"0123456789ABCDEFFEDCBA98765432100011223344556677", "00000000000000000000000000000000",
         "CFD1D2E5A9BE9CDF501F13B892BD2248"},
        {"0123456789ABCDEFFEDCBA987654321000112233445566778899AABBCCDDEEFF", "00000000000000000000000000000000",
         "37527BE0052334B89F0CFCCAE87CFA20"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        const Bytes key = FromHex(c.key), plain = FromHex(c.plain), cipher = FromHex(c.cipher);
        auto engine = Keyed(key);
        EXPECT_EQ(EncryptOne(*engine, plain), cipher);
        EXPECT_EQ(DecryptOne(*engine, cipher), plain);
        // The same through the whole-message interface.
        EXPECT_EQ(Content(engine->Encrypt(BlobOf(plain))), cipher);
        EXPECT_EQ(Content(engine->Decrypt(BlobOf(cipher))), plain);
    }
}

// The designers' iterated table: 49 steps from a zero key and block; each
// step's plaintext is the previous ciphertext and its key is the previous
// plaintext followed by the previous key, cut to the key size.  Every step
// is compared with the independent implementations, and the last one with
// the published value.
TEST(TwofishKnownAnswer, IteratedTableMatchesOraclesAndPublishedEnd)
{
    struct Case {
        uint32_t keyBytes;
        const char* last;
    };
    const Case cases[] = {
        {16, "5D9D4EEFFA9151575524F115815A12E0"},
        {24, "E75449212BEEF9F4A390BD860A640941"},
        {32, "37FE26FF1CF66175F5DDF4C33B97A205"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.keyBytes * 8 << "-bit key");
        Bytes key(c.keyBytes, 0), plain(16, 0), cipher;
        for (int step = 1; step <= 49; ++step) {
            SCOPED_TRACE(testing::Message() << "step " << step);
            auto engine = Keyed(key);
            cipher = EncryptOne(*engine, plain);
            ASSERT_EQ(cipher, Nettle(key, Mode::kEcb, true, plain));
            if (GcryptTakes(key)) {
                ASSERT_EQ(cipher, Gcrypt(key, Mode::kEcb, true, plain));
            }
            ASSERT_EQ(DecryptOne(*engine, cipher), plain);
            Bytes next = Concat(plain, key);
            next.resize(c.keyBytes);
            key = next;
            plain = cipher;
        }
        EXPECT_EQ(cipher, FromHex(c.last));
    }
}

// The designers' variable-key table (one key bit set, zero plaintext) and
// variable-text table (zero key, one plaintext bit set), for every key size.
TEST(TwofishKnownAnswer, VariableKeyAndVariableTextTablesMatchOracles)
{
    const Bytes zeroBlock(16, 0);
    for (uint32_t keyBytes : kKeySizes) {
        SCOPED_TRACE(testing::Message() << keyBytes * 8 << "-bit key");
        for (uint32_t bit = 0; bit < keyBytes * 8; ++bit) {
            Bytes key(keyBytes, 0);
            key[bit / 8] = uint8_t(0x80 >> (bit % 8));
            auto engine = Keyed(key);
            const Bytes cipher = EncryptOne(*engine, zeroBlock);
            ASSERT_EQ(cipher, Nettle(key, Mode::kEcb, true, zeroBlock)) << "key bit " << bit;
            if (GcryptTakes(key)) {
                ASSERT_EQ(cipher, Gcrypt(key, Mode::kEcb, true, zeroBlock)) << "key bit " << bit;
            }
            ASSERT_EQ(DecryptOne(*engine, cipher), zeroBlock) << "key bit " << bit;
        }
        const Bytes zeroKey(keyBytes, 0);
        auto engine = Keyed(zeroKey);
        for (uint32_t bit = 0; bit < 128; ++bit) {
            Bytes plain(16, 0);
            plain[bit / 8] = uint8_t(0x80 >> (bit % 8));
            const Bytes cipher = EncryptOne(*engine, plain);
            ASSERT_EQ(cipher, Nettle(zeroKey, Mode::kEcb, true, plain)) << "text bit " << bit;
            if (GcryptTakes(zeroKey)) {
                ASSERT_EQ(cipher, Gcrypt(zeroKey, Mode::kEcb, true, plain)) << "text bit " << bit;
            }
            ASSERT_EQ(DecryptOne(*engine, cipher), plain) << "text bit " << bit;
        }
    }
}

TEST(TwofishOracles, RandomKeysAndBlocks)
{
    std::mt19937 random(0x7F15);
    for (int round = 0; round < 300; ++round) {
        const Bytes key = RandomBytes(random, kKeySizes[round % 3]);
        const Bytes plain = RandomBytes(random, 16);
        SCOPED_TRACE(testing::Message() << "round " << round << ", " << key.size() << "-byte key");
        auto engine = Keyed(key);
        const Bytes cipher = EncryptOne(*engine, plain);
        ASSERT_EQ(cipher, Nettle(key, Mode::kEcb, true, plain));
        if (GcryptTakes(key)) {
            ASSERT_EQ(cipher, Gcrypt(key, Mode::kEcb, true, plain));
        }
        // Deciphering a random block agrees too, not only the round trip.
        ASSERT_EQ(DecryptOne(*engine, plain), Nettle(key, Mode::kEcb, false, plain));
        ASSERT_EQ(DecryptOne(*engine, cipher), plain);
    }
}

// --- MakeKey -------------------------------------------------------------------

TEST(TwofishMakeKey, LengthPicksKeySizeRoundingUp)
{
    struct Case {
        uint32_t length;
        uint32_t keyBytes;
    };
    const Case cases[] = {
        {0, 16},  {1, 16},  {15, 16}, {16, 16}, {17, 24},  {20, 24},  {24, 24},
        {25, 32}, {31, 32}, {32, 32}, {33, 32}, {128, 32}, {256, 32}, {0xFFFFFFFFu, 32},
    };
    std::mt19937 random(16);
    const Bytes material = RandomBytes(random, 40);
    const Bytes plain = RandomBytes(random, 16);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "length " << c.length);
        XTwofish engine;
        engine.Setup(1, 0x55);
        engine.MakeKey(BlobOf(material), c.length);
        const Bytes key(material.begin(), material.begin() + c.keyBytes);
        EXPECT_EQ(Content(engine.GetKey()), KeyRecord(c.keyBytes / 8, key));
        // The schedule runs for that key size.
        EXPECT_EQ(EncryptOne(engine, plain), Nettle(key, Mode::kEcb, true, plain));
    }
}

TEST(TwofishMakeKey, ShortMaterialIsFilledWithFillerAtCallTime)
{
    struct Case {
        size_t material;
        uint32_t length;
        uint8_t filler;
    };
    const Case cases[] = {
        {5, 16, 0x2A}, {0, 16, 0x2A}, {0, 32, 0x00}, {15, 16, 0xFF}, {16, 24, 0x01},
        {10, 20, 0x80}, {24, 32, 0x5C}, {31, 1000, 0x36}, {3, 0, 0xA5},
    };
    std::mt19937 random(17);
    const Bytes plain = RandomBytes(random, 16);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.material << " bytes for length " << c.length);
        const Bytes material = RandomBytes(random, c.material);
        XTwofish engine;
        engine.Setup(1, c.filler);
        engine.MakeKey(BlobOf(material), c.length);
        const uint32_t keyBytes = c.length <= 16 ? 16 : c.length <= 24 ? 24 : 32;
        Bytes key = material;
        key.resize(keyBytes, c.filler);
        const Bytes cipher = EncryptOne(engine, plain);
        EXPECT_EQ(cipher, Nettle(key, Mode::kEcb, true, plain));
        // A later filler changes neither the loaded key nor its record.
        engine.filler = uint8_t(c.filler ^ 0x3C);
        EXPECT_EQ(Content(engine.GetKey()), KeyRecord(keyBytes / 8, key));
        EXPECT_EQ(EncryptOne(engine, plain), cipher);
    }
}

// --- key records ---------------------------------------------------------------

TEST(TwofishKeyRecord, GetKeyWithoutKeyRaisesInvalidKey)
{
    XTwofish engine;
    engine.Setup(1, 0);
    try {
        engine.GetKey();
        FAIL() << "no alarm";
    } catch (const XCryptoAlarm& alarm) {
        EXPECT_STREQ(alarm.Message(), XMessage::kInvalidKey);
        EXPECT_STREQ(alarm.Source(), "Twofish");
    }
}

TEST(TwofishKeyRecord, RecordsRoundTripForEveryKeySize)
{
    std::mt19937 random(18);
    const Bytes plain = RandomBytes(random, 16);
    // Loading records in descending and then ascending size into one engine
    // also shows that nothing of a longer previous key survives.
    XTwofish reused;
    reused.Setup(1, 0);
    for (uint32_t keyBytes : {32u, 24u, 16u, 24u, 32u}) {
        SCOPED_TRACE(testing::Message() << keyBytes << "-byte key");
        const Bytes key = RandomBytes(random, keyBytes);
        auto source = Keyed(key);
        const Bytes record = Content(source->GetKey());
        ASSERT_EQ(record.size(), keyBytes + 4);
        EXPECT_EQ(record, KeyRecord(keyBytes / 8, key));

        XTwofish fresh;
        fresh.Setup(1, 0);
        fresh.SetKey(BlobOf(record));
        EXPECT_TRUE(fresh.KeyReady());
        EXPECT_EQ(Content(fresh.GetKey()), record);
        reused.SetKey(BlobOf(record));
        EXPECT_EQ(Content(reused.GetKey()), record);
        const Bytes cipher = Nettle(key, Mode::kEcb, true, plain);
        EXPECT_EQ(EncryptOne(fresh, plain), cipher);
        EXPECT_EQ(EncryptOne(reused, plain), cipher);
        EXPECT_EQ(DecryptOne(reused, cipher), plain);
    }
}

TEST(TwofishKeyRecord, MalformedRecordsAreRefusedAndChangeNothing)
{
    std::mt19937 random(19);
    const Bytes filler = RandomBytes(random, 40);
    auto record = [&](uint32_t words, size_t keyBytes) {
        return KeyRecord(words, Bytes(filler.begin(), filler.begin() + keyBytes));
    };
    struct Case {
        const char* what;
        Bytes record;
    };
    const Case cases[] = {
        {"empty", {}},
        {"1 byte", {0x00}},
        {"4 bytes saying 2", {0x00, 0x00, 0x00, 0x02}},
        {"2 words, 15 key bytes", record(2, 15)},
        {"2 words, 17 key bytes", record(2, 17)},
        {"2 words, 24 key bytes", record(2, 24)},
        {"3 words, 16 key bytes", record(3, 16)},
        {"3 words, 32 key bytes", record(3, 32)},
        {"4 words, 31 key bytes", record(4, 31)},
        {"4 words, 33 key bytes", record(4, 33)},
        {"0 words, 0 key bytes", record(0, 0)},
        {"1 word, 8 key bytes", record(1, 8)},
        {"5 words, 40 key bytes", record(5, 40)},
        // 8 * words + 4 is 20 in 32-bit arithmetic.
        {"0x20000002 words, 16 key bytes", record(0x20000002u, 16)},
        {"0xFFFFFFFF words, 36 key bytes", record(0xFFFFFFFFu, 32)},
        {"key words little-endian", {0x02, 0x00, 0x00, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
    };
    const Bytes key = RandomBytes(random, 24);
    const Bytes plain = RandomBytes(random, 16);
    const Bytes cipher = Nettle(key, Mode::kEcb, true, plain);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto keyed = Keyed(key);
        XTwofish empty;
        empty.Setup(1, 0);
        for (XTwofish* engine : {keyed.get(), &empty}) {
            try {
                engine->SetKey(BlobOf(c.record));
                ADD_FAILURE() << "no alarm";
            } catch (const XCryptoAlarm& alarm) {
                EXPECT_STREQ(alarm.Message(), XMessage::kDataCorrupted);
                EXPECT_STREQ(alarm.Source(), "Twofish");
            }
        }
        EXPECT_FALSE(empty.KeyReady());
        EXPECT_EQ(Content(keyed->GetKey()), KeyRecord(3, key));
        EXPECT_EQ(EncryptOne(*keyed, plain), cipher);
        EXPECT_EQ(DecryptOne(*keyed, cipher), plain);
    }
}

// --- whole messages --------------------------------------------------------------

// Random keys, lengths and fillers in both modes: the ciphertext is the
// oracle's over the plaintext padded with the filler, and a second engine
// set up with the same key record deciphers it to the padded plaintext.
TEST(TwofishMessages, EcbAndCbcMatchOraclesOnFillerPaddedPlaintext)
{
    std::mt19937 random(20);
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 66; ++n)
        lengths.push_back(n);
    for (size_t n : {127, 128, 129, 1000, 4095, 4096, 65537})
        lengths.push_back(n);
    for (int32_t mode : {1, 2}) {
        const Mode oracleMode = mode == 1 ? Mode::kEcb : Mode::kCbc;
        for (size_t i = 0; i < lengths.size(); ++i) {
            const Bytes key = RandomBytes(random, kKeySizes[i % 3]);
            const uint8_t filler = uint8_t(random());
            const Bytes plain = RandomBytes(random, lengths[i]);
            SCOPED_TRACE(testing::Message() << "mode " << mode << ", " << plain.size() << " bytes, "
                                            << key.size() << "-byte key, filler " << int(filler));
            auto engine = Keyed(key, mode, filler);
            const Bytes padded = Padded(plain, filler);
            const Bytes cipher = Content(engine->Encrypt(BlobOf(plain)));
            ASSERT_EQ(cipher, Nettle(key, oracleMode, true, padded));
            if (GcryptTakes(key)) {
                ASSERT_EQ(cipher, Gcrypt(key, oracleMode, true, padded));
            }

            XTwofish receiver;
            receiver.Setup(mode, 0);
            receiver.SetKey(engine->GetKey());
            ASSERT_EQ(Content(receiver.Decrypt(BlobOf(cipher))), padded);
            // Deciphering random data agrees with the oracle as well.
            const Bytes noise = RandomBytes(random, padded.size());
            receiver.Setup(mode, 0);
            ASSERT_EQ(Content(receiver.Decrypt(BlobOf(noise))), Nettle(key, oracleMode, false, noise));
        }
    }
}

// Consecutive calls continue one chain: the engine's chaining block after a
// call is what the next one starts from.
TEST(TwofishMessages, CbcChainContinuesAcrossCalls)
{
    std::mt19937 random(21);
    for (uint32_t keyBytes : kKeySizes) {
        SCOPED_TRACE(testing::Message() << keyBytes << "-byte key");
        const Bytes key = RandomBytes(random, keyBytes);
        const Bytes first = RandomBytes(random, 80), second = RandomBytes(random, 16), third = RandomBytes(random, 37);
        const uint8_t filler = 0xC3;
        const Bytes whole = Padded(Concat(Concat(first, second), third), filler);
        const Bytes expected = Nettle(key, Mode::kCbc, true, whole);

        auto sender = Keyed(key, 2, filler);
        Bytes cipher = Content(sender->Encrypt(BlobOf(first)));
        cipher = Concat(cipher, Content(sender->Encrypt(BlobOf(second))));
        cipher = Concat(cipher, Content(sender->Encrypt(BlobOf(third))));
        ASSERT_EQ(cipher, expected);
        EXPECT_EQ(Bytes(sender->Chain(), sender->Chain() + 16), Bytes(cipher.end() - 16, cipher.end()));

        auto receiver = Keyed(key, 2, 0);
        Bytes plain;
        for (size_t p = 0; p < cipher.size(); p += 48) {
            const Bytes piece(cipher.begin() + p, cipher.begin() + std::min(cipher.size(), p + 48));
            plain = Concat(plain, Content(receiver->Decrypt(BlobOf(piece))));
        }
        EXPECT_EQ(plain, whole);
    }
}

// The bulk paths (which run blocks side by side) against one block at a
// time, for counts around the side-by-side width, out of place and in place.
TEST(TwofishBulk, MultiBlockPathsMatchSingleBlocks)
{
    std::mt19937 random(22);
    for (uint32_t keyBytes : kKeySizes) {
        auto engine = Keyed(RandomBytes(random, keyBytes));
        for (size_t count = 0; count <= 9; ++count) {
            SCOPED_TRACE(testing::Message() << keyBytes << "-byte key, " << count << " blocks");
            const Bytes in = RandomBytes(random, 16 * count);
            Bytes encrypted(in.size()), decrypted(in.size()), chained(in.size());
            Bytes chain = RandomBytes(random, 16);
            Bytes expectedChain = chain;
            for (size_t i = 0; i < count; ++i) {
                engine->EncryptBlock(in.data() + 16 * i, encrypted.data() + 16 * i);
                engine->DecryptBlock(in.data() + 16 * i, decrypted.data() + 16 * i);
                uint8_t work[16];
                for (int j = 0; j < 16; ++j)
                    work[j] = uint8_t(expectedChain[j] ^ in[16 * i + j]);
                engine->EncryptBlock(work, expectedChain.data());
                std::memcpy(chained.data() + 16 * i, expectedChain.data(), 16);
            }

            Bytes out(in.size()), inPlace = in;
            engine->EncryptBlocks(in.data(), out.data(), count);
            EXPECT_EQ(out, encrypted);
            engine->EncryptBlocks(inPlace.data(), inPlace.data(), count);
            EXPECT_EQ(inPlace, encrypted);

            inPlace = in;
            engine->DecryptBlocks(in.data(), out.data(), count);
            EXPECT_EQ(out, decrypted);
            engine->DecryptBlocks(inPlace.data(), inPlace.data(), count);
            EXPECT_EQ(inPlace, decrypted);

            inPlace = in;
            Bytes chainCopy = chain;
            engine->EncryptBlocksChained(in.data(), out.data(), count, chain.data());
            EXPECT_EQ(out, chained);
            EXPECT_EQ(chain, expectedChain);
            engine->EncryptBlocksChained(inPlace.data(), inPlace.data(), count, chainCopy.data());
            EXPECT_EQ(inPlace, chained);
            EXPECT_EQ(chainCopy, expectedChain);
        }
    }
}

} // namespace
