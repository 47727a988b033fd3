#pragma once

// A stand-in for the server's connection handler behind the input handler:
// it records every message it receives, answers the way the server would for
// the two echo methods, and hands each message to the output handler, which
// writes the reply. Tests steer it with the public knobs below.
//
// Prepare (any command text) answers handle 0, 1, ... for -1 and keeps a given
// handle, with the echo parameter list: Value (in, 26) and ReturnParameter
// (return, 26), every other field 0. Execute closes the readers of the last
// execute, gives the message the fake's one list of active readers (Readers,
// which "next" and "more_blob" use too), reads Value from the request row
// and returns it unchanged, or reversed when the command text names
// ReverseString. OnExecute replaces that last step. Throw, when set, runs first in
// every operation (pass the operation's name) and may raise anything.
//
// Used on one thread; owns the channel it is given.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/wire/DBXActiveTableReaderList.h"
#include "server/wire/DBXCommandHandler.h"
#include "server/wire/DBXMessages.h"
#include "server/wire/DBXProperties.h"

namespace kds {
class TDbxChannel;
class TDBXParameterList;
class TDBXRow;
class TStream;
} // namespace kds

namespace kds::test {

class TFakeConnectionHandler : public TDBXConnectionHandler {
public:
    TFakeConnectionHandler(TDBXContext* Context, std::unique_ptr<TDbxChannel> Channel,
                           TDBXConnectionHandler* Output);
    ~TFakeConnectionHandler() override;

    void DbxConnect(TDBXConnectMessage& Message) override;
    void DbxDisconnect(TDBXDisconnectMessage& Message) override;
    void DbxTxBegin(TDBXTxBeginMessage& Message) override;
    void DbxTxEnd(TDBXTxEndMessage& Message) override;
    void DbxVendorProperty(TDBXVendorPropertyMessage& Message) override;
    void DbxOpen(TDBXOpenMessage& Message) override;
    TDBXCommandHandler* AcquireCommandHandler(TDBXCommandMessage& Message) override;
    bool DbxBeforeRequest() override { return true; }
    std::u16string GetProductName() override { return u"KDS"; }
    void DbxExecute(TDBXExecuteMessage& Message) override;
    void DbxPrepare(TDBXPrepareMessage& Message) override;
    void DbxNextResult(TDBXNextResultMessage& Message) override;
    void DbxNext(TDBXNextMessage& Message) override;
    void DbxMoreBlob(TDBXMoreBlobMessage& Message) override;
    void DbxCommandClose(TDBXCommandCloseMessage& Message) override;
    void DbxReaderClose(TDBXReaderCloseMessage& Message) override;
    void DbxErrorMessage(TDBXErrorMessage& Message) override;

    // --- What was received ---
    std::vector<std::string> Calls;
    TDBXProperties LastConnectProperties; // copied at each connect
    std::u16string LastCommandType, LastCommand;
    int32_t LastCommandHandle = 0;
    bool LastHasParameters = false;
    int32_t LastExplicitParameterCount = -1;
    std::u16string LastValue; // the Value parameter read at the last execute
    bool LastValueNull = false;
    TDBXNextMessage LastNext;
    TDBXMoreBlobMessage LastMoreBlob;
    TDBXReaderCloseMessage LastReaderClose;
    int32_t LastTxEndHandle = 0;
    bool LastTxEndCommit = false;
    std::u16string LastVendorProperty;
    int32_t ErrorsReported = 0;

    // --- Knobs ---
    int32_t ConnectionHandle = 1;
    std::function<void(const std::string& Operation)> Throw;
    std::function<void(TDBXExecuteMessage& Message)> OnExecute;
    // Handed out as the overflow of any more_blob; nullptr answers none.
    TStream* MoreBlobStream = nullptr;
    // Rows affected put into the next executes when 0 or more.
    int64_t RowsAffected = -1;
    // Answered by prepare instead of the echo list when set; not owned.
    TDBXParameterList* PrepareParameters = nullptr;
    // Commands open (a next_result on another handle raises 29).
    std::vector<bool> Open;
    // The readers the replies stream, as a command handler keeps them.
    TDBXActiveTableReaderList Readers;

    TDBXParameterList& EchoParameters() { return *FEcho; }
    TDBXConnectionHandler& Output() const { return *FOutput; }

private:
    void Enter(const std::string& Operation);

    TDBXConnectionHandler* FOutput; // not owned
    std::unique_ptr<TDbxChannel> FChannel;
    std::unique_ptr<TDBXRow> FRow;
    std::unique_ptr<TDBXParameterList> FEcho;
};

} // namespace kds::test
