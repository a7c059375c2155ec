// The Misc digests, checksums, random bytes and key derivation through the
// vtable of IZELCryptoMisc: results on real blobs, arguments that are not
// blobs, what happens to the out-pointers, Random's count check, Keygen's
// choice of derivation and its refusals, and the lock balance seen by a blob
// double.
//
// The derivation engines themselves are checked against OpenSSL and GnuPG in
// the native tests; here Keygen's results are compared with the engine call it
// should have chosen, and with relations to the Misc digests.
#include "support.h"

#include "hash/s2k.h"

#include <string>
#include <utility>

using namespace zeltest;

namespace {

const wchar_t kUnsupported[] = L"Crypto System: Unsupported algorithm";

// The hex text of a plain ASCII text.
std::wstring HexText(const char* text)
{
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring hex;
    for (const char* p = text; *p; ++p) {
        hex += digits[uint8_t(*p) >> 4];
        hex += digits[uint8_t(*p) & 15];
    }
    return hex;
}

XBlob BytesOf(const std::wstring& hex)
{
    return BytesFromHex(Narrow(hex).c_str());
}

class MiscCrypto : public testing::Test {
protected:
    void SetUp() override
    {
        misc = NewMisc();
        ClearErrorRecord();
    }

    static IDispatch* D(const ComPtr<IZELBlobScript>& blob) { return blob.Get(); }

    // Keygen's result as hex, or the failure as "hr".
    std::wstring Keygen(LONG hash, LONG length, IDispatch* password, IDispatch* salt, LONG passes)
    {
        IDispatch* raw = nullptr;
        const HRESULT hr = misc->Keygen(hash, length, password, salt, passes, &raw);
        auto result = ComPtr<IDispatch>::Attach(raw);
        if (FAILED(hr))
            return Wide(HrText(hr));
        return HexOf(result.Get());
    }

    std::wstring Digest(HRESULT (STDMETHODCALLTYPE IZELCryptoMisc::*method)(IDispatch*, IDispatch**), IDispatch* src)
    {
        IDispatch* raw = nullptr;
        const HRESULT hr = (misc.Get()->*method)(src, &raw);
        auto result = ComPtr<IDispatch>::Attach(raw);
        if (FAILED(hr))
            return Wide(HrText(hr));
        return HexOf(result.Get());
    }

    ComPtr<IZELCryptoMisc> misc;
};

using DigestMethod = HRESULT (STDMETHODCALLTYPE IZELCryptoMisc::*)(IDispatch*, IDispatch**);
using ChecksumMethod = HRESULT (STDMETHODCALLTYPE IZELCryptoMisc::*)(IDispatch*, ULONG*);

struct NamedDigest {
    const char* name;
    DigestMethod method;
};
const NamedDigest kDigests[] = {
    {"MD5", &IZELCryptoMisc::MD5}, {"SHA1", &IZELCryptoMisc::SHA1}, {"Ripemd", &IZELCryptoMisc::Ripemd}};

// --- digests and checksums -------------------------------------------------

TEST_F(MiscCrypto, DigestsOfPublishedVectors)
{
    struct Case {
        DigestMethod method;
        const char* text;
        const wchar_t* digest;
    };
    const Case cases[] = {
        {&IZELCryptoMisc::MD5, "", L"d41d8cd98f00b204e9800998ecf8427e"},
        {&IZELCryptoMisc::MD5, "abc", L"900150983cd24fb0d6963f7d28e17f72"},
        {&IZELCryptoMisc::SHA1, "", L"da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {&IZELCryptoMisc::SHA1, "abc", L"a9993e364706816aba3e25717850c26c9cd0d89d"},
        {&IZELCryptoMisc::Ripemd, "", L"9c1185a5c5e9fc54612808977ee8f548b2258d31"},
        {&IZELCryptoMisc::Ripemd, "abc", L"8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto src = NewBlob(HexText(c.text));
        IDispatch* raw = nullptr;
        ASSERT_HR(S_OK, (misc.Get()->*c.method)(D(src), &raw));
        auto result = ComPtr<IDispatch>::Attach(raw);
        ASSERT_TRUE(result);
        EXPECT_EQ(HexOf(result.Get()), c.digest);
        // A new blob; the source is left as it was.
        EXPECT_NE(result.Get(), D(src));
        EXPECT_EQ(HexOf(src.Get()), HexText(c.text));
    }
}

TEST_F(MiscCrypto, ChecksumsOfTheCheckString)
{
    struct Case {
        ChecksumMethod method;
        const char* text;
        ULONG value;
    };
    const Case cases[] = {
        {&IZELCryptoMisc::CRC32, "", 0},
        {&IZELCryptoMisc::CRC32, "123456789", 0xCBF43926u},
        {&IZELCryptoMisc::CRC24, "", 0xB704CEu},
        {&IZELCryptoMisc::CRC24, "123456789", 0x21CF02u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto src = NewBlob(HexText(c.text));
        ULONG value = 12345;
        ASSERT_HR(S_OK, (misc.Get()->*c.method)(D(src), &value));
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(HexOf(src.Get()), HexText(c.text));
    }
}

// Null, an IDispatch without IZELBlob, or another object where the source
// belongs: E_FAIL with the record naming the Misc interface.  The digests
// clear their out-pointer first and hand out nothing; the checksums leave
// theirs alone.
TEST_F(MiscCrypto, SourcesThatAreNotBlobs)
{
    FakeDispatch notABlob;
    IDispatch* miscAsDispatch = misc.Get();
    for (IDispatch* bad : {static_cast<IDispatch*>(nullptr), static_cast<IDispatch*>(&notABlob), miscAsDispatch}) {
        SCOPED_TRACE(testing::Message() << "argument " << bad);
        for (const NamedDigest& d : kDigests) {
            SCOPED_TRACE(d.name);
            FakeBlob sentinel;
            IDispatch* out = &sentinel;
            ClearErrorRecord();
            EXPECT_HR(E_FAIL, (misc.Get()->*d.method)(bad, &out));
            EXPECT_EQ(out, nullptr);
            EXPECT_EQ(sentinel.Refs(), 1);
            EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), kNotABlob, kMiscProgId, IID_IZELCryptoMisc));
        }
        for (ChecksumMethod method : {&IZELCryptoMisc::CRC32, &IZELCryptoMisc::CRC24}) {
            ULONG value = 12345;
            ClearErrorRecord();
            EXPECT_HR(E_FAIL, (misc.Get()->*method)(bad, &value));
            EXPECT_EQ(value, 12345u);
            EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), kNotABlob, kMiscProgId, IID_IZELCryptoMisc));
        }
    }
    EXPECT_EQ(notABlob.Refs(), 1);
}

// Every digest and checksum path with a blob double as the source.
TEST_F(MiscCrypto, DigestsAndChecksumsBalanceTheSource)
{
    IZELCryptoMisc* m = misc.Get();
    std::vector<BalanceMember> members;
    for (const NamedDigest& d : kDigests) {
        const DigestMethod method = d.method;
        members.push_back({d.name, [m, method](IDispatch* s, IDispatch*, IDispatch** r) { return (m->*method)(s, r); },
                           false, true});
    }
    for (ChecksumMethod method : {&IZELCryptoMisc::CRC32, &IZELCryptoMisc::CRC24}) {
        members.push_back({"checksum", [m, method](IDispatch* s, IDispatch*, IDispatch**) {
                               ULONG value = 12345;
                               const HRESULT hr = (m->*method)(s, &value);
                               if (FAILED(hr)) {
                                   EXPECT_EQ(value, 12345u);
                               } else {
                                   EXPECT_TRUE(value == 0xCBF43926u || value == 0x21CF02u) << std::hex << value;
                               }
                               return hr;
                           }});
    }
    for (const BalanceMember& member : members) {
        const bool digest = member.returnsBlob;
        const std::string bytes = digest ? "616263" : "313233343536373839";
        for (HRESULT getBuffer : {S_OK, E_ACCESSDENIED})
            RunBalanceRow({member.name, &member, {bytes, getBuffer}, {}, getBuffer, nullptr}, kMiscProgId);
    }
}

// --- Random -------------------------------------------------------------------

TEST_F(MiscCrypto, RandomLengths)
{
    for (LONG count : {0, 1, 15, 16, 17, 1000}) {
        SCOPED_TRACE(count);
        FakeBlob sentinel;
        IDispatch* out = &sentinel;
        ASSERT_HR(S_OK, misc->Random(count, &out));
        auto result = ComPtr<IDispatch>::Attach(out);
        ASSERT_TRUE(result);
        EXPECT_NE(result.Get(), static_cast<IDispatch*>(&sentinel));
        // What dest held before is not read, let alone released.
        EXPECT_EQ(sentinel.Refs(), 1);
        EXPECT_EQ(HexOf(result.Get()).size(), size_t(2 * count));
    }
}

TEST_F(MiscCrypto, RandomDrawsDiffer)
{
    IDispatch* first = nullptr;
    IDispatch* second = nullptr;
    ASSERT_HR(S_OK, misc->Random(32, &first));
    auto a = ComPtr<IDispatch>::Attach(first);
    ASSERT_HR(S_OK, misc->Random(32, &second));
    auto b = ComPtr<IDispatch>::Attach(second);
    EXPECT_NE(HexOf(a.Get()), HexOf(b.Get()));
}

// A negative count (2^31 bytes or more as a script sees it) is refused at
// once: no blob, dest cleared, no record.
TEST_F(MiscCrypto, RandomNegativeCountIsRefused)
{
    for (LONG count : {LONG(-1), LONG(-16), LONG(0x80000000)}) {
        SCOPED_TRACE(count);
        FakeBlob sentinel;
        IDispatch* out = &sentinel;
        ClearErrorRecord();
        EXPECT_HR(E_INVALIDARG, misc->Random(count, &out));
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(sentinel.Refs(), 1);
        EXPECT_FALSE(TakeErrorRecord().present);
    }
}

// --- Keygen ---------------------------------------------------------------------

// hash 0: the seed expander over the password, whatever salt and passes say;
// the salt is not even looked at.
TEST_F(MiscCrypto, KeygenHashZeroExpandsTheSeed)
{
    auto password = NewBlob(L"0001020304");
    const std::wstring expected = Wide(HexOf(ExpandSeed(BytesOf(L"0001020304"), 50)));
    auto salt = NewBlob(L"1122334455667788");
    FakeDispatch notABlob;
    for (IDispatch* s : {static_cast<IDispatch*>(nullptr), D(salt), static_cast<IDispatch*>(&notABlob)})
        for (LONG passes : {0, 96})
            EXPECT_EQ(Keygen(0, 50, D(password), s, passes), expected);

    FakeBlob fakeSalt("1122334455667788");
    EXPECT_EQ(Keygen(0, 50, D(password), &fakeSalt, 96), expected);
    EXPECT_EQ(fakeSalt.locks, 0);
    EXPECT_EQ(fakeSalt.getBufferCalls, 0);
    EXPECT_EQ(fakeSalt.Refs(), 1);

    // 16 bytes of it are MD5(password).
    std::wstring md5 = Digest(&IZELCryptoMisc::MD5, D(password));
    EXPECT_EQ(Keygen(0, 16, D(password), nullptr, 0), md5);
}

// A non-empty salt blob: iterated when passes is not 0, else salted.  No salt,
// a salt that is not a blob, and an empty salt blob: simple.
TEST_F(MiscCrypto, KeygenChoosesTheDerivation)
{
    const wchar_t pwHex[] = L"70617373776f7264"; // "password"
    const wchar_t saltHex[] = L"0102030405060708";
    auto password = NewBlob(pwHex);
    auto salt = NewBlob(saltHex);
    auto empty = NewBlob();
    FakeDispatch notABlob;
    const XBlob pw = BytesOf(pwHex);
    const XBlob sa = BytesOf(saltHex);

    for (LONG hash : {1, 2, 3}) {
        SCOPED_TRACE(hash);
        const uint8_t id = uint8_t(hash);
        const std::wstring simple = Wide(HexOf(S2KSimple(id, 37, pw)));
        EXPECT_EQ(Keygen(hash, 37, D(password), nullptr, 0), simple);
        EXPECT_EQ(Keygen(hash, 37, D(password), nullptr, 96), simple);
        EXPECT_EQ(Keygen(hash, 37, D(password), &notABlob, 96), simple);
        EXPECT_EQ(Keygen(hash, 37, D(password), misc.Get(), 96), simple);
        EXPECT_EQ(Keygen(hash, 37, D(password), D(empty), 96), simple);
        EXPECT_EQ(Keygen(hash, 37, D(password), D(salt), 0), Wide(HexOf(S2KSalted(id, 37, pw, sa))));
        EXPECT_EQ(Keygen(hash, 37, D(password), D(salt), 96), Wide(HexOf(S2KIterated(id, 37, pw, sa, 96))));
        EXPECT_EQ(Keygen(hash, 37, D(password), D(salt), 1), Wide(HexOf(S2KIterated(id, 37, pw, sa, 1))));
        EXPECT_EQ(notABlob.Refs(), 1);
    }
    EXPECT_EQ(HexOf(password.Get()), pwHex);
    EXPECT_EQ(HexOf(salt.Get()), saltHex);
}

// Relations with the Misc digests: simple SHA-1 of 20 bytes is SHA1(password);
// salted is SHA1(salt followed by password).
TEST_F(MiscCrypto, KeygenAgreesWithTheDigests)
{
    auto password = NewBlob(HexText("open sesame"));
    auto salt = NewBlob(L"a1a2a3a4a5a6a7a8");
    auto joined = NewBlob(L"a1a2a3a4a5a6a7a8" + HexText("open sesame"));
    EXPECT_EQ(Keygen(2, 20, D(password), nullptr, 0), Digest(&IZELCryptoMisc::SHA1, D(password)));
    EXPECT_EQ(Keygen(1, 16, D(password), nullptr, 0), Digest(&IZELCryptoMisc::MD5, D(password)));
    EXPECT_EQ(Keygen(3, 20, D(password), nullptr, 0), Digest(&IZELCryptoMisc::Ripemd, D(password)));
    EXPECT_EQ(Keygen(2, 20, D(password), D(salt), 0), Digest(&IZELCryptoMisc::SHA1, D(joined)));
}

// The hash id is the low byte of the argument; anything else in it is ignored
// once the whole value is not 0.
TEST_F(MiscCrypto, KeygenTakesTheLowByteOfHash)
{
    auto password = NewBlob(L"616263");
    auto salt = NewBlob(L"0102030405060708");
    for (LONG hash : {1, 2, 3}) {
        SCOPED_TRACE(hash);
        const std::wstring plain = Keygen(hash, 30, D(password), D(salt), 96);
        EXPECT_EQ(Keygen(hash + 0x100, 30, D(password), D(salt), 96), plain);
        EXPECT_EQ(Keygen(hash | LONG(0xFFFFFF00), 30, D(password), D(salt), 96), plain);
        EXPECT_EQ(Keygen(hash + 0x7FFF0000, 30, D(password), D(salt), 96), plain);
    }
}

// passes is a whole 32-bit number: values past one byte give counts of their
// own (the engine's count rule is checked natively).
TEST_F(MiscCrypto, KeygenPassesAsAWholeNumber)
{
    const wchar_t pwHex[] = L"000102030405060708090a0b0c0d0e0f1011121314151617"; // 24 bytes
    const wchar_t saltHex[] = L"a0a1a2a3a4a5a6a7";
    auto password = NewBlob(pwHex);
    auto salt = NewBlob(saltHex);
    const XBlob pw = BytesOf(pwHex);
    const XBlob sa = BytesOf(saltHex);
    for (LONG passes : {LONG(96), LONG(0x1F0), LONG(0x1A0), LONG(0x160), LONG(-1), LONG(0x80000000)}) {
        SCOPED_TRACE(passes);
        EXPECT_EQ(Keygen(2, 25, D(password), D(salt), passes),
                  Wide(HexOf(S2KIterated(2, 25, pw, sa, uint32_t(passes)))));
    }
    // Counts of 0 (16 << 28 and 16 << 31 leave nothing of 32 bits) and of 16
    // (0x1A0: the shift wraps to 0), less than the 32 bytes of salt and
    // password: those are hashed once, which is the salted derivation.
    const std::wstring salted = Keygen(2, 25, D(password), D(salt), 0);
    for (LONG passes : {LONG(0x160), LONG(0x190), LONG(0x1A0)})
        EXPECT_EQ(Keygen(2, 25, D(password), D(salt), passes), salted) << passes;
    EXPECT_NE(Keygen(2, 25, D(password), D(salt), 0x1F0), salted);
}

TEST_F(MiscCrypto, KeygenLengthZeroAndUnknownIds)
{
    auto password = NewBlob(L"616263");
    auto salt = NewBlob(L"0102030405060708");
    EXPECT_EQ(Keygen(0, 0, D(password), nullptr, 0), L"");
    EXPECT_EQ(Keygen(2, 0, D(password), nullptr, 0), L"");
    EXPECT_EQ(Keygen(3, 0, D(password), D(salt), 255), L"");

    // 8, 10 and 11 are SHA-256, SHA-512 and SHA-224 in OpenPGP, which the
    // engine knows for the newer classes: Keygen still takes only its own three.
    for (LONG hash : {LONG(4), LONG(8), LONG(10), LONG(11), LONG(256), LONG(255), LONG(-256), LONG(0x12345600)}) {
        for (LONG length : {0, 20}) {
            SCOPED_TRACE(testing::Message() << "hash " << hash << ", length " << length);
            FakeBlob sentinel;
            IDispatch* out = &sentinel;
            ClearErrorRecord();
            // Code 255 would take long to hash: the refusal comes first.
            EXPECT_HR(E_FAIL, misc->Keygen(hash, length, D(password), D(salt), 255, &out));
            EXPECT_EQ(out, static_cast<IDispatch*>(&sentinel)); // Keygen does not clear it
            EXPECT_EQ(sentinel.Refs(), 1);
            EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), kUnsupported, kMiscProgId, GUID_NULL));
        }
    }
    EXPECT_EQ(HexOf(password.Get()), L"616263");
}

// The longest key Keygen derives: 65,536 bytes, by every derivation.
TEST_F(MiscCrypto, KeygenLongestKey)
{
    auto password = NewBlob(L"616263");
    auto salt = NewBlob(L"0102030405060708");
    const XBlob pw = BytesOf(L"616263"), sa = BytesOf(L"0102030405060708");
    EXPECT_EQ(Keygen(0, 65536, D(password), nullptr, 0), Wide(HexOf(ExpandSeed(pw, 65536))));
    EXPECT_EQ(Keygen(1, 65536, D(password), nullptr, 0), Wide(HexOf(S2KSimple(1, 65536, pw))));
    EXPECT_EQ(Keygen(3, 65536, D(password), D(salt), 0), Wide(HexOf(S2KSalted(3, 65536, pw, sa))));
    EXPECT_EQ(Keygen(2, 65536, D(password), D(salt), 16), Wide(HexOf(S2KIterated(2, 65536, pw, sa, 16))));
}

// Lengths outside 0 to 65,536 are refused at once, whatever the hash id
// (unknown ones too), with no record and the result left alone: a negative
// one as an unexpected failure, a longer one as an invalid argument.  Code
// 255 makes sure nothing was derived first: over 3,000 digests of 65 MB
// each would keep this test busy for minutes.
TEST_F(MiscCrypto, KeygenLengthOutOfRange)
{
    auto password = NewBlob(L"616263");
    auto salt = NewBlob(L"0102030405060708");
    const std::pair<LONG, HRESULT> cases[] = {
        {-1, E_UNEXPECTED},          {LONG(0x80000000), E_UNEXPECTED}, {65537, E_INVALIDARG},
        {LONG(1) << 20, E_INVALIDARG}, {0x7FFFFFFF, E_INVALIDARG},
    };
    for (LONG hash : {0, 1, 2, 3, 4})
        for (const auto& [length, expected] : cases) {
            SCOPED_TRACE(testing::Message() << "hash " << hash << ", length " << length);
            FakeBlob sentinel;
            IDispatch* out = &sentinel;
            ClearErrorRecord();
            EXPECT_HR(expected, misc->Keygen(hash, length, D(password), D(salt), 255, &out));
            EXPECT_EQ(out, static_cast<IDispatch*>(&sentinel));
            EXPECT_EQ(sentinel.Refs(), 1);
            EXPECT_FALSE(TakeErrorRecord().present);
        }
    EXPECT_EQ(HexOf(password.Get()), L"616263");
    EXPECT_EQ(HexOf(salt.Get()), L"0102030405060708");
}

// A password that is not a blob: the usual report; the result is not touched.
TEST_F(MiscCrypto, KeygenPasswordThatIsNotABlob)
{
    FakeDispatch notABlob;
    auto salt = NewBlob(L"0102030405060708");
    for (IDispatch* bad : {static_cast<IDispatch*>(nullptr), static_cast<IDispatch*>(&notABlob),
                           static_cast<IDispatch*>(misc.Get())}) {
        for (LONG hash : {0, 2, 4}) {
            SCOPED_TRACE(testing::Message() << "argument " << bad << ", hash " << hash);
            FakeBlob sentinel;
            IDispatch* out = &sentinel;
            ClearErrorRecord();
            EXPECT_HR(E_FAIL, misc->Keygen(hash, 20, bad, D(salt), 0, &out));
            EXPECT_EQ(out, static_cast<IDispatch*>(&sentinel));
            EXPECT_EQ(sentinel.Refs(), 1);
            EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), kNotABlob, kMiscProgId, IID_IZELCryptoMisc));
        }
    }
    EXPECT_EQ(notABlob.Refs(), 1);
}

// Password and salt as blob doubles: locked once and unlocked once on every
// path, every reference given back; a failing GetBuffer of either ends the
// call with its HRESULT and no record.
TEST_F(MiscCrypto, KeygenBalancesPasswordAndSalt)
{
    LONG hash = 0, length = 0;
    const BalanceMember keygen{"Keygen", [&](IDispatch* password, IDispatch* salt, IDispatch** r) {
                                   return misc->Keygen(hash, length, password, salt, 96, r);
                               },
                               true, true, true};
    struct Case {
        LONG hash;
        LONG length;
        BalanceRow row;
    };
    const std::string password = "70617373";
    const std::string salt = "0102030405060708";
    const Case cases[] = {
        {2, 30, {"iterated", &keygen, {password}, {salt}, S_OK, nullptr}},
        {0, 30, {"expand seed", &keygen, {password}, {salt, S_OK, false, 0}, S_OK, nullptr}},
        {4, 30, {"unknown id", &keygen, {password}, {salt}, E_FAIL, L"Crypto System: Unsupported algorithm"}},
        {2, -5, {"negative length", &keygen, {password}, {salt}, E_UNEXPECTED, nullptr}},
        {2, 30, {"password GetBuffer fails", &keygen, {password, E_ACCESSDENIED}, {salt}, E_ACCESSDENIED, nullptr}},
        {2, 30, {"salt GetBuffer fails", &keygen, {password}, {salt, E_OUTOFMEMORY}, E_OUTOFMEMORY, nullptr}},
        {0, 30, {"salt GetBuffer fails, hash 0", &keygen, {password}, {salt, E_OUTOFMEMORY, false, 0}, S_OK, nullptr}},
    };
    for (const Case& c : cases) {
        hash = c.hash;
        length = c.length;
        RunBalanceRow(c.row, kMiscProgId);
    }
}

// One blob as password and salt at once.
TEST_F(MiscCrypto, KeygenOneBlobAsPasswordAndSalt)
{
    auto both = NewBlob(L"0102030405060708");
    const XBlob bytes = BytesOf(L"0102030405060708");
    EXPECT_EQ(Keygen(2, 20, D(both), D(both), 96), Wide(HexOf(S2KIterated(2, 20, bytes, bytes, 96))));
    EXPECT_EQ(HexOf(both.Get()), L"0102030405060708");
}

} // namespace
