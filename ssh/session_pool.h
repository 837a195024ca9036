#pragma once
// Logged-in SSH connections kept between checks of one process, for checks that ask for it
// (the parameter string's REUSE field: how long an idle connection may be kept). A kept
// connection serves one check at a time; checks that run at once get connections of their
// own. A connection is found again only by a key that hashes everything a fresh login would
// have used (host, port, user, credentials, host key rule), never by the credentials
// themselves, and it is closed once it has been idle for its time.

#include "platform/net.h"
#include "ssh/key_store.h"
#include "ssh/libssh_handles.h"
#include "ssh/library.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace tavrin::ssh {

// One logged-in connection: the libssh session, the socket it runs on, the server's host key
// and what the key exchange agreed (for the events of a check that reuses it).
struct Link {
    Link() = default;
    ~Link();  // disconnects, in reverse order
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    ssh_session S() const { return session.get(); }

    LibraryUse library;  // first: libssh outlives the session
    platform::net::Socket socket;
    bool socketHandedOver = false;  // libssh holds the socket (it closes it when the link fails)
    SessionPtr session;
    KeyPtr hostKey;
    std::u16string banner, cipherIn, cipherOut, keys;
    // The private key of the login, held while the link is kept: loading the same file with the
    // same pass phrase then finds it (LoadPrivateKeyFile) instead of deriving the key again.
    std::shared_ptr<const LoadedKey> loginKey;
};

class SessionPool {
public:
    // The pool of this process.
    static SessionPool& Instance();

    // An idle link kept under `key`, or null.
    std::unique_ptr<Link> Take(const std::string& key);
    // Keeps a link that has just served a check for `idle` seconds.
    void Give(const std::string& key, std::unique_ptr<Link> link, std::chrono::seconds idle);

    std::size_t IdleCount();
    // Closes every idle link now.
    void CloseAll();

    struct State;

private:
    SessionPool();
    std::shared_ptr<State> state_;
};

// The most idle links kept under one key; more are closed when they come back.
inline constexpr std::size_t kMostIdlePerKey = 8;

}  // namespace tavrin::ssh
