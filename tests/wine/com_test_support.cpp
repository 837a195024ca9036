#include "tests/wine/com_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

namespace tavrin::comtest {

std::wstring DllPath() {
    const wchar_t* path = _wgetenv(L"TAVRIN_COM_DLL");
    if (path == nullptr || *path == L'\0') throw std::runtime_error("TAVRIN_COM_DLL is not set");
    std::wstring result = path;
    for (auto& c : result) {
        if (c == L'/') c = L'\\';
    }
    return result;
}

ComDll::ComDll() {
    module_ = ::LoadLibraryW(DllPath().c_str());
    if (module_ == nullptr) throw std::runtime_error("LoadLibrary of the DLL under test failed");
}

ComDll::~ComDll() { ::FreeLibrary(module_); }

FARPROC ComDll::Export(const char* name) const {
    const FARPROC function = ::GetProcAddress(module_, name);
    if (function == nullptr) throw std::runtime_error(std::string("export missing: ") + name);
    return function;
}

// The exports' own types, cast from FARPROC.
template <class Function>
Function As(FARPROC function) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(function));
}

HRESULT ComDll::GetClassObject(REFCLSID clsid, REFIID riid, void** object) const {
    return As<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(Export("DllGetClassObject"))(clsid, riid, object);
}
HRESULT ComDll::CanUnloadNow() const { return As<HRESULT(STDAPICALLTYPE*)()>(Export("DllCanUnloadNow"))(); }
HRESULT ComDll::RegisterServer() const { return As<HRESULT(STDAPICALLTYPE*)()>(Export("DllRegisterServer"))(); }
HRESULT ComDll::UnregisterServer() const {
    return As<HRESULT(STDAPICALLTYPE*)()>(Export("DllUnregisterServer"))();
}
HRESULT ComDll::Install(BOOL install, const wchar_t* commandLine) const {
    return As<HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR)>(Export("DllInstall"))(install, commandLine);
}

ComPtr<IClassFactory> ComDll::Factory() const {
    ComPtr<IClassFactory> factory;
    if (FAILED(GetClassObject(CLSID_TavrinCom, IID_PPV_ARGS(&factory)))) throw std::runtime_error("DllGetClassObject");
    return factory;
}

ComPtr<_TavrinCom> ComDll::CreateObject() const {
    ComPtr<_TavrinCom> object;
    if (FAILED(Factory()->CreateInstance(nullptr, IID__TavrinCom, &object))) throw std::runtime_error("CreateInstance");
    return object;
}

Apartment::Apartment() {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) throw std::runtime_error("CoInitializeEx");
}
Apartment::~Apartment() { ::CoUninitialize(); }

void SetText(VARIANT& v, const wchar_t* text) {
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = ::SysAllocString(text);
}

std::wstring Text(const VARIANT& v) {
    if (V_VT(&v) != VT_BSTR || V_BSTR(&v) == nullptr) return {};
    return std::wstring(V_BSTR(&v), ::SysStringLen(V_BSTR(&v)));
}

std::wstring TakeErrorDescription() {
    ComPtr<IErrorInfo> info;
    if (::GetErrorInfo(0, &info) != S_OK || !info) return {};
    BSTR description = nullptr;
    info->GetDescription(&description);
    std::wstring text = description == nullptr ? L"" : description;
    ::SysFreeString(description);
    return text;
}

}  // namespace tavrin::comtest
