// XBlowfish: the designer's published vectors (fixed-key, variable-key and
// chaining sets), the key-length rules of MakeKey, and the checks of the
// constant tables that run at every key set-up.  What every block cipher does
// (messages against OpenSSL and nettle, the batch functions, the chaining
// block, key records of every length, malformed records, the alarms) is
// checked by cipher_battery_test.cpp.
#include "cipher/blowfish.h"

#include "cipher_test_support.h"

#include <algorithm>
#include <memory>
#include <string>

namespace {

using namespace test_support;

// OpenSSL's Blowfish, ECB.
Bytes OpenSslEcb(const Bytes& key, const Bytes& data)
{
    return OpenSsl("BF", Chaining::kEcb, true, key, Bytes(8, 0), data);
}

// --- published vectors ---------------------------------------------------

struct KnownAnswer {
    const char* key;
    const char* plaintext;
    const char* ciphertext;
};

// The fixed-key set: 8-byte keys.
const KnownAnswer kFixedKey[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
    {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
    {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
    {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
    {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
    {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
    {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
    {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
    {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
    {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
};

// The variable-key set: the first n bytes of one key (n = 1 ... 24) on one
// plaintext.
const char kVariableKey[] = "F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677";
const char kVariablePlaintext[] = "FEDCBA9876543210";
const char* const kVariableCiphertext[24] = {
    "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05", "B39E44481BDB1E6E",
    "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82", "15750E7A4F4EC577", "122BA70B3AB64AE0",
    "3A833C9AFFC537F6", "9409DA87A90F6BF2", "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F",
    "93142887EE3BE15C", "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
    "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080",
};

// A key of 1 to 56 bytes through the record, 8 and more also through
// MakeKey from exactly that many bytes of material.
void LoadBoth(XBlowfish& viaRecord, XBlowfish& viaMaterial, const Bytes& key)
{
    viaRecord.SetKey(BlobOf(Record(uint32_t(key.size()), key)));
    if (key.size() >= 8)
        viaMaterial.MakeKey(BlobOf(key), uint32_t(key.size()));
}

TEST(XBlowfishVectors, FixedKeySet)
{
    for (const KnownAnswer& v : kFixedKey) {
        SCOPED_TRACE(std::string("key ") + v.key + ", plaintext " + v.plaintext);
        const Bytes key = FromHex(v.key), pt = FromHex(v.plaintext), ct = FromHex(v.ciphertext);
        XBlowfish bf;
        bf.Setup(1, 0);
        bf.MakeKey(BlobOf(key), 8);

        Bytes block(8);
        bf.EncryptBlock(pt.data(), block.data());
        EXPECT_EQ(block, ct);
        bf.DecryptBlock(block.data(), block.data());
        EXPECT_EQ(block, pt);
        EXPECT_EQ(Content(bf.Encrypt(BlobOf(pt))), ct);
        EXPECT_EQ(Content(bf.Decrypt(BlobOf(ct))), pt);
    }
}

// Keys of 1 to 7 bytes can only come from a record; they give the standard
// schedule of that short key, not a padded one.
TEST(XBlowfishVectors, VariableKeySet)
{
    const Bytes fullKey = FromHex(kVariableKey), pt = FromHex(kVariablePlaintext);
    for (size_t n = 1; n <= 24; ++n) {
        SCOPED_TRACE(std::to_string(n) + "-byte key");
        const Bytes key(fullKey.begin(), fullKey.begin() + n);
        const Bytes ct = FromHex(kVariableCiphertext[n - 1]);
        XBlowfish viaRecord, viaMaterial;
        LoadBoth(viaRecord, viaMaterial, key);
        for (XBlowfish* bf : {&viaRecord, &viaMaterial}) {
            if (!bf->KeyReady())
                continue;
            EXPECT_EQ(bf->KeyLength(), n);
            Bytes block(8);
            bf->EncryptBlock(pt.data(), block.data());
            EXPECT_EQ(block, ct);
            bf->DecryptBlock(block.data(), block.data());
            EXPECT_EQ(block, pt);
        }
    }
}

// The chaining-mode set: key 0123456789ABCDEFF0E1D2C3B4A59687, initialisation
// vector FEDCBA9876543210, 29 bytes of text padded with zeros.  The engine's
// chain starts from zero, so the vector's IV goes into the first block by hand.
TEST(XBlowfishVectors, ChainingSet)
{
    const Bytes key = FromHex("0123456789ABCDEFF0E1D2C3B4A59687");
    const Bytes iv = FromHex("FEDCBA9876543210");
    const std::string text = "7654321 Now is the time for ";
    Bytes pt(text.begin(), text.end());
    pt.push_back(0);
    const Bytes ct = FromHex("6B77B4D63006DEE605B156E27403979358DEB9E7154616D959F1652BD5FF92CC");
    Bytes withIv = pt;
    for (size_t i = 0; i < 8; ++i)
        withIv[i] ^= iv[i];

    XBlowfish bf;
    bf.Setup(2, 0);
    bf.MakeKey(BlobOf(key), 16);
    EXPECT_EQ(Content(bf.Encrypt(BlobOf(withIv))), ct);
    EXPECT_EQ(Bytes(bf.Chain(), bf.Chain() + 8), Bytes(ct.end() - 8, ct.end()));

    bf.Setup(2, 0);
    EXPECT_EQ(Content(bf.Decrypt(BlobOf(ct))), PadWith(withIv, 0, 8));
}

// --- MakeKey ---------------------------------------------------------------

// Key length from `length` (8 up to 8, 56 from 56, otherwise `length`), the
// key cut from the material or padded with the filler byte, and a cipher that
// agrees with OpenSSL under exactly that key.
TEST(XBlowfishKeys, MakeKeyLengthsAndFiller)
{
    struct Case {
        uint32_t materialLength;
        uint32_t length;
        uint32_t keyLength;
    };
    const Case cases[] = {
        {0, 0, 8},     {5, 0, 8},      {8, 1, 8},      {5, 8, 8},           {20, 8, 8},
        {9, 9, 9},     {3, 9, 9},      {16, 16, 16},   {20, 20, 20},        {30, 20, 20},
        {10, 55, 55},  {60, 55, 55},   {56, 56, 56},   {60, 56, 56},        {60, 57, 56},
        {0, 100, 56},  {60, 1000, 56}, {7, 0x80000000, 56}, {60, 0xFFFFFFFF, 56},
    };
    std::mt19937 random(1993);
    const uint8_t filler = 0x2A;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.materialLength) + " bytes of material, length " + std::to_string(c.length));
        const Bytes material = RandomBytes(random, c.materialLength);
        Bytes key(material.begin(), material.begin() + std::min(c.materialLength, c.keyLength));
        key.resize(c.keyLength, filler);

        XBlowfish bf;
        bf.Setup(1, filler);
        bf.MakeKey(BlobOf(material), c.length);
        EXPECT_EQ(bf.KeyLength(), c.keyLength);
        // A later change of the filler leaves the loaded key alone.
        bf.filler = 0;
        EXPECT_EQ(Content(bf.GetKey()), Record(c.keyLength, key));

        const Bytes message = RandomBytes(random, 24);
        EXPECT_EQ(Content(bf.Encrypt(BlobOf(message))), OpenSslEcb(key, message));
    }
}

// --- the checks of the constant tables ----------------------------------------

// An engine whose key set-up starts from tables the test hands in.
class BlowfishOnTables : public XBlowfish {
public:
    explicit BlowfishOnTables(const XBlowfishConstants& tables) : tables_(&tables) {}
    void Use(const XBlowfishConstants& tables) { tables_ = &tables; }

protected:
    const XBlowfishConstants& InitialConstants() const override { return *tables_; }

private:
    const XBlowfishConstants* tables_;
};

uint32_t Rotl(uint32_t v, int n)
{
    return (v << n) | (v >> (32 - n));
}

// The checksum as documented: P words first, c = rotl(c, 1) + P; then every
// S word, c = rotl(13c, 11) + S.  `upTo` stops before that S word (flat
// index) and returns the running value there.
uint32_t Checksum(const XBlowfishConstants& t, size_t upTo = 1024)
{
    uint32_t c = 0;
    for (uint32_t p : t.p)
        c = Rotl(c, 1) + p;
    for (size_t k = 0; k < upTo; ++k)
        c = Rotl(c * 13, 11) + t.s[k / 256][k % 256];
    return c;
}

// Damaged tables are refused at every key set-up, MakeKey and SetKey alike:
// a damaged word fails the checksum ("Invalid key"); damage to two words
// that keeps the checksum fails the known-answer test ("Unable to decrypt
// data").  The key loaded before stays loaded and working.
TEST(XBlowfishSelfCheck, DamagedTablesAreRefused)
{
    ASSERT_EQ(Checksum(kBlowfishConstants), XBlowfish::kConstantsChecksum);

    auto lastSWord = std::make_unique<XBlowfishConstants>(kBlowfishConstants);
    lastSWord->s[3][255] ^= 0x00000100;
    auto lastPWord = std::make_unique<XBlowfishConstants>(kBlowfishConstants);
    lastPWord->p[17] ^= 0x80000000;

    // S0[0x24] is looked up in the first round of the first encipherment
    // (the top byte of 0 XOR P[0] = 0x243F6A88); S0[0x25] absorbs the change
    // so that the checksum still holds.
    auto balanced = std::make_unique<XBlowfishConstants>(kBlowfishConstants);
    const size_t k = 0x24;
    const uint32_t before = Checksum(kBlowfishConstants, k + 1);
    balanced->s[0][k] += 0x01000000;
    balanced->s[0][k + 1] += Rotl(before * 13, 11) - Rotl((before + 0x01000000) * 13, 11);
    ASSERT_EQ(Checksum(*balanced), XBlowfish::kConstantsChecksum);

    struct Case {
        const char* name;
        const XBlowfishConstants* tables;
        const char* message;
    };
    const Case cases[] = {
        {"last S word", lastSWord.get(), XMessage::kInvalidKey},
        {"last P word", lastPWord.get(), XMessage::kInvalidKey},
        {"balanced pair", balanced.get(), XMessage::kUnableToDecrypt},
    };

    std::mt19937 random(11);
    const Bytes key = RandomBytes(random, 16), otherKey = RandomBytes(random, 16);
    const Bytes message = RandomBytes(random, 24);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BlowfishOnTables bf(kBlowfishConstants);
        bf.Setup(1, 0);
        bf.MakeKey(BlobOf(key), 16);
        const Bytes ciphertext = Content(bf.Encrypt(BlobOf(message)));
        EXPECT_EQ(ciphertext, OpenSslEcb(key, message));

        bf.Use(*c.tables);
        EXPECT_TRUE(RaisesAlarm([&] { bf.MakeKey(BlobOf(otherKey), 16); }, c.message, "Blowfish"));
        EXPECT_TRUE(RaisesAlarm([&] { bf.SetKey(BlobOf(Record(16, otherKey))); }, c.message, "Blowfish"));
        EXPECT_EQ(Content(bf.GetKey()), Record(16, key));
        EXPECT_EQ(Content(bf.Encrypt(BlobOf(message))), ciphertext);
        EXPECT_EQ(Content(bf.Decrypt(BlobOf(ciphertext))), message);

        BlowfishOnTables fresh(*c.tables);
        EXPECT_TRUE(RaisesAlarm([&] { fresh.MakeKey(BlobOf(key), 16); }, c.message, "Blowfish"));
        EXPECT_FALSE(fresh.KeyReady());

        // The same engine takes keys again once its tables are whole.
        bf.Use(kBlowfishConstants);
        bf.MakeKey(BlobOf(otherKey), 16);
        EXPECT_EQ(Content(bf.Encrypt(BlobOf(message))), OpenSslEcb(otherKey, message));
    }
}

} // namespace
