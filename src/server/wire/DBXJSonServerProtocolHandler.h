#pragma once

// The top of a connection's protocol stack: owns the input handler (and
// through the owned-handler chain the connection handler, its channel and the
// output handler) and the connection's session.
//
// Serving one batch of requests, as the transport does each time data is
// waiting:
//     Handler.ServeRequests(nullptr);
// which is SetUp (make the session on first use and install it as the
// thread's current session), HandleNonBlockingProtocol, and clearing the
// thread's session on every way out, exceptions included. Requests the reader
// already holds are served before the transport waits for the socket again
// (HasMoreBytes).
//
// Destroying the handler frees the input handler first, then closes and
// frees the session. Threads: the connection's thread only.

#include <cstdint>
#include <functional>
#include <memory>

#include "server/wire/DBXJSonServerInputConnectionHandler.h"

namespace kds {

class TDbxChannel;
class TDSTCPSession;

class TDBXProtocolHandler {
public:
    TDBXProtocolHandler() = default;
    TDBXProtocolHandler(const TDBXProtocolHandler&) = delete;
    TDBXProtocolHandler& operator=(const TDBXProtocolHandler&) = delete;
    virtual ~TDBXProtocolHandler() = default;

    virtual bool HandleProtocol() = 0;
    virtual bool HandleNonBlockingProtocol() = 0;
    // Data: the transport's authentication manager (none here), not owned.
    virtual void SetUp(void* Data) = 0;
};

class TDBXJSonServerProtocolHandler : public TDBXProtocolHandler {
public:
    explicit TDBXJSonServerProtocolHandler(
        std::unique_ptr<TDBXJSonServerInputConnectionHandler> ConnectionHandler);
    ~TDBXJSonServerProtocolHandler() override;

    bool HandleProtocol() override;
    bool HandleNonBlockingProtocol() override;
    void SetUp(void* Data) override;

    // SetUp, HandleNonBlockingProtocol, and the thread's session cleared
    // whatever happens. Raises what HandleNonBlockingProtocol raises.
    bool ServeRequests(void* Data);
    // The reader holds bytes of requests not yet served.
    bool HasMoreBytes() const;

    TDBXJSonServerInputConnectionHandler& ConnectionHandler() const { return *FConnectionHandler; }
    // nullptr before the first SetUp.
    TDSTCPSession* Session() const { return FDSSession.get(); }

private:
    std::unique_ptr<TDBXJSonServerInputConnectionHandler> FConnectionHandler;
    std::unique_ptr<TDSTCPSession> FDSSession;
};

// Makes the connection handler of one connection: given the context, the
// channel (which it takes and owns) and the output handler that ends the
// chain (not yet owned: the stack builder makes it the connection handler's
// next owned handler after this returns).
using TDBXConnectionHandlerFactory = std::function<std::unique_ptr<TDBXConnectionHandler>(
    TDBXContext* DbxContext, std::unique_ptr<TDbxChannel> Channel,
    TDBXConnectionHandler* OutputHandler)>;

// Builds the stack of one connection over Channel: reader and writer with
// BufferSize-byte buffers (context and channel set, opened), the row buffer
// (minimum size the writer's CalcRowBufferSize, server side), the output
// handler, the connection handler from the factory (owning the channel and,
// as next owned handler, the output handler), the input handler (owning the
// streamers and, as next owned handler, the connection handler), and the
// protocol handler over it. If anything fails, what was built is freed and
// the error propagates.
std::unique_ptr<TDBXJSonServerProtocolHandler>
CreateJSonServerProtocolHandler(TDBXContext* DbxContext, std::unique_ptr<TDbxChannel> Channel,
                                int32_t BufferSize, const TDBXConnectionHandlerFactory& Factory);

} // namespace kds
