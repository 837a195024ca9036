#pragma once
// The DLL as a whole: its module handle, and the count of what keeps it loaded (live
// objects, references to the class object, server locks) that DllCanUnloadNow reads.

#include <windows.h>

#include <string>

namespace tavrin::com {

// Recorded by DllMain.
void SetModuleHandle(HMODULE module) noexcept;
HMODULE ModuleHandle() noexcept;
// The DLL's full path. Throws std::bad_alloc, HResultError.
std::wstring ModulePath();

void LockModule() noexcept;
void UnlockModule() noexcept;
long ModuleLockCount() noexcept;

// Holds one module lock for its lifetime.
class ModuleReference {
public:
    ModuleReference() noexcept { LockModule(); }
    ~ModuleReference() { UnlockModule(); }
    ModuleReference(const ModuleReference&) = delete;
    ModuleReference& operator=(const ModuleReference&) = delete;
};

}  // namespace tavrin::com
