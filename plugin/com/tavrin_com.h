#pragma once
// TavrinCom: the plug-in object that the host creates. Its dual interface _TavrinCom is
// served from the type library embedded in the DLL, so late binding by name, by DISPID and
// early binding through the vtable all reach the same methods.

#include "dialog/frmmain.h"
#include "plugin/com/comTavrin.h"
#include "plugin/com/module.h"
#include "plugin/com/variant_value.h"
#include "plugin/object_access.h"

#include <wrl/client.h>

#include <atomic>
#include <memory>

namespace tavrin::com {

class TavrinCom final : public _TavrinCom, public ISupportErrorInfo, public plugin::ObjectAccess {
public:
    // A new object with one reference, held by the result. Throws on failure.
    static Microsoft::WRL::ComPtr<TavrinCom> Create();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch, from the type library
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

    // _TavrinCom, in slot order. Each property's put_, putref_ and get_ go through Put and Get
    // on its member NAME_ (put and putref store alike, see VariantValue::Store).
#define TAVRIN_VARIANT_PROPERTY(NAME)                                                              \
    HRESULT STDMETHODCALLTYPE put_##NAME(VARIANT value) override { return Put(NAME##_, value); }    \
    HRESULT STDMETHODCALLTYPE putref_##NAME(VARIANT value) override { return Put(NAME##_, value); } \
    HRESULT STDMETHODCALLTYPE get_##NAME(VARIANT* value) override { return Get(NAME##_, value); }

    HRESULT STDMETHODCALLTYPE sa_docheck(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE sa_showGUI() override;
    TAVRIN_VARIANT_PROPERTY(sa_result)
    TAVRIN_VARIANT_PROPERTY(sa_parameter)
    TAVRIN_VARIANT_PROPERTY(sa_timeout)
    TAVRIN_VARIANT_PROPERTY(sa_hostname)
    HRESULT STDMETHODCALLTYPE SetResource(BSTR s) override;
#undef TAVRIN_VARIANT_PROPERTY

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

    // plugin::ObjectAccess: what the check run and the dialog cycle see of the object.
    std::int16_t TimeoutAsInteger16() override;
    std::u16string TimeoutAsText() override;
    std::u16string HostnameAsText() override;
    std::u16string ParameterAsText() override;
    void PutResult(const std::u16string& text) override;
    void PutParameter(const std::u16string& text) override;
    dialog::frmmain& Form() override;

    TavrinCom(const TavrinCom&) = delete;
    TavrinCom& operator=(const TavrinCom&) = delete;

private:
    explicit TavrinCom(Microsoft::WRL::ComPtr<ITypeInfo> typeInfo);
    ~TavrinCom() override;

    static HRESULT Put(VariantValue& property, const VARIANT& value) noexcept;
    static HRESULT Get(const VariantValue& property, VARIANT* value) noexcept;

    ModuleReference moduleReference_;  // first: held until everything else is gone
    std::atomic<ULONG> references_{0};
    Microsoft::WRL::ComPtr<ITypeInfo> typeInfo_;
    VariantValue sa_hostname_;
    VariantValue sa_timeout_;
    VariantValue sa_parameter_;
    VariantValue sa_result_;
    std::unique_ptr<dialog::frmmain> form_;
};

}  // namespace tavrin::com
