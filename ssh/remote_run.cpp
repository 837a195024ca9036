#include "ssh/remote_run.h"

#include "common/automation_error.h"
#include "platform/secret.h"
#include "ssh/records.h"

#include <mutex>
#include <new>

namespace tavrin::ssh {

namespace {

std::mutex& ListenerMutex() {
    static std::mutex m;
    return m;
}
RunDetailListener& Listener() {
    static RunDetailListener listener;
    return listener;
}

void TellDetail(const std::u16string& line) {
    RunDetailListener listener;
    {
        std::lock_guard lock(ListenerMutex());
        listener = Listener();
    }
    if (listener) listener(line);
}

std::int32_t ProtocolCode(const std::u16string& protocol) {
    if (protocol == u"1") return kProtocolSsh1;
    if (protocol == u"2") return kProtocolSsh2;
    return kProtocolAuto;  // "A" and any other text
}

std::int32_t KeyTypeCode(const std::u16string& keyType) {
    return keyType == u"DSA" ? kKeyTypeDsa : kKeyTypeRsa;  // "RSA" and any other text
}

}  // namespace

void SetRunDetailListener(RunDetailListener listener) {
    std::lock_guard lock(ListenerMutex());
    Listener() = std::move(listener);
}

RemoteCommandRun::RemoteCommandRun(ComponentFactory& factory) : factory_(factory) {}

RemoteCommandRun::~RemoteCommandRun() { ReleaseConnection(); }

void RemoteCommandRun::ReleaseConnection() noexcept {
    try {
        if (Ssh) lastRun_.facts = Ssh->Facts();
    } catch (...) {
        lastRun_.facts = RunFacts{};  // only what a test shows of the run is missing
    }
    if (Ssh) Ssh->SetEventSink(nullptr);
    Ssh.reset();
    SshKeys.reset();
    JumpKeys.reset();
}

void RemoteCommandRun::Get_mount_list(std::optional<std::u16string> MountName) {
    // 1. The argument's default; nothing else uses it.
    if (!MountName || *MountName == u"-1") MountName = std::u16string();

    const modTavrin::ConnectionSettings& settings = modTavrin::Settings();
    modTavrin::RunOutcome& outcome = modTavrin::Outcome();

    // 2. A fresh SSH object, whose events come here from now on, and a fresh key object. The
    // previous instances are released as they are replaced.
    std::unique_ptr<SshObject> ssh = factory_.CreateSsh();
    if (Ssh) Ssh->SetEventSink(nullptr);
    lastRun_ = RunReport{};
    Ssh = std::move(ssh);
    Ssh->SetEventSink(this);
    SshKeys = factory_.CreateKeys();
    JumpKeys.reset();

    // 3. and 5. The component's two further settings (-1 first, 200 after the host name) have
    // no counterpart in the libssh layer: its options are all set by the component itself.
    // 4.
    Ssh->SetHostName(settings.hostName);
    // 6. The port as it is; step 12 sets it again.
    Ssh->SetPort(settings.port);
    // 7., 8.
    Ssh->SetUserName(settings.userName);
    Ssh->SetPassword(settings.password);
    // 9. The key file, with the password as its pass phrase when there is one.
    if (!settings.keyFile.empty()) {
        if (settings.password.empty()) {
            SshKeys->LoadKeyFile(settings.keyFile, std::nullopt);
        } else {
            // The call takes its own copy of the pass phrase: overwritten here, whatever happens.
            struct WipedCopy {
                std::optional<std::u16string> text;
                ~WipedCopy() {
                    if (text) platform::SecureWipe(*text);
                }
            } passPhrase{settings.password};
            SshKeys->LoadKeyFile(settings.keyFile, passPhrase.text);
        }
        Ssh->SetAuthenticationMethod(kAuthPublicKey);
        Ssh->SetKey(SshKeys->KeyOfType(KeyTypeCode(settings.keyType)));
    }
    // 10. to 13.
    Ssh->SetCommand(settings.command);
    Ssh->SetProtocol(ProtocolCode(settings.protocol));
    Ssh->SetPort(settings.port == 0 ? 22 : settings.port);
    Ssh->SetTimeout(settings.timeout);
    // Pinned host keys, when the string has them.
    if (!settings.hostKeyPins.empty()) Ssh->SetHostKeyPins(settings.hostKeyPins);
    // A logged-in connection kept for the next check with the same login, when the string asks.
    if (settings.reuse > 0) Ssh->SetReuse(settings.reuse);
    // The certificate offered with the key: the one named, else the key file's "-cert.pub".
    if (!settings.keyFile.empty()) {
        if (!settings.certificate.empty()) {
            Ssh->SetCertificate(settings.certificate, true);
        } else {
            Ssh->SetCertificate(settings.keyFile + u"-cert.pub", false);
        }
    }
    // The bastion, with its own password or key file, else with the check's.
    if (!settings.jumpHost.empty()) {
        BastionSettings bastion;
        bastion.host = settings.jumpHost;
        bastion.port = settings.jumpPort;
        bastion.user = settings.jumpUser;
        bastion.hostKeyPins = settings.jumpHostKeyPins;
        struct Wiped {
            BastionSettings& b;
            ~Wiped() { platform::SecureWipe(b.password); }
        } wiped{bastion};
        const bool ownCredentials = !settings.jumpPassword.empty() || !settings.jumpKeyFile.empty();
        const std::u16string& password = ownCredentials ? settings.jumpPassword : settings.password;
        const std::u16string& keyFile = ownCredentials ? settings.jumpKeyFile : settings.keyFile;
        if (keyFile.empty()) {
            bastion.password = password;
        } else if (ownCredentials || !SshKeys) {
            JumpKeys = factory_.CreateKeys();
            struct WipedCopy {
                std::optional<std::u16string> text;
                ~WipedCopy() {
                    if (text) platform::SecureWipe(*text);
                }
            } passPhrase{password.empty() ? std::nullopt : std::optional<std::u16string>(password)};
            JumpKeys->LoadKeyFile(keyFile, passPhrase.text);
            bastion.keyToken = JumpKeys->KeyOfType(KeyTypeCode(settings.keyType));
        } else {
            bastion.keyToken = SshKeys->KeyOfType(KeyTypeCode(settings.keyType));
        }
        Ssh->SetBastion(bastion);
    }

    // 14.
    outcome.completionFlag = 0;
    outcome.errorText.clear();
    outcome.startFailed = false;
    // 15. to 17. Only the connect call's failure is caught.
    try {
        Ssh->Connect();
    } catch (const AutomationError& e) {
        outcome.errorText = e.description();
        outcome.completionFlag = -1;
    }
}

void RemoteCommandRun::Connected(std::int16_t ErrorCode, const std::u16string& ErrorText) {
    if (ErrorCode == 0) return;
    modTavrin::RunOutcome& outcome = modTavrin::Outcome();
    outcome.errorText = ErrorText;
    // A key file that does not open fails the check before any connection, however late the
    // component found out.
    outcome.startFailed = ErrorCode == kErrorKeyFile;
}

void RemoteCommandRun::CryptoInformation(const std::u16string& protocol, const std::u16string& RemoteName,
                                         const std::u16string& SCcipher, const std::u16string& CScipher,
                                         const std::u16string& Keys, bool&) {
    try {
        lastRun_.algorithms = Keys + u"; ciphers " + SCcipher + u" (from the server) and " + CScipher + u" (to it)";
    } catch (const std::bad_alloc&) {
        lastRun_.algorithms.clear();
    }
    TellDetail(u"SSH: " + protocol + u" server " + RemoteName + u"; key exchange and host key type " + Keys +
               u"; ciphers " + SCcipher + u" (from the server) and " + CScipher + u" (to it)");
}

void RemoteCommandRun::HostFingerprint(const std::u16string& Fingerprint, bool& Accept) {
    try {
        lastRun_.fingerprint = Fingerprint;
    } catch (const std::bad_alloc&) {
        lastRun_.fingerprint.clear();
    }
    TellDetail(u"SSH: host key " + Fingerprint + (Accept ? u", accepted" : u", refused"));
}

void RemoteCommandRun::Received(std::int16_t ByteCount) {
    modTavrin::RunOutcome& outcome = modTavrin::Outcome();
    if (!Ssh || outcome.outputLost) return;
    try {
        outcome.collectedOutput += Ssh->Read(ByteCount, kReadAsText);
    } catch (const std::bad_alloc&) {
        // A hole in the output would judge text that the command never printed: give all of
        // it back and let the check run end DOWN.
        modTavrin::ReleaseOutput(outcome);
        outcome.outputLost = true;
    }
}

void RemoteCommandRun::Disconnected() {
    modTavrin::DebugTrace(u"Disconnected from SSH server");
    modTavrin::Outcome().completionFlag = -1;
}

}  // namespace tavrin::ssh
