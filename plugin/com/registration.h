#pragma once
// The component's registration: the class under its CLSID and ProgID as an in-process
// server (ThreadingModel Apartment), its interface, and its type library.
//
// Machine scope writes under HKEY_LOCAL_MACHINE\Software\Classes (DllRegisterServer); user
// scope under HKEY_CURRENT_USER\Software\Classes (DllInstall with "user", for people without
// administrator rights). The type library keys are written here too, in the layout that
// RegisterTypeLib uses, so that both scopes get the same entries and unregistration can remove
// exactly what was written.

#include <windows.h>

#include <string>

namespace tavrin::com {

enum class RegistrationScope { Machine, User };

// The HKEY and path below which the scope's classes live.
HKEY ScopeRoot(RegistrationScope scope) noexcept;
extern const wchar_t kClassesPath[];  // L"Software\\Classes"

// Writes every entry for the server at modulePath. On failure, removes what it wrote and
// returns the failing HRESULT (SELFREG_E_CLASS when the system gave no reason).
HRESULT RegisterServer(RegistrationScope scope, const std::wstring& modulePath) noexcept;

// Removes the entries (modulePath: where the type library is read from). Keys that are not there are no failure. The type library's version
// key is removed only when no other platform (win32 / win64) remains registered in it.
HRESULT UnregisterServer(RegistrationScope scope, const std::wstring& modulePath) noexcept;

}  // namespace tavrin::com
