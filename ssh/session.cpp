#include "ssh/session.h"

#include "common/automation_error.h"
#include "common/text.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "ssh/bastion.h"
#include "ssh/certificate.h"
#include "ssh/component.h"
#include "ssh/crypto.h"
#include "ssh/known_hosts.h"
#include "ssh/libssh_handles.h"
#include "ssh/output_decoder.h"
#include "ssh/session_pool.h"

#include <algorithm>
#include <ctime>
#include <cstring>
#include <thread>
#include <vector>

namespace tavrin::ssh {

namespace {

using Clock = net::Clock;
using std::chrono::milliseconds;

// Waits are cut into slices so that a cancel or the deadline is seen within this time.
constexpr milliseconds kSlice(50);
// How long the teardown waits for a command that was told to stop, and for sends to leave.
constexpr milliseconds kStopWait(300);
constexpr int kFlushMs = 100;
// How long a kept link has to open a channel before it is taken for dead and replaced, and the
// largest share of the time left that it may take: a link that a NAT dropped while it was idle
// costs a check at most this moment, and the fresh login keeps the rest.
constexpr milliseconds kKeptLinkAnswer(1000);
constexpr int kKeptLinkShareDivisor = 4;
// Largest piece read at once from libssh's buffer.
constexpr std::size_t kReadPiece = 64 * 1024;

struct Failure {
    std::int16_t code;
    std::u16string text;
};
struct CancelledRun {};

std::u16string U(std::string_view utf8) { return FromUtf8(utf8); }
std::u16string U(const char* utf8) { return utf8 != nullptr ? FromUtf8(utf8) : std::u16string(); }
std::u16string Number(long long value) { return U(std::to_string(value)); }

std::string EscapePercent(const std::string& path) {
    std::string out;
    for (const char c : path) {
        out.push_back(c);
        if (c == '%') out.push_back('%');
    }
    return out;
}

std::u16string MethodNames(int methods) {
    std::u16string names;
    const auto add = [&](int bit, const char16_t* name) {
        if ((methods & bit) == 0) return;
        if (!names.empty()) names += u", ";
        names += name;
    };
    add(SSH_AUTH_METHOD_PUBLICKEY, u"publickey");
    add(SSH_AUTH_METHOD_PASSWORD, u"password");
    add(SSH_AUTH_METHOD_INTERACTIVE, u"keyboard-interactive");
    add(SSH_AUTH_METHOD_HOSTBASED, u"hostbased");
    add(SSH_AUTH_METHOD_GSSAPI_MIC, u"gssapi-with-mic");
    return names.empty() ? u"none" : names;
}

// The host key algorithms to offer, the recorded types' first; empty when nothing is recorded.
std::string HostKeyOrder(const std::vector<std::string>& recordedTypes) {
    static constexpr std::string_view kUsual[] = {"ssh-ed25519",         "ecdsa-sha2-nistp521", "ecdsa-sha2-nistp384",
                                                  "ecdsa-sha2-nistp256", "rsa-sha2-512",        "rsa-sha2-256"};
    std::vector<std::string_view> order;
    const auto add = [&order](std::string_view algorithm) {
        if (std::find(order.begin(), order.end(), algorithm) == order.end()) order.push_back(algorithm);
    };
    for (const std::string& type : recordedTypes) {
        if (type == "ssh-rsa") {
            add("rsa-sha2-512");
            add("rsa-sha2-256");
        } else if (std::find(std::begin(kUsual), std::end(kUsual), type) != std::end(kUsual)) {
            add(type);
        }
    }
    if (order.empty()) return {};
    for (const std::string_view algorithm : kUsual) add(algorithm);
    std::string list;
    for (const std::string_view algorithm : order) {
        if (!list.empty()) list += ',';
        list += algorithm;
    }
    return list;
}

// The key under which a link is kept: a keyed hash of everything a fresh login would use, so
// that a link serves only a check that would have logged in the same way, and the pool holds
// no credential.
std::string PoolKey(const SessionRequest& request, std::string_view certificate = {}) {
    std::vector<std::string> texts{request.host, std::to_string(request.port), request.user};
    if (request.key) {
        char* raw = nullptr;
        if (ssh_pki_export_pubkey_base64(request.key->key.get(), &raw) == SSH_OK && raw != nullptr) {
            const LibsshText publicKey(raw);
            texts.emplace_back(publicKey.get());
        } else {
            texts.push_back("?" + ToUtf8(request.key->path));  // still one key per file
        }
    }
    for (const std::u16string& pin : request.hostKeyPins) texts.push_back(ToUtf8(pin));
    texts.emplace_back("|");
    for (const std::u16string& file : request.knownHostsFiles) texts.push_back(ToUtf8(file));
    texts.emplace_back("|");
    // Through a bastion: that login too, so that a link serves only checks through the same one.
    if (request.bastion) texts.push_back("via " + PoolKey(*request.bastion));
    // A renewed certificate is a login of its own.
    if (!certificate.empty()) texts.push_back("cert " + std::string(certificate));
    std::vector<std::string_view> parts(texts.begin(), texts.end());
    parts.emplace_back(request.password.get());  // the password itself, not a copy
    return crypto::ProcessKeyedHash(parts);
}

// The sink of a probe and of a bastion's login: nobody to ask, nothing to deliver; the
// decisions are the session's own.
class ProbeSink final : public SessionSink {
public:
    explicit ProbeSink(const std::atomic<bool>* cancel) : cancel_(cancel != nullptr ? *cancel : never_) {}
    const std::atomic<bool>& CancelFlag() const override { return cancel_; }
    void Connected(std::int16_t, const std::u16string&) override {}
    std::optional<bool> CryptoInformation(const std::u16string&, const std::u16string&, const std::u16string&,
                                          const std::u16string&, const std::u16string&, bool proposed,
                                          net::Clock::time_point) override {
        return proposed;
    }
    std::optional<bool> HostFingerprint(const std::u16string&, bool proposed, net::Clock::time_point) override {
        return proposed;
    }
    bool HasRoom() override { return true; }
    void WaitForRoom(net::Clock::time_point) override {}
    void Output(std::u16string&&) override {}
    void Disconnected() override {}
    void Noted(const RunFacts&) override {}

private:
    std::atomic<bool> never_{false};
    const std::atomic<bool>& cancel_;
};

// Whom a session logs in to: the server that runs the command, or the bastion in front of it.
enum class Hop { Server, Bastion };

class Session {
public:
    Session(SessionRequest& request, SessionSink& sink)
        : Session(request, sink, Clock::now() + request.timeout, Hop::Server) {}
    Session(SessionRequest& request, SessionSink& sink, Clock::time_point deadline, Hop hop)
        : request_(request),
          sink_(sink),
          cancel_(sink.CancelFlag()),
          deadline_(deadline),
          hop_(hop),
          hopName_((hop == Hop::Bastion ? u"bastion " : u"") + U(request.host) + u" port " + Number(request.port)),
          where_(hop == Hop::Bastion ? u"the " + hopName_ : hopName_),
          stdout_(platform::SystemAnsiCodePage()),
          stderr_(platform::SystemAnsiCodePage()) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() { Teardown(false); }

    void Run();
    // Only as far as the server's host key: no login, no command.
    HostKeyProbe Probe();
    // The bastion's part: the login, after which the link is handed over.
    std::unique_ptr<Link> LogIn();
    // Ends the session in reverse order; with `stopCommand`, a command that still runs is told
    // to stop first.
    void Teardown(bool stopCommand) noexcept;

private:
    ssh_session S() const { return link_->S(); }
    std::u16string LibsshError() const {
        const std::string_view text = ssh_get_error(S()) != nullptr ? ssh_get_error(S()) : "";
        // libssh words a socket that was closed without an error code as the C library's text
        // for code 0, which would read as if nothing had gone wrong.
        if (text == "Success" || text == "No error") return u"the connection was closed";
        return text.empty() ? u"no reason given" : FromUtf8(text);
    }

    // "The server HOST port P", "The bastion HOST port P": how a message names the one at fault.
    std::u16string Server() const { return hop_ == Hop::Bastion ? u"The " + hopName_ : u"The server " + where_; }

    void CheckCancelAndDeadline() const {
        if (cancel_) throw CancelledRun{};
        if (Clock::now() >= deadline_) {
            throw Failure{kErrorTimeout, u"Timed out after " + Number(request_.timeout.count()) + u" seconds " +
                                             phase_ + u" (" + where_ + u")"};
        }
    }
    // Until when a kept link or a kept bastion may take to answer: a moment, and at most a share
    // of the time left, so that a fresh login keeps the rest.
    Clock::time_point KeptChance() const {
        const Clock::time_point now = Clock::now();
        return now + std::min<Clock::duration>(kKeptLinkAnswer,
                                               std::max<Clock::duration>(deadline_ - now, {}) / kKeptLinkShareDivisor);
    }
    int SliceMs() const {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline_ - Clock::now());
        return static_cast<int>(std::clamp(left, milliseconds(1), kSlice).count());
    }

    // Calls a non-blocking libssh step until it is no longer `again`, waiting on the socket
    // in between.
    template <class Step>
    int Drive(Step step, int again) {
        for (;;) {
            const int rc = step();
            if (rc != again) return rc;
            CheckCancelAndDeadline();
            const socket_t fd = ssh_get_fd(S());
            if (fd == SSH_INVALID_SOCKET) {
                std::this_thread::sleep_for(milliseconds(SliceMs()));
                continue;
            }
            const bool write = (ssh_get_poll_flags(S()) & SSH_WRITE_PENDING) != 0;
            net::AcknowledgeQuickly(static_cast<net::NativeSocket>(fd));
            net::WaitSocket(static_cast<net::NativeSocket>(fd), write, SliceMs());
        }
    }

    void AcknowledgeQuickly() const {
        const socket_t fd = ssh_get_fd(S());
        if (fd != SSH_INVALID_SOCKET) net::AcknowledgeQuickly(static_cast<net::NativeSocket>(fd));
    }

    template <class T>
    void SetOption(ssh_options_e option, const T* value) {
        if (ssh_options_set(S(), option, value) != SSH_OK) {
            throw Failure{kErrorInternal, u"The SSH session could not be set up: " + LibsshError()};
        }
    }

    void OpenKey();
    void PrepareCertificate();
    bool RunOnKeptLink();
    void Reach();
    void ConnectThroughBastion();
    void LookUpAndConnect();
    void OpenSession();
    void HandOverSocket(int firstConnect);
    void Handshake();
    // The known_hosts files, read once per connection on first use.
    const KnownHostsSnapshot& KnownHosts() {
        if (!knownHosts_) knownHosts_ = ReadKnownHostsFiles(request_.knownHostsFiles);
        return *knownHosts_;
    }
    std::u16string HostKeyFingerprint() const;
    void CheckHostKey();
    [[noreturn]] void ConnectionLost() const;
    void Authenticate();
    void AuthenticateWithKey();
    void AuthenticateWithPassword();
    int KeyboardInteractive();
    void OpenChannel();
    void StartCommand();
    void ReadOutput();
    bool DrainHeldBack();
    void Feed(const char* data, std::size_t length, bool isStderr);
    void ThrowIfCallbackFailed() const;
    // Why the run cannot go on after libssh gave up the session or the channel ended early.
    [[noreturn]] void RunBrokeOff() const;
    [[noreturn]] void ConnectionLostOrUnreadable() const;
    [[noreturn]] void WaitFailed() const;

    // libssh's C code calls these: nothing may be thrown through it. A failure is recorded and
    // the read loop ends the run with it.
    static int OnChannelData(ssh_session, ssh_channel, void* data, std::uint32_t length, int isStderr,
                             void* user) noexcept;
    static void OnChannelEof(ssh_session, ssh_channel, void* user) noexcept;
    static void OnChannelClose(ssh_session, ssh_channel, void* user) noexcept;
    static void OnExitStatus(ssh_session, ssh_channel, int status, void* user) noexcept;
    static void OnExitSignal(ssh_session, ssh_channel, const char* signal, int core, const char* message,
                             const char* language, void* user) noexcept;

    SessionRequest& request_;
    SessionSink& sink_;
    const std::atomic<bool>& cancel_;
    const Clock::time_point deadline_;
    const Hop hop_;
    const std::u16string hopName_;  // "HOST port P", "bastion HOST port P"
    const std::u16string where_;    // "HOST port P", "the bastion HOST port P"
    std::u16string phase_;
    bool tunneled_ = false;  // the socket is a bastion's forwarded channel
    std::optional<KnownHostsSnapshot> knownHosts_;
    KeyPtr certifiedKey_;          // the key with its certificate, when one is offered
    std::string certificateText_;  // that certificate, for the pool key

    // Owned in this order and released in reverse.
    std::unique_ptr<Link> link_;
    net::Address peer_;
    bool handSocket_ = false;  // the socket goes to libssh (else libssh connects itself)
    bool resetHostName_ = false;
    RunFacts facts_;           // what the run found out, told to the sink as it grows
    std::string poolKey_;      // set when the link may be kept for the next check
    bool keepLink_ = false;    // the command ended by the server's word: the link is sound
    ssh_channel_callbacks_struct channelCallbacks_{};
    ChannelPtr channel_;
    bool commandRunning_ = false;
    bool tornDown_ = false;

    OutputDecoder stdout_;
    OutputDecoder stderr_;
    std::uint64_t outputBytes_ = 0;
    bool outputLimitHit_ = false;
    bool discardOutput_ = false;

    // What the server said of the channel, as its messages arrived.
    bool eofSeen_ = false;
    bool closeSeen_ = false;
    std::optional<int> exitStatus_;
    std::optional<std::string> exitSignal_;
    bool coreDumped_ = false;
    // A failure inside a callback, for the read loop: its description.
    std::optional<std::u16string> callbackFailure_;
};

[[noreturn]] void Session::WaitFailed() const {
    CheckCancelAndDeadline();
    throw CancelledRun{};
}

void Session::Run() {
    OpenKey();
    PrepareCertificate();
    if (request_.reuse.count() > 0) {
        poolKey_ = PoolKey(request_, certificateText_);
        if (RunOnKeptLink()) return;
    }
    Reach();
    CheckHostKey();
    Authenticate();
    request_.password.clear();  // not needed any more
    sink_.Connected(0, {});
    OpenChannel();
    StartCommand();
    ReadOutput();
}

// A key whose pass phrase is still to be derived is opened first, within the run's deadline and
// cancel: a key file that asks for seconds of work cannot hold the check past its time-out.
void Session::OpenKey() {
    if (!request_.key || !request_.key->pending) return;
    phase_ = u"while opening the key file '" + request_.key->path + u"'";
    std::shared_ptr<const LoadedKey> opened;
    try {
        opened = OpenPendingKey(request_.key, deadline_, cancel_);
    } catch (const AutomationError& e) {
        throw Failure{kErrorKeyFile, e.description()};
    }
    if (!opened) WaitFailed();
    request_.key = std::move(opened);
}

// The certificate offered with the key is read at every check, so that a renewed short-lived
// one serves at once, and one that would be refused (expired, not yet valid, for another key)
// ends the check before it connects.
void Session::PrepareCertificate() {
    if (!request_.key || request_.certificateFile.empty()) return;
    std::optional<Certificate> certificate;
    try {
        if (request_.certificateNamed) {
            certificate = ReadCertificateFile(request_.certificateFile);
        } else {
            certificate = ReadCertificateBeside(request_.key->path);
        }
        if (!certificate) return;
        const std::u16string refusal =
            CertificateRefusal(*certificate, PublicKeyBlob(request_.key->key.get()), request_.key->path,
                               static_cast<std::uint64_t>(std::time(nullptr)));
        if (!refusal.empty()) throw Failure{kErrorKeyFile, refusal};
        certifiedKey_ = KeyWithCertificate(request_.key->key.get(), *certificate);
    } catch (const AutomationError& e) {
        throw Failure{kErrorKeyFile, e.description()};
    }
    certificateText_ = certificate->base64;
}

// A kept link that died while idle (a server restart, an idle close on the way) is noticed when
// it does not open a channel in good time, and replaced by a fresh login; the command has not
// been sent then. One kept link at most is tried: when it is dead, the others kept beside it
// most likely are too, and the reaper's probe finds them. Returns false when no kept link
// served.
bool Session::RunOnKeptLink() {
    if (std::unique_ptr<Link> kept = SessionPool::Instance().Take(poolKey_)) {
        link_ = std::move(kept);
        const Clock::time_point chance = KeptChance();
        bool open = false;
        try {
            phase_ = u"while opening a channel on a kept connection";
            channel_.reset(ssh_channel_new(S()));
            if (channel_) {
                open = Drive([this, chance] {
                           const int rc = ssh_channel_open_session(channel_.get());
                           return rc == SSH_AGAIN && Clock::now() >= chance ? SSH_ERROR : rc;
                       },
                       SSH_AGAIN) == SSH_OK;
            }
        } catch (const Failure&) {
            if (Clock::now() >= deadline_) throw;
        }
        if (!open) {
            channel_.reset();
            link_.reset();
            return false;
        }
        facts_.keptLogin = true;
        // The events of a login, as the kept link's login gave them; the host key is checked
        // again against today's files and pins.
        const std::optional<bool> accept = sink_.CryptoInformation(u"SSH-2.0", link_->banner, link_->cipherIn,
                                                                   link_->cipherOut, link_->keys, true, deadline_);
        if (!accept) WaitFailed();
        if (!*accept) {
            throw Failure{kErrorProtocol, u"The SSH algorithms of " + where_ + u" were not accepted"};
        }
        CheckHostKey();
        request_.password.clear();
        sink_.Connected(0, {});
        StartCommand();
        ReadOutput();
        return true;
    }
    return false;
}

std::unique_ptr<Link> Session::LogIn() {
    OpenKey();
    PrepareCertificate();
    Reach();
    CheckHostKey();
    Authenticate();
    request_.password.clear();
    return std::move(link_);
}

// The server's session runs on a channel that the bastion forwards to the server's name and
// port. A kept bastion login serves when one is alive (it has a moment to open the channel, as a
// kept link has); otherwise the bastion is logged in to here, its host key checked before any
// credential goes to it, all within this run's deadline.
void Session::ConnectThroughBastion() {
    SessionRequest& hop = *request_.bastion;
    const std::u16string target = U(request_.host) + u" port " + Number(request_.port);
    std::string keptKey;
    std::shared_ptr<Bastion> bastion;
    TunnelResult tunnel;
    if (request_.reuse.count() > 0) {
        keptKey = PoolKey(hop);
        bastion = Bastion::FindKept(keptKey);
    }
    if (bastion) {
        phase_ = u"while opening a connection through the kept " + bastion->Name();
        const Clock::time_point chance = KeptChance();
        tunnel = bastion->OpenTunnel(request_.host, request_.port, chance, cancel_);
        if (tunnel.end == TunnelResult::End::Cancelled) throw CancelledRun{};
        if (tunnel.end != TunnelResult::End::Opened && tunnel.end != TunnelResult::End::Refused) {
            Bastion::Discard(bastion);
            bastion.reset();
        }
    }
    if (!bastion) {
        ProbeSink hopSink(&cancel_);
        Session login(hop, hopSink, deadline_, Hop::Bastion);
        std::unique_ptr<Link> link = login.LogIn();
        std::u16string why;
        bastion = Bastion::Start(std::move(link), login.hopName_, why);
        if (!bastion) throw Failure{kErrorInternal, u"The connection through the bastion could not be set up: " + why};
        phase_ = u"while opening a connection through the " + bastion->Name();
        tunnel = bastion->OpenTunnel(request_.host, request_.port, deadline_, cancel_);
    }
    switch (tunnel.end) {
        case TunnelResult::End::Opened: break;
        case TunnelResult::End::Refused:
            throw Failure{kErrorConnect, u"The bastion " + U(hop.host) + u" could not open a connection to " +
                                             U(request_.host) + u" port " + Number(request_.port) + u": " +
                                             tunnel.reason};
        case TunnelResult::End::Lost:
            CheckCancelAndDeadline();
            throw Failure{kErrorConnectionLost, u"The connection to the " + bastion->Name() +
                                                    u" was lost while it opened a connection to " + target + u" (" +
                                                    tunnel.reason + u")"};
        case TunnelResult::End::Cancelled: throw CancelledRun{};
        case TunnelResult::End::TimedOut: CheckCancelAndDeadline(); [[fallthrough]];
        case TunnelResult::End::Failed:
            throw Failure{kErrorInternal, u"The connection to " + target + u" through the " + bastion->Name() +
                                              u" could not be set up: " + tunnel.reason};
    }
    if (!keptKey.empty()) Bastion::Keep(keptKey, bastion, request_.reuse);
    link_ = std::make_unique<Link>();
    link_->bastion = std::move(bastion);
    link_->socket = std::move(tunnel.socket);
    tunneled_ = true;
}

// The server's SSH connection as far as its host key: through the bastion, or straight to it.
void Session::Reach() {
    if (request_.bastion) {
        ConnectThroughBastion();
    } else {
        LookUpAndConnect();
    }
    OpenSession();
    Handshake();
}

HostKeyProbe Session::Probe() {
    Reach();
    HostKeyProbe probe;
    const char* type = ssh_key_type_to_char(ssh_key_type(link_->hostKey.get()));
    probe.keyType = U(type);
    probe.fingerprint = HostKeyFingerprint();
    const KnownHostsOutcome known =
        CheckKnownHostsFiles(KnownHosts(), request_.host, request_.port, link_->hostKey.get());
    probe.knownHosts = KnownHostsVerdict(known);
    probe.refused = known.result != KnownHostsOutcome::Result::Matches &&
                    known.result != KnownHostsOutcome::Result::NotRecorded;
    return probe;
}

void Session::LookUpAndConnect() {
    phase_ = u"while looking up the host name";
    net::ResolveResult resolved = net::Resolve(request_.host, request_.port, deadline_, cancel_);
    switch (resolved.end) {
        case net::WaitEnd::Done: break;
        case net::WaitEnd::Failed:
            throw Failure{kErrorLookup,
                          u"The host name " + U(request_.host) + u" could not be resolved: " + U(resolved.error)};
        default: WaitFailed();
    }
    phase_ = u"while connecting";
    net::ConnectResult connected = net::Connect(resolved.addresses, deadline_, cancel_);
    std::u16string tried;
    for (const std::string& address : connected.tried) {
        tried += (tried.empty() ? u"" : u", ") + U(address);
    }
    switch (connected.end) {
        case net::WaitEnd::Done: break;
        case net::WaitEnd::Failed:
            throw Failure{kErrorConnect, u"Could not connect to " + where_ + u": " + U(connected.error) +
                                             (connected.tried.size() > 1 ? u" (tried " + tried + u")" : u"")};
        case net::WaitEnd::TimedOut:
            throw Failure{kErrorTimeout, u"Timed out after " + Number(request_.timeout.count()) +
                                             u" seconds while connecting (" + where_ + u"; tried " + tried + u")"};
        default: WaitFailed();
    }
    link_ = std::make_unique<Link>();
    link_->socket = std::move(connected.socket);
    peer_ = connected.peer;
}

void Session::OpenSession() {
    link_->session.reset(ssh_new());
    if (!link_->session) throw Failure{kErrorInternal, u"The SSH session could not be created"};
    int verbosity = SSH_LOG_NOLOG;
    SetOption(SSH_OPTIONS_LOG_VERBOSITY, &verbosity);
    // Nothing of the account's or the system's SSH configuration is read: every option is set
    // here, the host key files included.
    const bool processConfig = false;
    SetOption(SSH_OPTIONS_PROCESS_CONFIG, &processConfig);
    SetOption(SSH_OPTIONS_HOST, request_.host.c_str());
    const unsigned int port = static_cast<unsigned int>(request_.port);
    SetOption(SSH_OPTIONS_PORT, &port);
    if (!request_.user.empty()) SetOption(SSH_OPTIONS_USER, request_.user.c_str());
    // The host key is checked by us (ssh/known_hosts.h), so libssh is pointed at files that
    // cannot exist. It expands "%" escapes in these paths; every option that its connect would
    // work out by itself is given, so that its connect cannot fail before it has taken the
    // socket.
    const std::string nowhere = EscapePercent(ToUtf8(platform::PathThatCannotExist()));
    SetOption(SSH_OPTIONS_SSH_DIR, nowhere.c_str());
    SetOption(SSH_OPTIONS_KNOWNHOSTS, nowhere.c_str());
    SetOption(SSH_OPTIONS_GLOBAL_KNOWNHOSTS, nowhere.c_str());
    // A host recorded in known_hosts is asked for the key types recorded for it first, as
    // libssh would do reading the files itself; with pinned keys the usual order stands.
    if (request_.hostKeyPins.empty()) {
        const std::string order = HostKeyOrder(RecordedKeyTypes(KnownHosts(), request_.host, request_.port));
        if (!order.empty()) SetOption(SSH_OPTIONS_HOSTKEYS, order.c_str());
    }
    const int nodelay = 1;
    SetOption(SSH_OPTIONS_NODELAY, &nodelay);
    const long seconds = static_cast<long>(request_.timeout.count());
    SetOption(SSH_OPTIONS_TIMEOUT, &seconds);
    // libssh keeps only 16 bits of a socket handed to it; a larger one (possible on Windows in
    // a process with very many handles) is replaced by libssh's own connect to the address
    // that just answered.
    const auto fd = link_->socket.Get();
    if (static_cast<std::uint64_t>(fd) <= 0xFFFF) {
        socket_t handed = static_cast<socket_t>(fd);
        SetOption(SSH_OPTIONS_FD, &handed);
        handSocket_ = true;
    } else if (tunneled_) {
        throw Failure{kErrorInternal, u"The connection through the bastion could not be handed to libssh (its "
                                      u"socket handle is larger than 16 bits)"};
    } else {
        link_->socket.Close();
        const std::string numeric = peer_.Numeric();
        SetOption(SSH_OPTIONS_HOST, numeric.c_str());
        resetHostName_ = true;
    }
    ssh_set_blocking(S(), 0);
}

// The socket has one owner at every moment. Until libssh has taken it (the first ssh_connect
// call stores it in the session's socket) it is ours. From then on it is libssh's alone: libssh
// would leave a socket handed to it open at ssh_disconnect but close it in ssh_free or on a
// write error, so it is told that the socket is its own, and every end (a disconnect, a dead
// connection freed, a failed write) closes it exactly once, inside libssh.
void Session::HandOverSocket(int firstConnect) {
    const socket_t handed = static_cast<socket_t>(link_->socket.Get());
    const socket_t held = ssh_get_fd(S());
    if (held == handed) {
        // Clearing the option makes libssh the socket's owner; the call reports the empty value
        // as an error, which would hide the reason of a connect that failed at once.
        const std::u16string reason = firstConnect == SSH_ERROR ? LibsshError() : std::u16string();
        ssh_options_set(S(), SSH_OPTIONS_FD, nullptr);
        link_->socket.Release();
        if (firstConnect == SSH_ERROR) {
            CheckCancelAndDeadline();
            throw Failure{kErrorProtocol, u"The SSH connection to " + where_ + u" failed: " + reason};
        }
        return;
    }
    // libssh does not hold it. Either it never took it (options it could not apply: then it is
    // still ours), or it took it and has closed it already (the peer reset the connection during
    // that first call). Only libssh's own text tells the two apart; when in doubt the socket is
    // given up rather than closed a second time, which could close another thread's handle.
    const std::string_view text = ssh_get_error(S()) != nullptr ? ssh_get_error(S()) : "";
    const bool neverTaken = text == "Couldn't apply options" || text == "Failed to process system configuration files";
    if (!neverTaken) link_->socket.Release();
}

void Session::Handshake() {
    phase_ = u"while waiting for the server's SSH banner and key exchange";
    int first = SSH_AGAIN;
    if (handSocket_) {
        first = ssh_connect(S());
        HandOverSocket(first);
    }
    const int rc = first == SSH_AGAIN ? Drive([this] { return ssh_connect(S()); }, SSH_AGAIN) : first;
    if (rc != SSH_OK) {
        CheckCancelAndDeadline();
        throw Failure{kErrorProtocol, u"The SSH connection to " + where_ + u" failed: " + LibsshError()};
    }
    if (resetHostName_) SetOption(SSH_OPTIONS_HOST, request_.host.c_str());  // for the host key check

    ssh_key raw = nullptr;
    if (ssh_get_server_publickey(S(), &raw) != SSH_OK) {
        throw Failure{kErrorProtocol, Server() + u" showed no host key"};
    }
    link_->hostKey.reset(raw);
    const char* hostKeyType = ssh_key_type_to_char(ssh_key_type(link_->hostKey.get()));
    std::string keys = ssh_get_kex_algo(S()) != nullptr ? ssh_get_kex_algo(S()) : "";
    if (hostKeyType != nullptr) keys += std::string(" ") + hostKeyType;
    link_->banner = U(ssh_get_serverbanner(S()));
    link_->cipherIn = U(ssh_get_cipher_in(S()));
    link_->cipherOut = U(ssh_get_cipher_out(S()));
    link_->keys = U(keys);
    const std::optional<bool> accept = sink_.CryptoInformation(u"SSH-2.0", link_->banner, link_->cipherIn,
                                                               link_->cipherOut, link_->keys, true, deadline_);
    if (!accept) WaitFailed();
    if (!*accept) {
        throw Failure{kErrorProtocol, u"The SSH algorithms of " + where_ + u" were not accepted"};
    }
}

std::u16string Session::HostKeyFingerprint() const {
    unsigned char* rawHash = nullptr;
    std::size_t hashLength = 0;
    if (ssh_get_publickey_hash(link_->hostKey.get(), SSH_PUBLICKEY_HASH_SHA256, &rawHash, &hashLength) != 0) {
        throw Failure{kErrorProtocol, u"The host key of " + where_ + u" could not be read"};
    }
    const HashPtr hash(rawHash);
    const LibsshText printable(ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash.get(), hashLength));
    if (!printable) throw Failure{kErrorInternal, u"The host key's fingerprint could not be computed"};
    return U(printable.get());
}

void Session::CheckHostKey() {
    phase_ = u"while checking the host key";
    const std::u16string fingerprint = HostKeyFingerprint();
    const std::u16string host = (hop_ == Hop::Bastion ? u"the bastion " : u"") + U(request_.host);
    const std::u16string pinField = hop_ == Hop::Bastion ? u"JFP" : u"HFP";
    const std::u16string refused = u"; the connection was refused";

    // Why the key is refused; empty when it is accepted.
    std::u16string refusal;
    RunFacts facts;
    if (!request_.hostKeyPins.empty()) {
        const auto& pins = request_.hostKeyPins;
        facts.trust = RunFacts::Trust::Pinned;
        if (std::find(pins.begin(), pins.end(), fingerprint) == pins.end()) {
            refusal = u"The host key of " + host + u" is " + fingerprint +
                      u", which is not a key pinned for it (" + pinField + u")" + refused;
        }
    } else {
        const KnownHostsOutcome known =
            CheckKnownHostsFiles(KnownHosts(), request_.host, request_.port, link_->hostKey.get());
        const std::u16string line = u"line " + Number(static_cast<long long>(known.line)) + u" of " + known.file;
        switch (known.result) {
            case KnownHostsOutcome::Result::NotRecorded: facts.trust = RunFacts::Trust::RecordedNowhere; break;
            case KnownHostsOutcome::Result::Matches:
                facts.trust = RunFacts::Trust::Recorded;
                facts.file = known.file;
                facts.line = known.line;
                break;
            case KnownHostsOutcome::Result::Changed:
                refusal = u"The host key of " + host + u" has changed: the server now shows " + fingerprint +
                          u", which differs from the key recorded in " + line + refused;
                break;
            case KnownHostsOutcome::Result::Revoked:
                refusal = u"The host key of " + host + u" (" + fingerprint + u") is revoked in " + line + refused;
                break;
            case KnownHostsOutcome::Result::Damaged:
                refusal = u"The host key of " + host + u" (" + fingerprint + u") could not be checked: " + line +
                          u" cannot be read (" + known.detail + u")" + refused;
                break;
            case KnownHostsOutcome::Result::CertificateAuthorityOnly:
                refusal = u"The host key of " + host + u" (" + fingerprint + u") cannot be verified: " + line +
                          u" names a certificate authority for it, and this client does not verify host "
                          u"certificates; pin the key (" + pinField + u") or record it in known_hosts" + refused;
                break;
            case KnownHostsOutcome::Result::Unreadable:
                refusal = u"The host key of " + host + u" (" + fingerprint + u") could not be checked: " +
                          known.file + u" cannot be read (" + known.detail + u")" + refused;
                break;
        }
    }
    const std::optional<bool> accept = sink_.HostFingerprint(fingerprint, refusal.empty(), deadline_);
    if (!accept) WaitFailed();
    if (*accept) {
        if (!refusal.empty()) facts = RunFacts{};  // accepted by the handler's own call
        facts_.trust = facts.trust;
        facts_.file = facts.file;
        facts_.line = facts.line;
        sink_.Noted(facts_);
        return;
    }
    if (refusal.empty()) refusal = u"The host key of " + host + u" (" + fingerprint + u") was not accepted";
    throw Failure{kErrorHostKey, refusal};
}

void Session::Authenticate() {
    phase_ = hop_ == Hop::Bastion ? u"while logging in to the bastion" : u"while logging in";
    try {
        if (request_.key) {
            AuthenticateWithKey();
        } else {
            AuthenticateWithPassword();
        }
    } catch (const Failure& failure) {
        if (hop_ != Hop::Bastion || failure.code != kErrorAuthentication) throw;
        // The bastion's refusal names the hop first; what the server said follows.
        std::u16string detail = failure.text;
        for (const std::u16string& prefix : {Server() + u" ", u"The login at " + where_ + u" "}) {
            if (detail.starts_with(prefix)) detail.erase(0, prefix.size());
        }
        throw Failure{kErrorAuthentication,
                      u"The " + hopName_ + u" refused the login of " + U(request_.user) + u" (" + detail + u")"};
    }
}

void Session::AuthenticateWithKey() {
    const int rc =
        Drive([this] {
            return ssh_userauth_publickey(S(), nullptr, certifiedKey_ ? certifiedKey_.get() : request_.key->key.get());
        }, SSH_AUTH_AGAIN);
    if (rc == SSH_AUTH_SUCCESS) return;
    const std::u16string user = U(request_.user);
    if (rc == SSH_AUTH_PARTIAL) {
        throw Failure{kErrorAuthentication, Server() + u" accepted the key for the user " + user +
                                                u" but asks for a further login (" +
                                                MethodNames(ssh_userauth_list(S(), nullptr)) + u")"};
    }
    if (rc == SSH_AUTH_DENIED) {
        throw Failure{kErrorAuthentication, Server() + u" did not accept the key " + request_.key->path +
                                                (certifiedKey_ ? u" with its certificate" : u"") + u" for the user " +
                                                user};
    }
    throw Failure{kErrorAuthentication, u"The login at " + where_ + u" failed: " + LibsshError()};
}

void Session::AuthenticateWithPassword() {
    const std::u16string user = U(request_.user);
    int rc = Drive([this] { return ssh_userauth_none(S(), nullptr); }, SSH_AUTH_AGAIN);
    if (rc == SSH_AUTH_SUCCESS) return;
    if (rc == SSH_AUTH_ERROR) {
        throw Failure{kErrorAuthentication, u"The login at " + where_ + u" failed: " + LibsshError()};
    }
    const int methods = ssh_userauth_list(S(), nullptr);
    const char16_t* tried = u"password";
    if ((methods & SSH_AUTH_METHOD_PASSWORD) != 0) {
        rc = Drive([this] { return ssh_userauth_password(S(), nullptr, request_.password.get().c_str()); },
                   SSH_AUTH_AGAIN);
    } else if ((methods & SSH_AUTH_METHOD_INTERACTIVE) != 0) {
        tried = u"password (keyboard-interactive)";
        rc = KeyboardInteractive();
    } else {
        throw Failure{kErrorAuthentication, Server() + u" offers no login by password for the user " +
                                                user + u" (it offers: " + MethodNames(methods) + u")"};
    }
    if (rc == SSH_AUTH_SUCCESS) return;
    if (rc == SSH_AUTH_DENIED) {
        throw Failure{kErrorAuthentication, Server() + u" did not accept the " +
                                                std::u16string(tried) + u" for the user " + user};
    }
    if (rc == SSH_AUTH_PARTIAL) {
        throw Failure{kErrorAuthentication, Server() + u" accepted the password for the user " + user +
                                                u" but asks for a further login (" +
                                                MethodNames(ssh_userauth_list(S(), nullptr)) + u")"};
    }
    throw Failure{kErrorAuthentication, u"The login at " + where_ + u" failed: " + LibsshError()};
}

// Answers every prompt with the password, once: a server that asks again has refused it.
int Session::KeyboardInteractive() {
    bool answered = false;
    for (int round = 0; round < 8; ++round) {
        const int rc = Drive([this] { return ssh_userauth_kbdint(S(), nullptr, nullptr); }, SSH_AUTH_AGAIN);
        if (rc != SSH_AUTH_INFO) return rc;
        const int prompts = ssh_userauth_kbdint_getnprompts(S());
        if (prompts > 0) {
            if (answered) return SSH_AUTH_DENIED;
            answered = true;
        }
        for (int i = 0; i < prompts; ++i) {
            if (ssh_userauth_kbdint_setanswer(S(), static_cast<unsigned int>(i), request_.password.get().c_str()) <
                0) {
                return SSH_AUTH_ERROR;
            }
        }
    }
    return SSH_AUTH_DENIED;
}

void Session::OpenChannel() {
    phase_ = u"while starting the command";
    channel_.reset(ssh_channel_new(S()));
    if (!channel_) throw Failure{kErrorCommand, u"The SSH channel could not be created: " + LibsshError()};
    const int rc = Drive([this] { return ssh_channel_open_session(channel_.get()); }, SSH_AGAIN);
    if (rc != SSH_OK) {
        throw Failure{kErrorCommand, Server() + u" did not open a session: " + LibsshError()};
    }
}

void Session::StartCommand() {
    phase_ = u"while starting the command";
    // Output arrives through the callback, standard output and standard error in the order of
    // their packets; the server's end of file, its close and how the command ended are noted.
    std::memset(&channelCallbacks_, 0, sizeof channelCallbacks_);
    channelCallbacks_.userdata = this;
    channelCallbacks_.channel_data_function = &Session::OnChannelData;
    channelCallbacks_.channel_eof_function = &Session::OnChannelEof;
    channelCallbacks_.channel_close_function = &Session::OnChannelClose;
    channelCallbacks_.channel_exit_status_function = &Session::OnExitStatus;
    channelCallbacks_.channel_exit_signal_function = &Session::OnExitSignal;
    ssh_callbacks_init(&channelCallbacks_);
    if (ssh_set_channel_callbacks(channel_.get(), &channelCallbacks_) != SSH_OK) {
        throw Failure{kErrorInternal, u"The SSH channel could not be set up: " + LibsshError()};
    }
    const int rc =
        Drive([this] { return ssh_channel_request_exec(channel_.get(), request_.command.c_str()); }, SSH_AGAIN);
    if (rc != SSH_OK) {
        throw Failure{kErrorCommand, Server() + u" did not run the command: " + LibsshError()};
    }
    commandRunning_ = true;
}

int Session::OnChannelData(ssh_session, ssh_channel, void* data, std::uint32_t length, int isStderr,
                           void* user) noexcept {
    auto* self = static_cast<Session*>(user);
    if (self->discardOutput_ || self->outputLimitHit_) return static_cast<int>(length);
    // After a failure the data stays with libssh: nothing more is taken.
    if (self->callbackFailure_) return 0;
    try {
        // A full buffer leaves the data with libssh; its window then holds the server back.
        if (!self->sink_.HasRoom()) return 0;
        self->Feed(static_cast<const char*>(data), length, isStderr != 0);
        return static_cast<int>(length);
    } catch (const std::bad_alloc&) {
        self->callbackFailure_.emplace(u"the output could not be held in memory");
    } catch (const AutomationError& e) {
        self->callbackFailure_.emplace(e.description());
    } catch (...) {
        self->callbackFailure_.emplace(u"the output could not be taken");
    }
    // Nothing of this piece was taken: the read loop ends the run before anything is judged.
    return 0;
}

void Session::OnChannelEof(ssh_session, ssh_channel, void* user) noexcept {
    static_cast<Session*>(user)->eofSeen_ = true;
}

void Session::OnChannelClose(ssh_session, ssh_channel, void* user) noexcept {
    static_cast<Session*>(user)->closeSeen_ = true;
}

void Session::OnExitStatus(ssh_session, ssh_channel, int status, void* user) noexcept {
    static_cast<Session*>(user)->exitStatus_ = status;
}

void Session::OnExitSignal(ssh_session, ssh_channel, const char* signal, int core, const char*, const char*,
                           void* user) noexcept {
    auto* self = static_cast<Session*>(user);
    self->coreDumped_ = core != 0;
    try {
        self->exitSignal_.emplace(signal != nullptr && *signal != '\0' ? signal : "(unnamed)");
    } catch (...) {
        // Even without its name the command did not end by itself.
        self->callbackFailure_.emplace(u"the command was ended by a signal");
    }
}

void Session::ThrowIfCallbackFailed() const {
    if (callbackFailure_) {
        throw Failure{kErrorInternal, u"The output of the command could not be collected: " + *callbackFailure_};
    }
}

void Session::Feed(const char* data, std::size_t length, bool isStderr) {
    const std::uint64_t room = kOutputLimitBytes - outputBytes_;
    if (length > room) {
        length = static_cast<std::size_t>(room);
        outputLimitHit_ = true;
    }
    outputBytes_ += length;
    std::u16string text;
    (isStderr ? stderr_ : stdout_).Feed(std::string_view(data, length), text);
    if (!text.empty()) sink_.Output(std::move(text));
}

// Takes what libssh holds back in its buffers (left there while ours was full).
bool Session::DrainHeldBack() {
    bool any = false;
    std::string piece;
    for (const int isStderr : {0, 1}) {
        const int pending = ssh_channel_poll(channel_.get(), isStderr);
        if (pending <= 0) continue;
        piece.resize(std::min<std::size_t>(static_cast<std::size_t>(pending), kReadPiece));
        const int got = ssh_channel_read_nonblocking(channel_.get(), piece.data(),
                                                     static_cast<std::uint32_t>(piece.size()), isStderr);
        if (got > 0) {
            Feed(piece.data(), static_cast<std::size_t>(got), isStderr != 0);
            any = true;
        }
    }
    return any;
}

// The run ends normally only when the command has ended by itself and all of its output has
// arrived: the server's end of file, everything sent before it taken, and then the command's
// exit status (or the channel's close, from a server that sends no status). A command ended by
// a signal, a channel closed without an end of file, a connection that broke off, and data that
// libssh could not read all end the run DOWN: what has arrived is not the whole output.
void Session::ReadOutput() {
    phase_ = u"while waiting for the command to finish";
    ssh_channel channel = channel_.get();
    for (;;) {
        ThrowIfCallbackFailed();
        if (outputLimitHit_) {
            throw Failure{kErrorOutputLimit, u"The command printed more than 64 MiB; the run was stopped after the "
                                             u"first 64 MiB"};
        }
        CheckCancelAndDeadline();
        if (!sink_.HasRoom()) {
            sink_.WaitForRoom(std::min(deadline_, Clock::now() + kSlice));
            continue;
        }
        if (DrainHeldBack()) continue;
        ThrowIfCallbackFailed();
        // libssh counts a close as an end of file; only the server's own EOF message is one.
        const bool drained = ssh_channel_is_eof(channel) != 0;
        if (drained && (exitSignal_ || (closeSeen_ && !eofSeen_))) RunBrokeOff();
        if (drained && eofSeen_ && (exitStatus_ || closeSeen_)) break;
        if (ssh_channel_is_closed(channel) != 0 || ssh_is_connected(S()) == 0) ConnectionLostOrUnreadable();
        AcknowledgeQuickly();
        // Handles packets for one slice; the data goes through OnChannelData. After the end of
        // file libssh's channel poll returns at once without reading: the exit status and the
        // close that follow it are taken by asking for the exit state, between waits on the
        // socket.
        int rc = SSH_OK;
        if (!drained) {
            rc = ssh_channel_poll_timeout(channel, SliceMs(), 0);
        } else {
            rc = ssh_channel_get_exit_state(channel, nullptr, nullptr, nullptr);
            const socket_t fd = ssh_get_fd(S());
            const bool decided = exitStatus_ || exitSignal_ || closeSeen_;
            if (rc != SSH_ERROR && !decided) {
                if (fd != SSH_INVALID_SOCKET) {
                    net::WaitSocket(static_cast<net::NativeSocket>(fd), false, SliceMs());
                } else {
                    std::this_thread::sleep_for(milliseconds(SliceMs()));
                }
            }
        }
        if (rc == SSH_ERROR) {
            // What libssh still holds is taken first; then the messages that came decide.
            if (DrainHeldBack()) continue;
            ThrowIfCallbackFailed();
            if (ssh_channel_is_eof(channel) != 0 && (exitSignal_ || (closeSeen_ && !eofSeen_))) RunBrokeOff();
            if (ssh_channel_is_eof(channel) != 0 && eofSeen_ && (exitStatus_ || closeSeen_)) break;
            ConnectionLostOrUnreadable();
        }
    }
    std::u16string rest;
    stdout_.Finish(rest);
    stderr_.Finish(rest);
    if (!rest.empty()) sink_.Output(std::move(rest));
    facts_.exitStatus = exitStatus_;
    sink_.Noted(facts_);
    commandRunning_ = false;
    keepLink_ = !poolKey_.empty();
}

void Session::ConnectionLost() const {
    CheckCancelAndDeadline();
    const std::string reason = ssh_get_error(S()) != nullptr ? ssh_get_error(S()) : "";
    std::u16string why = reason.empty() ? u"" : u" (" + U(reason) + u")";
    std::u16string through;
    if (link_ && link_->bastion) {
        through = u" through the " + link_->bastion->Name();
        // The bastion's end is what broke the server's connection.
        if (const std::u16string ended = link_->bastion->Ended(); !ended.empty()) {
            why = u" (the bastion connection ended: " + ended + u")";
        }
    }
    throw Failure{kErrorConnectionLost, u"The connection to " + where_ + through + u" was lost after " +
                                      Number(static_cast<long long>(outputBytes_)) + u" bytes of output" + why};
}

// The command's channel ended without the command ending by itself.
void Session::RunBrokeOff() const {
    if (exitSignal_) {
        throw Failure{kErrorCommand, u"The command was ended by signal " + U(*exitSignal_) +
                                         (coreDumped_ ? u" (core dumped)" : u"") + u" after " +
                                         Number(static_cast<long long>(outputBytes_)) + u" bytes of output"};
    }
    throw Failure{kErrorConnectionLost, u"The connection to " + where_ + u" was lost after " +
                                      Number(static_cast<long long>(outputBytes_)) +
                                      u" bytes of output (the server closed the command's channel without "
                                      u"ending its output)"};
}

// libssh fails the session when it cannot pass on data that arrived for the channel (our patch
// of its channel code: a malformed packet, more than the window allows, data it could not hold);
// its error then names which. Anything else is a connection that broke off.
void Session::ConnectionLostOrUnreadable() const {
    CheckCancelAndDeadline();
    static constexpr struct {
        std::string_view libssh;
        std::u16string_view what;
    } kUnreadable[] = {
        {"Window exceeded", u"a data packet larger than the window the client had offered"},
        {"Invalid data packet: no data string", u"a malformed data packet"},
        {"Invalid extended data packet: no data type code", u"a malformed data packet for standard error"},
        {"Received data on (remotely) closed channel", u"data after it had closed the channel"},
        {"Channel data could not be buffered", u"data that could not be held in memory"},
    };
    if (ssh_get_error_code(S()) == SSH_FATAL && ssh_get_error(S()) != nullptr) {
        const std::string_view error = ssh_get_error(S());
        for (const auto& known : kUnreadable) {
            if (error != known.libssh) continue;
            throw Failure{kErrorProtocol, Server() + u" sent data that could not be read (" +
                                              std::u16string(known.what) + u") after " +
                                              Number(static_cast<long long>(outputBytes_)) +
                                              u" bytes of output; the output is not complete"};
        }
    }
    ConnectionLost();
}

void Session::Teardown(bool stopCommand) noexcept {
    if (tornDown_) return;
    tornDown_ = true;
    discardOutput_ = true;
    if (channel_) {
        ssh_channel channel = channel_.get();
        if (stopCommand && commandRunning_ && ssh_channel_is_open(channel) != 0) {
            // Without a terminal the command would outlive the connection: stop it.
            ssh_channel_request_send_signal(channel, "TERM");
            ssh_blocking_flush(S(), kFlushMs);
            const auto until = Clock::now() + kStopWait;
            bool ended = false;
            while (!ended && Clock::now() < until) {
                const int rc = ssh_channel_poll_timeout(channel, static_cast<int>(kSlice.count()), 0);
                ended = rc == SSH_ERROR || ssh_channel_is_eof(channel) != 0 || ssh_channel_is_closed(channel) != 0;
            }
            if (!ended) {
                ssh_channel_request_send_signal(channel, "KILL");
                ssh_blocking_flush(S(), kFlushMs);
            }
        }
        if (ssh_channel_is_open(channel) != 0) ssh_channel_close(channel);
        channel_.reset();
    }
    if (!link_) return;
    if (keepLink_ && !stopCommand && link_->session && ssh_is_connected(S()) != 0) {
        ssh_blocking_flush(S(), kFlushMs);
        if (ssh_is_connected(S()) != 0) {
            if (!link_->loginKey) link_->loginKey = request_.key;
            SessionPool::Instance().Give(poolKey_, std::move(link_), request_.reuse);
            return;
        }
    }
    link_.reset();
}

}  // namespace

std::unique_ptr<SessionRequest> MakeBastionRequest(std::string host, int port, std::string user,
                                                   platform::SecretBytes password,
                                                   std::shared_ptr<const LoadedKey> key,
                                                   std::vector<std::u16string> hostKeyPins,
                                                   std::vector<std::u16string> knownHostsFiles,
                                                   std::chrono::seconds timeout, std::chrono::seconds reuse) {
    auto hop = std::make_unique<SessionRequest>();
    hop->host = std::move(host);
    hop->port = port;
    hop->user = std::move(user);
    if (key) {
        hop->certificateFile = key->path + u"-cert.pub";  // offered when it exists
        hop->key = std::move(key);
    } else {
        hop->password = std::move(password);
    }
    hop->hostKeyPins = std::move(hostKeyPins);
    hop->knownHostsFiles = std::move(knownHostsFiles);
    hop->timeout = timeout;
    hop->reuse = reuse;
    return hop;
}

void RunSession(SessionRequest& request, SessionSink& sink) {
    bool cancelled = false;
    try {
        Session session(request, sink);
        bool stop = false;
        try {
            session.Run();
        } catch (const Failure& failure) {
            sink.Connected(failure.code, failure.text);
            stop = true;
        } catch (const CancelledRun&) {
            cancelled = true;
            stop = true;
        }
        session.Teardown(stop);
    } catch (const std::exception& e) {
        sink.Connected(kErrorInternal, u"The SSH run failed: " + FromUtf8(e.what()));
    } catch (...) {
        sink.Connected(kErrorInternal, u"The SSH run failed");
    }
    if (!cancelled) sink.Disconnected();
}

HostKeyProbe ProbeHostKey(const std::string& host, int port, std::chrono::seconds timeout,
                          const std::vector<std::u16string>& knownHostsFiles, const std::atomic<bool>* cancel,
                          std::unique_ptr<SessionRequest> bastion) {
    HostKeyProbe probe;
    try {
        const LibraryUse library;
        SessionRequest request;
        request.host = host;
        request.port = port;
        request.timeout = timeout;
        request.knownHostsFiles = knownHostsFiles;
        request.bastion = std::move(bastion);
        if (request.bastion) request.bastion->timeout = timeout;
        ProbeSink sink(cancel);
        Session session(request, sink);
        try {
            probe = session.Probe();
        } catch (const Failure& failure) {
            probe.error = failure.text;
        } catch (const CancelledRun&) {
            probe.error = u"The key was not fetched: cancelled";
        }
        session.Teardown(false);
    } catch (const AutomationError& e) {
        probe.error = e.description();
    } catch (const std::exception& e) {
        probe.error = u"The host key could not be fetched: " + FromUtf8(e.what());
    }
    return probe;
}

}  // namespace tavrin::ssh
