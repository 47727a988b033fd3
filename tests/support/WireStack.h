#pragma once

// One connection's whole protocol stack over an in-memory channel, built the
// way the transport builds it (filter-probe wrapper, reader and writer,
// output handler, connection handler, input handler, protocol handler), with
// the fake connection handler in the server's place.
//
//   TWireStack S;
//   S.Channel().Feed("{\"method\":\"connect\",\"params\":[{}]}");
//   S.Serve();
//   S.Channel().WrittenText() == "{\"result\":[1,\"KDS\",2]}"
//
// Serve runs the protocol handler as the transport would, again and again
// while the channel or the reader holds bytes, and notes whether the stack
// asked for the connection to end (an exception leaving the handler).

#include <cstdint>
#include <memory>
#include <string>

#include "base/DBXContext.h"
#include "server/wire/DBXJSonServerProtocolHandler.h"
#include "support/FakeConnectionHandler.h"
#include "support/MemoryChannel.h"

namespace kds::test {

class TWireStack {
public:
    explicit TWireStack(int32_t BufferSize = 32768);

    // Serves until nothing is left or the connection ends; answers false
    // when it ended (the reason is in EndCode / EndMessage).
    bool Serve();

    TMemoryChannel& Channel() const { return *FChannel; }
    TFakeConnectionHandler& Fake() const { return *FFake; }
    TDBXJSonServerProtocolHandler& Protocol() const { return *FProtocol; }
    TDBXContext& Context() { return FContext; }
    bool Ended() const { return FEnded; }
    int32_t EndCode() const { return FEndCode; }
    const std::string& EndMessage() const { return FEndMessage; }

private:
    TDBXContext FContext;
    TMemoryChannel* FChannel = nullptr;      // owned by the stack
    TFakeConnectionHandler* FFake = nullptr; // owned by the stack
    std::unique_ptr<TDBXJSonServerProtocolHandler> FProtocol;
    bool FEnded = false;
    int32_t FEndCode = 0;
    std::string FEndMessage;
};

} // namespace kds::test
