#include "platform/net_system.h"

#include "common/text.h"
#include "platform/win32_text.h"

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

}  // namespace tavrin::platform::net
