#pragma once

// The input handler: reads each request of the connection into its reusable
// message and hands it to the next handler (the server's connection handler),
// and runs the request loop.
//
// Request loop (HandleNonBlockingProtocol): read the method, dispatch, repeat
// while the reader holds more bytes and requests are handled; see Dispatch.
// Dispatch turns anything raised while a request is read or served into the
// error reply (after dropping the unsent part of a reply that was being
// written; when part of it has already left, the connection ends instead).
//
// Rules kept by the request readers (the request grammar is in the codec's
// header; the reply writers are the output handler's):
// - "connect": the properties become a fresh object owned here (bounded by
//   WireLimits::MaxConnectProperties); the message points at it.
// - "prepare"/"execute": the message is reset first; before either is
//   dispatched on a connection without a successful connect, the reusable
//   disconnect message is dispatched.
// - "execute" without "data": the parameter row is started over as a row of
//   nulls, so in-parameters read as null instead of the previous reply's
//   values.
// - counts ("parameters", "data") are bounded by WireLimits before anything
//   is allocated (TDBXError 2).
// - an unknown element key in "execute" is skipped.
// - a text or byte field of the request row that continues beyond the row
//   (or a blob header) is fetched from the peer with more_blob when the
//   method reads it (DBXJSonLongValueSource.h, row handle -1, the execute's
//   command handle); a "table" element is read with its first batch
//   (DBXJSonReader.h).
//
// Threads: the connection's thread only. The request serial and InRequest let
// a server callback check that it runs inside the request that made it.

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "server/wire/DBXJSonConnectionHandler.h"
#include "server/wire/DBXMessages.h"
#include "server/wire/DBXProperties.h"

namespace kds {

class TDBXJSonRow;
class TDBXJSonLongValueSource;

class TDBXJSonServerInputConnectionHandler : public TDBXJSonConnectionHandler {
public:
    // NextHandler is not owned here unless also made the next owned handler
    // (the transport does both).
    TDBXJSonServerInputConnectionHandler(TDBXContext* DbxContext,
                                         std::unique_ptr<TDBXRowBuffer> RowBuffer,
                                         std::unique_ptr<TDBXJSonStreamWriter> Writer,
                                         std::unique_ptr<TDBXJSonStreamReader> Reader,
                                         TDBXConnectionHandler* NextHandler,
                                         bool UsesDbxParameters);
    // Frees the next owned handler first (it still uses the streamers).
    ~TDBXJSonServerInputConnectionHandler() override;

    // Serves every request that can be read now; answers whether requests
    // are still handled. A failure while a request start is read ends the
    // loop: while requests are handled it leaves as TDBXError 30 (the
    // connection ends); otherwise it is swallowed and the buffer dropped.
    bool HandleNonBlockingProtocol();
    // Serves requests until one answers false or fails.
    bool HandleProtocol();
    // Reads the rest of the request whose method code was read and serves
    // it; false after "disconnect" or when writing the error reply failed.
    bool Dispatch(int32_t MethodCode);

    // --- TDBXConnectionHandler: forwarded to the next handler ---
    void DbxConnect(TDBXConnectMessage& Message) override;
    void DbxDisconnect(TDBXDisconnectMessage& Message) override;
    void DbxTxBegin(TDBXTxBeginMessage& Message) override;
    void DbxTxEnd(TDBXTxEndMessage& Message) override;
    void DbxVendorProperty(TDBXVendorPropertyMessage& Message) override;
    // Nothing to do: the row buffer needs neither reader nor writer here.
    void DbxOpen(TDBXOpenMessage& Message) override;
    TDBXCommandHandler* AcquireCommandHandler(TDBXCommandMessage& Message) override;
    bool DbxBeforeRequest() override;
    std::u16string GetProductName() override;
    void DbxExecute(TDBXExecuteMessage& Message) override;
    void DbxPrepare(TDBXPrepareMessage& Message) override;
    void DbxNextResult(TDBXNextResultMessage& Message) override;
    void DbxNext(TDBXNextMessage& Message) override;
    void DbxMoreBlob(TDBXMoreBlobMessage& Message) override;
    void DbxCommandClose(TDBXCommandCloseMessage& Message) override;
    void DbxReaderClose(TDBXReaderCloseMessage& Message) override;
    void DbxErrorMessage(TDBXErrorMessage& Message) override;

    void Close();

    TDBXConnectionHandler* NextHandler() const { return FNextHandler; }
    bool HandleRequests() const { return FHandleRequests; }
    // The request being served: its serial moves at every dispatch.
    uint64_t RequestSerial() const { return FRequestSerial; }
    bool InRequest() const { return FInRequest; }
    // The thread that made the handler (the connection's thread).
    std::thread::id OwnerThread() const { return FOwnerThread; }
    const TDBXConnectMessage& ConnectMessage() const { return FConnectMessage; }

private:
    void ReadConnect();
    // The members of the properties object after its "{", and the "]".
    void ReadConnectProperties();
    void ReadDisconnect();
    void ReadPrepare();
    void ReadExecute();
    void ReadNext();
    void ReadNextResult();
    void ReadMoreBlob();
    void ReadCommandClose();
    void ReadReaderClose();
    void ReadTxBegin();
    void ReadTxEnd();
    void ReadVendorProperty();
    // Reads the "parameters" object of a prepare (after its key).
    void ReadPrepareParameters(TDBXCommandMessage& Message);
    // Reads "count,bytes" of a "data" element into the row buffer.
    void ReadDataRow(TDBXExecuteMessage& Message);
    // A parameter count from the peer, checked against its bound.
    int32_t ReadParameterCount();
    void DisconnectIfNotConnected();
    // Consumes the rest of the request object.
    void EndRequest();
    // The parameter row becomes a row of nulls (an execute without "data").
    void StartRowOverAsNulls();
    // Reports the exception as the error reply; false when that fails.
    bool ReportError(std::exception_ptr Error);

    TDBXConnectionHandler* FNextHandler; // not owned (see the constructor)
    // The row in-parameter descriptions read from the peer attach to.
    std::unique_ptr<TDBXJSonRow> FParameterRow;
    std::unique_ptr<TDBXProperties> FConnectProps;
    // Fetches the long values of the request row from the peer.
    std::unique_ptr<TDBXJSonLongValueSource> FRequestLongValues;
    TDBXCommandCloseMessage FCommandCloseMessage;
    TDBXConnectMessage FConnectMessage;
    TDBXDisconnectMessage FDisconnectMessage;
    TDBXExecuteMessage FExecuteMessage;
    TDBXMoreBlobMessage FMoreBlobMessage;
    TDBXNextMessage FNextMessage;
    TDBXNextResultMessage FNextResultMessage;
    TDBXPrepareMessage FPrepareMessage;
    TDBXReaderCloseMessage FReaderCloseMessage;
    TDBXTxBeginMessage FTxBeginMessage;
    TDBXTxEndMessage FTxEndMessage;
    TDBXVendorPropertyMessage FVendorPropertyMessage;
    TDBXErrorMessage FErrorMessage;
    std::u16string FKey; // scratch for connect property names
    // Literal values of the execute being read, by ordinal.
    std::vector<std::pair<int32_t, std::u16string>> FLiterals;
    std::u16string FLiteral;
    bool FHandleRequests = true;
    // A reply broke off after part of it was sent: the connection must end.
    bool FMustEnd = false;
    bool FInRequest = false;
    uint64_t FRequestSerial = 0;
    std::thread::id FOwnerThread;
};

} // namespace kds
