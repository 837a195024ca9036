#pragma once
// The one fake of the SSH component: records every call in order (and what the run set, by
// name), and on Connect posts the scripted events to the creating thread's queue, as the real
// component does.

#include "common/automation_error.h"
#include "common/text.h"
#include "platform/message_queue.h"
#include "ssh/component.h"

#include <algorithm>
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
    // kUnreadable: a Received whose Read fails for want of memory. kHostKey: CryptoInformation
    // and HostFingerprint, with the fingerprint in `text`.
    enum Kind { kConnected, kReceived, kUnreadable, kDisconnected, kCall, kHostKey } kind;
    std::int16_t code = 0;
    std::u16string text;             // Connected's ErrorText, or the data that Received announces
    std::function<void()> call = {};  // kCall: runs on the pumping thread, between events
};

struct FakeScript {
    std::vector<FakeEvent> events;
    std::optional<std::u16string> connectFailure;  // Connect throws with this description
    std::optional<std::u16string> keyLoadFailure;  // LoadKeyFile throws with this description
    std::u16string readable;  // what Read hands out besides the text of scripted Received events
    bool readFails = false;   // every Read fails for want of memory
    ssh::RunFacts facts;      // what Facts reports
    ssh::HostKeyProbe probe;  // what ProbeHostKey answers
};

struct FakeRecord {
    int sshCreated = 0, keysCreated = 0, connects = 0, sshAlive = 0;
    std::map<std::string, std::u16string> texts;
    std::map<std::string, std::int32_t> numbers;
    std::optional<std::u16string> keyPath;
    std::optional<std::optional<std::u16string>> passPhrase;
    std::vector<std::string> calls;  // "Name=value" in the order of the calls
};

class FakeFactory final : public ssh::ComponentFactory {
public:
    FakeScript script;
    FakeRecord record;

    std::unique_ptr<ssh::SshObject> CreateSsh() override;
    std::unique_ptr<ssh::KeyObject> CreateKeys() override;
    ssh::HostKeyProbe ProbeHostKey(const std::u16string& host, int port, std::chrono::seconds timeout,
                                   const std::atomic<bool>&) override {
        record.calls.push_back("Probe=" + ToUtf8(host) + ":" + std::to_string(port) + "/" +
                               std::to_string(timeout.count()));
        return script.probe;
    }
};

class FakeSsh final : public ssh::SshObject {
public:
    explicit FakeSsh(FakeFactory& f) : factory_(f), queue_(platform::CurrentThreadQueue()) { ++factory_.record.sshAlive; }
    void SetEventSink(ssh::SshEvents* sink) override { sink_ = sink; }
    void SetHostName(const std::u16string& v) override { Text("Host", "host", v); }
    void SetPort(std::int32_t v) override { Number("Port", "port", v); }
    void SetUserName(const std::u16string& v) override { Text("User", "user", v); }
    void SetPassword(const std::u16string& v) override { Text("Password", "password", v); }
    void SetAuthenticationMethod(std::int32_t v) override { Number("Auth", "auth", v); }
    void SetKey(const std::u16string& v) override { Text("Key", "key", v); }
    void SetCommand(const std::u16string& v) override { Text("Command", "command", v); }
    void SetProtocol(std::int32_t v) override { Number("Protocol", "protocol", v); }
    void SetTimeout(std::int16_t v) override { Number("Timeout", "timeout", v); }
    void SetHostKeyPins(const std::u16string& v) override { Text("Pins", "pins", v); }
    void SetReuse(std::int32_t v) override { Number("Reuse", "reuse", v); }
    void SetBastion(const ssh::BastionSettings& v) override {
        Text("Bastion", "bastion",
             v.user + u"@" + v.host + u":" + FromUtf8(std::to_string(v.port)) + u" password=" + v.password +
                 u" key=" + v.keyToken + u" pins=" + v.hostKeyPins);
    }
    void SetCertificate(const std::u16string& path, bool named) override {
        Text("Certificate", "certificate", path + (named ? u" (named)" : u" (beside the key)"));
    }
    void Connect() override {
        factory_.record.calls.push_back("Connect=");
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
                case FakeEvent::kHostKey: {
                    bool accept = true;
                    sink_->CryptoInformation(u"SSH-2.0", u"SSH-2.0-fake", u"aes256-gcm@openssh.com",
                                             u"aes256-gcm@openssh.com", u"mlkem768x25519-sha256 ssh-ed25519", accept);
                    sink_->HostFingerprint(e.text, accept);
                    break;
                }
                }
            });
        }
    }
    std::u16string Read(std::int16_t count, std::int32_t kind) override {
        factory_.record.calls.push_back("Read=" + std::to_string(count) + "/" + std::to_string(kind));
        if (std::exchange(unreadable_, false) || factory_.script.readFails) throw std::bad_alloc();
        std::u16string& from = pending_.empty() ? factory_.script.readable : pending_;
        const auto n = std::min<std::size_t>(static_cast<std::size_t>(std::max<std::int16_t>(count, 0)), from.size());
        std::u16string out = from.substr(0, n);
        from.erase(0, n);
        return out;
    }
    ssh::RunFacts Facts() const override { return factory_.script.facts; }
    ~FakeSsh() override {
        *alive_ = false;
        --factory_.record.sshAlive;
    }

private:
    void Text(const char* call, const char* name, const std::u16string& v) {
        factory_.record.calls.push_back(std::string(call) + "=" + ToUtf8(v));
        factory_.record.texts[name] = v;
    }
    void Number(const char* call, const char* name, std::int32_t v) {
        factory_.record.calls.push_back(std::string(call) + "=" + std::to_string(v));
        factory_.record.numbers[name] = v;
    }

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
        factory_.record.calls.push_back("Load=" + ToUtf8(path));
        factory_.record.keyPath = path;
        factory_.record.passPhrase = passPhrase;
        if (factory_.script.keyLoadFailure) throw errors::ComponentFailure(*factory_.script.keyLoadFailure);
    }
    std::u16string KeyOfType(std::int32_t typeCode) override {
        factory_.record.calls.push_back("KeyOfType=" + std::to_string(typeCode));
        return u"key-of-type-" + std::u16string(1, static_cast<char16_t>(u'0' + typeCode));
    }

private:
    FakeFactory& factory_;
};

inline std::unique_ptr<ssh::SshObject> FakeFactory::CreateSsh() {
    record.calls.push_back("CreateSsh=");
    ++record.sshCreated;
    return std::make_unique<FakeSsh>(*this);
}
inline std::unique_ptr<ssh::KeyObject> FakeFactory::CreateKeys() {
    record.calls.push_back("CreateKeys=");
    ++record.keysCreated;
    return std::make_unique<FakeKeys>(*this);
}

}  // namespace tavrin::testing
