#include "zelblob/blob_object.h"

#include "com/com_error.h"
#include "core/wipe.h"
#include "com/com_text.h"
#include "zelblob/text_codecs.h"

#include <new>

namespace {

// Runs a property body, turning an allocation failure into E_OUTOFMEMORY.
template <class Body>
HRESULT Guarded(Body&& body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// The text goes to the caller as a BSTR; the temporary is wiped, as the
// bytes it spells may be a key or a password.
HRESULT ReturnText(std::wstring text, BSTR* out)
{
    if (!out)
        return E_POINTER;
    *out = SysAllocStringLen(text.data(), UINT(text.size()));
    SecureWipe(&text[0], text.size() * sizeof(wchar_t));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// The one-dimensional array inside a script value, looking through references.
bool FindArray(const VARIANT& value, SAFEARRAY** array, VARTYPE* elementType)
{
    const VARIANT* v = &value;
    while (V_VT(v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(v))
        v = V_VARIANTREF(v);
    const VARTYPE vt = V_VT(v);
    if (!(vt & VT_ARRAY))
        return false;
    *elementType = VARTYPE(vt & ~(VT_ARRAY | VT_BYREF));
    *array = (vt & VT_BYREF) ? (V_ARRAYREF(v) ? *V_ARRAYREF(v) : nullptr) : V_ARRAY(v);
    return *array && SafeArrayGetDim(*array) == 1;
}

bool IsEmptyValue(const VARIANT& value)
{
    const VARIANT* v = &value;
    while (V_VT(v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(v))
        v = V_VARIANTREF(v);
    return V_VT(v) == VT_EMPTY || V_VT(v) == VT_NULL;
}

} // namespace

void* CZELBlob::FindInterface(REFIID riid)
{
    if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IZELBlobScript))
        return static_cast<IZELBlobScript*>(this);
    if (IsEqualIID(riid, IID_IZELBlob))
        return static_cast<IZELBlob*>(this);
    if (IsEqualIID(riid, IID_ISupportErrorInfo))
        return static_cast<ISupportErrorInfo*>(this);
    return nullptr;
}

STDMETHODIMP CZELBlob::InterfaceSupportsErrorInfo(REFIID riid)
{
    return IsEqualIID(riid, IID_IZELBlobScript) ? S_OK : S_FALSE;
}

HRESULT CZELBlob::Refuse(const std::string& why)
{
    return zel::ReportError(why.c_str(), E_INVALIDARG, CLSID_ZELBlob, IID_IZELBlobScript);
}

STDMETHODIMP CZELBlob::get_Hex(BSTR* text)
{
    return Guarded([&] { return ReturnText(zelblob::HexText(bytes_), text); });
}

STDMETHODIMP CZELBlob::put_Hex(BSTR text)
{
    return Guarded([&] {
        std::string error;
        return zelblob::DecodeHex(text, SysStringLen(text), bytes_, error) ? S_OK : Refuse(error);
    });
}

STDMETHODIMP CZELBlob::get_Base64(BSTR* text)
{
    return Guarded([&] { return ReturnText(zelblob::Base64Text(bytes_), text); });
}

STDMETHODIMP CZELBlob::put_Base64(BSTR text)
{
    return Guarded([&] {
        std::string error;
        return zelblob::DecodeBase64(text, SysStringLen(text), bytes_, error) ? S_OK : Refuse(error);
    });
}

STDMETHODIMP CZELBlob::get_Text(BSTR* text)
{
    if (!text)
        return E_POINTER;
    return Guarded([&] {
        *text = zel::AnsiToBstr(reinterpret_cast<const char*>(bytes_.Data()), int(bytes_.Length()));
        return S_OK;
    });
}

STDMETHODIMP CZELBlob::put_Text(BSTR text)
{
    return Guarded([&] {
        std::string bytes = zel::BstrToAnsi(text);
        bytes_.Clear();
        bytes_.AppendBytes(bytes.data(), uint32_t(bytes.size()));
        SecureWipe(&bytes[0], bytes.size()); // often a password
        return S_OK;
    });
}

STDMETHODIMP CZELBlob::get_Bytes(VARIANT* bytes)
{
    if (!bytes)
        return E_POINTER;
    VariantInit(bytes);
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, bytes_.Length());
    if (!array)
        return E_OUTOFMEMORY;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) {
        SafeArrayDestroy(array);
        return E_UNEXPECTED;
    }
    bytes_.CopyOut(data, bytes_.Length(), 0);
    SafeArrayUnaccessData(array);
    V_VT(bytes) = VT_ARRAY | VT_UI1;
    V_ARRAY(bytes) = array;
    return S_OK;
}

STDMETHODIMP CZELBlob::put_Bytes(VARIANT value)
{
    return Guarded([&]() -> HRESULT {
        XBlob bytes;
        SAFEARRAY* array = nullptr;
        VARTYPE type = VT_EMPTY;
        if (IsEmptyValue(value)) {
            // Null or Empty: what ADODB.Stream.Read gives at the end of a stream.
        } else if (!FindArray(value, &array, &type) || (type != VT_UI1 && type != VT_VARIANT)) {
            return Refuse("Bytes takes a one-dimensional array of bytes");
        } else {
            LONG lower = 0, upper = -1;
            SafeArrayGetLBound(array, 1, &lower);
            SafeArrayGetUBound(array, 1, &upper);
            const LONG count = upper - lower + 1;
            void* data = nullptr;
            if (count > 0 && SUCCEEDED(SafeArrayAccessData(array, &data))) {
                if (type == VT_UI1) {
                    bytes.AppendBytes(data, uint32_t(count));
                } else {
                    // A script's own array of numbers, e.g. VBScript Array(72, 105).
                    const VARIANT* items = static_cast<const VARIANT*>(data);
                    for (LONG i = 0; i < count; ++i) {
                        VARIANT number;
                        VariantInit(&number);
                        const bool ok = SUCCEEDED(VariantChangeType(&number, const_cast<VARIANT*>(&items[i]), 0, VT_I4)) &&
                                        V_I4(&number) >= 0 && V_I4(&number) <= 255;
                        if (!ok) {
                            SafeArrayUnaccessData(array);
                            return Refuse("Bytes takes numbers from 0 to 255 only, found another value at index " +
                                          std::to_string(lower + i));
                        }
                        bytes.AppendByte(uint8_t(V_I4(&number)));
                    }
                }
                SafeArrayUnaccessData(array);
            }
        }
        bytes_.Assign(bytes);
        return S_OK;
    });
}

STDMETHODIMP CZELBlob::get_Length(LONG* length)
{
    if (!length)
        return E_POINTER;
    *length = LONG(bytes_.Length());
    return S_OK;
}

STDMETHODIMP CZELBlob::Clear()
{
    bytes_.Clear();
    return S_OK;
}

STDMETHODIMP CZELBlob::GetBuffer(XBlob** buffer)
{
    if (!buffer)
        return E_POINTER;
    *buffer = &bytes_;
    return S_OK;
}

STDMETHODIMP CZELBlob::Lock()
{
    InterlockedIncrement(&locks_);
    return S_OK;
}

STDMETHODIMP CZELBlob::Unlock()
{
    InterlockedDecrement(&locks_);
    return S_OK;
}
