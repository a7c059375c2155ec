#include "support.h"

#include <cstdio>
#include <stdexcept>

namespace zeltest {

std::string HrText(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

testing::AssertionResult HrEqual(const char* expectedText, const char* actualText, HRESULT expected,
                                 HRESULT actual)
{
    if (expected == actual)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << actualText << " is " << HrText(actual) << ", expected " << expectedText
                                       << " = " << HrText(expected);
}

std::string Narrow(const std::wstring& text)
{
    std::string result;
    for (wchar_t c : text) {
        if (c >= 32 && c < 127) {
            result += char(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(c));
            result += escaped;
        }
    }
    return result;
}

std::wstring Wide(const std::string& narrow)
{
    return std::wstring(narrow.begin(), narrow.end());
}

std::string GuidText(REFGUID guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return Narrow(text);
}

ErrorRecord TakeErrorRecord()
{
    ErrorRecord record;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return record;
    record.present = true;
    BSTR text = nullptr;
    if (SUCCEEDED(info->GetDescription(&text)) && text)
        record.description.assign(text, SysStringLen(text));
    SysFreeString(text);
    text = nullptr;
    if (SUCCEEDED(info->GetSource(&text)) && text)
        record.source.assign(text, SysStringLen(text));
    SysFreeString(text);
    info->GetGUID(&record.guid);
    info->Release();
    return record;
}

void ClearErrorRecord()
{
    SetErrorInfo(0, nullptr);
}

testing::AssertionResult HasErrorRecord(const ErrorRecord& record, const std::wstring& description,
                                        const std::wstring& source, REFGUID guid)
{
    if (!record.present)
        return testing::AssertionFailure() << "no error record";
    if (record.description != description || record.source != source || !IsEqualGUID(record.guid, guid)) {
        return testing::AssertionFailure()
               << "error record is {\"" << Narrow(record.description) << "\", \"" << Narrow(record.source) << "\", "
               << GuidText(record.guid) << "}, expected {\"" << Narrow(description) << "\", \"" << Narrow(source)
               << "\", " << GuidText(guid) << "}";
    }
    return testing::AssertionSuccess();
}

ComPtr<IZELCryptoMisc> NewMisc()
{
    ComPtr<IZELCryptoMisc> misc;
    const HRESULT hr = CoCreateInstance(CLSID_ZELCryptoMisc, nullptr, CLSCTX_INPROC_SERVER, IID_IZELCryptoMisc,
                                        misc.OutVoid());
    if (FAILED(hr) || !misc)
        throw std::runtime_error("creating the Misc object failed: " + HrText(hr));
    return misc;
}

ComPtr<IZELBlobScript> NewBlob(const std::wstring& hex)
{
    ComPtr<IZELBlobScript> blob;
    HRESULT hr = CoCreateInstance(CLSID_ZELBlob, nullptr, CLSCTX_INPROC_SERVER, IID_IZELBlobScript, blob.OutVoid());
    if (FAILED(hr) || !blob)
        throw std::runtime_error("creating a blob failed: " + HrText(hr));
    if (!hex.empty()) {
        Bstr text(hex.c_str());
        hr = blob->put_Hex(text);
        if (FAILED(hr))
            throw std::runtime_error("put_Hex failed: " + HrText(hr));
    }
    return blob;
}

std::wstring HexOf(IUnknown* blob)
{
    if (!blob)
        return L"<null>";
    ComPtr<IZELBlobScript> script;
    if (FAILED(blob->QueryInterface(IID_IZELBlobScript, script.OutVoid())) || !script)
        return L"<not a blob>";
    BSTR text = nullptr;
    if (FAILED(script->get_Hex(&text)))
        return L"<get_Hex failed>";
    std::wstring result(text ? text : L"", text ? SysStringLen(text) : 0);
    SysFreeString(text);
    return result;
}

XBlob BytesFromHex(const char* hex)
{
    XBlob bytes;
    for (const char* p = hex; p[0] && p[1]; p += 2) {
        unsigned value = 0;
        std::sscanf(p, "%2x", &value);
        bytes.AppendByte(uint8_t(value));
    }
    return bytes;
}

std::string HexOf(const XBlob& bytes)
{
    std::string text;
    char pair[3];
    for (uint32_t i = 0; i < bytes.Length(); ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes.At(i));
        text += pair;
    }
    return text;
}

std::wstring Seq(unsigned start, size_t count)
{
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring hex;
    for (size_t i = 0; i < count; ++i) {
        const unsigned b = (start + i) & 0xFF;
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

STDMETHODIMP FakeBlob::QueryInterface(REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IZELBlob)) {
        *out = static_cast<IZELBlob*>(this);
        AddRef();
        return S_OK;
    }
    return FakeDispatch::QueryInterface(riid, out);
}

STDMETHODIMP FakeBlob::GetBuffer(XBlob** out)
{
    ++getBufferCalls;
    if (locks <= unlocks)
        getBufferWhileUnlocked = true;
    if (FAILED(getBufferResult))
        return getBufferResult;
    *out = handOutNull ? nullptr : &buffer;
    return S_OK;
}

STDMETHODIMP FakeBlob::Lock()
{
    ++locks;
    return S_OK;
}

STDMETHODIMP FakeBlob::Unlock()
{
    ++unlocks;
    return S_OK;
}

testing::AssertionResult Balanced(const FakeBlob& blob)
{
    if (blob.locks != blob.unlocks)
        return testing::AssertionFailure() << blob.locks << " locks, " << blob.unlocks << " unlocks";
    if (blob.Refs() != 1)
        return testing::AssertionFailure() << "reference count " << blob.Refs() << " instead of 1";
    if (blob.getBufferWhileUnlocked)
        return testing::AssertionFailure() << "GetBuffer called on an unlocked blob";
    return testing::AssertionSuccess();
}

void PlantStaleRecord()
{
    ICreateErrorInfo* create = nullptr;
    ASSERT_HR(S_OK, CreateErrorInfo(&create));
    create->SetDescription(const_cast<LPOLESTR>(L"stale"));
    IErrorInfo* info = nullptr;
    create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
    SetErrorInfo(0, info);
    info->Release();
    create->Release();
}

ComPtr<IDispatch> RunBalanceRow(const BalanceRow& row, const std::wstring& source)
{
    SCOPED_TRACE(row.name);
    const BalanceMember& member = *row.member;
    FakeBlob first(row.first.bytes.c_str());
    first.getBufferResult = row.first.getBuffer;
    first.handOutNull = row.first.nullBuffer;
    FakeBlob second(row.second.bytes.c_str());
    second.getBufferResult = row.second.getBuffer;
    second.handOutNull = row.second.nullBuffer;
    FakeBlob sentinel;
    IDispatch* out = &sentinel;
    PlantStaleRecord();

    const HRESULT hr = member.call(&first, member.takesSecond ? &second : nullptr, &out);
    EXPECT_HR(row.expected, hr);
    auto result = ComPtr<IDispatch>::Attach(out == &sentinel ? nullptr : out);

    EXPECT_EQ(sentinel.Refs(), 1) << "the out-pointer's old value was touched";
    if (member.returnsBlob) {
        EXPECT_EQ(bool(result), SUCCEEDED(hr)) << "a blob is handed out exactly when the call succeeds";
        if (FAILED(hr)) {
            EXPECT_EQ(out, member.keepsResultOnFailure ? static_cast<IDispatch*>(&sentinel) : nullptr);
        }
    } else {
        EXPECT_EQ(out, static_cast<IDispatch*>(&sentinel));
    }

    struct Seen {
        const char* which;
        const FakeBlob& blob;
        const BlobArg& arg;
    };
    std::vector<Seen> seen{{"first", first, row.first}};
    if (member.takesSecond)
        seen.push_back({"second", second, row.second});
    for (const Seen& s : seen) {
        SCOPED_TRACE(s.which);
        EXPECT_EQ(s.blob.locks, s.arg.locks);
        EXPECT_TRUE(Balanced(s.blob));
        EXPECT_EQ(HexOf(s.blob.buffer), s.arg.after ? std::string(s.arg.after) : s.arg.bytes);
    }

    const ErrorRecord record = TakeErrorRecord();
    if (row.record) {
        EXPECT_TRUE(HasErrorRecord(record, row.record, source, *row.recordGuid));
    } else {
        EXPECT_FALSE(record.present) << "a record \"" << Narrow(record.description) << "\" was left";
    }
    return result;
}

DISPID IdOf(IDispatch* object, const wchar_t* name)
{
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    EXPECT_HR(S_OK, object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) << Narrow(name);
    return id;
}

void ExpectIds(IDispatch* object, std::initializer_list<NamedId> names)
{
    for (const NamedId& n : names)
        EXPECT_EQ(IdOf(object, n.name), n.id) << Narrow(n.name);
}

void Invoke(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> args, Invoked& out)
{
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID named = DISPID_PROPERTYPUT;
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    DISPPARAMS params{reversed.data(), put ? &named : nullptr, UINT(reversed.size()), put ? 1u : 0u};
    EXCEPINFO info{};
    UINT argError = 0;
    out.hr = object->Invoke(IdOf(object, name), IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &out.result, &info,
                            &argError);
    if (out.hr == DISP_E_EXCEPTION) {
        if (info.pfnDeferredFillIn)
            info.pfnDeferredFillIn(&info);
        out.scode = info.scode;
    }
    if (info.bstrDescription)
        out.description.assign(info.bstrDescription, SysStringLen(info.bstrDescription));
    if (info.bstrSource)
        out.source.assign(info.bstrSource, SysStringLen(info.bstrSource));
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
}

VARIANT LongArg(LONG value)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}

VARIANT ShortArg(SHORT value)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I2;
    V_I2(&v) = value;
    return v;
}

VARIANT ObjectArg(IDispatch* object)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = object;
    return v;
}

VARIANT StringArg(BSTR text)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = text;
    return v;
}

} // namespace zeltest
