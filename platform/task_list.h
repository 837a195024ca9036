#pragma once
// The tasks posted to one thread's queue: any thread adds, the queue's own thread takes.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

namespace tavrin::platform {

class TaskList {
public:
    // Adds a task unless the list is closed. `wake`, when given, runs under the lock once the
    // task is in (to wake the thread); if it fails, the task is taken out again and the post
    // fails.
    bool Push(std::function<void()> task, const std::function<bool()>& wake = {}) {
        {
            std::lock_guard lock(mutex_);
            if (closed_) return false;
            tasks_.push_back(std::move(task));
            if (wake && !wake()) {
                tasks_.pop_back();
                return false;
            }
        }
        added_.notify_all();
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

    // Blocks until a task is there.
    void WaitForTask() {
        std::unique_lock lock(mutex_);
        added_.wait(lock, [this] { return !tasks_.empty(); });
    }

    // The thread ends: later posts fail, pending tasks are dropped (destroyed outside the lock).
    void Close() {
        std::deque<std::function<void()>> dropped;
        std::lock_guard lock(mutex_);
        closed_ = true;
        dropped.swap(tasks_);
    }

private:
    std::mutex mutex_;
    std::condition_variable added_;
    std::deque<std::function<void()>> tasks_;
    bool closed_ = false;
};

}  // namespace tavrin::platform
