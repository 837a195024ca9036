#include "plugin/com/tavrin_com.h"

#include <wrl/client.h>

#include "plugin/show_gui.h"
#include "plugin/check_run.h"
#include "plugin/com/error_info.h"

#include <utility>

using Microsoft::WRL::ComPtr;

namespace tavrin::com {

namespace {

// The vtable half of the dual interface, from the type library in this DLL. ITypeInfo::Invoke
// calls through the vtable only with this one; the dispatch half would send the call back
// to IDispatch::Invoke.
ComPtr<ITypeInfo> LoadInterfaceTypeInfo() {
    ComPtr<ITypeLib> library;
    ThrowIfFailed(::LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &library));
    ComPtr<ITypeInfo> info;
    ThrowIfFailed(library->GetTypeInfoOfGuid(IID__TavrinCom, &info));
    TYPEATTR* attr = nullptr;
    ThrowIfFailed(info->GetTypeAttr(&attr));
    const bool dispatchHalf = attr->typekind == TKIND_DISPATCH;
    info->ReleaseTypeAttr(attr);
    if (dispatchHalf) {
        HREFTYPE vtableHalf = 0;
        ThrowIfFailed(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableHalf));
        ComPtr<ITypeInfo> vtableInfo;
        ThrowIfFailed(info->GetRefTypeInfo(vtableHalf, &vtableInfo));
        info = std::move(vtableInfo);
    }
    return info;
}

}  // namespace

// A new object has no reference of its own: the ComPtr takes the first one. (MinGW's
// ComPtr::Attach adds a reference, unlike the WRL original, so it is not used here.)
ComPtr<TavrinCom> TavrinCom::Create() {
    ComPtr<ITypeInfo> typeInfo = LoadInterfaceTypeInfo();
    return ComPtr<TavrinCom>(new TavrinCom(std::move(typeInfo)));
}

TavrinCom::TavrinCom(ComPtr<ITypeInfo> typeInfo)
    : typeInfo_(std::move(typeInfo)), form_(std::make_unique<dialog::frmmain>()) {}

TavrinCom::~TavrinCom() = default;

// --- IUnknown ---

HRESULT STDMETHODCALLTYPE TavrinCom::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID__TavrinCom) {
        *object = static_cast<_TavrinCom*>(this);
    } else if (riid == IID_ISupportErrorInfo) {
        *object = static_cast<ISupportErrorInfo*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE TavrinCom::AddRef() { return ++references_; }

ULONG STDMETHODCALLTYPE TavrinCom::Release() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

// --- IDispatch ---

HRESULT STDMETHODCALLTYPE TavrinCom::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TavrinCom::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return typeInfo_.CopyTo(info);
}

HRESULT STDMETHODCALLTYPE TavrinCom::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return typeInfo_->GetIDsOfNames(names, count, ids);
}

HRESULT STDMETHODCALLTYPE TavrinCom::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                            VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ::SetErrorInfo(0, nullptr);
    return typeInfo_->Invoke(static_cast<_TavrinCom*>(this), id, flags, params, result, exception, argumentError);
}

// --- _TavrinCom ---

HRESULT STDMETHODCALLTYPE TavrinCom::sa_docheck(VARIANT_BOOL* result) {
    if (result == nullptr) return E_POINTER;
    *result = VARIANT_FALSE;
    // The wait pumps the thread's messages, and a host may release its last reference from
    // inside them: the object stays alive until the call is over.
    const Microsoft::WRL::ComPtr<TavrinCom> keepAlive(this);
    return Guarded(IID__TavrinCom, [&] {
        *result = plugin::sa_docheck(*this) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE TavrinCom::sa_showGUI() {
    const Microsoft::WRL::ComPtr<TavrinCom> keepAlive(this);  // as in sa_docheck: the dialog pumps too
    return Guarded(IID__TavrinCom, [&] {
        plugin::sa_showGUI(*this);
        return S_OK;
    });
}

HRESULT TavrinCom::Put(VariantValue& property, const VARIANT& value) noexcept {
    return Guarded(IID__TavrinCom, [&] {
        property.Store(value);
        return S_OK;
    });
}

HRESULT TavrinCom::Get(const VariantValue& property, VARIANT* value) noexcept {
    if (value == nullptr) return E_POINTER;
    ::VariantInit(value);
    return Guarded(IID__TavrinCom, [&] {
        property.CopyTo(value);
        return S_OK;
    });
}

// No part of the component reads a resource text: the method takes the text and keeps nothing.
HRESULT STDMETHODCALLTYPE TavrinCom::SetResource(BSTR) { return S_OK; }

// --- ISupportErrorInfo ---

HRESULT STDMETHODCALLTYPE TavrinCom::InterfaceSupportsErrorInfo(REFIID riid) {
    return riid == IID__TavrinCom ? S_OK : S_FALSE;
}

// --- plugin::ObjectAccess ---

std::int16_t TavrinCom::TimeoutAsInteger16() { return ToInteger16(sa_timeout_.get()); }
std::u16string TavrinCom::TimeoutAsText() { return ToText(sa_timeout_.get()); }
std::u16string TavrinCom::HostnameAsText() { return ToText(sa_hostname_.get()); }
std::u16string TavrinCom::ParameterAsText() { return ToText(sa_parameter_.get()); }
void TavrinCom::PutResult(const std::u16string& text) { sa_result_.StoreText(text); }
void TavrinCom::PutParameter(const std::u16string& text) { sa_parameter_.StoreText(text); }
dialog::frmmain& TavrinCom::Form() { return *form_; }

}  // namespace tavrin::com
