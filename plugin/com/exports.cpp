// The DLL's entry points (exported through comTavrin.def).

#include "plugin/com/class_factory.h"
#include "plugin/com/comTavrin.h"
#include "plugin/com/module.h"
#include "plugin/com/registration.h"

#include <windows.h>
#include <olectl.h>

#include <cwctype>
#include <new>
#include <string>

using tavrin::com::RegistrationScope;

namespace {

// A registration step with every failure turned into the HRESULT regsvr32 reports.
template <class Step>
HRESULT Registration(Step step) noexcept {
    try {
        return step();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}

HRESULT Register(RegistrationScope scope) noexcept {
    return Registration([scope] { return tavrin::com::RegisterServer(scope, tavrin::com::ModulePath()); });
}

HRESULT Unregister(RegistrationScope scope) noexcept {
    return Registration([scope] { return tavrin::com::UnregisterServer(scope, tavrin::com::ModulePath()); });
}

// DllInstall's command line: empty or "machine" for all users, "user" for the current user.
bool ParseScope(const wchar_t* commandLine, RegistrationScope& scope) {
    std::wstring text = commandLine == nullptr ? std::wstring() : std::wstring(commandLine);
    const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
    while (!text.empty() && blank(text.back())) text.pop_back();
    while (!text.empty() && blank(text.front())) text.erase(text.begin());
    for (auto& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
    if (text.empty() || text == L"machine") {
        scope = RegistrationScope::Machine;
        return true;
    }
    if (text == L"user") {
        scope = RegistrationScope::User;
        return true;
    }
    return false;
}

}  // namespace

extern "C" {

// Records the module handle; nothing else runs under the loader lock.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        tavrin::com::SetModuleHandle(instance);
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_TavrinCom) return CLASS_E_CLASSNOTAVAILABLE;
    return tavrin::com::TheClassFactory().QueryInterface(riid, object);
}

STDAPI DllCanUnloadNow() { return tavrin::com::ModuleLockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() { return Register(RegistrationScope::Machine); }

STDAPI DllUnregisterServer() { return Unregister(RegistrationScope::Machine); }

// regsvr32 /n /i:user registers for the current user only; /u /n /i:user removes that again.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
    RegistrationScope scope{};
    if (!ParseScope(commandLine, scope)) return E_INVALIDARG;
    return install ? Register(scope) : Unregister(scope);
}

}  // extern "C"
