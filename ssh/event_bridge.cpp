#include "ssh/event_bridge.h"

#include <algorithm>

namespace tavrin::ssh {

namespace {

using Clock = net::Clock;

// Waits for an answer are cut into slices so that a cancel or the deadline is seen.
constexpr auto kSlice = std::chrono::milliseconds(50);

SshEvents* SinkOf(EventBridge& bridge) {
    std::lock_guard lock(bridge.mutex);
    return bridge.sink;
}

// Runs on the owner's thread: tells the handlers, in pieces the 16-bit count can carry, of
// the text that has arrived since the last Received.
void DeliverReceived(const std::shared_ptr<EventBridge>& bridge) {
    {
        std::lock_guard lock(bridge->mutex);
        bridge->deliveryPosted = false;
    }
    for (;;) {
        SshEvents* sink = nullptr;
        std::int16_t count = 0;
        {
            std::lock_guard lock(bridge->mutex);
            sink = bridge->sink;
            if (sink == nullptr || bridge->unannounced == 0) return;
            std::size_t n = std::min<std::size_t>(bridge->unannounced, static_cast<std::size_t>(kMaxReceivedCount));
            const std::size_t first = bridge->pending.size() - bridge->unannounced;
            // Keep a surrogate pair in one piece.
            if (n < bridge->unannounced && n > 1) {
                const char16_t last = bridge->pending[first + n - 1];
                if (last >= 0xD800 && last <= 0xDBFF) --n;
            }
            bridge->unannounced -= n;
            count = static_cast<std::int16_t>(n);
        }
        sink->Received(count);
    }
}

class WorkerSink final : public SessionSink {
public:
    explicit WorkerSink(std::shared_ptr<EventBridge> bridge) : bridge_(std::move(bridge)) {}

    const std::atomic<bool>& CancelFlag() const override { return bridge_->cancelled; }

    void Connected(std::int16_t code, const std::u16string& text) override {
        const bool posted = bridge_->owner.Post([bridge = bridge_, code, text] {
            if (SshEvents* sink = SinkOf(*bridge)) sink->Connected(code, text);
        });
        if (!posted) PostFailed();
    }

    std::optional<bool> CryptoInformation(const std::u16string& protocol, const std::u16string& remoteName,
                                          const std::u16string& scCipher, const std::u16string& csCipher,
                                          const std::u16string& keys, bool proposed,
                                          Clock::time_point deadline) override {
        return Ask(
            [=](SshEvents& sink, bool& accept) {
                sink.CryptoInformation(protocol, remoteName, scCipher, csCipher, keys, accept);
            },
            proposed, deadline);
    }

    std::optional<bool> HostFingerprint(const std::u16string& fingerprint, bool proposed,
                                        Clock::time_point deadline) override {
        return Ask([=](SshEvents& sink, bool& accept) { sink.HostFingerprint(fingerprint, accept); }, proposed,
                   deadline);
    }

    bool HasRoom() override {
        std::lock_guard lock(bridge_->mutex);
        return bridge_->Waiting() < kPendingLimit;
    }

    void WaitForRoom(Clock::time_point until) override {
        std::unique_lock lock(bridge_->mutex);
        bridge_->room.wait_until(lock, until, [this] {
            return bridge_->Waiting() < kPendingLimit || bridge_->cancelled.load();
        });
    }

    void Output(std::u16string&& text) override {
        bool post = false;
        {
            std::lock_guard lock(bridge_->mutex);
            if (bridge_->head > 0 && bridge_->head >= bridge_->pending.size() / 2) {
                bridge_->pending.erase(0, bridge_->head);
                bridge_->head = 0;
            }
            bridge_->pending += text;
            bridge_->unannounced += text.size();
            post = !bridge_->deliveryPosted;
            bridge_->deliveryPosted = true;
        }
        if (post && !bridge_->owner.Post([bridge = bridge_] { DeliverReceived(bridge); })) {
            {
                std::lock_guard lock(bridge_->mutex);
                bridge_->deliveryPosted = false;
            }
            PostFailed();
        }
    }

    void Noted(const RunFacts& facts) override {
        std::lock_guard lock(bridge_->mutex);
        bridge_->facts = facts;
    }

    void Disconnected() override {
        // Whatever could not be delivered makes the run fail, however it ended otherwise.
        const bool lost = bridge_->eventLost.load();
        bridge_->owner.Post([bridge = bridge_, lost] {
            SshEvents* sink = SinkOf(*bridge);
            if (sink == nullptr) return;
            if (lost) {
                sink->Connected(kErrorInternal, u"Events of the SSH connection could not be delivered to the "
                                                u"thread that runs the check; its result is not known");
            }
            if ((sink = SinkOf(*bridge)) != nullptr) sink->Disconnected();
        });
    }

private:
    struct Answer {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<bool> value;
    };

    // An event that cannot reach the owner: the run's outcome can no longer be told whole, so
    // the worker stops at once (the owner's wait learns of the refused post by itself).
    void PostFailed() {
        bridge_->eventLost = true;
        bridge_->cancelled = true;
        bridge_->room.notify_all();
    }

    template <class Question>
    std::optional<bool> Ask(Question question, bool proposed, Clock::time_point deadline) {
        auto answer = std::make_shared<Answer>();
        const bool posted = bridge_->owner.Post([bridge = bridge_, answer, question, proposed] {
            bool accept = proposed;
            if (SshEvents* sink = SinkOf(*bridge)) {
                try {
                    question(*sink, accept);
                } catch (...) {
                    accept = proposed;
                }
            }
            std::lock_guard lock(answer->mutex);
            answer->value = accept;
            answer->done.notify_all();
        });
        // A question that cannot be asked is not answered for the handlers: the run stops.
        if (!posted) {
            PostFailed();
            return std::nullopt;
        }
        std::unique_lock lock(answer->mutex);
        while (!answer->value) {
            if (bridge_->cancelled || Clock::now() >= deadline) return std::nullopt;
            answer->done.wait_until(lock, std::min(deadline, Clock::now() + kSlice));
        }
        return answer->value;
    }

    std::shared_ptr<EventBridge> bridge_;
};

}  // namespace

void EventBridge::SetSink(SshEvents* handlers) {
    std::lock_guard lock(mutex);
    sink = handlers;
}

void EventBridge::Detach() {
    {
        std::lock_guard lock(mutex);
        sink = nullptr;
    }
    cancelled = true;
    room.notify_all();
}

std::u16string EventBridge::Read(std::int16_t count) {
    if (count <= 0) return {};
    std::u16string piece;
    {
        std::lock_guard lock(mutex);
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), Waiting());
        piece.assign(pending, head, n);
        head += n;
        // Reading ahead of the Received events takes the text they would announce.
        unannounced = std::min(unannounced, Waiting());
    }
    room.notify_all();
    return piece;
}

std::unique_ptr<SessionSink> MakeWorkerSink(std::shared_ptr<EventBridge> bridge) {
    return std::make_unique<WorkerSink>(std::move(bridge));
}

}  // namespace tavrin::ssh
