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
HRESULT ReturnText(std::wstring&& text, BSTR* out)
{
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

// The members of IZELBlobScript2 start by clearing the thread's error
// record, as zelcrypto.dll's methods do: a failure that comes without a
// record (a blob argument whose buffer cannot be had, no memory) must not
// let the caller find an older record and take it for this call's.
void ClearErrorRecord()
{
    SetErrorInfo(0, nullptr);
}

// A blob passed to a member, reached the way zelcrypto.dll's method frame
// reaches its arguments: through IZELBlob, locked from Open until the end of
// the scope.  The lock is a re-entrant count, not a mutex (the class is
// apartment-threaded), so a blob passed to one of its own members locks
// again without waiting, and a member that touches two blobs cannot
// deadlock.  Any object that answers IZELBlob counts as a blob.
class BlobArgument {
public:
    explicit BlobArgument(IDispatch* argument)
    {
        // Only whether an interface came back counts, not the result code.
        if (argument)
            argument->QueryInterface(IID_IZELBlob, reinterpret_cast<void**>(&blob_));
    }
    BlobArgument(const BlobArgument&) = delete;
    BlobArgument& operator=(const BlobArgument&) = delete;
    ~BlobArgument()
    {
        if (locked_)
            blob_->Unlock();
        if (blob_)
            blob_->Release();
    }

    bool IsBlob() const { return blob_ != nullptr; }

    // Locks the blob and takes its buffer; a blob that has none to give
    // fails the member with the blob's own answer.
    HRESULT Open()
    {
        blob_->Lock();
        locked_ = true;
        const HRESULT hr = blob_->GetBuffer(&buffer_);
        if (FAILED(hr))
            return hr;
        return buffer_ ? S_OK : E_POINTER;
    }

    const XBlob& Buffer() const { return *buffer_; }

private:
    IZELBlob* blob_ = nullptr;
    XBlob* buffer_ = nullptr;
    bool locked_ = false;
};

} // namespace

void* CZELBlob::FindInterface(REFIID riid)
{
    // IZELBlobScript2 begins with IZELBlobScript's vtable: one pointer serves both.
    if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IZELBlobScript2) ||
        IsEqualIID(riid, IID_IZELBlobScript))
        return static_cast<IZELBlobScript2*>(this);
    if (IsEqualIID(riid, IID_IZELBlob))
        return static_cast<IZELBlob*>(this);
    if (IsEqualIID(riid, IID_ISupportErrorInfo))
        return static_cast<ISupportErrorInfo*>(this);
    return nullptr;
}

STDMETHODIMP CZELBlob::InterfaceSupportsErrorInfo(REFIID riid)
{
    return IsEqualIID(riid, IID_IZELBlobScript) || IsEqualIID(riid, IID_IZELBlobScript2) ? S_OK : S_FALSE;
}

HRESULT CZELBlob::Refuse(const std::string& why, REFIID iid)
{
    return zel::ReportError(why.c_str(), E_INVALIDARG, CLSID_ZELBlob, iid);
}

STDMETHODIMP CZELBlob::get_Hex(BSTR* text)
{
    if (!text)
        return E_POINTER;
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
    if (!text)
        return E_POINTER;
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

STDMETHODIMP CZELBlob::get_Utf8(BSTR* text)
{
    ClearErrorRecord();
    if (!text)
        return E_POINTER;
    *text = nullptr;
    return Guarded([&] {
        std::wstring characters;
        std::string error;
        if (!zelblob::Utf8Text(bytes_, characters, error))
            return Refuse(error, IID_IZELBlobScript2);
        return ReturnText(std::move(characters), text);
    });
}

STDMETHODIMP CZELBlob::put_Utf8(BSTR text)
{
    ClearErrorRecord();
    return Guarded([&] {
        std::string error;
        return zelblob::Utf8Bytes(text, SysStringLen(text), bytes_, error) ? S_OK
                                                                           : Refuse(error, IID_IZELBlobScript2);
    });
}

STDMETHODIMP CZELBlob::get_Base64Url(BSTR* text)
{
    ClearErrorRecord();
    if (!text)
        return E_POINTER;
    return Guarded([&] { return ReturnText(zelblob::Base64UrlText(bytes_), text); });
}

STDMETHODIMP CZELBlob::put_Base64Url(BSTR text)
{
    ClearErrorRecord();
    return Guarded([&] {
        std::string error;
        return zelblob::DecodeBase64Url(text, SysStringLen(text), bytes_, error) ? S_OK
                                                                                 : Refuse(error, IID_IZELBlobScript2);
    });
}

STDMETHODIMP CZELBlob::Append(IDispatch* other)
{
    ClearErrorRecord();
    return Guarded([&] {
        BlobArgument source(other);
        if (!source.IsBlob())
            return Refuse("Append takes a blob", IID_IZELBlobScript2);
        const HRESULT hr = source.Open();
        if (FAILED(hr))
            return hr;
        // Appending a blob to itself copies its bytes first (a copy that is
        // wiped when freed); a failed allocation leaves the bytes as they were.
        bytes_.Append(source.Buffer());
        return S_OK;
    });
}

STDMETHODIMP CZELBlob::Slice(LONG start, LONG length, IDispatch** result)
{
    ClearErrorRecord();
    if (!result)
        return E_POINTER;
    *result = nullptr;
    if (start < 0 || length < 0)
        return Refuse("Slice takes a start and a length of 0 or more", IID_IZELBlobScript2);
    if (uint64_t(start) + uint64_t(length) > bytes_.Length())
        return Refuse("Slice goes past the end of the blob's " + std::to_string(bytes_.Length()) + " bytes",
                      IID_IZELBlobScript2);
    return Guarded([&] {
        // A blob of this very class, made here rather than through the
        // registry: the slice always comes from the module that cut it.
        IDispatch* slice = nullptr;
        const HRESULT hr = zel::CreateComObject<CZELBlob>(nullptr, IID_IDispatch, reinterpret_cast<void**>(&slice));
        if (FAILED(hr))
            return hr;
        CZELBlob* object = static_cast<CZELBlob*>(static_cast<IZELBlobScript2*>(slice));
        try {
            bytes_.CopyRange(object->bytes_, uint32_t(start), uint32_t(length));
        } catch (...) {
            slice->Release();
            throw;
        }
        *result = slice;
        return S_OK;
    });
}

STDMETHODIMP CZELBlob::Equals(IDispatch* other, VARIANT_BOOL* result)
{
    ClearErrorRecord();
    if (!result)
        return E_POINTER;
    *result = VARIANT_FALSE;
    return Guarded([&] {
        BlobArgument that(other);
        if (!that.IsBlob())
            return Refuse("Equals takes a blob", IID_IZELBlobScript2);
        const HRESULT hr = that.Open();
        if (FAILED(hr))
            return hr;
        // Blobs often hold secrets (a MAC, a password): the time taken does
        // not tell how much of them matched.
        *result = bytes_.ConstantTimeEquals(that.Buffer()) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}
