#pragma once
// Inside this layer only: what message_queue.cpp, shared by both systems, needs of a thread's
// queue, whose form is each system's own (message_queue_posix.cpp / message_queue_win.cpp).

#include <cstdint>
#include <functional>
#include <memory>

namespace tavrin::platform {

class ThreadQueue;

std::shared_ptr<ThreadQueue> NewThreadQueue();
bool PostTask(ThreadQueue& queue, std::function<void()> task);
bool QueueReady(ThreadQueue& queue);
std::uint64_t QueueRefused(const ThreadQueue& queue);
void CloseQueue(ThreadQueue& queue);

// The calling thread's queue, made on first use and closed when the thread ends.
const std::shared_ptr<ThreadQueue>& ThisThreadsQueue();

}  // namespace tavrin::platform
