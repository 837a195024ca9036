#include "plugin/com/module.h"

#include "plugin/com/error_info.h"

#include <atomic>

namespace tavrin::com {

namespace {
HMODULE module_ = nullptr;
std::atomic<long> locks_{0};
}  // namespace

void SetModuleHandle(HMODULE module) noexcept { module_ = module; }
HMODULE ModuleHandle() noexcept { return module_; }

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(module_, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) ThrowIfFailed(HRESULT_FROM_WIN32(::GetLastError()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void LockModule() noexcept { ++locks_; }
void UnlockModule() noexcept { --locks_; }
long ModuleLockCount() noexcept { return locks_.load(); }

}  // namespace tavrin::com
