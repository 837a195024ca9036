#pragma once
// The tasks posted to one thread's queue: any thread adds, the queue's own thread takes.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

namespace tavrin::platform {

class TaskList {
public:
    explicit TaskList(std::size_t limit) : limit_(limit) {}

    // Adds a task unless the list is closed or holds `limit` tasks. `wake`, when given, runs
    // under the lock once the task is in (to wake the thread); if it fails, the task is taken
    // out again and the post fails.
    bool Push(std::function<void()> task, const std::function<bool()>& wake = {}) {
        {
            std::lock_guard lock(mutex_);
            if (closed_ || tasks_.size() >= limit_) return false;
            tasks_.push_back(std::move(task));
            if (wake && !wake()) {
                tasks_.pop_back();
                return false;
            }
        }
        changed_.notify_all();
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

    // A request to end the thread's loop; a later one replaces the code of one not yet taken.
    void RequestQuit(int code) {
        {
            std::lock_guard lock(mutex_);
            quit_ = code;
        }
        changed_.notify_all();
    }

    std::optional<int> TakeQuit() {
        std::lock_guard lock(mutex_);
        return std::exchange(quit_, std::nullopt);
    }

    // Blocks until a task or a quit request is there, or `until` has come.
    void WaitForTask(std::chrono::steady_clock::time_point until) {
        std::unique_lock lock(mutex_);
        changed_.wait_until(lock, until, [this] { return !tasks_.empty() || quit_.has_value(); });
    }

    // The thread ends: later posts fail, pending tasks are dropped (destroyed outside the lock).
    void Close() {
        std::deque<std::function<void()>> dropped;
        std::lock_guard lock(mutex_);
        closed_ = true;
        dropped.swap(tasks_);
    }

    bool Closed() {
        std::lock_guard lock(mutex_);
        return closed_;
    }

private:
    const std::size_t limit_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
    std::optional<int> quit_;
    bool closed_ = false;
};

}  // namespace tavrin::platform
