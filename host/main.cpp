// zelhost: runs a .vbs, .js or .wsf script on the system's script engines,
// from a console.
//
//   zelhost [//nologo] [//job:<id>] [//utf8] <script> [arguments...]
//
// Options start with "//" and may stand anywhere on the line, as with the
// system's console script host; everything else after the script's path
// goes to the script (WScript.Arguments).  //job:<id> picks a job of a .wsf
// file (the first by default); //utf8 writes UTF-8 to files and pipes
// instead of the OEM code page (see output.h).  Exit status: what WScript.Quit
// passes (0 when the script ends by itself); 1 when the script fails (a
// syntax or runtime error, reported on standard error as
// "file(line, column) source: description") or cannot be run at all.
#include "host/job.h"
#include "host/output.h"
#include "host/script_file.h"
#include "host/wsf.h"
#include "host/wscript_object.h"

#include <windows.h>
#include <objbase.h>

#include <cwctype>

using namespace zelhost;

namespace {

const wchar_t kUsage[] =
    L"usage: zelhost [//nologo] [//job:<id>] [//utf8] <script.vbs|script.js|script.wsf> [arguments...]";

int Fail(const std::wstring& message)
{
    StdErr().WriteLine(L"zelhost: " + message);
    return 1;
}

[[noreturn]] void Quit(int code)
{
    // Output is not buffered: nothing is left to flush.
    ExitProcess(UINT(code));
}

bool IsAbsolute(const std::wstring& path)
{
    return (path.size() >= 2 && path[1] == L':') || (!path.empty() && (path[0] == L'\\' || path[0] == L'/'));
}

// The job of a .wsf file: its scripts (src files read here) and references.
bool LoadWsfJob(const std::wstring& path, const std::wstring& text, const std::wstring& jobId, Job& job)
{
    std::vector<WsfJob> jobs;
    std::wstring error;
    if (!ParseWsf(text, jobs, error))
        return Fail(path + L": " + error) == 0;
    const WsfJob* chosen = &jobs.front();
    if (!jobId.empty()) {
        chosen = nullptr;
        for (const WsfJob& j : jobs)
            if (CompareStringOrdinal(j.id.c_str(), -1, jobId.c_str(), -1, TRUE) == CSTR_EQUAL)
                chosen = &j;
        if (!chosen)
            return Fail(path + L": no job with the id \"" + jobId + L"\"") == 0;
    }
    for (const WsfReference& r : chosen->references) {
        if (r.object.empty() && r.guid.empty())
            return Fail(path + L"(" + std::to_wstring(r.line) + L"): <reference> needs object or guid") == 0;
        job.references.push_back({r.object, r.guid, r.version, path, r.line});
    }
    for (const WsfScript& s : chosen->scripts) {
        const std::wstring where = path + L"(" + std::to_wstring(s.line) + L")";
        if (s.language.empty())
            return Fail(where + L": <script> needs a language") == 0;
        if (!s.src.empty()) {
            ScriptBlock block;
            block.language = s.language;
            block.path = IsAbsolute(s.src) ? s.src : Folder(path) + s.src;
            block.tagLine = s.line;
            if (!ReadScriptFile(block.path, block.code, error))
                return Fail(where + L": cannot read \"" + block.path + L"\": " + error) == 0;
            job.blocks.push_back(block);
        }
        if (s.hasCode) {
            ScriptBlock block;
            block.language = s.language;
            block.code = s.code;
            block.path = path;
            block.firstLine = s.firstLine;
            block.tagLine = s.line;
            job.blocks.push_back(block);
        }
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring path, jobId;
    std::vector<std::wstring> arguments;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg.compare(0, 2, L"//") != 0) {
            if (path.empty())
                path = arg;
            else
                arguments.push_back(arg);
            continue;
        }
        std::wstring option = arg.substr(2);
        for (auto& c : option)
            c = wchar_t(std::towlower(c));
        if (option == L"nologo") {
            // No banner is ever printed.
        } else if (option == L"utf8") {
            StdOut().UseUtf8();
            StdErr().UseUtf8();
        } else if (option.compare(0, 4, L"job:") == 0 && option.size() > 4) {
            jobId = arg.substr(6);
        } else if (option == L"?" || option == L"h" || option == L"help") {
            StdOut().WriteLine(kUsage);
            return 0;
        } else {
            return Fail(L"unknown option " + arg + L"\r\n" + kUsage);
        }
    }
    if (path.empty())
        return Fail(std::wstring(L"no script given\r\n") + kUsage);

    std::wstring text, error;
    if (!ReadScriptFile(path, text, error))
        return Fail(L"cannot open the script file \"" + path + L"\": " + error);

    Job job;
    const std::wstring extension = Extension(path);
    if (extension == L".wsf") {
        if (!LoadWsfJob(path, text, jobId, job))
            return 1;
    } else if (extension == L".vbs" || extension == L".js") {
        if (!jobId.empty())
            return Fail(L"//job applies to .wsf files only");
        ScriptBlock block;
        block.language = extension == L".vbs" ? L"VBScript" : L"JScript";
        block.code = text;
        block.path = path;
        job.blocks.push_back(block);
    } else {
        return Fail(L"\"" + path + L"\": unknown script type (a script is a .vbs, .js or .wsf file)");
    }

    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr))
        return Fail(L"cannot initialise COM");
    const ScriptInfo info{path, arguments, Quit};
    const int status = RunJob(job, info);
    CoUninitialize();
    return status;
}
