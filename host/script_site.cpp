#include "host/script_site.h"

#include "host/output.h"
#include "host/script_file.h"

#include <cwctype>

namespace zelhost {

namespace {

std::wstring Lower(std::wstring text)
{
    for (auto& c : text)
        c = wchar_t(std::towlower(c));
    return text;
}

std::wstring Trimmed(const BSTR text)
{
    std::wstring s(text ? text : L"", text ? SysStringLen(text) : 0);
    while (!s.empty() && (s.back() == L'\r' || s.back() == L'\n' || s.back() == L' '))
        s.pop_back();
    return s;
}

} // namespace

ScriptSite* ScriptSite::New()
{
    return new ScriptSite();
}

ScriptSite::~ScriptSite()
{
    ReleaseItems();
}

DWORD ScriptSite::AddSource(const std::wstring& path, ULONG firstLine, const std::wstring& language)
{
    sources_.push_back({path, firstLine, language});
    return DWORD(sources_.size());
}

void ScriptSite::AddItem(const std::wstring& name, IUnknown* item)
{
    IUnknown*& slot = items_[Lower(name)];
    item->AddRef();
    if (slot)
        slot->Release();
    slot = item;
}

void ScriptSite::ReleaseItems()
{
    for (auto& entry : items_)
        entry.second->Release();
    items_.clear();
}

STDMETHODIMP ScriptSite::QueryInterface(REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(IActiveScriptSite))) {
        *out = static_cast<IActiveScriptSite*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ScriptSite::AddRef()
{
    return ULONG(InterlockedIncrement(&refs_));
}

STDMETHODIMP_(ULONG) ScriptSite::Release()
{
    const LONG left = InterlockedDecrement(&refs_);
    if (!left)
        delete this;
    return ULONG(left);
}

STDMETHODIMP ScriptSite::GetLCID(LCID*)
{
    return E_NOTIMPL;  // the user's default
}

STDMETHODIMP ScriptSite::GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info)
{
    if (item)
        *item = nullptr;
    if (info)
        *info = nullptr;
    if (!name)
        return E_INVALIDARG;
    const auto found = items_.find(Lower(name));
    if (found == items_.end())
        return TYPE_E_ELEMENTNOTFOUND;
    if (mask & SCRIPTINFO_IUNKNOWN) {
        if (!item)
            return E_POINTER;
        *item = found->second;
        (*item)->AddRef();
    }
    if (mask & SCRIPTINFO_ITYPEINFO) {
        if (!info)
            return E_POINTER;
        IDispatch* dispatch = nullptr;
        if (SUCCEEDED(found->second->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
            if (FAILED(dispatch->GetTypeInfo(0, 0, info)))
                *info = nullptr;
            dispatch->Release();
        }
        if (!*info && !(mask & SCRIPTINFO_IUNKNOWN))
            return TYPE_E_ELEMENTNOTFOUND;
    }
    return S_OK;
}

STDMETHODIMP ScriptSite::GetDocVersionString(BSTR*)
{
    return E_NOTIMPL;
}

STDMETHODIMP ScriptSite::OnScriptTerminate(const VARIANT*, const EXCEPINFO*)
{
    return S_OK;
}

STDMETHODIMP ScriptSite::OnStateChange(SCRIPTSTATE)
{
    return S_OK;
}

STDMETHODIMP ScriptSite::OnScriptError(IActiveScriptError* error)
{
    if (!error)
        return E_POINTER;

    EXCEPINFO exception = {};
    error->GetExceptionInfo(&exception);
    if (exception.pfnDeferredFillIn)
        exception.pfnDeferredFillIn(&exception);
    DWORD cookie = 0;
    ULONG line = 0;
    LONG column = 0;
    error->GetSourcePosition(&cookie, &line, &column);

    std::wstring where = L"(unknown script)", language = L"Script";
    ULONG firstLine = 0;
    if (cookie >= 1 && cookie <= sources_.size()) {
        where = sources_[cookie - 1].path;
        firstLine = sources_[cookie - 1].firstLine;
        language = sources_[cookie - 1].language;
    }
    // Engines leave out the texts of some errors (a division by zero comes
    // as DISP_E_DIVBYZERO alone, a VBScript syntax error as E_FAIL): the
    // usual wording stands in.
    std::wstring source = Trimmed(exception.bstrSource);
    std::wstring description = Trimmed(exception.bstrDescription);
    const long code = exception.scode ? long(exception.scode) : long(exception.wCode);
    if (description.empty() && source.size() >= 17 && source.compare(source.size() - 17, 17, L"compilation error") == 0)
        description = L"Syntax error";
    if (description.empty())
        description = DispatchErrorText(code);
    if (description.empty())
        description = ErrorText(code);
    if (source.empty())
        source = language + L" runtime error";
    errors_.push_back({code, where + L"(" + std::to_wstring(firstLine + line + 1) + L", " +
                                 std::to_wstring(column + 1) + L") " + source + L": " + description});
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    return S_OK;
}

bool ScriptSite::PrintFailure() const
{
    if (errors_.empty())
        return false;
    const Error* chosen = &errors_.back();
    for (size_t i = errors_.size(); i-- > 0;) {
        if (errors_[i].code != long(SCRIPT_E_REPORTED)) {
            chosen = &errors_[i];
            break;
        }
    }
    StdErr().WriteLine(chosen->text);
    return true;
}

STDMETHODIMP ScriptSite::OnEnterScript()
{
    return S_OK;
}

STDMETHODIMP ScriptSite::OnLeaveScript()
{
    return S_OK;
}

} // namespace zelhost
