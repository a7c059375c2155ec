#include "objects/object_base.h"

#include "com/com_error.h"

#include <initguid.h> // defines the IIDs that asptlb.h declares, in this file only
#include <asptlb.h>

HRESULT ClassIdentity::ReportError(const char* text, HRESULT hr, REFGUID guid) const
{
    return zel::ReportError(text, hr, clsid, guid);
}

HRESULT ClassIdentity::ReportAlarm(const XAlarm& alarm) const
{
    char text[257];
    alarm.Text(text, 256);
    return ReportError(text, E_FAIL, GUID_NULL);
}

HRESULT PageEvents::Start(IUnknown* context, const ClassIdentity& identity)
{
    if (!context)
        return E_POINTER;
    // A second page start without an end in between: let go of the old page first.
    End();
    IScriptingContext* scripting = nullptr;
    HRESULT hr = context->QueryInterface(IID_IScriptingContext, reinterpret_cast<void**>(&scripting));
    if (FAILED(hr) || !scripting)
        return identity.ReportError("Can't obtain ScriptingContext", FAILED(hr) ? hr : E_NOINTERFACE, GUID_NULL);
    IRequest* request = nullptr;
    hr = scripting->get_Request(&request);
    if (FAILED(hr)) {
        scripting->Release();
        return identity.ReportError("Can't obtain Request object", hr, GUID_NULL);
    }
    request_ = request;
    scripting->Release();
    return S_OK;
}

HRESULT PageEvents::End()
{
    if (request_) {
        IRequest* request = request_;
        request_ = nullptr;
        request->Release();
    }
    return S_OK;
}
