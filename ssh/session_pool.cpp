#include "ssh/session_pool.h"

#include "platform/detached_thread.h"
#include "ssh/library.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

// The global request behind libssh's ssh_send_keepalive, which our build lacks: libssh compiles
// that function only with its server part, and ssh_send_keepalive would hide the answer anyway.
// In a non-blocking session the first call sends the request and returns SSH_AGAIN; each later
// call reads what has arrived and returns SSH_AGAIN until the server has answered: SSH_OK for
// REQUEST_SUCCESS, SSH_ERROR with SSH_REQUEST_DENIED for REQUEST_FAILURE (what OpenSSH sends to
// a request it does not know), SSH_ERROR otherwise. Once it has answered, the session is back
// in its state before the request, and the next call sends a new one.
extern "C" int ssh_global_request(ssh_session session, const char* request, ssh_buffer buffer, int reply);
// libssh's own setters of a session's error (its priv.h): a probe leaves the session's error
// saying what the probe found, in our words, instead of libssh's "Global request
// keepalive@openssh.com failed" (what it says of the refusal that answers every probe), which a
// later failure that sets no error of its own would otherwise pass on to the check's text.
extern "C" void ssh_reset_error(void* error);
extern "C" void _ssh_set_error(void* error, int code, const char* function, const char* descr, ...);

namespace tavrin::ssh {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
constexpr int kFlushMs = 100;
// Links whose probe falls due within this share of the probe interval are probed with the one
// that is due, so that links kept at about the same time wake the reaper once.
constexpr int kProbeGatherDivisor = 4;
// While answers are awaited, the reaper waits on one socket at a time for at most this long and
// then looks at all of them: an answer is taken at most this late.
constexpr milliseconds kProbeSlice(10);

constexpr const char* kKeepalive = "keepalive@openssh.com";

// A session that has failed or was closed: no probe can tell anything more.
bool Broken(ssh_session s) {
    return ssh_is_connected(s) == 0 || (ssh_get_status(s) & (SSH_CLOSED | SSH_CLOSED_ERROR)) != 0;
}

enum class Answer { Awaited, Alive, Dead };

// What a call of the keepalive request says about the server.
Answer AnswerOf(ssh_session s, int rc) {
    if (rc == SSH_AGAIN) return Broken(s) ? Answer::Dead : Answer::Awaited;
    if (rc == SSH_OK) return Answer::Alive;
    // A refusal is an answer, as long as the session has not failed in the same call.
    return ssh_get_error_code(s) == SSH_REQUEST_DENIED && !Broken(s) ? Answer::Alive : Answer::Dead;
}

// What a link that failed its probe reports from then on.
const char* KeepaliveFailure(Answer answer, bool broken) {
    if (broken) return "the kept connection had failed while it was idle (found by its keepalive request)";
    return answer == Answer::Awaited ? "the kept connection did not answer its keepalive request in time"
                                     : "the kept connection failed its keepalive request";
}

// One round of probes: each link is sent a keepalive request at once, then the answers are
// awaited together until kProbeAnswer after the sending. Returns, for each link, whether its
// server answered. The links are the caller's alone while this runs.
std::vector<bool> ProbeLinks(const std::vector<Link*>& links) {
    std::vector<Answer> answers(links.size(), Answer::Dead);
    const Clock::time_point bound = Clock::now() + kProbeAnswer;
    std::size_t awaited = 0;
    for (std::size_t i = 0; i < links.size(); ++i) {
        const ssh_session s = links[i]->S();
        if (s == nullptr || Broken(s)) continue;
        answers[i] = AnswerOf(s, ssh_global_request(s, kKeepalive, nullptr, 1));
        if (answers[i] == Answer::Awaited) ++awaited;
    }
    while (awaited > 0) {
        const auto left = std::chrono::duration_cast<milliseconds>(bound - Clock::now());
        if (left.count() <= 0) break;
        // Wait on the first link still silent; the others' answers queue in their sockets.
        const auto first = std::find(answers.begin(), answers.end(), Answer::Awaited);
        const ssh_session s = links[static_cast<std::size_t>(first - answers.begin())]->S();
        const socket_t fd = ssh_get_fd(s);
        if (fd == SSH_INVALID_SOCKET) {
            *first = Answer::Dead;
            --awaited;
            continue;
        }
        const bool write = (ssh_get_poll_flags(s) & SSH_WRITE_PENDING) != 0;
        if (!platform::net::WaitSocket(static_cast<platform::net::NativeSocket>(fd), write,
                                       static_cast<int>(std::min(left, kProbeSlice).count()))) {
            *first = Answer::Dead;  // the socket has failed
            --awaited;
        }
        for (std::size_t i = 0; i < links.size(); ++i) {
            if (answers[i] != Answer::Awaited) continue;
            const ssh_session each = links[i]->S();
            answers[i] = AnswerOf(each, ssh_global_request(each, kKeepalive, nullptr, 1));
            if (answers[i] != Answer::Awaited) --awaited;
        }
    }
    std::vector<bool> alive(links.size());
    for (std::size_t i = 0; i < links.size(); ++i) {
        alive[i] = answers[i] == Answer::Alive;
        const ssh_session s = links[i]->S();
        if (s == nullptr) continue;
        if (alive[i]) {
            ssh_reset_error(s);
        } else {
            _ssh_set_error(s, SSH_FATAL, "ProbeLinks", "%s", KeepaliveFailure(answers[i], Broken(s)));
        }
    }
    return alive;
}

}  // namespace

Link::~Link() {
    if (session) {
        // A socket that libssh has taken is closed by libssh alone (see Session::HandOverSocket):
        // by ssh_disconnect, or by ssh_free when the connection had died.
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
        Clock::time_point until;     // closed then
        Clock::time_point heard;     // when the server was last known to be there
        std::uint64_t order = 0;     // when it was kept, as a count: Take prefers the latest
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Idle> idle;          // in the order they were kept
    std::size_t probing = 0;         // links out of `idle` for a probe
    std::uint64_t nextOrder = 0;
    std::uint64_t generation = 0;    // counts CloseAll: a probe from before it keeps nothing
    Clock::duration probeInterval = kProbeInterval;
    ProbeCounts counts;
    bool reaperRunning = false;

    // Puts a probed link back where its keeping put it, unless its key has its fill meanwhile.
    bool PutBack(Idle&& entry) {
        const auto sameKey = std::count_if(idle.begin(), idle.end(), [&](const Idle& i) { return i.key == entry.key; });
        if (static_cast<std::size_t>(sameKey) >= kMostIdlePerKey) return false;
        const auto at = std::upper_bound(idle.begin(), idle.end(), entry.order,
                                         [](std::uint64_t order, const Idle& i) { return order < i.order; });
        idle.insert(at, std::move(entry));
        return true;
    }

    // Runs on a thread of its own while links are kept: closes each one whose idle time is up,
    // probes those that have been quiet for the probe interval, and ends when none is left.
    static void Reap(const std::shared_ptr<State>& state) {
        for (;;) {
            std::vector<std::unique_ptr<Link>> closing;
            std::vector<Idle> probed;
            std::uint64_t generation = 0;
            {
                std::unique_lock lock(state->mutex);
                if (state->idle.empty()) {
                    state->reaperRunning = false;
                    return;
                }
                const auto now = Clock::now();
                const Clock::duration interval = state->probeInterval;
                const Clock::time_point gather = now + interval / kProbeGatherDivisor;
                Clock::time_point next = Clock::time_point::max();
                bool probeDue = false;
                for (const Idle& i : state->idle) probeDue = probeDue || (i.until > now && i.heard + interval <= now);
                for (auto it = state->idle.begin(); it != state->idle.end();) {
                    if (it->until <= now) {
                        closing.push_back(std::move(it->link));
                        it = state->idle.erase(it);
                    } else if (probeDue && it->heard + interval <= gather && probed.size() < kProbeBatch) {
                        probed.push_back(std::move(*it));
                        it = state->idle.erase(it);
                    } else {
                        next = std::min({next, it->until, it->heard + interval});
                        ++it;
                    }
                }
                state->probing = probed.size();
                generation = state->generation;
                if (closing.empty() && probed.empty()) {
                    state->changed.wait_until(lock, next);
                    continue;
                }
            }
            closing.clear();  // disconnects outside the lock
            if (probed.empty()) continue;

            std::vector<Link*> links;
            links.reserve(probed.size());
            for (const Idle& i : probed) links.push_back(i.link.get());
            const std::vector<bool> alive = ProbeLinks(links);
            {
                std::lock_guard lock(state->mutex);
                const auto now = Clock::now();
                state->probing = 0;
                state->counts.sent += probed.size();
                for (std::size_t i = 0; i < probed.size(); ++i) {
                    Idle& entry = probed[i];
                    if (alive[i]) {
                        ++state->counts.answered;
                        entry.heard = now;
                        if (generation == state->generation && entry.until > now && state->PutBack(std::move(entry))) {
                            continue;
                        }
                    } else {
                        ++state->counts.discarded;
                    }
                    closing.push_back(std::move(entry.link));
                }
            }
            closing.clear();
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
            const auto now = Clock::now();
            state_->idle.push_back({key, std::move(link), now + idle, now, state_->nextOrder++});
            startReaper = !state_->reaperRunning;
            state_->reaperRunning = true;
            state_->changed.notify_all();
        }
    }
    if (startReaper && !platform::RunDetached([state = state_] {
                            State::Reap(state);
                            ReleaseThreadState();
                        })) {
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
    return state_->idle.size() + state_->probing;
}

void SessionPool::CloseAll() {
    std::vector<State::Idle> closing;
    {
        std::lock_guard lock(state_->mutex);
        closing.swap(state_->idle);
        ++state_->generation;
        state_->changed.notify_all();
    }
}

ProbeCounts SessionPool::Probes() {
    std::lock_guard lock(state_->mutex);
    ProbeCounts counts = state_->counts;
    counts.probing = state_->probing;
    return counts;
}

void SessionPool::SetProbeIntervalForTesting(std::chrono::milliseconds interval) {
    std::lock_guard lock(state_->mutex);
    state_->probeInterval = std::max(interval, kProbeSlice);  // never a reaper that only probes
    state_->changed.notify_all();
}

}  // namespace tavrin::ssh
