#pragma once
// The class object of TavrinCom. There is one, with static lifetime; every reference to it
// and every LockServer(TRUE) counts as a module lock, so DllCanUnloadNow stays false while a
// host holds it.

#include <unknwn.h>

namespace tavrin::com {

class ClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;
};

ClassFactory& TheClassFactory() noexcept;

}  // namespace tavrin::com
