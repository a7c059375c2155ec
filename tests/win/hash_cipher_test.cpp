// The Hash and Cipher classes through their vtables: every member that takes
// or returns blobs, on its paths, with blob doubles (the shared balance
// table), the arguments checked before any work, and the names a script may
// write in any case.  What the algorithms compute is checked natively and
// from scripts against independent implementations.
#include "support.h"

using namespace zeltest;

namespace {

const wchar_t kHashProgId[] = L"Valdergast.ZELCryptoHash.1";
const wchar_t kCipherProgId[] = L"Valdergast.ZELCryptoCipher.1";
const wchar_t kUnsupported[] = L"Crypto System: Unsupported algorithm";
const wchar_t kInvalidKey[] = L"Crypto System: Invalid key";
const wchar_t kCannotDecrypt[] = L"Crypto System: Unable to decrypt data";
const char kAbcSha256[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

template <class Itf>
ComPtr<Itf> Create(REFCLSID clsid)
{
    ComPtr<Itf> object;
    EXPECT_HR(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(Itf), object.OutVoid()));
    return object;
}

class HashCipherClasses : public testing::Test {
protected:
    void SetUp() override { ClearErrorRecord(); }
};

TEST_F(HashCipherClasses, HashPathsBalanceTheBlobs)
{
    ComPtr<IZELCryptoHash> o;
    const BalanceMember hash{"Hash", [&](IDispatch* a, IDispatch*, IDispatch** r) { return o->Hash(a, r); }, false,
                             true};
    const BalanceMember update{"Update", [&](IDispatch* a, IDispatch*, IDispatch**) { return o->Update(a); }};
    const BalanceMember hmac{"Hmac", [&](IDispatch* a, IDispatch* b, IDispatch** r) { return o->Hmac(a, b, r); },
                             true, true};
    const BalanceMember pbkdf2{"Pbkdf2",
                               [&](IDispatch* a, IDispatch* b, IDispatch** r) { return o->Pbkdf2(a, b, 2, 20, r); },
                               true, true};
    const BalanceMember pbkdf2Zero{
        "Pbkdf2, 0 iterations", [&](IDispatch* a, IDispatch* b, IDispatch** r) { return o->Pbkdf2(a, b, 0, 20, r); },
        true, true};
    const BalanceMember hkdf{"Hkdf",
                             [&](IDispatch* a, IDispatch* b, IDispatch** r) { return o->Hkdf(a, b, nullptr, 42, r); },
                             true, true};
    const BalanceMember hkdfLong{
        "Hkdf, too long", [&](IDispatch* a, IDispatch* b, IDispatch** r) { return o->Hkdf(a, b, nullptr, 8161, r); },
        true, true};
    const BalanceRow rows[] = {
        {"Hash", &hash, {"616263"}, {}, S_OK, nullptr},
        {"Hash, GetBuffer fails", &hash, {"616263", E_ACCESSDENIED}, {}, E_ACCESSDENIED, nullptr},
        {"Hash, null buffer", &hash, {"616263", S_OK, true}, {}, E_POINTER, nullptr},
        {"Update", &update, {"616263"}, {}, S_OK, nullptr},
        {"Update, GetBuffer fails", &update, {"61", E_OUTOFMEMORY}, {}, E_OUTOFMEMORY, nullptr},
        {"Hmac", &hmac, {"4a656665"}, {"77686174"}, S_OK, nullptr},
        {"Hmac, second GetBuffer fails", &hmac, {"4a656665"}, {"77686174", E_ACCESSDENIED}, E_ACCESSDENIED, nullptr},
        {"Pbkdf2", &pbkdf2, {"70"}, {"73"}, S_OK, nullptr},
        // Refused before any blob is touched.
        {"Pbkdf2, 0 iterations", &pbkdf2Zero, {"70", S_OK, false, 0}, {"73", S_OK, false, 0}, E_INVALIDARG, nullptr},
        {"Hkdf, no info", &hkdf, {"0b0b"}, {"00"}, S_OK, nullptr},
        {"Hkdf, too long", &hkdfLong, {"0b0b", S_OK, false, 0}, {"00", S_OK, false, 0}, E_INVALIDARG, nullptr},
    };
    for (const BalanceRow& row : rows) {
        o = Create<IZELCryptoHash>(CLSID_ZELCryptoHash);
        auto result = RunBalanceRow(row, kHashProgId);
        if (row.member == &hash && result) {
            EXPECT_EQ(HexOf(result.Get()), Wide(kAbcSha256));
        }
    }
}

// Update feeds the running digest; a failed Update feeds nothing.
TEST_F(HashCipherClasses, RunningDigestSurvivesAFailedUpdate)
{
    auto o = Create<IZELCryptoHash>(CLSID_ZELCryptoHash);
    ASSERT_HR(S_OK, o->Update(NewBlob(L"6162").Get()));
    FakeBlob failing("78797a");
    failing.getBufferResult = E_ACCESSDENIED;
    EXPECT_HR(E_ACCESSDENIED, o->Update(&failing));
    ASSERT_HR(S_OK, o->Update(NewBlob(L"63").Get()));
    IDispatch* raw = nullptr;
    ASSERT_HR(S_OK, o->Final(&raw));
    auto digest = ComPtr<IDispatch>::Attach(raw);
    EXPECT_EQ(HexOf(digest.Get()), Wide(kAbcSha256));
}

TEST_F(HashCipherClasses, AlgorithmNames)
{
    auto o = Create<IZELCryptoHash>(CLSID_ZELCryptoHash);
    const struct {
        const wchar_t* put;
        const wchar_t* get; // null: refused
    } cases[] = {
        {L"sha-384", L"SHA384"}, {L"SHA512/256", L"SHA512/256"}, {L"Sha3-512", L"SHA3-512"}, {L"RIPEMD160", L"RIPEMD160"},
        {L"SHA-0", nullptr},     {L"SHA 256", nullptr},          {L"", nullptr},             {L"SHA256\t", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.put));
        BSTR previous = nullptr;
        ASSERT_HR(S_OK, o->get_Algorithm(&previous));
        const std::wstring was(previous, SysStringLen(previous));
        SysFreeString(previous);
        EXPECT_HR(c.get ? S_OK : E_FAIL, o->put_Algorithm(Bstr(c.put)));
        if (!c.get) {
            EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), kUnsupported, kHashProgId, GUID_NULL));
        }
        BSTR now = nullptr;
        ASSERT_HR(S_OK, o->get_Algorithm(&now));
        EXPECT_EQ(std::wstring(now, SysStringLen(now)), c.get ? std::wstring(c.get) : was);
        SysFreeString(now);
    }
}

TEST_F(HashCipherClasses, CipherPathsBalanceTheBlobs)
{
    ComPtr<IZELCryptoCipher> o;
    const BalanceMember putKey{"Key put", [&](IDispatch* a, IDispatch*, IDispatch**) { return o->put_Key(a); }};
    const BalanceMember putIv{"IV put", [&](IDispatch* a, IDispatch*, IDispatch**) { return o->put_IV(a); }};
    const BalanceMember encrypt{"Encrypt", [&](IDispatch* a, IDispatch*, IDispatch** r) { return o->Encrypt(a, r); },
                                false, true};
    const BalanceMember decrypt{"Decrypt", [&](IDispatch* a, IDispatch*, IDispatch** r) { return o->Decrypt(a, r); },
                                false, true};
    const BalanceMember encryptPassword{
        "EncryptPassword",
        [&](IDispatch* a, IDispatch* b, IDispatch** r) { return o->EncryptPassword(a, b, r); }, true, true};
    const BalanceMember decryptPassword{
        "DecryptPassword",
        [&](IDispatch* a, IDispatch* b, IDispatch** r) { return o->DecryptPassword(a, b, r); }, true, true};
    const std::string key(64, '7');
    const std::string iv = "000102030405060708090a0b";
    // AES-256-GCM under that key and IV, of "hello", made by the class itself
    // below and checked to open.
    struct Case {
        BalanceRow row;
        bool keyed;
    };
    const Case cases[] = {
        {{"Key put", &putKey, {key}, {}, S_OK, nullptr}, false},
        {{"Key put, 4 bytes", &putKey, {"00112233"}, {}, E_FAIL, kInvalidKey}, false},
        {{"Key put, null buffer", &putKey, {key, S_OK, true}, {}, E_POINTER, nullptr}, false},
        {{"IV put", &putIv, {iv}, {}, S_OK, nullptr}, false},
        {{"Encrypt", &encrypt, {"68656c6c6f"}, {}, S_OK, nullptr}, true},
        {{"Encrypt, no key", &encrypt, {"68656c6c6f"}, {}, E_FAIL, kInvalidKey}, false},
        {{"Encrypt, GetBuffer fails", &encrypt, {"68656c6c6f", E_ACCESSDENIED}, {}, E_ACCESSDENIED, nullptr}, true},
        {{"Decrypt, too short for a tag", &decrypt, {"0011"}, {}, E_FAIL, kCannotDecrypt}, true},
        {{"EncryptPassword", &encryptPassword, {"7077"}, {"66696c65"}, S_OK, nullptr}, false},
        {{"DecryptPassword, no header", &decryptPassword, {"7077"}, {"66696c65"}, E_FAIL, kCannotDecrypt}, false},
        {{"DecryptPassword, second GetBuffer fails", &decryptPassword, {"7077"}, {"00", E_OUTOFMEMORY},
          E_OUTOFMEMORY, nullptr},
         false},
    };
    for (const Case& c : cases) {
        o = Create<IZELCryptoCipher>(CLSID_ZELCryptoCipher);
        if (c.keyed) {
            ASSERT_HR(S_OK, o->put_Key(NewBlob(Wide(key)).Get()));
            ASSERT_HR(S_OK, o->put_IV(NewBlob(Wide(iv)).Get()));
        }
        auto result = RunBalanceRow(c.row, kCipherProgId);
        if (c.row.member == &encrypt && result) {
            // What came out opens on a second object with the same key and IV.
            auto reader = Create<IZELCryptoCipher>(CLSID_ZELCryptoCipher);
            ASSERT_HR(S_OK, reader->put_Key(NewBlob(Wide(key)).Get()));
            ASSERT_HR(S_OK, reader->put_IV(NewBlob(Wide(iv)).Get()));
            IDispatch* raw = nullptr;
            ASSERT_HR(S_OK, reader->Decrypt(result.Get(), &raw));
            auto plain = ComPtr<IDispatch>::Attach(raw);
            EXPECT_EQ(HexOf(plain.Get()), L"68656c6c6f");
        }
    }
}

// Scalar properties: range checks before anything changes.
TEST_F(HashCipherClasses, CipherPropertyRanges)
{
    auto o = Create<IZELCryptoCipher>(CLSID_ZELCryptoCipher);
    for (LONG bad : {11, 17, 0, -16}) {
        EXPECT_HR(E_INVALIDARG, o->put_TagLength(bad)) << bad;
    }
    LONG tag = 0;
    ASSERT_HR(S_OK, o->get_TagLength(&tag));
    EXPECT_EQ(tag, 16);
    ASSERT_HR(S_OK, o->put_TagLength(12));
    ASSERT_HR(S_OK, o->get_TagLength(&tag));
    EXPECT_EQ(tag, 12);
    EXPECT_HR(E_INVALIDARG, o->put_Iterations(0));
    LONG iterations = 0;
    ASSERT_HR(S_OK, o->get_Iterations(&iterations));
    EXPECT_EQ(iterations, 10000);
    EXPECT_HR(E_FAIL, o->put_Padding(Bstr(L"ANSI")));
    EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), kUnsupported, kCipherProgId, GUID_NULL));
    EXPECT_HR(E_POINTER, o->get_TagLength(nullptr));
    EXPECT_HR(E_POINTER, o->get_Algorithm(nullptr));
}

TEST_F(HashCipherClasses, NamesInAnyCase)
{
    auto h = Create<IZELCryptoHash>(CLSID_ZELCryptoHash);
    ExpectIds(h.Get(), {{L"algorithm", 1}, {L"HASH", 2}, {L"update", 3}, {L"final", 4}, {L"HMAC", 5},
                        {L"pbkdf2", 6}, {L"hkdf", 7}});
    auto c = Create<IZELCryptoCipher>(CLSID_ZELCryptoCipher);
    ExpectIds(c.Get(), {{L"algorithm", 1}, {L"key", 2}, {L"iv", 3}, {L"padding", 4}, {L"aad", 5},
                        {L"taglength", 6}, {L"ITERATIONS", 7}, {L"encrypt", 8}, {L"decrypt", 9},
                        {L"encryptpassword", 10}, {L"DecryptPassword", 11}});
}

} // namespace
