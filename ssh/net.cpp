#include "ssh/net.h"

#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace tavrin::ssh::net {

namespace {

// Waits are cut into slices so that a cancel is seen within this time.
constexpr auto kSlice = std::chrono::milliseconds(50);

int LastSocketError() {
#if defined(_WIN32)
    return WSAGetLastError();
#else
    return errno;
#endif
}

int MillisecondsUntil(Clock::time_point deadline, std::chrono::milliseconds cap) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return 0;
    return static_cast<int>(std::min(left, cap).count());
}

#if defined(_WIN32)
std::string Utf8FromWide(const wchar_t* text, int length) {
    if (length <= 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
    return out;
}

struct DetachedStart {
    std::function<void()> work;
    HMODULE module;
};

DWORD WINAPI DetachedEntry(LPVOID parameter) {
    HMODULE held = nullptr;
    {
        std::unique_ptr<DetachedStart> owned(static_cast<DetachedStart*>(parameter));
        held = owned->module;
        try {
            owned->work();
        } catch (...) {
        }
    }
    FreeLibraryAndExitThread(held, 0);
}

// Runs `work` on a thread of its own that holds a reference on this module, so that the code
// it runs cannot be unloaded under it even when nobody waits for it any more.
bool RunDetached(std::function<void()> work) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&DetachedEntry),
                            &module)) {
        return false;
    }
    auto start = std::make_unique<DetachedStart>(DetachedStart{std::move(work), module});
    HANDLE thread = CreateThread(nullptr, 0, &DetachedEntry, start.get(), 0, nullptr);
    if (thread == nullptr) {
        FreeLibrary(module);
        return false;
    }
    (void)start.release();  // the thread owns it now
    CloseHandle(thread);
    return true;
}
#else
bool RunDetached(std::function<void()> work) {
    try {
        std::thread([w = std::move(work)] {
            try {
                w();
            } catch (...) {
            }
        }).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}
#endif

bool SetNonBlocking(NativeSocket s) {
#if defined(_WIN32)
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
#else
    const int flags = fcntl(s, F_GETFL, 0);
    return flags >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
#endif
}

bool ConnectPending(int error) {
#if defined(_WIN32)
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
#else
    return error == EINPROGRESS || error == EINTR;
#endif
}

// Waits for a pending connect; Done when it ended (see SO_ERROR), else why the wait ended.
WaitEnd WaitConnected(NativeSocket s, Clock::time_point deadline, const std::atomic<bool>& cancelled) {
    for (;;) {
        if (cancelled) return WaitEnd::Cancelled;
        const int ms = MillisecondsUntil(deadline, kSlice);
        if (ms == 0) return WaitEnd::TimedOut;
#if defined(_WIN32)
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval tv{ms / 1000, (ms % 1000) * 1000};
        const int rc = select(0, nullptr, &writable, &failed, &tv);
        if (rc == SOCKET_ERROR) return WaitEnd::Failed;
        if (rc > 0) return WaitEnd::Done;
#else
        pollfd p{s, POLLOUT, 0};
        const int rc = poll(&p, 1, ms);
        if (rc < 0 && errno != EINTR) return WaitEnd::Failed;
        if (rc > 0) return WaitEnd::Done;
#endif
    }
}

}  // namespace

void Socket::Close() {
    if (s_ == kNoSocket) return;
#if defined(_WIN32)
    closesocket(s_);
#else
    ::close(s_);
#endif
    s_ = kNoSocket;
}

std::string Address::Numeric() const {
    char text[INET6_ADDRSTRLEN + 1] = {};
    const void* raw = nullptr;
    if (storage.ss_family == AF_INET) {
        raw = &reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr;
    } else if (storage.ss_family == AF_INET6) {
        raw = &reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr;
    }
    if (raw == nullptr || inet_ntop(storage.ss_family, raw, text, sizeof text) == nullptr) return {};
    return text;
}

std::string SocketErrorText(int error) {
#if defined(_WIN32)
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(error), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::string text;
    if (length > 0 && buffer != nullptr) text = Utf8FromWide(buffer, static_cast<int>(length));
    if (buffer != nullptr) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
        text.pop_back();
    }
    if (text.empty()) text = "socket error " + std::to_string(error);
    return text;
#else
    return std::generic_category().message(error);
#endif
}

namespace {

// A numeric address needs no lookup and no thread.
bool ResolveNumeric(const std::string& host, int port, ResolveResult& result) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || list == nullptr) return false;
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(list, &freeaddrinfo);
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
        Address address;
        std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
        address.length = static_cast<socklen_t>(a->ai_addrlen);
        result.addresses.push_back(address);
    }
    if (result.addresses.empty()) return false;
    result.end = WaitEnd::Done;
    return true;
}

}  // namespace

ResolveResult Resolve(const std::string& host, int port, Clock::time_point deadline,
                      const std::atomic<bool>& cancelled) {
    if (ResolveResult numeric; ResolveNumeric(host, port, numeric)) return numeric;
    struct Lookup {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        ResolveResult result;
    };
    auto lookup = std::make_shared<Lookup>();
    const bool started = RunDetached([lookup, host, port] {
        ResolveResult result;
#if defined(_WIN32)
        WSADATA wsa;
        const bool winsock = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
#endif
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        addrinfo* list = nullptr;
        const std::string service = std::to_string(port);
        const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
        if (rc != 0) {
            result.end = WaitEnd::Failed;
#if defined(_WIN32)
            result.error = SocketErrorText(rc);
#else
            result.error = rc == EAI_SYSTEM ? SocketErrorText(errno) : gai_strerror(rc);
#endif
        } else {
            const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(list, &freeaddrinfo);
            for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
                if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
                Address address;
                std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
                address.length = static_cast<socklen_t>(a->ai_addrlen);
                result.addresses.push_back(address);
            }
            result.end = result.addresses.empty() ? WaitEnd::Failed : WaitEnd::Done;
            if (result.addresses.empty()) result.error = "no address found";
        }
#if defined(_WIN32)
        if (winsock) WSACleanup();
#endif
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
        const int family = address.storage.ss_family;
#if defined(_WIN32)
        Socket s(WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
#else
        Socket s(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
#endif
        if (!s || !SetNonBlocking(s.Get())) {
            result.error = SocketErrorText(LastSocketError());
            continue;
        }
        int error = 0;
        if (::connect(s.Get(), reinterpret_cast<const sockaddr*>(&address.storage), address.length) != 0) {
            error = LastSocketError();
            if (!ConnectPending(error)) {
                result.error = SocketErrorText(error);
                continue;
            }
            const WaitEnd end = WaitConnected(s.Get(), share, cancelled);
            if (end == WaitEnd::TimedOut && !last) {
                result.error = "no answer";
                continue;
            }
            if (end == WaitEnd::TimedOut || end == WaitEnd::Cancelled) {
                result.end = end;
                return result;
            }
            if (end == WaitEnd::Failed) {
                result.error = SocketErrorText(LastSocketError());
                continue;
            }
            socklen_t size = sizeof error;
            if (getsockopt(s.Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
                error = LastSocketError();
            }
            if (error != 0) {
                result.error = SocketErrorText(error);
                continue;
            }
        }
        int on = 1;
        setsockopt(s.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        result.end = WaitEnd::Done;
        result.socket = std::move(s);
        result.peer = address;
        result.error.clear();
        return result;
    }
    result.end = WaitEnd::Failed;
    return result;
}

void AcknowledgeQuickly([[maybe_unused]] NativeSocket s) {
#if defined(TCP_QUICKACK)
    int on = 1;
    setsockopt(s, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#endif
}

bool WaitSocket(NativeSocket s, bool write, int milliseconds) {
#if defined(_WIN32)
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &readable);
    FD_SET(s, &failed);
    if (write) FD_SET(s, &writable);
    timeval tv{milliseconds / 1000, (milliseconds % 1000) * 1000};
    return select(0, &readable, write ? &writable : nullptr, &failed, &tv) != SOCKET_ERROR;
#else
    pollfd p{s, static_cast<short>(POLLIN | (write ? POLLOUT : 0)), 0};
    const int rc = poll(&p, 1, milliseconds);
    return !(rc < 0 && errno != EINTR) && (p.revents & POLLNVAL) == 0;
#endif
}

}  // namespace tavrin::ssh::net
