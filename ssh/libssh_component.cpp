// The SSH object and the key object over libssh. The session runs on a worker thread of the
// SSH object (ssh/session.cpp); every event goes to the thread that created the object
// through its message queue and reaches the handlers only while that thread pumps.

#include "ssh/libssh_component.h"

#include "common/automation_error.h"
#include "common/text.h"
#include "platform/message_queue.h"
#include "platform/secret.h"
#include "ssh/component.h"
#include "ssh/host_key_pins.h"
#include "ssh/key_store.h"
#include "ssh/known_hosts.h"
#include "ssh/library.h"
#include "ssh/session.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include <vector>

namespace tavrin::ssh {

namespace {

using Clock = net::Clock;

// The most text that waits for the handlers to read it; the worker stops reading from the
// server until the handlers have taken some (the server is then held by the SSH window).
constexpr std::size_t kPendingLimit = 4 * 1024 * 1024;
constexpr auto kSlice = std::chrono::milliseconds(50);
constexpr std::chrono::seconds kDefaultTimeout(60);

std::mutex& KnownHostsMutex() {
    static std::mutex m;
    return m;
}
std::optional<std::vector<std::u16string>>& KnownHostsOverride() {
    static std::optional<std::vector<std::u16string>> files;
    return files;
}

// What the SSH object shares with its worker and with the tasks it posts to its thread.
struct Shared {
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

    std::size_t Waiting() const { return pending.size() - head; }
};

SshEvents* SinkOf(Shared& shared) {
    std::lock_guard lock(shared.mutex);
    return shared.sink;
}

// Runs on the owner's thread: tells the handlers, in pieces the 16-bit count can carry, of
// the text that has arrived since the last Received.
void DeliverReceived(const std::shared_ptr<Shared>& shared) {
    {
        std::lock_guard lock(shared->mutex);
        shared->deliveryPosted = false;
    }
    for (;;) {
        SshEvents* sink = nullptr;
        std::int16_t count = 0;
        {
            std::lock_guard lock(shared->mutex);
            sink = shared->sink;
            if (sink == nullptr || shared->unannounced == 0) return;
            std::size_t n = std::min<std::size_t>(shared->unannounced, static_cast<std::size_t>(kMaxReceivedCount));
            const std::size_t first = shared->pending.size() - shared->unannounced;
            // Keep a surrogate pair in one piece.
            if (n < shared->unannounced && n > 1) {
                const char16_t last = shared->pending[first + n - 1];
                if (last >= 0xD800 && last <= 0xDBFF) --n;
            }
            shared->unannounced -= n;
            count = static_cast<std::int16_t>(n);
        }
        sink->Received(count);
    }
}

class WorkerSink final : public SessionSink {
public:
    explicit WorkerSink(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

    const std::atomic<bool>& CancelFlag() const override { return shared_->cancelled; }

    void Connected(std::int16_t code, const std::u16string& text) override {
        const bool posted = shared_->owner.Post([shared = shared_, code, text] {
            if (SshEvents* sink = SinkOf(*shared)) sink->Connected(code, text);
        });
        if (!posted) shared_->eventLost = true;
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
        std::lock_guard lock(shared_->mutex);
        return shared_->Waiting() < kPendingLimit;
    }

    void WaitForRoom(Clock::time_point until) override {
        std::unique_lock lock(shared_->mutex);
        shared_->room.wait_until(lock, until, [this] {
            return shared_->Waiting() < kPendingLimit || shared_->cancelled.load();
        });
    }

    void Output(std::u16string&& text) override {
        bool post = false;
        {
            std::lock_guard lock(shared_->mutex);
            if (shared_->head > 0 && shared_->head >= shared_->pending.size() / 2) {
                shared_->pending.erase(0, shared_->head);
                shared_->head = 0;
            }
            shared_->pending += text;
            shared_->unannounced += text.size();
            post = !shared_->deliveryPosted;
            shared_->deliveryPosted = true;
        }
        if (post && !shared_->owner.Post([shared = shared_] { DeliverReceived(shared); })) {
            std::lock_guard lock(shared_->mutex);
            shared_->deliveryPosted = false;
            shared_->eventLost = true;
        }
    }

    void Disconnected() override {
        // Whatever could not be delivered makes the run fail, however it ended otherwise.
        const bool lost = shared_->eventLost.load();
        shared_->owner.Post([shared = shared_, lost] {
            SshEvents* sink = SinkOf(*shared);
            if (sink == nullptr) return;
            if (lost) {
                sink->Connected(kErrorInternal, u"Events of the SSH connection could not be delivered to the "
                                                u"thread that runs the check; its result is not known");
            }
            if ((sink = SinkOf(*shared)) != nullptr) sink->Disconnected();
        });
    }

private:
    struct Answer {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<bool> value;
    };

    template <class Question>
    std::optional<bool> Ask(Question question, bool proposed, Clock::time_point deadline) {
        auto answer = std::make_shared<Answer>();
        const bool posted = shared_->owner.Post([shared = shared_, answer, question, proposed] {
            bool accept = proposed;
            if (SshEvents* sink = SinkOf(*shared)) {
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
        if (!posted) return proposed;
        std::unique_lock lock(answer->mutex);
        while (!answer->value) {
            if (shared_->cancelled || Clock::now() >= deadline) return std::nullopt;
            answer->done.wait_until(lock, std::min(deadline, Clock::now() + kSlice));
        }
        return answer->value;
    }

    std::shared_ptr<Shared> shared_;
};

class LibsshSsh final : public SshObject {
public:
    LibsshSsh() : shared_(std::make_shared<Shared>()) { shared_->owner = platform::CurrentThreadQueue(); }

    ~LibsshSsh() override {
        {
            std::lock_guard lock(shared_->mutex);
            shared_->sink = nullptr;
        }
        shared_->cancelled = true;
        shared_->room.notify_all();
        if (worker_.joinable()) worker_.join();
    }

    LibsshSsh(const LibsshSsh&) = delete;
    LibsshSsh& operator=(const LibsshSsh&) = delete;

    void SetEventSink(SshEvents* sink) override {
        std::lock_guard lock(shared_->mutex);
        shared_->sink = sink;
    }
    void SetHostName(const std::u16string& host) override { host_ = host; }
    void SetPort(std::int32_t port) override { port_ = port; }
    void SetUserName(const std::u16string& user) override { user_ = user; }
    void SetPassword(const std::u16string& password) override { password_ = platform::SecretText(password); }
    void SetAuthenticationMethod(std::int32_t method) override { method_ = method; }
    void SetKey(const std::u16string& keyText) override {
        if (keyText.empty()) {
            key_.reset();
            return;
        }
        auto key = FindRegisteredKey(keyText);
        if (!key) throw errors::ComponentFailure(u"The key given is not one that the key object has loaded");
        key_ = std::move(key);
    }
    void SetCommand(const std::u16string& command) override { command_ = command; }
    void SetProtocol(std::int32_t code) override {
        if (code != kProtocolSsh1 && code != kProtocolSsh2 && code != kProtocolAuto) {
            throw errors::ComponentFailure(u"Unknown SSH protocol code " + FromUtf8(std::to_string(code)));
        }
        protocol_ = code;
    }
    void SetTimeout(std::int16_t seconds) override { timeout_ = seconds; }
    void SetHostKeyPins(const std::u16string& text) override {
        HostKeyPins pins = ParseHostKeyPins(text);
        if (!pins.ok()) throw errors::ComponentFailure(pins.error);
        pins_ = std::move(pins.fingerprints);
    }

    void Connect() override {
        if (started_) throw errors::ComponentFailure(u"This SSH object has already connected once");
        if (host_.empty()) throw errors::ComponentFailure(u"No host name was given");
        if (port_ < 1 || port_ > 65535) {
            throw errors::ComponentFailure(u"The port " + FromUtf8(std::to_string(port_)) +
                                           u" is not a TCP port (1 to 65535)");
        }
        const bool publicKey = method_ == kAuthPublicKey;
        if (publicKey && !key_) {
            throw errors::ComponentFailure(u"Public key authentication was chosen, but no key was given");
        }
        started_ = true;
        WorkerSink events(shared_);
        if (protocol_ == kProtocolSsh1) {
            events.Connected(kErrorUnsupported,
                             u"SSH protocol 1 is not supported: choose SSH2 or SSH Auto for " + host_);
            events.Disconnected();
            return;
        }

        SessionRequest request;
        request.host = ToUtf8(host_);
        request.port = port_;
        request.user = ToUtf8(user_);
        {
            std::string utf8 = ToUtf8(password_.get());
            request.password = platform::SecretBytes(std::move(utf8));
            platform::SecureWipe(utf8);
        }
        password_.clear();
        if (publicKey) request.key = key_;
        request.command = ToUtf8(command_);
        request.timeout = timeout_ > 0 ? std::chrono::seconds(timeout_) : kDefaultTimeout;
        request.hostKeyPins = pins_;
        request.knownHostsFiles = KnownHostsFiles();
        try {
            worker_ = std::thread([shared = shared_, request = std::move(request)]() mutable {
                WorkerSink sink(shared);
                RunSession(request, sink);
            });
        } catch (const std::system_error&) {
            throw errors::ComponentFailure(u"The SSH connection could not be started (no thread)");
        }
    }

    std::u16string Read(std::int16_t count, std::int32_t kind) override {
        if (kind != kReadAsText) {
            throw errors::ComponentFailure(u"Read supports only the result kind 8 (text), not " +
                                           FromUtf8(std::to_string(kind)));
        }
        if (count <= 0) return {};
        std::u16string piece;
        {
            std::lock_guard lock(shared_->mutex);
            const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), shared_->Waiting());
            piece.assign(shared_->pending, shared_->head, n);
            shared_->head += n;
            // Reading ahead of the Received events takes the text they would announce.
            shared_->unannounced = std::min(shared_->unannounced, shared_->Waiting());
        }
        shared_->room.notify_all();
        return piece;
    }

private:
    LibraryUse library_;  // first: libssh stays initialised until the worker has ended
    std::shared_ptr<Shared> shared_;
    std::u16string host_;
    std::int32_t port_ = 22;
    std::u16string user_;
    platform::SecretText password_;
    std::int32_t method_ = 0;
    std::shared_ptr<const LoadedKey> key_;
    std::u16string command_;
    std::int32_t protocol_ = kProtocolAuto;
    std::int16_t timeout_ = 0;
    std::vector<std::u16string> pins_;
    bool started_ = false;
    std::thread worker_;
};

class LibsshKeys final : public KeyObject {
public:
    void LoadKeyFile(const std::u16string& path, const std::optional<std::u16string>& passPhrase) override {
        auto key = LoadPrivateKeyFile(path, passPhrase);
        registration_.reset();
        registration_ = std::make_unique<KeyRegistration>(key);
        key_ = std::move(key);
    }

    // The file fixes the key's type; the code is only checked.
    std::u16string KeyOfType(std::int32_t typeCode) override {
        if (typeCode != kKeyTypeRsa && typeCode != kKeyTypeDsa) {
            throw errors::ComponentFailure(u"Unknown key type code " + FromUtf8(std::to_string(typeCode)));
        }
        if (!registration_) throw errors::ComponentFailure(u"No key file has been loaded");
        return registration_->Token();
    }

private:
    LibraryUse library_;
    std::shared_ptr<const LoadedKey> key_;
    std::unique_ptr<KeyRegistration> registration_;
};

class Factory final : public ComponentFactory {
public:
    std::unique_ptr<SshObject> CreateSsh() override { return std::make_unique<LibsshSsh>(); }
    std::unique_ptr<KeyObject> CreateKeys() override { return std::make_unique<LibsshKeys>(); }
};

}  // namespace

void SetKnownHostsFilesForTesting(std::optional<std::vector<std::u16string>> files) {
    std::lock_guard lock(KnownHostsMutex());
    KnownHostsOverride() = std::move(files);
}

void SetKnownHostsFileForTesting(std::optional<std::u16string> path) {
    SetKnownHostsFilesForTesting(path ? std::optional(std::vector<std::u16string>{*path}) : std::nullopt);
}

std::vector<std::u16string> KnownHostsFiles() {
    {
        std::lock_guard lock(KnownHostsMutex());
        if (KnownHostsOverride()) return *KnownHostsOverride();
    }
    return DefaultKnownHostsFiles();
}

ComponentFactory& LibsshFactory() {
    static Factory factory;
    return factory;
}

}  // namespace tavrin::ssh
