// The WScript object every script of the host sees: Echo, Arguments, Quit,
// ScriptName, ScriptFullName, CreateObject, Sleep, StdOut and StdErr.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace zelhost {

struct ScriptInfo {
    std::wstring path;                    // the script's path as given on the command line
    std::vector<std::wstring> arguments;  // what followed it
    void (*quit)(int code);               // ends the run with an exit code; does not return
};

// A new WScript object (one reference, the caller's).
IDispatch* NewWScriptObject(const ScriptInfo& info);

} // namespace zelhost
