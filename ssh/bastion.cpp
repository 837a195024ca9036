#include "ssh/bastion.h"

#include "common/text.h"
#include "platform/detached_thread.h"
#include "ssh/libssh_handles.h"
#include "ssh/library.h"
#include "ssh/session_pool.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace tavrin::ssh {

namespace net = platform::net;
using Clock = net::Clock;
using std::chrono::milliseconds;

namespace {

// The relay's longest wait, so that new channels, closes and the end of a kept bastion's time
// are seen within it.
constexpr milliseconds kRelaySlice(50);
// How long an opener waits for the relay between looks at its deadline and cancel flag.
constexpr milliseconds kOpenerSlice(50);
// Largest piece moved at once in either direction.
constexpr std::size_t kPiece = 64 * 1024;
constexpr int kFlushMs = 100;
// How long the last holder waits for the relay to end: two flushes and a disconnect.
constexpr milliseconds kStopWait(1000);

std::u16string U(const char* text) { return text != nullptr ? FromUtf8(text) : std::u16string(); }

// The reason of a refused channel as libssh words it: "Channel opening failure: channel N error
// (CODE) TEXT". The server's text and its reason code with the code's meaning.
std::u16string RefusalReason(std::string_view libsshError) {
    static constexpr std::string_view kMarker = "error (";
    const std::size_t at = libsshError.find(kMarker);
    if (at == std::string_view::npos) return FromUtf8(libsshError);
    const std::size_t codeStart = at + kMarker.size();
    const std::size_t close = libsshError.find(')', codeStart);
    if (close == std::string_view::npos) return FromUtf8(libsshError);
    const std::string_view code = libsshError.substr(codeStart, close - codeStart);
    std::string_view text = libsshError.substr(close + 1);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    std::u16string meaning;
    if (code == "1") meaning = u", administratively prohibited";
    if (code == "2") meaning = u", connect failed";
    if (code == "3") meaning = u", unknown channel type";
    if (code == "4") meaning = u", resource shortage";
    return (text.empty() ? std::u16string(u"no reason given") : FromUtf8(text)) + u" (reason code " +
           FromUtf8(code) + meaning + u")";
}

}  // namespace

struct Tunnel {
    enum class Stage { Opening, Open, Refused, Failed, Done };
    Stage stage = Stage::Opening;
    std::string host;
    int port = 0;
    ChannelPtr channel;
    net::Socket local;  // the relay's end of the pair
    std::string toLocal;   // from the channel, not yet written to the local end
    std::size_t toLocalHead = 0;
    std::string toRemote;  // from the local end, not yet written to the channel
    std::size_t toRemoteHead = 0;
    bool localEnded = false;   // the local end closed: the channel was sent its end of file
    bool remoteEnded = false;  // the channel's end of file: the local end was shut down for sending
    bool abandoned = false;    // the opener gave up
    std::u16string reason;     // Refused / Failed
};

struct Bastion::State {
    // No library use of its own: the link holds one, and the relay lets the link go before it
    // says it has finished, so that nothing of libssh is left to the relay thread after that.
    std::u16string name;
    mutable std::mutex mutex;
    std::condition_variable changed;
    // Owned by the relay thread once it runs; only it touches the session and the channels.
    std::unique_ptr<Link> link;
    std::vector<std::unique_ptr<Tunnel>> tunnels;  // guarded by `mutex` (the list and the stages)
    bool stop = false;                             // the last holder is gone, or the keeping time is up
    bool finished = false;                         // the relay has closed everything and ends
    bool dead = false;
    std::u16string ended;
    // Kept: for how long after its last channel closed, and until when, with no channel open,
    // the registry holds it.
    std::chrono::seconds idle{0};
    Clock::time_point keptUntil{};
};

namespace {

struct KeptBastion {
    std::string key;
    std::shared_ptr<Bastion> bastion;
};

std::mutex& KeptMutex() {
    static std::mutex m;
    return m;
}
std::vector<KeptBastion>& KeptList() {
    static std::vector<KeptBastion> list;
    return list;
}

// Moves what it can between one open channel and its local end; true when anything moved.
bool Pump(ssh_channel channel, Tunnel& t, std::string& buffer) {
    bool moved = false;
    // From the bastion to the server's session.
    if (t.toLocalHead == t.toLocal.size() && !t.remoteEnded) {
        t.toLocal.clear();
        t.toLocalHead = 0;
        const int got = ssh_channel_read_nonblocking(channel, buffer.data(), static_cast<std::uint32_t>(buffer.size()), 0);
        if (got > 0) {
            t.toLocal.assign(buffer.data(), static_cast<std::size_t>(got));
            moved = true;
        } else if (got == SSH_ERROR) {
            t.stage = Tunnel::Stage::Done;
            return true;
        } else if (ssh_channel_is_eof(channel) != 0) {
            net::ShutDownSending(t.local.Get());
            t.remoteEnded = true;
            moved = true;
        }
    }
    while (t.toLocalHead < t.toLocal.size()) {
        const net::Transfer sent = net::Send(t.local.Get(), t.toLocal.data() + t.toLocalHead,
                                             t.toLocal.size() - t.toLocalHead);
        if (sent.end == net::Transfer::End::Moved) {
            t.toLocalHead += sent.bytes;
            moved = true;
            continue;
        }
        if (sent.end != net::Transfer::End::WouldBlock) {
            t.stage = Tunnel::Stage::Done;
            return true;
        }
        break;
    }
    // From the server's session to the bastion, as far as the channel's window allows.
    if (t.toRemoteHead == t.toRemote.size() && !t.localEnded) {
        t.toRemote.clear();
        t.toRemoteHead = 0;
        const std::uint32_t window = ssh_channel_window_size(channel);
        if (window > 0) {
            const net::Transfer got = net::Receive(t.local.Get(), buffer.data(), std::min<std::size_t>(buffer.size(), window));
            if (got.end == net::Transfer::End::Moved) {
                t.toRemote.assign(buffer.data(), got.bytes);
                moved = true;
            } else if (got.end == net::Transfer::End::Closed) {
                ssh_channel_send_eof(channel);
                t.localEnded = true;
                moved = true;
            } else if (got.end == net::Transfer::End::Failed) {
                t.stage = Tunnel::Stage::Done;
                return true;
            }
        }
    }
    if (t.toRemoteHead < t.toRemote.size()) {
        const std::uint32_t window = ssh_channel_window_size(channel);
        if (window > 0) {
            const std::size_t piece = std::min<std::size_t>(t.toRemote.size() - t.toRemoteHead, window);
            const int written =
                ssh_channel_write(channel, t.toRemote.data() + t.toRemoteHead, static_cast<std::uint32_t>(piece));
            if (written == SSH_ERROR) {
                t.stage = Tunnel::Stage::Done;
                return true;
            }
            if (written > 0) {
                t.toRemoteHead += static_cast<std::size_t>(written);
                moved = true;
            }
        }
    }
    const bool flushed = t.toLocalHead == t.toLocal.size();
    if ((t.localEnded && t.remoteEnded) || (ssh_channel_is_closed(channel) != 0 && flushed && ssh_channel_poll(channel, 0) <= 0)) {
        t.stage = Tunnel::Stage::Done;
        moved = true;
    }
    return moved;
}

// Drives a channel that is being opened; true when its stage changed.
bool DriveOpening(ssh_session session, Tunnel& t) {
    if (!t.channel) {
        t.channel.reset(ssh_channel_new(session));
        if (!t.channel) {
            t.stage = Tunnel::Stage::Failed;
            t.reason = u"no channel could be created on the bastion connection";
            return true;
        }
    }
    const int rc = ssh_channel_open_forward(t.channel.get(), t.host.c_str(), t.port, "127.0.0.1", 0);
    if (rc == SSH_AGAIN) return false;
    if (rc == SSH_OK) {
        t.stage = Tunnel::Stage::Open;
        return true;
    }
    const char* error = ssh_get_error(session);
    if (ssh_get_error_code(session) == SSH_REQUEST_DENIED && ssh_is_connected(session) != 0) {
        t.stage = Tunnel::Stage::Refused;
        t.reason = RefusalReason(error != nullptr ? error : "");
    } else {
        t.stage = Tunnel::Stage::Failed;
        t.reason = error != nullptr && *error != '\0' ? U(error) : u"the bastion connection failed";
    }
    return true;
}

// Carries the channels until the bastion connection ends or the relay is told to stop. Throws
// when an allocation fails.
void CarryChannels(const std::shared_ptr<Bastion::State>& state, ssh_session session) {
    std::string buffer(kPiece, '\0');
    for (;;) {
        std::vector<net::WaitEntry> waits;
        bool busy = false;
        bool anyOpen = false;
        bool expired = false;
        {
            std::unique_lock lock(state->mutex);
            if (state->stop) break;
            if (ssh_is_connected(session) == 0 || ssh_get_error_code(session) == SSH_FATAL) {
                const char* error = ssh_get_error(session);
                state->dead = true;
                state->ended = error != nullptr && *error != '\0' && std::string_view(error) != "Success"
                                   ? U(error)
                                   : u"the bastion closed the connection";
                state->changed.notify_all();
                break;
            }
            bool stagesChanged = false;
            // Incoming packets are taken even while every local end is full: they are held in the
            // channels' buffers (within the windows offered), and the socket does not stay readable.
            for (auto& t : state->tunnels) {
                if (t->stage == Tunnel::Stage::Open) {
                    ssh_channel_poll(t->channel.get(), 0);
                    break;
                }
            }
            for (auto& t : state->tunnels) {
                if (t->stage == Tunnel::Stage::Opening && !t->abandoned) {
                    if (DriveOpening(session, *t)) stagesChanged = true;
                } else if (t->stage == Tunnel::Stage::Open) {
                    if (Pump(t->channel.get(), *t, buffer)) busy = true;
                }
            }
            // Finished and abandoned channels go; a channel still open is closed on its way.
            const auto before = state->tunnels.size();
            std::erase_if(state->tunnels, [](const std::unique_ptr<Tunnel>& t) {
                const bool gone = t->stage == Tunnel::Stage::Done || (t->abandoned && t->stage != Tunnel::Stage::Open);
                if (gone && t->channel && ssh_channel_is_open(t->channel.get()) != 0) ssh_channel_close(t->channel.get());
                return gone;
            });
            if (state->tunnels.size() != before) stagesChanged = true;
            if (stagesChanged) state->changed.notify_all();
            for (const auto& t : state->tunnels) {
                if (t->stage == Tunnel::Stage::Open) {
                    anyOpen = true;
                    net::WaitEntry entry;
                    entry.socket = t->local.Get();
                    entry.wantWrite = t->toLocalHead < t->toLocal.size();
                    waits.push_back(entry);
                    if (ssh_channel_poll(t->channel.get(), 0) > 0 && t->toLocalHead == t->toLocal.size()) busy = true;
                } else if (t->stage == Tunnel::Stage::Opening) {
                    anyOpen = true;
                }
            }
            if (state->tunnels.empty() && before > 0 && state->idle.count() > 0) {
                state->keptUntil = Clock::now() + state->idle;
            }
            expired = state->tunnels.empty() && state->idle.count() > 0 && Clock::now() >= state->keptUntil;
        }
        if (expired) {
            // Kept long enough with nothing to carry: it ends; the registry drops it as dead.
            std::lock_guard lock(state->mutex);
            state->stop = true;
            continue;
        }
        if (busy) continue;
        if (anyOpen) {
            const socket_t fd = ssh_get_fd(session);
            if (fd != SSH_INVALID_SOCKET) {
                net::WaitEntry entry;
                entry.socket = static_cast<net::NativeSocket>(fd);
                entry.wantWrite = (ssh_get_poll_flags(session) & SSH_WRITE_PENDING) != 0;
                waits.push_back(entry);
            }
        }
        net::WaitSockets(waits, static_cast<int>(kRelaySlice.count()));
    }
}

void Relay(const std::shared_ptr<Bastion::State>& state) noexcept {
    ssh_session session = state->link->S();
    const char16_t* why = u"the bastion connection was closed";
    try {
        CarryChannels(state, session);
    } catch (...) {
        // The channels cannot be carried on: they end, and the checks on them are DOWN as lost.
        why = u"the relay of the bastion connection ran out of memory";
    }
    // In reverse order: the channels (their local ends close, and the sessions on them see the
    // connection end), then the bastion connection.
    std::vector<std::unique_ptr<Tunnel>> tunnels;
    {
        std::lock_guard lock(state->mutex);
        tunnels.swap(state->tunnels);
        if (!state->dead) {
            state->dead = true;
            try {
                state->ended = why;
            } catch (...) {
                // Ended() then says nothing more; Alive() is false all the same.
            }
        }
        state->changed.notify_all();
    }
    for (auto& t : tunnels) {
        if (t->channel && ssh_channel_is_open(t->channel.get()) != 0) ssh_channel_close(t->channel.get());
        t.reset();
    }
    if (ssh_is_connected(session) != 0) ssh_blocking_flush(session, kFlushMs);
    state->link.reset();
    ReleaseThreadState();
    {
        std::lock_guard lock(state->mutex);
        state->finished = true;
    }
    state->changed.notify_all();
}

}  // namespace

std::shared_ptr<Bastion> Bastion::Start(std::unique_ptr<Link> link, std::u16string name, std::u16string& why) {
    auto state = std::make_shared<State>();
    state->name = std::move(name);
    state->link = std::move(link);
    std::shared_ptr<Bastion> bastion(new Bastion(state));
    if (!platform::RunDetached([state] { Relay(state); })) {
        why = u"no thread could be started for the bastion connection";
        std::lock_guard lock(state->mutex);
        state->finished = true;  // nothing to wait for
        return nullptr;
    }
    return bastion;
}

// Waits, for a moment at most, until the relay has closed the channels and the connection: a
// process that ends right after its last check must not find the relay still in libssh.
Bastion::~Bastion() {
    std::unique_lock lock(state_->mutex);
    state_->stop = true;
    state_->changed.wait_for(lock, kStopWait, [this] { return state_->finished; });
}

TunnelResult Bastion::OpenTunnel(const std::string& host, int port, Clock::time_point giveUp,
                                 const std::atomic<bool>& cancel) {
    TunnelResult result;
    net::SocketPair pair = net::MakeSocketPair();
    if (!pair.first) {
        result.reason = u"no local socket pair for the forwarded channel: " + FromUtf8(pair.error);
        return result;
    }
    auto tunnel = std::make_unique<Tunnel>();
    tunnel->host = host;
    tunnel->port = port;
    tunnel->local = std::move(pair.first);
    Tunnel* t = tunnel.get();
    std::unique_lock lock(state_->mutex);
    if (state_->dead) {
        result.end = TunnelResult::End::Lost;
        result.reason = state_->ended;
        return result;
    }
    state_->tunnels.push_back(std::move(tunnel));
    for (;;) {
        if (t->stage == Tunnel::Stage::Open) {
            result.end = TunnelResult::End::Opened;
            result.socket = std::move(pair.second);
            return result;
        }
        if (t->stage != Tunnel::Stage::Opening || state_->dead) {
            // The relay removes it (a tunnel that is not open is dropped once abandoned).
            t->abandoned = true;
            if (t->stage == Tunnel::Stage::Refused) {
                result.end = TunnelResult::End::Refused;
                result.reason = t->reason;
            } else if (state_->dead) {
                result.end = TunnelResult::End::Lost;
                result.reason = state_->ended;
            } else {
                result.end = TunnelResult::End::Failed;
                result.reason = t->reason;
            }
            return result;
        }
        if (cancel || Clock::now() >= giveUp) {
            t->abandoned = true;
            result.end = cancel ? TunnelResult::End::Cancelled : TunnelResult::End::TimedOut;
            return result;
        }
        state_->changed.wait_for(lock, std::min<Clock::duration>(kOpenerSlice, giveUp - Clock::now()));
    }
}

bool Bastion::Alive() const {
    std::lock_guard lock(state_->mutex);
    return !state_->dead;
}

std::u16string Bastion::Ended() const {
    std::lock_guard lock(state_->mutex);
    return state_->dead ? state_->ended : std::u16string();
}

const std::u16string& Bastion::Name() const { return state_->name; }

std::shared_ptr<Bastion> Bastion::FindKept(const std::string& key) {
    std::lock_guard lock(KeptMutex());
    auto& list = KeptList();
    std::erase_if(list, [](const KeptBastion& k) { return !k.bastion->Alive(); });
    for (const KeptBastion& k : list) {
        if (k.key == key) return k.bastion;
    }
    return nullptr;
}

void Bastion::Keep(const std::string& key, const std::shared_ptr<Bastion>& bastion, std::chrono::seconds idle) {
    {
        std::lock_guard lock(bastion->state_->mutex);
        bastion->state_->idle = std::max(bastion->state_->idle, idle);
        bastion->state_->keptUntil = Clock::now() + bastion->state_->idle;
    }
    std::lock_guard lock(KeptMutex());
    auto& list = KeptList();
    for (const KeptBastion& k : list) {
        if (k.bastion == bastion) return;
    }
    list.push_back({key, bastion});
}

void Bastion::Discard(const std::shared_ptr<Bastion>& bastion) {
    std::vector<KeptBastion> gone;
    std::lock_guard lock(KeptMutex());
    auto& list = KeptList();
    for (auto it = list.begin(); it != list.end();) {
        if (it->bastion == bastion) {
            gone.push_back(std::move(*it));
            it = list.erase(it);
        } else {
            ++it;
        }
    }
}

std::size_t Bastion::KeptCount() {
    std::lock_guard lock(KeptMutex());
    return KeptList().size();
}

void Bastion::CloseAllKept() {
    std::vector<KeptBastion> gone;
    {
        std::lock_guard lock(KeptMutex());
        gone.swap(KeptList());
    }
}

}  // namespace tavrin::ssh
