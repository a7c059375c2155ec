#include "com/com_module.h"

namespace zel {

namespace {
volatile LONG g_lockCount = 0;
}

HMODULE ModuleHandle()
{
    // The module that contains this function: the DLL this library is linked into.
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ModuleHandle), &module);
    return module;
}

std::wstring ModulePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(ModuleHandle(), &path[0], DWORD(path.size()));
        if (n == 0)
            return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void ModuleLock()
{
    InterlockedIncrement(&g_lockCount);
}

void ModuleUnlock()
{
    InterlockedDecrement(&g_lockCount);
}

LONG ModuleLockCount()
{
    return InterlockedCompareExchange(&g_lockCount, 0, 0);
}

} // namespace zel
