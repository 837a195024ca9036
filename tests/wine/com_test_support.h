#pragma once
// What the COM tests share: the DLL under test (loaded by path, its exports called directly),
// the apartment, and small VARIANT helpers.

#include "plugin/com/comTavrin.h"

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <string>

namespace tavrin::comtest {

using Microsoft::WRL::ComPtr;

// The DLL's path from TAVRIN_COM_DLL (set by CTest), with backslashes.
std::wstring DllPath();

// The DLL, loaded with LoadLibrary, and its exports.
class ComDll {
public:
    ComDll();
    ~ComDll();
    ComDll(const ComDll&) = delete;
    ComDll& operator=(const ComDll&) = delete;

    HMODULE module() const { return module_; }
    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** object) const;
    HRESULT CanUnloadNow() const;
    HRESULT RegisterServer() const;
    HRESULT UnregisterServer() const;
    HRESULT Install(BOOL install, const wchar_t* commandLine) const;
    ComPtr<IClassFactory> Factory() const;
    ComPtr<_TavrinCom> CreateObject() const;

private:
    FARPROC Export(const char* name) const;
    HMODULE module_ = nullptr;
};

// Single-threaded apartment for the test program's thread.
class Apartment {
public:
    Apartment();
    ~Apartment();
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
};

// An owned VARIANT for the tests.
class TestVariant {
public:
    TestVariant() { ::VariantInit(&v); }
    ~TestVariant() { ::VariantClear(&v); }
    TestVariant(const TestVariant&) = delete;
    TestVariant& operator=(const TestVariant&) = delete;
    VARIANT v;
};

// Fills an empty VARIANT.
void SetText(VARIANT& v, const wchar_t* text);
std::wstring Text(const VARIANT& v);  // the BSTR of a VT_BSTR value

// The description of the thread's current error information ("" when there is none).
std::wstring TakeErrorDescription();

}  // namespace tavrin::comtest
