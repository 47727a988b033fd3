#pragma once

// Fakes and fixtures of the server tests.
//
// - TFakeTransport: a transport that records its starts, stops and removed
//   connections, and can be told to fail.
// - TRecordingHandler: the next handler of a connection handler in place of
//   the output handler: it records every message, gives rows over a row
//   buffer of its own, and at an execute flushes the parameter list into that
//   buffer exactly as the output handler does, so the reply row can be
//   compared byte for byte.
// - TCounted*: test classes that count their instances, one per life cycle.
// - TProbe: a class whose methods cover the argument kinds (integers, var and
//   out text, tables, callbacks, JSON, typed values) and a few that must not
//   be registered.
// - TCountingReader: a reader that counts live instances.
// - TServerHarness: a started server "<name>" with the built-in classes and
//   any test classes, and connection handlers over recording handlers.
// - TServerStack: one connection's real protocol stack over an in-memory
//   channel, with the connection handler a server's transport makes; Send
//   feeds a request and answers every byte written in reply.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/DBXCallback.h"
#include "data/TDBXConnection.h"
#include "data/TDBXReader.h"
#include "data/TDBXRowBuffer.h"
#include "server/DSReflect.h"
#include "server/DSServer.h"
#include "server/DSServerConnectionHandler.h"
#include "server/wire/DBXCommandHandler.h"
#include "server/wire/DBXMessages.h"

namespace kds {
class TDBXJSonServerProtocolHandler;
}

namespace kds::test {

using TBytes = std::vector<uint8_t>;
TBytes HexBytes(std::string_view HexText);
std::string HexOf(const TBytes& Data);

class TFakeTransport : public TDSServerTransport {
public:
    explicit TFakeTransport(std::vector<std::string>* Log = nullptr, std::u16string Name = u"T");
    ~TFakeTransport() override;

    void Start() override;
    void Stop() override;
    void RemoveConnection(TDSServerConnectionHandler& Handler) override;

    bool FailStart = false;
    bool FailStop = false;
    bool Running = false;
    int32_t Starts = 0;
    int32_t Stops = 0;
    std::atomic<int32_t> Removed{0}; // connection threads remove their handlers
    std::vector<std::string>* FLog;
};

class TRecordingHandler : public TDBXConnectionHandler {
public:
    explicit TRecordingHandler(TDBXContext* Context = nullptr);

    void DbxConnect(TDBXConnectMessage& Message) override;
    void DbxDisconnect(TDBXDisconnectMessage&) override { Calls.push_back("disconnect"); }
    void DbxTxBegin(TDBXTxBeginMessage& Message) override;
    void DbxTxEnd(TDBXTxEndMessage&) override { Calls.push_back("txend"); }
    void DbxVendorProperty(TDBXVendorPropertyMessage& Message) override;
    void DbxOpen(TDBXOpenMessage&) override { Calls.push_back("open"); }
    TDBXCommandHandler* AcquireCommandHandler(TDBXCommandMessage&) override { return this; }
    bool DbxBeforeRequest() override { return true; }
    std::u16string GetProductName() override { return std::u16string(); }
    void DbxExecute(TDBXExecuteMessage& Message) override;
    void DbxPrepare(TDBXPrepareMessage& Message) override;
    void DbxNextResult(TDBXNextResultMessage&) override { Calls.push_back("next_result"); }
    void DbxNext(TDBXNextMessage&) override { Calls.push_back("next"); }
    void DbxMoreBlob(TDBXMoreBlobMessage&) override { Calls.push_back("more_blob"); }
    void DbxCommandClose(TDBXCommandCloseMessage&) override { Calls.push_back("command_close"); }
    void DbxReaderClose(TDBXReaderCloseMessage&) override { Calls.push_back("reader_close"); }
    void DbxErrorMessage(TDBXErrorMessage& Message) override;
    std::unique_ptr<TDBXRow> CreateDbxRow() override;

    // Puts a request row (as the input handler reads "data") into the buffer.
    void LoadRequestRow(const TBytes& Row);
    TDBXRowBuffer& Buffer() { return FBuffer; }

    std::vector<std::string> Calls;
    // The parameters of the last prepare or execute, as "name:type:direction".
    std::vector<std::string> LastParameters;
    // The literal texts of the last prepare, per parameter ("" when none).
    std::vector<std::u16string> LastLiterals;
    bool LastParameterTypeChanged = false;
    int32_t LastHandle = -1;
    TBytes LastReplyRow;
    bool LastHadReplyRow = false;
    std::u16string LastProductName;
    int32_t LastConnectionHandle = -1;
    bool LastConnectSucceeded = false;
    int32_t LastErrorCode = 0;
    std::string LastErrorText;
    std::u16string LastVendorValue;

private:
    void RecordParameters(TDBXCommandMessage& Message);

    TDBXRowBuffer FBuffer;
};

// Instances of the counted classes.
struct TCountedStats {
    static std::atomic<int32_t> Live;
    static std::atomic<int32_t> Made;
    static void Reset() {
        Live = 0;
        Made = 0;
    }
};

class TCounted : public TObject {
public:
    TCounted() {
        ++TCountedStats::Live;
        ++TCountedStats::Made;
    }
    ~TCounted() override { --TCountedStats::Live; }
    // Calls made on this very instance (thread-safe for "Server").
    std::atomic<int32_t> Calls{0};
};

// The counted class under a name of its own: "TCounted<Suffix>", with the
// method Touch(): Integer answering this instance's call count.
const TDSClass& CountedClass(const std::u16string& Name);

class TProbe : public TObject {
public:
    static const TDSClass& ClassInfo();
    // Callback bound at the last Call.
    static TDBXCallback* LastCallback;
};

// A database connection that counts live instances; TProbe.Connection hands
// out one it keeps itself.
class TFakeDbxConnection : public TDBXConnection {
public:
    static std::atomic<int32_t> Live;
    TFakeDbxConnection() { ++Live; }
    ~TFakeDbxConnection() override { --Live; }
};

class TCountingReader : public TDBXReader {
public:
    static std::atomic<int32_t> Live;
    explicit TCountingReader(int32_t Rows = 0) : FRows(Rows) { ++Live; }
    ~TCountingReader() override { --Live; }

    int32_t ColumnCount() const override { return 0; }
    const TDBXValueType& ValueType(int32_t Ordinal) const override;
    TDBXValue& Value(int32_t Ordinal) override;
    bool Next() override { return FRows-- > 0; }
    void Close() override { FRows = 0; }

private:
    int32_t FRows;
};

class TServerHarness {
public:
    struct TClassEntry {
        const TDSClass* Class;
        std::u16string LifeCycle;
    };

    explicit TServerHarness(std::u16string Name, std::vector<TClassEntry> Classes = {},
                            bool Start = true);
    ~TServerHarness();

    TDSServer& Server() { return *FServer; }
    TFakeTransport& Transport() { return *FTransport; }

    struct TConnection {
        std::unique_ptr<TRecordingHandler> Next;
        std::unique_ptr<TDSServerConnectionHandler> Handler;
    };
    TConnection Connect();

private:
    std::unique_ptr<TDSServer> FServer;
    std::unique_ptr<TFakeTransport> FTransport;
    std::vector<std::unique_ptr<TDSServerClass>> FClasses;
};

class TMemoryChannel;

class TServerStack {
public:
    // Connection handle 1 is opened at once; the peer has not connected yet.
    explicit TServerStack(TDSServerTransport& Transport);
    ~TServerStack();

    TBytes Send(const TBytes& Request);
    std::string SendText(const std::string& Request);
    TMemoryChannel& Channel() const { return *FChannel; }
    TDSServerConnectionHandler& Handler() const { return *FHandler; }

private:
    TMemoryChannel* FChannel = nullptr;             // owned by the stack
    TDSServerConnectionHandler* FHandler = nullptr; // owned by the stack
    std::unique_ptr<TDBXJSonServerProtocolHandler> FProtocol;
};

// Prepares Text (handle -1, "KDS.ServerMethod" unless Type is given) and
// answers the handle.
// The 49 aliases of the program's server, in registration order.
const std::vector<std::string>& RegisteredAliases();

int32_t Prepare(TDSServerConnectionHandler& Handler, const std::u16string& Text,
                const std::u16string& Type = u"KDS.ServerMethod");
// Executes handle with the request row; answers the reply row as hex.
std::string Execute(TDSServerConnectionHandler& Handler, TRecordingHandler& Next, int32_t Handle,
                    const TBytes& Row, TDBXExecuteMessage* Message = nullptr);

} // namespace kds::test
