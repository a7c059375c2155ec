// Script files: their text, and the names a script sees of its own file.
#pragma once

#include <string>

namespace zelhost {

// Reads a whole script file.  A file that starts with a byte-order mark is
// read as UTF-16 (little-endian) or UTF-8; any other as 8-bit text in the
// ANSI code page, as script hosts read scripts.  Returns false, with the
// system's message in `error`, when the file cannot be read.
bool ReadScriptFile(const std::wstring& path, std::wstring& text, std::wstring& error);

// The full path of `path` (relative to the current directory).
std::wstring FullPath(const std::wstring& path);

// The file name without its folder; the folder with its final separator
// ("" when `path` has none).
std::wstring FileName(const std::wstring& path);
std::wstring Folder(const std::wstring& path);

// The lower-case extension with its dot (".vbs"), or "".
std::wstring Extension(const std::wstring& path);

// The system's text for an error code, without a line end; "" when it has none.
std::wstring SystemMessage(long code);

// A text for an error code that is never empty: the system's text (or, for
// the dispatch errors a script engine passes on, the usual wording) followed
// by the code in hex, "Type mismatch (0x80020005)".
std::wstring ErrorText(long code);

// The usual wording of the dispatch and argument errors scripts meet
// ("Division by zero"), "" for other codes.
std::wstring DispatchErrorText(long code);

} // namespace zelhost
