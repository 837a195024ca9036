#include "platform/message_queue.h"

#include "platform/per_thread.h"
#include "platform/thread_queue.h"

namespace tavrin::platform {

namespace {

// Owns a thread's queue and closes it when the thread ends (see platform/per_thread.h for
// why this is not thread_local).
struct ThreadQueueOwner {
    std::shared_ptr<ThreadQueue> queue = NewThreadQueue();
    ThreadQueueOwner() = default;
    ThreadQueueOwner(const ThreadQueueOwner&) = delete;
    ThreadQueueOwner& operator=(const ThreadQueueOwner&) = delete;
    ~ThreadQueueOwner() { queue->Close(); }
};

}  // namespace

const std::shared_ptr<ThreadQueue>& ThisThreadsQueue() { return PerThread<ThreadQueueOwner>().queue; }

bool QueueHandle::Post(std::function<void()> task) const {
    if (!queue_) return false;
    return queue_->Post(std::move(task));
}

bool QueueHandle::Ready() const { return queue_ && queue_->Ready(); }

QueueHandle CurrentThreadQueue() { return QueueHandle(ThisThreadsQueue()); }

std::uint64_t RefusedPosts() { return ThisThreadsQueue()->Refused(); }

}  // namespace tavrin::platform
