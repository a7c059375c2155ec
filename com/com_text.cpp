#include "com/com_text.h"

#include <cstring>
#include <new>

namespace zel {

BSTR AnsiToBstr(const char* text, int length)
{
    if (!text)
        return nullptr;
    if (length < 0)
        length = int(std::strlen(text));
    const int wide = length ? MultiByteToWideChar(CP_THREAD_ACP, 0, text, length, nullptr, 0) : 0;
    if (length && wide <= 0)
        throw std::bad_alloc();
    BSTR result = SysAllocStringLen(nullptr, UINT(wide));
    if (!result)
        throw std::bad_alloc();
    if (wide)
        MultiByteToWideChar(CP_THREAD_ACP, 0, text, length, result, wide);
    return result;
}

std::string BstrToAnsi(BSTR text, bool* isNull)
{
    if (isNull)
        *isNull = text == nullptr;
    const int wide = text ? int(SysStringLen(text)) : 0;
    if (!wide)
        return std::string();
    // Converted straight into the result, so that no other copy of the text
    // (often a password) is left behind in freed memory.
    const int n = WideCharToMultiByte(CP_THREAD_ACP, 0, text, wide, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string result(size_t(n), '\0');
    const int written = WideCharToMultiByte(CP_THREAD_ACP, 0, text, wide, &result[0], n, nullptr, nullptr);
    result.resize(written > 0 ? size_t(written) : 0);
    return result;
}

} // namespace zel
