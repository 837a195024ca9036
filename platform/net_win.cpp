#include "platform/net_system.h"

#include "common/text.h"
#include "platform/win32_text.h"

#include <algorithm>

namespace tavrin::platform::net {

namespace system {

int LastError() { return WSAGetLastError(); }

NativeSocket OpenStream(int family) {
    const SOCKET s = WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return kNoSocket;
    u_long on = 1;
    if (ioctlsocket(s, FIONBIO, &on) != 0) {
        const int error = WSAGetLastError();
        closesocket(s);
        WSASetLastError(error);
        return kNoSocket;
    }
    return FromHandle(s);
}

void CloseSocket(NativeSocket s) { closesocket(ToHandle(s)); }

bool ConnectPending(int error) { return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS; }

WaitEnd WaitConnected(NativeSocket s, int milliseconds) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(ToHandle(s), &writable);
    FD_SET(ToHandle(s), &failed);
    timeval tv{milliseconds / 1000, (milliseconds % 1000) * 1000};
    const int rc = select(0, nullptr, &writable, &failed, &tv);
    if (rc == SOCKET_ERROR) return WaitEnd::Failed;
    return rc > 0 ? WaitEnd::Done : WaitEnd::TimedOut;
}

std::string LookupErrorText(int rc) { return SocketErrorText(rc); }

SocketLibrary::SocketLibrary() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}
SocketLibrary::~SocketLibrary() {
    if (started_) WSACleanup();
}

}  // namespace system

bool WaitSocket(NativeSocket s, bool write, int milliseconds) {
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(system::ToHandle(s), &readable);
    FD_SET(system::ToHandle(s), &failed);
    if (write) FD_SET(system::ToHandle(s), &writable);
    timeval tv{milliseconds / 1000, (milliseconds % 1000) * 1000};
    return select(0, &readable, write ? &writable : nullptr, &failed, &tv) != SOCKET_ERROR;
}

// Windows has no per-socket switch for an immediate acknowledgement that works on every
// version (SIO_TCP_SET_ACK_FREQUENCY is Windows 10 and later); nothing is done.
void AcknowledgeQuickly(NativeSocket) {}

std::string SocketErrorText(int error) { return ToUtf8(win32::SystemErrorText(static_cast<DWORD>(error))); }

namespace {

bool SameAddress(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_family == b.sin_family && a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
}

// How long the pair's own loopback connection may take: it is local, so anything slower is a
// system in trouble.
constexpr int kPairMilliseconds = 5000;

}  // namespace

SocketPair MakeSocketPair() {
    SocketPair pair;
    const auto fail = [&pair](const char* step) {
        pair.error = std::string(step) + ": " + SocketErrorText(WSAGetLastError());
        pair.first.Close();
        pair.second.Close();
        return std::move(pair);
    };
    Socket listener(system::OpenStream(AF_INET));
    if (!listener) return fail("no socket");
    BOOL exclusive = TRUE;
    setsockopt(system::ToHandle(listener.Get()), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
    sockaddr_in loopback{};
    loopback.sin_family = AF_INET;
    loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(system::ToHandle(listener.Get()), reinterpret_cast<const sockaddr*>(&loopback), sizeof loopback) != 0 ||
        listen(system::ToHandle(listener.Get()), 4) != 0) {
        return fail("no loopback listener");
    }
    sockaddr_in listening{};
    int length = sizeof listening;
    if (getsockname(system::ToHandle(listener.Get()), reinterpret_cast<sockaddr*>(&listening), &length) != 0) {
        return fail("no loopback listener");
    }
    Socket client(system::OpenStream(AF_INET));
    if (!client) return fail("no socket");
    if (connect(system::ToHandle(client.Get()), reinterpret_cast<const sockaddr*>(&listening), sizeof listening) != 0 &&
        !system::ConnectPending(WSAGetLastError())) {
        return fail("no loopback connection");
    }
    sockaddr_in clientAddress{};
    length = sizeof clientAddress;
    if (getsockname(system::ToHandle(client.Get()), reinterpret_cast<sockaddr*>(&clientAddress), &length) != 0) {
        return fail("no loopback connection");
    }
    const DWORD started = GetTickCount();
    for (;;) {
        const int left = kPairMilliseconds - static_cast<int>(GetTickCount() - started);
        if (left <= 0) {
            WSASetLastError(WSAETIMEDOUT);
            return fail("no loopback connection");
        }
        WSAPOLLFD polled{system::ToHandle(listener.Get()), POLLRDNORM, 0};
        if (WSAPoll(&polled, 1, left) == SOCKET_ERROR) return fail("no loopback connection");
        sockaddr_in peer{};
        int peerLength = sizeof peer;
        const SOCKET accepted =
            accept(system::ToHandle(listener.Get()), reinterpret_cast<sockaddr*>(&peer), &peerLength);
        if (accepted == INVALID_SOCKET) {
            if (WSAGetLastError() == WSAEWOULDBLOCK) continue;
            return fail("no loopback connection");
        }
        Socket server(system::FromHandle(accepted));
        // Another program that connected first is turned away.
        if (!SameAddress(peer, clientAddress)) continue;
        u_long on = 1;
        if (ioctlsocket(accepted, FIONBIO, &on) != 0) return fail("no loopback connection");
        SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0);
        pair.first = std::move(client);
        pair.second = std::move(server);
        break;
    }
    for (const Socket* s : {&pair.first, &pair.second}) {
        const BOOL noDelay = TRUE;
        setsockopt(system::ToHandle(s->Get()), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                   sizeof noDelay);
    }
    return pair;
}

namespace {

Transfer Moved(int rc, bool receiving) {
    if (rc > 0) return {Transfer::End::Moved, static_cast<std::size_t>(rc), 0};
    if (rc == 0 && receiving) return {Transfer::End::Closed, 0, 0};
    if (rc == 0) return {Transfer::End::WouldBlock, 0, 0};
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK || error == WSAEINTR) return {Transfer::End::WouldBlock, 0, 0};
    if (error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN) {
        return {Transfer::End::Closed, 0, error};
    }
    return {Transfer::End::Failed, 0, error};
}

int Clamped(std::size_t length) { return static_cast<int>(std::min<std::size_t>(length, 1u << 30)); }

}  // namespace

Transfer Send(NativeSocket s, const char* data, std::size_t length) {
    return Moved(send(system::ToHandle(s), data, Clamped(length), 0), false);
}

Transfer Receive(NativeSocket s, char* data, std::size_t length) {
    return Moved(recv(system::ToHandle(s), data, Clamped(length), 0), true);
}

void ShutDownSending(NativeSocket s) { shutdown(system::ToHandle(s), SD_SEND); }

bool WaitSockets(std::vector<WaitEntry>& entries, int milliseconds) {
    std::vector<WSAPOLLFD> polled(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        polled[i].fd = system::ToHandle(entries[i].socket);
        polled[i].events = static_cast<SHORT>(POLLRDNORM | (entries[i].wantWrite ? POLLWRNORM : 0));
    }
    if (entries.empty()) {
        Sleep(static_cast<DWORD>(milliseconds));
        return true;
    }
    const int rc = WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), milliseconds);
    if (rc == SOCKET_ERROR) return false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const SHORT got = rc > 0 ? polled[i].revents : 0;
        entries[i].readable = (got & (POLLRDNORM | POLLHUP | POLLERR | POLLNVAL)) != 0;
        entries[i].writable = (got & (POLLWRNORM | POLLERR | POLLHUP)) != 0;
    }
    return true;
}

}  // namespace tavrin::platform::net
