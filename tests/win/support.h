// Helpers shared by the COM test programs: a small interface pointer holder,
// error records, HRESULT assertions, blob and Misc objects, and counting test
// doubles.
#pragma once

#include "blob/izelblob.h"
#include "server/zelcrypto.h"
#include "zelblob/zelblob.h"

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace zeltest {

// Owns one reference to an interface.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr& other) : p_(other.p_)
    {
        if (p_)
            p_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~ComPtr() { Reset(); }
    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(p_, other.p_);
        return *this;
    }

    // Takes over a reference the caller already owns.
    static ComPtr Attach(T* p)
    {
        ComPtr result;
        result.p_ = p;
        return result;
    }

    void Reset()
    {
        if (T* p = std::exchange(p_, nullptr))
            p->Release();
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out-parameters: releases what it holds first.
    T** Out()
    {
        Reset();
        return &p_;
    }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }

    template <class U>
    ComPtr<U> As(REFIID iid) const
    {
        ComPtr<U> result;
        if (p_)
            p_->QueryInterface(iid, result.OutVoid());
        return result;
    }

private:
    T* p_ = nullptr;
};

// HRESULTs compare and print as hexadecimal.
std::string HrText(HRESULT hr);
testing::AssertionResult HrEqual(const char* expectedText, const char* actualText, HRESULT expected,
                                 HRESULT actual);
#define EXPECT_HR(expected, actual) EXPECT_PRED_FORMAT2(::zeltest::HrEqual, HRESULT(expected), HRESULT(actual))
#define ASSERT_HR(expected, actual) ASSERT_PRED_FORMAT2(::zeltest::HrEqual, HRESULT(expected), HRESULT(actual))

std::string Narrow(const std::wstring& text);
// ASCII text widened character by character.
std::wstring Wide(const std::string& narrow);
std::string GuidText(REFGUID guid);

// The error record of the calling thread, taken with GetErrorInfo.
struct ErrorRecord {
    bool present = false;
    std::wstring description;
    std::wstring source;
    GUID guid = GUID_NULL;
};
ErrorRecord TakeErrorRecord();
void ClearErrorRecord();

// Checks that an error record is installed with these fields.
testing::AssertionResult HasErrorRecord(const ErrorRecord& record, const std::wstring& description,
                                        const std::wstring& source, REFGUID guid);

inline const wchar_t kMiscProgId[] = L"Valdergast.ZELCryptoMisc.2";
inline const wchar_t kBlobProgId[] = L"Valdergast.ZELBlob.2";
inline const wchar_t kNotABlob[] = L"Internal error: can't get source ZELBlob COM interface";
inline const wchar_t kDataCorrupted[] = L"Crypto System: Data is corrupted - XBlob";

ComPtr<IZELCryptoMisc> NewMisc();
ComPtr<IZELBlobScript> NewBlob(const std::wstring& hex = L"");
// The blob's bytes as lower-case hex (through its scripting interface).
std::wstring HexOf(IUnknown* blob);

// An XBlob holding the bytes of a hex text.
XBlob BytesFromHex(const char* hex);
std::string HexOf(const XBlob& bytes);
// count bytes counting up from start (modulo 256), as hex.
std::wstring Seq(unsigned start, size_t count);

// A BSTR owned for the duration of a statement or a scope.
class Bstr {
public:
    explicit Bstr(const wchar_t* text) : b_(SysAllocString(text)) {}
    Bstr(const wchar_t* text, UINT length) : b_(SysAllocStringLen(text, length)) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(b_); }
    operator BSTR() const { return b_; }

private:
    BSTR b_;
};

// Reference counting for test doubles that live on the stack: the count
// starts at 1 (the test's own reference) and the object never deletes itself,
// so a test can compare the count after the code under test let go.
class RefCounter {
public:
    ULONG AddRefCount() { return ULONG(InterlockedIncrement(&refs_)); }
    ULONG ReleaseCount() { return ULONG(InterlockedDecrement(&refs_)); }
    LONG Refs() const { return refs_; }

private:
    LONG refs_ = 1;
};

// The IUnknown and IDispatch part of a test double for the dual interface
// Interface (IID *iid): QueryInterface answers IUnknown, IDispatch and
// Interface, the references are counted by RefCounter, and every IDispatch
// member fails.  The double adds Interface's own members.
template <class Interface, const IID* iid>
class DispatchDouble : public Interface, public RefCounter {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, *iid)) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefCount(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseCount(); }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
};

// An IDispatch that is no blob: every IDispatch member fails.
class FakeDispatch : public DispatchDouble<IDispatch, &IID_IDispatch> {};

// A blob double: IDispatch plus IZELBlob over its own XBlob, counting what the
// server does with it.  GetBuffer can be made to fail.
class FakeBlob : public FakeDispatch, public IZELBlob {
public:
    explicit FakeBlob(const char* hex = "") : buffer(BytesFromHex(hex)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefCount(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseCount(); }

    STDMETHODIMP GetBuffer(XBlob** out) override;
    STDMETHODIMP Lock() override;
    STDMETHODIMP Unlock() override;

    XBlob buffer;
    HRESULT getBufferResult = S_OK; // a failure is returned without a buffer
    bool handOutNull = false;       // succeed, but hand out a null buffer
    int locks = 0;
    int unlocks = 0;
    int getBufferCalls = 0;
    bool getBufferWhileUnlocked = false;
};

// The blob double after a call: locks balanced, references back to the
// test's own one, and the buffer taken only while locked.
testing::AssertionResult Balanced(const FakeBlob& blob);

// Installs an error record that a later call must not leave behind.
void PlantStaleRecord();

// --- every path balances the blobs: one row shape for every class -------------------------

// One blob double handed to a member.
struct BlobArg {
    std::string bytes;             // its bytes, as hex
    HRESULT getBuffer = S_OK;      // what its GetBuffer answers
    bool nullBuffer = false;       // GetBuffer succeeds without a buffer
    int locks = 1;                 // how often the call must lock it (0: not used)
    const char* after = nullptr;   // its bytes afterwards; null: unchanged
};

// A member as the balance table calls it: the doubles and an out-pointer that
// points at a sentinel blob.  `takesSecond`: the second double is an argument;
// `returnsBlob`: the member hands out a new blob through the out-pointer.
struct BalanceMember {
    const char* name;
    std::function<HRESULT(IDispatch* first, IDispatch* second, IDispatch** result)> call;
    bool takesSecond = false;
    bool returnsBlob = false;
    bool keepsResultOnFailure = false; // a failure leaves the out-pointer as it was, instead of clearing it
};

// One path of one member and what it must answer.
struct BalanceRow {
    const char* name;
    const BalanceMember* member;
    BlobArg first;
    BlobArg second; // only for members that take it
    HRESULT expected;
    const wchar_t* record; // the error record's description, or null for none
    const GUID* recordGuid = &GUID_NULL; // its GUID: an argument check names the interface
};

// Runs the row over fresh doubles after planting a stale error record, and
// checks: the HRESULT; each double locked as often as the row says, unlocked
// as often, its references given back, its buffer taken only while locked and
// its bytes as the row says; the sentinel untouched; a blob handed out exactly
// when the call succeeds and the out-pointer cleared when it fails (or
// left alone, for members that keep it); and the
// error record, with this source and the row's GUID, or none at all (the stale
// one gone).  Returns the result blob, if any, for the caller's own checks.
ComPtr<IDispatch> RunBalanceRow(const BalanceRow& row, const std::wstring& source);

// --- late binding, the way script hosts call -------------------------------------------

// The DISPID of a name (a failure is reported as a test failure).
DISPID IdOf(IDispatch* object, const wchar_t* name);

// Expects each name, in whatever case it is written, to resolve to its DISPID.
struct NamedId {
    const wchar_t* name;
    DISPID id;
};
void ExpectIds(IDispatch* object, std::initializer_list<NamedId> names);

// What one IDispatch::Invoke gave: its HRESULT, the result, and from the
// exception information the scode, description and source.
struct Invoked {
    HRESULT hr = E_UNEXPECTED;
    VARIANT result;
    HRESULT scode = S_OK;
    std::wstring description;
    std::wstring source;

    Invoked() { VariantInit(&result); }
    Invoked(Invoked&& other) noexcept
        : hr(other.hr), result(other.result), scode(other.scode), description(std::move(other.description)),
          source(std::move(other.source))
    {
        VariantInit(&other.result);
    }
    Invoked(const Invoked&) = delete;
    Invoked& operator=(const Invoked&) = delete;
    ~Invoked() { VariantClear(&result); }
};

// Invokes with the arguments in script order; a put passes its value as the
// named DISPID_PROPERTYPUT argument.  The arguments stay owned by the caller.
void Invoke(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> args, Invoked& out);

// Arguments for Invoke.  They own nothing: the caller keeps objects and
// strings alive for the call.
VARIANT LongArg(LONG value);
// VBScript passes small integer literals as VT_I2.
VARIANT ShortArg(SHORT value);
VARIANT ObjectArg(IDispatch* object);
VARIANT StringArg(BSTR text);

} // namespace zeltest
