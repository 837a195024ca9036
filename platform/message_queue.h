#pragma once
// The calling thread's message queue, as the check run and the SSH component use it.
//
// Any thread may post a task to a thread's queue; the task runs only on that thread, and only
// while that thread pumps (PumpPending or a modal loop). Windows: a hidden message-only window
// per thread, woken with PostMessage, so the host's own messages are dispatched by the same
// pump. Linux: a queue of our own with the same contract.
//
// A post can fail: the thread has ended, its queue could not be made (Windows: the window was
// refused), or the queue is full. A failed post is reported to the poster (Post returns false)
// and counted for the queue's own thread (RefusedPosts), so that a thread waiting for events
// learns that one of them will never come.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace tavrin::platform {

class ThreadQueue;

// The most tasks that wait in one queue; a post beyond it fails (Windows itself refuses posts
// to a thread that has 10,000 messages waiting).
inline constexpr std::size_t kMaxPendingTasks = 10000;

// A handle to one thread's queue that other threads may keep and post to.
class QueueHandle {
public:
    QueueHandle() = default;
    explicit QueueHandle(std::shared_ptr<ThreadQueue> queue) : queue_(std::move(queue)) {}
    // Returns false when the task was not queued (see above); the task is then dropped.
    bool Post(std::function<void()> task) const;
    // Whether posts can reach the thread at all (its queue exists and is open).
    bool Ready() const;
    explicit operator bool() const { return static_cast<bool>(queue_); }

private:
    std::shared_ptr<ThreadQueue> queue_;
};

// The queue of the calling thread (created on first use).
QueueHandle CurrentThreadQueue();

// How many posts to the calling thread's queue have failed since the queue was made. A waiter
// compares it before and after: any rise means that some event for this thread was lost.
std::uint64_t RefusedPosts();

// What one pump saw.
struct PumpResult {
    // A request to end the thread's message loop (Windows: WM_QUIT) was taken off the queue;
    // the pump stopped there. Whoever pumps owns it now and must pass it on (PostQuit) once it
    // has unwound to the thread's own loop.
    bool quit = false;
    int quitCode = 0;
};

// Processes every message pending for the calling thread (on Windows all window messages of
// the thread, not only ours) and returns; stops early at a quit request.
PumpResult PumpPending();

// Puts a quit request on the calling thread's queue (Windows: PostQuitMessage), for the loop
// that pumps next.
void PostQuit(int code);

// Blocks until a message for the calling thread is pending (returns at once if one is) or
// `most` has passed. Uses no processor while it waits.
void WaitForMessage(std::chrono::milliseconds most);

}  // namespace tavrin::platform
