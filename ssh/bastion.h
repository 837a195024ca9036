#pragma once
// A logged-in bastion connection that carries forwarded channels ("direct-tcpip") to the
// servers behind it. Each channel is paired with one end of a local socket pair; the server's
// own session runs on the other end as it would on a TCP connection, so its host key and login
// are checked exactly as for a direct connection. One thread per bastion connection moves the
// bytes and makes every libssh call on the bastion's session, so that a session that fails
// stops only its own channels.
//
// A bastion connection lives while anyone holds it: the check that logged in, the kept
// connections to the servers behind it, and the registry of kept bastions (for the REUSE
// seconds after it was last used). When it dies, every channel it carried is closed, and the
// sessions on them see their connection end.

#include "platform/net.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace tavrin::ssh {

struct Link;

struct TunnelResult {
    enum class End {
        Opened,     // `socket` is the end the server's session runs on
        Refused,    // the bastion refused the channel: `reason` holds its words and reason code
        Lost,       // the bastion connection ended: `reason`
        TimedOut,   // the deadline (or the given chance) passed first
        Cancelled,  // the cancel flag was raised first
        Failed,     // no socket pair, no channel: `reason`
    };
    End end = End::Failed;
    platform::net::Socket socket;
    std::u16string reason;
};

class Bastion {
public:
    // Takes over a logged-in link and starts the thread that carries its channels; null, with
    // `why` set, when no thread or socket could be had.
    static std::shared_ptr<Bastion> Start(std::unique_ptr<Link> link, std::u16string name, std::u16string& why);
    // The last holder gone: the thread closes the channels and the connection, in that order.
    ~Bastion();
    Bastion(const Bastion&) = delete;
    Bastion& operator=(const Bastion&) = delete;

    // Opens a channel to host:port (as the bastion resolves it) and returns the local end for the
    // server's session. Waits until `giveUp` at most (the run's deadline, or a shorter chance for
    // a kept bastion), or until `cancel` is raised.
    TunnelResult OpenTunnel(const std::string& host, int port, platform::net::Clock::time_point giveUp,
                            const std::atomic<bool>& cancel);

    bool Alive() const;
    // Why the bastion connection ended; empty while it is alive.
    std::u16string Ended() const;
    // "bastion HOST port PORT", for messages.
    const std::u16string& Name() const;

    // Kept bastions: one that is alive under `key` (a keyed hash as the session pool's), or null;
    // and keeping one for `idle` after its last channel closed.
    static std::shared_ptr<Bastion> FindKept(const std::string& key);
    static void Keep(const std::string& key, const std::shared_ptr<Bastion>& bastion, std::chrono::seconds idle);
    // A kept bastion that did not open a channel in time is kept no longer (it ends when its
    // last holder lets it go).
    static void Discard(const std::shared_ptr<Bastion>& bastion);
    // For tests: how many bastion connections are kept, and closing them all.
    static std::size_t KeptCount();
    static void CloseAllKept();

    struct State;

private:
    explicit Bastion(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

}  // namespace tavrin::ssh
