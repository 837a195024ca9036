#pragma once
// The TCP side of a run: name lookup and connect, both bounded by the run's deadline and
// stopped by its cancel flag, waits on a socket, and the socket owner. The system's socket
// headers stay inside this layer.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tavrin::platform::net {

// A socket handle as the system has it (SOCKET on Windows, a descriptor elsewhere); both
// systems' "no socket" is all ones.
using NativeSocket = std::uintptr_t;
inline constexpr NativeSocket kNoSocket = ~NativeSocket{0};

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
        const NativeSocket s = s_;
        s_ = kNoSocket;
        return s;
    }
    void Close();

private:
    NativeSocket s_ = kNoSocket;
};

// An IPv4 or IPv6 address with its port (the bytes of a sockaddr).
struct Address {
    std::array<unsigned char, 128> storage{};
    std::uint32_t length = 0;
    std::string Numeric() const;  // "192.0.2.1" / "2001:db8::1"
    int Port() const;
    static Address Loopback4(int port);  // 127.0.0.1
};

// How a wait ended.
enum class WaitEnd { Done, TimedOut, Cancelled, Failed };

struct ResolveResult {
    WaitEnd end = WaitEnd::Failed;
    std::vector<Address> addresses;
    std::string error;  // why the lookup failed (WaitEnd::Failed), UTF-8
};

// A numeric address is taken as it is. A name is looked up on a helper thread, and the wait
// stops at the deadline or on cancel; a lookup that is still running then ends on its own and
// its result is dropped.
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

// Waits until the socket is readable (and, with `write`, also when it is writable), for at most
// `milliseconds`. Returns false when the socket has failed.
bool WaitSocket(NativeSocket s, bool write, int milliseconds);

// Asks the system to acknowledge received data at once rather than after its delayed-ACK
// timer (Linux re-arms TCP_QUICKACK; where the system has no such switch, nothing happens).
// Called before each wait for the server: the server's next packet then need not wait for
// our ACK under its Nagle algorithm.
void AcknowledgeQuickly(NativeSocket s);

// The text of a socket error number (errno / WSA error), UTF-8.
std::string SocketErrorText(int error);

// Two connected, non-blocking stream sockets of this process, for carrying a byte stream
// between two parts of it: a socket pair where the system has one, else a TCP connection over
// the loopback address whose accepted end is checked to be the one this call connected (no
// other local program can slip in). Both are empty, with `error` set, when it fails.
struct SocketPair {
    Socket first;
    Socket second;
    std::string error;
};
SocketPair MakeSocketPair();

// A non-blocking send or receive: how many bytes moved, or that none can move now, or that
// the stream has ended (received: the other end closed) or failed.
struct Transfer {
    enum class End { Moved, WouldBlock, Closed, Failed };
    End end = End::Failed;
    std::size_t bytes = 0;
    int error = 0;  // for Failed
};
Transfer Send(NativeSocket s, const char* data, std::size_t length);
Transfer Receive(NativeSocket s, char* data, std::size_t length);
// No more data will be sent on the socket (the other end reads an end of stream).
void ShutDownSending(NativeSocket s);

// Waits up to `milliseconds` until one of the sockets is ready as asked; each entry's
// `readable` / `writable` tell what it is ready for (a failed or closed socket is readable).
// Returns false when the wait itself failed.
struct WaitEntry {
    NativeSocket socket = kNoSocket;
    bool wantWrite = false;
    bool readable = false;
    bool writable = false;
};
bool WaitSockets(std::vector<WaitEntry>& entries, int milliseconds);

}  // namespace tavrin::platform::net
