#pragma once
// Logged-in SSH connections kept between checks of one process, for checks that ask for it
// (the parameter string's REUSE field: how long an idle connection may be kept). A kept
// connection serves one check at a time; checks that run at once get connections of their
// own. A connection is found again only by a key that hashes everything a fresh login would
// have used (host, port, user, credentials, host key rule), never by the credentials
// themselves, and it is closed once it has been idle for its time. While it waits, the pool's
// reaper asks the server now and then for a sign of life, so that a connection that a NAT or
// firewall dropped silently is closed before a check takes it.

#include "platform/net.h"
#include "ssh/key_store.h"
#include "ssh/libssh_handles.h"
#include "ssh/library.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tavrin::ssh {

class Bastion;

// One logged-in connection: the libssh session, the socket it runs on, the server's host key
// and what the key exchange agreed (for the events of a check that reuses it).
struct Link {
    Link() = default;
    ~Link();  // disconnects, in reverse order
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    ssh_session S() const { return session.get(); }

    LibraryUse library;  // first: libssh outlives the session
    // The bastion connection this link runs through (its forwarded channel carries `socket`),
    // or null for a direct connection; released after the session.
    std::shared_ptr<Bastion> bastion;
    platform::net::Socket socket;  // ours until libssh takes it; then empty
    SessionPtr session;
    KeyPtr hostKey;
    std::u16string banner, cipherIn, cipherOut, keys;
    // The private key of the login, held while the link is kept: loading the same file with the
    // same pass phrase then finds it (LoadPrivateKeyFile) instead of deriving the key again.
    std::shared_ptr<const LoadedKey> loginKey;
};

// What the reaper's probes found since the process started.
struct ProbeCounts {
    std::uint64_t sent = 0;       // keepalive requests sent to idle links
    std::uint64_t answered = 0;   // links that answered in time and went back to the pool
    std::uint64_t discarded = 0;  // links that did not answer in time, or had failed: closed
    std::size_t probing = 0;      // links being probed at this moment
};

class SessionPool {
public:
    // The pool of this process.
    static SessionPool& Instance();

    // An idle link kept under `key`, or null.
    std::unique_ptr<Link> Take(const std::string& key);
    // Keeps a link that has just served a check for `idle` seconds.
    void Give(const std::string& key, std::unique_ptr<Link> link, std::chrono::seconds idle);

    // The links kept, those that the reaper is probing at the moment included.
    std::size_t IdleCount();
    // Closes every idle link now; a link that is being probed is closed when its probe ends.
    void CloseAll();

    ProbeCounts Probes();
    // For tests: how long a link may be idle before it is probed (kProbeInterval again after
    // the test).
    void SetProbeIntervalForTesting(std::chrono::milliseconds interval);

    struct State;

private:
    SessionPool();
    std::shared_ptr<State> state_;
};

// The most idle links kept under one key; more are closed when they come back.
inline constexpr std::size_t kMostIdlePerKey = 8;

// A link idle for this long is probed: the reaper takes it out of the pool, sends the server a
// keepalive request and puts the link back only when an answer comes within kProbeAnswer.
// Short enough that a link that was dropped on the way is found long before most checks come
// back for it (and the traffic keeps a NAT's mapping alive); long enough that 200 idle links
// cost about 30 small packets a second.
inline constexpr std::chrono::seconds kProbeInterval{15};
// How long a probed server has to answer: a round trip and a busy moment on its side.
inline constexpr std::chrono::milliseconds kProbeAnswer{2000};
// The most links probed at once (one after another, their answers awaited together): 200 links
// whose server side was dropped are closed within seven rounds of kProbeAnswer.
inline constexpr std::size_t kProbeBatch = 32;

}  // namespace tavrin::ssh
