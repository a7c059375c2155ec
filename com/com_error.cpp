#include "com/com_error.h"

#include "com/com_text.h"

#include <oleauto.h>

namespace zel {

HRESULT ReportError(const char* text, HRESULT hr, REFCLSID clsid, REFGUID guid)
{
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create)))
        return hr;
    BSTR description = nullptr;
    try {
        description = AnsiToBstr(text);
    } catch (...) {
    }
    create->SetDescription(description);
    SysFreeString(description);

    LPOLESTR progId = nullptr;
    if (SUCCEEDED(ProgIDFromCLSID(clsid, &progId)) && progId) {
        create->SetSource(progId);
        CoTaskMemFree(progId);
    }
    create->SetGUID(guid);

    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
    return hr;
}

} // namespace zel
