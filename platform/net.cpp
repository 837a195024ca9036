#include "platform/net.h"

#include "platform/detached_thread.h"
#include "platform/net_system.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>

namespace tavrin::platform::net {

namespace {

// Waits are cut into slices so that a cancel is seen within this time.
constexpr auto kSlice = std::chrono::milliseconds(50);

int MillisecondsUntil(Clock::time_point deadline, std::chrono::milliseconds cap) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return 0;
    return static_cast<int>(std::min(left, cap).count());
}

const sockaddr* AsSockaddr(const Address& address) {
    return reinterpret_cast<const sockaddr*>(address.storage.data());
}

// getaddrinfo for a TCP connection; `numericOnly` takes a numeric address and looks up nothing.
ResolveResult LookUp(const std::string& host, int port, bool numericOnly) {
    ResolveResult result;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (numericOnly) hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0) {
        result.error = system::LookupErrorText(rc);
        return result;
    }
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(list, &freeaddrinfo);
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        if (a->ai_addr == nullptr || a->ai_addrlen > sizeof(Address::storage)) continue;
        Address address;
        std::memcpy(address.storage.data(), a->ai_addr, a->ai_addrlen);
        address.length = static_cast<std::uint32_t>(a->ai_addrlen);
        result.addresses.push_back(address);
    }
    result.end = result.addresses.empty() ? WaitEnd::Failed : WaitEnd::Done;
    if (result.addresses.empty()) result.error = "no address found";
    return result;
}

}  // namespace

void Socket::Close() {
    if (s_ == kNoSocket) return;
    system::CloseSocket(s_);
    s_ = kNoSocket;
}

std::string Address::Numeric() const {
    char text[INET6_ADDRSTRLEN + 1] = {};
    const sockaddr* any = AsSockaddr(*this);
    const void* raw = nullptr;
    if (any->sa_family == AF_INET) {
        raw = &reinterpret_cast<const sockaddr_in*>(any)->sin_addr;
    } else if (any->sa_family == AF_INET6) {
        raw = &reinterpret_cast<const sockaddr_in6*>(any)->sin6_addr;
    }
    if (raw == nullptr || inet_ntop(any->sa_family, raw, text, sizeof text) == nullptr) return {};
    return text;
}

int Address::Port() const {
    const sockaddr* any = AsSockaddr(*this);
    if (any->sa_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(any)->sin_port);
    if (any->sa_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(any)->sin6_port);
    return 0;
}

Address Address::Loopback4(int port) {
    Address address;
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(static_cast<std::uint16_t>(port));
    in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::memcpy(address.storage.data(), &in, sizeof in);
    address.length = sizeof in;
    return address;
}

ResolveResult Resolve(const std::string& host, int port, Clock::time_point deadline,
                      const std::atomic<bool>& cancelled) {
    {
        const system::SocketLibrary library;
        if (ResolveResult numeric = LookUp(host, port, true); numeric.end == WaitEnd::Done) return numeric;
    }
    struct Lookup {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        ResolveResult result;
    };
    auto lookup = std::make_shared<Lookup>();
    const bool started = RunDetached([lookup, host, port] {
        ResolveResult result;
        {
            const system::SocketLibrary library;
            result = LookUp(host, port, false);
        }
        std::lock_guard lock(lookup->mutex);
        lookup->result = std::move(result);
        lookup->finished = true;
        lookup->done.notify_all();
    });
    if (!started) return {WaitEnd::Failed, {}, "no thread for the name lookup could be started"};

    std::unique_lock lock(lookup->mutex);
    for (;;) {
        if (lookup->finished) return std::move(lookup->result);
        if (cancelled) return {WaitEnd::Cancelled, {}, {}};
        const int ms = MillisecondsUntil(deadline, kSlice);
        if (ms == 0) return {WaitEnd::TimedOut, {}, {}};
        lookup->done.wait_for(lock, std::chrono::milliseconds(ms));
    }
}

ConnectResult Connect(const std::vector<Address>& addresses, Clock::time_point deadline,
                      const std::atomic<bool>& cancelled) {
    ConnectResult result;
    result.error = "no address to connect to";
    for (std::size_t index = 0; index < addresses.size(); ++index) {
        const Address& address = addresses[index];
        result.tried.push_back(address.Numeric());
        const auto now = Clock::now();
        if (now >= deadline) {
            result.end = WaitEnd::TimedOut;
            return result;
        }
        const bool last = index + 1 == addresses.size();
        const Clock::time_point share =
            last ? deadline : now + (deadline - now) / static_cast<long>(addresses.size() - index);

        Socket s(system::OpenStream(AsSockaddr(address)->sa_family));
        if (!s) {
            result.error = SocketErrorText(system::LastError());
            continue;
        }
        int error = 0;
        if (::connect(system::ToHandle(s.Get()), AsSockaddr(address), static_cast<socklen_t>(address.length)) != 0) {
            error = system::LastError();
            if (!system::ConnectPending(error)) {
                result.error = SocketErrorText(error);
                continue;
            }
            WaitEnd end = WaitEnd::TimedOut;
            for (;;) {
                if (cancelled) {
                    end = WaitEnd::Cancelled;
                    break;
                }
                const int ms = MillisecondsUntil(share, kSlice);
                if (ms == 0) break;
                end = system::WaitConnected(s.Get(), ms);
                if (end != WaitEnd::TimedOut) break;
            }
            if (end == WaitEnd::TimedOut && !last) {
                result.error = "no answer";
                continue;
            }
            if (end == WaitEnd::TimedOut || end == WaitEnd::Cancelled) {
                result.end = end;
                return result;
            }
            if (end == WaitEnd::Failed) {
                result.error = SocketErrorText(system::LastError());
                continue;
            }
            socklen_t size = sizeof error;
            if (getsockopt(system::ToHandle(s.Get()), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                           &size) != 0) {
                error = system::LastError();
            }
            if (error != 0) {
                result.error = SocketErrorText(error);
                continue;
            }
        }
        int on = 1;
        setsockopt(system::ToHandle(s.Get()), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                   sizeof on);
        result.end = WaitEnd::Done;
        result.socket = std::move(s);
        result.peer = address;
        result.error.clear();
        return result;
    }
    result.end = WaitEnd::Failed;
    return result;
}

}  // namespace tavrin::platform::net
