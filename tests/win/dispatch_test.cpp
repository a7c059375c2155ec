// Late-bound calls, the way script hosts make them: GetIDsOfNames and Invoke
// on the Misc object and on blobs, with the argument types scripts really
// pass, the exception information of failing calls, "Set obj.Prop = x" on
// put-only properties and by-reference VARIANT arguments.
//
// The argument coercion is Wine's type-library Invoke; the expectations below
// are what it does (Wine 8), checked where the server's behaviour depends on it.
#include "support.h"

#include <cwctype>
#include <string>
#include <vector>

using namespace zeltest;

namespace {

// A VARIANT that owns its contents.
class Var {
public:
    Var() { VariantInit(&v_); }
    Var(const Var& other) : Var() { VariantCopy(&v_, const_cast<VARIANT*>(&other.v_)); }
    Var& operator=(const Var&) = delete;
    ~Var() { VariantClear(&v_); }

    static Var Long(LONG value)
    {
        Var v;
        V_VT(&v.v_) = VT_I4;
        V_I4(&v.v_) = value;
        return v;
    }
    static Var Double(double value)
    {
        Var v;
        V_VT(&v.v_) = VT_R8;
        V_R8(&v.v_) = value;
        return v;
    }
    static Var String(const wchar_t* text)
    {
        Var v;
        V_VT(&v.v_) = VT_BSTR;
        V_BSTR(&v.v_) = SysAllocString(text);
        return v;
    }
    static Var Object(IDispatch* object)
    {
        Var v;
        V_VT(&v.v_) = VT_DISPATCH;
        V_DISPATCH(&v.v_) = object;
        if (object)
            object->AddRef();
        return v;
    }
    static Var OfType(VARTYPE type)
    {
        Var v;
        V_VT(&v.v_) = type;
        return v;
    }
    // What a script passes for an omitted argument.
    static Var Missing()
    {
        Var v;
        V_VT(&v.v_) = VT_ERROR;
        V_ERROR(&v.v_) = DISP_E_PARAMNOTFOUND;
        return v;
    }
    // A reference to another VARIANT, as VBScript passes a variable.
    static Var RefTo(VARIANT* target)
    {
        Var v;
        V_VT(&v.v_) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&v.v_) = target;
        return v;
    }

    VARIANT* operator&() { return &v_; }
    const VARIANT& get() const { return v_; }

private:
    VARIANT v_;
};

// Invokes `name` with the arguments in script order (support's Invoke; the
// Vars keep owning what they hold).
Invoked Call(IDispatch* object, const wchar_t* name, const std::vector<Var>& args, WORD flags = DISPATCH_METHOD)
{
    std::vector<VARIANT> values;
    for (const Var& arg : args)
        values.push_back(arg.get());
    Invoked out;
    Invoke(object, name, flags, values, out);
    return out;
}

// Sets a property with the named DISPID_PROPERTYPUT argument.
HRESULT Put(IDispatch* object, DISPID id, WORD flags, VARIANT value, EXCEPINFO* info = nullptr)
{
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    UINT argError = 0;
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, nullptr, info, &argError);
}

class Dispatch : public testing::Test {
protected:
    void SetUp() override
    {
        misc = NewMisc();
        ClearErrorRecord();
    }
    IDispatch* Misc() { return misc.Get(); }

    ComPtr<IZELCryptoMisc> misc;
};

TEST_F(Dispatch, NamesAndTypeInformation)
{
    ExpectIds(Misc(), {{L"OnStartPage", 0x60020000}, {L"OnEndPage", 0x60020001}, {L"InsertLongToBlob", 5},
                          {L"extractlongfromblob", 6},  {L"INSERTBLOBTOBLOB", 7},    {L"ExtractBlobFromBlob", 8},
                          {L"Random", 3},     {L"MD5", 1},               {L"SHA1", 2},
                          {L"CRC32", 4},      {L"Ripemd", 9},            {L"Keygen", 10},
                          {L"crc24", 11}});

    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"NoSuchMethod")};
    DISPID id = 0;
    EXPECT_HR(DISP_E_UNKNOWNNAME, Misc()->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id));

    UINT count = 0;
    EXPECT_HR(S_OK, Misc()->GetTypeInfoCount(&count));
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> info;
    ASSERT_HR(S_OK, Misc()->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Out()));
    TYPEATTR* attr = nullptr;
    ASSERT_HR(S_OK, info->GetTypeAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IZELCryptoMisc));
    info->ReleaseTypeAttr(attr);
    EXPECT_HR(DISP_E_BADINDEX, Misc()->GetTypeInfo(1, LOCALE_USER_DEFAULT, info.Out()));

    auto blob = NewBlob();
    EXPECT_EQ(IdOf(blob.Get(), L"hex"), 1);
    EXPECT_EQ(IdOf(blob.Get(), L"Length"), 5);
}

// Names already looked up are answered for the interface that has them, in
// any case, and a name of another interface stays unknown.
TEST_F(Dispatch, NamesAskedAgainKeepTheirInterface)
{
    struct Case {
        const CLSID* clsid;
        const wchar_t* name;
        HRESULT expected;
        DISPID id;
    };
    const Case cases[] = {
        {&CLSID_ZELCryptoMisc, L"CRC32", S_OK, 4},        {&CLSID_ZELCryptoAES, L"Encrypt", S_OK, 3},
        {&CLSID_ZELCryptoCipher, L"Encrypt", S_OK, 8},    {&CLSID_ZELCryptoRSA, L"Encrypt", S_OK, 5},
        {&CLSID_ZELCryptoAES, L"CRC32", DISP_E_UNKNOWNNAME, 0},
        {&CLSID_ZELCryptoMisc, L"Encrypt", DISP_E_UNKNOWNNAME, 0},
    };
    for (int round = 0; round < 2; ++round) {
        for (const Case& c : cases) {
            ComPtr<IDispatch> object;
            ASSERT_HR(S_OK, CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.OutVoid()));
            std::wstring upper(c.name), lower(c.name);
            for (wchar_t& ch : upper)
                ch = wchar_t(towupper(ch));
            for (wchar_t& ch : lower)
                ch = wchar_t(towlower(ch));
            for (std::wstring name : {std::wstring(c.name), upper, lower}) {
                SCOPED_TRACE(testing::Message() << Narrow(name) << " round " << round);
                LPOLESTR names[] = {&name[0]};
                DISPID id = 0;
                EXPECT_HR(c.expected, object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
                if (c.expected == S_OK)
                    EXPECT_EQ(id, c.id);
            }
        }
    }
}

TEST_F(Dispatch, PackingMethodsWork)
{
    auto blob = NewBlob(L"aabb");
    Invoked put = Call(Misc(), L"InsertLongToBlob", {Var::Object(blob.Get()), Var::Long(1), Var::Long(0x01020304)});
    EXPECT_HR(S_OK, put.hr);
    EXPECT_EQ(HexOf(blob.Get()), L"aa01020304bb");

    // Scripts ask for a result with METHOD | PROPERTYGET.
    Invoked got = Call(Misc(), L"ExtractLongFromBlob", {Var::Object(blob.Get()), Var::Long(1)},
                       DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    ASSERT_HR(S_OK, got.hr);
    ASSERT_EQ(V_VT(&got.result), VT_I4);
    EXPECT_EQ(V_I4(&got.result), 0x01020304);
    EXPECT_EQ(HexOf(blob.Get()), L"aabb");

    auto val = NewBlob(L"4142");
    EXPECT_HR(S_OK,
              Call(Misc(), L"InsertBlobToBlob", {Var::Object(blob.Get()), Var::Long(2), Var::Object(val.Get())}).hr);
    EXPECT_EQ(HexOf(blob.Get()), L"aabb000000024142");
    Invoked item = Call(Misc(), L"ExtractBlobFromBlob", {Var::Object(blob.Get()), Var::Long(2)});
    ASSERT_HR(S_OK, item.hr);
    ASSERT_EQ(V_VT(&item.result), VT_DISPATCH);
    EXPECT_EQ(HexOf(V_DISPATCH(&item.result)), L"4142");
    EXPECT_EQ(HexOf(blob.Get()), L"aabb");
}

// VBScript passes variables as references to VARIANTs; constants and
// expressions by value.
TEST_F(Dispatch, ArgumentsByReference)
{
    auto blob = NewBlob(L"aabb");
    Var blobVariable = Var::Object(blob.Get());
    Var posVariable = Var::Long(2);
    Var valVariable = Var::Long(-1);
    EXPECT_HR(S_OK, Call(Misc(), L"InsertLongToBlob",
                         {Var::RefTo(&blobVariable), Var::RefTo(&posVariable), Var::RefTo(&valVariable)})
                        .hr);
    EXPECT_EQ(HexOf(blob.Get()), L"aabbffffffff");
    // The variables are left as they were.
    EXPECT_EQ(V_VT(&blobVariable.get()), VT_DISPATCH);
    EXPECT_EQ(V_DISPATCH(&blobVariable.get()), static_cast<IDispatch*>(blob.Get()));
    EXPECT_EQ(V_I4(&posVariable.get()), 2);
}

// Numbers of other types are converted to long (strings that hold numbers,
// Empty as 0, doubles rounded); anything else is a type mismatch that never
// reaches the method.
TEST_F(Dispatch, LongArgumentsAreConvertedOrRefused)
{
    struct Case {
        const char* name;
        Var pos;
        HRESULT hr;
        const wchar_t* after;
    };
    const Case cases[] = {
        {"string holding a number", Var::String(L"1"), S_OK, L"aa00000007bb"},
        {"empty", Var::OfType(VT_EMPTY), S_OK, L"00000007aabb"},
        {"double", Var::Double(1.6), S_OK, L"aabb00000007"},
        {"string that is no number", Var::String(L"abc"), DISP_E_TYPEMISMATCH, L"aabb"},
        {"null", Var::OfType(VT_NULL), DISP_E_TYPEMISMATCH, L"aabb"},
        {"omitted", Var::Missing(), DISP_E_TYPEMISMATCH, L"aabb"},
        {"beyond 32 bits", Var::Double(5e9), DISP_E_OVERFLOW, L"aabb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto blob = NewBlob(L"aabb");
        EXPECT_HR(c.hr, Call(Misc(), L"InsertLongToBlob", {Var::Object(blob.Get()), c.pos, Var::Long(7)}).hr);
        EXPECT_EQ(HexOf(blob.Get()), c.after);
    }
}

// A blob parameter takes only objects: anything else is a type mismatch
// before the method runs; a null object (VBScript Nothing) reaches the method,
// which reports it.
TEST_F(Dispatch, BlobArgumentsThatAreNotObjects)
{
    auto blob = NewBlob(L"aabb");
    const Var notObjects[] = {Var::Long(5), Var::String(L"aabb"), Var::OfType(VT_EMPTY), Var::OfType(VT_NULL),
                              Var::Missing()};
    for (const Var& arg : notObjects) {
        SCOPED_TRACE(testing::Message() << "vt " << V_VT(&arg.get()));
        EXPECT_HR(DISP_E_TYPEMISMATCH, Call(Misc(), L"InsertLongToBlob", {arg, Var::Long(0), Var::Long(1)}).hr);
        EXPECT_HR(DISP_E_TYPEMISMATCH,
                  Call(Misc(), L"InsertBlobToBlob", {Var::Object(blob.Get()), Var::Long(0), arg}).hr);
    }
    EXPECT_EQ(HexOf(blob.Get()), L"aabb");

    Invoked nothing = Call(Misc(), L"InsertBlobToBlob", {Var::Object(blob.Get()), Var::Long(0), Var::Object(nullptr)});
    EXPECT_HR(DISP_E_EXCEPTION, nothing.hr);
    EXPECT_HR(E_FAIL, nothing.scode);
    EXPECT_EQ(nothing.description, kNotABlob);
    EXPECT_EQ(nothing.source, kMiscProgId);
    EXPECT_EQ(HexOf(blob.Get()), L"aabb");
}

TEST_F(Dispatch, WrongArgumentCount)
{
    auto blob = NewBlob(L"aabb");
    EXPECT_HR(DISP_E_BADPARAMCOUNT, Call(Misc(), L"InsertLongToBlob", {Var::Object(blob.Get()), Var::Long(0)}).hr);
    EXPECT_HR(DISP_E_BADPARAMCOUNT, Call(Misc(), L"ExtractBlobFromBlob", {}).hr);
    EXPECT_EQ(HexOf(blob.Get()), L"aabb");
}

// A failing method comes back as DISP_E_EXCEPTION: its HRESULT in scode and,
// when it left an error record, the record's texts.
TEST_F(Dispatch, FailuresFillTheExceptionInformation)
{
    auto corrupt = NewBlob(L"00000005");
    Invoked alarm = Call(Misc(), L"ExtractBlobFromBlob", {Var::Object(corrupt.Get()), Var::Long(0)});
    EXPECT_HR(DISP_E_EXCEPTION, alarm.hr);
    EXPECT_HR(E_FAIL, alarm.scode);
    EXPECT_EQ(alarm.description, kDataCorrupted);
    EXPECT_EQ(alarm.source, kMiscProgId);
    // No blob comes back.
    EXPECT_TRUE(V_VT(&alarm.result) == VT_EMPTY ||
                (V_VT(&alarm.result) == VT_DISPATCH && !V_DISPATCH(&alarm.result)));
    EXPECT_EQ(HexOf(corrupt.Get()), L"00000005");

    Invoked position = Call(Misc(), L"ExtractLongFromBlob", {Var::Object(corrupt.Get()), Var::Long(-1)});
    EXPECT_HR(DISP_E_EXCEPTION, position.hr);
    EXPECT_HR(E_INVALIDARG, position.scode);
    EXPECT_EQ(position.description, L"");

    auto blob = NewBlob();
    EXCEPINFO info{};
    Var badHex = Var::String(L"12x4");
    EXPECT_HR(DISP_E_EXCEPTION, Put(blob.Get(), IdOf(blob.Get(), L"Hex"), DISPATCH_PROPERTYPUT, badHex.get(), &info));
    EXPECT_HR(E_INVALIDARG, info.scode);
    ASSERT_TRUE(info.bstrDescription);
    EXPECT_NE(std::wstring(info.bstrDescription), L"");
    ASSERT_TRUE(info.bstrSource);
    EXPECT_EQ(std::wstring(info.bstrSource), kBlobProgId);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
}

// The checksums come back as unsigned longs (VT_UI4), the digests and keys as
// new blobs.
TEST_F(Dispatch, CryptoResultTypes)
{
    auto digits = NewBlob(L"313233343536373839");
    Invoked crc32 = Call(Misc(), L"CRC32", {Var::Object(digits.Get())}, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    ASSERT_HR(S_OK, crc32.hr);
    ASSERT_EQ(V_VT(&crc32.result), VT_UI4);
    EXPECT_EQ(V_UI4(&crc32.result), 0xCBF43926u);
    Invoked crc24 = Call(Misc(), L"CRC24", {Var::Object(digits.Get())}, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    ASSERT_HR(S_OK, crc24.hr);
    ASSERT_EQ(V_VT(&crc24.result), VT_UI4);
    EXPECT_EQ(V_UI4(&crc24.result), 0x21CF02u);

    Invoked sha1 = Call(Misc(), L"SHA1", {Var::Object(digits.Get())}, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    ASSERT_HR(S_OK, sha1.hr);
    ASSERT_EQ(V_VT(&sha1.result), VT_DISPATCH);
    const std::wstring sha1Hex = HexOf(V_DISPATCH(&sha1.result));

    // Keygen with a salt that is no blob: a simple SHA-1 of 20 bytes, which is
    // the digest itself.  Numbers may come as other types and are converted.
    FakeDispatch notABlob;
    Invoked key = Call(Misc(), L"Keygen",
                       {Var::String(L"2"), Var::Double(20), Var::Object(digits.Get()), Var::Object(&notABlob),
                        Var::Long(0)},
                       DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    ASSERT_HR(S_OK, key.hr);
    ASSERT_EQ(V_VT(&key.result), VT_DISPATCH);
    EXPECT_EQ(HexOf(V_DISPATCH(&key.result)), sha1Hex);

    Invoked unsupported = Call(Misc(), L"Keygen",
                               {Var::Long(4), Var::Long(20), Var::Object(digits.Get()), Var::Object(nullptr),
                                Var::Long(0)});
    EXPECT_HR(DISP_E_EXCEPTION, unsupported.hr);
    EXPECT_HR(E_FAIL, unsupported.scode);
    EXPECT_EQ(unsupported.description, L"Crypto System: Unsupported algorithm");
    EXPECT_EQ(unsupported.source, kMiscProgId);
}

// "Set blob.Hex = x" arrives as PROPERTYPUTREF; the blob's properties have
// put accessors only and take it as a put.
TEST_F(Dispatch, PutRefOnPutOnlyPropertiesActsAsPut)
{
    auto blob = NewBlob();
    Var hex = Var::String(L"c0ffee");
    ASSERT_HR(S_OK, Put(blob.Get(), IdOf(blob.Get(), L"Hex"), DISPATCH_PROPERTYPUTREF, hex.get()));
    EXPECT_EQ(HexOf(blob.Get()), L"c0ffee");

    Var text = Var::String(L"Hi");
    ASSERT_HR(S_OK, Put(blob.Get(), IdOf(blob.Get(), L"Text"), DISPATCH_PROPERTYPUTREF, text.get()));
    EXPECT_EQ(HexOf(blob.Get()), L"4869");

    // A failing put through PUTREF still reports its failure.
    Var badHex = Var::String(L"xyz");
    EXPECT_HR(DISP_E_EXCEPTION, Put(blob.Get(), IdOf(blob.Get(), L"Hex"), DISPATCH_PROPERTYPUTREF, badHex.get()));
    EXPECT_EQ(HexOf(blob.Get()), L"4869");

    // A read-only property stays read-only, and a method is no property.
    Var number = Var::Long(3);
    EXPECT_HR(DISP_E_MEMBERNOTFOUND,
              Put(blob.Get(), IdOf(blob.Get(), L"Length"), DISPATCH_PROPERTYPUTREF, number.get()));
    EXPECT_HR(DISP_E_MEMBERNOTFOUND, Put(blob.Get(), IdOf(blob.Get(), L"Length"), DISPATCH_PROPERTYPUT, number.get()));
    EXPECT_HR(DISP_E_MEMBERNOTFOUND,
              Put(Misc(), IdOf(Misc(), L"OnEndPage"), DISPATCH_PROPERTYPUTREF, number.get()));
    EXPECT_EQ(HexOf(blob.Get()), L"4869");
}

TEST_F(Dispatch, BlobPropertiesThroughInvoke)
{
    auto blob = NewBlob(L"48656c6c6f");
    Invoked length = Call(blob.Get(), L"Length", {}, DISPATCH_PROPERTYGET);
    ASSERT_HR(S_OK, length.hr);
    EXPECT_EQ(V_I4(&length.result), 5);

    Invoked base64 = Call(blob.Get(), L"Base64", {}, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    ASSERT_HR(S_OK, base64.hr);
    ASSERT_EQ(V_VT(&base64.result), VT_BSTR);
    EXPECT_EQ(std::wstring(V_BSTR(&base64.result)), L"SGVsbG8=");

    // A VBScript variable holding a byte array, passed by reference.
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, 2);
    ASSERT_TRUE(array);
    for (LONG i = 0; i < 2; ++i) {
        BYTE b = BYTE(0xf0 + i);
        SafeArrayPutElement(array, &i, &b);
    }
    Var bytes;
    V_VT(&bytes) = VT_ARRAY | VT_UI1;
    V_ARRAY(&bytes) = array;
    Var reference = Var::RefTo(&bytes);
    ASSERT_HR(S_OK, Put(blob.Get(), IdOf(blob.Get(), L"Bytes"), DISPATCH_PROPERTYPUT, reference.get()));
    EXPECT_EQ(HexOf(blob.Get()), L"f0f1");

    EXPECT_HR(S_OK, Call(blob.Get(), L"Clear", {}).hr);
    EXPECT_EQ(HexOf(blob.Get()), L"");
}

// Random's dest is a pointer parameter without direction: VBScript passes a
// variable by reference, and the variable receives the new blob.  Whatever
// happens, a failed call leaves the variable as it was.
TEST_F(Dispatch, RandomDestinationVariableIsKeptOnFailure)
{
    FakeDispatch previous;
    Var variable = Var::Object(&previous);
    ASSERT_EQ(previous.Refs(), 2);
    Invoked refused = Call(Misc(), L"Random", {Var::String(L"many"), Var::RefTo(&variable)});
    EXPECT_HR(DISP_E_TYPEMISMATCH, refused.hr);
    EXPECT_EQ(V_VT(&variable.get()), VT_DISPATCH);
    EXPECT_EQ(V_DISPATCH(&variable.get()), static_cast<IDispatch*>(&previous));
    EXPECT_EQ(previous.Refs(), 2);

    // A count the method refuses: it clears its out-pointer, but the
    // variable keeps its object.
    Invoked failed = Call(Misc(), L"Random", {Var::Long(-1), Var::RefTo(&variable)});
    EXPECT_HR(DISP_E_EXCEPTION, failed.hr);
    EXPECT_HR(E_INVALIDARG, failed.scode);
    EXPECT_EQ(V_VT(&variable.get()), VT_DISPATCH);
    EXPECT_EQ(V_DISPATCH(&variable.get()), static_cast<IDispatch*>(&previous));
    EXPECT_EQ(previous.Refs(), 2);
}

TEST_F(Dispatch, RandomDestinationVariableReceivesTheBlob)
{
    FakeDispatch previous;
    Var variable = Var::Object(&previous);
    Invoked done = Call(Misc(), L"Random", {Var::Long(6), Var::RefTo(&variable)});
    ASSERT_HR(S_OK, done.hr);
    ASSERT_EQ(V_VT(&variable.get()), VT_DISPATCH);
    ASSERT_TRUE(V_DISPATCH(&variable.get()));
    EXPECT_NE(V_DISPATCH(&variable.get()), static_cast<IDispatch*>(&previous));
    EXPECT_EQ(HexOf(V_DISPATCH(&variable.get())).size(), 12u);
    // The variable's old object was let go, once.
    EXPECT_EQ(previous.Refs(), 1);

    Var empty;
    ASSERT_HR(S_OK, Call(Misc(), L"Random", {Var::Long(0), Var::RefTo(&empty)}).hr);
    ASSERT_EQ(V_VT(&empty.get()), VT_DISPATCH);
    EXPECT_EQ(HexOf(V_DISPATCH(&empty.get())), L"");
}

// JScript passes a blob by value: the blob itself receives the bytes, its
// old contents replaced, locked and let go once.
TEST_F(Dispatch, RandomFillsABlobPassedByValue)
{
    auto blob = NewBlob(L"aabbcc");
    ASSERT_HR(S_OK, Call(Misc(), L"Random", {Var::Long(16), Var::Object(blob.Get())}).hr);
    const std::wstring first = HexOf(blob.Get());
    EXPECT_EQ(first.size(), 32u);
    ASSERT_HR(S_OK, Call(Misc(), L"Random", {Var::Long(16), Var::Object(blob.Get())}).hr);
    EXPECT_NE(HexOf(blob.Get()), first) << "each call draws new bytes";
    ASSERT_HR(S_OK, Call(Misc(), L"Random", {Var::Long(0), Var::Object(blob.Get())}).hr);
    EXPECT_EQ(HexOf(blob.Get()), L"");

    FakeBlob fake("0102");
    {
        Invoked done = Call(Misc(), L"Random", {Var::Long(5), Var::Object(static_cast<IDispatch*>(&fake))});
        ASSERT_HR(S_OK, done.hr);
        EXPECT_EQ(V_VT(&done.result), VT_EMPTY);
    }
    EXPECT_EQ(fake.buffer.Length(), 5u);
    EXPECT_EQ(fake.locks, 1);
    EXPECT_TRUE(Balanced(fake));
}

// Any other value passed by value cannot receive bytes: E_INVALIDARG, and
// nothing is drawn or changed.  A refused count is refused first.
TEST_F(Dispatch, RandomRefusesOtherValuesPassedByValue)
{
    FakeDispatch notABlob;
    auto blob = NewBlob(L"aabb");
    {
    const struct {
        const char* what;
        Var dest;
    } cases[] = {
        {"a number", Var::Long(7)},
        {"null", Var::OfType(VT_NULL)},
        {"undefined", Var::OfType(VT_EMPTY)},
        {"a null object", Var::Object(nullptr)},
        {"an object that is no blob", Var::Object(&notABlob)},
        {"a string", Var::String(L"aabb")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Invoked refused = Call(Misc(), L"Random", {Var::Long(8), c.dest});
        EXPECT_HR(DISP_E_EXCEPTION, refused.hr);
        EXPECT_HR(E_INVALIDARG, refused.scode);
    }
    }
    EXPECT_EQ(notABlob.Refs(), 1);
    Invoked negative = Call(Misc(), L"Random", {Var::Long(-1), Var::Object(blob.Get())});
    EXPECT_HR(E_INVALIDARG, negative.scode);
    EXPECT_EQ(HexOf(blob.Get()), L"aabb");
}

} // namespace
