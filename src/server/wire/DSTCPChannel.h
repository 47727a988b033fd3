#pragma once

// The byte channel over one accepted TCP connection.
//
// Read blocks in the socket with no time limit until at least one byte is
// there and answers 1..Count bytes. A peer that closed the connection (the
// socket reads 0) or a socket error (reset, shut down by Stop) marks the
// connection lost and raises TDBXError 0 "Connection lost"; a read never
// answers 0. Write sends every byte (looping over partial sends, with
// MSG_NOSIGNAL, so a reset peer gives an error instead of SIGPIPE) or marks
// the connection lost and raises the same error.
//
// Open makes the channel info: Id() is the socket descriptor, GetInfo() the
// local address that accepted the connection. Close shuts the socket down
// in both directions (errors ignored) so the peer sees the end at once; it
// does not close the descriptor: the connection that accepted the socket
// owns it and closes it after the whole stack has gone, so that no other
// thread can ever act on a descriptor number the system has handed out
// again. WatchDescriptor is the socket too: a subscriber's tunnel, waiting
// on the connection's thread for something to deliver, polls it to notice
// the peer's hang-up at once instead of at the next delivery.
//
// Threads: the connection's thread only, like every channel.

#include <cstdint>

#include "server/wire/DbxChannel.h"

namespace kds {

class TDSTCPChannel : public TDbxChannel {
public:
    // Fd: a connected socket, not owned.
    explicit TDSTCPChannel(int Fd) : FFd(Fd) {}
    ~TDSTCPChannel() override;

    void Open() override;
    void Close() override;
    int32_t Read(uint8_t* Buffer, int32_t Offset, int32_t Count) override;
    int32_t Write(const uint8_t* Buffer, int32_t Offset, int32_t Count) override;
    bool GetConnectionLost() const override { return FConnectionLost; }
    int WatchDescriptor() const override { return FFd; }

    int Fd() const { return FFd; }

private:
    [[noreturn]] void Lost();

    int FFd;
    bool FConnectionLost = false;
    bool FClosed = false;
};

} // namespace kds
