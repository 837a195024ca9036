// The thread's message queue on Windows: a hidden message-only window per thread. A post puts
// the task in the window's list and wakes the thread with PostMessage; the window procedure
// runs it when the thread dispatches messages, so the host's own messages and ours share one
// pump. WM_QUIT ends a pump and goes back to the caller, who posts it again once it has
// unwound to the thread's own loop.

#include "platform/message_queue.h"
#include "platform/win32_module.h"
#include "platform/thread_queue.h"
#include "platform/task_list.h"

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <mutex>
#include <utility>

namespace tavrin::platform {

namespace {

constexpr UINT kRunTask = WM_APP + 0x2A1;

using win32::ThisModule;
using WindowOwner = win32::UniqueWindow;

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

class WindowQueue final : public ThreadQueue {
public:
    WindowQueue() {
        window_.reset(CreateWindowExW(0, QueueWindowClass(), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      ThisModule(), nullptr));
        if (window_) SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        hasWindow_ = static_cast<bool>(window_);
    }
    WindowQueue(const WindowQueue&) = delete;
    WindowQueue& operator=(const WindowQueue&) = delete;

    // Fails without a window, when the list is full, and when PostMessage refuses (the
    // thread's message queue is full).
    bool Post(std::function<void()> task) override {
        const bool queued = tasks_.Push(std::move(task), [this] {
            return window_ && PostMessageW(window_.get(), kRunTask, 0, 0) != 0;
        });
        if (!queued) ++refused_;
        return queued;
    }

    bool Ready() override { return hasWindow_ && !tasks_.Closed(); }
    std::uint64_t Refused() const override { return refused_.load(); }

    bool Take(std::function<void()>& task) { return tasks_.Take(task); }

    // The thread ends: later posts are dropped. Once the list is closed no post touches the
    // window any more. The window is not destroyed here: this runs during the thread's exit,
    // after the window manager has let go of the thread, and Windows destroys the windows of
    // an ending thread itself.
    void Close() override {
        tasks_.Close();
        (void)window_.release();
    }

private:
    TaskList tasks_{kMaxPendingTasks};
    WindowOwner window_;
    bool hasWindow_ = false;  // set once, read by any thread
    std::atomic<std::uint64_t> refused_{0};
};

namespace {

LRESULT CALLBACK QueueWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRunTask) {
        auto* queue = reinterpret_cast<WindowQueue*>(GetWindowLongPtrW(window, GWLP_USERDATA));
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

}  // namespace

std::shared_ptr<ThreadQueue> NewThreadQueue() { return std::make_shared<WindowQueue>(); }

PumpResult PumpPending() {
    ThisThreadsQueue();  // this thread's window exists before the first post can come
    PumpResult result;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // The caller passes it on once it is back: posted again here, the next pump would
            // take it at once and the wait would never sleep.
            result.quit = true;
            result.quitCode = static_cast<int>(msg.wParam);
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return result;
}

void PostQuit(int code) { PostQuitMessage(code); }

void WaitForMessage(std::chrono::milliseconds most) {
    ThisThreadsQueue();
    const auto count = most.count();
    const DWORD milliseconds = count <= 0 ? 0 : count >= 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(count);
    MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

}  // namespace tavrin::platform
