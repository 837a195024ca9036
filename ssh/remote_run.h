#pragma once
// The remote command run: the part of the form frmmain that owns the SSH component, starts a
// run with Get_mount_list and receives the component's events.

#include "ssh/component.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tavrin::ssh {

// For the command-line tool's --verbose: a process-wide listener told in one line what the
// CryptoInformation and HostFingerprint events report (key exchange, ciphers, host key). The
// handlers themselves leave both events as they are, and the plug-in writes no trace of them.
using RunDetailListener = std::function<void(std::u16string_view line)>;
void SetRunDetailListener(RunDetailListener listener);

// What the last run of a remote command run showed of the server, for the dialog's test: the
// events' host key and algorithms, and the SSH object's facts.
struct RunReport {
    std::u16string fingerprint;  // the HostFingerprint event's
    std::u16string algorithms;   // key exchange, host key type and ciphers, from CryptoInformation
    RunFacts facts;
};

class RemoteCommandRun final : public SshEvents {
public:
    explicit RemoteCommandRun(ComponentFactory& factory = LibsshFactory());
    ~RemoteCommandRun() override;
    RemoteCommandRun(const RemoteCommandRun&) = delete;
    RemoteCommandRun& operator=(const RemoteCommandRun&) = delete;

    // Configures a fresh component from this thread's connection settings and starts the
    // connection. Failures while configuring propagate; a failing connect becomes the error text.
    void Get_mount_list(std::optional<std::u16string> MountName = std::nullopt);

    // Ends the run: the SSH object (its session is cancelled and its worker ends) and the key
    // object are released, and no further event reaches the handlers. The check run calls it
    // once it has stopped waiting, whether the run ended or was abandoned.
    void ReleaseConnection() noexcept;

    // The component this run creates its objects from.
    ComponentFactory& Factory() const { return factory_; }
    // What the last run showed, kept until the next Get_mount_list.
    const RunReport& LastRun() const { return lastRun_; }

    // The handlers of the component's events.
    void Connected(std::int16_t ErrorCode, const std::u16string& ErrorText) override;
    void CryptoInformation(const std::u16string& protocol, const std::u16string& RemoteName,
                           const std::u16string& SCcipher, const std::u16string& CScipher,
                           const std::u16string& Keys, bool& Accept) override;
    void HostFingerprint(const std::u16string& Fingerprint, bool& Accept) override;
    void Received(std::int16_t ByteCount) override;
    void Disconnected() override;

private:
    ComponentFactory& factory_;
    std::unique_ptr<SshObject> Ssh;
    std::unique_ptr<KeyObject> SshKeys;
    std::unique_ptr<KeyObject> JumpKeys;  // the bastion's own key file
    RunReport lastRun_;
};

}  // namespace tavrin::ssh
