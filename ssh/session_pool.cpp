#include "ssh/session_pool.h"

#include "platform/detached_thread.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace tavrin::ssh {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFlushMs = 100;

}  // namespace

Link::~Link() {
    if (session) {
        // libssh closes a socket handed to it only when the connection failed; then the socket
        // is no longer ours to close.
        if (socketHandedOver && ssh_get_fd(S()) == SSH_INVALID_SOCKET) socket.Release();
        if (ssh_is_connected(S()) != 0) {
            ssh_blocking_flush(S(), kFlushMs);
            ssh_disconnect(S());
        }
        hostKey.reset();
        session.reset();
    }
    socket.Close();
}

struct SessionPool::State {
    struct Idle {
        std::string key;
        std::unique_ptr<Link> link;
        Clock::time_point until;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Idle> idle;
    bool reaperRunning = false;

    // Runs on a thread of its own while links are kept: closes each one whose idle time is up,
    // and ends when none is left.
    static void Reap(const std::shared_ptr<State>& state) {
        for (;;) {
            std::vector<std::unique_ptr<Link>> expired;
            {
                std::unique_lock lock(state->mutex);
                if (state->idle.empty()) {
                    state->reaperRunning = false;
                    return;
                }
                const auto now = Clock::now();
                Clock::time_point next = Clock::time_point::max();
                for (auto it = state->idle.begin(); it != state->idle.end();) {
                    if (it->until <= now) {
                        expired.push_back(std::move(it->link));
                        it = state->idle.erase(it);
                    } else {
                        next = std::min(next, it->until);
                        ++it;
                    }
                }
                if (expired.empty()) state->changed.wait_until(lock, next);
            }
            expired.clear();  // disconnects outside the lock
        }
    }
};

SessionPool::SessionPool() : state_(std::make_shared<State>()) {}

SessionPool& SessionPool::Instance() {
    // Never destroyed: at the end of the process the system closes what is still kept, and no
    // network work is done from a destructor that may run under the loader lock.
    static SessionPool* const pool = new SessionPool();
    return *pool;
}

std::unique_ptr<Link> SessionPool::Take(const std::string& key) {
    std::lock_guard lock(state_->mutex);
    const auto now = Clock::now();
    // The most recently kept first: it is the one most likely to be alive.
    for (auto it = state_->idle.rbegin(); it != state_->idle.rend(); ++it) {
        if (it->key != key || it->until <= now) continue;
        std::unique_ptr<Link> link = std::move(it->link);
        state_->idle.erase(std::next(it).base());
        return link;
    }
    return nullptr;
}

void SessionPool::Give(const std::string& key, std::unique_ptr<Link> link, std::chrono::seconds idle) {
    if (!link || idle.count() <= 0) return;
    std::unique_ptr<Link> surplus;
    bool startReaper = false;
    {
        std::lock_guard lock(state_->mutex);
        const auto sameKey = std::count_if(state_->idle.begin(), state_->idle.end(),
                                           [&](const State::Idle& i) { return i.key == key; });
        if (static_cast<std::size_t>(sameKey) >= kMostIdlePerKey) {
            surplus = std::move(link);
        } else {
            state_->idle.push_back({key, std::move(link), Clock::now() + idle});
            startReaper = !state_->reaperRunning;
            state_->reaperRunning = true;
            state_->changed.notify_all();
        }
    }
    if (startReaper && !platform::RunDetached([state = state_] { State::Reap(state); })) {
        // Without a reaper nothing could be kept for a bounded time: keep nothing.
        {
            std::lock_guard lock(state_->mutex);
            state_->reaperRunning = false;
        }
        CloseAll();
    }
}

std::size_t SessionPool::IdleCount() {
    std::lock_guard lock(state_->mutex);
    return state_->idle.size();
}

void SessionPool::CloseAll() {
    std::vector<State::Idle> closing;
    {
        std::lock_guard lock(state_->mutex);
        closing.swap(state_->idle);
        state_->changed.notify_all();
    }
}

}  // namespace tavrin::ssh
