#include "platform/detached_thread.h"

#include <windows.h>

#include <memory>

namespace tavrin::platform {

namespace {

struct DetachedStart {
    std::function<void()> work;
    HMODULE module;
};

DWORD WINAPI DetachedEntry(LPVOID parameter) {
    HMODULE held = nullptr;
    {
        std::unique_ptr<DetachedStart> owned(static_cast<DetachedStart*>(parameter));
        held = owned->module;
        try {
            owned->work();
        } catch (...) {
        }
    }
    FreeLibraryAndExitThread(held, 0);
}

}  // namespace

bool RunDetached(std::function<void()> work) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&DetachedEntry),
                            &module)) {
        return false;
    }
    auto start = std::make_unique<DetachedStart>(DetachedStart{std::move(work), module});
    HANDLE thread = CreateThread(nullptr, 0, &DetachedEntry, start.get(), 0, nullptr);
    if (thread == nullptr) {
        FreeLibrary(module);
        return false;
    }
    (void)start.release();  // the thread owns it now
    CloseHandle(thread);
    return true;
}

}  // namespace tavrin::platform
