#pragma once

// The server's half of a client callback: while a server method runs, it
// sends the client a callback request on the connection of that request and
// reads the client's answer from the same connection.
//
//   server -> client   {"callback":[n,[ordinal,kind,argument]]}   kind 1 = JSON
//   client -> server   {"data":[n,<JSON bytes>]}  or an error object
//
// Answers: the data bytes parsed as JSON (UTF-8 mode); a wrong key raises
// TDBXError 32 "Invalid callback message format"; bytes that are not JSON
// raise 32 "Cannot parse properly the callback output argument"; an error
// object raises the peer's code and message; a byte count outside
// 0..WireLimits::MaxBlockBytes raises 2 before anything is allocated.
//
// Binding: SetConnectionHandler binds the callback to the calling thread and
// to the request the input handler is serving at that moment (the
// invocation binds it while it runs the method). Execute from any other
// thread, outside a request, or in a later request raises TDBXError 30
// "The callback is not bound to the running request" and writes nothing, so
// the connection's stream is only ever used by its own thread.
//
// Counted like every callback (make it with new; Release frees it).

#include <cstdint>
#include <memory>
#include <thread>

#include "data/DBXCallback.h"

namespace kds {

class TDBXJSonServerInputConnectionHandler;

class TDBXServerCallback : public TDBXCallback {
public:
    static constexpr int32_t JsonArgument = 1;
    static constexpr int32_t ObjectArgument = 2;

    TDBXServerCallback() = default;
    // Binds at once (see SetConnectionHandler).
    TDBXServerCallback(TDBXConnectionHandler* Handler, TDSServer* Server, int32_t Ordinal);

    // Arg stays the caller's; the answer is the caller's.
    std::unique_ptr<TJSONValue> Execute(TJSONValue* Arg) override;
    // No object marshaller is configured: raises TDBXError 5.
    std::unique_ptr<TObject> Execute(TObject* Arg) override;
    // The callback request with the argument kind given (1 JSON, 2 an object
    // already turned into its JSON form) and the answer.
    std::unique_ptr<TJSONValue> ExecuteJSON(const TJSONValue& Arg, int32_t ArgKind);

    // Handler must be the connection's input handler (anything else leaves
    // the callback unbound).
    void SetConnectionHandler(TDBXConnectionHandler* Handler) override;
    void SetDsServer(TDSServer* Server) override { FDsServer = Server; }
    void SetOrdinal(int32_t Ordinal) override { FOrdinal = Ordinal; }
    bool GetConnectionLost() const override;

    TDBXJSonServerInputConnectionHandler* ConnectionHandler() const { return FConnectionHandler; }
    TDSServer* DsServer() const { return FDsServer; }
    int32_t Ordinal() const { return FOrdinal; }

protected:
    ~TDBXServerCallback() override = default;

private:
    void CheckBound() const;

    TDBXJSonServerInputConnectionHandler* FConnectionHandler = nullptr; // not owned
    TDSServer* FDsServer = nullptr;                                     // not owned
    int32_t FOrdinal = 0;
    std::thread::id FBoundThread;
    uint64_t FBoundRequest = 0;
};

} // namespace kds
