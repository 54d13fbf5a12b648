// Linux sockets for the match server: epoll for readiness, recvmmsg and
// sendmmsg so that a burst on one socket costs one system call each way.
#include "platform/server/udp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

namespace plat {

namespace {

constexpr int kBatchMax = 64;

sockaddr_in ToSockaddr(const NetAddress& a) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(a.ip);
    in.sin_port = htons(a.port);
    return in;
}

NetAddress FromSockaddr(const sockaddr_in& in) { return NetAddress{ntohl(in.sin_addr.s_addr), ntohs(in.sin_port)}; }

volatile sig_atomic_t g_stop = 0;
void OnStopSignal(int) { g_stop = 1; }

}  // namespace

int UdpOpen(uint16_t port) {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    sockaddr_in in = ToSockaddr(NetAddress{0, port});
    if (bind(s, reinterpret_cast<sockaddr*>(&in), sizeof in) != 0) {
        close(s);
        return -1;
    }
    return s;
}

int UdpSetBuffers(int socket, int bytes) {
    for (int option : {SO_RCVBUF, SO_SNDBUF}) {
        const int force = option == SO_RCVBUF ? SO_RCVBUFFORCE : SO_SNDBUFFORCE;
        if (setsockopt(socket, SOL_SOCKET, force, &bytes, sizeof bytes) != 0)
            setsockopt(socket, SOL_SOCKET, option, &bytes, sizeof bytes);
    }
    int granted = 0;
    socklen_t n = sizeof granted;
    getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &granted, &n);
    return granted;
}

void UdpClose(int socket) {
    if (socket >= 0) close(socket);
}

uint16_t UdpLocalPort(int socket) {
    sockaddr_in in{};
    socklen_t n = sizeof in;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&in), &n) != 0) return 0;
    return ntohs(in.sin_port);
}

int UdpReceive(int socket, UdpDatagram* out, int max) {
    if (max > kBatchMax) max = kBatchMax;
    // Callers read into the same arrays again and again: the headers that
    // point into them are kept (one set for short batches, one for long),
    // and only the fields the system overwrites are set afresh.
    static struct Prepared {
        UdpDatagram* out;
        int max;
        int filled;  // headers the system wrote into last time
        mmsghdr headers[kBatchMax];
        iovec vectors[kBatchMax];
        sockaddr_in from[kBatchMax];
    } prepared[2];
    Prepared& p = prepared[max > 8];
    if (p.out != out || p.max < max) {
        for (int k = 0; k < max; k++) {
            p.vectors[k] = iovec{out[k].data, sizeof out[k].data};
            p.headers[k].msg_hdr = msghdr{&p.from[k], sizeof p.from[k], &p.vectors[k], 1, nullptr, 0, 0};
        }
        p.out = out, p.max = max, p.filled = 0;
    }
    for (int k = 0; k < p.filled; k++) p.headers[k].msg_hdr.msg_namelen = sizeof p.from[k];
    int n = recvmmsg(socket, p.headers, unsigned(max), MSG_DONTWAIT, nullptr);
    p.filled = n > 0 ? n : 0;
    if (n <= 0) return 0;
    for (int k = 0; k < n; k++) {
        out[k].peer = FromSockaddr(p.from[k]);
        const bool cut = (p.headers[k].msg_hdr.msg_flags & MSG_TRUNC) != 0;
        out[k].size = cut ? 0 : uint16_t(p.headers[k].msg_len);
    }
    return n;
}

int UdpSend(int socket, const UdpDatagram* datagrams, int count) {
    int sent = 0;
    while (sent < count) {
        const int n = count - sent < kBatchMax ? count - sent : kBatchMax;
        mmsghdr headers[kBatchMax];
        iovec vectors[kBatchMax];
        sockaddr_in to[kBatchMax];
        for (int k = 0; k < n; k++) {
            const UdpDatagram& d = datagrams[sent + k];
            to[k] = ToSockaddr(d.peer);
            vectors[k] = iovec{const_cast<uint8_t*>(d.data), d.size};
            headers[k] = mmsghdr{};
            headers[k].msg_hdr.msg_name = &to[k];
            headers[k].msg_hdr.msg_namelen = sizeof to[k];
            headers[k].msg_hdr.msg_iov = &vectors[k];
            headers[k].msg_hdr.msg_iovlen = 1;
        }
        int done = sendmmsg(socket, headers, unsigned(n), MSG_DONTWAIT);
        // A datagram the system refuses (a full buffer, an unreachable
        // network) is skipped, as a lost one would be.
        sent += done > 0 ? done : 1;
    }
    return sent;
}

bool UdpSendOne(int socket, const NetAddress& to, const void* bytes, size_t size) {
    sockaddr_in in = ToSockaddr(to);
    return sendto(socket, bytes, size, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&in), sizeof in) == ssize_t(size);
}

int UdpPollerOpen() { return epoll_create1(EPOLL_CLOEXEC); }

bool UdpPollerAdd(int poller, int socket, uint64_t tag) {
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.u64 = tag;
    return epoll_ctl(poller, EPOLL_CTL_ADD, socket, &e) == 0;
}

void UdpPollerRemove(int poller, int socket) { epoll_ctl(poller, EPOLL_CTL_DEL, socket, nullptr); }

int UdpPollerWait(int poller, int timeoutMs, uint64_t* tags, int max) {
    epoll_event events[kBatchMax];
    if (max > kBatchMax) max = kBatchMax;
    int n = epoll_wait(poller, events, max, timeoutMs);
    if (n < 0) return 0;  // a signal: the caller looks at its flags and waits again
    for (int k = 0; k < n; k++) tags[k] = events[k].data.u64;
    return n;
}

void UdpPollerClose(int poller) {
    if (poller >= 0) close(poller);
}

uint64_t MonotonicUs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return uint64_t(t.tv_sec) * 1000000u + uint64_t(t.tv_nsec) / 1000u;
}

void RandomBytes(void* out, size_t size) {
    uint8_t* p = static_cast<uint8_t*>(out);
    while (size > 0) {
        ssize_t n = getrandom(p, size, 0);
        if (n <= 0) {
            if (errno == EINTR) continue;
            std::perror("getrandom");
            std::abort();  // no source of secrets: codes and tokens could be guessed
        }
        p += n;
        size -= size_t(n);
    }
}

void CatchStopSignals() {
    struct sigaction a {};
    a.sa_handler = OnStopSignal;
    sigemptyset(&a.sa_mask);
    sigaction(SIGTERM, &a, nullptr);
    sigaction(SIGINT, &a, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() { return g_stop != 0; }

void RaiseOpenFileLimit() {
    rlimit r{};
    if (getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur >= r.rlim_max) return;
    r.rlim_cur = r.rlim_max;
    setrlimit(RLIMIT_NOFILE, &r);
}

uint64_t ProcessCpuUs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto us = [](const timeval& t) { return uint64_t(t.tv_sec) * 1000000u + uint64_t(t.tv_usec); };
    return us(u.ru_utime) + us(u.ru_stime);
}

uint64_t ProcessResidentBytes() {
    long pages = 0, resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
    return uint64_t(resident) * uint64_t(sysconf(_SC_PAGESIZE));
}

}  // namespace plat
