// The host's side of the script engines: it hands them the named items
// (WScript and the rest) and reports their errors.
//
// Every piece of script text is parsed with a cookie that names its file and
// the file line its text starts on, so an error reads
//     file(line, column) source: description
// with the line and the column counted from 1 in that file.
//
// Errors are kept, not printed at once: an engine that another engine calls
// (a VBScript block calling a JScript function) reports an error raised in
// it here, and hands the caller only "already reported", even when the
// caller then handles it (On Error Resume Next, try/catch).  So the host
// prints an error only when the block it was running fails, and then the
// last one reported that is not a mere "already reported".
#pragma once

#include <windows.h>
#include <activscp.h>

#include <map>
#include <string>
#include <vector>

namespace zelhost {

class ScriptSite : public IActiveScriptSite {
public:
    // A new site (one reference, the caller's).
    static ScriptSite* New();

    // A cookie for `language` text taken from `path`, whose first line is
    // the file's line `firstLine` (0-based).
    DWORD AddSource(const std::wstring& path, ULONG firstLine, const std::wstring& language);

    // An object the engines may ask for by name (AddNamedItem).
    void AddItem(const std::wstring& name, IUnknown* item);
    // Lets go of every item (before the engines are closed for good).
    void ReleaseItems();

    // Drops the errors kept so far.
    void ForgetErrors() { errors_.clear(); }
    // Prints the error that ended a failed block on standard error; false
    // when no error was reported.
    bool PrintFailure() const;

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetLCID(LCID* lcid) override;
    STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) override;
    STDMETHODIMP GetDocVersionString(BSTR* version) override;
    STDMETHODIMP OnScriptTerminate(const VARIANT* result, const EXCEPINFO* exception) override;
    STDMETHODIMP OnStateChange(SCRIPTSTATE state) override;
    STDMETHODIMP OnScriptError(IActiveScriptError* error) override;
    STDMETHODIMP OnEnterScript() override;
    STDMETHODIMP OnLeaveScript() override;

private:
    ScriptSite() = default;
    virtual ~ScriptSite();

    struct Source {
        std::wstring path;
        ULONG firstLine;
        std::wstring language;
    };
    std::vector<Source> sources_;
    struct Error {
        long code;
        std::wstring text;
    };
    std::map<std::wstring, IUnknown*> items_;  // keys in lower case: item names ignore case
    std::vector<Error> errors_;
    LONG refs_ = 1;
};

} // namespace zelhost
