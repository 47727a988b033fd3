#pragma once

// The message objects that carry one request along a connection's handler
// chain (protocol handler -> input handler -> connection handler -> output
// handler) and carry the reply's content back. Every handler operation takes
// the message of its kind and ends by passing the same message on.
//
// Messages are plain carriers: their fields are public and named as the
// protocol names them. The input handler keeps one reusable message of each
// kind for the life of the connection; the prepare and execute readers call
// Reset, the other readers overwrite the fields they read. Pointers marked
// "not owned" belong to whoever set them (a command handler, the input
// handler) and must outlive the dispatch of the request.
//
// Threads: a message belongs to its connection's thread.

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace kds {

class TDBXActiveTableReaderList;
class TDBXCommandHandler;
class TDBXConnectionHandler;
class TDBXParameterList;
class TDBXProperties;
class TDBXReader;
class TDBXRow;
class TStream;

class TDBXMessage {
public:
    TDBXMessage() = default;
    TDBXMessage(const TDBXMessage&) = delete;
    TDBXMessage& operator=(const TDBXMessage&) = delete;
    virtual ~TDBXMessage() = default;

    // Calls the handler operation of this message's kind with the message.
    // A connection-level message handed to a handler that is not a connection
    // handler raises TDBXError 30.
    virtual void HandleMessage(TDBXCommandHandler& Handler) = 0;
};

class TDBXConnectMessage : public TDBXMessage {
public:
    void HandleMessage(TDBXCommandHandler& Handler) override;

    // The properties read with the request; owned by the input handler and
    // replaced by the next connect. A handler that keeps them copies them.
    TDBXProperties* FConnectProperties = nullptr;
    int32_t FConnectionHandle = 0;
    std::u16string FProductName;
    // Set by the reader; cleared by a connection handler whose connect fails.
    bool FSuccessfulConnect = false;
};

class TDBXDisconnectMessage : public TDBXMessage {
public:
    void HandleMessage(TDBXCommandHandler& Handler) override;
};

class TDBXOpenMessage : public TDBXMessage {
public:
    void HandleMessage(TDBXCommandHandler& Handler) override;

    int32_t FConnectionHandle = 0;
};

// The base of prepare and execute.
class TDBXCommandMessage : public TDBXMessage {
public:
    TDBXCommandMessage();
    ~TDBXCommandMessage() override;

    // Command handle -1, updatable false, empty type and text, no lists.
    virtual void Reset();
    // FParameters when set, else the explicit list (may be nullptr).
    TDBXParameterList* Parameters() const;
    // Replaces (and frees) the explicit list.
    void SetExplicitParameters(std::unique_ptr<TDBXParameterList> List);

    int32_t FCommandHandle = -1;
    bool FUpdatable = false;
    std::u16string FCommandType;
    std::u16string FCommand;
    bool FParameterTypeChanged = false;
    // The prepared command's parameters; not owned (set by the command
    // handler, whose prepared method holds them).
    TDBXParameterList* FParameters = nullptr;
    // Parameter descriptions the peer sent with the request; owned.
    std::unique_ptr<TDBXParameterList> FExplicitParameters;
    // Short-form parameter types (data type + sub type * 65536); unused by a
    // server, whose peers send full descriptions.
    std::vector<int32_t> FParameterDbxDataTypes;
    bool FServerSideCommand = false;
};

class TDBXPrepareMessage : public TDBXCommandMessage {
public:
    void HandleMessage(TDBXCommandHandler& Handler) override;
};

class TDBXExecuteMessage : public TDBXCommandMessage {
public:
    TDBXExecuteMessage();
    ~TDBXExecuteMessage() override;

    // Everything of the base, plus: no tables (readers still held from a
    // request that failed before the invocation took them are freed), the
    // three "has" flags false, no return reader, no row, no active list,
    // rows affected -1, no connection handler.
    void Reset() override;
    void HandleMessage(TDBXCommandHandler& Handler) override;

    // The input handler that read the request (callbacks write through it).
    virtual void SetConnectionHandler(TDBXConnectionHandler* Handler) {
        FConnectionHandler = Handler;
    }
    virtual TDBXConnectionHandler* GetConnectionHandler() const { return FConnectionHandler; }

    bool FPrepared = false;
    int32_t FTableCount = 0;
    // Readers of the tables the peer sent with the request, in order. Owned
    // here until the invocation takes them (std::move out of the vector).
    std::vector<std::unique_ptr<TDBXReader>> FTables;
    // A "data" object came with the request.
    bool FHasParameters = false;
    // Set by the invocation: the reply carries the parameter row.
    bool FHasOutOrReturnParameters = false;
    // Set by the invocation: an out, in-out or return parameter holds a table.
    bool FHasDBXTableReaderOutOrReturnParameter = false;
    // The parameter row; not owned.
    TDBXRow* FRow = nullptr;
    // A reader result of a command that has no table parameter; not owned.
    TDBXReader* FReturnReader = nullptr;
    // The executing command's active readers; not owned.
    TDBXActiveTableReaderList* FActiveStreamerRowList = nullptr;
    int32_t FIsolationLevel = 0;
    // -1: not applicable; 0 or more adds {"rows":[n]} to the reply.
    int64_t FRowsAffected = -1;

private:
    TDBXConnectionHandler* FConnectionHandler = nullptr; // not owned
};

class TDBXNextMessage : public TDBXMessage {
public:
    void HandleMessage(TDBXCommandHandler& Handler) override;

    int32_t FCommandHandle = 0;
    int32_t FRowHandle = 0;
    int64_t FPosition = 0;
    // Set by the command handler; not owned.
    TDBXActiveTableReaderList* FActiveStreamerRowList = nullptr;
};

class TDBXNextResultMessage : public TDBXMessage {
public:
    void HandleMessage(TDBXCommandHandler& Handler) override;

    int32_t FCommandHandle = 0;
    bool FUpdateable = false;
    int64_t FRowsAffected = -1;
    TDBXReader* FNextResult = nullptr; // not owned; never set here
};

class TDBXMoreBlobMessage : public TDBXMessage {
public:
    void HandleMessage(TDBXCommandHandler& Handler) override;

    int32_t FCommandHandle = 0;
    int32_t FRowHandle = -1;
    int32_t FBlobHandle = 0;
    int64_t FRow = 0;
    int32_t FOrdinal = 0;
    bool FOutParameter = false;
    // The overflow of the value asked for, set by the command handler; not
    // owned. nullptr means no such value: the reply is TDBXError 4.
    TStream* FStreamReader = nullptr;
    // Set by the reply writer: the chunk ended the value.
    bool FEos = false;
};

class TDBXCommandCloseMessage : public TDBXMessage {
public:
    void HandleMessage(TDBXCommandHandler& Handler) override;

    int32_t FCommandHandle = 0;
};

class TDBXReaderCloseMessage : public TDBXMessage {
public:
    void HandleMessage(TDBXCommandHandler& Handler) override;

    int32_t FReaderHandle = 0;
    int32_t FCommandHandle = 0;
};

class TDBXTxBeginMessage : public TDBXMessage {
public:
    void HandleMessage(TDBXCommandHandler& Handler) override;

    int32_t FIsolationLevel = 0;
    int32_t FTransactionHandle = 0;
};

class TDBXTxEndMessage : public TDBXMessage {
public:
    void HandleMessage(TDBXCommandHandler& Handler) override;

    bool FCommit = false;
    int32_t FTransactionHandle = 0;
};

class TDBXVendorPropertyMessage : public TDBXMessage {
public:
    void HandleMessage(TDBXCommandHandler& Handler) override;

    std::u16string FPropertyName;
    std::u16string FPropertyValue;
};

// An error to be written as the error reply.
class TDBXErrorMessage : public TDBXMessage {
public:
    void HandleMessage(TDBXCommandHandler& Handler) override;

    // Fills code, class name and text from the exception (see
    // DescribeException); FEx keeps it.
    void FillFromException(std::exception_ptr Ex);

    std::exception_ptr FEx;
    int32_t FErrorCode = 0;
    std::string FErrorMessage; // UTF-8
    std::string FErrorClassName;
};

// How an exception shows in an error reply:
// - code: a TDBXError's own code, else 5;
// - class name: "TDBXError" for TDBXError; the project's own exception
//   classes (namespace kds) by their class name without namespace ("EConvertError");
//   any other std::exception "Exception"; a non-standard object "Exception";
//   no exception at all "error(null)";
// - text: the exception's message (its class name when the message is empty;
//   "Unknown exception" for a non-standard object); then, along the chain of
//   nested exceptions (std::nested_exception, at most 10 steps), each inner
//   message m is appended as "\nCaused by: m" unless the text so far already
//   contains m, in which case the text becomes m.
void DescribeException(std::exception_ptr Ex, int32_t& Code, std::string& ClassName,
                       std::string& Text);

} // namespace kds
