// The thread's message queue on Linux: a list of tasks of our own that only its thread runs,
// and only while it pumps.

#include "platform/message_queue.h"
#include "platform/per_thread.h"
#include "platform/task_list.h"

#include <utility>

namespace tavrin::platform {

class ThreadQueue {
public:
    bool Post(std::function<void()> task) { return tasks_.Push(std::move(task)); }
    bool Take(std::function<void()>& task) { return tasks_.Take(task); }
    void Wait() { tasks_.WaitForTask(); }
    void Close() { tasks_.Close(); }

private:
    TaskList tasks_;
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

QueueHandle CurrentThreadQueue() { return QueueHandle(ThisThreadsQueue()); }

void PumpPending() {
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
}

void WaitForMessage() { ThisThreadsQueue()->Wait(); }

}  // namespace tavrin::platform
