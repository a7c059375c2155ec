// The RSA class through IZELCryptoRSA and through IDispatch: key generation
// from seeds, key blobs moved between objects, Encrypt/Decrypt round trips at
// the block boundaries, the encoding parameter set by SetIV, signatures, the
// halves an object needs for each operation, refused key blobs and arguments
// (HRESULT, error record, out-pointers), and the lock balance a blob double
// sees on every path.
//
// The engine's arithmetic is checked natively and against independent
// implementations by tests/scripts/rsa_crosscheck.py; here the subject is
// what a COM client sees.
#include "support.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using namespace zeltest;

namespace {

const wchar_t kProgId[] = L"Valdergast.ZELCryptoRSA.2";
const wchar_t kInvalidKey[] = L"Crypto System: Invalid key - RSA";
const wchar_t kCannotDecrypt[] = L"Crypto System: Unable to decrypt data - RSA";
const wchar_t kShortKeyBlob[] = L"Crypto System: Data is corrupted - RSA";

// The public key blob of an object that holds no key: k = 0, n = 0, e = 0.
const wchar_t kEmptyPublicKey[] = L"0000000000000001000000000100";

// Fixed seeds: the keys they make are the same on every run.
const wchar_t kSeedA[] = L"5345454420412d2031";
const wchar_t kSeedB[] = L"7365656420622c20706c65617365";
const wchar_t kSeedC[] = L"00112233445566778899";
const wchar_t kSeedD[] = L"ffeeddccbbaa";

std::wstring Rep(const wchar_t* byteHex, size_t count)
{
    std::wstring hex;
    for (size_t i = 0; i < count; ++i)
        hex += byteHex;
    return hex;
}

std::wstring Be32(uint32_t v)
{
    wchar_t text[9];
    swprintf(text, 9, L"%08x", v);
    return text;
}

// A key blob taken apart: k and the length-prefixed items that follow.
struct KeyBlob {
    uint32_t k = 0;
    std::vector<std::wstring> items;
    std::wstring rest; // bytes after the last item that could be read
};

uint32_t ReadBe32(const std::wstring& hex, size_t at)
{
    return uint32_t(std::stoul(Narrow(hex.substr(at, 8)), nullptr, 16));
}

KeyBlob Parse(const std::wstring& hex)
{
    KeyBlob blob;
    if (hex.size() < 8)
        return blob;
    blob.k = ReadBe32(hex, 0);
    size_t at = 8;
    while (at + 8 <= hex.size()) {
        const size_t length = ReadBe32(hex, at);
        if (at + 8 + 2 * length > hex.size())
            break;
        blob.items.push_back(hex.substr(at + 8, 2 * length));
        at += 8 + 2 * length;
    }
    blob.rest = hex.substr(at);
    return blob;
}

std::wstring Build(uint32_t k, const std::vector<std::wstring>& items)
{
    std::wstring hex = Be32(k);
    for (const std::wstring& item : items)
        hex += Be32(uint32_t(item.size() / 2)) + item;
    return hex;
}

std::vector<uint8_t> Bytes(const std::wstring& hex)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(uint8_t(std::stoul(Narrow(hex.substr(i, 2)), nullptr, 16)));
    return bytes;
}

std::wstring HexOfBytes(const std::vector<uint8_t>& bytes)
{
    std::wstring hex;
    wchar_t pair[3];
    for (uint8_t b : bytes) {
        swprintf(pair, 3, L"%02x", b);
        hex += pair;
    }
    return hex;
}

// The sum of two big-endian numbers given as hex.
std::wstring AddHex(const std::wstring& a, const std::wstring& b)
{
    std::vector<uint8_t> x = Bytes(a), y = Bytes(b);
    if (x.size() < y.size())
        std::swap(x, y);
    y.insert(y.begin(), x.size() - y.size(), 0);
    unsigned carry = 0;
    for (size_t i = x.size(); i-- > 0;) {
        const unsigned s = x[i] + y[i] + carry;
        x[i] = uint8_t(s);
        carry = s >> 8;
    }
    if (carry)
        x.insert(x.begin(), uint8_t(carry));
    return HexOfBytes(x);
}

// hex with the low bit of byte `byteIndex` flipped.
std::wstring FlipBit(const std::wstring& hex, size_t byteIndex)
{
    std::vector<uint8_t> bytes = Bytes(hex);
    bytes.at(byteIndex) ^= 1;
    return HexOfBytes(bytes);
}

using Rsa = ComPtr<IZELCryptoRSA>;
using BlobMethod = HRESULT (STDMETHODCALLTYPE IZELCryptoRSA::*)(IDispatch*, IDispatch**);

Rsa New()
{
    Rsa created;
    EXPECT_HR(S_OK, CoCreateInstance(CLSID_ZELCryptoRSA, nullptr, CLSCTX_INPROC_SERVER, IID_IZELCryptoRSA,
                                     created.OutVoid()));
    return created;
}

// Encrypt, Decrypt or Sign: the result's hex, or the HRESULT's text.
std::wstring Run(IZELCryptoRSA* o, BlobMethod method, const std::wstring& hex)
{
    auto src = NewBlob(hex);
    IDispatch* raw = nullptr;
    const HRESULT hr = (o->*method)(src.Get(), &raw);
    auto result = ComPtr<IDispatch>::Attach(raw);
    EXPECT_EQ(HexOf(src.Get()), hex) << "the source blob changed";
    if (FAILED(hr)) {
        EXPECT_EQ(raw, nullptr) << "a failed call handed out a blob";
        return Wide(HrText(hr));
    }
    return HexOf(result.Get());
}
std::wstring Encrypt(IZELCryptoRSA* o, const std::wstring& hex)
{
    return Run(o, &IZELCryptoRSA::Encrypt, hex);
}
std::wstring Decrypt(IZELCryptoRSA* o, const std::wstring& hex)
{
    return Run(o, &IZELCryptoRSA::Decrypt, hex);
}
std::wstring Sign(IZELCryptoRSA* o, const std::wstring& hex)
{
    return Run(o, &IZELCryptoRSA::Sign, hex);
}

// Verify's answer, or -1000 when the call failed.
LONG Verify(IZELCryptoRSA* o, const std::wstring& data, const std::wstring& signature)
{
    auto d = NewBlob(data);
    auto s = NewBlob(signature);
    LONG res = -7;
    const HRESULT hr = o->Verify(d.Get(), s.Get(), &res);
    if (FAILED(hr)) {
        EXPECT_EQ(res, 0) << "a failed Verify left its answer at " << res;
        return -1000;
    }
    return res;
}

std::wstring PublicOf(IZELCryptoRSA* o)
{
    IDispatch* raw = nullptr;
    const HRESULT hr = o->get_PublicKey(&raw);
    auto blob = ComPtr<IDispatch>::Attach(raw);
    return FAILED(hr) ? Wide(HrText(hr)) : HexOf(blob.Get());
}
std::wstring PrivateOf(IZELCryptoRSA* o)
{
    IDispatch* raw = nullptr;
    const HRESULT hr = o->get_PrivateKey(&raw);
    auto blob = ComPtr<IDispatch>::Attach(raw);
    return FAILED(hr) ? Wide(HrText(hr)) : HexOf(blob.Get());
}

HRESULT Keygen(IZELCryptoRSA* o, const std::wstring& seed1, const std::wstring& seed2, LONG size)
{
    auto a = NewBlob(seed1);
    auto b = NewBlob(seed2);
    const HRESULT hr = o->Keygen(a.Get(), b.Get(), size);
    EXPECT_EQ(HexOf(a.Get()), seed1);
    EXPECT_EQ(HexOf(b.Get()), seed2);
    return hr;
}
HRESULT PutPublic(IZELCryptoRSA* o, const std::wstring& hex)
{
    return o->put_PublicKey(NewBlob(hex).Get());
}
HRESULT PutPrivate(IZELCryptoRSA* o, const std::wstring& hex)
{
    return o->put_PrivateKey(NewBlob(hex).Get());
}
HRESULT SetIV(IZELCryptoRSA* o, const std::wstring& hex)
{
    return o->SetIV(NewBlob(hex).Get());
}

testing::AssertionResult Reported(const std::wstring& description, REFGUID guid = GUID_NULL)
{
    return HasErrorRecord(TakeErrorRecord(), description, kProgId, guid);
}

const std::wstring kFail = Wide(HrText(E_FAIL));

// A generated key, kept as its two blobs.
struct Key {
    std::wstring publicBlob;
    std::wstring privateBlob;
    uint32_t k = 0;
    std::wstring n, e;
};

class RsaClass : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        key64 = Generate(kSeedA, kSeedB, 64);
        other64 = Generate(kSeedC, kSeedD, 64);
        key128 = Generate(kSeedA, kSeedB, 128);
    }

    static Key Generate(const wchar_t* seed1, const wchar_t* seed2, LONG size)
    {
        Key key;
        auto o = New();
        EXPECT_HR(S_OK, Keygen(o.Get(), seed1, seed2, size));
        key.publicBlob = PublicOf(o.Get());
        key.privateBlob = PrivateOf(o.Get());
        const KeyBlob parsed = Parse(key.publicBlob);
        key.k = parsed.k;
        if (parsed.items.size() == 2) {
            key.n = parsed.items[0];
            key.e = parsed.items[1];
        }
        return key;
    }

    void SetUp() override
    {
        ClearErrorRecord();
        // The seeds above were chosen to give moduli of the full k bytes, so
        // that every encoded block is below n.
        ASSERT_EQ(key64.n.size(), 2u * 64);
        ASSERT_EQ(other64.n.size(), 2u * 64);
        ASSERT_EQ(key128.n.size(), 2u * 128);
    }

    // A new object holding both halves through Keygen.
    static Rsa Generated(LONG size = 64)
    {
        auto o = New();
        EXPECT_HR(S_OK, Keygen(o.Get(), kSeedA, kSeedB, size));
        return o;
    }
    static Rsa PublicOnly(const Key& key)
    {
        auto o = New();
        EXPECT_HR(S_OK, PutPublic(o.Get(), key.publicBlob));
        return o;
    }
    static Rsa PrivateOnly(const Key& key)
    {
        auto o = New();
        EXPECT_HR(S_OK, PutPrivate(o.Get(), key.privateBlob));
        return o;
    }

    static Key key64, other64, key128;
};

Key RsaClass::key64;
Key RsaClass::other64;
Key RsaClass::key128;

// --- the class ---------------------------------------------------------------------

// Its ProgIDs are checked with every class's (ClassLookup).
TEST_F(RsaClass, InterfacesAndTypeInformation)
{
    auto o = New();
    ASSERT_TRUE(o);
    auto errors = o.As<ISupportErrorInfo>(IID_ISupportErrorInfo);
    ASSERT_TRUE(errors);
    EXPECT_HR(S_OK, errors->InterfaceSupportsErrorInfo(IID_IZELCryptoRSA));
    EXPECT_HR(S_OK, errors->InterfaceSupportsErrorInfo(IID_IZELCryptoRSA2));
    EXPECT_FALSE(o.As<IZELCryptoSymmetric>(IID_IZELCryptoSymmetric));
    // The new interface begins with the old one's vtable: one pointer serves
    // both, and IDispatch is the same pointer again.
    auto second = o.As<IZELCryptoRSA2>(IID_IZELCryptoRSA2);
    ASSERT_TRUE(second);
    EXPECT_EQ(static_cast<IUnknown*>(o.Get()), static_cast<IUnknown*>(second.Get()));
    auto dispatch = o.As<IDispatch>(IID_IDispatch);
    ASSERT_TRUE(dispatch);
    EXPECT_EQ(static_cast<IUnknown*>(o.Get()), static_cast<IUnknown*>(dispatch.Get()));

    // Late binding sees the class's default, the new interface.
    ComPtr<ITypeInfo> info;
    ASSERT_HR(S_OK, o->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Out()));
    TYPEATTR* attr = nullptr;
    ASSERT_HR(S_OK, info->GetTypeAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IZELCryptoRSA2));
    info->ReleaseTypeAttr(attr);
}

// --- a fresh object -----------------------------------------------------------------

TEST_F(RsaClass, FreshObjectExportsTheEmptyKeyAndRefusesEveryOperation)
{
    auto o = New();
    EXPECT_EQ(PublicOf(o.Get()), kEmptyPublicKey);
    // k = 0 and seven zero numbers.
    EXPECT_EQ(PrivateOf(o.Get()), Build(0, std::vector<std::wstring>(7, L"00")));

    for (const std::wstring& data : {std::wstring(), Seq(0, 1), Seq(0, 64)}) {
        SCOPED_TRACE(Narrow(data));
        for (BlobMethod method : {&IZELCryptoRSA::Encrypt, &IZELCryptoRSA::Decrypt, &IZELCryptoRSA::Sign}) {
            auto src = NewBlob(data);
            FakeBlob sentinel;
            IDispatch* dest = &sentinel;
            EXPECT_HR(E_FAIL, (o.Get()->*method)(src.Get(), &dest));
            EXPECT_EQ(dest, nullptr);
            EXPECT_EQ(sentinel.Refs(), 1);
            EXPECT_TRUE(Reported(kInvalidKey));
        }
        EXPECT_EQ(Verify(o.Get(), data, Seq(0, 64)), -1000);
        EXPECT_TRUE(Reported(kInvalidKey));
    }
    // Still no key.
    EXPECT_EQ(PublicOf(o.Get()), kEmptyPublicKey);
}

// The property readers do not clear their out-pointer first, but hand out a
// new blob on every read.
TEST_F(RsaClass, KeyReadsAreNewBlobs)
{
    auto o = Generated();
    IDispatch* first = nullptr;
    IDispatch* second = nullptr;
    ASSERT_HR(S_OK, o->get_PublicKey(&first));
    auto a = ComPtr<IDispatch>::Attach(first);
    ASSERT_HR(S_OK, o->get_PublicKey(&second));
    auto b = ComPtr<IDispatch>::Attach(second);
    EXPECT_NE(a.Get(), b.Get());
    EXPECT_EQ(HexOf(a.Get()), HexOf(b.Get()));
    EXPECT_FALSE(TakeErrorRecord().present);

    // Changing a read blob does not reach the key.
    auto script = a.As<IZELBlobScript>(IID_IZELBlobScript);
    ASSERT_TRUE(script);
    EXPECT_HR(S_OK, script->Clear());
    EXPECT_EQ(PublicOf(o.Get()), key64.publicBlob);

    EXPECT_HR(E_POINTER, o->get_PublicKey(nullptr));
    EXPECT_HR(E_POINTER, o->get_PrivateKey(nullptr));
}

// --- key generation -------------------------------------------------------------------

TEST_F(RsaClass, KeygenIsDeterministicAndBlobsHaveTheirLayout)
{
    // Another object, the same seeds: the same bytes.
    auto o = Generated();
    EXPECT_EQ(PublicOf(o.Get()), key64.publicBlob);
    EXPECT_EQ(PrivateOf(o.Get()), key64.privateBlob);
    // The larger prime is p whichever seed made it: swapped seeds, same key.
    auto swapped = New();
    ASSERT_HR(S_OK, Keygen(swapped.Get(), kSeedB, kSeedA, 64));
    EXPECT_EQ(PublicOf(swapped.Get()), key64.publicBlob);
    EXPECT_EQ(PrivateOf(swapped.Get()), key64.privateBlob);
    // Other seeds, another key; Keygen replaces the key an object holds.
    EXPECT_NE(other64.publicBlob, key64.publicBlob);
    ASSERT_HR(S_OK, Keygen(o.Get(), kSeedC, kSeedD, 64));
    EXPECT_EQ(PublicOf(o.Get()), other64.publicBlob);
    EXPECT_EQ(PrivateOf(o.Get()), other64.privateBlob);

    for (const Key* key : {&key64, &key128}) {
        SCOPED_TRACE(key->k);
        const KeyBlob pub = Parse(key->publicBlob);
        ASSERT_EQ(pub.items.size(), 2u);
        EXPECT_EQ(pub.rest, L"");
        // e starts at 65537 and only moves to a larger prime.
        EXPECT_GE(pub.items[1].size(), 6u);
        EXPECT_NE(pub.items[1].substr(0, 2), L"00");
        const KeyBlob priv = Parse(key->privateBlob);
        EXPECT_EQ(priv.k, key->k);
        ASSERT_EQ(priv.items.size(), 7u) << "n, d, p, q, dP, dQ, qInv";
        EXPECT_EQ(priv.rest, L"");
        EXPECT_EQ(priv.items[0], pub.items[0]);
        for (const std::wstring& item : priv.items)
            EXPECT_NE(item.substr(0, 2), L"00") << "not in minimal form: " << Narrow(item);
        // p and q: half of the modulus each; p > q.
        const std::wstring& p = priv.items[2];
        const std::wstring& q = priv.items[3];
        EXPECT_LE(p.size(), size_t(key->k));
        EXPECT_LE(q.size(), size_t(key->k));
        EXPECT_TRUE(p.size() > q.size() || (p.size() == q.size() && p > q));
    }
    EXPECT_EQ(key128.publicBlob.substr(0, 8), L"00000080");
    EXPECT_EQ(key128.privateBlob.substr(0, 8), L"00000080");
    EXPECT_EQ(key64.privateBlob.substr(0, 8), L"00000040");
}

// The size is rounded up to 64, 128 or 256 bytes; anything above 128,
// negative numbers included, is 256.
TEST_F(RsaClass, KeySizes)
{
    struct Case {
        LONG size;
        uint32_t k;
    };
    const Case cases[] = {{0, 64}, {1, 64}, {64, 64}, {65, 128}, {100, 128}, {128, 128}, {1024, 256}, {-1, 256}};
    std::wstring big;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        auto o = New();
        ASSERT_HR(S_OK, Keygen(o.Get(), kSeedC, kSeedD, c.size));
        const std::wstring pub = PublicOf(o.Get());
        const KeyBlob parsed = Parse(pub);
        EXPECT_EQ(parsed.k, c.k);
        ASSERT_EQ(parsed.items.size(), 2u);
        EXPECT_LE(parsed.items[0].size(), 2u * c.k);
        EXPECT_GE(parsed.items[0].size(), 2u * (c.k - 2));
        // The key depends on the seeds and k only.
        if (c.k == 64) {
            EXPECT_EQ(pub, other64.publicBlob);
        }
        if (c.k == 256) {
            if (big.empty())
                big = pub;
            EXPECT_EQ(pub, big);
            // A 256-byte key works: one round trip and one signature.
            const std::wstring message = Seq(0x41, 256 - 42 + 1);
            const std::wstring cipher = Encrypt(o.Get(), message);
            EXPECT_EQ(cipher.size(), 2u * 2 * 256);
            EXPECT_EQ(Decrypt(o.Get(), cipher), message);
            EXPECT_EQ(Verify(o.Get(), message, Sign(o.Get(), message)), 1);
        }
    }
}

// Seeds are bytes like any others: empty ones and two equal ones make a
// working key, and neither raises anything.
TEST_F(RsaClass, EmptyAndEqualSeedsMakeWorkingKeys)
{
    const std::pair<std::wstring, std::wstring> seeds[] = {{L"", L""}, {L"", kSeedA}, {kSeedA, kSeedA}};
    for (const auto& s : seeds) {
        SCOPED_TRACE(Narrow(s.first + L"/" + s.second));
        auto o = New();
        ASSERT_HR(S_OK, Keygen(o.Get(), s.first, s.second, 64));
        EXPECT_FALSE(TakeErrorRecord().present);
        const KeyBlob priv = Parse(PrivateOf(o.Get()));
        ASSERT_EQ(priv.items.size(), 7u);
        EXPECT_NE(priv.items[2], priv.items[3]) << "p = q";
        const std::wstring message = Seq(3, 30);
        EXPECT_EQ(Verify(o.Get(), message, Sign(o.Get(), message)), 1);
        const KeyBlob pub = Parse(PublicOf(o.Get()));
        ASSERT_EQ(pub.items.size(), 2u);
        // These seeds give moduli of at least k - 1 bytes, which round trips need.
        EXPECT_GE(pub.items[0].size(), 2u * 63);
        EXPECT_EQ(Decrypt(o.Get(), Encrypt(o.Get(), message)), message);
    }
}

// --- encryption -----------------------------------------------------------------------------

// Message lengths around the k - 42 bytes that one block carries, on the
// object that made the key and between objects that hold one half each.
TEST_F(RsaClass, RoundTripsAtBlockBoundaries)
{
    for (const Key* key : {&key64, &key128}) {
        const size_t k = key->k;
        const size_t m = k - 42;
        auto both = New();
        ASSERT_HR(S_OK, Keygen(both.Get(), kSeedA, kSeedB, LONG(k)));
        auto encryptor = PublicOnly(*key);
        auto decryptor = PrivateOnly(*key);
        const std::wstring paddedN = Rep(L"00", k - key->n.size() / 2) + key->n;
        for (size_t length : {size_t(0), size_t(1), m - 1, m, m + 1, 2 * m, 2 * m + 1, 3 * m}) {
            SCOPED_TRACE(testing::Message() << "k " << k << ", " << length << " bytes");
            const std::wstring message = Seq(unsigned(length * 7), length);
            const size_t blocks = (length + m - 1) / m;
            for (IZELCryptoRSA* from : {both.Get(), encryptor.Get()}) {
                const std::wstring cipher = Encrypt(from, message);
                ASSERT_EQ(cipher.size(), 2 * k * blocks) << Narrow(cipher);
                // Every block is a number below n.
                for (size_t b = 0; b < blocks; ++b)
                    EXPECT_LT(cipher.substr(2 * k * b, 2 * k), paddedN) << "block " << b;
                EXPECT_EQ(Decrypt(both.Get(), cipher), message);
                EXPECT_EQ(Decrypt(decryptor.Get(), cipher), message);
            }
            EXPECT_FALSE(TakeErrorRecord().present);
        }
    }
}

// Every block gets a fresh random seed: the same message never encrypts
// twice to the same bytes, and blocks of one call differ even when their
// message bytes are the same.
TEST_F(RsaClass, EncryptionIsRandomized)
{
    auto o = Generated();
    const std::wstring message = Rep(L"5a", 22) + Rep(L"5a", 22);
    const std::wstring first = Encrypt(o.Get(), message);
    const std::wstring second = Encrypt(o.Get(), message);
    ASSERT_EQ(first.size(), 2u * 128);
    ASSERT_EQ(second.size(), first.size());
    EXPECT_NE(first, second);
    EXPECT_NE(first.substr(0, 128), first.substr(128));
    EXPECT_EQ(Decrypt(o.Get(), first), message);
    EXPECT_EQ(Decrypt(o.Get(), second), message);
}

TEST_F(RsaClass, DecryptRefusesDamagedCiphertexts)
{
    auto o = Generated();
    const std::wstring message = Seq(0x20, 30);
    const std::wstring cipher = Encrypt(o.Get(), message);
    ASSERT_EQ(cipher.size(), 2u * 128);
    const std::wstring bad[] = {
        cipher.substr(0, 2 * 127),             // a short block
        cipher + L"00",                        // a short final block
        cipher.substr(0, 128) + FlipBit(cipher.substr(128), 40), // a damaged second block
        FlipBit(cipher, 63),                   // a damaged first block
    };
    for (const std::wstring& c : bad) {
        SCOPED_TRACE(Narrow(c));
        EXPECT_EQ(Decrypt(o.Get(), c), kFail);
        EXPECT_TRUE(Reported(kCannotDecrypt));
    }
    EXPECT_EQ(Decrypt(o.Get(), L""), L"");
    EXPECT_EQ(Decrypt(o.Get(), cipher), message);
}

// The SHA-1 digest of the SetIV parameter leads every block: both sides must
// use the same parameter.  It plays no part in signatures.
TEST_F(RsaClass, SetIVLabelMustMatch)
{
    const std::wstring message = Seq(0x61, 40);
    auto sender = PublicOnly(key64);
    auto receiver = PrivateOnly(key64);
    auto defaultLabel = PrivateOnly(key64);
    ASSERT_HR(S_OK, SetIV(sender.Get(), L"6c6162656c"));
    ASSERT_HR(S_OK, SetIV(receiver.Get(), L"6c6162656c"));
    const std::wstring cipher = Encrypt(sender.Get(), message);
    EXPECT_EQ(Decrypt(receiver.Get(), cipher), message);

    // Another label, the default one, and the empty parameter (whose digest
    // is not that of the default four zero bytes) all refuse it.
    EXPECT_EQ(Decrypt(defaultLabel.Get(), cipher), kFail);
    EXPECT_TRUE(Reported(kCannotDecrypt));
    for (const wchar_t* param : {L"6c6162656d", L"", L"6c6162656c00"}) {
        auto other = PrivateOnly(key64);
        ASSERT_HR(S_OK, SetIV(other.Get(), param));
        FakeBlob sentinel;
        IDispatch* dest = &sentinel;
        auto src = NewBlob(cipher);
        EXPECT_HR(E_FAIL, other->Decrypt(src.Get(), &dest)) << Narrow(param);
        EXPECT_EQ(dest, nullptr);
        EXPECT_TRUE(Reported(kCannotDecrypt));
    }

    // SetIV(00 00 00 00) is the label of a new object.
    const std::wstring plain = Encrypt(PublicOnly(key64).Get(), message);
    EXPECT_EQ(Decrypt(receiver.Get(), plain), kFail);
    ASSERT_HR(S_OK, SetIV(receiver.Get(), L"00000000"));
    EXPECT_EQ(Decrypt(receiver.Get(), plain), message);
    EXPECT_EQ(Decrypt(receiver.Get(), cipher), kFail);

    // The label stays through Keygen and key imports.
    auto o = New();
    ASSERT_HR(S_OK, SetIV(o.Get(), L"6c6162656c"));
    ASSERT_HR(S_OK, Keygen(o.Get(), kSeedA, kSeedB, 64));
    EXPECT_EQ(Decrypt(o.Get(), cipher), message);
    auto imported = New();
    ASSERT_HR(S_OK, SetIV(imported.Get(), L"6c6162656c"));
    ASSERT_HR(S_OK, PutPrivate(imported.Get(), key64.privateBlob));
    EXPECT_EQ(Decrypt(imported.Get(), cipher), message);

    // Signatures ignore it.
    auto labelled = Generated();
    ASSERT_HR(S_OK, SetIV(labelled.Get(), L"ffff"));
    EXPECT_EQ(Sign(labelled.Get(), message), Sign(Generated().Get(), message));
    EXPECT_EQ(Verify(sender.Get(), message, Sign(defaultLabel.Get(), message)), 1);
}

// --- signatures ----------------------------------------------------------------------------

TEST_F(RsaClass, SignAndVerify)
{
    auto signer = Generated();
    auto verifier = PublicOnly(key64);
    const std::wstring message = Seq(0x30, 100);
    const std::wstring signature = Sign(signer.Get(), message);
    ASSERT_EQ(signature.size(), 2u * 64);
    // Deterministic, and the same from an object holding only the private half.
    EXPECT_EQ(Sign(signer.Get(), message), signature);
    EXPECT_EQ(Sign(PrivateOnly(key64).Get(), message), signature);
    EXPECT_NE(Sign(signer.Get(), Seq(0x31, 100)), signature);
    EXPECT_EQ(Sign(signer.Get(), L"").size(), 2u * 64);

    struct Case {
        const char* name;
        std::wstring data;
        std::wstring signature;
        LONG expected;
    };
    const std::wstring n = key64.n;
    const Case cases[] = {
        {"the signed data", message, signature, 1},
        {"leading zero bytes", message, L"0000" + signature, 1},
        {"other data", Seq(0x31, 100), signature, 0},
        {"a shorter message", message.substr(0, 198), signature, 0},
        {"one bit of the signature", message, FlipBit(signature, 63), 0},
        {"the signature plus n", message, AddHex(signature, n), 0},
        {"n itself", message, n, 0},
        {"all ones", message, Rep(L"ff", 64), 0},
        {"an empty signature", message, L"", 0},
        {"a zero signature", message, Rep(L"00", 64), 0},
        {"a signature under another key", message, Sign(PrivateOnly(other64).Get(), message), 0},
        {"the empty message", L"", Sign(signer.Get(), L""), 1},
    };
    for (IZELCryptoRSA* o : {signer.Get(), verifier.Get()}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            EXPECT_EQ(Verify(o, c.data, c.signature), c.expected);
            // An answer, never an error.
            EXPECT_FALSE(TakeErrorRecord().present);
        }
    }

    // A 128-byte key signs 128 bytes.
    auto big = PrivateOnly(key128);
    const std::wstring bigSignature = Sign(big.Get(), message);
    EXPECT_EQ(bigSignature.size(), 2u * 128);
    EXPECT_EQ(Verify(PublicOnly(key128).Get(), message, bigSignature), 1);
    EXPECT_EQ(Verify(verifier.Get(), message, bigSignature), 0);
}

// What an object can do depends on the halves it holds.
TEST_F(RsaClass, EachOperationNeedsItsHalf)
{
    const std::wstring message = Seq(0x10, 20);
    auto generated = Generated();
    const std::wstring cipher = Encrypt(generated.Get(), message);
    const std::wstring signature = Sign(generated.Get(), message);

    auto privateOnly = PrivateOnly(key64);
    EXPECT_EQ(Decrypt(privateOnly.Get(), cipher), message);
    EXPECT_EQ(Sign(privateOnly.Get(), message), signature);
    EXPECT_EQ(Encrypt(privateOnly.Get(), message), kFail);
    EXPECT_TRUE(Reported(kInvalidKey));
    EXPECT_EQ(Verify(privateOnly.Get(), message, signature), -1000);
    EXPECT_TRUE(Reported(kInvalidKey));
    // The private blob carries no e: the public half reads e = 0.
    const KeyBlob pub = Parse(PublicOf(privateOnly.Get()));
    ASSERT_EQ(pub.items.size(), 2u);
    EXPECT_EQ(pub.k, 64u);
    EXPECT_EQ(pub.items[0], key64.n);
    EXPECT_EQ(pub.items[1], L"00");
    EXPECT_EQ(PrivateOf(privateOnly.Get()), key64.privateBlob);

    auto publicOnly = PublicOnly(key64);
    EXPECT_EQ(Verify(publicOnly.Get(), message, signature), 1);
    EXPECT_EQ(Decrypt(generated.Get(), Encrypt(publicOnly.Get(), message)), message);
    EXPECT_EQ(Decrypt(publicOnly.Get(), cipher), kFail);
    EXPECT_TRUE(Reported(kInvalidKey));
    EXPECT_EQ(Sign(publicOnly.Get(), message), kFail);
    EXPECT_TRUE(Reported(kInvalidKey));
    EXPECT_EQ(PublicOf(publicOnly.Get()), key64.publicBlob);

    // The second half completes the key; importing a half again that agrees
    // changes nothing.
    ASSERT_HR(S_OK, PutPrivate(publicOnly.Get(), key64.privateBlob));
    ASSERT_HR(S_OK, PutPublic(privateOnly.Get(), key64.publicBlob));
    ASSERT_HR(S_OK, PutPublic(generated.Get(), key64.publicBlob));
    ASSERT_HR(S_OK, PutPrivate(generated.Get(), key64.privateBlob));
    for (IZELCryptoRSA* o : {publicOnly.Get(), privateOnly.Get(), generated.Get()}) {
        EXPECT_EQ(PublicOf(o), key64.publicBlob);
        EXPECT_EQ(PrivateOf(o), key64.privateBlob);
        EXPECT_EQ(Decrypt(o, Encrypt(o, message)), message);
        EXPECT_EQ(Sign(o, message), signature);
        EXPECT_EQ(Verify(o, message, signature), 1);
    }
}

// --- refused key blobs ------------------------------------------------------------------------

TEST_F(RsaClass, RefusedKeyBlobs)
{
    enum Target { kFresh, kPublicOnly, kPrivateOnly, kBoth };
    struct Case {
        const char* name;
        Target target;
        bool privateBlob;
        std::wstring blob;
        const wchar_t* description;
    };
    const std::wstring corruptedItem = kDataCorrupted;
    const Case cases[] = {
        {"public, empty", kFresh, false, L"", kShortKeyBlob},
        {"public, 4 bytes", kFresh, false, L"00000040", kShortKeyBlob},
        {"private, 4 bytes", kFresh, true, L"00000040", kShortKeyBlob},
        {"public, 6 bytes", kFresh, false, L"000000400000", corruptedItem.c_str()},
        {"private, 6 bytes", kBoth, true, L"000000400000", corruptedItem.c_str()},
        {"public, item longer than the blob", kFresh, false, L"0000004000000010aabb", corruptedItem.c_str()},
        {"public, e missing", kFresh, false, key64.publicBlob.substr(0, 8 + 8 + 128), corruptedItem.c_str()},
        {"private, qInv cut short", kFresh, true, key64.privateBlob.substr(0, key64.privateBlob.size() - 2),
         corruptedItem.c_str()},
        {"another key's public half", kBoth, false, other64.publicBlob, kInvalidKey},
        {"another key's private half", kBoth, true, other64.privateBlob, kInvalidKey},
        {"another key's public half to a private half", kPrivateOnly, false, other64.publicBlob, kInvalidKey},
        {"another key's private half to a public half", kPublicOnly, true, other64.privateBlob, kInvalidKey},
        {"the same n with another k", kBoth, false, L"00000041" + key64.publicBlob.substr(8), kInvalidKey},
        {"a larger key", kBoth, false, key128.publicBlob, kInvalidKey},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rsa o;
        switch (c.target) {
        case kFresh: o = New(); break;
        case kPublicOnly: o = PublicOnly(key64); break;
        case kPrivateOnly: o = PrivateOnly(key64); break;
        case kBoth: o = Generated(); break;
        }
        const std::wstring publicBefore = PublicOf(o.Get());
        const std::wstring privateBefore = PrivateOf(o.Get());
        auto blob = NewBlob(c.blob);
        EXPECT_HR(E_FAIL, c.privateBlob ? o->put_PrivateKey(blob.Get()) : o->put_PublicKey(blob.Get()));
        EXPECT_TRUE(Reported(c.description));
        EXPECT_EQ(HexOf(blob.Get()), c.blob);
        if (c.target != kFresh) {
            // A half that is loaded stays loaded and working.
            EXPECT_EQ(PublicOf(o.Get()), publicBefore);
            EXPECT_EQ(PrivateOf(o.Get()), privateBefore);
            if (c.target != kPrivateOnly) {
                EXPECT_EQ(Verify(o.Get(), L"", Sign(Generated().Get(), L"")), 1);
            }
            if (c.target != kPublicOnly) {
                EXPECT_EQ(Verify(PublicOnly(key64).Get(), L"", Sign(o.Get(), L"")), 1);
            }
        } else {
            // The failed half was not marked loaded.
            EXPECT_EQ(c.privateBlob ? Sign(o.Get(), L"") : Encrypt(o.Get(), L"00"), kFail);
            EXPECT_TRUE(Reported(kInvalidKey));
        }
    }
}

// Imported keys that the block arithmetic cannot serve are refused by every
// operation with "Invalid key"; a modulus one byte short of k is served.
TEST_F(RsaClass, UnusableImportedKeys)
{
    const KeyBlob priv = Parse(key64.privateBlob);
    const KeyBlob pub = Parse(key64.publicBlob);
    ASSERT_EQ(priv.items.size(), 7u);
    ASSERT_EQ(pub.items.size(), 2u);
    auto withK = [](const KeyBlob& blob, uint32_t k) { return Build(k, blob.items); };
    auto withItem = [](const KeyBlob& blob, size_t index, const std::wstring& value) {
        std::vector<std::wstring> items = blob.items;
        items[index] = value;
        return Build(blob.k, items);
    };
    struct Case {
        const char* name;
        std::wstring publicBlob;
        std::wstring privateBlob;
        bool refusedAtImport; // its numbers do not fit in k bytes
    };
    const Case cases[] = {
        {"k = 42", withK(pub, 42), withK(priv, 42), true},
        {"k = 0", withK(pub, 0), withK(priv, 0), true},
        {"k = 4097", withK(pub, 4097), withK(priv, 4097), false},
        {"k = 0xffffffff", withK(pub, 0xFFFFFFFF), withK(priv, 0xFFFFFFFF), false},
        {"n = 0", withItem(pub, 0, L"00"), withItem(priv, 0, L"00"), false},
        {"n = 1", withItem(pub, 0, L"01"), withItem(priv, 0, L"01"), false},
        {"n empty", withItem(pub, 0, L""), withItem(priv, 0, L""), false},
    };
    const std::wstring message = Seq(0, 10);
    const std::wstring block = Seq(0, 64);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HRESULT import = c.refusedAtImport ? E_FAIL : S_OK;
        auto publicHalf = New();
        ASSERT_HR(import, PutPublic(publicHalf.Get(), c.publicBlob));
        if (c.refusedAtImport) {
            EXPECT_TRUE(Reported(kInvalidKey));
        }
        auto privateHalf = New();
        ASSERT_HR(import, PutPrivate(privateHalf.Get(), c.privateBlob));
        if (c.refusedAtImport) {
            EXPECT_TRUE(Reported(kInvalidKey));
        }
        EXPECT_EQ(Encrypt(publicHalf.Get(), message), kFail);
        EXPECT_TRUE(Reported(kInvalidKey));
        EXPECT_EQ(Verify(publicHalf.Get(), message, block), -1000);
        EXPECT_TRUE(Reported(kInvalidKey));
        EXPECT_EQ(Decrypt(privateHalf.Get(), block), kFail);
        EXPECT_TRUE(Reported(kInvalidKey));
        EXPECT_EQ(Sign(privateHalf.Get(), message), kFail);
        EXPECT_TRUE(Reported(kInvalidKey));
    }

    // p or q of 0 or 1: no signature, but decryption does not need them.
    const std::wstring cipher = Encrypt(PublicOnly(key64).Get(), message);
    for (size_t index : {size_t(2), size_t(3)}) {
        for (const wchar_t* value : {L"00", L"01"}) {
            SCOPED_TRACE(testing::Message() << "item " << index << " = " << Narrow(value));
            auto o = New();
            ASSERT_HR(S_OK, PutPrivate(o.Get(), withItem(priv, index, value)));
            EXPECT_EQ(Sign(o.Get(), message), kFail);
            EXPECT_TRUE(Reported(kInvalidKey));
            EXPECT_EQ(Decrypt(o.Get(), cipher), message);
        }
    }

    // k = 65 with the 64-byte modulus: n is one byte short of k.  Encoded
    // blocks of 64 bytes can reach n; Encrypt draws seeds until they do not.
    auto shortPublic = New();
    ASSERT_HR(S_OK, PutPublic(shortPublic.Get(), withK(pub, 65)));
    auto shortPrivate = New();
    ASSERT_HR(S_OK, PutPrivate(shortPrivate.Get(), withK(priv, 65)));
    for (size_t length : {size_t(1), size_t(23), size_t(24), size_t(200)}) {
        SCOPED_TRACE(length);
        const std::wstring m = Seq(unsigned(length), length);
        const std::wstring c = Encrypt(shortPublic.Get(), m);
        EXPECT_EQ(c.size(), 2 * 65 * ((length + 22) / 23));
        EXPECT_EQ(Decrypt(shortPrivate.Get(), c), m);
    }
    // The signature block 01 FF ... of 64 bytes is below n, whose first byte
    // is above 01.
    ASSERT_GT(Bytes(key64.n)[0], 1);
    {
        const std::wstring s = Sign(shortPrivate.Get(), message);
        EXPECT_EQ(s.size(), 2u * 65);
        EXPECT_EQ(Verify(shortPublic.Get(), message, s), 1);
        EXPECT_EQ(Verify(shortPublic.Get(), Seq(1, 10), s), 0);
    }

    // k = 66: the modulus is two bytes short.  No block can be encoded below
    // n and no signature block either; Verify answers 0.
    auto tooShortPublic = New();
    ASSERT_HR(S_OK, PutPublic(tooShortPublic.Get(), withK(pub, 66)));
    auto tooShortPrivate = New();
    ASSERT_HR(S_OK, PutPrivate(tooShortPrivate.Get(), withK(priv, 66)));
    EXPECT_EQ(Encrypt(tooShortPublic.Get(), message), kFail);
    EXPECT_TRUE(Reported(kInvalidKey));
    EXPECT_EQ(Sign(tooShortPrivate.Get(), message), kFail);
    EXPECT_TRUE(Reported(kInvalidKey));
    EXPECT_EQ(Verify(tooShortPublic.Get(), message, L"00" + Sign(PrivateOnly(key64).Get(), message)), 0);
    EXPECT_FALSE(TakeErrorRecord().present);
}

// --- arguments that are not blobs ---------------------------------------------------------------

// Null, an IDispatch without IZELBlob, and other scriptable objects: E_FAIL,
// the record with IID_IZELCryptoRSA, nothing handed out, the key and the
// label unchanged.
TEST_F(RsaClass, ArgumentsThatAreNotBlobs)
{
    auto o = Generated();
    ASSERT_HR(S_OK, SetIV(o.Get(), L"6c6162656c"));
    FakeDispatch notABlob;
    auto misc = NewMisc();
    auto otherRsa = Generated();
    auto good = NewBlob(Seq(0, 8));
    const std::wstring message = Seq(0x70, 25);
    for (IDispatch* bad : {static_cast<IDispatch*>(nullptr), static_cast<IDispatch*>(&notABlob),
                           static_cast<IDispatch*>(misc.Get()), static_cast<IDispatch*>(otherRsa.Get()),
                           static_cast<IDispatch*>(o.Get())}) {
        SCOPED_TRACE(testing::Message() << "argument " << bad);
        const std::function<HRESULT()> calls[] = {
            [&] { return o->SetIV(bad); },
            [&] { return o->Keygen(bad, good.Get(), 64); },
            [&] { return o->Keygen(good.Get(), bad, 128); },
            [&] { return o->put_PublicKey(bad); },
            [&] { return o->put_PrivateKey(bad); },
        };
        for (const auto& call : calls) {
            EXPECT_HR(E_FAIL, call());
            EXPECT_TRUE(Reported(kNotABlob, IID_IZELCryptoRSA));
        }
        for (BlobMethod method : {&IZELCryptoRSA::Encrypt, &IZELCryptoRSA::Decrypt, &IZELCryptoRSA::Sign}) {
            FakeBlob sentinel;
            IDispatch* dest = &sentinel;
            EXPECT_HR(E_FAIL, (o.Get()->*method)(bad, &dest));
            EXPECT_EQ(dest, nullptr);
            EXPECT_EQ(sentinel.Refs(), 1);
            EXPECT_TRUE(Reported(kNotABlob, IID_IZELCryptoRSA));
        }
        for (int which : {0, 1}) {
            LONG res = 55;
            EXPECT_HR(E_FAIL, which ? o->Verify(good.Get(), bad, &res) : o->Verify(bad, good.Get(), &res));
            EXPECT_EQ(res, 0);
            EXPECT_TRUE(Reported(kNotABlob, IID_IZELCryptoRSA));
        }
        // The members of IZELCryptoRSA2 name their own interface.
        auto o2 = o.As<IZELCryptoRSA2>(IID_IZELCryptoRSA2);
        ASSERT_TRUE(o2);
        BSTR sha256 = SysAllocString(L"SHA256");
        const std::function<HRESULT()> newCalls[] = {
            [&] { return o2->ImportDer(bad); },
            [&] { return o2->put_Label(bad); },
            [&] {
                IDispatch* dest = nullptr;
                return o2->SignPkcs1(bad, sha256, &dest);
            },
            [&] {
                LONG res = 55;
                const HRESULT hr = o2->VerifyPss(good.Get(), bad, sha256, &res);
                EXPECT_EQ(res, 0);
                return hr;
            },
        };
        for (const auto& call : newCalls) {
            EXPECT_HR(E_FAIL, call());
            EXPECT_TRUE(Reported(kNotABlob, IID_IZELCryptoRSA2));
        }
        SysFreeString(sha256);
    }
    EXPECT_EQ(notABlob.Refs(), 1);
    EXPECT_EQ(HexOf(good.Get()), Seq(0, 8));
    // The key is the one Keygen made, and the label is still "label": what
    // the object encrypts decrypts under that label only.
    EXPECT_EQ(PublicOf(o.Get()), key64.publicBlob);
    EXPECT_EQ(PrivateOf(o.Get()), key64.privateBlob);
    const std::wstring cipher = Encrypt(o.Get(), message);
    auto receiver = PrivateOnly(key64);
    EXPECT_EQ(Decrypt(receiver.Get(), cipher), kFail);
    ASSERT_HR(S_OK, SetIV(receiver.Get(), L"6c6162656c"));
    EXPECT_EQ(Decrypt(receiver.Get(), cipher), message);
    EXPECT_EQ(Decrypt(o.Get(), cipher), message);

    // A fresh object stays without a key.
    auto fresh = New();
    EXPECT_HR(E_FAIL, fresh->Keygen(good.Get(), nullptr, 64));
    EXPECT_TRUE(Reported(kNotABlob, IID_IZELCryptoRSA));
    EXPECT_EQ(PublicOf(fresh.Get()), kEmptyPublicKey);
}

// A null out-pointer is refused before any blob is touched.
TEST_F(RsaClass, NullOutPointers)
{
    auto o = Generated();
    FakeBlob src("0102");
    FakeBlob sig("0304");
    EXPECT_HR(E_POINTER, o->Encrypt(&src, nullptr));
    EXPECT_HR(E_POINTER, o->Decrypt(&src, nullptr));
    EXPECT_HR(E_POINTER, o->Sign(&src, nullptr));
    EXPECT_HR(E_POINTER, o->Verify(&src, &sig, nullptr));
    EXPECT_EQ(src.locks, 0);
    EXPECT_EQ(sig.locks, 0);
    EXPECT_TRUE(Balanced(src));
    EXPECT_TRUE(Balanced(sig));
}

// --- lock balance ---------------------------------------------------------------------------------

// Every member that takes blobs, on its paths, with blob doubles: each one
// locked and unlocked once, every reference given back, the bytes unchanged,
// the out-pointer cleared and nothing handed out on failure, and a record
// only for alarms.
TEST_F(RsaClass, EveryPathBalancesTheBlobs)
{
    auto generated = Generated();
    const std::string message = "48656c6c6f";
    const std::string cipher = Narrow(Encrypt(generated.Get(), Wide(message)));
    const std::string signature = Narrow(Sign(generated.Get(), Wide(message)));
    const std::string publicBlob = Narrow(key64.publicBlob);
    const std::string privateBlob = Narrow(key64.privateBlob);
    const std::string seedA = Narrow(kSeedA);
    const std::string seedB = Narrow(kSeedB);

    Rsa o; // the row's object
    LONG verified = 77;
    const BalanceMember setIV{"SetIV", [&](IDispatch* a, IDispatch*, IDispatch**) { return o->SetIV(a); }};
    const BalanceMember keygen{"Keygen", [&](IDispatch* a, IDispatch* b, IDispatch**) { return o->Keygen(a, b, 64); },
                               true};
    const BalanceMember putPublic{"PublicKey put",
                                  [&](IDispatch* a, IDispatch*, IDispatch**) { return o->put_PublicKey(a); }};
    const BalanceMember putPrivate{"PrivateKey put",
                                   [&](IDispatch* a, IDispatch*, IDispatch**) { return o->put_PrivateKey(a); }};
    const BalanceMember encrypt{"Encrypt", [&](IDispatch* a, IDispatch*, IDispatch** r) { return o->Encrypt(a, r); },
                                false, true};
    const BalanceMember decrypt{"Decrypt", [&](IDispatch* a, IDispatch*, IDispatch** r) { return o->Decrypt(a, r); },
                                false, true};
    const BalanceMember sign{"Sign", [&](IDispatch* a, IDispatch*, IDispatch** r) { return o->Sign(a, r); }, false,
                             true};
    const BalanceMember verify{"Verify",
                               [&](IDispatch* a, IDispatch* b, IDispatch**) { return o->Verify(a, b, &verified); },
                               true};

    enum Start { kFresh, kBoth, kPublicOnly };
    struct Case {
        BalanceRow row;
        Start start;
        LONG verified; // Verify's answer
    };
    const Case cases[] = {
        {{"SetIV", &setIV, {"00"}, {}, S_OK, nullptr}, kBoth, 0},
        {{"SetIV, GetBuffer fails", &setIV, {"00", E_ACCESSDENIED}, {}, E_ACCESSDENIED, nullptr}, kBoth, 0},
        {{"SetIV, null buffer", &setIV, {"00", S_OK, true}, {}, E_POINTER, nullptr}, kBoth, 0},
        {{"Keygen", &keygen, {seedA}, {seedB}, S_OK, nullptr}, kFresh, 0},
        {{"Keygen, first GetBuffer fails", &keygen, {seedA, E_OUTOFMEMORY}, {seedB}, E_OUTOFMEMORY, nullptr}, kFresh,
         0},
        {{"Keygen, second GetBuffer fails", &keygen, {seedA}, {seedB, E_ACCESSDENIED}, E_ACCESSDENIED, nullptr},
         kFresh, 0},
        {{"PublicKey put", &putPublic, {publicBlob}, {}, S_OK, nullptr}, kFresh, 0},
        {{"PublicKey put, short", &putPublic, {"0000"}, {}, E_FAIL, kShortKeyBlob}, kFresh, 0},
        {{"PublicKey put, malformed item", &putPublic, {"000000400000"}, {}, E_FAIL, kDataCorrupted}, kFresh, 0},
        {{"PublicKey put, disagreeing", &putPublic, {Narrow(other64.publicBlob)}, {}, E_FAIL, kInvalidKey}, kBoth, 0},
        {{"PublicKey put, GetBuffer fails", &putPublic, {publicBlob, E_ACCESSDENIED}, {}, E_ACCESSDENIED, nullptr},
         kFresh, 0},
        {{"PrivateKey put", &putPrivate, {privateBlob}, {}, S_OK, nullptr}, kPublicOnly, 0},
        {{"PrivateKey put, disagreeing", &putPrivate, {Narrow(other64.privateBlob)}, {}, E_FAIL, kInvalidKey},
         kPublicOnly, 0},
        {{"PrivateKey put, null buffer", &putPrivate, {privateBlob, S_OK, true}, {}, E_POINTER, nullptr}, kFresh, 0},
        {{"Encrypt", &encrypt, {message}, {}, S_OK, nullptr}, kPublicOnly, 0},
        {{"Encrypt, no key", &encrypt, {message}, {}, E_FAIL, kInvalidKey}, kFresh, 0},
        {{"Encrypt, GetBuffer fails", &encrypt, {message, E_ACCESSDENIED}, {}, E_ACCESSDENIED, nullptr}, kBoth, 0},
        {{"Decrypt", &decrypt, {cipher}, {}, S_OK, nullptr}, kBoth, 0},
        {{"Decrypt, damaged", &decrypt, {cipher.substr(2)}, {}, E_FAIL, kCannotDecrypt}, kBoth, 0},
        {{"Decrypt, public half only", &decrypt, {cipher}, {}, E_FAIL, kInvalidKey}, kPublicOnly, 0},
        {{"Decrypt, null buffer", &decrypt, {cipher, S_OK, true}, {}, E_POINTER, nullptr}, kBoth, 0},
        {{"Sign", &sign, {message}, {}, S_OK, nullptr}, kBoth, 0},
        {{"Sign, public half only", &sign, {message}, {}, E_FAIL, kInvalidKey}, kPublicOnly, 0},
        {{"Sign, GetBuffer fails", &sign, {message, E_OUTOFMEMORY}, {}, E_OUTOFMEMORY, nullptr}, kBoth, 0},
        {{"Verify, good", &verify, {message}, {signature}, S_OK, nullptr}, kPublicOnly, 1},
        {{"Verify, bad", &verify, {"00"}, {signature}, S_OK, nullptr}, kPublicOnly, 0},
        {{"Verify, no key", &verify, {message}, {signature}, E_FAIL, kInvalidKey}, kFresh, 0},
        {{"Verify, second GetBuffer fails", &verify, {message}, {signature, E_ACCESSDENIED}, E_ACCESSDENIED, nullptr},
         kPublicOnly, 0},
        {{"Verify, null buffer", &verify, {message, S_OK, true}, {signature}, E_POINTER, nullptr}, kPublicOnly, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row.name);
        o = c.start == kFresh ? New() : c.start == kBoth ? Generated() : PublicOnly(key64);
        const std::wstring keyBefore = PublicOf(o.Get()) + PrivateOf(o.Get());
        verified = 77;
        auto result = RunBalanceRow(c.row, kProgId);
        const BalanceMember* m = c.row.member;
        if (m == &verify) {
            EXPECT_EQ(verified, c.verified);
        }
        if (SUCCEEDED(c.row.expected)) {
            if (m == &keygen || m == &putPrivate) {
                EXPECT_EQ(PublicOf(o.Get()), key64.publicBlob);
                EXPECT_EQ(PrivateOf(o.Get()), key64.privateBlob);
            } else if (m == &putPublic) {
                EXPECT_EQ(PublicOf(o.Get()), key64.publicBlob);
            } else if (m == &decrypt) {
                EXPECT_EQ(HexOf(result.Get()), Wide(message));
            } else if (m == &sign) {
                EXPECT_EQ(HexOf(result.Get()), Wide(signature));
            }
        } else if (c.row.expected != E_FAIL || m != &putPublic || c.start != kFresh) {
            // A refused call leaves the key as it was (a failed GetBuffer
            // comes before any engine work).
            EXPECT_EQ(PublicOf(o.Get()) + PrivateOf(o.Get()), keyBefore);
        }
    }
}

// Encrypt succeeds through a blob double as well, and its result is a new
// blob of the blob component.
TEST_F(RsaClass, EncryptThroughADoubleGivesARealBlob)
{
    auto o = PublicOnly(key64);
    FakeBlob src("0102030405");
    IDispatch* dest = nullptr;
    ASSERT_HR(S_OK, o->Encrypt(&src, &dest));
    auto result = ComPtr<IDispatch>::Attach(dest);
    EXPECT_TRUE(Balanced(src));
    EXPECT_TRUE(result.As<IZELBlobScript>(IID_IZELBlobScript));
    EXPECT_EQ(Decrypt(PrivateOnly(key64).Get(), HexOf(result.Get())), L"0102030405");
}

// --- late binding -------------------------------------------------------------------------------------

TEST_F(RsaClass, NamesInAnyCase)
{
    auto o = New();
    ExpectIds(o.Get(), {{L"OnStartPage", 0x60020000}, {L"OnEndPage", 0x60020001}, {L"SetIV", 1}, {L"setiv", 1},
                          {L"Keygen", 2},  {L"KeyGen", 2},  {L"PublicKey", 3}, {L"publickey", 3},
                          {L"PrivateKey", 4}, {L"PRIVATEKEY", 4}, {L"Encrypt", 5}, {L"Decrypt", 6},
                          {L"Sign", 7},   {L"verify", 8}});
}

// What a script host does: Keygen with VBScript's small integer, the key
// blobs read as properties and assigned by value (JScript, VBScript without
// Set) or by reference (VBScript's Set), Verify's answer a VT_I4 1 or 0, and
// errors as DISP_E_EXCEPTION with the record's texts.
TEST_F(RsaClass, ScriptHostCalls)
{
    auto made = New();
    auto seedA = NewBlob(kSeedA);
    auto seedB = NewBlob(kSeedB);
    Invoked keygen;
    Invoke(made.Get(), L"Keygen", DISPATCH_METHOD, {ObjectArg(seedA.Get()), ObjectArg(seedB.Get()), ShortArg(128)},
           keygen);
    ASSERT_HR(S_OK, keygen.hr);
    EXPECT_EQ(PublicOf(made.Get()), key128.publicBlob);

    Invoked publicKey;
    Invoke(made.Get(), L"PublicKey", DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, publicKey);
    ASSERT_HR(S_OK, publicKey.hr);
    ASSERT_EQ(V_VT(&publicKey.result), VT_DISPATCH);
    EXPECT_EQ(HexOf(V_DISPATCH(&publicKey.result)), key128.publicBlob);
    Invoked privateKey;
    Invoke(made.Get(), L"privatekey", DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, privateKey);
    ASSERT_HR(S_OK, privateKey.hr);
    ASSERT_EQ(V_VT(&privateKey.result), VT_DISPATCH);
    EXPECT_EQ(HexOf(V_DISPATCH(&privateKey.result)), key128.privateBlob);

    const std::wstring message = Seq(0x41, 90);
    auto data = NewBlob(message);
    for (WORD flags : {WORD(DISPATCH_PROPERTYPUT), WORD(DISPATCH_PROPERTYPUTREF)}) {
        SCOPED_TRACE(flags);
        auto sender = New();
        Invoked put;
        Invoke(sender.Get(), L"PublicKey", flags, {ObjectArg(V_DISPATCH(&publicKey.result))}, put);
        ASSERT_HR(S_OK, put.hr);
        auto receiver = New();
        Invoked putPrivate;
        Invoke(receiver.Get(), L"PrivateKey", flags, {ObjectArg(V_DISPATCH(&privateKey.result))}, putPrivate);
        ASSERT_HR(S_OK, putPrivate.hr);

        Invoked encrypted;
        Invoke(sender.Get(), L"Encrypt", DISPATCH_METHOD, {ObjectArg(data.Get())}, encrypted);
        ASSERT_HR(S_OK, encrypted.hr);
        ASSERT_EQ(V_VT(&encrypted.result), VT_DISPATCH);
        Invoked decrypted;
        Invoke(receiver.Get(), L"Decrypt", DISPATCH_METHOD, {ObjectArg(V_DISPATCH(&encrypted.result))}, decrypted);
        ASSERT_HR(S_OK, decrypted.hr);
        ASSERT_EQ(V_VT(&decrypted.result), VT_DISPATCH);
        EXPECT_EQ(HexOf(V_DISPATCH(&decrypted.result)), message);

        Invoked signature;
        Invoke(receiver.Get(), L"Sign", DISPATCH_METHOD, {ObjectArg(data.Get())}, signature);
        ASSERT_HR(S_OK, signature.hr);
        ASSERT_EQ(V_VT(&signature.result), VT_DISPATCH);
        for (bool good : {true, false}) {
            auto checked = good ? data : NewBlob(message + L"00");
            Invoked verified;
            Invoke(sender.Get(), L"Verify", DISPATCH_METHOD,
                   {ObjectArg(checked.Get()), ObjectArg(V_DISPATCH(&signature.result))}, verified);
            ASSERT_HR(S_OK, verified.hr);
            ASSERT_EQ(V_VT(&verified.result), VT_I4);
            EXPECT_EQ(V_I4(&verified.result), good ? 1 : 0);
        }

        // A refusal arrives with the record's texts: the receiver's
        // private half does not agree with another key's public half.
        Invoked refused;
        Invoke(receiver.Get(), L"PublicKey", flags, {ObjectArg(NewBlob(key64.publicBlob).Get())}, refused);
        EXPECT_HR(DISP_E_EXCEPTION, refused.hr);
        EXPECT_HR(E_FAIL, refused.scode);
        EXPECT_EQ(refused.description, kInvalidKey);
        EXPECT_EQ(refused.source, kProgId);

        // VBScript's Nothing reaches the property as a null pointer.
        Invoked nothing;
        Invoke(sender.Get(), L"PrivateKey", flags, {ObjectArg(nullptr)}, nothing);
        EXPECT_HR(DISP_E_EXCEPTION, nothing.hr);
        EXPECT_HR(E_FAIL, nothing.scode);
        EXPECT_EQ(nothing.description, kNotABlob);
        EXPECT_EQ(nothing.source, kProgId);
    }

    // A label mismatch through Invoke.
    auto labelled = New();
    ASSERT_HR(S_OK, PutPrivate(labelled.Get(), key128.privateBlob));
    Invoked setIV;
    Invoke(labelled.Get(), L"SetIV", DISPATCH_METHOD, {ObjectArg(NewBlob(L"01").Get())}, setIV);
    ASSERT_HR(S_OK, setIV.hr);
    auto cipher = NewBlob(Encrypt(made.Get(), message));
    Invoked refused;
    Invoke(labelled.Get(), L"Decrypt", DISPATCH_METHOD, {ObjectArg(cipher.Get())}, refused);
    EXPECT_HR(DISP_E_EXCEPTION, refused.hr);
    EXPECT_HR(E_FAIL, refused.scode);
    EXPECT_EQ(refused.description, kCannotDecrypt);
    EXPECT_EQ(refused.source, kProgId);
    // No blob handed out (Wine's dispatcher copies the cleared pointer).
    EXPECT_TRUE(V_VT(&refused.result) == VT_EMPTY ||
                (V_VT(&refused.result) == VT_DISPATCH && V_DISPATCH(&refused.result) == nullptr))
        << V_VT(&refused.result);

    // Verify without a public half: an error, not an answer.
    Invoked noKey;
    Invoke(labelled.Get(), L"Verify", DISPATCH_METHOD, {ObjectArg(data.Get()), ObjectArg(data.Get())}, noKey);
    EXPECT_HR(DISP_E_EXCEPTION, noKey.hr);
    EXPECT_EQ(noKey.description, kInvalidKey);
    EXPECT_EQ(noKey.source, kProgId);
}

// Keygen's size arrives as a VT_I4 from JScript; leaving it out is the script
// engine's parameter-count error and changes nothing.
TEST_F(RsaClass, KeygenSizeThroughInvoke)
{
    auto o = New();
    auto seedC = NewBlob(kSeedC);
    auto seedD = NewBlob(kSeedD);
    Invoked keygen;
    Invoke(o.Get(), L"Keygen", DISPATCH_METHOD, {ObjectArg(seedC.Get()), ObjectArg(seedD.Get()), LongArg(64)},
           keygen);
    ASSERT_HR(S_OK, keygen.hr);
    EXPECT_EQ(PublicOf(o.Get()), other64.publicBlob);
    Invoked missing;
    Invoke(o.Get(), L"Keygen", DISPATCH_METHOD, {ObjectArg(seedC.Get()), ObjectArg(seedD.Get())}, missing);
    EXPECT_HR(DISP_E_BADPARAMCOUNT, missing.hr);
    EXPECT_EQ(PublicOf(o.Get()), other64.publicBlob);
}

} // namespace
