// Module-wide state of an in-process server: its handle, its path and the lock
// count that DllCanUnloadNow reads.  Each DLL links its own copy.
#pragma once

#include <windows.h>

#include <string>

namespace zel {

HMODULE ModuleHandle();
std::wstring ModulePath();

void ModuleLock();
void ModuleUnlock();
LONG ModuleLockCount();

// Holds one module lock for as long as it lives (objects, class factory locks).
class ModuleLockHolder {
public:
    ModuleLockHolder() { ModuleLock(); }
    ModuleLockHolder(const ModuleLockHolder&) : ModuleLockHolder() {}
    ModuleLockHolder& operator=(const ModuleLockHolder&) = default;
    ~ModuleLockHolder() { ModuleUnlock(); }
};

} // namespace zel
