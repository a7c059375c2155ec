#include "host/output.h"

namespace zelhost {

OutputStream::OutputStream(DWORD stdHandle) : handle_(GetStdHandle(stdHandle)), console_(false), codePage_(0)
{
    DWORD mode = 0;
    console_ = handle_ && handle_ != INVALID_HANDLE_VALUE && GetConsoleMode(handle_, &mode);
    codePage_ = GetConsoleOutputCP();
    if (!codePage_)
        codePage_ = GetOEMCP();
}

void OutputStream::Write(const std::wstring& text)
{
    if (text.empty() || !handle_ || handle_ == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    if (console_) {
        WriteConsoleW(handle_, text.data(), DWORD(text.size()), &written, nullptr);
        return;
    }
    const int length = int(text.size());
    const int n = WideCharToMultiByte(codePage_, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return;
    std::string bytes(size_t(n), '\0');
    WideCharToMultiByte(codePage_, 0, text.data(), length, &bytes[0], n, nullptr, nullptr);
    // A closed pipe is not the script's error: what cannot be written is dropped.
    WriteFile(handle_, bytes.data(), DWORD(bytes.size()), &written, nullptr);
}

OutputStream& StdOut()
{
    static OutputStream stream(STD_OUTPUT_HANDLE);
    return stream;
}

OutputStream& StdErr()
{
    static OutputStream stream(STD_ERROR_HANDLE);
    return stream;
}

} // namespace zelhost
