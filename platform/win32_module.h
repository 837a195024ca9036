#pragma once
// For the Windows files of this project only: this module's handle, and the owner of a window.

#include <windows.h>

#include <memory>
#include <type_traits>

namespace tavrin::platform::win32 {

// The module (DLL or program) this code is linked into.
inline HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

struct WindowDestroyer {
    void operator()(HWND window) const noexcept {
        if (IsWindow(window)) DestroyWindow(window);
    }
};
using UniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

}  // namespace tavrin::platform::win32
