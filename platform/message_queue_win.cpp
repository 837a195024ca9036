// The thread's message queue on Windows: a hidden message-only window per thread. A post puts
// the task in the window's list and wakes the thread with PostMessage; the window procedure
// runs it when the thread dispatches messages, so the host's own messages and ours share one
// pump.

#include "platform/message_queue.h"

#include <windows.h>

#include <cwchar>
#include <deque>
#include <mutex>
#include <utility>

namespace tavrin::platform {

namespace {

constexpr UINT kRunTask = WM_APP + 0x2A1;

struct WindowDestroyer {
    void operator()(HWND window) const noexcept {
        if (window != nullptr) DestroyWindow(window);
    }
};
using WindowOwner = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

LRESULT CALLBACK QueueWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The window class, registered once per load of this module. Classes that a DLL registers
// outlive its unloading, so the name carries the module's address.
const wchar_t* QueueWindowClass() {
    static wchar_t name[64];
    static std::once_flag once;
    std::call_once(once, [] {
        std::swprintf(name, std::size(name), L"TavrinQueue_%p", static_cast<void*>(ThisModule()));
        WNDCLASSEXW cls{};
        cls.cbSize = sizeof cls;
        cls.lpfnWndProc = &QueueWindowProc;
        cls.hInstance = ThisModule();
        cls.lpszClassName = name;
        RegisterClassExW(&cls);
    });
    return name;
}

}  // namespace

class ThreadQueue {
public:
    ThreadQueue() {
        window_.reset(CreateWindowExW(0, QueueWindowClass(), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      ThisModule(), nullptr));
        if (window_) SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ThreadQueue(const ThreadQueue&) = delete;
    ThreadQueue& operator=(const ThreadQueue&) = delete;

    bool Post(std::function<void()> task) {
        std::lock_guard lock(mutex_);
        if (closed_ || !window_) return false;
        tasks_.push_back(std::move(task));
        if (!PostMessageW(window_.get(), kRunTask, 0, 0)) {
            tasks_.pop_back();
            return false;
        }
        return true;
    }

    bool Take(std::function<void()>& task) {
        std::lock_guard lock(mutex_);
        if (tasks_.empty()) return false;
        task = std::move(tasks_.front());
        tasks_.pop_front();
        return true;
    }

    // The thread ends: later posts are dropped. The window is not destroyed here: this runs
    // during the thread's exit, after the window manager has let go of the thread, and
    // Windows destroys the windows of an ending thread itself.
    void Close() {
        std::deque<std::function<void()>> dropped;
        std::lock_guard lock(mutex_);
        closed_ = true;
        dropped.swap(tasks_);
        (void)window_.release();
    }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
    WindowOwner window_;
    bool closed_ = false;
};

namespace {

LRESULT CALLBACK QueueWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRunTask) {
        auto* queue = reinterpret_cast<ThreadQueue*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        std::function<void()> task;
        if (queue != nullptr && queue->Take(task)) {
            // No failure may cross the window procedure: a task's failure stays with it.
            try {
                task();
            } catch (...) {
            }
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Owns a thread's queue and closes it when the thread ends. The owners live in a fiber-local
// storage slot whose callback runs at the end of each thread: MinGW-w64's thread_local objects
// are destroyed only after their storage has been freed. The module is pinned once the slot
// exists, so that neither the callback nor the window procedure can be unloaded under a thread.
struct ThreadQueueOwner {
    std::shared_ptr<ThreadQueue> queue = std::make_shared<ThreadQueue>();
    ThreadQueueOwner() = default;
    ThreadQueueOwner(const ThreadQueueOwner&) = delete;
    ThreadQueueOwner& operator=(const ThreadQueueOwner&) = delete;
    ~ThreadQueueOwner() { queue->Close(); }
};

void NTAPI FreeOwner(PVOID owner) { delete static_cast<ThreadQueueOwner*>(owner); }

DWORD OwnerSlot() {
    static const DWORD slot = [] {
        HMODULE pinned = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(&FreeOwner), &pinned);
        return FlsAlloc(&FreeOwner);
    }();
    return slot;
}

std::shared_ptr<ThreadQueue> ThisThreadsQueue() {
    const DWORD slot = OwnerSlot();
    if (slot == FLS_OUT_OF_INDEXES) {
        // No slot to be had: the thread's queue is kept for the life of the process.
        thread_local ThreadQueueOwner* leaked = nullptr;
        if (leaked == nullptr) leaked = new ThreadQueueOwner();
        return leaked->queue;
    }
    if (void* existing = FlsGetValue(slot)) return static_cast<ThreadQueueOwner*>(existing)->queue;
    auto made = std::make_unique<ThreadQueueOwner>();
    FlsSetValue(slot, made.get());
    return made.release()->queue;
}

}  // namespace

bool QueueHandle::Post(std::function<void()> task) const {
    if (!queue_) return false;
    return queue_->Post(std::move(task));
}

QueueHandle CurrentThreadQueue() { return QueueHandle(ThisThreadsQueue()); }

void PumpPending() {
    ThisThreadsQueue();  // this thread's window exists before the first post can come
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Leave the quit request for the thread's own loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void WaitForMessage() {
    ThisThreadsQueue();
    MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

}  // namespace tavrin::platform
