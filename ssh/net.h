#pragma once
// The TCP side of a run: name lookup and connect, both bounded by the run's deadline and
// stopped by its cancel flag, and the socket owner.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <sys/socket.h>
#endif

namespace tavrin::ssh::net {

#if defined(_WIN32)
using NativeSocket = SOCKET;
inline const NativeSocket kNoSocket = INVALID_SOCKET;
#else
using NativeSocket = int;
inline constexpr NativeSocket kNoSocket = -1;
#endif

using Clock = std::chrono::steady_clock;

// Owns one socket and closes it.
class Socket {
public:
    Socket() = default;
    explicit Socket(NativeSocket s) : s_(s) {}
    ~Socket() { Close(); }
    Socket(Socket&& other) noexcept : s_(other.Release()) {}
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) {
            Close();
            s_ = other.Release();
        }
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    NativeSocket Get() const { return s_; }
    explicit operator bool() const { return s_ != kNoSocket; }
    // Gives the socket up without closing it (it now belongs to someone else).
    NativeSocket Release() {
        NativeSocket s = s_;
        s_ = kNoSocket;
        return s;
    }
    void Close();

private:
    NativeSocket s_ = kNoSocket;
};

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
    std::string Numeric() const;  // "192.0.2.1" / "2001:db8::1"
};

// How a wait ended.
enum class WaitEnd { Done, TimedOut, Cancelled, Failed };

struct ResolveResult {
    WaitEnd end = WaitEnd::Failed;
    std::vector<Address> addresses;
    std::string error;  // why the lookup failed (WaitEnd::Failed)
};

// Looks the host name up on a helper thread and stops waiting at the deadline or on cancel;
// a lookup that is still running then ends on its own and its result is dropped.
ResolveResult Resolve(const std::string& host, int port, Clock::time_point deadline,
                      const std::atomic<bool>& cancelled);

struct ConnectResult {
    WaitEnd end = WaitEnd::Failed;
    Socket socket;  // connected, non-blocking, TCP_NODELAY set
    Address peer;
    std::string error;
    std::vector<std::string> tried;  // the addresses tried, numeric, in order
};

// Connects to the addresses in turn with non-blocking connects until one answers. Each
// address gets an equal share of the time left, so that one that never answers (a dropped
// IPv6 path) cannot use up the whole time-out; the last one gets all that is left.
ConnectResult Connect(const std::vector<Address>& addresses, Clock::time_point deadline,
                      const std::atomic<bool>& cancelled);

// Asks the system to acknowledge received data at once rather than after its delayed-ACK
// timer (Linux re-arms TCP_QUICKACK; where the system has no such switch, nothing happens).
// Called before each wait for the server: the server's next packet then need not wait for
// our ACK under its Nagle algorithm.
void AcknowledgeQuickly(NativeSocket s);

// Waits until the socket is readable (and, with `write`, also when it is writable), for at most
// `milliseconds`. Returns false when the socket has failed.
bool WaitSocket(NativeSocket s, bool write, int milliseconds);

// The text of a socket error number (errno / WSA error).
std::string SocketErrorText(int error);

}  // namespace tavrin::ssh::net
