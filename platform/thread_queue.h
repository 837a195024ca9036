#pragma once
// Inside this layer only: a thread's queue as message_queue.cpp, shared by both systems, sees
// it. Each system's queue (message_queue_posix.cpp / message_queue_win.cpp) derives from it.

#include <cstdint>
#include <functional>
#include <memory>

namespace tavrin::platform {

class ThreadQueue {
public:
    virtual ~ThreadQueue() = default;
    // Any thread: queues a task for the queue's thread; false when refused (see message_queue.h).
    virtual bool Post(std::function<void()> task) = 0;
    virtual bool Ready() = 0;
    virtual std::uint64_t Refused() const = 0;
    // The queue's thread ends: no task is taken any more.
    virtual void Close() = 0;
};

// A queue for the calling thread, of this system's kind.
std::shared_ptr<ThreadQueue> NewThreadQueue();

// The calling thread's queue, made on first use and closed when the thread ends.
const std::shared_ptr<ThreadQueue>& ThisThreadsQueue();

}  // namespace tavrin::platform
