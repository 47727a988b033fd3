#pragma once

// The handler of one open server-method command: prepares the call, runs it
// at every execute, and hands each reply to the handler that writes the
// replies of this command (the output handler; not owned).
//
// Execute: the command's active readers are closed; an execute without a
// prepare prepares from the message first; with life cycle "Invocation" a
// second execution gets a fresh instance; the session authorizes (see the
// connection handler); the call is invoked; the message gets this command's
// active reader list and is passed on. Whatever happened, a per-invocation
// instance is destroyed once no reader of the command is still streaming.
//
// next / more_blob / reader_close reach the active reader list (the item of
// the row handle); next_result, command_close and errors are passed on.
// ClearResources closes the active readers first (nothing may stream from
// values that are about to go), then releases the call's values.
//
// Threads: the connection's thread only.

#include <cstdint>
#include <memory>

#include "server/wire/DBXCommandHandler.h"

namespace kds {

class TDSServerConnectionHandler;
class TDSServerMethod;

class TDSServerMethodCommandHandler : public TDBXCommandHandler {
public:
    TDSServerMethodCommandHandler(TDBXContext* DbxContext, TDSServerConnectionHandler& ServerCon,
                                  TDBXCommandHandler* NextHandler);
    ~TDSServerMethodCommandHandler() override;

    void DbxPrepare(TDBXPrepareMessage& Message) override;
    void DbxExecute(TDBXExecuteMessage& Message) override;
    void DbxNext(TDBXNextMessage& Message) override;
    void DbxNextResult(TDBXNextResultMessage& Message) override;
    void DbxMoreBlob(TDBXMoreBlobMessage& Message) override;
    void DbxCommandClose(TDBXCommandCloseMessage& Message) override;
    void DbxReaderClose(TDBXReaderCloseMessage& Message) override;
    void DbxErrorMessage(TDBXErrorMessage& Message) override;
    bool ClearResources() override;

    // nullptr before the first prepare.
    TDSServerMethod* ServerMethod() const { return FServerMethod.get(); }
    bool HasExecuted() const { return FHasExecuted; }
    // No reader of this command is still streaming.
    bool AllReadersAtEnd() const;

private:
    void Prepare(TDBXCommandMessage& Message);
    void DestroyInvocationInstanceIfDone();
    void Authorize();

    TDSServerConnectionHandler* FServerCon; // not owned
    TDBXCommandHandler* FNextHandler;       // not owned
    std::unique_ptr<TDSServerMethod> FServerMethod;
    bool FHasExecuted = false;
    bool FHasInvocationLifeCycle = false;
};

} // namespace kds
