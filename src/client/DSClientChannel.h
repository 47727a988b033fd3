#pragma once

// The client's byte channel: one TCP connection to a server.
//
// The constructor resolves Host (a name or an IPv4/IPv6 address), tries
// each address in turn and waits at most ConnectTimeout for each; when none
// answers it raises TDSConnectionError "Cannot reach HOST:PORT: reason".
// The socket gets TCP_NODELAY and keepalive.
//
// Read blocks until at least one byte is there and answers 1..Count bytes;
// with a read time limit set, a wait longer than that raises
// TDSConnectionError "No reply within N ms". A connection that ends or
// fails raises TDSConnectionError "Connection lost" (and is marked lost).
// Write sends every byte (MSG_NOSIGNAL) or raises the same. Close closes the
// socket; the destructor closes it too.
//
// Threads: one thread at a time, like every channel.

#include <chrono>
#include <cstdint>
#include <string>

#include "server/wire/DSSocket.h"
#include "server/wire/DbxChannel.h"

namespace kds {

class TDSTCPClientChannel : public TDbxChannel {
public:
    TDSTCPClientChannel(const std::string& Host, uint16_t Port,
                        std::chrono::milliseconds ConnectTimeout);

    // 0 (the default): no limit.
    void SetReadTimeout(std::chrono::milliseconds Timeout) { FReadTimeout = Timeout; }
    std::chrono::milliseconds ReadTimeout() const { return FReadTimeout; }

    void Close() override { FSocket.Reset(); }
    int32_t Read(uint8_t* Buffer, int32_t Offset, int32_t Count) override;
    int32_t Write(const uint8_t* Buffer, int32_t Offset, int32_t Count) override;
    bool GetConnectionLost() const override { return FConnectionLost; }

    int Fd() const { return FSocket.Get(); }
    const std::string& PeerText() const { return FPeerText; }

private:
    [[noreturn]] void Lost(const std::string& Why);

    TSocketHandle FSocket;
    std::chrono::milliseconds FReadTimeout{0};
    bool FConnectionLost = false;
    std::string FPeerText; // "host:port"
};

} // namespace kds
