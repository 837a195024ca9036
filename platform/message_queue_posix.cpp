// The thread's message queue on Linux: a list of tasks of our own that only its thread runs,
// and only while it pumps. A quit request is a flag of the list, taken once no task waits, as
// Windows hands out WM_QUIT only after the posted messages.

#include "platform/message_queue.h"
#include "platform/thread_queue.h"
#include "platform/task_list.h"

#include <atomic>
#include <utility>

namespace tavrin::platform {

class PosixQueue final : public ThreadQueue {
public:
    bool Post(std::function<void()> task) override {
        if (tasks_.Push(std::move(task))) return true;
        ++refused_;
        return false;
    }
    bool Ready() override { return !tasks_.Closed(); }
    bool Take(std::function<void()>& task) { return tasks_.Take(task); }
    void Wait(std::chrono::steady_clock::time_point until) { tasks_.WaitForTask(until); }
    void RequestQuit(int code) { tasks_.RequestQuit(code); }
    std::optional<int> TakeQuit() { return tasks_.TakeQuit(); }
    std::uint64_t Refused() const override { return refused_.load(); }
    void Close() override { tasks_.Close(); }

private:
    TaskList tasks_{kMaxPendingTasks};
    std::atomic<std::uint64_t> refused_{0};
};

std::shared_ptr<ThreadQueue> NewThreadQueue() { return std::make_shared<PosixQueue>(); }

namespace {
PosixQueue& ThisQueue() { return static_cast<PosixQueue&>(*ThisThreadsQueue()); }
}  // namespace

PumpResult PumpPending() {
    PosixQueue& queue = ThisQueue();
    std::function<void()> task;
    while (queue.Take(task)) {
        // A task's failure stays with the task: the pump goes on, as a window procedure would.
        try {
            task();
        } catch (...) {
        }
        task = nullptr;
    }
    PumpResult result;
    if (const auto code = queue.TakeQuit()) {
        result.quit = true;
        result.quitCode = *code;
    }
    return result;
}

void PostQuit(int code) { ThisQueue().RequestQuit(code); }

void WaitForMessage(std::chrono::milliseconds most) {
    ThisQueue().Wait(std::chrono::steady_clock::now() + most);
}

}  // namespace tavrin::platform
