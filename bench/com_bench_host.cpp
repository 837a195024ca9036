// The benchmark host for comTavrin.dll: creates comTavrin.TavrinCom through COM from the
// registered class, as a monitoring host does, and drives it late-bound through IDispatch
// (names resolved once per object, then Invoke for each put, sa_docheck and sa_result).
// Every thread that makes an object enters a single-threaded apartment of its own.
//   tavrin-bench-com --mode checks|soak|wait|throughput|concurrency|once|kill-series [options]
// The DLL must be registered in the Wine prefix first (bench/run.sh does: regsvr32 /s).

#include "bench/bench_support.h"
#include "platform/files.h"

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

using Microsoft::WRL::ComPtr;

[[noreturn]] void Fail(const char* what, HRESULT hr) {
    char text[160];
    std::snprintf(text, sizeof text, "%s failed: HRESULT 0x%08lX", what, static_cast<unsigned long>(hr));
    throw std::runtime_error(text);
}

class Apartment {
public:
    Apartment() {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (FAILED(hr)) Fail("CoInitializeEx", hr);
    }
    ~Apartment() { CoUninitialize(); }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
};

class OwnedVariant {
public:
    OwnedVariant() { VariantInit(&v); }
    ~OwnedVariant() { VariantClear(&v); }
    OwnedVariant(const OwnedVariant&) = delete;
    OwnedVariant& operator=(const OwnedVariant&) = delete;
    VARIANT v;
};

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

class ComChecker final : public tavrin::bench::Checker {
public:
    ComChecker() {
        CLSID clsid;
        HRESULT hr = CLSIDFromProgID(L"comTavrin.TavrinCom", &clsid);
        if (FAILED(hr)) Fail("CLSIDFromProgID(comTavrin.TavrinCom)", hr);
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(object_.GetAddressOf()));
        if (FAILED(hr)) Fail("CoCreateInstance", hr);
        hostname_ = Id(L"sa_hostname");
        timeout_ = Id(L"sa_timeout");
        parameter_ = Id(L"sa_parameter");
        result_ = Id(L"sa_result");
        docheck_ = Id(L"sa_docheck");
    }

    bool Check(const std::u16string& host, int timeout, const std::u16string& parameter,
               std::u16string& result) override {
        {
            OwnedVariant value;
            V_VT(&value.v) = VT_BSTR;
            V_BSTR(&value.v) = SysAllocString(Wide(host));
            Put(hostname_, value.v);
        }
        {
            OwnedVariant value;
            V_VT(&value.v) = VT_I4;
            V_I4(&value.v) = timeout;
            Put(timeout_, value.v);
        }
        {
            OwnedVariant value;
            V_VT(&value.v) = VT_BSTR;
            V_BSTR(&value.v) = SysAllocString(Wide(parameter));
            Put(parameter_, value.v);
        }
        OwnedVariant up;
        Call(docheck_, DISPATCH_METHOD, nullptr, up.v, "sa_docheck");
        OwnedVariant text;
        Call(result_, DISPATCH_PROPERTYGET, nullptr, text.v, "sa_result");
        if (V_VT(&text.v) != VT_BSTR) {
            const HRESULT hr = VariantChangeType(&text.v, &text.v, 0, VT_BSTR);
            if (FAILED(hr)) Fail("sa_result as text", hr);
        }
        const BSTR b = V_BSTR(&text.v);
        result.assign(reinterpret_cast<const char16_t*>(b), b != nullptr ? SysStringLen(b) : 0);
        return V_VT(&up.v) == VT_BOOL && V_BOOL(&up.v) != VARIANT_FALSE;
    }

private:
    DISPID Id(const wchar_t* name) {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        const HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr)) Fail("GetIDsOfNames", hr);
        return id;
    }

    void Call(DISPID id, WORD flags, DISPPARAMS* params, VARIANT& result, const char* what) {
        DISPPARAMS none{};
        EXCEPINFO exception{};
        UINT argumentError = 0;
        const HRESULT hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params ? params : &none,
                                           &result, &exception, &argumentError);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        if (FAILED(hr)) Fail(what, hr);
    }

    void Put(DISPID id, VARIANT& value) {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{&value, &named, 1, 1};
        DISPPARAMS* p = &params;
        EXCEPINFO exception{};
        UINT argumentError = 0;
        const HRESULT hr =
            object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, p, nullptr, &exception,
                            &argumentError);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        if (FAILED(hr)) Fail("property put", hr);
    }

    Apartment apartment_;  // first in, last out: the object is released inside the apartment
    ComPtr<IDispatch> object_;
    DISPID hostname_ = DISPID_UNKNOWN;
    DISPID timeout_ = DISPID_UNKNOWN;
    DISPID parameter_ = DISPID_UNKNOWN;
    DISPID result_ = DISPID_UNKNOWN;
    DISPID docheck_ = DISPID_UNKNOWN;
};

// The plug-in reads known_hosts in the .ssh folder of the user's profile (the known folder,
// not %USERPROFILE%): the bench's Wine prefix gets a copy of the file there.
void CopyToProfile(const std::u16string& knownHosts) {
    const std::u16string profile = tavrin::platform::UserHomeFolder();
    if (profile.empty()) throw std::runtime_error("the profile folder is not known");
    const std::u16string ssh = profile + u"\\.ssh";
    CreateDirectoryW(Wide(ssh), nullptr);
    if (!CopyFileW(Wide(knownHosts), Wide(ssh + u"\\known_hosts"), FALSE)) {
        throw std::runtime_error("known_hosts could not be copied to the profile folder");
    }
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tavrin;
    return bench::HostMain(argc, argv, [](const bench::Options& options) -> bench::CheckerFactory {
        const std::u16string knownHosts = bench::KnownHostsFile(options);
        if (!knownHosts.empty()) CopyToProfile(knownHosts);
        return [] { return std::make_unique<ComChecker>(); };
    });
}
