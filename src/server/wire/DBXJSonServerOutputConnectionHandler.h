#pragma once

// The output handler: the end of a connection's chain. It writes the reply of
// every request, and every reply ends with Flush. It answers for every
// command of the connection (AcquireCommandHandler returns itself).
//
//   request          reply
//   ---------------  -------------------------------------------------------------
//   connect          {"result":[handle,"product",2]}
//   prepare          {"result":[{"handle":[h]},{"fields":[0,false]}(,{"parameters":[...]})]}
//   execute          {"result":[({"rows":[n]},)({"parameters":[...]},)({"data":[n,row]})
//                    (,{"table":[...]}...)]} then, outside the result, the first
//                    batch of each table, separated by ","
//   next             the next batch of the reader, no result wrapper
//   next_result      {"result":[false,0,false,-1]}
//   more_blob        {"result":[{"data":[COUNT9,bytes]}]}
//   txbegin          {"result":[transaction handle]}
//   txend            {"result":[]}
//   vendor_property  {"result":["value"]}
//   error            {"error":{"name":"C","code":n,"message":"Remote error: M"}
//   open, disconnect, command_close, reader_close: nothing
//
// Execute: the parameter list is flushed into the row buffer (in parameters
// nulled) before a byte of the reply is written, so an encoding failure gives
// only the error reply. The row buffer is started over after the row is sent.
// "next" or "more_blob" for a row handle without an active reader or value
// raises TDBXError 4 "Command closed or executed again".
//
// Table streaming seam: the table objects and batches of an execute reply and
// the batch of "next" raise TDBXError 27 until the table streaming overrides
// EncodeTables / WriteTables / WriteFirstBatches / WriteNextBatch.
//
// Threads: the connection's thread only.

#include <cstdint>
#include <memory>

#include "server/wire/DBXJSonConnectionHandler.h"

namespace kds {

class TDBXActiveTableReaderItem;

class TDBXJSonServerOutputConnectionHandler : public TDBXJSonConnectionHandler {
public:
    // Nothing is owned.
    TDBXJSonServerOutputConnectionHandler(TDBXContext* DbxContext, TDBXRowBuffer* RowBuffer,
                                          TDBXJSonStreamWriter* Writer,
                                          TDBXJSonStreamReader* Reader);

    void DbxConnect(TDBXConnectMessage& Message) override;
    void DbxDisconnect(TDBXDisconnectMessage& Message) override;
    void DbxTxBegin(TDBXTxBeginMessage& Message) override;
    void DbxTxEnd(TDBXTxEndMessage& Message) override;
    void DbxVendorProperty(TDBXVendorPropertyMessage& Message) override;
    void DbxOpen(TDBXOpenMessage& Message) override;
    TDBXCommandHandler* AcquireCommandHandler(TDBXCommandMessage& Message) override;
    bool DbxBeforeRequest() override { return true; }
    std::u16string GetProductName() override { return std::u16string(); }
    void DbxExecute(TDBXExecuteMessage& Message) override;
    void DbxPrepare(TDBXPrepareMessage& Message) override;
    void DbxNextResult(TDBXNextResultMessage& Message) override;
    void DbxNext(TDBXNextMessage& Message) override;
    void DbxMoreBlob(TDBXMoreBlobMessage& Message) override;
    void DbxCommandClose(TDBXCommandCloseMessage& Message) override;
    void DbxReaderClose(TDBXReaderCloseMessage& Message) override;
    void DbxErrorMessage(TDBXErrorMessage& Message) override;
    // A TDBXJSonRow over the connection's row buffer.
    std::unique_ptr<TDBXRow> CreateDbxRow() override;

protected:
    // Before the reply starts: encode whatever tables the reply carries (the
    // parameter row with the row handles of its tables, and each reader's
    // first batch). Called only when FHasDBXTableReaderOutOrReturnParameter
    // is set or a return reader is there.
    virtual void EncodeTables(TDBXExecuteMessage& Message);
    // Inside the result: the parameter row and the table objects, each
    // preceded by "," when Wrote is true; sets Wrote.
    virtual void WriteTables(TDBXExecuteMessage& Message, bool& Wrote);
    // After the result: the first batches encoded by EncodeTables.
    virtual void WriteFirstBatches(TDBXExecuteMessage& Message);
    // The next batch of the item.
    virtual void WriteNextBatch(TDBXNextMessage& Message, TDBXActiveTableReaderItem& Item);

private:
    void WriteParameterRow(TDBXParameterList* List, bool& Wrote);
};

} // namespace kds
