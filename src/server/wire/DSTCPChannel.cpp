#include "server/wire/DSTCPChannel.h"

#include <cerrno>
#include <sys/socket.h>

#include "base/DBXError.h"
#include "server/wire/DSSocket.h"

namespace kds {

TDSTCPChannel::~TDSTCPChannel() {
    Close();
}

void TDSTCPChannel::Open() {
    SetChannelInfo(std::make_unique<TDBXSocketChannelInfo>(FFd, LocalAddressText(FFd)));
}

void TDSTCPChannel::Close() {
    if (FClosed)
        return;
    FClosed = true;
    ::shutdown(FFd, SHUT_RDWR);
}

void TDSTCPChannel::Lost() {
    FConnectionLost = true;
    throw TDBXError(TDBXErrorCodes::None, "Connection lost");
}

int32_t TDSTCPChannel::Read(uint8_t* Buffer, int32_t Offset, int32_t Count) {
    if (Count <= 0)
        return 0;
    for (;;) {
        const ssize_t Got = ::recv(FFd, Buffer + Offset, static_cast<size_t>(Count), 0);
        if (Got > 0)
            return static_cast<int32_t>(Got);
        if (Got < 0 && errno == EINTR)
            continue;
        Lost();
    }
}

int32_t TDSTCPChannel::Write(const uint8_t* Buffer, int32_t Offset, int32_t Count) {
    int32_t Sent = 0;
    while (Sent < Count) {
        const ssize_t N =
            ::send(FFd, Buffer + Offset + Sent, static_cast<size_t>(Count - Sent), MSG_NOSIGNAL);
        if (N > 0) {
            Sent += static_cast<int32_t>(N);
            continue;
        }
        if (N < 0 && errno == EINTR)
            continue;
        Lost();
    }
    return Count;
}

} // namespace kds
