#include "host/job.h"

#include "host/output.h"
#include "host/script_file.h"
#include "host/script_site.h"
#include "host/typelib_reference.h"

#include <activscp.h>
#include <dispex.h>

namespace zelhost {

namespace {

struct Engine {
    std::wstring language;
    IActiveScript* script = nullptr;
    IActiveScriptParse* parse = nullptr;
};

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring Where(const std::wstring& path, unsigned long line)
{
    return line ? path + L"(" + std::to_wstring(line) + L")" : path;
}

// Another engine's globals, and the objects read from them, as one engine
// sees them.  Calls pass straight through, except a read of a name without
// arguments: VBScript asks for DISPATCH_METHOD | DISPATCH_PROPERTYGET both
// for reading a variable or a property and for calling a function without
// arguments, and some engines then try to call whatever the name holds,
// which fails for a number, a string or an object.  Here the value is read
// first, and called only when it is a script function (an object with the
// members every function has: call, apply).  A script object that comes
// back (one with IDispatchEx, as the engines' objects have) is seen through
// a view of its own, so that its properties read the same way; the view is
// another COM identity than the object.  Other objects (a blob, WScript)
// pass as they are, so that their own interfaces stay within reach.
class CrossEngineView : public IDispatch {
public:
    explicit CrossEngineView(IDispatch* target) : target_(target) { target_->AddRef(); }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG left = InterlockedDecrement(&refs_);
        if (!left)
            delete this;
        return ULONG(left);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return target_->GetTypeInfoCount(count); }
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override
    {
        return target_->GetTypeInfo(index, lcid, out);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override
    {
        return target_->GetIDsOfNames(riid, names, count, lcid, ids);
    }
    STDMETHODIMP Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override
    {
        HRESULT hr;
        if (flags != (DISPATCH_METHOD | DISPATCH_PROPERTYGET) || !params || params->cArgs) {
            hr = target_->Invoke(member, riid, lcid, flags, params, result, exception, argError);
        } else {
            VARIANT value;
            VariantInit(&value);
            hr = target_->Invoke(member, riid, lcid, DISPATCH_PROPERTYGET, params, &value, exception, argError);
            if (SUCCEEDED(hr) && IsFunction(value)) {
                VariantClear(&value);
                hr = target_->Invoke(member, riid, lcid, DISPATCH_METHOD, params, result, exception, argError);
            } else if (result && SUCCEEDED(hr)) {
                *result = value;
            } else {
                VariantClear(&value);
            }
        }
        if (SUCCEEDED(hr) && result && IsScriptObject(*result) && !IsFunction(*result)) {
            IDispatch* object = V_DISPATCH(result);
            V_DISPATCH(result) = new CrossEngineView(object);
            object->Release();
        }
        return hr;
    }

private:
    virtual ~CrossEngineView() { target_->Release(); }

    static bool IsScriptObject(const VARIANT& value)
    {
        if (V_VT(&value) != VT_DISPATCH || !V_DISPATCH(&value))
            return false;
        IDispatchEx* ex = nullptr;
        if (FAILED(V_DISPATCH(&value)->QueryInterface(__uuidof(IDispatchEx), reinterpret_cast<void**>(&ex))))
            return false;
        ex->Release();
        return true;
    }

    static bool IsFunction(const VARIANT& value)
    {
        if (V_VT(&value) != VT_DISPATCH || !V_DISPATCH(&value))
            return false;
        for (const wchar_t* name : {L"call", L"apply"}) {
            DISPID id;
            LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
            if (FAILED(V_DISPATCH(&value)->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
                return false;
        }
        return true;
    }

    IDispatch* target_;
    LONG refs_ = 1;
};

class JobRun {
public:
    explicit JobRun(const ScriptInfo& info) : site_(ScriptSite::New())
    {
        IDispatch* wscript = NewWScriptObject(info);
        site_->AddItem(L"WScript", wscript);
        wscript->Release();
    }

    ~JobRun()
    {
        for (Engine& e : engines_) {
            e.script->Close();
            e.parse->Release();
            e.script->Release();
        }
        site_->ReleaseItems();
        site_->Release();
    }

    int Run(const Job& job)
    {
        for (const ScriptBlock& block : job.blocks)
            if (!FindEngine(block.language) && !AddEngine(block))
                return 1;
        if (!ShareGlobals())
            return 1;
        for (const TypeLibReference& reference : job.references)
            if (!AddReference(reference))
                return 1;
        for (Engine& e : engines_) {
            const HRESULT hr = e.script->SetScriptState(SCRIPTSTATE_STARTED);
            if (FAILED(hr))
                return EngineFailed(e.language, L"cannot start", hr);
        }
        for (const ScriptBlock& block : job.blocks) {
            Engine* e = FindEngine(block.language);
            const DWORD cookie = site_->AddSource(block.path, block.firstLine, block.language);
            site_->ForgetErrors();
            EXCEPINFO exception = {};
            const HRESULT hr = e->parse->ParseScriptText(block.code.c_str(), nullptr, nullptr, nullptr, cookie, 0,
                                                         SCRIPTTEXT_ISVISIBLE, nullptr, &exception);
            SysFreeString(exception.bstrSource);
            SysFreeString(exception.bstrDescription);
            SysFreeString(exception.bstrHelpFile);
            // Errors reported during a block that still succeeded were
            // handled by the script.
            if (FAILED(hr)) {
                if (!site_->PrintFailure())
                    StdErr().WriteLine(block.path + L": the " + block.language + L" engine failed: " + ErrorText(hr));
                return 1;
            }
        }
        return 0;
    }

private:
    int EngineFailed(const std::wstring& language, const std::wstring& what, HRESULT hr)
    {
        StdErr().WriteLine(L"zelhost: " + what + L" the " + language + L" engine: " + ErrorText(hr));
        return 1;
    }

    Engine* FindEngine(const std::wstring& language)
    {
        for (Engine& e : engines_)
            if (SameText(e.language, language))
                return &e;
        return nullptr;
    }

    bool AddEngine(const ScriptBlock& block)
    {
        CLSID clsid;
        HRESULT hr = CLSIDFromProgID(block.language.c_str(), &clsid);
        if (FAILED(hr) && SameText(block.language, L"JavaScript"))
            hr = CLSIDFromProgID(L"JScript", &clsid);
        if (FAILED(hr)) {
            StdErr().WriteLine(Where(block.path, block.tagLine) + L": no script engine for the language \"" +
                               block.language + L"\"");
            return false;
        }
        Engine e;
        e.language = block.language;
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IActiveScript),
                              reinterpret_cast<void**>(&e.script));
        if (SUCCEEDED(hr)) {
            hr = e.script->QueryInterface(__uuidof(IActiveScriptParse), reinterpret_cast<void**>(&e.parse));
            if (FAILED(hr)) {
                e.script->Release();
                e.script = nullptr;
            }
        }
        if (FAILED(hr)) {
            EngineFailed(block.language, L"cannot create", hr);
            return false;
        }
        engines_.push_back(e);
        if (FAILED(hr = e.parse->InitNew()) || FAILED(hr = e.script->SetScriptSite(site_)) ||
            FAILED(hr = e.script->AddNamedItem(L"WScript", SCRIPTITEM_ISVISIBLE))) {
            EngineFailed(block.language, L"cannot set up", hr);
            return false;
        }
        return true;
    }

    // Each engine's global functions and variables are global names for the
    // others: a function of a VBScript block can be called from a JScript
    // block of the same job and the other way round.
    bool ShareGlobals()
    {
        if (engines_.size() < 2)
            return true;
        for (size_t i = 0; i < engines_.size(); ++i) {
            IDispatch* globals = nullptr;
            HRESULT hr = engines_[i].script->GetScriptDispatch(nullptr, &globals);
            if (FAILED(hr))
                return EngineFailed(engines_[i].language, L"cannot reach the globals of", hr) == 0;
            const std::wstring item = L"zelhost.globals." + std::to_wstring(i);
            CrossEngineView* view = new CrossEngineView(globals);
            globals->Release();
            site_->AddItem(item, view);
            view->Release();
            for (size_t j = 0; j < engines_.size(); ++j) {
                if (j == i)
                    continue;
                hr = engines_[j].script->AddNamedItem(item.c_str(), SCRIPTITEM_GLOBALMEMBERS);
                if (FAILED(hr))
                    return EngineFailed(engines_[j].language, L"cannot share globals with", hr) == 0;
            }
        }
        return true;
    }

    // A type library's constants for every engine: through AddTypeLib where
    // the engine takes one, else as the global members of a named item.
    bool AddReference(const TypeLibReference& reference)
    {
        ITypeLib* library = nullptr;
        GUID libId;
        WORD major = 0, minor = 0;
        std::wstring error;
        HRESULT hr = LoadReferencedTypeLib(reference.object, reference.guid, reference.version, &library, libId, major,
                                           minor, error);
        if (FAILED(hr)) {
            StdErr().WriteLine(Where(reference.path, reference.line) + L": <reference>: " + error);
            return false;
        }
        IDispatch* constants = nullptr;
        for (Engine& e : engines_) {
            if (SUCCEEDED(e.script->AddTypeLib(libId, major, minor, 0)))
                continue;
            const std::wstring item = L"zelhost.constants." + std::to_wstring(++constantItems_);
            if (!constants)
                constants = NewConstantsObject(library);
            site_->AddItem(item, constants);
            hr = e.script->AddNamedItem(item.c_str(), SCRIPTITEM_GLOBALMEMBERS);
            if (FAILED(hr)) {
                StdErr().WriteLine(Where(reference.path, reference.line) + L": <reference>: the " + e.language +
                                   L" engine takes no constants: " + ErrorText(hr));
                break;
            }
        }
        if (constants)
            constants->Release();
        library->Release();
        return SUCCEEDED(hr);
    }

    ScriptSite* site_;
    std::vector<Engine> engines_;
    unsigned constantItems_ = 0;
};

} // namespace

int RunJob(const Job& job, const ScriptInfo& info)
{
    JobRun run(info);
    return run.Run(job);
}

} // namespace zelhost
