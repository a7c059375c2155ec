// zelblob.dll through its vtables: the text and byte-array forms of a blob,
// malformed input, the buffer it shares with zelcrypto.dll, buffers that
// one DLL allocates and the other frees, and the second scripting interface
// (UTF-8 and URL-safe base64 text, Append, Slice, Equals) next to the first.
#include "support.h"

#include "tests/native/text_codecs_vectors.h"

#include <malloc.h>

#include <climits>
#include <vector>

using namespace zeltest;

namespace {

class BlobComponent : public testing::Test {
protected:
    void SetUp() override
    {
        blob = NewBlob();
        ClearErrorRecord();
    }

    std::wstring Get(HRESULT (STDMETHODCALLTYPE IZELBlobScript::*getter)(BSTR*))
    {
        BSTR text = nullptr;
        EXPECT_HR(S_OK, (blob.Get()->*getter)(&text));
        std::wstring result(text ? text : L"", text ? SysStringLen(text) : 0);
        SysFreeString(text);
        return result;
    }
    LONG Length()
    {
        LONG length = -1;
        EXPECT_HR(S_OK, blob->get_Length(&length));
        return length;
    }
    // The bytes as get_Bytes hands them out.
    std::vector<BYTE> Bytes()
    {
        VARIANT value;
        VariantInit(&value);
        EXPECT_HR(S_OK, blob->get_Bytes(&value));
        std::vector<BYTE> bytes;
        EXPECT_EQ(V_VT(&value), VT_ARRAY | VT_UI1);
        if (V_VT(&value) == (VT_ARRAY | VT_UI1)) {
            SAFEARRAY* array = V_ARRAY(&value);
            EXPECT_EQ(SafeArrayGetDim(array), 1u);
            LONG lower = 1, upper = 0;
            SafeArrayGetLBound(array, 1, &lower);
            SafeArrayGetUBound(array, 1, &upper);
            EXPECT_EQ(lower, 0);
            for (LONG i = lower; i <= upper; ++i) {
                BYTE b = 0;
                SafeArrayGetElement(array, &i, &b);
                bytes.push_back(b);
            }
        }
        VariantClear(&value);
        return bytes;
    }
    // A put that must fail with E_INVALIDARG, a description, the blob's
    // ProgID and interface, and leave the bytes as they were.
    void ExpectRefused(HRESULT hr)
    {
        const std::wstring before = HexOf(blob.Get());
        EXPECT_HR(E_INVALIDARG, hr);
        const ErrorRecord record = TakeErrorRecord();
        ASSERT_TRUE(record.present);
        EXPECT_NE(record.description, L"");
        EXPECT_EQ(record.source, kBlobProgId);
        EXPECT_TRUE(IsEqualGUID(record.guid, IID_IZELBlobScript)) << GuidText(record.guid);
        EXPECT_EQ(HexOf(blob.Get()), before);
    }

    ComPtr<IZELBlobScript> blob;
};

TEST_F(BlobComponent, HexInAndOut)
{
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    };
    const Case cases[] = {
        {L"", L""},
        {L"00ff10", L"00ff10"},
        {L"DEADbeef", L"deadbeef"},
        {L" de ad\r\n be\tef ", L"deadbeef"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.in));
        ASSERT_HR(S_OK, blob->put_Hex(Bstr(c.in)));
        EXPECT_EQ(Get(&IZELBlobScript::get_Hex), c.out);
        EXPECT_EQ(Length(), LONG(wcslen(c.out) / 2));
    }
    // A null BSTR is the empty text.
    ASSERT_HR(S_OK, blob->put_Hex(nullptr));
    EXPECT_EQ(Length(), 0);
}

TEST_F(BlobComponent, MalformedHexIsRefused)
{
    ASSERT_HR(S_OK, blob->put_Hex(Bstr(L"0102")));
    for (const wchar_t* bad : {L"abc", L"0x12", L"zz", L"12 3", L"12-34", L"\u00e9e"}) {
        SCOPED_TRACE(Narrow(bad));
        ExpectRefused(blob->put_Hex(Bstr(bad)));
    }
}

TEST_F(BlobComponent, Base64InAndOut)
{
    struct Case {
        const wchar_t* hex;
        const wchar_t* base64;
    };
    const Case cases[] = {
        {L"", L""},
        {L"66", L"Zg=="},
        {L"666f", L"Zm8="},
        {L"666f6f", L"Zm9v"},
        {L"666f6f62", L"Zm9vYg=="},
        {L"fbff", L"+/8="},
        {L"000102030405060708090a0b0c0d0e0f", L"AAECAwQFBgcICQoLDA0ODw=="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.hex));
        ASSERT_HR(S_OK, blob->put_Hex(Bstr(c.hex)));
        EXPECT_EQ(Get(&IZELBlobScript::get_Base64), c.base64);
        ASSERT_HR(S_OK, blob->put_Base64(Bstr(L"")));
        ASSERT_HR(S_OK, blob->put_Base64(Bstr(c.base64)));
        EXPECT_EQ(HexOf(blob.Get()), c.hex);
    }
    // Padding may be left out, and line breaks are skipped.
    ASSERT_HR(S_OK, blob->put_Base64(Bstr(L"Zm9v\r\nYg")));
    EXPECT_EQ(HexOf(blob.Get()), L"666f6f62");
}

TEST_F(BlobComponent, MalformedBase64IsRefused)
{
    ASSERT_HR(S_OK, blob->put_Hex(Bstr(L"0102")));
    for (const wchar_t* bad : {L"Z", L"Zm9vY", L"Zg=", L"=Zg", L"Z===", L"Zg==Zg==", L"Zm9v!", L"Zm-v"}) {
        SCOPED_TRACE(Narrow(bad));
        ExpectRefused(blob->put_Base64(Bstr(bad)));
    }
}

TEST_F(BlobComponent, TextInAndOut)
{
    ASSERT_HR(S_OK, blob->put_Text(Bstr(L"Hi there")));
    EXPECT_EQ(HexOf(blob.Get()), L"4869207468657265");
    EXPECT_EQ(Get(&IZELBlobScript::get_Text), L"Hi there");

    // Every byte counts, a zero byte as well.
    const wchar_t withZero[] = {L'A', L'\0', L'B'};
    ASSERT_HR(S_OK, blob->put_Text(Bstr(withZero, 3)));
    EXPECT_EQ(HexOf(blob.Get()), L"410042");
    EXPECT_EQ(Get(&IZELBlobScript::get_Text), std::wstring(withZero, 3));

    // A character of the ANSI code page makes the round trip.
    ASSERT_HR(S_OK, blob->put_Text(Bstr(L"caf\u00e9")));
    EXPECT_EQ(Get(&IZELBlobScript::get_Text), L"caf\u00e9");

    ASSERT_HR(S_OK, blob->put_Text(nullptr));
    EXPECT_EQ(Length(), 0);
    EXPECT_EQ(Get(&IZELBlobScript::get_Text), L"");
}

TEST_F(BlobComponent, BytesOut)
{
    EXPECT_TRUE(Bytes().empty());
    ASSERT_HR(S_OK, blob->put_Hex(Bstr(L"00017f80ff")));
    EXPECT_EQ(Bytes(), (std::vector<BYTE>{0x00, 0x01, 0x7f, 0x80, 0xff}));
}

// Byte arrays in every form a script or a component hands them over.
TEST_F(BlobComponent, BytesIn)
{
    SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, 3);
    ASSERT_TRUE(bytes);
    for (LONG i = 0; i < 3; ++i) {
        BYTE b = BYTE(0xa0 + i);
        SafeArrayPutElement(bytes, &i, &b);
    }
    VARIANT plain;
    VariantInit(&plain);
    V_VT(&plain) = VT_ARRAY | VT_UI1;
    V_ARRAY(&plain) = bytes;

    ASSERT_HR(S_OK, blob->put_Bytes(plain));
    EXPECT_EQ(HexOf(blob.Get()), L"a0a1a2");

    ASSERT_HR(S_OK, blob->Clear());
    VARIANT arrayRef;
    VariantInit(&arrayRef);
    V_VT(&arrayRef) = VT_BYREF | VT_ARRAY | VT_UI1;
    V_ARRAYREF(&arrayRef) = &bytes;
    ASSERT_HR(S_OK, blob->put_Bytes(arrayRef));
    EXPECT_EQ(HexOf(blob.Get()), L"a0a1a2");

    ASSERT_HR(S_OK, blob->Clear());
    VARIANT variantRef;
    VariantInit(&variantRef);
    V_VT(&variantRef) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&variantRef) = &plain;
    ASSERT_HR(S_OK, blob->put_Bytes(variantRef));
    EXPECT_EQ(HexOf(blob.Get()), L"a0a1a2");

    // An array that does not start at 0 gives all of its bytes.
    SAFEARRAYBOUND bound{2, 5};
    SAFEARRAY* shifted = SafeArrayCreate(VT_UI1, 1, &bound);
    ASSERT_TRUE(shifted);
    for (LONG i = 5; i < 7; ++i) {
        BYTE b = BYTE(i);
        SafeArrayPutElement(shifted, &i, &b);
    }
    VARIANT shiftedValue;
    VariantInit(&shiftedValue);
    V_VT(&shiftedValue) = VT_ARRAY | VT_UI1;
    V_ARRAY(&shiftedValue) = shifted;
    ASSERT_HR(S_OK, blob->put_Bytes(shiftedValue));
    EXPECT_EQ(HexOf(blob.Get()), L"0506");

    // Empty and Null clear the blob.
    for (VARTYPE type : {VARTYPE(VT_EMPTY), VARTYPE(VT_NULL)}) {
        ASSERT_HR(S_OK, blob->put_Hex(Bstr(L"01")));
        VARIANT nothing;
        VariantInit(&nothing);
        V_VT(&nothing) = type;
        ASSERT_HR(S_OK, blob->put_Bytes(nothing));
        EXPECT_EQ(Length(), 0);
    }

    VariantClear(&plain);
    VariantClear(&shiftedValue);
}

// A script's own array (VBScript Array(...)): VARIANTs holding numbers 0..255.
TEST_F(BlobComponent, BytesFromAnArrayOfNumbers)
{
    auto numbers = [](std::vector<VARIANT> items) {
        SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(items.size()));
        for (LONG i = 0; i < LONG(items.size()); ++i) {
            SafeArrayPutElement(array, &i, &items[size_t(i)]);
            VariantClear(&items[size_t(i)]);
        }
        VARIANT value;
        VariantInit(&value);
        V_VT(&value) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(&value) = array;
        return value;
    };
    auto i4 = [](LONG n) {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_I4;
        V_I4(&v) = n;
        return v;
    };
    auto i2 = [](SHORT n) {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_I2;
        V_I2(&v) = n;
        return v;
    };

    VARIANT good = numbers({i2(0), i4(1), i2(127), i4(128), i4(255)});
    ASSERT_HR(S_OK, blob->put_Bytes(good));
    EXPECT_EQ(HexOf(blob.Get()), L"00017f80ff");
    VariantClear(&good);

    for (LONG out : {LONG(256), LONG(-1), LONG(1000)}) {
        SCOPED_TRACE(out);
        VARIANT bad = numbers({i4(1), i4(out)});
        ExpectRefused(blob->put_Bytes(bad));
        VariantClear(&bad);
    }
    VARIANT word;
    VariantInit(&word);
    V_VT(&word) = VT_BSTR;
    V_BSTR(&word) = SysAllocString(L"many");
    VARIANT notANumber = numbers({i4(1), word});
    ExpectRefused(blob->put_Bytes(notANumber));
    VariantClear(&notANumber);
}

TEST_F(BlobComponent, BytesRefusesWhatIsNoByteArray)
{
    ASSERT_HR(S_OK, blob->put_Hex(Bstr(L"0102")));

    VARIANT number;
    VariantInit(&number);
    V_VT(&number) = VT_I4;
    V_I4(&number) = 7;
    ExpectRefused(blob->put_Bytes(number));

    VARIANT text;
    VariantInit(&text);
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = SysAllocString(L"0304");
    ExpectRefused(blob->put_Bytes(text));
    VariantClear(&text);

    VARIANT longs;
    VariantInit(&longs);
    V_VT(&longs) = VT_ARRAY | VT_I4;
    V_ARRAY(&longs) = SafeArrayCreateVector(VT_I4, 0, 2);
    ExpectRefused(blob->put_Bytes(longs));
    VariantClear(&longs);

    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    VARIANT square;
    VariantInit(&square);
    V_VT(&square) = VT_ARRAY | VT_UI1;
    V_ARRAY(&square) = SafeArrayCreate(VT_UI1, 2, bounds);
    ExpectRefused(blob->put_Bytes(square));
    VariantClear(&square);
}

TEST_F(BlobComponent, LengthAndClear)
{
    EXPECT_EQ(Length(), 0);
    ASSERT_HR(S_OK, blob->put_Hex(Bstr(L"0102030405")));
    EXPECT_EQ(Length(), 5);
    ASSERT_HR(S_OK, blob->Clear());
    EXPECT_EQ(Length(), 0);
    EXPECT_EQ(Get(&IZELBlobScript::get_Hex), L"");
    EXPECT_HR(E_POINTER, blob->get_Length(nullptr));
    EXPECT_HR(E_POINTER, blob->get_Hex(nullptr));
}

// IZELBlob hands out the very XBlob the scripting interface shows, at one
// address for the object's life; changes made through it show at once.
TEST_F(BlobComponent, BufferIsSharedInPlace)
{
    auto buffer = blob.As<IZELBlob>(IID_IZELBlob);
    ASSERT_TRUE(buffer);
    EXPECT_HR(E_POINTER, buffer->GetBuffer(nullptr));

    XBlob* bytes = nullptr;
    ASSERT_HR(S_OK, buffer->GetBuffer(&bytes));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->Length(), 0u);

    ASSERT_HR(S_OK, blob->put_Hex(Bstr(L"a1a2")));
    XBlob* again = nullptr;
    ASSERT_HR(S_OK, buffer->GetBuffer(&again));
    EXPECT_EQ(again, bytes);
    EXPECT_EQ(HexOf(*bytes), "a1a2");

    // Lock and Unlock nest (one blob may be two arguments of one call).
    EXPECT_HR(S_OK, buffer->Lock());
    EXPECT_HR(S_OK, buffer->Lock());
    bytes->AppendLong(0x01020304);
    EXPECT_HR(S_OK, buffer->Unlock());
    EXPECT_HR(S_OK, buffer->Unlock());
    EXPECT_EQ(HexOf(blob.Get()), L"a1a201020304");
    EXPECT_EQ(Length(), 6);

    // The blob is also the IDispatch scripts hold.
    auto dispatch = blob.As<IDispatch>(IID_IDispatch);
    EXPECT_EQ(dispatch.Get(), static_cast<IDispatch*>(blob.Get()));
    auto support = blob.As<ISupportErrorInfo>(IID_ISupportErrorInfo);
    ASSERT_TRUE(support);
    EXPECT_HR(S_OK, support->InterfaceSupportsErrorInfo(IID_IZELBlobScript));
}

// The arrays of a blob's buffer come from the C runtime heap that both DLLs
// (and this program) share: an array grown by zelcrypto.dll or by this
// program is later grown again and freed by zelblob.dll, and the other way
// round.
TEST_F(BlobComponent, BuffersMoveBetweenModules)
{
    auto misc = NewMisc();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        auto target = NewBlob(L"ff");
        // zelcrypto.dll grows the array zelblob.dll allocated, many times.
        for (LONG i = 0; i < 500; ++i)
            ASSERT_HR(S_OK, misc->InsertLongToBlob(target.Get(), 0, i));
        LONG length = 0;
        ASSERT_HR(S_OK, target->get_Length(&length));
        EXPECT_EQ(length, 2001);

        // The array zelcrypto.dll installed is a block of this program's heap.
        auto buffer = target.As<IZELBlob>(IID_IZELBlob);
        XBlob* bytes = nullptr;
        ASSERT_HR(S_OK, buffer->GetBuffer(&bytes));
        EXPECT_GE(_msize(bytes->Data()), size_t(bytes->Capacity()));

        // This program grows it through IZELBlob.
        buffer->Lock();
        for (int i = 0; i < 3000; ++i)
            bytes->AppendByte(uint8_t(i));
        buffer->Unlock();

        // zelblob.dll replaces the contents with a longer text, growing it again.
        std::wstring hex(20000, L'a');
        ASSERT_HR(S_OK, target->put_Hex(Bstr(hex.c_str())));
        ASSERT_HR(S_OK, target->get_Length(&length));
        EXPECT_EQ(length, 10000);
        EXPECT_GE(_msize(bytes->Data()), size_t(bytes->Capacity()));

        // A blob whose array zelcrypto.dll allocated last is freed by zelblob.dll.
        auto other = NewBlob();
        for (LONG i = 0; i < 100; ++i)
            ASSERT_HR(S_OK, misc->InsertBlobToBlob(other.Get(), 0, target.Get()));
    }
    EXPECT_EQ(_heapchk(), _HEAPOK);
}

// ---------------------------------------------------------------------------
// IZELBlobScript2

ComPtr<IZELBlobScript2> NewBlob2(const std::wstring& hex = L"")
{
    auto blob = NewBlob(hex).As<IZELBlobScript2>(IID_IZELBlobScript2);
    EXPECT_TRUE(blob);
    return blob;
}

// One object answers both scripting interfaces with one pointer: the new
// interface's vtable begins with the old one's, so a client built against
// either calls the same members.  Late binding sees every member, old ones
// under their old DISPIDs.
TEST(BlobInterfaces, OneObjectAnswersBothScriptingInterfaces)
{
    ComPtr<IZELBlobScript2> blob;
    ASSERT_HR(S_OK, CoCreateInstance(CLSID_ZELBlob, nullptr, CLSCTX_INPROC_SERVER, IID_IZELBlobScript2,
                                     blob.OutVoid()));
    ASSERT_TRUE(blob);
    auto old = blob.As<IZELBlobScript>(IID_IZELBlobScript);
    auto dispatch = blob.As<IDispatch>(IID_IDispatch);
    ASSERT_TRUE(old);
    ASSERT_TRUE(dispatch);
    EXPECT_EQ(static_cast<void*>(old.Get()), static_cast<void*>(blob.Get()));
    EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(blob.Get()));
    EXPECT_TRUE(old.As<IZELBlobScript2>(IID_IZELBlobScript2));

    // A put through the old interface shows through the new one and back.
    ASSERT_HR(S_OK, old->put_Hex(Bstr(L"fbff")));
    BSTR text = nullptr;
    ASSERT_HR(S_OK, blob->get_Base64Url(&text));
    EXPECT_EQ(std::wstring(text ? text : L""), L"-_8");
    SysFreeString(text);
    ASSERT_HR(S_OK, blob->put_Utf8(Bstr(L"Hi")));
    EXPECT_EQ(HexOf(old.Get()), L"4869");
    LONG length = 0;
    ASSERT_HR(S_OK, blob->get_Length(&length));
    EXPECT_EQ(length, 2);

    auto support = blob.As<ISupportErrorInfo>(IID_ISupportErrorInfo);
    ASSERT_TRUE(support);
    EXPECT_HR(S_OK, support->InterfaceSupportsErrorInfo(IID_IZELBlobScript));
    EXPECT_HR(S_OK, support->InterfaceSupportsErrorInfo(IID_IZELBlobScript2));
    EXPECT_HR(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IZELBlob));

    // The type information a host reads from the object is the new interface's.
    ComPtr<ITypeInfo> info;
    ASSERT_HR(S_OK, dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Out()));
    TYPEATTR* attr = nullptr;
    ASSERT_HR(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(GuidText(attr->guid), GuidText(IID_IZELBlobScript2));
    info->ReleaseTypeAttr(attr);

    ExpectIds(dispatch.Get(), {{L"Hex", 1}, {L"Base64", 2}, {L"Text", 3}, {L"Bytes", 4}, {L"Length", 5},
                               {L"Clear", 6}, {L"Utf8", 7}, {L"Base64Url", 8}, {L"Append", 9}, {L"Slice", 10},
                               {L"Equals", 11}});
}

class BlobScript2 : public testing::Test {
protected:
    void SetUp() override
    {
        blob = NewBlob2();
        ASSERT_TRUE(blob);
        ClearErrorRecord();
    }

    std::wstring Get(HRESULT (STDMETHODCALLTYPE IZELBlobScript2::*getter)(BSTR*))
    {
        BSTR text = nullptr;
        EXPECT_HR(S_OK, (blob.Get()->*getter)(&text));
        std::wstring result(text ? text : L"", text ? SysStringLen(text) : 0);
        SysFreeString(text);
        return result;
    }

    // A call refused with E_INVALIDARG and a record of the new interface
    // with this description, the blob's bytes as they were.
    void ExpectRefused(const std::wstring& before, HRESULT hr, const std::wstring& description)
    {
        EXPECT_HR(E_INVALIDARG, hr);
        EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), description, kBlobProgId, IID_IZELBlobScript2));
        EXPECT_EQ(HexOf(blob.Get()), before);
    }

    ComPtr<IZELBlobScript2> blob;
};

// Texts a script holds, to UTF-8 bytes and back: Cyrillic, Japanese, a
// character beyond U+FFFF (a surrogate pair in the BSTR, four bytes), a
// NUL, a byte order mark, nothing.
TEST_F(BlobScript2, Utf8RoundTrips)
{
    struct Case {
        const char* what;
        std::wstring text;
        const wchar_t* hex;
    };
    const Case cases[] = {
        {"Russian", L"\u041f\u0440\u0438\u0432\u0435\u0442", L"d09fd180d0b8d0b2d0b5d182"},
        {"Japanese", L"\u65e5\u672c\u8a9e", L"e697a5e69cace8aa9e"},
        {"emoji U+1F600", L"\xd83d\xde00", L"f09f9880"},
        {"ASCII, accents, euro, G clef", L"a\u00e9\u20ac\xd834\xdd1e", L"61c3a9e282acf09d849e"},
        {"NUL inside", std::wstring(L"a\0b", 3), L"610062"},
        {"byte order mark kept", L"\ufeff" L"A", L"efbbbf41"},
        {"empty", L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_HR(S_OK, blob->put_Hex(Bstr(L"ff")));
        ASSERT_HR(S_OK, blob->put_Utf8(Bstr(c.text.data(), UINT(c.text.size()))));
        EXPECT_EQ(HexOf(blob.Get()), c.hex);
        ASSERT_HR(S_OK, blob->put_Hex(Bstr(c.hex)));
        EXPECT_EQ(Get(&IZELBlobScript2::get_Utf8), c.text);
    }
    ASSERT_HR(S_OK, blob->put_Hex(Bstr(L"ff")));
    ASSERT_HR(S_OK, blob->put_Utf8(nullptr));
    EXPECT_EQ(HexOf(blob.Get()), L"");
}

// Bytes that are not UTF-8 have no UTF-8 text; the record says where the
// bad sequence starts (bytes count from 0).
TEST_F(BlobScript2, Utf8OfBytesThatAreNotUtf8IsRefused)
{
    struct Case {
        const char* what;
        const wchar_t* hex;
        int at;
    };
    const Case cases[] = {
        {"stray continuation byte", L"48656c6c6f80", 5},
        {"overlong '/'", L"c0af", 0},
        {"overlong three-byte NUL", L"41e08080", 1},
        {"encoded surrogate D800", L"eda080", 0},
        {"above U+10FFFF", L"f4908080", 0},
        {"lead byte FF", L"d09fff", 2},
        {"cut short by the end", L"6162e282", 2},
        {"cut short by ASCII", L"c241", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_HR(S_OK, blob->put_Hex(Bstr(c.hex)));
        ClearErrorRecord();
        BSTR text = SysAllocString(L"sentinel");
        BSTR sentinel = text;
        ExpectRefused(c.hex, blob->get_Utf8(&text), L"Invalid UTF-8 at byte " + std::to_wstring(c.at));
        EXPECT_EQ(text, nullptr);
        SysFreeString(sentinel);
    }
    EXPECT_HR(E_POINTER, blob->get_Utf8(nullptr));
}

TEST_F(BlobScript2, Utf8PutRefusesUnpairedSurrogates)
{
    struct Case {
        const char* what;
        std::wstring text;
        int at;
    };
    const Case cases[] = {
        {"high surrogate at the end", L"ab\xd83d", 3},
        {"high surrogate before a letter", L"\xd83d" L"A", 1},
        {"low surrogate alone", L"x\xde00", 2},
        {"after a good pair", L"\xd83d\xde00\xdc00", 3},
    };
    ASSERT_HR(S_OK, blob->put_Hex(Bstr(L"cafe")));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectRefused(L"cafe", blob->put_Utf8(Bstr(c.text.data(), UINT(c.text.size()))),
                      L"Invalid UTF-16 at character " + std::to_wstring(c.at));
    }
}

// Against base64.urlsafe_b64encode (the vectors the native tests use):
// unpadded out; unpadded and padded in.
TEST_F(BlobScript2, Base64UrlMatchesPython)
{
    for (const auto& v : text_codecs_vectors::kBase64Url) {
        SCOPED_TRACE(v.hex);
        const std::wstring hex = Wide(v.hex);
        ASSERT_HR(S_OK, blob->put_Hex(Bstr(hex.c_str())));
        EXPECT_EQ(Get(&IZELBlobScript2::get_Base64Url), Wide(v.unpadded));
        for (const char* text : {v.unpadded, v.padded}) {
            ASSERT_HR(S_OK, blob->put_Hex(Bstr(L"ff")));
            ASSERT_HR(S_OK, blob->put_Base64Url(Bstr(Wide(text).c_str()))) << text;
            EXPECT_EQ(HexOf(blob.Get()), hex) << text;
        }
    }
}

TEST_F(BlobScript2, MalformedBase64UrlIsRefused)
{
    struct Case {
        const wchar_t* text;
        const wchar_t* description;
    };
    const Case cases[] = {
        {L"Zm9v+w", L"Base64Url text has a character outside the base64url alphabet at position 5"},
        {L"Zm9v/w", L"Base64Url text has a character outside the base64url alphabet at position 5"},
        {L"Zm9v Yg", L"Base64Url text has a character outside the base64url alphabet at position 5"},
        {L"Zm9v\r\nYg", L"Base64Url text has a character outside the base64url alphabet at position 5"},
        {L"Zm9vY", L"Base64Url text ends with a single digit in its last group"},
        {L"Zg=", L"Base64Url text has incomplete '=' padding"},
        {L"Zm8==", L"Base64Url text has a misplaced '=' at position 5"},
        {L"Zg==Zg", L"Base64Url text goes on after its '=' padding at position 5"},
    };
    ASSERT_HR(S_OK, blob->put_Hex(Bstr(L"cafe")));
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.text));
        ExpectRefused(L"cafe", blob->put_Base64Url(Bstr(c.text)), c.description);
    }
    // Base64, for its part, still takes the text Base64Url refuses for its blanks.
    ASSERT_HR(S_OK, blob->put_Base64(Bstr(L"Zm9v Yg")));
    EXPECT_EQ(HexOf(blob.Get()), L"666f6f62");
}

TEST_F(BlobScript2, AppendAddsTheOtherBlobsBytes)
{
    struct Case {
        const wchar_t* target;
        const wchar_t* other;
        const wchar_t* after;
    };
    const Case cases[] = {
        {L"0102", L"0304", L"01020304"},
        {L"", L"0304", L"0304"},
        {L"0102", L"", L"0102"},
        {L"", L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.target) + " + " + Narrow(c.other));
        auto target = NewBlob2(c.target);
        auto other = NewBlob(c.other);
        ASSERT_HR(S_OK, target->Append(other.Get()));
        EXPECT_EQ(HexOf(target.Get()), c.after);
        EXPECT_EQ(HexOf(other.Get()), c.other);
    }

    // A blob appended to itself doubles, also when that outgrows its array.
    for (const std::wstring& hex : {std::wstring(L""), std::wstring(L"0a0b0c"), Seq(0, 1000)}) {
        SCOPED_TRACE(hex.size() / 2);
        auto self = NewBlob2(hex);
        ASSERT_HR(S_OK, self->Append(self.Get()));
        EXPECT_EQ(HexOf(self.Get()), hex + hex);
    }

    // Nothing, or an object that is no blob: refused, no change.
    ASSERT_HR(S_OK, blob->put_Hex(Bstr(L"cafe")));
    FakeDispatch notABlob;
    for (IDispatch* bad : {static_cast<IDispatch*>(nullptr), static_cast<IDispatch*>(&notABlob)}) {
        ExpectRefused(L"cafe", blob->Append(bad), L"Append takes a blob");
    }
    EXPECT_EQ(notABlob.Refs(), 1);
}

TEST_F(BlobScript2, SliceCutsANewBlob)
{
    struct Case {
        LONG start;
        LONG length;
        const wchar_t* hex; // null: refused with `refusal`
        const wchar_t* refusal;
    };
    const wchar_t* kPastEnd = L"Slice goes past the end of the blob's 5 bytes";
    const wchar_t* kNegative = L"Slice takes a start and a length of 0 or more";
    const Case cases[] = {
        {0, 5, L"0102030405", nullptr},
        {1, 3, L"020304", nullptr},
        {4, 1, L"05", nullptr},
        {0, 0, L"", nullptr},
        {5, 0, L"", nullptr},
        {2, 0, L"", nullptr},
        {-1, 1, nullptr, kNegative},
        {0, -1, nullptr, kNegative},
        {LONG_MIN, 0, nullptr, kNegative},
        {0, 6, nullptr, kPastEnd},
        {5, 1, nullptr, kPastEnd},
        {6, 0, nullptr, kPastEnd},
        {3, 3, nullptr, kPastEnd},
        {1, LONG_MAX, nullptr, kPastEnd},
        {LONG_MAX, LONG_MAX, nullptr, kPastEnd},
    };
    ASSERT_HR(S_OK, blob->put_Hex(Bstr(L"0102030405")));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.start) + ", " + std::to_string(c.length));
        FakeDispatch sentinel;
        IDispatch* out = &sentinel;
        const HRESULT hr = blob->Slice(c.start, c.length, &out);
        auto slice = ComPtr<IDispatch>::Attach(out == &sentinel ? nullptr : out);
        if (c.hex) {
            ASSERT_HR(S_OK, hr);
            ASSERT_TRUE(slice);
            EXPECT_EQ(HexOf(slice.Get()), c.hex);
            EXPECT_FALSE(TakeErrorRecord().present);
        } else {
            ExpectRefused(L"0102030405", hr, c.refusal);
            EXPECT_EQ(out, nullptr);
        }
        EXPECT_EQ(sentinel.Refs(), 1);
    }

    // The slice is a blob of its own, of the same class: it answers both
    // interfaces, changes apart from its source, and its refusals name the
    // blob class.
    IDispatch* out = nullptr;
    ASSERT_HR(S_OK, blob->Slice(1, 2, &out));
    auto slice = ComPtr<IDispatch>::Attach(out);
    auto slice2 = slice.As<IZELBlobScript2>(IID_IZELBlobScript2);
    ASSERT_TRUE(slice2);
    EXPECT_NE(static_cast<void*>(slice2.Get()), static_cast<void*>(blob.Get()));
    ASSERT_HR(S_OK, slice2->put_Hex(Bstr(L"ffff")));
    EXPECT_EQ(HexOf(blob.Get()), L"0102030405");
    ASSERT_HR(S_OK, blob->Clear());
    EXPECT_EQ(HexOf(slice2.Get()), L"ffff");
    EXPECT_HR(E_INVALIDARG, slice2->put_Hex(Bstr(L"f")));
    EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), L"Hex text has an odd number of digits", kBlobProgId,
                               IID_IZELBlobScript));
    // zelcrypto.dll takes it as any blob.
    IDispatch* digest = nullptr;
    ASSERT_HR(S_OK, NewMisc()->SHA1(slice.Get(), &digest));
    // hashlib.sha1(b"\xff\xff") in Python.
    EXPECT_EQ(HexOf(digest), L"a19f987b885f5a96069f4bc7f12b9e84ceba7dfa");
    digest->Release();

    EXPECT_HR(E_POINTER, blob->Slice(0, 0, nullptr));
}

TEST_F(BlobScript2, EqualsComparesBytes)
{
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
        bool equal;
    };
    const Case cases[] = {
        {L"", L"", true},
        {L"0102030405", L"0102030405", true},
        {L"0102030405", L"ff02030405", false},
        {L"0102030405", L"0102030406", false},
        {L"0102030405", L"0102038405", false},
        {L"0102030405", L"01020304", false},
        {L"01020304", L"0102030405", false},
        {L"", L"00", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.a) + " = " + Narrow(c.b));
        auto a = NewBlob2(c.a);
        auto b = NewBlob2(c.b);
        VARIANT_BOOL result = 7;
        ASSERT_HR(S_OK, a->Equals(b.Get(), &result));
        EXPECT_EQ(result, c.equal ? VARIANT_TRUE : VARIANT_FALSE);
        ASSERT_HR(S_OK, b->Equals(a.Get(), &result));
        EXPECT_EQ(result, c.equal ? VARIANT_TRUE : VARIANT_FALSE);
        EXPECT_EQ(HexOf(a.Get()), c.a);
        EXPECT_EQ(HexOf(b.Get()), c.b);
    }

    ASSERT_HR(S_OK, blob->put_Hex(Bstr(L"cafe")));
    VARIANT_BOOL result = 7;
    ASSERT_HR(S_OK, blob->Equals(blob.Get(), &result));
    EXPECT_EQ(result, VARIANT_TRUE) << "a blob equals itself";

    FakeDispatch notABlob;
    for (IDispatch* bad : {static_cast<IDispatch*>(nullptr), static_cast<IDispatch*>(&notABlob)}) {
        result = 7;
        ExpectRefused(L"cafe", blob->Equals(bad, &result), L"Equals takes a blob");
        EXPECT_EQ(result, VARIANT_FALSE);
    }
    EXPECT_EQ(notABlob.Refs(), 1);
    EXPECT_HR(E_POINTER, blob->Equals(blob.Get(), nullptr));
}

// The blob arguments of Append and Equals are taken as zelcrypto.dll's
// methods take theirs: locked once while their buffer is used, unlocked and
// released on every path, a buffer that cannot be had failing the call
// without a record (a stale one is cleared).
TEST_F(BlobScript2, BlobArgumentsAreLockedAndGivenBack)
{
    ComPtr<IZELBlobScript2> target;
    VARIANT_BOOL equal = VARIANT_FALSE;
    const BalanceMember append{"Append", [&](IDispatch* other, IDispatch*, IDispatch**) {
                                   return target->Append(other);
                               }};
    const BalanceMember equals{"Equals", [&](IDispatch* other, IDispatch*, IDispatch**) {
                                   return target->Equals(other, &equal);
                               }};
    struct Row {
        BalanceRow row;
        const wchar_t* targetAfter;
        VARIANT_BOOL equal;
    };
    const Row rows[] = {
        {{"Append: a blob", &append, {"0304"}, {}, S_OK, nullptr}, L"01020304", VARIANT_FALSE},
        {{"Append: an empty blob", &append, {""}, {}, S_OK, nullptr}, L"0102", VARIANT_FALSE},
        {{"Append: GetBuffer fails", &append, {"0304", E_FAIL}, {}, E_FAIL, nullptr}, L"0102", VARIANT_FALSE},
        {{"Append: no buffer", &append, {"0304", S_OK, true}, {}, E_POINTER, nullptr}, L"0102", VARIANT_FALSE},
        {{"Equals: same bytes", &equals, {"0102"}, {}, S_OK, nullptr}, L"0102", VARIANT_TRUE},
        {{"Equals: other bytes", &equals, {"0103"}, {}, S_OK, nullptr}, L"0102", VARIANT_FALSE},
        {{"Equals: GetBuffer fails", &equals, {"0102", E_ACCESSDENIED}, {}, E_ACCESSDENIED, nullptr}, L"0102",
         VARIANT_FALSE},
        {{"Equals: no buffer", &equals, {"0102", S_OK, true}, {}, E_POINTER, nullptr}, L"0102", VARIANT_FALSE},
    };
    for (const Row& r : rows) {
        target = NewBlob2(L"0102");
        equal = 7;
        RunBalanceRow(r.row, kBlobProgId);
        EXPECT_EQ(HexOf(target.Get()), r.targetAfter) << r.row.name;
        if (r.row.member == &equals) {
            EXPECT_EQ(equal, r.equal) << r.row.name;
        }
    }
}

// Late binding, as a script calls: positional VT_I2 numbers (VBScript's
// small literals), an object argument, a Boolean result, a property put, and
// a refusal as the exception a script host shows.
TEST_F(BlobScript2, LateBoundAsScriptsCall)
{
    auto dispatch = blob.As<IDispatch>(IID_IDispatch);
    Bstr word(L"\u041f\u0440\u0438\u0432\u0435\u0442");
    {
        Invoked put;
        Invoke(dispatch.Get(), L"Utf8", DISPATCH_PROPERTYPUT, {StringArg(word)}, put);
        ASSERT_HR(S_OK, put.hr);
        EXPECT_EQ(HexOf(blob.Get()), L"d09fd180d0b8d0b2d0b5d182");
    }
    Invoked slice;
    Invoke(dispatch.Get(), L"Slice", DISPATCH_METHOD, {ShortArg(2), ShortArg(4)}, slice);
    ASSERT_HR(S_OK, slice.hr);
    ASSERT_EQ(V_VT(&slice.result), VT_DISPATCH);
    EXPECT_EQ(HexOf(V_DISPATCH(&slice.result)), L"d180d0b8");
    {
        Invoked equals;
        auto same = NewBlob(L"d180d0b8");
        Invoke(dispatch.Get(), L"Equals", DISPATCH_METHOD, {ObjectArg(same.Get())}, equals);
        ASSERT_HR(S_OK, equals.hr);
        ASSERT_EQ(V_VT(&equals.result), VT_BOOL);
        EXPECT_EQ(V_BOOL(&equals.result), VARIANT_FALSE);
        Invoked equalsSlice;
        Invoke(V_DISPATCH(&slice.result), L"Equals", DISPATCH_METHOD, {ObjectArg(same.Get())}, equalsSlice);
        ASSERT_HR(S_OK, equalsSlice.hr);
        EXPECT_EQ(V_BOOL(&equalsSlice.result), VARIANT_TRUE);
    }
    {
        Invoked append;
        Invoke(dispatch.Get(), L"Append", DISPATCH_METHOD, {ObjectArg(V_DISPATCH(&slice.result))}, append);
        ASSERT_HR(S_OK, append.hr);
        Invoked get;
        Invoke(dispatch.Get(), L"Utf8", DISPATCH_PROPERTYGET, {}, get);
        ASSERT_HR(S_OK, get.hr);
        ASSERT_EQ(V_VT(&get.result), VT_BSTR);
        EXPECT_EQ(std::wstring(V_BSTR(&get.result)), L"\u041f\u0440\u0438\u0432\u0435\u0442\u0440\u0438");
    }
    {
        Invoked refused;
        Invoke(dispatch.Get(), L"Slice", DISPATCH_METHOD, {ShortArg(0), ShortArg(99)}, refused);
        EXPECT_HR(DISP_E_EXCEPTION, refused.hr);
        EXPECT_HR(E_INVALIDARG, refused.scode);
        EXPECT_EQ(refused.description, L"Slice goes past the end of the blob's 16 bytes");
        EXPECT_EQ(refused.source, kBlobProgId);
    }
}

} // namespace
