// The five symmetric cipher classes through IZELCryptoSymmetric: every member
// through the vtable, what happens to the out-pointers, the error records
// (description, source ProgID, GUID), the lock balance seen by a blob double
// on every path, and the late-bound calls script hosts make (the property
// names in any case, "Set o.Key = b" as PROPERTYPUTREF, JScript's plain PUT).
//
// Each test runs over the table of the five classes with one published vector
// per class (FIPS-197 C.1, the Twofish designers' zero-key answer, the
// Blowfish designer's vectors, RFC 2144 B.1, the FIPS 81 DES example through
// K1 = K2 = K3).  The engines' own batteries are in the native tests.
#include "support.h"

#include <string>
#include <vector>

using namespace zeltest;

namespace {

struct CipherClass {
    const char* name;
    const CLSID* clsid;
    const wchar_t* progId;    // version-dependent, the error records' source
    const wchar_t* anyProgId; // version-independent
    const wchar_t* engine;    // the name in the engine's messages
    size_t blockSize;
    // A published vector, with the key made by Keygen(material, val).
    const wchar_t* material;
    LONG val;
    const wchar_t* plain;
    const wchar_t* cipher;
    const wchar_t* record;    // what Key reads back after that Keygen
    const wchar_t* malformed; // a Key record the class refuses
};

const CipherClass kClasses[] = {
    {"AES", &CLSID_ZELCryptoAES, L"Valdergast.ZELCryptoAES.2", L"Valdergast.ZELCryptoAES", L"AES", 16,
     L"000102030405060708090a0b0c0d0e0f", 16, L"00112233445566778899aabbccddeeff",
     L"69c4e0d86a7b0430d8cdb78070b4c55a", L"0000000a000102030405060708090a0b0c0d0e0f",
     L"0000000a000102030405060708090a0b0c0d0e"},
    {"Twofish", &CLSID_ZELCryptoTwofish, L"Valdergast.ZELCryptoTwofish.2", L"Valdergast.ZELCryptoTwofish",
     L"Twofish", 16, L"00000000000000000000000000000000", 16, L"00000000000000000000000000000000",
     L"9f589f5cf6122c32b6bfec2f2ae8c35a", L"0000000200000000000000000000000000000000",
     L"00000002000000000000000000000000000000000000000000000000"},
    {"Blowfish", &CLSID_ZELCryptoBlowfish, L"Valdergast.ZELCryptoBlowfish.2", L"Valdergast.ZELCryptoBlowfish",
     L"Blowfish", 8, L"fedcba9876543210", 8, L"0123456789abcdef", L"0aceab0fc6a0a28d",
     L"00000008fedcba9876543210", L"00000008fedcba98765432"},
    {"Cast", &CLSID_ZELCryptoCast, L"Valdergast.ZELCryptoCast.2", L"Valdergast.ZELCryptoCast", L"CAST", 8,
     L"0123456712345678234567893456789a", 16, L"0123456789abcdef", L"238b4fe5847e44b2",
     L"000000100123456712345678234567893456789a", L"000000100123456712345678234567893456"},
    {"TripleDES", &CLSID_ZELCryptoTripleDES, L"Valdergast.ZELCryptoTripleDES.2", L"Valdergast.ZELCryptoTripleDES",
     L"TripleDES", 8, L"0123456789abcdef0123456789abcdef0123456789abcdef", 24, L"4e6f772069732074",
     L"3fa40e8a984d4815", L"0123456789abcdef0123456789abcdef0123456789abcdef",
     L"0123456789abcdef0123456789abcdef0123456789abcd"},
};

void PrintTo(const CipherClass& c, std::ostream* os)
{
    *os << c.name;
}

const wchar_t kNoKey[] = L"Crypto System: Invalid key";
const wchar_t kCannotDecrypt[] = L"Crypto System: Unable to decrypt data";
const wchar_t kUnsupported[] = L"Crypto System: Unsupported algorithm";

class Symmetric : public testing::TestWithParam<CipherClass> {
protected:
    void SetUp() override
    {
        object = New();
        ClearErrorRecord();
    }

    const CipherClass& Class() const { return GetParam(); }

    ComPtr<IZELCryptoSymmetric> New() const
    {
        ComPtr<IZELCryptoSymmetric> created;
        EXPECT_HR(S_OK, CoCreateInstance(*Class().clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IZELCryptoSymmetric,
                                         created.OutVoid()));
        return created;
    }

    // An object with the class's vector key.
    ComPtr<IZELCryptoSymmetric> Keyed(LONG mode = 1) const
    {
        auto keyed = New();
        auto material = NewBlob(Class().material);
        EXPECT_HR(S_OK, keyed->Keygen(material.Get(), Class().val));
        EXPECT_HR(S_OK, keyed->put_mode(mode));
        return keyed;
    }

    using BlobMethod = HRESULT (STDMETHODCALLTYPE IZELCryptoSymmetric::*)(IDispatch*, IDispatch**);

    // Encrypt or Decrypt: the result's hex, or the HRESULT.
    static std::wstring Run(IZELCryptoSymmetric* o, BlobMethod method, IDispatch* src)
    {
        IDispatch* raw = nullptr;
        const HRESULT hr = (o->*method)(src, &raw);
        auto result = ComPtr<IDispatch>::Attach(raw);
        if (FAILED(hr))
            return Wide(HrText(hr));
        return HexOf(result.Get());
    }
    static std::wstring Encrypt(IZELCryptoSymmetric* o, const std::wstring& hex)
    {
        return Run(o, &IZELCryptoSymmetric::Encrypt, NewBlob(hex).Get());
    }
    static std::wstring Decrypt(IZELCryptoSymmetric* o, const std::wstring& hex)
    {
        return Run(o, &IZELCryptoSymmetric::Decrypt, NewBlob(hex).Get());
    }

    static std::wstring KeyOf(IZELCryptoSymmetric* o)
    {
        IDispatch* raw = nullptr;
        const HRESULT hr = o->get_Key(&raw);
        auto record = ComPtr<IDispatch>::Attach(raw);
        if (FAILED(hr))
            return Wide(HrText(hr));
        return HexOf(record.Get());
    }

    testing::AssertionResult Reported(const std::wstring& description, REFGUID guid) const
    {
        return HasErrorRecord(TakeErrorRecord(), description, Class().progId, guid);
    }

    ComPtr<IZELCryptoSymmetric> object;
};

// --- the class -------------------------------------------------------------

// Its ProgIDs are checked with every class's (ClassLookup).
TEST_P(Symmetric, InterfacesAndTypeInformation)
{
    auto dispatch = object.As<IDispatch>(IID_IDispatch);
    ASSERT_TRUE(dispatch);
    EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(object.Get()));
    auto errors = object.As<ISupportErrorInfo>(IID_ISupportErrorInfo);
    ASSERT_TRUE(errors);
    EXPECT_HR(S_OK, errors->InterfaceSupportsErrorInfo(IID_IZELCryptoSymmetric));
    EXPECT_HR(S_FALSE, errors->InterfaceSupportsErrorInfo(IID_IZELCryptoMisc));
    EXPECT_FALSE(object.As<IZELCryptoMisc>(IID_IZELCryptoMisc));

    ComPtr<ITypeInfo> info;
    ASSERT_HR(S_OK, object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Out()));
    TYPEATTR* attr = nullptr;
    ASSERT_HR(S_OK, info->GetTypeAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IZELCryptoSymmetric));
    info->ReleaseTypeAttr(attr);
}

// --- a fresh object --------------------------------------------------------------

TEST_P(Symmetric, FreshObjectHasFillerZeroModeOneAndNoKey)
{
    LONG value = 99;
    EXPECT_HR(S_OK, object->get_Filler(&value));
    EXPECT_EQ(value, 0);
    EXPECT_HR(S_OK, object->get_mode(&value));
    EXPECT_EQ(value, 1);

    // Key get leaves its out-pointer alone and names the engine.
    FakeBlob sentinel;
    IDispatch* out = &sentinel;
    EXPECT_HR(E_FAIL, object->get_Key(&out));
    EXPECT_EQ(out, static_cast<IDispatch*>(&sentinel));
    EXPECT_EQ(sentinel.Refs(), 1);
    EXPECT_TRUE(Reported(std::wstring(kNoKey) + L" - " + Class().engine, GUID_NULL));

    // Encrypt and Decrypt clear theirs and name no engine; Decrypt looks at
    // the key before the length.
    const std::wstring lengths[] = {L"", Seq(0, Class().blockSize), Seq(0, Class().blockSize + 1)};
    for (const std::wstring& hex : lengths) {
        SCOPED_TRACE(Narrow(hex));
        auto src = NewBlob(hex);
        for (BlobMethod method : {&IZELCryptoSymmetric::Encrypt, &IZELCryptoSymmetric::Decrypt}) {
            IDispatch* dest = &sentinel;
            EXPECT_HR(E_FAIL, (object.Get()->*method)(src.Get(), &dest));
            EXPECT_EQ(dest, nullptr);
            EXPECT_EQ(sentinel.Refs(), 1);
            EXPECT_TRUE(Reported(kNoKey, GUID_NULL));
        }
        EXPECT_EQ(HexOf(src.Get()), hex);
    }
}

// --- main paths through the vtable ---------------------------------------

TEST_P(Symmetric, PublishedVectorThroughKeygenEncryptAndDecrypt)
{
    auto material = NewBlob(Class().material);
    ASSERT_HR(S_OK, object->Keygen(material.Get(), Class().val));
    EXPECT_EQ(HexOf(material.Get()), Class().material);
    EXPECT_EQ(KeyOf(object.Get()), Class().record);

    auto plain = NewBlob(Class().plain);
    FakeBlob sentinel;
    IDispatch* dest = &sentinel;
    ASSERT_HR(S_OK, object->Encrypt(plain.Get(), &dest));
    auto cipher = ComPtr<IDispatch>::Attach(dest);
    EXPECT_EQ(sentinel.Refs(), 1);
    ASSERT_TRUE(cipher);
    EXPECT_NE(cipher.Get(), static_cast<IDispatch*>(plain.Get()));
    EXPECT_EQ(HexOf(cipher.Get()), Class().cipher);
    EXPECT_EQ(HexOf(plain.Get()), Class().plain);
    EXPECT_FALSE(TakeErrorRecord().present);

    dest = &sentinel;
    ASSERT_HR(S_OK, object->Decrypt(cipher.Get(), &dest));
    auto back = ComPtr<IDispatch>::Attach(dest);
    ASSERT_TRUE(back);
    EXPECT_NE(back.Get(), cipher.Get());
    EXPECT_EQ(HexOf(back.Get()), Class().plain);
    EXPECT_EQ(HexOf(cipher.Get()), Class().cipher);

    // Each Key read is a new blob.
    IDispatch* first = nullptr;
    IDispatch* second = nullptr;
    ASSERT_HR(S_OK, object->get_Key(&first));
    auto a = ComPtr<IDispatch>::Attach(first);
    ASSERT_HR(S_OK, object->get_Key(&second));
    auto b = ComPtr<IDispatch>::Attach(second);
    EXPECT_NE(a.Get(), b.Get());
}

TEST_P(Symmetric, KeyRecordLoadsIntoAnotherObject)
{
    auto source = Keyed();
    IDispatch* raw = nullptr;
    ASSERT_HR(S_OK, source->get_Key(&raw));
    auto record = ComPtr<IDispatch>::Attach(raw);
    const std::wstring message = Seq(0x30, 3 * Class().blockSize + 1);
    for (LONG mode : {1, 2}) {
        SCOPED_TRACE(mode);
        auto target = New();
        ASSERT_HR(S_OK, target->put_Key(record.Get()));
        EXPECT_HR(S_OK, target->put_mode(mode));
        EXPECT_EQ(KeyOf(target.Get()), Class().record);
        EXPECT_EQ(Encrypt(target.Get(), message), Encrypt(Keyed(mode).Get(), message));
    }
    EXPECT_EQ(HexOf(record.Get()), Class().record);
    // A record replaces a key already there.
    auto other = New();
    auto material = NewBlob(Seq(0x90, 40));
    ASSERT_HR(S_OK, other->Keygen(material.Get(), 32));
    ASSERT_HR(S_OK, other->put_Key(record.Get()));
    EXPECT_EQ(Encrypt(other.Get(), Class().plain), Class().cipher);
}

TEST_P(Symmetric, FillerKeepsTheLowByteAndModeAnyValue)
{
    struct Case {
        LONG put;
        LONG get;
    };
    for (const Case& c : {Case{0x141, 65}, Case{-1, 255}, Case{256, 0}, Case{LONG(0x800000A5), 0xA5}}) {
        EXPECT_HR(S_OK, object->put_Filler(c.put));
        LONG value = -7;
        EXPECT_HR(S_OK, object->get_Filler(&value));
        EXPECT_EQ(value, c.get) << c.put;
    }
    auto keyed = Keyed();
    for (LONG mode : {LONG(7), LONG(0), LONG(3), LONG(-1), LONG(0x80000000)}) {
        SCOPED_TRACE(mode);
        EXPECT_HR(S_OK, keyed->put_mode(mode));
        LONG value = 0;
        EXPECT_HR(S_OK, keyed->get_mode(&value));
        EXPECT_EQ(value, mode);
        // Encrypt and Decrypt refuse it: E_FAIL, the record, no result.
        for (BlobMethod method : {&IZELCryptoSymmetric::Encrypt, &IZELCryptoSymmetric::Decrypt}) {
            auto src = NewBlob(Seq(0, 2 * Class().blockSize));
            FakeBlob sentinel;
            IDispatch* dest = &sentinel;
            EXPECT_HR(E_FAIL, (keyed.Get()->*method)(src.Get(), &dest));
            EXPECT_EQ(dest, nullptr);
            EXPECT_EQ(sentinel.Refs(), 1);
            EXPECT_TRUE(Reported(kUnsupported, GUID_NULL));
        }
    }
}

// A null out-pointer is refused before anything else happens.
TEST_P(Symmetric, NullOutPointersAreRefused)
{
    auto keyed = Keyed();
    EXPECT_HR(E_POINTER, keyed->get_Filler(nullptr));
    EXPECT_HR(E_POINTER, keyed->get_mode(nullptr));
    EXPECT_HR(E_POINTER, keyed->get_Key(nullptr));
    FakeBlob src(Narrow(Class().plain).c_str());
    EXPECT_HR(E_POINTER, keyed->Encrypt(&src, nullptr));
    EXPECT_HR(E_POINTER, keyed->Decrypt(&src, nullptr));
    EXPECT_EQ(src.locks, 0);
    EXPECT_TRUE(Balanced(src));
    EXPECT_EQ(Encrypt(keyed.Get(), Class().plain), Class().cipher);
}

// The XOR of two hex texts of one length.
std::wstring HexXor(const std::wstring& x, const std::wstring& y)
{
    static const wchar_t digits[] = L"0123456789abcdef";
    auto value = [](wchar_t c) { return c <= L'9' ? c - L'0' : c - L'a' + 10; };
    std::wstring out(x.size(), L'0');
    for (size_t i = 0; i < x.size(); ++i)
        out[i] = digits[value(x[i]) ^ value(y[i])];
    return out;
}

// The chaining block is the object's state between calls: mode 2 continues
// one chain across Encrypt calls and across Decrypt calls, Decrypt after
// Encrypt starts from the block Encrypt left, and neither a new key nor a
// change of Mode resets it.  A new object starts from zero.  (The engines'
// own CBC rules are in the native cipher battery; this is the home of the
// rule as the classes keep it, for every class.)
TEST_P(Symmetric, ChainingBlockCarriesOver)
{
    const size_t bs = Class().blockSize;
    const std::wstring a = Seq(0x10, 2 * bs);
    const std::wstring b = Seq(0x50, bs + 3);
    const std::wstring fill(2 * (bs - 3), L'0');
    auto once = Keyed(2);
    const std::wstring whole = Encrypt(once.Get(), a + b);

    // Encrypt(A) & Encrypt(B) = Encrypt(A & B); a fresh object starts again.
    auto twice = Keyed(2);
    const std::wstring first = Encrypt(twice.Get(), a);
    EXPECT_EQ(first + Encrypt(twice.Get(), b), whole);
    EXPECT_EQ(Encrypt(Keyed(2).Get(), a), first);
    EXPECT_NE(Encrypt(once.Get(), a), first) << "a second Encrypt on one object continues the chain";

    // Deciphering on a fresh object gives the messages with their filler; in
    // two calls as well.
    EXPECT_EQ(Decrypt(Keyed(2).Get(), whole), a + b + fill);
    auto pieces = Keyed(2);
    const std::wstring head = Decrypt(pieces.Get(), whole.substr(0, 2 * bs));
    EXPECT_EQ(head + Decrypt(pieces.Get(), whole.substr(2 * bs)), a + b + fill);

    // On the object that enciphered them, the first block comes out XORed
    // with the last ciphertext block; then Decrypt chains from its own last
    // block, and an empty Encrypt moves nothing.
    const std::wstring last = whole.substr(whole.size() - 2 * bs);
    const std::wstring again = Decrypt(twice.Get(), whole);
    EXPECT_EQ(again, HexXor(a.substr(0, 2 * bs), last) + (a + b + fill).substr(2 * bs));
    EXPECT_EQ(Encrypt(twice.Get(), L""), L"");
    const std::wstring block = whole.substr(0, 2 * bs);
    EXPECT_EQ(Decrypt(twice.Get(), block), HexXor(Decrypt(Keyed(1).Get(), block), last));

    // A new key keeps the chain: the next block is enciphered under the new
    // key after XOR with the block the old key left.
    auto rekeyed = Keyed(2);
    const std::wstring before = Encrypt(rekeyed.Get(), a);
    const std::wstring material = Seq(0xc0, 40);
    ASSERT_HR(S_OK, rekeyed->Keygen(NewBlob(material).Get(), 32));
    auto fresh = New();
    ASSERT_HR(S_OK, fresh->Keygen(NewBlob(material).Get(), 32));
    const std::wstring q = Seq(0x55, bs);
    EXPECT_EQ(Encrypt(rekeyed.Get(), q), Encrypt(fresh.Get(), HexXor(q, before.substr(before.size() - 2 * bs))));

    // Mode 1 leaves its last block behind too, and a switch to mode 2 chains
    // from it.
    auto switched = Keyed(1);
    const std::wstring c1 = Encrypt(switched.Get(), Seq(0x20, bs));
    ASSERT_HR(S_OK, switched->put_mode(2));
    const std::wstring r = Seq(0x70, bs);
    EXPECT_EQ(Encrypt(switched.Get(), r), Encrypt(Keyed(1).Get(), HexXor(r, c1)));
}

// --- refusals ----------------------------------------------------------------

// Null, an IDispatch without IZELBlob and another scriptable object are no
// blobs: E_FAIL, the record with the interface's GUID, nothing handed out,
// nothing changed.
TEST_P(Symmetric, ArgumentsThatAreNotBlobs)
{
    auto keyed = Keyed(2);
    FakeDispatch notABlob;
    auto misc = NewMisc();
    for (IDispatch* bad : {static_cast<IDispatch*>(nullptr), static_cast<IDispatch*>(&notABlob),
                           static_cast<IDispatch*>(misc.Get()), static_cast<IDispatch*>(keyed.Get())}) {
        SCOPED_TRACE(testing::Message() << "argument " << bad);
        EXPECT_HR(E_FAIL, keyed->Keygen(bad, 16));
        EXPECT_TRUE(Reported(kNotABlob, IID_IZELCryptoSymmetric));
        EXPECT_HR(E_FAIL, keyed->put_Key(bad));
        EXPECT_TRUE(Reported(kNotABlob, IID_IZELCryptoSymmetric));
        for (BlobMethod method : {&IZELCryptoSymmetric::Encrypt, &IZELCryptoSymmetric::Decrypt}) {
            FakeBlob sentinel;
            IDispatch* dest = &sentinel;
            EXPECT_HR(E_FAIL, (keyed.Get()->*method)(bad, &dest));
            EXPECT_EQ(dest, nullptr);
            EXPECT_EQ(sentinel.Refs(), 1);
            EXPECT_TRUE(Reported(kNotABlob, IID_IZELCryptoSymmetric));
        }
    }
    EXPECT_EQ(notABlob.Refs(), 1);
    EXPECT_EQ(KeyOf(keyed.Get()), Class().record);
    // The chain has not moved either: the first block is still the vector's.
    EXPECT_EQ(Encrypt(keyed.Get(), Class().plain), Class().cipher);
}

TEST_P(Symmetric, DecryptOfPartialBlocksIsRefused)
{
    const size_t bs = Class().blockSize;
    for (LONG mode : {1, 2}) {
        auto keyed = Keyed(mode);
        for (size_t length : {size_t(1), bs - 1, bs + 1, 3 * bs - 1}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << ", " << length << " bytes");
            auto src = NewBlob(Seq(0, length));
            FakeBlob sentinel;
            IDispatch* dest = &sentinel;
            EXPECT_HR(E_FAIL, keyed->Decrypt(src.Get(), &dest));
            EXPECT_EQ(dest, nullptr);
            EXPECT_EQ(sentinel.Refs(), 1);
            EXPECT_TRUE(Reported(kCannotDecrypt, GUID_NULL));
            EXPECT_EQ(HexOf(src.Get()), Seq(0, length));
        }
        // Still at the zero chaining block.
        EXPECT_EQ(Encrypt(keyed.Get(), Class().plain), Class().cipher);
    }
}

TEST_P(Symmetric, MalformedRecordChangesNothing)
{
    const std::wstring corrupted = std::wstring(L"Crypto System: Data is corrupted - ") + Class().engine;
    auto record = NewBlob(Class().malformed);

    auto keyed = Keyed(2);
    EXPECT_HR(E_FAIL, keyed->put_Key(record.Get()));
    EXPECT_TRUE(Reported(corrupted, GUID_NULL));
    EXPECT_EQ(KeyOf(keyed.Get()), Class().record);
    EXPECT_EQ(Encrypt(keyed.Get(), Class().plain), Class().cipher);
    EXPECT_EQ(HexOf(record.Get()), Class().malformed);

    auto empty = NewBlob();
    EXPECT_HR(E_FAIL, keyed->put_Key(empty.Get()));
    EXPECT_TRUE(Reported(corrupted, GUID_NULL));
    EXPECT_EQ(KeyOf(keyed.Get()), Class().record);

    // A keyless object stays keyless.
    EXPECT_HR(E_FAIL, object->put_Key(record.Get()));
    EXPECT_TRUE(Reported(corrupted, GUID_NULL));
    EXPECT_EQ(KeyOf(object.Get()), Wide(HrText(E_FAIL)));
    EXPECT_TRUE(Reported(std::wstring(kNoKey) + L" - " + Class().engine, GUID_NULL));
}

// --- lock balance --------------------------------------------------------------

// Every member that takes a blob, on every path, with a blob double: locked
// once, unlocked once, every reference given back, its bytes unchanged, no
// blob handed out on failure, and no record (not even an older one) when
// GetBuffer fails.
TEST_P(Symmetric, EveryPathBalancesTheBlob)
{
    ComPtr<IZELCryptoSymmetric> o; // the row's object, fresh or keyed
    const LONG val = Class().val;
    const BalanceMember keygen{"Keygen", [&](IDispatch* b, IDispatch*, IDispatch**) { return o->Keygen(b, val); }};
    const BalanceMember putKey{"Key put", [&](IDispatch* b, IDispatch*, IDispatch**) { return o->put_Key(b); }};
    const BalanceMember encrypt{"Encrypt", [&](IDispatch* b, IDispatch*, IDispatch** r) { return o->Encrypt(b, r); },
                                false, true};
    const BalanceMember decrypt{"Decrypt", [&](IDispatch* b, IDispatch*, IDispatch** r) { return o->Decrypt(b, r); },
                                false, true};

    const size_t bs = Class().blockSize;
    const std::string material = Narrow(Class().material);
    const std::string record = Narrow(Class().record);
    const std::string plain = Narrow(Class().plain);
    const std::string cipher = Narrow(Class().cipher);
    const std::wstring corrupted = std::wstring(L"Crypto System: Data is corrupted - ") + Class().engine;
    struct Case {
        BalanceRow row;
        bool keyed;
    };
    const Case cases[] = {
        {{"Keygen", &keygen, {material}, {}, S_OK, nullptr}, false},
        {{"Keygen, GetBuffer fails", &keygen, {material, E_ACCESSDENIED}, {}, E_ACCESSDENIED, nullptr}, false},
        {{"Keygen, null buffer", &keygen, {material, S_OK, true}, {}, E_POINTER, nullptr}, false},
        {{"Key put", &putKey, {record}, {}, S_OK, nullptr}, false},
        {{"Key put, malformed", &putKey, {Narrow(Class().malformed)}, {}, E_FAIL, corrupted.c_str()}, true},
        {{"Key put, GetBuffer fails", &putKey, {record, E_OUTOFMEMORY}, {}, E_OUTOFMEMORY, nullptr}, false},
        {{"Encrypt", &encrypt, {plain}, {}, S_OK, nullptr}, true},
        {{"Encrypt, no key", &encrypt, {plain}, {}, E_FAIL, kNoKey}, false},
        {{"Encrypt, GetBuffer fails", &encrypt, {plain, E_ACCESSDENIED}, {}, E_ACCESSDENIED, nullptr}, true},
        {{"Decrypt", &decrypt, {cipher}, {}, S_OK, nullptr}, true},
        {{"Decrypt, partial block", &decrypt, {Narrow(Seq(0, bs + 1))}, {}, E_FAIL, kCannotDecrypt}, true},
        {{"Decrypt, no key", &decrypt, {cipher}, {}, E_FAIL, kNoKey}, false},
        {{"Decrypt, GetBuffer fails", &decrypt, {cipher, E_ACCESSDENIED}, {}, E_ACCESSDENIED, nullptr}, true},
        {{"Decrypt, null buffer", &decrypt, {cipher, S_OK, true}, {}, E_POINTER, nullptr}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row.name);
        o = c.keyed ? Keyed() : New();
        auto result = RunBalanceRow(c.row, Class().progId);
        const bool succeeded = SUCCEEDED(c.row.expected);
        if (c.row.member == &encrypt || c.row.member == &decrypt) {
            if (succeeded) {
                EXPECT_EQ(HexOf(result.Get()), c.row.member == &encrypt ? Class().cipher : Class().plain);
            }
        } else if (succeeded || c.keyed) {
            EXPECT_EQ(KeyOf(o.Get()), Class().record);
        } else {
            // A Keygen or Key put that never saw its bytes loaded no key.
            EXPECT_EQ(KeyOf(o.Get()), Wide(HrText(E_FAIL)));
        }
    }
}

// The page events reach the object through the same vtable and leave the
// cipher state alone.
TEST_P(Symmetric, PageEventsLeaveTheEngineAlone)
{
    auto keyed = Keyed(2);
    EXPECT_HR(E_POINTER, keyed->OnStartPage(nullptr));
    EXPECT_HR(S_OK, keyed->OnEndPage());
    EXPECT_EQ(KeyOf(keyed.Get()), Class().record);
    EXPECT_EQ(Encrypt(keyed.Get(), Class().plain), Class().cipher);
}

// --- late binding ---------------------------------------------------------------

TEST_P(Symmetric, NamesInAnyCase)
{
    ExpectIds(object.Get(), {{L"OnStartPage", 0x60020000}, {L"OnEndPage", 0x60020001}, {L"Keygen", 1},
                          {L"KEYGEN", 1},               {L"Key", 2},               {L"key", 2},
                          {L"Encrypt", 3},              {L"decrypt", 4},           {L"Filler", 5},
                          {L"filler", 5},               {L"mode", 6},              {L"Mode", 6},
                          {L"MODE", 6}});
}

TEST_P(Symmetric, PropertiesThroughInvoke)
{
    IDispatch* d = object.Get();
    // "o.Mode = 2" and "o.mode" reach the one property.
    Invoked put;
    Invoke(d, L"Mode", DISPATCH_PROPERTYPUT, {LongArg(2)}, put);
    EXPECT_HR(S_OK, put.hr);
    LONG value = 0;
    EXPECT_HR(S_OK, object->get_mode(&value));
    EXPECT_EQ(value, 2);
    Invoked got;
    Invoke(d, L"mode", DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, got);
    ASSERT_HR(S_OK, got.hr);
    ASSERT_EQ(V_VT(&got.result), VT_I4);
    EXPECT_EQ(V_I4(&got.result), 2);

    Invoked filler;
    Invoke(d, L"Filler", DISPATCH_PROPERTYPUT, {LongArg(0x1FF)}, filler);
    EXPECT_HR(S_OK, filler.hr);
    EXPECT_HR(S_OK, object->get_Filler(&value));
    EXPECT_EQ(value, 255);
}

// "Set o.Key = record" (VBScript) arrives as PROPERTYPUTREF, "o.Key = record"
// (JScript) as PROPERTYPUT; both load the key, and both report a refusal.
TEST_P(Symmetric, KeyPutByReferenceAndByValue)
{
    auto record = NewBlob(Class().record);
    auto malformed = NewBlob(Class().malformed);
    const std::wstring corrupted = std::wstring(L"Crypto System: Data is corrupted - ") + Class().engine;
    for (WORD flags : {WORD(DISPATCH_PROPERTYPUTREF), WORD(DISPATCH_PROPERTYPUT)}) {
        SCOPED_TRACE(flags);
        auto o = New();
        Invoked set;
        Invoke(o.Get(), L"Key", flags, {ObjectArg(record.Get())}, set);
        ASSERT_HR(S_OK, set.hr);
        EXPECT_EQ(KeyOf(o.Get()), Class().record);
        EXPECT_EQ(Encrypt(o.Get(), Class().plain), Class().cipher);

        Invoked refused;
        Invoke(o.Get(), L"Key", flags, {ObjectArg(malformed.Get())}, refused);
        EXPECT_HR(DISP_E_EXCEPTION, refused.hr);
        EXPECT_HR(E_FAIL, refused.scode);
        EXPECT_EQ(refused.description, corrupted);
        EXPECT_EQ(refused.source, Class().progId);
        EXPECT_EQ(KeyOf(o.Get()), Class().record);

        // VBScript's Nothing reaches the method as a null pointer.
        Invoked nothing;
        Invoke(o.Get(), L"Key", flags, {ObjectArg(nullptr)}, nothing);
        EXPECT_HR(DISP_E_EXCEPTION, nothing.hr);
        EXPECT_HR(E_FAIL, nothing.scode);
        EXPECT_EQ(nothing.description, kNotABlob);
        EXPECT_EQ(nothing.source, Class().progId);
    }

    // Reading the key back as a script does.
    auto keyed = Keyed();
    Invoked got;
    Invoke(keyed.Get(), L"Key", DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, got);
    ASSERT_HR(S_OK, got.hr);
    ASSERT_EQ(V_VT(&got.result), VT_DISPATCH);
    EXPECT_EQ(HexOf(V_DISPATCH(&got.result)), Class().record);

    Invoked none;
    Invoke(object.Get(), L"Key", DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, none);
    EXPECT_HR(DISP_E_EXCEPTION, none.hr);
    EXPECT_HR(E_FAIL, none.scode);
    EXPECT_EQ(none.description, std::wstring(kNoKey) + L" - " + Class().engine);
}

TEST_P(Symmetric, MethodsThroughInvoke)
{
    auto material = NewBlob(Class().material);
    Invoked keygen;
    Invoke(object.Get(), L"Keygen", DISPATCH_METHOD, {ObjectArg(material.Get()), LongArg(Class().val)}, keygen);
    ASSERT_HR(S_OK, keygen.hr);
    EXPECT_EQ(KeyOf(object.Get()), Class().record);

    auto plain = NewBlob(Class().plain);
    Invoked encrypted;
    Invoke(object.Get(), L"Encrypt", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {ObjectArg(plain.Get())}, encrypted);
    ASSERT_HR(S_OK, encrypted.hr);
    ASSERT_EQ(V_VT(&encrypted.result), VT_DISPATCH);
    EXPECT_EQ(HexOf(V_DISPATCH(&encrypted.result)), Class().cipher);

    auto partial = NewBlob(Seq(0, Class().blockSize + 1));
    Invoked refused;
    Invoke(object.Get(), L"Decrypt", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {ObjectArg(partial.Get())}, refused);
    EXPECT_HR(DISP_E_EXCEPTION, refused.hr);
    EXPECT_HR(E_FAIL, refused.scode);
    EXPECT_EQ(refused.description, kCannotDecrypt);
    EXPECT_EQ(refused.source, Class().progId);
}

INSTANTIATE_TEST_SUITE_P(AllClasses, Symmetric, testing::ValuesIn(kClasses),
                         [](const testing::TestParamInfo<CipherClass>& info) { return std::string(info.param.name); });

} // namespace
