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
// A reply with tables first gives every table a row handle in the command's
// active reader list (1, 2, ... in ordinal order: an out, in/out or return
// parameter of data type 23 that is not null, or else the message's return
// reader), so that the table fields of the parameter row carry the handles
// of their table objects; then it flushes the row and encodes each reader's
// first batch (see DBXTableStreaming.h). When a flushed text or byte value
// did not fit inline, the parameter row's item (row handle -1) is added for
// "more_blob". Both need the message's active reader list (set by the
// command's handler); a table reply without one is TDBXError 30.
// "next" encodes the item's next batch before its reply starts. "next" or
// "more_blob" for a row handle without an active reader (or for a reader at
// its end) raises TDBXError 4 "Command closed or executed again".
//
// Threads: the connection's thread only.

#include <cstdint>
#include <memory>
#include <vector>

#include "server/wire/DBXJSonConnectionHandler.h"

namespace kds {

class TDBXActiveTableReaderItem;
class TDBXActiveTableReaderList;

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
    // EncodeTables' work: handles, the parameter row, the first batches.
    void AddReplyTables(TDBXExecuteMessage& Message, TDBXActiveTableReaderList& Active);
    // Adds the parameter row's item when a flushed value kept a long value.
    void NoteParameterOverflows(TDBXExecuteMessage& Message);

    // The tables of the execute reply being written, in reply order.
    std::vector<TDBXActiveTableReaderItem*> FReplyTables;
};

} // namespace kds
