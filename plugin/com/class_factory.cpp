#include "plugin/com/class_factory.h"

#include "plugin/com/comTavrin.h"
#include "plugin/com/error_info.h"
#include "plugin/com/module.h"
#include "plugin/com/tavrin_com.h"

namespace tavrin::com {

HRESULT STDMETHODCALLTYPE ClassFactory::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ClassFactory::AddRef() {
    LockModule();
    return 2;
}

ULONG STDMETHODCALLTYPE ClassFactory::Release() {
    UnlockModule();
    return 1;
}

HRESULT STDMETHODCALLTYPE ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return Guarded(IID_IClassFactory, [&] { return TavrinCom::Create()->QueryInterface(riid, object); });
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL lock) {
    if (lock) {
        LockModule();
    } else {
        UnlockModule();
    }
    return S_OK;
}

ClassFactory& TheClassFactory() noexcept {
    static ClassFactory factory;
    return factory;
}

}  // namespace tavrin::com
