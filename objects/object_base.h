// What every scriptable class shares: IUnknown with aggregation, IDispatch
// through the type library, ISupportErrorInfo, the page events and the two
// error reports.  A class derives from CZELCryptoObject<its interface> and
// implements only its own methods.  A class whose interface has grown names
// the newest one and the one it first shipped with,
// CZELCryptoObject<IZELCryptoX2, IZELCryptoX>: both are answered with one
// pointer (the newer begins with the older's vtable), and errors keep
// naming the first one, as they always have.
#pragma once

#include "core/alarm.h"
#include "com/com_dispatch.h"
#include "com/com_object.h"

#include <windows.h>
#include <oaidl.h>

struct IRequest;

// The class identifier and interface identifier a class reports errors with.
struct ClassIdentity {
    const CLSID& clsid;
    const IID& iid;

    // Installs an error record (source: the class's ProgID) and returns hr.
    HRESULT ReportError(const char* text, HRESULT hr, REFGUID guid) const;
    // The alarm's composed text (at most 256 characters) as E_FAIL's record, null GUID.
    HRESULT ReportAlarm(const XAlarm& alarm) const;
};

// Page state kept by every object: the Request object of the active page.
class PageEvents {
public:
    PageEvents() = default;
    PageEvents(const PageEvents&) = delete;
    PageEvents& operator=(const PageEvents&) = delete;
    ~PageEvents() { End(); }

    HRESULT Start(IUnknown* context, const ClassIdentity& identity);
    HRESULT End();
    IRequest* Request() const { return request_; }

private:
    IRequest* request_ = nullptr;
};

template <class Itf, class Original = Itf>
class CZELCryptoObject : public zel::DualDispatch<Itf>, public ISupportErrorInfo, public zel::ComObject {
public:
    ZEL_IUNKNOWN_DELEGATING

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override
    {
        return IsEqualIID(riid, __uuidof(Itf)) || IsEqualIID(riid, __uuidof(Original)) ? S_OK : S_FALSE;
    }

    STDMETHODIMP OnStartPage(IUnknown* piUnk) override { return page_.Start(piUnk, identity_); }
    STDMETHODIMP OnEndPage() override { return page_.End(); }

    const ClassIdentity& Identity() const { return identity_; }

protected:
    CZELCryptoObject(IUnknown* outer, const CLSID& clsid)
        : zel::ComObject(outer), identity_{clsid, __uuidof(Original)}
    {
    }

    void* FindInterface(REFIID riid) override
    {
        if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, __uuidof(Itf)) || IsEqualIID(riid, __uuidof(Original)))
            return static_cast<Itf*>(this);
        if (IsEqualIID(riid, IID_ISupportErrorInfo))
            return static_cast<ISupportErrorInfo*>(this);
        return nullptr;
    }

private:
    const ClassIdentity identity_;
    PageEvents page_;
};
