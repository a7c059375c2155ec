// TripleDES engine: published single-DES known answers through K1 = K2 = K3,
// the ignored parity bits, the roles of K1, K2 and K3, MakeKey, and records
// longer than a key.  What every block cipher does (messages against
// OpenSSL, nettle and libgcrypt, the batch functions, the chaining block
// across calls, key records, short records refused, the alarms) is checked
// by cipher_battery_test.cpp.
#include "cipher/triple_des.h"

#include "cipher_test_support.h"

#include <algorithm>
#include <string>

namespace {

using namespace test_support;

Bytes Triple(const Bytes& k)
{
    return Concat(Concat(k, k), k);
}

// OpenSSL's DES-EDE3, ECB.
Bytes OpenSslEcb(bool encrypt, const Bytes& key, const Bytes& data)
{
    return OpenSsl("DES-EDE3", Chaining::kEcb, encrypt, key, Bytes(8, 0), data);
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
    Bytes Block(const Bytes& in) const
    {
        Bytes out(8);
        des.EncryptBlock(in.data(), out.data());
        return out;
    }
};

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
            EXPECT_EQ(Content(des.Encrypt(BlobOf(plain))), OpenSslEcb(true, expected, plain));
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
    EXPECT_EQ(Content(des.Encrypt(BlobOf(plain))), OpenSslEcb(true, key, plain));
}

} // namespace
