#include "host/script_file.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <vector>

namespace zelhost {

bool ReadScriptFile(const std::wstring& path, std::wstring& text, std::wstring& error)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = SystemMessage(long(HRESULT_FROM_WIN32(GetLastError())));
        return false;
    }
    std::vector<char> bytes;
    char chunk[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, chunk, sizeof chunk, &got, nullptr)) && got)
        bytes.insert(bytes.end(), chunk, chunk + got);
    if (!ok)
        error = SystemMessage(long(HRESULT_FROM_WIN32(GetLastError())));
    CloseHandle(file);
    if (!ok)
        return false;

    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t size = bytes.size();
    text.clear();
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        text.assign(reinterpret_cast<const wchar_t*>(data + 2), (size - 2) / 2);
        return true;
    }
    UINT codePage = CP_ACP;
    size_t start = 0;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        codePage = CP_UTF8;
        start = 3;
    }
    const int length = int(size - start);
    if (!length)
        return true;
    const int n = MultiByteToWideChar(codePage, 0, bytes.data() + start, length, nullptr, 0);
    text.resize(size_t(n > 0 ? n : 0));
    if (n > 0)
        MultiByteToWideChar(codePage, 0, bytes.data() + start, length, &text[0], n);
    return true;
}

std::wstring FullPath(const std::wstring& path)
{
    const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (!n)
        return path;
    std::wstring full(n, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), n, &full[0], nullptr);
    full.resize(written < n ? written : 0);
    return full.empty() ? path : full;
}

static size_t NameStart(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/:");
    return slash == std::wstring::npos ? 0 : slash + 1;
}

std::wstring FileName(const std::wstring& path)
{
    return path.substr(NameStart(path));
}

std::wstring Folder(const std::wstring& path)
{
    return path.substr(0, NameStart(path));
}

std::wstring Extension(const std::wstring& path)
{
    const std::wstring name = FileName(path);
    const size_t dot = name.find_last_of(L'.');
    if (dot == std::wstring::npos)
        return std::wstring();
    std::wstring ext = name.substr(dot);
    for (auto& c : ext)
        c = wchar_t(std::towlower(c));
    return ext;
}

std::wstring SystemMessage(long code)
{
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, DWORD(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(buffer ? buffer : L"", n);
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}

std::wstring DispatchErrorText(long code)
{
    // The system's message table has these on Windows, not always elsewhere.
    switch (HRESULT(code)) {
    case DISP_E_UNKNOWNINTERFACE: return L"Unknown interface";
    case DISP_E_MEMBERNOTFOUND: return L"Object doesn't support this property or method";
    case DISP_E_PARAMNOTFOUND: return L"Parameter not found";
    case DISP_E_TYPEMISMATCH: return L"Type mismatch";
    case DISP_E_UNKNOWNNAME: return L"Unknown name";
    case DISP_E_NONAMEDARGS: return L"No named arguments";
    case DISP_E_BADVARTYPE: return L"Bad variable type";
    case DISP_E_OVERFLOW: return L"Overflow";
    case DISP_E_BADINDEX: return L"Subscript out of range";
    case DISP_E_ARRAYISLOCKED: return L"Memory is locked";
    case DISP_E_BADPARAMCOUNT: return L"Wrong number of arguments or invalid property assignment";
    case DISP_E_PARAMNOTOPTIONAL: return L"Argument not optional";
    case DISP_E_NOTACOLLECTION: return L"Object not a collection";
    case DISP_E_DIVBYZERO: return L"Division by zero";
    case E_INVALIDARG: return L"Invalid procedure call or argument";
    case E_OUTOFMEMORY: return L"Out of memory";
    case E_NOTIMPL: return L"Not implemented";
    case REGDB_E_CLASSNOTREG: return L"Class not registered";
    case CO_E_CLASSSTRING: return L"Invalid class string";
    case TYPE_E_LIBNOTREGISTERED: return L"Library not registered";
    case TYPE_E_CANTLOADLIBRARY: return L"Error loading type library/DLL";
    }
    return std::wstring();
}

std::wstring ErrorText(long code)
{
    std::wstring text = DispatchErrorText(code);
    if (text.empty())
        text = SystemMessage(code);
    wchar_t hex[16];
    swprintf(hex, 16, L"0x%08lX", static_cast<unsigned long>(code));
    return text.empty() ? hex : text + L" (" + hex + L")";
}

} // namespace zelhost
