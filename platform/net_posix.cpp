#include "platform/net_system.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
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

SocketPair MakeSocketPair() {
    SocketPair pair;
    int fds[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) {
        pair.error = SocketErrorText(errno);
        return pair;
    }
    pair.first = Socket(system::FromHandle(fds[0]));
    pair.second = Socket(system::FromHandle(fds[1]));
    return pair;
}

namespace {

Transfer Moved(ssize_t rc, bool receiving) {
    if (rc > 0) return {Transfer::End::Moved, static_cast<std::size_t>(rc), 0};
    if (rc == 0 && receiving) return {Transfer::End::Closed, 0, 0};
    if (rc == 0) return {Transfer::End::WouldBlock, 0, 0};
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return {Transfer::End::WouldBlock, 0, 0};
    if (errno == EPIPE || errno == ECONNRESET) return {Transfer::End::Closed, 0, errno};
    return {Transfer::End::Failed, 0, errno};
}

}  // namespace

Transfer Send(NativeSocket s, const char* data, std::size_t length) {
    return Moved(::send(system::ToHandle(s), data, length, MSG_NOSIGNAL), false);
}

Transfer Receive(NativeSocket s, char* data, std::size_t length) {
    return Moved(::recv(system::ToHandle(s), data, length, 0), true);
}

void ShutDownSending(NativeSocket s) { ::shutdown(system::ToHandle(s), SHUT_WR); }

bool WaitSockets(std::vector<WaitEntry>& entries, int milliseconds) {
    std::vector<pollfd> polled(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        polled[i] = {system::ToHandle(entries[i].socket),
                     static_cast<short>(POLLIN | (entries[i].wantWrite ? POLLOUT : 0)), 0};
    }
    const int rc = poll(polled.data(), static_cast<nfds_t>(polled.size()), milliseconds);
    if (rc < 0 && errno != EINTR) return false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const short got = rc > 0 ? polled[i].revents : 0;
        entries[i].readable = (got & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
        entries[i].writable = (got & (POLLOUT | POLLERR | POLLHUP)) != 0;
    }
    return true;
}

}  // namespace tavrin::platform::net
