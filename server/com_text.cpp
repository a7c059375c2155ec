#include "server/com_text.h"

#include "core/wipe.h"

#include <cstring>
#include <new>
#include <vector>

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
    // Twice the UTF-16 length covers every double-byte code page.
    std::vector<char> buffer(size_t(wide) * 2 + 2);
    const int n = WideCharToMultiByte(CP_THREAD_ACP, 0, text, wide, buffer.data(), int(buffer.size()), nullptr,
                                      nullptr);
    std::string result(buffer.data(), n > 0 ? size_t(n) : 0);
    SecureWipe(buffer.data(), buffer.size()); // the text may be a password
    return result;
}

} // namespace zel
