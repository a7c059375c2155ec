#include "host/wscript_object.h"

#include "host/dispatch_object.h"
#include "host/output.h"
#include "host/script_file.h"

#include <oaidl.h>

namespace zelhost {

namespace {

// WScript.StdOut and WScript.StdErr.
class TextStream : public DispatchObject {
public:
    explicit TextStream(OutputStream& stream)
        : DispatchObject({{L"Write", 1}, {L"WriteLine", 2}, {L"WriteBlankLines", 3}, {L"Close", 4}}), stream_(stream)
    {
    }

protected:
    HRESULT Call(DISPID member, WORD, const std::vector<VARIANT*>& args, VARIANT*, EXCEPINFO*) override
    {
        std::wstring text;
        switch (member) {
        case 1:
        case 2: {
            if (args.size() > 1 || (member == 1 && args.empty()))
                return DISP_E_BADPARAMCOUNT;
            if (!args.empty()) {
                const HRESULT hr = ValueText(*args[0], text);
                if (FAILED(hr))
                    return hr;
            }
            if (member == 2)
                text += L"\r\n";
            stream_.Write(text);
            return S_OK;
        }
        case 3: {
            long lines = 0;
            if (args.size() != 1)
                return DISP_E_BADPARAMCOUNT;
            const HRESULT hr = IntegerValue(*args[0], lines);
            if (FAILED(hr))
                return hr;
            for (long i = 0; i < lines; ++i)
                text += L"\r\n";
            stream_.Write(text);
            return S_OK;
        }
        case 4:
            return args.empty() ? S_OK : DISP_E_BADPARAMCOUNT;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    OutputStream& stream_;
};

// For Each over WScript.Arguments.
class ArgumentEnumerator : public IEnumVARIANT {
public:
    ArgumentEnumerator(std::vector<std::wstring> items, ULONG next) : items_(std::move(items)), next_(next) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumVARIANT)) {
            *out = static_cast<IEnumVARIANT*>(this);
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

    STDMETHODIMP Next(ULONG count, VARIANT* out, ULONG* fetched) override
    {
        if (!out && count)
            return E_POINTER;
        ULONG n = 0;
        for (; n < count && next_ < items_.size(); ++n, ++next_) {
            VariantInit(&out[n]);
            if (FAILED(ReturnText(&out[n], items_[next_])))
                break;
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override
    {
        const ULONG left = ULONG(items_.size()) - next_;
        next_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override
    {
        next_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumVARIANT** out) override
    {
        if (!out)
            return E_POINTER;
        *out = new ArgumentEnumerator(items_, next_);
        return S_OK;
    }

private:
    virtual ~ArgumentEnumerator() = default;
    std::vector<std::wstring> items_;
    ULONG next_;
    LONG refs_ = 1;
};

// WScript.Arguments: Item(i) (the default member), Count(), Length, For Each.
class Arguments : public DispatchObject {
public:
    explicit Arguments(std::vector<std::wstring> items)
        : DispatchObject({{L"Item", DISPID_VALUE}, {L"Count", 1}, {L"Length", 2}, {L"_NewEnum", DISPID_NEWENUM}}),
          items_(std::move(items))
    {
    }

protected:
    HRESULT Call(DISPID member, WORD, const std::vector<VARIANT*>& args, VARIANT* result,
                 EXCEPINFO* exception) override
    {
        switch (member) {
        case DISPID_VALUE: {
            if (args.size() != 1)
                return DISP_E_BADPARAMCOUNT;
            long index = 0;
            const HRESULT hr = IntegerValue(*args[0], index);
            if (FAILED(hr))
                return hr;
            if (index < 0 || size_t(index) >= items_.size())
                return Fail(exception, DISP_E_BADINDEX, L"WScript.Arguments", L"Subscript out of range");
            return ReturnText(result, items_[size_t(index)]);
        }
        case 1:
        case 2:
            if (!args.empty())
                return DISP_E_BADPARAMCOUNT;
            if (result) {
                V_VT(result) = VT_I4;
                V_I4(result) = LONG(items_.size());
            }
            return S_OK;
        case DISPID_NEWENUM:
            if (!args.empty())
                return DISP_E_BADPARAMCOUNT;
            if (result) {
                V_VT(result) = VT_UNKNOWN;
                V_UNKNOWN(result) = new ArgumentEnumerator(items_, 0);
            }
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    std::vector<std::wstring> items_;
};

enum : DISPID {
    kEcho = 1,
    kArguments,
    kQuit,
    kScriptName,
    kScriptFullName,
    kCreateObject,
    kSleep,
    kStdOut,
    kStdErr,
};

class WScript : public DispatchObject {
public:
    explicit WScript(const ScriptInfo& info)
        : DispatchObject({{L"Echo", kEcho},
                          {L"Arguments", kArguments},
                          {L"Quit", kQuit},
                          {L"ScriptName", kScriptName},
                          {L"ScriptFullName", kScriptFullName},
                          {L"CreateObject", kCreateObject},
                          {L"Sleep", kSleep},
                          {L"StdOut", kStdOut},
                          {L"StdErr", kStdErr}}),
          info_(info), arguments_(new Arguments(info.arguments)),
          stdOut_(new TextStream(StdOut())), stdErr_(new TextStream(StdErr()))
    {
    }

protected:
    ~WScript() override
    {
        arguments_->Release();
        stdOut_->Release();
        stdErr_->Release();
    }

    HRESULT Call(DISPID member, WORD flags, const std::vector<VARIANT*>& args, VARIANT* result,
                 EXCEPINFO* exception) override
    {
        switch (member) {
        case kEcho: {
            std::wstring line;
            for (size_t i = 0; i < args.size(); ++i) {
                std::wstring text;
                const HRESULT hr = ValueText(*args[i], text);
                if (FAILED(hr))
                    return hr;
                line += (i ? L" " : L"") + text;
            }
            StdOut().WriteLine(line);
            return S_OK;
        }
        case kArguments:
            // WScript.Arguments(0): the collection's default member.
            if (!args.empty()) {
                DISPPARAMS params = {};
                std::vector<VARIANT> reversed;
                for (size_t i = args.size(); i-- > 0;)
                    reversed.push_back(*args[i]);
                params.rgvarg = reversed.data();
                params.cArgs = UINT(reversed.size());
                return arguments_->Invoke(DISPID_VALUE, IID_NULL, 0, flags, &params, result, exception, nullptr);
            }
            return ReturnObject(result, arguments_);
        case kQuit: {
            long code = 0;
            if (args.size() > 1)
                return DISP_E_BADPARAMCOUNT;
            if (!args.empty() && V_VT(args[0]) != VT_EMPTY && V_VT(args[0]) != VT_ERROR) {
                const HRESULT hr = IntegerValue(*args[0], code);
                if (FAILED(hr))
                    return hr;
            }
            info_.quit(int(code));
            return S_OK;
        }
        case kScriptName:
            return args.empty() ? ReturnText(result, FileName(info_.path)) : DISP_E_BADPARAMCOUNT;
        case kScriptFullName:
            return args.empty() ? ReturnText(result, FullPath(info_.path)) : DISP_E_BADPARAMCOUNT;
        case kCreateObject:
            return CreateObject(args, result, exception);
        case kSleep: {
            long ms = 0;
            if (args.size() != 1)
                return DISP_E_BADPARAMCOUNT;
            const HRESULT hr = IntegerValue(*args[0], ms);
            if (FAILED(hr))
                return hr;
            if (ms < 0)
                return Fail(exception, E_INVALIDARG, L"WScript.Sleep", L"The time to sleep cannot be negative");
            Sleep(DWORD(ms));
            return S_OK;
        }
        case kStdOut:
            return args.empty() ? ReturnObject(result, stdOut_) : DISP_E_BADPARAMCOUNT;
        case kStdErr:
            return args.empty() ? ReturnObject(result, stdErr_) : DISP_E_BADPARAMCOUNT;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    static HRESULT ReturnObject(VARIANT* result, IDispatch* object)
    {
        if (result) {
            V_VT(result) = VT_DISPATCH;
            V_DISPATCH(result) = object;
            object->AddRef();
        }
        return S_OK;
    }

    HRESULT CreateObject(const std::vector<VARIANT*>& args, VARIANT* result, EXCEPINFO* exception)
    {
        static const wchar_t kSource[] = L"WScript.CreateObject";
        if (args.empty() || args.size() > 2)
            return DISP_E_BADPARAMCOUNT;
        std::wstring progId, prefix;
        HRESULT hr = ValueText(*args[0], progId);
        if (SUCCEEDED(hr) && args.size() == 2 && V_VT(args[1]) != VT_ERROR)
            hr = ValueText(*args[1], prefix);
        if (FAILED(hr))
            return hr;
        if (!prefix.empty())
            return Fail(exception, E_NOTIMPL, kSource, L"This host does not connect to an object's events");
        CLSID clsid;
        hr = CLSIDFromProgID(progId.c_str(), &clsid);
        if (FAILED(hr))
            return Fail(exception, hr, kSource, L"Could not locate automation class named \"" + progId + L"\".");
        IDispatch* object = nullptr;
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object));
        if (FAILED(hr)) {
            const std::wstring why = SystemMessage(hr);
            return Fail(exception, hr, kSource,
                        L"Could not create object named \"" + progId + L"\"." + (why.empty() ? L"" : L" " + why));
        }
        if (result) {
            V_VT(result) = VT_DISPATCH;
            V_DISPATCH(result) = object;
        } else {
            object->Release();
        }
        return S_OK;
    }

    ScriptInfo info_;
    IDispatch* arguments_;
    IDispatch* stdOut_;
    IDispatch* stdErr_;
};

} // namespace

IDispatch* NewWScriptObject(const ScriptInfo& info)
{
    return new WScript(info);
}

} // namespace zelhost
