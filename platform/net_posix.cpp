#include "platform/net_system.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <system_error>
#include <unistd.h>

namespace tavrin::platform::net {

namespace system {

int LastError() { return errno; }

NativeSocket OpenStream(int family) {
    const int s = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (s < 0) return kNoSocket;
    const int flags = fcntl(s, F_GETFL, 0);
    if (flags < 0 || fcntl(s, F_SETFL, flags | O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(s);
        errno = error;
        return kNoSocket;
    }
    return FromHandle(s);
}

void CloseSocket(NativeSocket s) { ::close(ToHandle(s)); }

bool ConnectPending(int error) { return error == EINPROGRESS || error == EINTR; }

WaitEnd WaitConnected(NativeSocket s, int milliseconds) {
    pollfd p{ToHandle(s), POLLOUT, 0};
    const int rc = poll(&p, 1, milliseconds);
    if (rc < 0) return errno == EINTR ? WaitEnd::TimedOut : WaitEnd::Failed;
    return rc > 0 ? WaitEnd::Done : WaitEnd::TimedOut;
}

std::string LookupErrorText(int rc) { return rc == EAI_SYSTEM ? SocketErrorText(errno) : gai_strerror(rc); }

SocketLibrary::SocketLibrary() = default;
SocketLibrary::~SocketLibrary() = default;

}  // namespace system

bool WaitSocket(NativeSocket s, bool write, int milliseconds) {
    pollfd p{system::ToHandle(s), static_cast<short>(POLLIN | (write ? POLLOUT : 0)), 0};
    const int rc = poll(&p, 1, milliseconds);
    return !(rc < 0 && errno != EINTR) && (p.revents & POLLNVAL) == 0;
}

void AcknowledgeQuickly(NativeSocket s) {
#if defined(TCP_QUICKACK)
    int on = 1;
    setsockopt(system::ToHandle(s), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#else
    (void)s;
#endif
}

std::string SocketErrorText(int error) { return std::generic_category().message(error); }

}  // namespace tavrin::platform::net
