#include "client/DSClientChannel.h"

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "client/DSClientErrors.h"

namespace kds {

namespace {

// Connects Fd (non-blocking) to Address within Timeout; answers 0 or the
// errno of the failure.
int ConnectWithin(int Fd, const addrinfo& Address, std::chrono::milliseconds Timeout) {
    if (::connect(Fd, Address.ai_addr, Address.ai_addrlen) == 0)
        return 0;
    if (errno != EINPROGRESS)
        return errno;
    pollfd P{Fd, POLLOUT, 0};
    int Ready = 0;
    do {
        Ready = ::poll(&P, 1, static_cast<int>(Timeout.count()));
    } while (Ready < 0 && errno == EINTR);
    if (Ready == 0)
        return ETIMEDOUT;
    if (Ready < 0)
        return errno;
    int Error = 0;
    socklen_t Length = sizeof Error;
    if (::getsockopt(Fd, SOL_SOCKET, SO_ERROR, &Error, &Length) != 0)
        return errno;
    return Error;
}

} // namespace

TDSTCPClientChannel::TDSTCPClientChannel(const std::string& Host, uint16_t Port,
                                         std::chrono::milliseconds ConnectTimeout)
    : FPeerText(Host + ":" + std::to_string(Port)) {
    addrinfo Hints{};
    Hints.ai_family = AF_UNSPEC;
    Hints.ai_socktype = SOCK_STREAM;
    addrinfo* Found = nullptr;
    const int Resolved = ::getaddrinfo(Host.c_str(), std::to_string(Port).c_str(), &Hints, &Found);
    if (Resolved != 0)
        throw TDSConnectionError("Cannot reach " + FPeerText + ": " + ::gai_strerror(Resolved));
    std::string Why = "no address";
    for (const addrinfo* A = Found; A != nullptr; A = A->ai_next) {
        TSocketHandle Socket(
            ::socket(A->ai_family, A->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, A->ai_protocol));
        if (!Socket.Valid()) {
            Why = SystemErrorText(errno);
            continue;
        }
        const int Error = ConnectWithin(Socket.Get(), *A, ConnectTimeout);
        if (Error != 0) {
            Why = SystemErrorText(Error);
            continue;
        }
        const int Flags = ::fcntl(Socket.Get(), F_GETFL);
        ::fcntl(Socket.Get(), F_SETFL, Flags & ~O_NONBLOCK);
        SetConnectionOptions(Socket.Get());
        FSocket = std::move(Socket);
        break;
    }
    ::freeaddrinfo(Found);
    if (!FSocket.Valid())
        throw TDSConnectionError("Cannot reach " + FPeerText + ": " + Why);
}

void TDSTCPClientChannel::Lost(const std::string& Why) {
    FConnectionLost = true;
    throw TDSConnectionError(Why);
}

int32_t TDSTCPClientChannel::Read(uint8_t* Buffer, int32_t Offset, int32_t Count) {
    if (!FSocket.Valid())
        Lost("Connection lost");
    if (Count <= 0)
        return 0;
    for (;;) {
        if (FReadTimeout.count() > 0) {
            pollfd P{FSocket.Get(), POLLIN, 0};
            const int Ready = ::poll(&P, 1, static_cast<int>(FReadTimeout.count()));
            if (Ready < 0 && errno == EINTR)
                continue;
            if (Ready == 0)
                throw TDSConnectionError("No reply within " + std::to_string(FReadTimeout.count()) +
                                         " ms");
        }
        const ssize_t Got = ::recv(FSocket.Get(), Buffer + Offset, static_cast<size_t>(Count), 0);
        if (Got > 0)
            return static_cast<int32_t>(Got);
        if (Got < 0 && errno == EINTR)
            continue;
        Lost(Got == 0 ? std::string("Connection lost")
                      : "Connection lost: " + SystemErrorText(errno));
    }
}

int32_t TDSTCPClientChannel::Write(const uint8_t* Buffer, int32_t Offset, int32_t Count) {
    if (!FSocket.Valid())
        Lost("Connection lost");
    int32_t Sent = 0;
    while (Sent < Count) {
        const ssize_t N = ::send(FSocket.Get(), Buffer + Offset + Sent,
                                 static_cast<size_t>(Count - Sent), MSG_NOSIGNAL);
        if (N > 0) {
            Sent += static_cast<int32_t>(N);
            continue;
        }
        if (N < 0 && errno == EINTR)
            continue;
        Lost("Connection lost: " + SystemErrorText(errno));
    }
    return Count;
}

} // namespace kds
