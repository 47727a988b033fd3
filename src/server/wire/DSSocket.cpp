#include "server/wire/DSSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kds {

void TSocketHandle::Reset(int Fd) {
    if (FFd >= 0)
        ::close(FFd);
    FFd = Fd;
}

void SetConnectionOptions(int Fd) {
    const int On = 1;
    ::setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &On, sizeof On);
    ::setsockopt(Fd, SOL_SOCKET, SO_KEEPALIVE, &On, sizeof On);
    const int Idle = KeepAliveIdleSeconds;
    const int Interval = KeepAliveIntervalSeconds;
    const int Probes = KeepAliveProbes;
    ::setsockopt(Fd, IPPROTO_TCP, TCP_KEEPIDLE, &Idle, sizeof Idle);
    ::setsockopt(Fd, IPPROTO_TCP, TCP_KEEPINTVL, &Interval, sizeof Interval);
    ::setsockopt(Fd, IPPROTO_TCP, TCP_KEEPCNT, &Probes, sizeof Probes);
}

std::string LocalAddressText(int Fd) {
    sockaddr_storage Address{};
    socklen_t Length = sizeof Address;
    if (::getsockname(Fd, reinterpret_cast<sockaddr*>(&Address), &Length) != 0)
        return std::string();
    char Text[INET6_ADDRSTRLEN] = {};
    if (Address.ss_family == AF_INET) {
        const auto* V4 = reinterpret_cast<const sockaddr_in*>(&Address);
        if (::inet_ntop(AF_INET, &V4->sin_addr, Text, sizeof Text) == nullptr)
            return std::string();
    } else if (Address.ss_family == AF_INET6) {
        const auto* V6 = reinterpret_cast<const sockaddr_in6*>(&Address);
        if (::inet_ntop(AF_INET6, &V6->sin6_addr, Text, sizeof Text) == nullptr)
            return std::string();
    } else {
        return std::string();
    }
    return Text;
}

std::string SystemErrorText(int Error) {
    char Buffer[256] = {};
    // The GNU strerror_r answers a pointer that may or may not be Buffer.
    const char* Text = ::strerror_r(Error, Buffer, sizeof Buffer);
    return Text != nullptr ? std::string(Text) : "error " + std::to_string(Error);
}

uint64_t RaiseOpenFileLimit() {
    rlimit Limit{};
    if (::getrlimit(RLIMIT_NOFILE, &Limit) != 0)
        return 0;
    if (Limit.rlim_cur < Limit.rlim_max) {
        rlimit Raised = Limit;
        Raised.rlim_cur = Limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &Raised) == 0)
            Limit = Raised;
    }
    return static_cast<uint64_t>(Limit.rlim_cur);
}

void IgnoreSigPipe() {
    struct sigaction Action {};
    Action.sa_handler = SIG_IGN;
    sigemptyset(&Action.sa_mask);
    ::sigaction(SIGPIPE, &Action, nullptr);
}

} // namespace kds
