#pragma once
// The SSH client component: an SSH object with settings, one connect call, a read call and
// five events, and a key object that loads private key files.
//
// Events are raised on the thread that created the SSH object, through that thread's message
// queue (platform/message_queue.h), and only while that thread pumps. Every failing operation
// throws tavrin::AutomationError with a description.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tavrin::ssh {

class SshEvents {
public:
    virtual ~SshEvents() = default;
    virtual void Connected(std::int16_t errorCode, const std::u16string& errorText) = 0;
    virtual void CryptoInformation(const std::u16string& protocol, const std::u16string& remoteName,
                                   const std::u16string& scCipher, const std::u16string& csCipher,
                                   const std::u16string& keys, bool& accept) = 0;
    virtual void HostFingerprint(const std::u16string& fingerprint, bool& accept) = 0;
    virtual void Received(std::int16_t byteCount) = 0;
    virtual void Disconnected() = 0;
};

// Protocol codes of SetProtocol.
inline constexpr std::int32_t kProtocolSsh1 = 2;
inline constexpr std::int32_t kProtocolSsh2 = 3;
inline constexpr std::int32_t kProtocolAuto = 4;
// Authentication method of SetAuthenticationMethod: public key.
inline constexpr std::int32_t kAuthPublicKey = 2;
// Key type codes of KeyObject::KeyOfType.
inline constexpr std::int32_t kKeyTypeRsa = 0;
inline constexpr std::int32_t kKeyTypeDsa = 1;
// Result kind of Read: text.
inline constexpr std::int32_t kReadAsText = 8;
// Largest count of one Received event (its count is a 16-bit integer).
inline constexpr std::int16_t kMaxReceivedCount = 32767;

// ErrorCode of a failed Connected event: what failed.
inline constexpr std::int16_t kErrorLookup = 1;         // the host name could not be resolved
inline constexpr std::int16_t kErrorConnect = 2;        // no TCP connection
inline constexpr std::int16_t kErrorTimeout = 3;        // the run's time-out passed
inline constexpr std::int16_t kErrorProtocol = 4;       // banner, key exchange, algorithms
inline constexpr std::int16_t kErrorHostKey = 5;        // the host key was refused
inline constexpr std::int16_t kErrorAuthentication = 6; // the login was refused
inline constexpr std::int16_t kErrorCommand = 7;        // the command could not be started
inline constexpr std::int16_t kErrorOutputLimit = 8;    // the command printed too much
inline constexpr std::int16_t kErrorUnsupported = 9;    // SSH protocol 1
inline constexpr std::int16_t kErrorInternal = 10;
inline constexpr std::int16_t kErrorConnectionLost = 11;  // the connection ended before the command did
// The key file could not be opened (its pass phrase is derived inside the run's bound): the check
// could not start, as when the key object refuses the file.
inline constexpr std::int16_t kErrorKeyFile = 12;

// What a run found out beyond its events: how the server's host key was trusted and whether a
// kept login served it. Known once the host key has been accepted.
struct RunFacts {
    enum class Trust {
        Unknown,          // the run did not get as far as accepting a host key
        Pinned,           // the key is one of the pinned keys (HFP)
        Recorded,         // a known_hosts file records it: `file`, `line`
        RecordedNowhere,  // no known_hosts file names the host
    };
    Trust trust = Trust::Unknown;
    std::u16string file;
    std::size_t line = 0;
    bool keptLogin = false;  // the command ran on a kept connection
    // The command's exit status, once it ended by itself with all of its output.
    std::optional<int> exitStatus;
};

// The bastion that a run reaches its server through (the parameter string's JMP, JPW, JKF and
// JFP fields, the check's own password or key when the bastion has none of its own).
struct BastionSettings {
    std::u16string host;
    std::int32_t port = 22;
    std::u16string user;
    std::u16string password;     // the bastion's password; unused with a key
    std::u16string keyToken;     // a key the key object loaded (KeyOfType); empty: password login
    std::u16string hostKeyPins;  // the JFP field's text; empty: known_hosts under the bastion's name
};

// The server's host key, fetched by a key exchange without logging in (for pinning it).
struct HostKeyProbe {
    std::u16string keyType;      // "ssh-ed25519", "ecdsa-sha2-nistp256", ...
    std::u16string fingerprint;  // "SHA256:..." as ssh-keygen -l prints it
    // What the known_hosts files say of the key: "recorded in FILE line N", "recorded nowhere",
    // "recorded with another key in FILE line N: refused", ...; `refused` when a check would
    // refuse it.
    std::u16string knownHosts;
    bool refused = false;
    std::u16string error;  // set when the key could not be fetched: why
};

class SshObject {
public:
    virtual ~SshObject() = default;
    // The events go to this sink; it must outlive the object or be reset to null first.
    virtual void SetEventSink(SshEvents* sink) = 0;
    virtual void SetHostName(const std::u16string& host) = 0;
    virtual void SetPort(std::int32_t port) = 0;
    virtual void SetUserName(const std::u16string& user) = 0;
    virtual void SetPassword(const std::u16string& password) = 0;
    virtual void SetAuthenticationMethod(std::int32_t method) = 0;
    virtual void SetKey(const std::u16string& keyText) = 0;
    virtual void SetCommand(const std::u16string& command) = 0;
    virtual void SetProtocol(std::int32_t code) = 0;
    virtual void SetTimeout(std::int16_t seconds) = 0;
    // Pinned host keys (the HFP field's text, see ssh/host_key_pins.h): only these keys are
    // accepted and known_hosts is not read. Throws when the text is malformed.
    virtual void SetHostKeyPins(const std::u16string& pins) = 0;
    // How many seconds the logged-in connection may be kept idle for the next check with the
    // same login (the REUSE field); 0 or less: a fresh connection, closed at the end.
    virtual void SetReuse(std::int32_t seconds) = 0;
    // The bastion to reach the server through; its host key rule is checked here (throws when
    // its pins are malformed).
    virtual void SetBastion(const BastionSettings& bastion) = 0;
    // An OpenSSH user certificate offered with the key: a file the settings named (`named`: it
    // must be there and fit the key), or the key file's "-cert.pub", used when it exists.
    virtual void SetCertificate(const std::u16string& path, bool named) = 0;
    // Starts the connection and returns; the session runs on a worker thread.
    virtual void Connect() = 0;
    // Takes up to `count` UTF-16 units of the output that has arrived.
    virtual std::u16string Read(std::int16_t count, std::int32_t kind) = 0;
    // What the run has found out so far. Never throws.
    virtual RunFacts Facts() const = 0;
};

class KeyObject {
public:
    virtual ~KeyObject() = default;
    virtual void LoadKeyFile(const std::u16string& path, const std::optional<std::u16string>& passPhrase) = 0;
    // The loaded key as the text that SshObject::SetKey takes.
    virtual std::u16string KeyOfType(std::int32_t typeCode) = 0;
};

class ComponentFactory {
public:
    virtual ~ComponentFactory() = default;
    virtual std::unique_ptr<SshObject> CreateSsh() = 0;
    virtual std::unique_ptr<KeyObject> CreateKeys() = 0;
    // Fetches the server's host key without logging in, checked against the known_hosts files
    // that this component's checks read, within `timeout`; returns soon after `cancel` is
    // raised. Never throws: a failure is the probe's error.
    virtual HostKeyProbe ProbeHostKey(const std::u16string& host, int port, std::chrono::seconds timeout,
                                      const std::atomic<bool>& cancel) = 0;
};

// The component over libssh with its default options; MakeLibsshFactory
// (ssh/libssh_component.h) makes one with others.
ComponentFactory& LibsshFactory();

}  // namespace tavrin::ssh
