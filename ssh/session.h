#pragma once
// One SSH session of a run, on the SSH object's worker thread: name lookup, TCP connect, key
// exchange, host key check, authentication, the command and its output, all under one
// deadline, then teardown in reverse order. It reaches the SSH object only through
// SessionSink.

#include "platform/net.h"
#include "platform/secret.h"
#include "ssh/component.h"
#include "ssh/key_store.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::ssh {

namespace net = platform::net;

struct SessionRequest {
    std::string host;  // UTF-8
    int port = 22;
    std::string user;
    platform::SecretBytes password;  // UTF-8; wiped once the login is done
    std::shared_ptr<const LoadedKey> key;  // set: public key authentication with it
    std::string command;
    std::chrono::seconds timeout{60};
    // The known_hosts files the server's key is checked against, in order (a missing one is
    // skipped); libssh itself is given none.
    std::vector<std::u16string> knownHostsFiles;
    // Pinned host keys ("SHA256:..."): when set, exactly these are accepted and no known_hosts
    // file is read.
    std::vector<std::u16string> hostKeyPins;
    // How long the logged-in connection may be kept idle for the next check with the same
    // login (ssh/session_pool.h); 0: not kept.
    std::chrono::seconds reuse{0};
    // An OpenSSH user certificate offered with `key`: a file the settings named (it must be
    // there), or the key file's "-cert.pub" (used when it exists). Read at every check.
    std::u16string certificateFile;
    bool certificateNamed = false;
    // The bastion the server is reached through: its login (host, port, user, password or key,
    // pins; the command and the timeout are not used). Null: a direct connection.
    std::unique_ptr<SessionRequest> bastion;
};

// What the session needs of its SSH object. Called on the worker thread.
class SessionSink {
public:
    virtual ~SessionSink() = default;
    // Raised when the SSH object goes away; the session then ends as soon as it can.
    virtual const std::atomic<bool>& CancelFlag() const = 0;
    virtual void Connected(std::int16_t code, const std::u16string& text) = 0;
    // Round trips to the owner's handlers: the answer, or nothing when the deadline passed or
    // the run was cancelled first.
    virtual std::optional<bool> CryptoInformation(const std::u16string& protocol, const std::u16string& remoteName,
                                                  const std::u16string& scCipher, const std::u16string& csCipher,
                                                  const std::u16string& keys, bool proposed,
                                                  net::Clock::time_point deadline) = 0;
    virtual std::optional<bool> HostFingerprint(const std::u16string& fingerprint, bool proposed,
                                                net::Clock::time_point deadline) = 0;
    // The output buffer: whether it takes more now, waiting until it does, and a piece of text.
    virtual bool HasRoom() = 0;
    virtual void WaitForRoom(net::Clock::time_point until) = 0;
    virtual void Output(std::u16string&& text) = 0;
    virtual void Disconnected() = 0;
    // What the run has found out (ssh/component.h), told when it changes.
    virtual void Noted(const RunFacts& facts) = 0;
};

// The login to a bastion as a session request takes it: a password login when `key` is null,
// else the key with its "-cert.pub" when that file exists.
std::unique_ptr<SessionRequest> MakeBastionRequest(std::string host, int port, std::string user,
                                                   platform::SecretBytes password,
                                                   std::shared_ptr<const LoadedKey> key,
                                                   std::vector<std::u16string> hostKeyPins,
                                                   std::vector<std::u16string> knownHostsFiles,
                                                   std::chrono::seconds timeout, std::chrono::seconds reuse);

// The most output one run collects, in bytes as the command prints them.
inline constexpr std::uint64_t kOutputLimitBytes = 64ull * 1024 * 1024;

// Runs the whole session; ends with Disconnected (unless cancelled). Never throws. The
// request's password is wiped as soon as the login is done.
void RunSession(SessionRequest& request, SessionSink& sink);

// The server's host key, fetched by a key exchange without logging in, and what the given
// known_hosts files say of it. Returns soon after `cancel` is raised (a null flag: never). With
// a bastion, the key exchange runs through it (the bastion is logged in to, as for a check).
HostKeyProbe ProbeHostKey(const std::string& host, int port, std::chrono::seconds timeout,
                          const std::vector<std::u16string>& knownHostsFiles,
                          const std::atomic<bool>* cancel = nullptr,
                          std::unique_ptr<SessionRequest> bastion = nullptr);

}  // namespace tavrin::ssh
