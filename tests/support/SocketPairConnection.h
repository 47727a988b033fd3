#pragma once

// One connection served on a thread of its own, over a Unix socket pair, for
// tests where the server blocks inside a request (a subscriber's
// ConnectClientChannel) while the test plays the terminal:
//
//   TSocketPairConnection C(Context, Factory);    // the server thread starts
//   C.Peer().Send("{\"method\":\"connect\",\"params\":[{}]}");
//   C.Peer().ReadMessage()   // "{\"result\":[1,\"KDS\",2]}"
//   C.Peer().HangUp();       // the peer goes away; the server notices
//
// The server end is built as the transport builds a connection (the
// filter-probe wrapper around a blocking socket channel whose descriptor is
// its watch descriptor, the protocol stack with 32768-byte buffers, the
// connection handler from the factory, opened with the given handle) and
// served in a loop until the stack asks the connection to end or the peer
// hangs up. The destructor hangs up and joins the thread.
//
// Message framing on the peer side: a message is one JSON-shaped object
// (the error object counts as ended at its one closing brace); a byte block
// ("data" or "callback" followed by [count, ...]) is skipped by its count.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "server/wire/DBXJSonServerProtocolHandler.h"
#include "server/wire/DbxChannel.h"
#include "support/TableReply.h"

namespace kds::test {

using TBytes = std::vector<uint8_t>;

// The server end of a socket: blocking reads and writes, never SIGPIPE.
class TSocketChannel : public TDbxChannel {
public:
    // Takes the descriptor.
    explicit TSocketChannel(int Fd);
    ~TSocketChannel() override;

    int32_t Read(uint8_t* Buffer, int32_t Offset, int32_t Count) override;
    int32_t Write(const uint8_t* Buffer, int32_t Offset, int32_t Count) override;
    bool GetConnectionLost() const override { return FLost; }
    int WatchDescriptor() const override { return FFd; }
    // Shuts the socket down both ways (a blocked read returns).
    void Close() override;

private:
    int FFd;
    std::atomic<bool> FLost{false};
};

// The terminal's end.
class TPeerSocket {
public:
    explicit TPeerSocket(int Fd = -1) : FFd(Fd) {}
    TPeerSocket(const TPeerSocket&) = delete;
    TPeerSocket& operator=(const TPeerSocket&) = delete;
    ~TPeerSocket();

    void Send(const TBytes& Data);
    void Send(std::string_view Text);
    // The next whole message, waiting at most TimeoutMs; empty when none
    // came in time or the server closed.
    TBytes ReadMessage(int TimeoutMs = 5000);
    std::string ReadText(int TimeoutMs = 5000);
    // Whether bytes are waiting (already framed or on the socket), after at
    // most TimeoutMs.
    bool HasData(int TimeoutMs = 0);
    // True when the server has closed its end, within TimeoutMs.
    bool ServerClosed(int TimeoutMs = 5000);
    // Closes this end.
    void HangUp();
    // Takes Fd in place of the one held (which is closed).
    void Adopt(int Fd);
    int Fd() const { return FFd; }

private:
    // Reads what the socket holds into FPending; false at end or timeout.
    bool Fill(int TimeoutMs);

    int FFd;
    TBytes FPending;
    bool FEnded = false;
};

// Where one framed message ends in Data: its length, or 0 while incomplete.
size_t FrameLength(const TBytes& Data);

class TSocketPairConnection {
public:
    TSocketPairConnection(TDBXContext* Context, TDBXConnectionHandlerFactory Factory,
                          int32_t ConnectionHandle = 1);
    TSocketPairConnection(const TSocketPairConnection&) = delete;
    TSocketPairConnection& operator=(const TSocketPairConnection&) = delete;
    ~TSocketPairConnection();

    TPeerSocket& Peer() { return FPeer; }
    // Whether the server thread has finished (within TimeoutMs).
    bool Ended(int TimeoutMs = 0) const;
    // Hangs the peer up and waits for the server thread.
    void Join();

private:
    void Serve(std::unique_ptr<TDBXJSonServerProtocolHandler> Protocol, TSocketChannel& Socket);

    TPeerSocket FPeer;
    std::thread FThread;
    std::atomic<bool> FEnded{false};
};

// Row fields as the row codec writes them (short forms only).
// TextField (TableReply.h): 0x20 + n, text
TBytes IntField(int64_t Value);          // 0x60 + n / 0x20 + n, magnitude
TBytes JsonField(std::string_view Json); // 0x40, big-endian length, bytes
inline TBytes NullField() {
    return {0xC0};
}
inline TBytes CallbackField() {
    return {0x02};
}

// {"method":"execute","params":[{"fields":[-1,false,"KDS.ServerMethod",
// "<Method>"]},{"data":[n,<Row>]}]}
TBytes ExecuteRequest(std::string_view Method, const TBytes& Row);
// The row of a reply {"result":[{"data":[n,<row>]}]} (empty when Reply is
// not one).
TBytes ReplyRow(const TBytes& Reply);

} // namespace kds::test
