// Valdergast.ZELCryptoPGP through IZELCryptoPGP and through IDispatch: the
// settings a fresh object starts with and what Init stores (read back from
// the session-key packet of the messages it writes), round trips of Encrypt,
// Decrypt, Enarmor and Dearmor, the armored text checked against an
// independent base64 and CRC-24, messages written by GnuPG (kept below as
// fixed data), the error records of every refusal, and damaged messages.
//
// Random interoperability with GnuPG in both directions is run by
// tests/scripts/pgp_gpg.py.
#include "support.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

using namespace zeltest;

namespace {

using Bytes = std::vector<uint8_t>;

const wchar_t kProgId[] = L"Valdergast.ZELCryptoPGP.2";
const wchar_t kAnyProgId[] = L"Valdergast.ZELCryptoPGP";
const wchar_t kCorrupted[] = L"Crypto System: Data is corrupted - PGP";
const wchar_t kInvalidKey[] = L"Crypto System: Invalid key - PGP";
const wchar_t kCrcError[] = L"Crypto System: Data CRC error - PGP";
const wchar_t kUnsupported[] = L"Crypto System: Unsupported algorithm - PGP";
// An unknown hash id is refused by the digest code, which names no source.
const wchar_t kUnsupportedHash[] = L"Crypto System: Unsupported algorithm";

// Written by GnuPG 2.2 (gpg --rfc2440 -z 0 --symmetric, passphrase
// "correct-horse", plaintext kGpgPlain): AES-128, iterated and salted
// string-to-key with RIPEMD-160 and count byte 0x60, from a file (old-format
// headers).
const char kGpgPlain[] = "Message written by GnuPG for the class tests.\n";
const wchar_t kGpgPassword[] = L"636f72726563742d686f727365"; // correct-horse
const wchar_t kGpgAesRipemd[] =
    L"8c0d0407030344fd29d0c2002e5460a451e7704a496b78bb6ffefce944109781cf844caaab7ff125e7343a09ff9572684698a3"
    L"ca61d07d59192bc74c5dc7984cf5e325f069e280f14a59435b13eca2260fdfd3766cd7fc56f8be1896893593521b7d";
// The same plaintext, Twofish, salted string-to-key with MD5, --armor (no
// Version line, LF line ends).
const wchar_t kGpgTwofishMd5Armored[] =
    L"-----BEGIN PGP MESSAGE-----\n"
    L"\n"
    L"jAwECgEBmLkGFf7/dm3JSJLWwVYWrASohowq4lYgofcu1FWdk38a58gIQgi4GU5j\n"
    L"+zp7U83QweJIwk95+KDgtLMa+mICROz+aXwAt/KxT9aNqUbRkeoNFA==\n"
    L"=9+uY\n"
    L"-----END PGP MESSAGE-----\n";

// --- independent helpers ---------------------------------------------------------

std::wstring HexText(const Bytes& bytes)
{
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring hex;
    hex.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

Bytes BytesOfHex(const std::wstring& hex)
{
    auto nibble = [](wchar_t c) -> uint8_t { return uint8_t(c <= L'9' ? c - L'0' : (c | 0x20) - L'a' + 10); };
    Bytes bytes(hex.size() / 2);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
    return bytes;
}

Bytes BytesOfText(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes bytes(n);
    for (uint8_t& b : bytes)
        b = uint8_t(rng());
    return bytes;
}

// Base64 (RFC 4648 alphabet, '=' padding) in one line.
std::string Base64(const Bytes& bytes)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const uint32_t n = uint32_t(bytes[i]) << 16 | (i + 1 < bytes.size() ? uint32_t(bytes[i + 1]) << 8 : 0) |
                           (i + 2 < bytes.size() ? bytes[i + 2] : 0);
        out += alphabet[n >> 18 & 63];
        out += alphabet[n >> 12 & 63];
        out += i + 1 < bytes.size() ? alphabet[n >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? alphabet[n & 63] : '=';
    }
    return out;
}

// The OpenPGP CRC-24 (RFC 4880 section 6.1), bit by bit.
uint32_t Crc24(const Bytes& bytes)
{
    uint32_t crc = 0xB704CE;
    for (uint8_t b : bytes) {
        crc ^= uint32_t(b) << 16;
        for (int i = 0; i < 8; ++i) {
            crc <<= 1;
            if (crc & 0x1000000)
                crc ^= 0x1864CFB;
        }
    }
    return crc & 0xFFFFFF;
}

// The armored text this class writes for a message: BEGIN, Version, empty
// line, base64 in lines of 76, checksum, END, each line ended by CR LF.
std::wstring ExpectedArmor(const Bytes& message)
{
    const std::string body = Base64(message);
    std::string text = "-----BEGIN PGP MESSAGE-----\r\nVersion: ZELCrypto v2.0\r\n\r\n";
    for (size_t i = 0; i < body.size(); i += 76)
        text += body.substr(i, 76) + (i + 76 < body.size() ? "\r\n" : "");
    text += "\r\n";
    const uint32_t crc = Crc24(message);
    text += "=" + Base64({uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)}) + "\r\n";
    text += "-----END PGP MESSAGE-----\r\n";
    return Wide(text);
}

// The session-key packet at the start of a message this class wrote, and the
// tag of the packet after it.
struct SessionKeyPacket {
    bool parsed = false;
    int length = 0;
    int version = 0, cipher = 0, mode = 0, hash = 0;
    Bytes salt;
    int count = -1; // -1: no count byte
    int nextTag = -1;
};

SessionKeyPacket ParseSessionKey(const Bytes& m)
{
    SessionKeyPacket p;
    if (m.size() < 2 || m[0] != 0xC3 || m[1] >= 192 || m.size() < size_t(2 + m[1]) || m[1] < 4)
        return p;
    p.length = m[1];
    p.version = m[2];
    p.cipher = m[3];
    p.mode = m[4];
    p.hash = m[5];
    if (p.length >= 12)
        p.salt.assign(m.begin() + 6, m.begin() + 14);
    if (p.length >= 13)
        p.count = m[14];
    if (m.size() > size_t(2 + p.length))
        p.nextTag = m[2 + p.length];
    p.parsed = true;
    return p;
}

// --- calls on the object ----------------------------------------------------------

ComPtr<IZELCryptoPGP> NewPgp()
{
    ComPtr<IZELCryptoPGP> pgp;
    EXPECT_HR(S_OK, CoCreateInstance(CLSID_ZELCryptoPGP, nullptr, CLSCTX_INPROC_SERVER, IID_IZELCryptoPGP,
                                     pgp.OutVoid()));
    return pgp;
}

ComPtr<IZELBlobScript> BlobOf(const Bytes& bytes)
{
    return NewBlob(HexText(bytes));
}

void SetPassword(IZELCryptoPGP* o, const std::wstring& hex)
{
    auto blob = NewBlob(hex);
    EXPECT_HR(S_OK, o->put_password(blob.Get()));
}

ComPtr<IZELCryptoPGP> WithPassword(const std::wstring& hex)
{
    auto o = NewPgp();
    SetPassword(o.Get(), hex);
    return o;
}

// The outcome of a call: its HRESULT, the bytes or text it gave, and the
// error record it left.
struct Outcome {
    HRESULT hr = E_UNEXPECTED;
    Bytes bytes;
    std::wstring text;
    bool resultNull = false;
    ErrorRecord record;
};

using BlobMethod = HRESULT (STDMETHODCALLTYPE IZELCryptoPGP::*)(IDispatch*, IDispatch**);

Outcome CallBlob(IZELCryptoPGP* o, BlobMethod method, IDispatch* src)
{
    Outcome out;
    IDispatch* raw = reinterpret_cast<IDispatch*>(uintptr_t(0x1234)); // must be overwritten
    out.hr = (o->*method)(src, &raw);
    out.record = TakeErrorRecord();
    out.resultNull = raw == nullptr;
    if (SUCCEEDED(out.hr) && raw) {
        auto result = ComPtr<IDispatch>::Attach(raw);
        out.bytes = BytesOfHex(HexOf(result.Get()));
    }
    return out;
}

Outcome Encrypt(IZELCryptoPGP* o, const Bytes& plain)
{
    return CallBlob(o, &IZELCryptoPGP::Encrypt, BlobOf(plain).Get());
}

Outcome Decrypt(IZELCryptoPGP* o, const Bytes& message)
{
    return CallBlob(o, &IZELCryptoPGP::Decrypt, BlobOf(message).Get());
}

Outcome Enarmor(IZELCryptoPGP* o, IDispatch* src)
{
    Outcome out;
    BSTR text = reinterpret_cast<BSTR>(uintptr_t(0x1234)); // must be overwritten
    out.hr = o->Enarmor(src, &text);
    out.record = TakeErrorRecord();
    out.resultNull = text == nullptr;
    if (SUCCEEDED(out.hr) && text) {
        out.text.assign(text, SysStringLen(text));
        SysFreeString(text);
    }
    return out;
}

Outcome Enarmor(IZELCryptoPGP* o, const Bytes& message)
{
    return Enarmor(o, BlobOf(message).Get());
}

Outcome Dearmor(IZELCryptoPGP* o, BSTR text)
{
    Outcome out;
    IDispatch* raw = reinterpret_cast<IDispatch*>(uintptr_t(0x1234));
    out.hr = o->Dearmor(text, &raw);
    out.record = TakeErrorRecord();
    out.resultNull = raw == nullptr;
    if (SUCCEEDED(out.hr) && raw) {
        auto result = ComPtr<IDispatch>::Attach(raw);
        out.bytes = BytesOfHex(HexOf(result.Get()));
    }
    return out;
}

Outcome Dearmor(IZELCryptoPGP* o, const std::wstring& text)
{
    Bstr b(text.c_str(), UINT(text.size()));
    return Dearmor(o, b);
}

// A failure reported as E_FAIL, with this description, the class's source and
// no result.
testing::AssertionResult Failed(const Outcome& out, const std::wstring& description)
{
    if (out.hr != E_FAIL)
        return testing::AssertionFailure() << "returned " << HrText(out.hr) << " instead of E_FAIL";
    if (!out.resultNull)
        return testing::AssertionFailure() << "the result is not null";
    return HasErrorRecord(out.record, description, kProgId, GUID_NULL);
}

testing::AssertionResult Succeeded(const Outcome& out)
{
    if (out.hr != S_OK)
        return testing::AssertionFailure() << "returned " << HrText(out.hr) << " with \""
                                           << Narrow(out.record.description) << "\"";
    if (out.resultNull)
        return testing::AssertionFailure() << "no result";
    return testing::AssertionSuccess();
}

class Pgp : public testing::Test {
protected:
    void SetUp() override { ClearErrorRecord(); }
};

// --- the class --------------------------------------------------------------------

// Its ProgIDs are checked with every class's (ClassLookup).
TEST_F(Pgp, Interfaces)
{
    auto o = NewPgp();
    ASSERT_TRUE(o);
    auto errors = o.As<ISupportErrorInfo>(IID_ISupportErrorInfo);
    ASSERT_TRUE(errors);
    EXPECT_HR(S_OK, errors->InterfaceSupportsErrorInfo(IID_IZELCryptoPGP));
    auto dispatch = o.As<IDispatch>(IID_IDispatch);
    EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(o.Get()));
}

// --- settings, read back from the session-key packet -------------------------------

TEST_F(Pgp, FreshObjectUsesSha1BlowfishIteratedCount96)
{
    auto o = WithPassword(L"70617373");
    const Bytes plain = BytesOfText("ten bytes!");
    const Outcome first = Encrypt(o.Get(), plain);
    ASSERT_TRUE(Succeeded(first));
    const SessionKeyPacket p = ParseSessionKey(first.bytes);
    ASSERT_TRUE(p.parsed) << Narrow(HexText(first.bytes));
    EXPECT_EQ(p.length, 13);
    EXPECT_EQ(p.version, 4);
    EXPECT_EQ(p.cipher, 4);
    EXPECT_EQ(p.mode, 3);
    EXPECT_EQ(p.hash, 2);
    EXPECT_EQ(p.count, 96);
    EXPECT_EQ(p.nextTag, 0xC9);
    // Blowfish, 8-byte blocks: a one-byte length of 10 prefix bytes plus a
    // literal packet of 8 + n bytes, and nothing after it.
    ASSERT_EQ(first.bytes.size(), 15u + 2 + 18 + plain.size());
    EXPECT_EQ(first.bytes[16], 18 + plain.size());

    // Each Encrypt draws a new salt, so the same plaintext never gives the
    // same message.
    const Outcome second = Encrypt(o.Get(), plain);
    ASSERT_TRUE(Succeeded(second));
    EXPECT_NE(ParseSessionKey(second.bytes).salt, p.salt);
    EXPECT_NE(second.bytes, first.bytes);
}

TEST_F(Pgp, InitStoresTheLowByteOfEachValue)
{
    struct Case {
        LONG hash, alg, mode, passes;
        int cipher, s2kMode, hashId, count, length; // count -1: none written
    };
    const Case cases[] = {
        {2, 9, 3, 96, 9, 3, 2, 96, 13},
        {258, 4, 3, 96, 4, 3, 2, 96, 13}, // 258 = 0x102
        {1, 2, 0, 0, 2, 0, 1, -1, 4},
        {3, 3, 1, 0, 3, 1, 3, -1, 12},
        {1, 7, 3, 0, 7, 3, 1, 0, 13},
        {3, 8, 3, 0x41, 8, 3, 3, 0x41, 13},
        {0x7FFFFF02, 0x10A, 0x203, -160, 10, 3, 2, 0x60, 13}, // -160 = 0xFFFFFF60
        {-255, -247, -253, 0x1234560F, 9, 3, 1, 0x0F, 13},   // 0xFFFFFF01, ...09, ...03
    };
    const Bytes plain = BytesOfText("settings");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "Init(" << c.hash << ", " << c.alg << ", " << c.mode << ", " << c.passes
                                        << ")");
        auto o = WithPassword(L"6b6579");
        EXPECT_HR(S_OK, o->Init(c.hash, c.alg, c.mode, c.passes));
        const Outcome m = Encrypt(o.Get(), plain);
        ASSERT_TRUE(Succeeded(m));
        const SessionKeyPacket p = ParseSessionKey(m.bytes);
        ASSERT_TRUE(p.parsed) << Narrow(HexText(m.bytes));
        EXPECT_EQ(p.length, c.length);
        EXPECT_EQ(p.cipher, c.cipher);
        EXPECT_EQ(p.mode, c.s2kMode);
        EXPECT_EQ(p.hash, c.hashId);
        EXPECT_EQ(p.count, c.count);
        EXPECT_EQ(p.nextTag, 0xC9);
        // A fresh object with the password reads the settings from the packet.
        EXPECT_EQ(Decrypt(WithPassword(L"6b6579").Get(), m.bytes).bytes, plain);
    }
}

TEST_F(Pgp, UnsupportedValuesAreRefusedByEncryptNotByInit)
{
    struct Case {
        LONG hash, alg, mode;
        const wchar_t* description;
    };
    const Case cases[] = {
        {2, 1, 3, kUnsupported},   {2, 0, 3, kUnsupported},    {2, 5, 3, kUnsupported},
        {2, 6, 3, kUnsupported},   {2, 11, 3, kUnsupported},   {2, 255, 3, kUnsupported},
        {2, 0x100, 3, kUnsupported}, // low byte 0
        {2, 4, 2, kUnsupported},   {2, 9, 4, kUnsupported},    {2, 7, 255, kUnsupported},
        {0, 4, 3, kUnsupportedHash}, {4, 4, 3, kUnsupportedHash}, {7, 9, 0, kUnsupportedHash},
        {255, 7, 1, kUnsupportedHash}, {0x100, 4, 3, kUnsupportedHash},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "Init(" << c.hash << ", " << c.alg << ", " << c.mode << ", 96)");
        auto o = WithPassword(L"6b6579");
        EXPECT_HR(S_OK, o->Init(c.hash, c.alg, c.mode, 96));
        EXPECT_FALSE(TakeErrorRecord().present);
        EXPECT_TRUE(Failed(Encrypt(o.Get(), BytesOfText("x")), c.description));
        // A later Init with good values puts the object right.
        EXPECT_HR(S_OK, o->Init(2, 4, 3, 96));
        EXPECT_TRUE(Succeeded(Encrypt(o.Get(), BytesOfText("x"))));
    }
}

// A message naming an unknown cipher, string-to-key type or hash is refused
// in the same way when read.
TEST_F(Pgp, DecryptRefusesUnsupportedValuesInTheMessage)
{
    auto o = WithPassword(L"6b6579");
    const Outcome m = Encrypt(o.Get(), BytesOfText("message"));
    ASSERT_TRUE(Succeeded(m));
    struct Case {
        size_t offset;
        uint8_t value;
        const wchar_t* description;
    };
    const Case cases[] = {{3, 1, kUnsupported}, {3, 6, kUnsupported}, {3, 11, kUnsupported},
                          {4, 2, kUnsupported}, {5, 0, kUnsupportedHash}, {5, 7, kUnsupportedHash}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "byte " << c.offset << " = " << int(c.value));
        Bytes changed = m.bytes;
        changed[c.offset] = c.value;
        EXPECT_TRUE(Failed(Decrypt(WithPassword(L"6b6579").Get(), changed), c.description));
    }
}

// Decrypt leaves the message's settings in the object: the next Encrypt on
// that object writes them.
TEST_F(Pgp, DecryptTakesTheSettingsOfTheMessage)
{
    struct Case {
        LONG hash, alg, mode, passes;
        int length;
    };
    const Case cases[] = {{3, 10, 1, 0, 12}, {1, 2, 0, 0, 4}, {3, 7, 3, 0x51, 13}, {2, 9, 3, 0x10, 13}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "Init(" << c.hash << ", " << c.alg << ", " << c.mode << ", " << c.passes
                                        << ")");
        auto writer = WithPassword(L"73616d65");
        ASSERT_HR(S_OK, writer->Init(c.hash, c.alg, c.mode, c.passes));
        const Bytes plain = RandomBytes(100, unsigned(c.alg));
        const Outcome m = Encrypt(writer.Get(), plain);
        ASSERT_TRUE(Succeeded(m));

        auto reader = WithPassword(L"73616d65"); // starts with SHA-1, Blowfish, 3, 96
        const Outcome d = Decrypt(reader.Get(), m.bytes);
        ASSERT_TRUE(Succeeded(d));
        EXPECT_EQ(d.bytes, plain);
        const Outcome again = Encrypt(reader.Get(), BytesOfText("after"));
        ASSERT_TRUE(Succeeded(again));
        const SessionKeyPacket p = ParseSessionKey(again.bytes);
        ASSERT_TRUE(p.parsed);
        EXPECT_EQ(p.length, c.length);
        EXPECT_EQ(p.cipher, c.alg);
        EXPECT_EQ(p.mode, c.mode);
        EXPECT_EQ(p.hash, c.hash);
        if (c.mode == 3) {
            EXPECT_EQ(p.count, c.passes);
        }
        // And the writer, untouched by the reader, still reads its own.
        EXPECT_EQ(Decrypt(writer.Get(), again.bytes).bytes, BytesOfText("after"));
    }

    // GnuPG's message: AES-128, type 3 with RIPEMD-160 and count 0x60.
    auto reader = WithPassword(kGpgPassword);
    ASSERT_TRUE(Succeeded(Decrypt(reader.Get(), BytesOfHex(kGpgAesRipemd))));
    const SessionKeyPacket p = ParseSessionKey(Encrypt(reader.Get(), {}).bytes);
    EXPECT_EQ(p.cipher, 7);
    EXPECT_EQ(p.mode, 3);
    EXPECT_EQ(p.hash, 3);
    EXPECT_EQ(p.count, 0x60);
}

// --- round trips ------------------------------------------------------------------

TEST_F(Pgp, EncryptDecryptRoundTrips)
{
    const size_t sizes[] = {0, 1, 57, 58, 185, 186, 191, 192, 8377, 8378, 100000, size_t(1) << 20};
    const LONG ciphers[] = {2, 3, 4, 7, 8, 9, 10};
    size_t round = 0;
    for (size_t n : sizes) {
        const LONG alg = ciphers[round % 7];
        const LONG hash = LONG(1 + round % 3);
        const LONG mode = LONG(round % 3 == 2 ? 3 : round % 3);
        SCOPED_TRACE(testing::Message() << n << " bytes, cipher " << alg << ", hash " << hash << ", mode " << mode);
        ++round;
        const Bytes plain = RandomBytes(n, unsigned(n));
        const std::wstring password = HexText(RandomBytes(1 + round * 3, unsigned(round)));
        auto o = WithPassword(password);
        ASSERT_HR(S_OK, o->Init(hash, alg, mode, 96));
        const Outcome m = Encrypt(o.Get(), plain);
        ASSERT_TRUE(Succeeded(m));
        EXPECT_GT(m.bytes.size(), n);
        // On the same object, twice in a row, and on a fresh one.
        for (int i = 0; i < 2; ++i) {
            const Outcome d = Decrypt(o.Get(), m.bytes);
            ASSERT_TRUE(Succeeded(d));
            EXPECT_TRUE(d.bytes == plain);
        }
        const Outcome d = Decrypt(WithPassword(password).Get(), m.bytes);
        ASSERT_TRUE(Succeeded(d));
        EXPECT_TRUE(d.bytes == plain);
        // Through the armor.
        const Outcome armored = Enarmor(o.Get(), m.bytes);
        ASSERT_TRUE(Succeeded(armored));
        auto reader = WithPassword(password);
        const Outcome dearmored = Dearmor(reader.Get(), armored.text);
        ASSERT_TRUE(Succeeded(dearmored));
        EXPECT_TRUE(dearmored.bytes == m.bytes);
        const Outcome plainAgain = Decrypt(reader.Get(), dearmored.bytes);
        ASSERT_TRUE(Succeeded(plainAgain));
        EXPECT_TRUE(plainAgain.bytes == plain);
    }
}

// A message under the empty password (AES-128, simple S2K over SHA-1, made
// by an independent writer): what older messages of this class may be.
const wchar_t kEmptyPasswordMessage[] =
    L"c30404070002c9250446fb8c26ea6c21168cfb94aeebda77dc3fc0855ecc3f6de35a11573fb2d25ea3b85efc1a";

// Encrypt refuses the empty password, whether never set or set empty, and
// hands out nothing; Decrypt still reads a message made under it.
TEST_F(Pgp, EmptyPasswordIsRefusedForEncryptOnly)
{
    for (bool set : {false, true}) {
        SCOPED_TRACE(set ? "set empty" : "never set");
        auto o = set ? WithPassword(L"") : NewPgp();
        for (const Bytes& plain : {BytesOfText("no password"), Bytes{}}) {
            const Outcome m = Encrypt(o.Get(), plain);
            EXPECT_TRUE(Failed(m, kInvalidKey));
            EXPECT_TRUE(m.resultNull);
        }
        const Outcome read = Decrypt(o.Get(), BytesOfHex(kEmptyPasswordMessage));
        ASSERT_TRUE(Succeeded(read));
        EXPECT_EQ(read.bytes, BytesOfText("no password"));
    }
}

// --- armor ----------------------------------------------------------------------------

TEST_F(Pgp, EnarmorWritesTheArmorOfAnyBytes)
{
    auto o = NewPgp(); // needs no password
    const size_t sizes[] = {0, 1, 2, 3, 56, 57, 58, 114, 115, 1000, 70000};
    for (size_t n : sizes) {
        SCOPED_TRACE(testing::Message() << n << " bytes");
        const Bytes bytes = RandomBytes(n, unsigned(n + 7));
        const Outcome armored = Enarmor(o.Get(), bytes);
        ASSERT_TRUE(Succeeded(armored));
        EXPECT_EQ(armored.text, ExpectedArmor(bytes));
        const Outcome back = Dearmor(o.Get(), armored.text);
        ASSERT_TRUE(Succeeded(back));
        EXPECT_TRUE(back.bytes == bytes);
    }
    // The empty message, and the one-line boundary, spelled out.
    EXPECT_EQ(Enarmor(o.Get(), Bytes{}).text, L"-----BEGIN PGP MESSAGE-----\r\nVersion: ZELCrypto v2.0\r\n\r\n\r\n"
                                              L"=twTO\r\n-----END PGP MESSAGE-----\r\n");
    const std::wstring text57 = Enarmor(o.Get(), Bytes(57, 0xFF)).text;
    EXPECT_NE(text57.find(L"\r\n\r\n" + std::wstring(76, L'/') + L"\r\n="), std::wstring::npos) << Narrow(text57);
    const std::wstring text58 = Enarmor(o.Get(), Bytes(58, 0xFF)).text;
    EXPECT_NE(text58.find(std::wstring(76, L'/') + L"\r\n/w==\r\n="), std::wstring::npos) << Narrow(text58);

    // A large blob through the armor and back.
    const Bytes large = RandomBytes(size_t(3) << 20, 3);
    const Outcome armored = Enarmor(o.Get(), large);
    ASSERT_TRUE(Succeeded(armored));
    EXPECT_TRUE(armored.text == ExpectedArmor(large));
    EXPECT_TRUE(Dearmor(o.Get(), armored.text).bytes == large);
}

TEST_F(Pgp, DearmorReadsOtherLayouts)
{
    auto o = NewPgp();
    const Bytes message = RandomBytes(100, 1);
    const std::string body = Base64(message);
    const uint32_t crc = Crc24(message);
    const std::string sum = "=" + Base64({uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)});
    // Lines of 64, like GnuPG's.
    const std::string lines64 = body.substr(0, 64) + "\n" + body.substr(64);
    struct Case {
        const char* what;
        std::string text;
        Bytes expected;
    };
    const Case cases[] = {
        {"LF ends, no Version line", "-----BEGIN PGP MESSAGE-----\n\n" + lines64 + "\n" + sum +
                                         "\n-----END PGP MESSAGE-----\n",
         message},
        {"CR ends", "-----BEGIN PGP MESSAGE-----\rVersion: x\r\r" + body + "\r" + sum + "\r-----END PGP MESSAGE-----",
         message},
        {"several headers", "-----BEGIN PGP MESSAGE-----\r\nVersion: a\r\nComment: b\r\nCharset: c\r\n\r\n" + body +
                                "\r\n" + sum + "\r\n",
         message},
        {"no checksum line", "-----BEGIN PGP MESSAGE-----\n\n" + body + "\n\nanything\n", message},
        {"no END line", "-----BEGIN PGP MESSAGE-----\n\n" + body + "\n" + sum, message},
        {"BEGIN line alone", "-----BEGIN PGP MESSAGE-----", {}},
        {"GnuPG's empty message", "-----BEGIN PGP MESSAGE-----\n\n=twTO\n-----END PGP MESSAGE-----\n", {}},
        {"mail text first", "Hi,\r\n\r\nthe message:\r\n\r\n-----BEGIN PGP MESSAGE-----\r\n\r\n" + body + "\r\n" + sum +
                                "\r\n-----END PGP MESSAGE-----\r\n",
         message},
        {"trailing blanks and tabs", "-----BEGIN PGP MESSAGE----- \nVersion: x\t\n  \n" + lines64 + " \n" + sum +
                                         "\t\n-----END PGP MESSAGE-----  \n",
         message},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome out = Dearmor(o.Get(), Wide(c.text));
        ASSERT_TRUE(Succeeded(out));
        EXPECT_TRUE(out.bytes == c.expected) << Narrow(HexText(out.bytes));
    }

    // GnuPG's armored message, dearmored and decrypted.
    auto reader = WithPassword(kGpgPassword);
    const Outcome dearmored = Dearmor(reader.Get(), kGpgTwofishMd5Armored);
    ASSERT_TRUE(Succeeded(dearmored));
    const Outcome plain = Decrypt(reader.Get(), dearmored.bytes);
    ASSERT_TRUE(Succeeded(plain));
    EXPECT_EQ(plain.bytes, BytesOfText(kGpgPlain));
    const SessionKeyPacket p = ParseSessionKey(Encrypt(reader.Get(), {}).bytes);
    EXPECT_EQ(p.cipher, 10);
    EXPECT_EQ(p.mode, 1);
    EXPECT_EQ(p.hash, 1);
}

TEST_F(Pgp, DearmorRefusals)
{
    auto o = NewPgp();
    const Bytes message = RandomBytes(60, 2);
    const std::wstring good = ExpectedArmor(message);
    std::wstring changedBody = good;
    const size_t bodyStart = good.find(L"\r\n\r\n") + 4;
    changedBody[bodyStart + 10] = changedBody[bodyStart + 10] == L'A' ? L'B' : L'A';
    std::wstring invalidChar = good;
    invalidChar[bodyStart + 10] = L'*';
    std::wstring wrongSum = good;
    const size_t sumAt = good.find(L"\r\n=") + 3;
    wrongSum[sumAt] = wrongSum[sumAt] == L'A' ? L'B' : L'A';
    std::wstring shortSum = good;
    shortSum.replace(sumAt, 4, L"AB");
    struct Case {
        const char* what;
        std::wstring text;
        const wchar_t* description;
    };
    const Case cases[] = {
        {"empty text", L"", kCorrupted},
        {"text without armor", L"Hello,\r\nno message here.\r\n", kCorrupted},
        {"BEGIN line after text on its line", L"see " + good, kCorrupted},
        {"other BEGIN line", L"-----BEGIN PGP SIGNATURE-----\r\n\r\n=twTO\r\n", kCorrupted},
        {"binary message", L"\x8c\x0d\x04\x07", kCorrupted},
        {"changed body character", changedBody, kCrcError},
        {"invalid body character", invalidChar, kCrcError},
        {"changed checksum", wrongSum, kCrcError},
        {"checksum of two characters", shortSum, kCrcError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(Failed(Dearmor(o.Get(), c.text), c.description));
    }
    // A null BSTR is an empty text.
    EXPECT_TRUE(Failed(Dearmor(o.Get(), BSTR(nullptr)), kCorrupted));
}

// --- passwords and errors ---------------------------------------------------------------

TEST_F(Pgp, WrongPasswordIsInvalidKey)
{
    // GnuPG's message: its prefix is fixed, so the quick check fails for certain.
    const Bytes gpgMessage = BytesOfHex(kGpgAesRipemd);
    EXPECT_TRUE(Failed(Decrypt(WithPassword(L"636f72726563742d686f727366").Get(), gpgMessage), kInvalidKey));
    EXPECT_TRUE(Failed(Decrypt(NewPgp().Get(), gpgMessage), kInvalidKey));
    const Outcome right = Decrypt(WithPassword(kGpgPassword).Get(), gpgMessage);
    ASSERT_TRUE(Succeeded(right));
    EXPECT_EQ(right.bytes, BytesOfText(kGpgPlain));

    // A message of this class: a wrong password passes the two-byte quick
    // check once in 65536 times and then fails as corrupted data.
    for (LONG alg : {4, 9}) {
        auto writer = WithPassword(L"7269676874");
        ASSERT_HR(S_OK, writer->Init(2, alg, 3, 96));
        const Outcome m = Encrypt(writer.Get(), RandomBytes(300, 4));
        ASSERT_TRUE(Succeeded(m));
        auto reader = WithPassword(L"77726f6e67");
        const Outcome wrong = Decrypt(reader.Get(), m.bytes);
        EXPECT_TRUE(Failed(wrong, kInvalidKey) || Failed(wrong, kCorrupted)) << Narrow(wrong.record.description);
        // The same object reads it after the password is replaced.
        SetPassword(reader.Get(), L"7269676874");
        EXPECT_TRUE(Succeeded(Decrypt(reader.Get(), m.bytes)));
    }
}

TEST_F(Pgp, ArgumentsThatAreNoBlobs)
{
    auto o = WithPassword(L"6b6579");
    FakeDispatch notABlob;
    for (IDispatch* arg : {static_cast<IDispatch*>(nullptr), static_cast<IDispatch*>(&notABlob)}) {
        SCOPED_TRACE(arg ? "not a blob" : "null");
        EXPECT_HR(E_FAIL, o->put_password(arg));
        EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), kNotABlob, kProgId, IID_IZELCryptoPGP));
        for (BlobMethod method : {&IZELCryptoPGP::Encrypt, &IZELCryptoPGP::Decrypt}) {
            const Outcome out = CallBlob(o.Get(), method, arg);
            EXPECT_HR(E_FAIL, out.hr);
            EXPECT_TRUE(out.resultNull);
            EXPECT_TRUE(HasErrorRecord(out.record, kNotABlob, kProgId, IID_IZELCryptoPGP));
        }
        const Outcome armored = Enarmor(o.Get(), arg);
        EXPECT_HR(E_FAIL, armored.hr);
        EXPECT_TRUE(armored.resultNull);
        EXPECT_TRUE(HasErrorRecord(armored.record, kNotABlob, kProgId, IID_IZELCryptoPGP));
    }
    EXPECT_EQ(notABlob.Refs(), 1);
    // The refused password did not replace the one set before.
    const Outcome m = Encrypt(o.Get(), BytesOfText("still"));
    ASSERT_TRUE(Succeeded(m));
    EXPECT_EQ(Decrypt(WithPassword(L"6b6579").Get(), m.bytes).bytes, BytesOfText("still"));
}

// Every blob the object is handed is locked and unlocked once and let go,
// whether the call succeeds or fails.
TEST_F(Pgp, EveryPathBalancesTheBlob)
{
    ComPtr<IZELCryptoPGP> o; // the row's object
    const BalanceMember putPassword{"password put",
                                    [&](IDispatch* b, IDispatch*, IDispatch**) { return o->put_password(b); }};
    const BalanceMember encrypt{"Encrypt", [&](IDispatch* b, IDispatch*, IDispatch** r) { return o->Encrypt(b, r); },
                                false, true};
    const BalanceMember decrypt{"Decrypt", [&](IDispatch* b, IDispatch*, IDispatch** r) { return o->Decrypt(b, r); },
                                false, true};
    const BalanceMember enarmor{"Enarmor", [&](IDispatch* b, IDispatch*, IDispatch**) {
                                    BSTR text = nullptr;
                                    const HRESULT hr = o->Enarmor(b, &text);
                                    EXPECT_EQ(text != nullptr, SUCCEEDED(hr));
                                    SysFreeString(text);
                                    return hr;
                                }};
    const Outcome sealed = Encrypt(WithPassword(L"6b6579").Get(), BytesOfHex(L"00112233"));
    ASSERT_TRUE(Succeeded(sealed));
    const std::string message = Narrow(HexText(sealed.bytes));

    struct Case {
        BalanceRow row;
        LONG cipher; // the Init algorithm, 0 for the default
    };
    const Case cases[] = {
        {{"password put", &putPassword, {"6b6579"}, {}, S_OK, nullptr}, 0},
        {{"password put, GetBuffer fails", &putPassword, {"6b6579", E_ACCESSDENIED}, {}, E_ACCESSDENIED, nullptr}, 0},
        {{"Encrypt", &encrypt, {"00112233"}, {}, S_OK, nullptr}, 0},
        {{"Encrypt, GetBuffer fails", &encrypt, {"00112233", E_OUTOFMEMORY}, {}, E_OUTOFMEMORY, nullptr}, 0},
        {{"Encrypt, unsupported cipher", &encrypt, {"00"}, {}, E_FAIL, kUnsupported}, 1},
        {{"Decrypt", &decrypt, {message}, {}, S_OK, nullptr}, 0},
        {{"Decrypt, garbage", &decrypt, {"0102030405"}, {}, E_FAIL, kCorrupted}, 0},
        {{"Decrypt, null buffer", &decrypt, {message, S_OK, true}, {}, E_POINTER, nullptr}, 0},
        {{"Enarmor", &enarmor, {"abcdef"}, {}, S_OK, nullptr}, 0},
        {{"Enarmor, GetBuffer fails", &enarmor, {"abcdef", E_ACCESSDENIED}, {}, E_ACCESSDENIED, nullptr}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row.name);
        o = WithPassword(L"6b6579");
        if (c.cipher) {
            ASSERT_HR(S_OK, o->Init(2, c.cipher, 3, 96));
        }
        auto result = RunBalanceRow(c.row, kProgId);
        if (c.row.member == &decrypt && result) {
            EXPECT_EQ(HexOf(result.Get()), L"00112233");
        }
    }
}

// --- damaged messages -------------------------------------------------------------------

// Whatever the damage, a call ends in S_OK or in one of the class's reports,
// never in E_UNEXPECTED or a crash.
testing::AssertionResult Tolerated(const Outcome& out)
{
    if (out.hr == S_OK)
        return out.resultNull ? testing::AssertionFailure() << "S_OK without a result" : testing::AssertionSuccess();
    for (const wchar_t* description : {kCorrupted, kInvalidKey, kUnsupported, kUnsupportedHash, kCrcError}) {
        if (out.record.description == description)
            return Failed(out, description);
    }
    return testing::AssertionFailure() << "returned " << HrText(out.hr) << " with \""
                                       << Narrow(out.record.description) << "\"";
}

TEST_F(Pgp, DamagedMessages)
{
    struct Source {
        const char* what;
        Bytes message;
        std::wstring password;
        size_t blockSize;
    };
    std::vector<Source> sources;
    sources.push_back({"GnuPG's AES message", BytesOfHex(kGpgAesRipemd), kGpgPassword, 16});
    for (LONG alg : {4, 7}) {
        for (LONG mode : {0, 3}) {
            auto o = WithPassword(L"64616d61676564");
            ASSERT_HR(S_OK, o->Init(1, alg, mode, 0));
            sources.push_back({"own message", Encrypt(o.Get(), RandomBytes(20, unsigned(alg))).bytes,
                               L"64616d61676564", alg == 4 ? 8u : 16u});
        }
    }
    for (const Source& s : sources) {
        SCOPED_TRACE(testing::Message() << s.what << " " << Narrow(HexText(s.message)));
        ASSERT_GT(s.message.size(), 40u);
        auto o = WithPassword(s.password);
        ASSERT_TRUE(Succeeded(Decrypt(o.Get(), s.message)));
        // Every truncation fails.
        for (size_t cut = 0; cut < s.message.size(); ++cut) {
            SCOPED_TRACE(testing::Message() << "cut to " << cut << " bytes");
            const Outcome out = Decrypt(o.Get(), Bytes(s.message.begin(), s.message.begin() + cut));
            EXPECT_HR(E_FAIL, out.hr);
            EXPECT_TRUE(Tolerated(out));
        }
        // Every single-bit change is read or refused.  Without integrity
        // protection a change inside the literal data can go unnoticed; one
        // in the session-key packet, the data packet's header or the
        // enciphered prefix cannot, except a larger data length (the body is
        // cut at the end of the message) and one in the first two prefix
        // bytes (caught only by the two-byte quick check).
        const size_t lengthAt = 2 + s.message[1] + 1;
        const size_t prefixStart = lengthAt + 1;
        const size_t prefixEnd = prefixStart + s.blockSize + 2;
        for (size_t i = 0; i < s.message.size(); ++i) {
            for (int bit = 0; bit < 8; ++bit) {
                SCOPED_TRACE(testing::Message() << "byte " << i << " bit " << bit);
                Bytes changed = s.message;
                changed[i] ^= uint8_t(1 << bit);
                auto reader = WithPassword(s.password);
                const Outcome out = Decrypt(reader.Get(), changed);
                EXPECT_TRUE(Tolerated(out));
                const bool longer = i == lengthAt && changed[i] > s.message[i];
                if ((i < prefixStart && !longer) || (i >= prefixStart + 2 && i < prefixEnd)) {
                    EXPECT_HR(E_FAIL, out.hr);
                }
            }
        }
        // Bytes after the data packet are not read.
        Bytes extended = s.message;
        extended.insert(extended.end(), {0x01, 0x02, 0x03});
        EXPECT_TRUE(Succeeded(Decrypt(o.Get(), extended)));
    }

    // Random bytes, half of them starting like a new-format packet of tag
    // 3, 5, 7 or 9.
    auto o = WithPassword(L"00");
    for (unsigned seed = 0; seed < 200; ++seed) {
        Bytes noise = RandomBytes(seed % 50, seed);
        if (seed % 2 && !noise.empty())
            noise[0] = uint8_t(0xC3 + (seed % 4) * 2);
        EXPECT_TRUE(Tolerated(Decrypt(o.Get(), noise))) << Narrow(HexText(noise));
    }
    // A session-key packet alone.
    auto fresh = WithPassword(L"00");
    const Outcome m = Encrypt(fresh.Get(), {});
    ASSERT_TRUE(Succeeded(m));
    EXPECT_TRUE(Failed(Decrypt(fresh.Get(), Bytes(m.bytes.begin(), m.bytes.begin() + 15)), kCorrupted));
}

TEST_F(Pgp, DamagedArmor)
{
    auto o = WithPassword(L"61726d6f72");
    const Outcome m = Encrypt(o.Get(), RandomBytes(80, 9));
    ASSERT_TRUE(Succeeded(m));
    const std::wstring text = Enarmor(o.Get(), m.bytes).text;
    for (size_t cut = 0; cut < text.size(); ++cut) {
        SCOPED_TRACE(testing::Message() << "cut to " << cut << " characters");
        const Outcome out = Dearmor(o.Get(), text.substr(0, cut));
        if (out.hr != S_OK) {
            EXPECT_TRUE(Failed(out, kCorrupted) || Failed(out, kCrcError)) << Narrow(out.record.description);
            continue;
        }
        // What was read decrypts or is refused, never anything else.
        EXPECT_TRUE(Tolerated(Decrypt(o.Get(), out.bytes)));
    }
}

// --- late binding -----------------------------------------------------------------------

TEST_F(Pgp, NamesInAnyCase)
{
    auto o = NewPgp();
    ExpectIds(o.Get(), {{L"OnStartPage", 0x60020000}, {L"OnEndPage", 0x60020001}, {L"Init", 1},
                          {L"init", 1},   {L"Password", 2}, {L"password", 2}, {L"PASSWORD", 2},
                          {L"Encrypt", 3}, {L"decrypt", 4}, {L"Enarmor", 5}, {L"ENARMOR", 5},
                          {L"Dearmor", 6}, {L"dearmor", 6}});
}

// A script's session: o.Init ..., o.Password = b, o.Encrypt(b), o.Enarmor(b),
// o.Dearmor(s), o.Decrypt(b), all by name.
TEST_F(Pgp, ScriptSessionThroughInvoke)
{
    auto writer = NewPgp();
    Invoked init;
    Invoke(writer.Get(), L"init", DISPATCH_METHOD, {LongArg(3), LongArg(9), LongArg(1), LongArg(0)}, init);
    ASSERT_HR(S_OK, init.hr);
    auto password = NewBlob(L"6c617465");
    Invoked put;
    Invoke(writer.Get(), L"Password", DISPATCH_PROPERTYPUT, {ObjectArg(password.Get())}, put);
    ASSERT_HR(S_OK, put.hr);

    auto plain = NewBlob(L"6c6174652d626f756e64");
    Invoked encrypted;
    Invoke(writer.Get(), L"Encrypt", DISPATCH_METHOD, {ObjectArg(plain.Get())}, encrypted);
    ASSERT_HR(S_OK, encrypted.hr);
    ASSERT_EQ(V_VT(&encrypted.result), VT_DISPATCH);
    const Bytes message = BytesOfHex(HexOf(V_DISPATCH(&encrypted.result)));
    const SessionKeyPacket p = ParseSessionKey(message);
    EXPECT_EQ(p.cipher, 9);
    EXPECT_EQ(p.mode, 1);
    EXPECT_EQ(p.hash, 3);
    // The password given by name is the one used.
    EXPECT_EQ(HexText(Decrypt(WithPassword(L"6c617465").Get(), message).bytes), L"6c6174652d626f756e64");

    Invoked armored;
    Invoke(writer.Get(), L"Enarmor", DISPATCH_METHOD, {ObjectArg(V_DISPATCH(&encrypted.result))}, armored);
    ASSERT_HR(S_OK, armored.hr);
    ASSERT_EQ(V_VT(&armored.result), VT_BSTR);
    EXPECT_EQ(std::wstring(V_BSTR(&armored.result), SysStringLen(V_BSTR(&armored.result))), ExpectedArmor(message));

    auto reader = NewPgp();
    Invoked put2;
    Invoke(reader.Get(), L"password", DISPATCH_PROPERTYPUT, {ObjectArg(password.Get())}, put2);
    ASSERT_HR(S_OK, put2.hr);
    Invoked dearmored;
    Invoke(reader.Get(), L"Dearmor", DISPATCH_METHOD, {StringArg(V_BSTR(&armored.result))}, dearmored);
    ASSERT_HR(S_OK, dearmored.hr);
    ASSERT_EQ(V_VT(&dearmored.result), VT_DISPATCH);
    Invoked decrypted;
    Invoke(reader.Get(), L"Decrypt", DISPATCH_METHOD, {ObjectArg(V_DISPATCH(&dearmored.result))}, decrypted);
    ASSERT_HR(S_OK, decrypted.hr);
    ASSERT_EQ(V_VT(&decrypted.result), VT_DISPATCH);
    EXPECT_EQ(HexOf(V_DISPATCH(&decrypted.result)), L"6c6174652d626f756e64");
}

TEST_F(Pgp, ErrorsThroughInvoke)
{
    auto o = NewPgp();
    auto blob = NewBlob(L"00");
    struct Case {
        const char* what;
        const wchar_t* name;
        std::vector<VARIANT> args;
        WORD flags;
        const wchar_t* description;
    };
    FakeDispatch notABlob;
    Bstr noArmor(L"no armor");
    const Case cases[] = {
        {"password not a blob", L"Password", {ObjectArg(&notABlob)}, DISPATCH_PROPERTYPUT, kNotABlob},
        {"password Nothing", L"Password", {ObjectArg(nullptr)}, DISPATCH_PROPERTYPUT, kNotABlob},
        {"Enarmor of Nothing", L"Enarmor", {ObjectArg(nullptr)}, DISPATCH_METHOD, kNotABlob},
        {"Dearmor of no armor", L"Dearmor", {StringArg(noArmor)}, DISPATCH_METHOD, kCorrupted},
        {"Decrypt of no message", L"Decrypt", {ObjectArg(blob.Get())}, DISPATCH_METHOD, kCorrupted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Invoked out;
        Invoke(o.Get(), c.name, c.flags, c.args, out);
        EXPECT_HR(DISP_E_EXCEPTION, out.hr);
        EXPECT_HR(E_FAIL, out.scode);
        EXPECT_EQ(out.description, c.description);
        EXPECT_EQ(out.source, kProgId);
    }
    // Init takes anything; Encrypt reports the cipher it cannot use.
    Invoked init;
    Invoke(o.Get(), L"Init", DISPATCH_METHOD, {LongArg(2), LongArg(1), LongArg(3), LongArg(96)}, init);
    EXPECT_HR(S_OK, init.hr);
    Invoked encrypted;
    Invoke(o.Get(), L"Encrypt", DISPATCH_METHOD, {ObjectArg(blob.Get())}, encrypted);
    EXPECT_HR(DISP_E_EXCEPTION, encrypted.hr);
    EXPECT_HR(E_FAIL, encrypted.scode);
    EXPECT_EQ(encrypted.description, kUnsupported);
    EXPECT_EQ(encrypted.source, kProgId);
}

} // namespace

// --- the second interface: message formats -----------------------------------------

namespace {

ComPtr<IZELCryptoPGP2> NewPgp2()
{
    ComPtr<IZELCryptoPGP2> pgp;
    EXPECT_HR(S_OK, CoCreateInstance(CLSID_ZELCryptoPGP, nullptr, CLSCTX_INPROC_SERVER, IID_IZELCryptoPGP2,
                                     pgp.OutVoid()));
    return pgp;
}

struct Setting {
    const char* name;
    HRESULT (STDMETHODCALLTYPE IZELCryptoPGP2::*get)(LONG*);
    HRESULT (STDMETHODCALLTYPE IZELCryptoPGP2::*put)(LONG);
    LONG fresh, low, high;
    const wchar_t* range;
};

const Setting kSettings[] = {
    {"Format", &IZELCryptoPGP2::get_Format, &IZELCryptoPGP2::put_Format, 0, 0, 3, L"Format must be 0, 1, 2 or 3"},
    {"Aead", &IZELCryptoPGP2::get_Aead, &IZELCryptoPGP2::put_Aead, 2, 1, 3, L"Aead must be 1 (EAX), 2 (OCB) or 3 (GCM)"},
    {"ChunkSize", &IZELCryptoPGP2::get_ChunkSize, &IZELCryptoPGP2::put_ChunkSize, 12, 0, 16,
     L"ChunkSize must be 0 to 16"},
    {"Compression", &IZELCryptoPGP2::get_Compression, &IZELCryptoPGP2::put_Compression, 0, 0, 2,
     L"Compression must be 0 (none), 1 (ZIP) or 2 (ZLIB)"},
};

LONG Get(IZELCryptoPGP2* o, const Setting& s)
{
    LONG v = -12345;
    EXPECT_HR(S_OK, (o->*s.get)(&v)) << s.name;
    return v;
}

} // namespace

// One object answers both interfaces with one pointer; the old one's
// members and the new settings.
TEST_F(Pgp, SecondInterfaceAndItsSettings)
{
    auto o = NewPgp2();
    ASSERT_TRUE(o);
    auto first = o.As<IZELCryptoPGP>(IID_IZELCryptoPGP);
    auto dispatch = o.As<IDispatch>(IID_IDispatch);
    EXPECT_EQ(static_cast<void*>(first.Get()), static_cast<void*>(o.Get()));
    EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(o.Get()));
    auto errors = o.As<ISupportErrorInfo>(IID_ISupportErrorInfo);
    ASSERT_TRUE(errors);
    EXPECT_HR(S_OK, errors->InterfaceSupportsErrorInfo(IID_IZELCryptoPGP2));

    for (const Setting& s : kSettings) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(Get(o.Get(), s), s.fresh);
        EXPECT_HR(E_POINTER, (o.Get()->*s.get)(nullptr));
        for (LONG v = s.low; v <= s.high; ++v) {
            EXPECT_HR(S_OK, (o.Get()->*s.put)(v));
            EXPECT_EQ(Get(o.Get(), s), v);
        }
        for (LONG bad : {s.low - 1, s.high + 1, LONG(0x7FFFFFFF), LONG(-0x7FFFFFFF - 1)}) {
            EXPECT_HR(E_INVALIDARG, (o.Get()->*s.put)(bad)) << bad;
            EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), s.range, kProgId, GUID_NULL)) << bad;
            EXPECT_EQ(Get(o.Get(), s), s.high) << bad;
        }
    }
    // Late binding reaches them by name, as scripts do.
    ExpectIds(dispatch.Get(), {{L"format", 7}, {L"AEAD", 8}, {L"ChunkSize", 9}, {L"compression", 10}, {L"Init", 1}});
    Invoked put, got;
    VARIANT two = LongArg(2);
    Invoke(dispatch.Get(), L"Format", DISPATCH_PROPERTYPUT, {two}, put);
    EXPECT_HR(S_OK, put.hr);
    Invoke(dispatch.Get(), L"Format", DISPATCH_PROPERTYGET, {}, got);
    EXPECT_HR(S_OK, got.hr);
    EXPECT_EQ(V_VT(&got.result), VT_I4);
    EXPECT_EQ(V_I4(&got.result), 2);
}

// Each format written through the object is read by a fresh one, which
// then reports the message's format, AEAD mode, chunk size and
// compression; the data packet's tag and the session packet's version
// show which format was written.
TEST_F(Pgp, FormatsRoundTripAndReportTheMessage)
{
    const Bytes plain = RandomBytes(70000, 5);
    struct Case {
        LONG format, aead, chunk, compression;
        uint8_t sessionVersion, dataTag;
    };
    const Case cases[] = {
        {0, 2, 12, 0, 4, 9}, {1, 2, 12, 1, 4, 18}, {1, 2, 12, 2, 4, 18},
        {2, 1, 0, 0, 6, 18}, {2, 2, 12, 1, 6, 18}, {2, 3, 4, 2, 6, 18},
        {3, 1, 6, 0, 5, 20}, {3, 2, 16, 2, 5, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "format " << c.format << ", aead " << c.aead);
        auto writer = NewPgp2();
        SetPassword(writer.Get(), L"70617373");
        EXPECT_HR(S_OK, writer->Init(8, 9, 3, 16)); // SHA-256, AES-256, iterated
        EXPECT_HR(S_OK, writer->put_Format(c.format));
        EXPECT_HR(S_OK, writer->put_Aead(c.aead));
        EXPECT_HR(S_OK, writer->put_ChunkSize(c.chunk));
        EXPECT_HR(S_OK, writer->put_Compression(c.compression));
        const Outcome sealed = Encrypt(writer.Get(), plain);
        ASSERT_TRUE(Succeeded(sealed));
        ASSERT_GT(sealed.bytes.size(), 4u);
        EXPECT_EQ(sealed.bytes[2], c.sessionVersion);
        const size_t dataAt = 2 + sealed.bytes[1];
        ASSERT_LT(dataAt, sealed.bytes.size());
        EXPECT_EQ(sealed.bytes[dataAt] & 0x3F, c.dataTag);

        auto reader = NewPgp2();
        SetPassword(reader.Get(), L"70617373");
        const Outcome opened = Decrypt(reader.Get(), sealed.bytes);
        ASSERT_TRUE(Succeeded(opened));
        EXPECT_EQ(opened.bytes, plain);
        EXPECT_EQ(Get(reader.Get(), kSettings[0]), c.format);
        EXPECT_EQ(Get(reader.Get(), kSettings[3]), c.compression);
        if (c.format >= 2) {
            EXPECT_EQ(Get(reader.Get(), kSettings[1]), c.aead);
            EXPECT_EQ(Get(reader.Get(), kSettings[2]), c.chunk);
        }

        // A byte changed in the last chunk, tag or modification check.
        if (c.format > 0) {
            Bytes tampered = sealed.bytes;
            tampered[tampered.size() - 5] ^= 0x20;
            EXPECT_TRUE(Failed(Decrypt(reader.Get(), tampered), kCorrupted));
        }
    }

    // What a format cannot take is refused by Encrypt, not by the setter.
    auto o = NewPgp2();
    SetPassword(o.Get(), L"70617373");
    EXPECT_HR(S_OK, o->put_Format(2));
    EXPECT_TRUE(Failed(Encrypt(o.Get(), plain), kUnsupported)); // Blowfish has 8-byte blocks
    EXPECT_HR(S_OK, o->Init(2, 7, 4, 0));
    EXPECT_TRUE(Succeeded(Encrypt(o.Get(), plain))); // Argon2 with format 2
    EXPECT_HR(S_OK, o->put_Format(1));
    EXPECT_TRUE(Failed(Encrypt(o.Get(), plain), kUnsupported)); // but not with format 1
}
