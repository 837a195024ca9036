#pragma once
// The bridge between an SSH object's worker thread and the thread that created the object:
// the worker's session events are posted to the owner's queue and reach the handlers only
// while that thread pumps; the output waits here until the handlers read it, announced by
// Received events whose 16-bit counts never split a surrogate pair; and a full buffer holds
// the worker back. An event that cannot be posted makes the run end as a failure.

#include "platform/message_queue.h"
#include "ssh/component.h"
#include "ssh/session.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

namespace tavrin::ssh {

// The most text that waits for the handlers to read it; the worker stops reading from the
// server until the handlers have taken some (the server is then held by the SSH window).
inline constexpr std::size_t kPendingLimit = 4 * 1024 * 1024;

struct EventBridge {
    explicit EventBridge(platform::QueueHandle ownerQueue) : owner(std::move(ownerQueue)) {}

    // Owner side.
    void SetSink(SshEvents* handlers);
    // The object is gone: no event reaches a handler any more and the worker is told to stop.
    void Detach();
    // Takes up to `count` units of the text that has arrived.
    std::u16string Read(std::int16_t count);

    platform::QueueHandle owner;
    std::atomic<bool> cancelled{false};

    std::mutex mutex;
    std::condition_variable room;
    SshEvents* sink = nullptr;  // null once the object is gone
    // Text that has arrived and not been read; `head` is where reading goes on.
    std::u16string pending;
    std::size_t head = 0;
    std::size_t unannounced = 0;  // units at the end of `pending` not yet told by Received
    bool deliveryPosted = false;
    // An event that could not be posted to the owner's queue: the run must not end as if
    // nothing had been lost.
    std::atomic<bool> eventLost{false};
    // What the run has found out (guarded by `mutex`).
    RunFacts facts;

    std::size_t Waiting() const { return pending.size() - head; }
};

// The worker side: the session's sink, which posts every event through the bridge.
std::unique_ptr<SessionSink> MakeWorkerSink(std::shared_ptr<EventBridge> bridge);

}  // namespace tavrin::ssh
