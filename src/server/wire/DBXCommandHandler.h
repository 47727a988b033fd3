#pragma once

// The handler bases of the protocol chain. Every link (input handler, the
// server's connection handler, the output handler, each command's handler)
// answers the operations below; each takes the decoded message of its kind and
// normally ends by handing the same message to its next handler.
//
// What the next handler of the input handler (the server's connection
// handler) must do, operation by operation:
//   DbxOpen            receives the connection handle when the transport adds
//                      the connection; passes the message on
//   DbxConnect         authenticates, fills FConnectionHandle and FProductName
//                      and passes the message on (the output handler writes
//                      {"result":[h,"KDS",2]}); on failure clears
//                      FSuccessfulConnect and raises (or reports through
//                      DbxErrorMessage) instead of passing it on. The
//                      properties in FConnectProperties are replaced by the
//                      next connect: copy what must be kept
//   DbxDisconnect      releases the connection handle; passes it on (no reply)
//   DbxPrepare         resolves or looks up the command, puts the prepared
//                      parameter list in FParameters and the handle in
//                      FCommandHandle; passes it on (the prepare reply)
//   DbxExecute         as prepare, then invokes: sets FHasOutOrReturnParameters
//                      (and the table flag), FRowsAffected, FActiveStreamerRowList;
//                      passes it on. The OUTPUT handler flushes the parameter
//                      list into the row (TDBXParameterList::FlushReply) before
//                      it writes the reply: the connection handler must not
//                      flush it itself
//   DbxCommandClose    frees the command; passes it on (no reply)
//   DbxReaderClose     closes the reader item; passes it on (no reply)
//   DbxNext            sets FActiveStreamerRowList; passes it on
//   DbxMoreBlob        sets FStreamReader to the value's overflow (nullptr when
//                      there is none); passes it on
//   DbxNextResult      passes it on ({"result":[false,0,false,-1]})
//   DbxTxBegin/TxEnd   pass on ({"result":[h]} / {"result":[]})
//   DbxVendorProperty  sets FPropertyValue; passes it on
//   DbxErrorMessage    passes it on: the output handler writes the error reply
//   DbxBeforeRequest   true to serve the request (false: the loop stops)
//   GetProductName     "KDS"
//   AcquireCommandHandler  the handler that writes this command's replies
//   CreateDbxRow       a row over the connection's row buffer (for parameter lists)
// Anything raised by these operations reaches the input handler's dispatch,
// which turns it into the error reply; the connection goes on.
//
// Ownership: each handler may own one next handler (SetNextOwnedHandler),
// freed with it, and owns its active reader list. Threads: a handler belongs
// to its connection's thread.

#include <cstdint>
#include <memory>
#include <string>

namespace kds {

class TDBXContext;
class TDBXRow;
class TDBXActiveTableReaderList;
class TDBXCommandMessage;
class TDBXConnectMessage;
class TDBXDisconnectMessage;
class TDBXOpenMessage;
class TDBXPrepareMessage;
class TDBXExecuteMessage;
class TDBXNextMessage;
class TDBXNextResultMessage;
class TDBXMoreBlobMessage;
class TDBXCommandCloseMessage;
class TDBXReaderCloseMessage;
class TDBXTxBeginMessage;
class TDBXTxEndMessage;
class TDBXVendorPropertyMessage;
class TDBXErrorMessage;

class TDBXCommandHandler {
public:
    explicit TDBXCommandHandler(TDBXContext* DbxContext);
    TDBXCommandHandler(const TDBXCommandHandler&) = delete;
    TDBXCommandHandler& operator=(const TDBXCommandHandler&) = delete;
    // Frees the next owned handler first, then the active reader list.
    virtual ~TDBXCommandHandler();

    virtual void DbxExecute(TDBXExecuteMessage& Message) = 0;
    virtual void DbxPrepare(TDBXPrepareMessage& Message) = 0;
    virtual void DbxNextResult(TDBXNextResultMessage& Message) = 0;
    virtual void DbxNext(TDBXNextMessage& Message) = 0;
    virtual void DbxMoreBlob(TDBXMoreBlobMessage& Message) = 0;
    virtual void DbxCommandClose(TDBXCommandCloseMessage& Message) = 0;
    virtual void DbxReaderClose(TDBXReaderCloseMessage& Message) = 0;
    virtual void DbxErrorMessage(TDBXErrorMessage& Message) = 0;
    // A new row for parameter values; the base raises TDBXError 30.
    virtual std::unique_ptr<TDBXRow> CreateDbxRow();
    // Frees what the last execution made; true when everything could go.
    virtual bool ClearResources() { return true; }
    virtual int32_t GetCommandHandle() const { return FCommandHandle; }
    virtual void SetCommandHandle(int32_t Value) { FCommandHandle = Value; }

    // Made on first use; owned.
    TDBXActiveTableReaderList& GetActiveStreamerRowList();
    // nullptr until GetActiveStreamerRowList made it.
    TDBXActiveTableReaderList* ActiveStreamerRowList() const {
        return FActiveStreamerRowList.get();
    }
    TDBXContext* DbxContext() const { return FDbxContext; }
    // Takes Handler; it is freed with this one (before this one's fields).
    void SetNextOwnedHandler(std::unique_ptr<TDBXCommandHandler> Handler);
    TDBXCommandHandler* NextOwnedHandler() const { return FNextOwnedHandler.get(); }

protected:
    // Frees the next owned handler now (derived destructors call it before
    // their own fields go, when the next handler still uses them).
    void FreeNextOwnedHandler() { FNextOwnedHandler.reset(); }

    int32_t FCommandHandle = 0;
    TDBXContext* FDbxContext = nullptr; // not owned
    std::unique_ptr<TDBXActiveTableReaderList> FActiveStreamerRowList;
    std::unique_ptr<TDBXCommandHandler> FNextOwnedHandler;
};

class TDBXConnectionHandler : public TDBXCommandHandler {
public:
    using TDBXCommandHandler::TDBXCommandHandler;

    // A connection has no command handle: both raise TDBXError 30.
    int32_t GetCommandHandle() const override;
    void SetCommandHandle(int32_t Value) override;

    virtual void DbxConnect(TDBXConnectMessage& Message) = 0;
    virtual void DbxDisconnect(TDBXDisconnectMessage& Message) = 0;
    virtual void DbxTxBegin(TDBXTxBeginMessage& Message) = 0;
    virtual void DbxTxEnd(TDBXTxEndMessage& Message) = 0;
    virtual void DbxVendorProperty(TDBXVendorPropertyMessage& Message) = 0;
    virtual void DbxOpen(TDBXOpenMessage& Message) = 0;
    // Not owned by the caller: the handler that writes the replies of the
    // command the message names (the output handler answers itself).
    virtual TDBXCommandHandler* AcquireCommandHandler(TDBXCommandMessage& Message) = 0;
    virtual bool DbxBeforeRequest() = 0;
    virtual std::u16string GetProductName() = 0;
};

} // namespace kds
