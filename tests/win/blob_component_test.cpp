// zelblob.dll through its vtables: the text and byte-array forms of a blob,
// malformed input, the buffer it shares with zelcrypto.dll, and buffers that
// one DLL allocates and the other frees.
#include "support.h"

#include <malloc.h>

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

} // namespace
