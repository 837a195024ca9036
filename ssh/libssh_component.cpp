// The SSH object and the key object over libssh: the settings and the worker thread that runs
// the session (ssh/session.cpp). Its events reach the thread that created the object through
// the event bridge (ssh/event_bridge.h).

#include "ssh/libssh_component.h"

#include "common/automation_error.h"
#include "common/text.h"
#include "platform/message_queue.h"
#include "platform/secret.h"
#include "ssh/component.h"
#include "ssh/event_bridge.h"
#include "ssh/host_key_pins.h"
#include "ssh/key_store.h"
#include "ssh/known_hosts.h"
#include "ssh/library.h"
#include "ssh/session.h"

#include <system_error>
#include <thread>
#include <vector>

namespace tavrin::ssh {

namespace {

constexpr std::chrono::seconds kDefaultTimeout(60);

class LibsshSsh final : public SshObject {
public:
    explicit LibsshSsh(std::optional<std::vector<std::u16string>> knownHostsFiles)
        : bridge_(std::make_shared<EventBridge>(platform::CurrentThreadQueue())),
          knownHostsFiles_(std::move(knownHostsFiles)) {}

    ~LibsshSsh() override {
        bridge_->Detach();
        if (worker_.joinable()) worker_.join();
    }

    LibsshSsh(const LibsshSsh&) = delete;
    LibsshSsh& operator=(const LibsshSsh&) = delete;

    void SetEventSink(SshEvents* sink) override { bridge_->SetSink(sink); }
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

    void SetReuse(std::int32_t seconds) override { reuse_ = seconds > 0 ? seconds : 0; }

    void SetBastion(const BastionSettings& settings) override {
        if (settings.host.empty()) throw errors::ComponentFailure(u"No host name was given for the bastion");
        if (settings.port < 1 || settings.port > 65535) {
            throw errors::ComponentFailure(u"The bastion's port " + FromUtf8(std::to_string(settings.port)) +
                                           u" is not a TCP port (1 to 65535)");
        }
        HostKeyPins pins = ParseHostKeyPins(settings.hostKeyPins);
        if (!pins.ok()) throw errors::ComponentFailure(u"The bastion's host keys (JFP): " + pins.error);
        std::shared_ptr<const LoadedKey> key;
        if (!settings.keyToken.empty()) {
            key = FindRegisteredKey(settings.keyToken);
            if (!key) throw errors::ComponentFailure(u"The bastion's key is not one that the key object has loaded");
        }
        bastion_ = Bastion{ToUtf8(settings.host), settings.port, ToUtf8(settings.user),
                           platform::SecretText(settings.password), std::move(key), std::move(pins.fingerprints)};
    }

    void SetCertificate(const std::u16string& path, bool named) override {
        certificateFile_ = path;
        certificateNamed_ = named;
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
        const std::unique_ptr<SessionSink> events = MakeWorkerSink(bridge_);
        if (protocol_ == kProtocolSsh1) {
            events->Connected(kErrorUnsupported,
                              u"SSH protocol 1 is not supported: choose SSH2 or SSH Auto for " + host_);
            events->Disconnected();
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
        request.reuse = std::chrono::seconds(reuse_);
        request.knownHostsFiles = knownHostsFiles_ ? *knownHostsFiles_ : DefaultKnownHostsFiles();
        if (publicKey) {
            request.certificateFile = certificateFile_;
            request.certificateNamed = certificateNamed_;
        }
        if (bastion_) {
            request.bastion = MakeBastionRequest(bastion_->host, bastion_->port, bastion_->user,
                                                 platform::SecretUtf8(bastion_->password.get()), bastion_->key,
                                                 bastion_->pins, request.knownHostsFiles, request.timeout,
                                                 request.reuse);
            bastion_->password.clear();
        }
        try {
            worker_ = std::thread([bridge = bridge_, request = std::move(request)]() mutable {
                const std::unique_ptr<SessionSink> sink = MakeWorkerSink(bridge);
                RunSession(request, *sink);
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
        return bridge_->Read(count);
    }

    RunFacts Facts() const override {
        try {
            std::lock_guard lock(bridge_->mutex);
            return bridge_->facts;
        } catch (...) {
            return {};
        }
    }

private:
    LibraryUse library_;  // first: libssh stays initialised until the worker has ended
    std::shared_ptr<EventBridge> bridge_;
    const std::optional<std::vector<std::u16string>> knownHostsFiles_;
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
    std::int32_t reuse_ = 0;
    struct Bastion {
        std::string host;
        std::int32_t port = 22;
        std::string user;
        platform::SecretText password;
        std::shared_ptr<const LoadedKey> key;
        std::vector<std::u16string> pins;
    };
    std::optional<Bastion> bastion_;
    std::u16string certificateFile_;
    bool certificateNamed_ = false;
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
    explicit Factory(LibsshOptions options) : options_(std::move(options)) {}
    std::unique_ptr<SshObject> CreateSsh() override { return std::make_unique<LibsshSsh>(options_.knownHostsFiles); }
    std::unique_ptr<KeyObject> CreateKeys() override { return std::make_unique<LibsshKeys>(); }
    HostKeyProbe ProbeHostKey(const std::u16string& host, int port, std::chrono::seconds timeout,
                              const std::atomic<bool>& cancel) override {
        try {
            const std::vector<std::u16string> files =
                options_.knownHostsFiles ? *options_.knownHostsFiles : DefaultKnownHostsFiles();
            return ssh::ProbeHostKey(ToUtf8(host), port, timeout, files, &cancel);
        } catch (...) {
            HostKeyProbe failed;
            failed.error = u"The host key could not be fetched";
            return failed;
        }
    }

private:
    const LibsshOptions options_;
};

}  // namespace

std::unique_ptr<ComponentFactory> MakeLibsshFactory(LibsshOptions options) {
    return std::make_unique<Factory>(std::move(options));
}

ComponentFactory& LibsshFactory() {
    static Factory factory{LibsshOptions{}};
    return factory;
}

}  // namespace tavrin::ssh
