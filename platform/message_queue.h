#pragma once
// The calling thread's message queue, as the check run and the SSH component use it.
//
// Any thread may post a task to a thread's queue; the task runs only on that thread, and only
// while that thread pumps (PumpPending or a modal loop). Windows: a hidden message-only window
// per thread, woken with PostMessage, so the host's own messages are dispatched by the same
// pump. Linux: a queue of our own with the same contract.

#include <functional>
#include <memory>

namespace tavrin::platform {

class ThreadQueue;

// A handle to one thread's queue that other threads may keep and post to.
// Posting after the thread has ended its queue drops the task.
class QueueHandle {
public:
    QueueHandle() = default;
    explicit QueueHandle(std::shared_ptr<ThreadQueue> queue) : queue_(std::move(queue)) {}
    // Returns false when the queue is gone and the task was dropped.
    bool Post(std::function<void()> task) const;
    explicit operator bool() const { return static_cast<bool>(queue_); }

private:
    std::shared_ptr<ThreadQueue> queue_;
};

// The queue of the calling thread (created on first use).
QueueHandle CurrentThreadQueue();

// Processes every message pending for the calling thread (on Windows all window messages of
// the thread, not only ours) and returns.
void PumpPending();

// Blocks until a message for the calling thread is pending (returns at once if one is).
// Uses no processor while it waits.
void WaitForMessage();

}  // namespace tavrin::platform
