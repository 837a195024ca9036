// The thread's message queue on Linux: a list of tasks of our own that only its thread runs,
// and only while it pumps. A quit request is a flag of the list, taken once no task waits, as
// Windows hands out WM_QUIT only after the posted messages.

#include "platform/message_queue.h"
#include "platform/per_thread.h"
#include "platform/task_list.h"

#include <atomic>
#include <utility>

namespace tavrin::platform {

class ThreadQueue {
public:
    bool Post(std::function<void()> task) {
        if (tasks_.Push(std::move(task))) return true;
        ++refused_;
        return false;
    }
    bool Ready() { return !tasks_.Closed(); }
    bool Take(std::function<void()>& task) { return tasks_.Take(task); }
    void Wait(std::chrono::steady_clock::time_point until) { tasks_.WaitForTask(until); }
    void RequestQuit(int code) { tasks_.RequestQuit(code); }
    std::optional<int> TakeQuit() { return tasks_.TakeQuit(); }
    std::uint64_t Refused() const { return refused_.load(); }
    void Close() { tasks_.Close(); }

private:
    TaskList tasks_{kMaxPendingTasks};
    std::atomic<std::uint64_t> refused_{0};
};

namespace {

// Owns the calling thread's queue and closes it when the thread ends.
struct ThreadQueueOwner {
    std::shared_ptr<ThreadQueue> queue = std::make_shared<ThreadQueue>();
    ThreadQueueOwner() = default;
    ThreadQueueOwner(const ThreadQueueOwner&) = delete;
    ThreadQueueOwner& operator=(const ThreadQueueOwner&) = delete;
    ~ThreadQueueOwner() { queue->Close(); }
};

const std::shared_ptr<ThreadQueue>& ThisThreadsQueue() { return PerThread<ThreadQueueOwner>().queue; }

}  // namespace

bool QueueHandle::Post(std::function<void()> task) const {
    if (!queue_) return false;
    return queue_->Post(std::move(task));
}

bool QueueHandle::Ready() const { return queue_ && queue_->Ready(); }

QueueHandle CurrentThreadQueue() { return QueueHandle(ThisThreadsQueue()); }

std::uint64_t RefusedPosts() { return ThisThreadsQueue()->Refused(); }

PumpResult PumpPending() {
    ThreadQueue& queue = *ThisThreadsQueue();
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

void PostQuit(int code) { ThisThreadsQueue()->RequestQuit(code); }

void WaitForMessage(std::chrono::milliseconds most) {
    ThisThreadsQueue()->Wait(std::chrono::steady_clock::now() + most);
}

}  // namespace tavrin::platform
