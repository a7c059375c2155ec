// Twofish engine: the designers' published known answers and their iterated,
// variable-key and variable-text tables, against nettle (all key sizes) and
// libgcrypt (128- and 256-bit keys; it refuses 192-bit Twofish keys); and the
// key size that MakeKey picks and its filler padding; the four-block
// interleaved bulk functions against the one-block ones, and long CBC
// messages deciphered in pieces against both oracles.  What every block
// cipher does (messages and random blocks against the oracles, the batch
// functions, the chaining block, key records, malformed records, the alarms)
// is checked by cipher_battery_test.cpp.
#include "cipher/twofish.h"

#include "cipher_test_support.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace test_support;

Bytes NettleEcb(const Bytes& key, const Bytes& data)
{
    return NettleTwofish(Chaining::kEcb, true, key, Bytes(16, 0), data);
}

Bytes GcryptEcb(const Bytes& key, const Bytes& data)
{
    return GcryptTwofish(Chaining::kEcb, true, key, Bytes(16, 0), data);
}

// libgcrypt's Twofish takes 128- and 256-bit keys only.
bool GcryptTakes(const Bytes& key)
{
    return key.size() == 16 || key.size() == 32;
}

// An engine set up in mode 1, keyed by MakeKey from exactly the key bytes
// with the matching length.
std::unique_ptr<XTwofish> Keyed(const Bytes& key)
{
    auto engine = std::make_unique<XTwofish>();
    engine->Setup(1, 0);
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
            ASSERT_EQ(cipher, NettleEcb(key, plain));
            if (GcryptTakes(key)) {
                ASSERT_EQ(cipher, GcryptEcb(key, plain));
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
            ASSERT_EQ(cipher, NettleEcb(key, zeroBlock)) << "key bit " << bit;
            if (GcryptTakes(key)) {
                ASSERT_EQ(cipher, GcryptEcb(key, zeroBlock)) << "key bit " << bit;
            }
            ASSERT_EQ(DecryptOne(*engine, cipher), zeroBlock) << "key bit " << bit;
        }
        const Bytes zeroKey(keyBytes, 0);
        auto engine = Keyed(zeroKey);
        for (uint32_t bit = 0; bit < 128; ++bit) {
            Bytes plain(16, 0);
            plain[bit / 8] = uint8_t(0x80 >> (bit % 8));
            const Bytes cipher = EncryptOne(*engine, plain);
            ASSERT_EQ(cipher, NettleEcb(zeroKey, plain)) << "text bit " << bit;
            if (GcryptTakes(zeroKey)) {
                ASSERT_EQ(cipher, GcryptEcb(zeroKey, plain)) << "text bit " << bit;
            }
            ASSERT_EQ(DecryptOne(*engine, cipher), plain) << "text bit " << bit;
        }
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
        EXPECT_EQ(Content(engine.GetKey()), Record(c.keyBytes / 8, key));
        // The schedule runs for that key size.
        EXPECT_EQ(EncryptOne(engine, plain), NettleEcb(key, plain));
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
        EXPECT_EQ(cipher, NettleEcb(key, plain));
        // A later filler changes neither the loaded key nor its record.
        engine.filler = uint8_t(c.filler ^ 0x3C);
        EXPECT_EQ(Content(engine.GetKey()), Record(keyBytes / 8, key));
        EXPECT_EQ(EncryptOne(engine, plain), cipher);
    }
}

// --- the interleaved bulk functions ------------------------------------------------

// EncryptBlocks and DecryptBlocks run four blocks side by side and the rest
// one at a time; EncryptBlocksChained runs one at a time with the chaining
// block in registers.  Under random keys of every size (loaded by MakeKey
// and from records), every count from 0 to 19 (each position of a block in
// a group of four, and every tail) and a few longer ones must give exactly
// what EncryptBlock and DecryptBlock give block by block: out of place
// from unaligned addresses, in place, and the chained function split into
// two calls at every block boundary.
TEST(TwofishPaths, BulkFunctionsMatchOneBlockAtATime)
{
    std::mt19937 random(0x2F1F);
    std::vector<size_t> counts;
    for (size_t n = 0; n <= 19; ++n)
        counts.push_back(n);
    for (size_t n : {31, 64, 65, 66, 67, 257})
        counts.push_back(n);
    for (uint32_t keyBytes : kKeySizes) {
        for (int trial = 0; trial < 4; ++trial) {
            const Bytes key = RandomBytes(random, keyBytes);
            XTwofish engine;
            engine.Setup(1, 0);
            if (trial % 2)
                engine.SetKey(BlobOf(Record(keyBytes / 8, key)));
            else
                engine.MakeKey(BlobOf(key), keyBytes);
            for (size_t count : counts) {
                SCOPED_TRACE(testing::Message() << keyBytes << "-byte key, trial " << trial << ", " << count
                                                << " blocks");
                const size_t n = 16 * count;
                const Bytes data = RandomBytes(random, n);
                const Bytes iv = RandomBytes(random, 16);
                Bytes encrypted(n), decrypted(n), chained(n);
                Bytes chain = iv;
                for (size_t i = 0; i < count; ++i) {
                    const Bytes block(data.begin() + std::ptrdiff_t(16 * i), data.begin() + std::ptrdiff_t(16 * i + 16));
                    const Bytes e = EncryptOne(engine, block), d = DecryptOne(engine, block);
                    std::copy(e.begin(), e.end(), encrypted.begin() + std::ptrdiff_t(16 * i));
                    std::copy(d.begin(), d.end(), decrypted.begin() + std::ptrdiff_t(16 * i));
                    Bytes work(16);
                    for (size_t j = 0; j < 16; ++j)
                        work[j] = uint8_t(chain[j] ^ block[j]);
                    chain = EncryptOne(engine, work);
                    std::copy(chain.begin(), chain.end(), chained.begin() + std::ptrdiff_t(16 * i));
                }

                const size_t offset = 1 + count % 7;
                Bytes in(n + offset), out(n + offset);
                std::copy(data.begin(), data.end(), in.begin() + std::ptrdiff_t(offset));
                engine.EncryptBlocks(in.data() + offset, out.data() + offset, count);
                ASSERT_EQ(Bytes(out.begin() + std::ptrdiff_t(offset), out.end()), encrypted);
                engine.DecryptBlocks(in.data() + offset, out.data() + offset, count);
                ASSERT_EQ(Bytes(out.begin() + std::ptrdiff_t(offset), out.end()), decrypted);

                Bytes inPlace = data;
                engine.EncryptBlocks(inPlace.data(), inPlace.data(), count);
                ASSERT_EQ(inPlace, encrypted);
                engine.DecryptBlocks(inPlace.data(), inPlace.data(), count);
                ASSERT_EQ(inPlace, data);
                engine.DecryptBlocks(inPlace.data(), inPlace.data(), count);
                ASSERT_EQ(inPlace, decrypted);

                for (size_t split = 0; split <= count; split += count > 20 ? 13 : 1) {
                    SCOPED_TRACE(testing::Message() << "chained, split after " << split);
                    Bytes running = iv, pieces = data;
                    engine.EncryptBlocksChained(pieces.data(), pieces.data(), split, running.data());
                    engine.EncryptBlocksChained(pieces.data() + 16 * split, pieces.data() + 16 * split,
                                                count - split, running.data());
                    ASSERT_EQ(pieces, chained);
                    ASSERT_EQ(running, chain);
                }
            }
        }
    }
}

// A block's result depends on that block alone: changing one block of a
// group of four changes that output block only, in both directions.
TEST(TwofishPaths, BlocksOfAGroupDoNotMix)
{
    std::mt19937 random(0x5EED);
    for (uint32_t keyBytes : kKeySizes) {
        auto engine = Keyed(RandomBytes(random, keyBytes));
        const Bytes data = RandomBytes(random, 16 * 9);
        Bytes baseEnc(data.size()), baseDec(data.size());
        engine->EncryptBlocks(data.data(), baseEnc.data(), 9);
        engine->DecryptBlocks(data.data(), baseDec.data(), 9);
        for (size_t changed = 0; changed < 9; ++changed) {
            SCOPED_TRACE(testing::Message() << keyBytes << "-byte key, block " << changed << " changed");
            Bytes other = data;
            other[16 * changed + random() % 16] ^= uint8_t(1u << (random() % 8));
            Bytes enc(data.size()), dec(data.size());
            engine->EncryptBlocks(other.data(), enc.data(), 9);
            engine->DecryptBlocks(other.data(), dec.data(), 9);
            for (size_t i = 0; i < 9; ++i) {
                const auto at = [i](const Bytes& b) {
                    return Bytes(b.begin() + std::ptrdiff_t(16 * i), b.begin() + std::ptrdiff_t(16 * i + 16));
                };
                EXPECT_EQ(at(enc) == at(baseEnc), i != changed) << "encrypted block " << i;
                EXPECT_EQ(at(dec) == at(baseDec), i != changed) << "decrypted block " << i;
            }
        }
    }
}

// Long random messages deciphered in mode 2 through Decrypt, the way the
// scriptable class runs it, in pieces of random whole-block lengths (the
// chaining block carried from call to call): the same plaintext as nettle
// and libgcrypt give for the whole message at once.  Random ciphertext, so
// the check does not go through our own encryption.
TEST(TwofishPaths, LongCbcMessagesDecipheredInPiecesMatchOracles)
{
    std::mt19937 random(0xCBCD);
    for (uint32_t keyBytes : kKeySizes) {
        for (size_t blocks : {size_t(16384 + 3), size_t(65536 + 1)}) {
            SCOPED_TRACE(testing::Message() << keyBytes << "-byte key, " << blocks << " blocks");
            const Bytes key = RandomBytes(random, keyBytes);
            const Bytes cipher = RandomBytes(random, 16 * blocks);
            XTwofish engine;
            engine.Setup(2, 0);
            engine.MakeKey(BlobOf(key), keyBytes);
            Bytes plain;
            plain.reserve(cipher.size());
            for (size_t at = 0; at < blocks;) {
                const size_t piece = std::min(blocks - at, size_t(1 + random() % 2000));
                const Bytes part = Content(engine.Decrypt(BlobOf(cipher.data() + 16 * at, 16 * piece)));
                plain.insert(plain.end(), part.begin(), part.end());
                at += piece;
            }
            ASSERT_EQ(plain, NettleTwofish(Chaining::kCbc, false, key, Bytes(16, 0), cipher));
            if (GcryptTakes(key)) {
                ASSERT_EQ(plain, GcryptTwofish(Chaining::kCbc, false, key, Bytes(16, 0), cipher));
            }
            // Enciphering that plaintext in one call gives the ciphertext back.
            engine.Setup(2, 0);
            ASSERT_EQ(Content(engine.Encrypt(BlobOf(plain))), cipher);
        }
    }
}

} // namespace
