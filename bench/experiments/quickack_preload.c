/* A measurement aid, not part of the product: preloaded into the native bench host, it re-arms
 * TCP_QUICKACK after every receive, so that the client acknowledges at once instead of after the
 * delayed-ACK timer. With it, the server's post-login packets are no longer held back by its
 * own Nagle algorithm waiting for our ACK (about 40 ms per check on loopback).
 *   gcc -shared -fPIC -O2 -o build/bench/quickack_preload.so bench/experiments/quickack_preload.c -ldl
 *   LD_PRELOAD=$PWD/build/bench/quickack_preload.so build/bench-linux/bench/tavrin-bench-native --mode checks ...
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stddef.h>
#include <sys/socket.h>
#include <sys/types.h>

static ssize_t (*real_recvfrom)(int, void*, size_t, int, struct sockaddr*, socklen_t*);

ssize_t recvfrom(int fd, void* buffer, size_t length, int flags, struct sockaddr* from, socklen_t* fromLength) {
    if (real_recvfrom == NULL) real_recvfrom = (ssize_t(*)(int, void*, size_t, int, struct sockaddr*, socklen_t*))dlsym(RTLD_NEXT, "recvfrom");
    ssize_t got = real_recvfrom(fd, buffer, length, flags, from, fromLength);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one); /* fails harmlessly on non-TCP fds */
    return got;
}

ssize_t recv(int fd, void* buffer, size_t length, int flags) { return recvfrom(fd, buffer, length, flags, NULL, NULL); }
