#pragma once

// The byte channel of one connection, as the codec sees it, and the
// description of the peer connection behind it.
//
// Contract of every channel:
// - Read(Buffer, Offset, Count) blocks until at least one byte is there and
//   places 1..Count bytes at Buffer[Offset]; it answers how many. It answers 0
//   or less only when nothing can ever be read again (the reader then raises
//   "Read error"); a channel may instead raise TDBXError code 0 "Connection
//   lost". Count is at least 1.
// - Write(Buffer, Offset, Count) sends all Count bytes, or raises; it answers
//   Count. Count 0 answers 0 at once.
// - GetConnectionLost tells whether a read or write has found the connection
//   gone (false in the base).
// - WatchDescriptor is a descriptor that a thread waiting for something else
//   (a callback tunnel's consumer) may poll to learn that the peer has hung
//   up: POLLHUP, POLLRDHUP or POLLERR, or POLLIN with a MSG_PEEK of 0 bytes,
//   mean the peer has gone; POLLIN with bytes to peek means the peer has sent
//   data. -1 when the channel has none (the base). The watcher only polls
//   and peeks; it never reads, writes or closes the descriptor, which stays
//   the channel's.
// A channel belongs to one connection thread; nothing locks. Close may be
// called more than once.

#include <cstdint>
#include <memory>
#include <string>

#include "server/wire/DBXProperties.h"

namespace kds {

// Who is at the other end. FId identifies the connection object (an opaque
// number, for instance a socket descriptor); GetInfo is a text about it (for
// a socket: the local address that accepted it).
class TDBXChannelInfo {
public:
    explicit TDBXChannelInfo(intptr_t Id = 0) : FId(Id) {}
    virtual ~TDBXChannelInfo() = default;

    intptr_t Id() const { return FId; }
    virtual std::string GetInfo() const { return std::string(); }

private:
    intptr_t FId;
};

class TDBXSocketChannelInfo : public TDBXChannelInfo {
public:
    TDBXSocketChannelInfo(intptr_t Id, std::string Info)
        : TDBXChannelInfo(Id), FInfo(std::move(Info)) {}

    std::string GetInfo() const override { return FInfo; }

private:
    std::string FInfo;
};

class TDbxChannel {
public:
    TDbxChannel() = default;
    TDbxChannel(const TDbxChannel&) = delete;
    TDbxChannel& operator=(const TDbxChannel&) = delete;
    virtual ~TDbxChannel() = default;

    virtual void Open() {}
    virtual void Close() {}
    virtual int32_t Read(uint8_t* Buffer, int32_t Offset, int32_t Count) = 0;
    virtual int32_t Write(const uint8_t* Buffer, int32_t Offset, int32_t Count) = 0;
    virtual bool GetConnectionLost() const { return false; }
    virtual int WatchDescriptor() const { return -1; }
    // Owned by the channel; nullptr until the channel has one.
    virtual TDBXChannelInfo* GetChannelInfo() const { return FChannelInfo.get(); }
    virtual const TDBXProperties& GetDBXProperties() const { return FDbxProperties; }
    virtual void SetDBXProperties(const TDBXProperties& Properties) { FDbxProperties = Properties; }

protected:
    void SetChannelInfo(std::unique_ptr<TDBXChannelInfo> Info) { FChannelInfo = std::move(Info); }

    std::unique_ptr<TDBXChannelInfo> FChannelInfo;
    TDBXProperties FDbxProperties;
};

} // namespace kds
