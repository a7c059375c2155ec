// Running a job: script blocks in one or more languages, each language on an
// engine of its own, the engines sharing their global names, with the
// constants of the referenced type libraries and the WScript object.
#pragma once

#include "host/wscript_object.h"

#include <string>
#include <vector>

namespace zelhost {

struct ScriptBlock {
    std::wstring language;        // the engine's ProgID: VBScript, JScript
    std::wstring code;
    std::wstring path;            // the file the code comes from, for messages
    unsigned long firstLine = 0;  // 0-based line of that file the code starts on
    unsigned long tagLine = 0;    // 1-based line of a .wsf's <script> tag, 0 for a plain script
};

struct TypeLibReference {
    std::wstring object;   // a ProgID ...
    std::wstring guid;     // ... or a type library id
    std::wstring version;
    std::wstring path;     // the .wsf file and line, for messages
    unsigned long line = 0;
};

struct Job {
    std::vector<ScriptBlock> blocks;
    std::vector<TypeLibReference> references;
};

// Runs the blocks in order until one fails.  Returns 0, or 1 when a script
// or the job itself failed (the error is on standard error).  WScript.Quit
// ends the process from inside (info.quit).
int RunJob(const Job& job, const ScriptInfo& info);

} // namespace zelhost
