#pragma once
// A scripted SSH component: records what the run set, and on Connect posts the scripted events
// to the creating thread's queue, as the real component does.

#include "common/automation_error.h"
#include "platform/message_queue.h"
#include "ssh/component.h"

#include <functional>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tavrin::testing {

struct FakeEvent {
    // kUnreadable: a Received whose Read fails for want of memory.
    enum Kind { kConnected, kReceived, kUnreadable, kDisconnected, kCall } kind;
    std::int16_t code = 0;
    std::u16string text;             // Connected's ErrorText, or the data that Received announces
    std::function<void()> call = {};  // kCall: runs on the pumping thread, between events
};

struct FakeScript {
    std::vector<FakeEvent> events;
    std::optional<std::u16string> connectFailure;  // Connect throws with this description
    std::optional<std::u16string> keyLoadFailure;  // LoadKeyFile throws with this description
};

struct FakeRecord {
    int sshCreated = 0, keysCreated = 0, connects = 0, sshAlive = 0;
    std::map<std::string, std::u16string> texts;
    std::map<std::string, std::int32_t> numbers;
    std::optional<std::u16string> keyPath;
    std::optional<std::optional<std::u16string>> passPhrase;
};

class FakeFactory final : public ssh::ComponentFactory {
public:
    FakeScript script;
    FakeRecord record;

    std::unique_ptr<ssh::SshObject> CreateSsh() override;
    std::unique_ptr<ssh::KeyObject> CreateKeys() override;
};

class FakeSsh final : public ssh::SshObject {
public:
    explicit FakeSsh(FakeFactory& f) : factory_(f), queue_(platform::CurrentThreadQueue()) { ++factory_.record.sshAlive; }
    void SetEventSink(ssh::SshEvents* sink) override { sink_ = sink; }
    void SetHostName(const std::u16string& v) override { factory_.record.texts["host"] = v; }
    void SetPort(std::int32_t v) override { factory_.record.numbers["port"] = v; }
    void SetUserName(const std::u16string& v) override { factory_.record.texts["user"] = v; }
    void SetPassword(const std::u16string& v) override { factory_.record.texts["password"] = v; }
    void SetAuthenticationMethod(std::int32_t v) override { factory_.record.numbers["auth"] = v; }
    void SetKey(const std::u16string& v) override { factory_.record.texts["key"] = v; }
    void SetCommand(const std::u16string& v) override { factory_.record.texts["command"] = v; }
    void SetProtocol(std::int32_t v) override { factory_.record.numbers["protocol"] = v; }
    void SetTimeout(std::int16_t v) override { factory_.record.numbers["timeout"] = v; }
    void SetHostKeyPins(const std::u16string& v) override { factory_.record.texts["pins"] = v; }
    void SetReuse(std::int32_t v) override { factory_.record.numbers["reuse"] = v; }
    void Connect() override {
        ++factory_.record.connects;
        if (factory_.script.connectFailure) throw errors::ComponentFailure(*factory_.script.connectFailure);
        auto alive = alive_;
        for (const auto& e : factory_.script.events) {
            queue_.Post([this, e, alive] {
                if (!*alive || !sink_) return;
                switch (e.kind) {
                case FakeEvent::kConnected: sink_->Connected(e.code, e.text); break;
                case FakeEvent::kReceived:
                    pending_ += e.text;
                    sink_->Received(static_cast<std::int16_t>(e.text.size()));
                    break;
                case FakeEvent::kUnreadable:
                    unreadable_ = true;
                    sink_->Received(1);
                    break;
                case FakeEvent::kDisconnected: sink_->Disconnected(); break;
                case FakeEvent::kCall: e.call(); break;
                }
            });
        }
    }
    std::u16string Read(std::int16_t count, std::int32_t) override {
        if (std::exchange(unreadable_, false)) throw std::bad_alloc();
        const auto n = std::min<std::size_t>(static_cast<std::size_t>(count), pending_.size());
        std::u16string out = pending_.substr(0, n);
        pending_.erase(0, n);
        return out;
    }
    ~FakeSsh() override {
        *alive_ = false;
        --factory_.record.sshAlive;
    }

private:
    FakeFactory& factory_;
    platform::QueueHandle queue_;
    ssh::SshEvents* sink_ = nullptr;
    std::u16string pending_;
    bool unreadable_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class FakeKeys final : public ssh::KeyObject {
public:
    explicit FakeKeys(FakeFactory& f) : factory_(f) {}
    void LoadKeyFile(const std::u16string& path, const std::optional<std::u16string>& passPhrase) override {
        if (factory_.script.keyLoadFailure) throw errors::ComponentFailure(*factory_.script.keyLoadFailure);
        factory_.record.keyPath = path;
        factory_.record.passPhrase = passPhrase;
    }
    std::u16string KeyOfType(std::int32_t typeCode) override { return u"key-of-type-" + std::u16string(1, u'0' + typeCode); }

private:
    FakeFactory& factory_;
};

inline std::unique_ptr<ssh::SshObject> FakeFactory::CreateSsh() {
    ++record.sshCreated;
    return std::make_unique<FakeSsh>(*this);
}
inline std::unique_ptr<ssh::KeyObject> FakeFactory::CreateKeys() {
    ++record.keysCreated;
    return std::make_unique<FakeKeys>(*this);
}

}  // namespace tavrin::testing
