#include "ssh/session.h"

#include "common/text.h"
#include "platform/codepage.h"
#include "ssh/component.h"
#include "ssh/libssh_handles.h"
#include "ssh/output_decoder.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace tavrin::ssh {

namespace {

using Clock = net::Clock;
using std::chrono::milliseconds;

// Waits are cut into slices so that a cancel or the deadline is seen within this time.
constexpr milliseconds kSlice(50);
// How long the teardown waits for a command that was told to stop, and for sends to leave.
constexpr milliseconds kStopWait(300);
constexpr int kFlushMs = 100;
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

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
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

class Session {
public:
    Session(const SessionRequest& request, SessionSink& sink)
        : request_(request),
          sink_(sink),
          cancel_(sink.CancelFlag()),
          deadline_(Clock::now() + request.timeout),
          where_(U(request.host) + u" port " + Number(request.port)),
          stdout_(platform::SystemAnsiCodePage()),
          stderr_(platform::SystemAnsiCodePage()) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() { Teardown(false); }

    void Run();
    // Ends the session in reverse order; with `stopCommand`, a command that still runs is told
    // to stop first.
    void Teardown(bool stopCommand) noexcept;

private:
    ssh_session S() const { return session_.get(); }
    std::u16string LibsshError() const { return U(ssh_get_error(S())); }

    void CheckCancelAndDeadline() const {
        if (cancel_) throw CancelledRun{};
        if (Clock::now() >= deadline_) {
            throw Failure{kErrorTimeout, u"Timed out after " + Number(request_.timeout.count()) + u" seconds " +
                                             phase_ + u" (" + where_ + u")"};
        }
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
            net::WaitSocket(fd, write, SliceMs());
        }
    }

    template <class T>
    void SetOption(ssh_options_e option, const T* value) {
        if (ssh_options_set(S(), option, value) != SSH_OK) {
            throw Failure{kErrorInternal, u"The SSH session could not be set up: " + LibsshError()};
        }
    }

    void LookUpAndConnect();
    void OpenSession();
    void Handshake();
    void CheckHostKey();
    void Authenticate();
    void AuthenticateWithKey();
    void AuthenticateWithPassword();
    int KeyboardInteractive();
    void RunCommand();
    void ReadOutput();
    bool DrainHeldBack();
    void Feed(const char* data, std::size_t length, bool isStderr);
    [[noreturn]] void WaitFailed() const;

    static int OnChannelData(ssh_session, ssh_channel, void* data, std::uint32_t length, int isStderr,
                             void* user);

    const SessionRequest& request_;
    SessionSink& sink_;
    const std::atomic<bool>& cancel_;
    const Clock::time_point deadline_;
    const std::u16string where_;
    std::u16string phase_;

    // Owned in this order and released in reverse.
    net::Socket socket_;
    net::Address peer_;
    bool handSocket_ = false;        // the socket goes to libssh (else libssh connects itself)
    bool socketHandedOver_ = false;  // libssh has had it since its first ssh_connect call
    bool resetHostName_ = false;
    SessionPtr session_;
    KeyPtr hostKey_;
    ssh_channel_callbacks_struct channelCallbacks_{};
    ChannelPtr channel_;
    bool commandRunning_ = false;
    bool tornDown_ = false;

    OutputDecoder stdout_;
    OutputDecoder stderr_;
    std::uint64_t outputBytes_ = 0;
    bool outputLimitHit_ = false;
    bool discardOutput_ = false;
};

[[noreturn]] void Session::WaitFailed() const {
    CheckCancelAndDeadline();
    throw CancelledRun{};
}

void Session::Run() {
    LookUpAndConnect();
    OpenSession();
    Handshake();
    CheckHostKey();
    Authenticate();
    sink_.Connected(0, {});
    RunCommand();
    ReadOutput();
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
    switch (connected.end) {
        case net::WaitEnd::Done: break;
        case net::WaitEnd::Failed:
            throw Failure{kErrorConnect, u"Could not connect to " + where_ + u": " + U(connected.error)};
        default: WaitFailed();
    }
    socket_ = std::move(connected.socket);
    peer_ = connected.peer;
}

void Session::OpenSession() {
    session_.reset(ssh_new());
    if (!session_) throw Failure{kErrorInternal, u"The SSH session could not be created"};
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
    // libssh expands "%" escapes in these paths; every option that its connect would work out
    // by itself is given, so that its connect cannot fail before it has taken the socket.
    const std::string knownHosts = EscapePercent(request_.knownHostsFile);
    SetOption(SSH_OPTIONS_SSH_DIR, EscapePercent(DirectoryOf(request_.knownHostsFile)).c_str());
    SetOption(SSH_OPTIONS_KNOWNHOSTS, knownHosts.c_str());
    SetOption(SSH_OPTIONS_GLOBAL_KNOWNHOSTS, EscapePercent(request_.noGlobalKnownHosts).c_str());
    const int nodelay = 1;
    SetOption(SSH_OPTIONS_NODELAY, &nodelay);
    const long seconds = static_cast<long>(request_.timeout.count());
    SetOption(SSH_OPTIONS_TIMEOUT, &seconds);
    // libssh keeps only 16 bits of a socket handed to it; a larger one (possible on Windows in
    // a process with very many handles) is replaced by libssh's own connect to the address
    // that just answered.
    const auto fd = socket_.Get();
    if (static_cast<std::uint64_t>(fd) <= 0xFFFF) {
        socket_t handed = fd;
        SetOption(SSH_OPTIONS_FD, &handed);
        handSocket_ = true;
    } else {
        socket_.Close();
        const std::string numeric = peer_.Numeric();
        SetOption(SSH_OPTIONS_HOST, numeric.c_str());
        resetHostName_ = true;
    }
    ssh_set_blocking(S(), 0);
}

void Session::Handshake() {
    phase_ = u"while waiting for the server's SSH banner and key exchange";
    // From its first ssh_connect call on, libssh holds the socket (and closes it itself when the
    // connection fails).
    socketHandedOver_ = handSocket_;
    const int rc = Drive([this] { return ssh_connect(S()); }, SSH_AGAIN);
    if (rc != SSH_OK) {
        CheckCancelAndDeadline();
        throw Failure{kErrorProtocol, u"The SSH connection to " + where_ + u" failed: " + LibsshError()};
    }
    if (resetHostName_) SetOption(SSH_OPTIONS_HOST, request_.host.c_str());  // for the host key check

    ssh_key raw = nullptr;
    if (ssh_get_server_publickey(S(), &raw) != SSH_OK) {
        throw Failure{kErrorProtocol, u"The server " + where_ + u" showed no host key"};
    }
    hostKey_.reset(raw);
    const char* hostKeyType = ssh_key_type_to_char(ssh_key_type(hostKey_.get()));
    std::string keys = ssh_get_kex_algo(S()) != nullptr ? ssh_get_kex_algo(S()) : "";
    if (hostKeyType != nullptr) keys += std::string(" ") + hostKeyType;
    const std::optional<bool> accept =
        sink_.CryptoInformation(u"SSH-2.0", U(ssh_get_serverbanner(S())), U(ssh_get_cipher_in(S())),
                                U(ssh_get_cipher_out(S())), U(keys), true, deadline_);
    if (!accept) WaitFailed();
    if (!*accept) {
        throw Failure{kErrorProtocol, u"The SSH algorithms of " + where_ + u" were not accepted"};
    }
}

void Session::CheckHostKey() {
    phase_ = u"while checking the host key";
    unsigned char* rawHash = nullptr;
    std::size_t hashLength = 0;
    if (ssh_get_publickey_hash(hostKey_.get(), SSH_PUBLICKEY_HASH_SHA256, &rawHash, &hashLength) != 0) {
        throw Failure{kErrorProtocol, u"The host key of " + where_ + u" could not be read"};
    }
    const HashPtr hash(rawHash);
    const LibsshText printable(ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash.get(), hashLength));
    const std::u16string fingerprint = U(printable.get());

    const ssh_known_hosts_e known = ssh_session_is_known_server(S());
    const bool proposed = known == SSH_KNOWN_HOSTS_OK || known == SSH_KNOWN_HOSTS_UNKNOWN ||
                          known == SSH_KNOWN_HOSTS_NOT_FOUND;
    const std::optional<bool> accept = sink_.HostFingerprint(fingerprint, proposed, deadline_);
    if (!accept) WaitFailed();
    if (*accept) return;

    const std::u16string host = U(request_.host);
    switch (known) {
        case SSH_KNOWN_HOSTS_CHANGED:
            throw Failure{kErrorHostKey, u"The host key of " + host + u" has changed: the server now shows " +
                                             fingerprint + u", which differs from the key recorded in " +
                                             request_.knownHostsForText + u"; the connection was refused"};
        case SSH_KNOWN_HOSTS_OTHER:
            throw Failure{kErrorHostKey, u"The host key of " + host + u" has changed: the server now shows " +
                                             fingerprint + u", of a type other than the key recorded in " +
                                             request_.knownHostsForText + u"; the connection was refused"};
        case SSH_KNOWN_HOSTS_ERROR:
            throw Failure{kErrorHostKey, u"The host key of " + host + u" (" + fingerprint +
                                             u") could not be checked against " + request_.knownHostsForText +
                                             u": " + LibsshError()};
        default:
            throw Failure{kErrorHostKey,
                          u"The host key of " + host + u" (" + fingerprint + u") was not accepted"};
    }
}

void Session::Authenticate() {
    phase_ = u"while logging in";
    if (request_.key) {
        AuthenticateWithKey();
    } else {
        AuthenticateWithPassword();
    }
}

void Session::AuthenticateWithKey() {
    const int rc =
        Drive([this] { return ssh_userauth_publickey(S(), nullptr, request_.key->key.get()); }, SSH_AUTH_AGAIN);
    if (rc == SSH_AUTH_SUCCESS) return;
    const std::u16string user = U(request_.user);
    if (rc == SSH_AUTH_PARTIAL) {
        throw Failure{kErrorAuthentication, u"The server " + where_ + u" accepted the key for the user " + user +
                                                u" but asks for a further login (" +
                                                MethodNames(ssh_userauth_list(S(), nullptr)) + u")"};
    }
    if (rc == SSH_AUTH_DENIED) {
        throw Failure{kErrorAuthentication, u"The server " + where_ + u" did not accept the key " +
                                                request_.key->path + u" for the user " + user};
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
        rc = Drive([this] { return ssh_userauth_password(S(), nullptr, request_.password.c_str()); },
                   SSH_AUTH_AGAIN);
    } else if ((methods & SSH_AUTH_METHOD_INTERACTIVE) != 0) {
        tried = u"password (keyboard-interactive)";
        rc = KeyboardInteractive();
    } else {
        throw Failure{kErrorAuthentication, u"The server " + where_ + u" offers no login by password for the user " +
                                                user + u" (it offers: " + MethodNames(methods) + u")"};
    }
    if (rc == SSH_AUTH_SUCCESS) return;
    if (rc == SSH_AUTH_DENIED) {
        throw Failure{kErrorAuthentication, u"The server " + where_ + u" did not accept the " +
                                                std::u16string(tried) + u" for the user " + user};
    }
    if (rc == SSH_AUTH_PARTIAL) {
        throw Failure{kErrorAuthentication, u"The server " + where_ + u" accepted the password for the user " + user +
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
            if (ssh_userauth_kbdint_setanswer(S(), static_cast<unsigned int>(i), request_.password.c_str()) < 0) {
                return SSH_AUTH_ERROR;
            }
        }
    }
    return SSH_AUTH_DENIED;
}

void Session::RunCommand() {
    phase_ = u"while starting the command";
    channel_.reset(ssh_channel_new(S()));
    if (!channel_) throw Failure{kErrorCommand, u"The SSH channel could not be created: " + LibsshError()};
    int rc = Drive([this] { return ssh_channel_open_session(channel_.get()); }, SSH_AGAIN);
    if (rc != SSH_OK) {
        throw Failure{kErrorCommand, u"The server " + where_ + u" did not open a session: " + LibsshError()};
    }
    // Output arrives through the callback, standard output and standard error in the order of
    // their packets.
    std::memset(&channelCallbacks_, 0, sizeof channelCallbacks_);
    channelCallbacks_.userdata = this;
    channelCallbacks_.channel_data_function = &Session::OnChannelData;
    ssh_callbacks_init(&channelCallbacks_);
    if (ssh_set_channel_callbacks(channel_.get(), &channelCallbacks_) != SSH_OK) {
        throw Failure{kErrorInternal, u"The SSH channel could not be set up: " + LibsshError()};
    }
    rc = Drive([this] { return ssh_channel_request_exec(channel_.get(), request_.command.c_str()); }, SSH_AGAIN);
    if (rc != SSH_OK) {
        throw Failure{kErrorCommand, u"The server " + where_ + u" did not run the command: " + LibsshError()};
    }
    commandRunning_ = true;
}

int Session::OnChannelData(ssh_session, ssh_channel, void* data, std::uint32_t length, int isStderr, void* user) {
    auto* self = static_cast<Session*>(user);
    if (self->discardOutput_ || self->outputLimitHit_) return static_cast<int>(length);
    // A full buffer leaves the data with libssh; its window then holds the server back.
    if (!self->sink_.HasRoom()) return 0;
    self->Feed(static_cast<const char*>(data), length, isStderr != 0);
    return static_cast<int>(length);
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

void Session::ReadOutput() {
    phase_ = u"while waiting for the command to finish";
    ssh_channel channel = channel_.get();
    for (;;) {
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
        if (ssh_channel_is_eof(channel) != 0 || ssh_channel_is_closed(channel) != 0) break;
        // Handles packets for one slice; the data goes through OnChannelData.
        if (ssh_channel_poll_timeout(channel, SliceMs(), 0) == SSH_ERROR) {
            // The connection broke off: what has arrived is the output.
            break;
        }
    }
    std::u16string rest;
    stdout_.Finish(rest);
    stderr_.Finish(rest);
    if (!rest.empty()) sink_.Output(std::move(rest));
    commandRunning_ = false;
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
    if (session_) {
        // libssh closes a socket handed to it only when the connection failed; then the
        // socket is no longer ours to close.
        if (socketHandedOver_ && ssh_get_fd(S()) == SSH_INVALID_SOCKET) {
            socket_.Release();
        }
        ssh_blocking_flush(S(), kFlushMs);
        ssh_disconnect(S());
        hostKey_.reset();
        session_.reset();
    }
    socket_.Close();
}

}  // namespace

void RunSession(const SessionRequest& request, SessionSink& sink) {
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

}  // namespace tavrin::ssh
