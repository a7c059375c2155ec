// Standard output and standard error of the host and of the scripts it runs.
//
// A console receives the text as UTF-16 (WriteConsoleW), so every character
// shows.  A file or a pipe receives it in the console's output code page, or
// in the OEM code page when the process has no console, as the system's own
// console script host writes it (a character that code page lacks becomes
// '?'); or, after UseUtf8 (the //utf8 option), in UTF-8, which is what a
// reader outside Windows expects.  Lines end with CR LF.  Nothing is
// buffered: what a script writes to either stream is out before its next
// statement runs.
#pragma once

#include <windows.h>

#include <string>

namespace zelhost {

class OutputStream {
public:
    explicit OutputStream(DWORD stdHandle);
    void Write(const std::wstring& text);
    void WriteLine(const std::wstring& text) { Write(text + L"\r\n"); }
    void UseUtf8() { codePage_ = CP_UTF8; }

private:
    HANDLE handle_;
    bool console_;
    UINT codePage_;
};

OutputStream& StdOut();
OutputStream& StdErr();

} // namespace zelhost
