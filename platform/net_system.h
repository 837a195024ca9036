#pragma once
// Inside this layer only: the system's socket headers and the few calls whose form differs
// between the systems. net.cpp holds what both share; net_posix.cpp / net_win.cpp the rest.

#include "platform/net.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace tavrin::platform::net::system {

int LastError();
// The socket API's own handle type.
#if defined(_WIN32)
using Handle = SOCKET;
#else
using Handle = int;
#endif
inline Handle ToHandle(NativeSocket s) { return static_cast<Handle>(s); }
inline NativeSocket FromHandle(Handle h) { return static_cast<NativeSocket>(h); }

// A non-blocking TCP socket that is not inherited by child processes, or kNoSocket.
NativeSocket OpenStream(int family);
void CloseSocket(NativeSocket s);
// Whether a connect that failed with `error` is still under way.
bool ConnectPending(int error);
// Waits up to `milliseconds` for a pending connect: Done when it ended (see SO_ERROR),
// TimedOut when it did not, Failed when the wait failed.
WaitEnd WaitConnected(NativeSocket s, int milliseconds);
// The text of an error that getaddrinfo returned.
std::string LookupErrorText(int rc);

// Keeps the socket library started while it lives (Windows: WSAStartup).
class SocketLibrary {
public:
    SocketLibrary();
    ~SocketLibrary();
    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;

private:
    [[maybe_unused]] bool started_ = false;  // Windows only
};

}  // namespace tavrin::platform::net::system
