// The thread's message queue on Linux: a queue of tasks of our own, guarded by a mutex, that
// only its thread runs, and only while it pumps.

#include "platform/message_queue.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

namespace tavrin::platform {

class ThreadQueue {
public:
    bool Post(std::function<void()> task) {
        {
            std::lock_guard lock(mutex_);
            if (closed_) return false;
            tasks_.push_back(std::move(task));
        }
        wake_.notify_all();
        return true;
    }

    // Takes the oldest task; false when there is none.
    bool Take(std::function<void()>& task) {
        std::lock_guard lock(mutex_);
        if (tasks_.empty()) return false;
        task = std::move(tasks_.front());
        tasks_.pop_front();
        return true;
    }

    void Wait() {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return !tasks_.empty(); });
    }

    // The thread ends: later posts are dropped, pending tasks are discarded.
    void Close() {
        std::deque<std::function<void()>> dropped;
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
            dropped.swap(tasks_);
        }
        // The dropped tasks are destroyed here, outside the lock.
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool closed_ = false;
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

ThreadQueue& ThisThreadsQueue(std::shared_ptr<ThreadQueue>* share = nullptr) {
    thread_local ThreadQueueOwner owner;
    if (share != nullptr) *share = owner.queue;
    return *owner.queue;
}

}  // namespace

bool QueueHandle::Post(std::function<void()> task) const {
    if (!queue_) return false;
    return queue_->Post(std::move(task));
}

QueueHandle CurrentThreadQueue() {
    std::shared_ptr<ThreadQueue> queue;
    ThisThreadsQueue(&queue);
    return QueueHandle(std::move(queue));
}

void PumpPending() {
    ThreadQueue& queue = ThisThreadsQueue();
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

void WaitForMessage() { ThisThreadsQueue().Wait(); }

}  // namespace tavrin::platform
