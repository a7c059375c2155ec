// A small hand-written IDispatch for the host's own objects (WScript, its
// Arguments and output streams, type-library constants): members found by
// name without regard to case, calls dispatched to one virtual function.
// No type information: scripts reach these objects by name only.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace zelhost {

class DispatchObject : public IDispatch {
public:
    struct Member {
        std::wstring name;
        DISPID id;
    };

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** out) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override;

protected:
    explicit DispatchObject(std::vector<Member> members) : members_(std::move(members)) {}
    virtual ~DispatchObject() = default;

    // One call of a member.  `args` are in script order (the first argument
    // first), references to variants already followed.  Returns S_OK, a
    // DISP_E_ code, or DISP_E_EXCEPTION after filling `exception` (Fail).
    virtual HRESULT Call(DISPID member, WORD flags, const std::vector<VARIANT*>& args, VARIANT* result,
                         EXCEPINFO* exception) = 0;

    // Fills `exception` with `source` and `description` and returns DISP_E_EXCEPTION.
    static HRESULT Fail(EXCEPINFO* exception, HRESULT code, const std::wstring& source,
                        const std::wstring& description);

private:
    std::vector<Member> members_;
    LONG refs_ = 1;
};

// The text of a value as a script host shows it: numbers and dates in the
// user's locale, True/False, an object's default value, "" for Empty and
// "Null" for Null.  Fails with DISP_E_TYPEMISMATCH for arrays and values
// that have no text.
HRESULT ValueText(const VARIANT& value, std::wstring& text);

// A whole number argument (a string of digits counts).
HRESULT IntegerValue(const VARIANT& value, long& number);

// Sets `result` (when the caller wants one) to a BSTR copy of `text`.
HRESULT ReturnText(VARIANT* result, const std::wstring& text);

} // namespace zelhost
