#pragma once

// The small handlers that fill the gaps of a connection's chain:
//
// - TDSDefaultDatabaseConnectionHandler: the database side of a connection
//   when no database connection is attached. Product name "KDS"; connect,
//   disconnect, transactions, open and every command operation do nothing;
//   a vendor property is the empty text; errors go to its next handler (none:
//   dropped); it answers true before every request.
// - TDSDefaultCommandHandler: the command handler it would hand out; does
//   nothing.
// - TDSDatabasePassThroughHandler: the database side when a server method
//   returned a database connection. No database driver exists here, so every
//   request it would forward raises TDBXError 30 "dbx<Operation> not
//   supported yet"; transactions and vendor properties answer as the default
//   handler does. The connection is not owned.
// - TDSVoidConnectionHandler: the end of an in-process connection's chain.
//   Writes nothing; AcquireCommandHandler answers itself; CreateDbxRow gives a
//   row that stores nothing (TDSNullRow); product name empty; false before a
//   request; an error message is raised again as TDBXError 30 with the
//   carried text, so in-process callers see failures as exceptions.
//
// Threads: a handler belongs to its connection's thread.

#include <memory>
#include <string>

#include "data/DBXJSON.h"
#include "data/TDBXRow.h"
#include "server/wire/DBXCommandHandler.h"

namespace kds {

class TDBXConnection;

// A row that stores nothing: every field reads as null, every write is
// dropped, and its generation never moves, so values keep what was set on
// them locally.
class TDSNullRow : public TDBXRow {
public:
    using TDBXRow::TDBXRow;

    int64_t Generation() const override { return 0; }

    void GetBoolean(const TDBXValue&, bool& Out, bool& IsNull) override { Null(Out, IsNull); }
    void GetInt8(const TDBXValue&, int8_t& Out, bool& IsNull) override { Null(Out, IsNull); }
    void GetUInt8(const TDBXValue&, uint8_t& Out, bool& IsNull) override { Null(Out, IsNull); }
    void GetInt16(const TDBXValue&, int16_t& Out, bool& IsNull) override { Null(Out, IsNull); }
    void GetUInt16(const TDBXValue&, uint16_t& Out, bool& IsNull) override { Null(Out, IsNull); }
    void GetInt32(const TDBXValue&, int32_t& Out, bool& IsNull) override { Null(Out, IsNull); }
    void GetInt64(const TDBXValue&, int64_t& Out, bool& IsNull) override { Null(Out, IsNull); }
    void GetSingle(const TDBXValue&, float& Out, bool& IsNull) override { Null(Out, IsNull); }
    void GetDouble(const TDBXValue&, double& Out, bool& IsNull) override { Null(Out, IsNull); }
    void GetDate(const TDBXValue&, TDBXDate& Out, bool& IsNull) override { Null(Out, IsNull); }
    void GetTime(const TDBXValue&, TDBXTime& Out, bool& IsNull) override { Null(Out, IsNull); }
    void GetTimeStamp(const TDBXValue&, TSQLTimeStamp& Out, bool& IsNull) override {
        Null(Out, IsNull);
    }
    void GetTimeStampOffset(const TDBXValue&, TSQLTimeStampOffset& Out, bool& IsNull) override {
        Null(Out, IsNull);
    }
    void GetBcd(const TDBXValue&, TBcd& Out, bool& IsNull) override { Null(Out, IsNull); }
    void GetAnsiString(const TDBXValue&, std::string& Out, bool& IsNull) override {
        Null(Out, IsNull);
    }
    void GetWideString(const TDBXValue&, std::u16string& Out, bool& IsNull) override {
        Null(Out, IsNull);
    }
    void GetBytes(const TDBXValue&, std::vector<uint8_t>& Out, bool& IsNull) override {
        Null(Out, IsNull);
    }
    void GetJSONValue(const TDBXValue&, std::unique_ptr<TJSONValue>& Out, bool& IsNull) override {
        Out.reset();
        IsNull = true;
    }
    void GetCallbackValue(const TDBXValue&, bool& Held) override { Held = false; }
    void GetDBXReader(const TDBXValue&, int32_t& RowHandle, bool& IsNull) override {
        RowHandle = -1;
        IsNull = true;
    }

    void SetNull(TDBXWritableValue&) override {}
    void SetBoolean(TDBXWritableValue&, bool) override {}
    void SetInt64(TDBXWritableValue&, int64_t) override {}
    void SetSingle(TDBXWritableValue&, float) override {}
    void SetDouble(TDBXWritableValue&, double) override {}
    void SetDate(TDBXWritableValue&, TDBXDate) override {}
    void SetTime(TDBXWritableValue&, TDBXTime) override {}
    void SetTimeStamp(TDBXWritableValue&, const TSQLTimeStamp&) override {}
    void SetTimeStampOffset(TDBXWritableValue&, const TSQLTimeStampOffset&) override {}
    void SetBcd(TDBXWritableValue&, const TBcd&) override {}
    void SetAnsiString(TDBXWritableValue&, std::string_view) override {}
    void SetWideString(TDBXWritableValue&, std::u16string_view) override {}
    void SetStream(TDBXWritableValue&, TStream&) override {}
    void SetJSONValue(TDBXWritableValue&, const TJSONValue&) override {}
    void SetCallbackValue(TDBXWritableValue&) override {}
    void SetDBXReader(TDBXWritableValue&, TDBXReader&) override {}
    void SetDBXConnection(TDBXWritableValue&) override {}

private:
    template <typename T> static void Null(T& Out, bool& IsNull) {
        Out = T{};
        IsNull = true;
    }
};

class TDSDefaultCommandHandler : public TDBXCommandHandler {
public:
    using TDBXCommandHandler::TDBXCommandHandler;

    void DbxExecute(TDBXExecuteMessage&) override {}
    void DbxPrepare(TDBXPrepareMessage&) override {}
    void DbxNextResult(TDBXNextResultMessage&) override {}
    void DbxNext(TDBXNextMessage&) override {}
    void DbxMoreBlob(TDBXMoreBlobMessage&) override {}
    void DbxCommandClose(TDBXCommandCloseMessage&) override {}
    void DbxReaderClose(TDBXReaderCloseMessage&) override {}
    void DbxErrorMessage(TDBXErrorMessage&) override {}
};

class TDSDefaultDatabaseConnectionHandler : public TDBXConnectionHandler {
public:
    static constexpr const char16_t* ProductName = u"KDS";

    // NextHandler (not owned, may be nullptr) receives error messages.
    TDSDefaultDatabaseConnectionHandler(TDBXContext* DbxContext, TDBXConnectionHandler* NextHandler)
        : TDBXConnectionHandler(DbxContext), FNextHandler(NextHandler) {}

    void DbxConnect(TDBXConnectMessage&) override {}
    void DbxDisconnect(TDBXDisconnectMessage&) override {}
    void DbxTxBegin(TDBXTxBeginMessage&) override {}
    void DbxTxEnd(TDBXTxEndMessage&) override {}
    void DbxVendorProperty(TDBXVendorPropertyMessage& Message) override;
    void DbxOpen(TDBXOpenMessage&) override {}
    TDBXCommandHandler* AcquireCommandHandler(TDBXCommandMessage& Message) override;
    bool DbxBeforeRequest() override { return true; }
    std::u16string GetProductName() override { return ProductName; }
    void DbxExecute(TDBXExecuteMessage&) override {}
    void DbxPrepare(TDBXPrepareMessage&) override {}
    void DbxNextResult(TDBXNextResultMessage&) override {}
    void DbxNext(TDBXNextMessage&) override {}
    void DbxMoreBlob(TDBXMoreBlobMessage&) override {}
    void DbxCommandClose(TDBXCommandCloseMessage&) override {}
    void DbxReaderClose(TDBXReaderCloseMessage&) override {}
    void DbxErrorMessage(TDBXErrorMessage& Message) override;

private:
    TDBXConnectionHandler* FNextHandler;
    std::unique_ptr<TDSDefaultCommandHandler> FCommandHandler;
};

class TDSDatabasePassThroughHandler : public TDSDefaultDatabaseConnectionHandler {
public:
    TDSDatabasePassThroughHandler(TDBXContext* DbxContext, TDBXConnectionHandler* NextHandler,
                                  TDBXConnection* Connection)
        : TDSDefaultDatabaseConnectionHandler(DbxContext, NextHandler), FConnection(Connection) {}

    TDBXConnection* Connection() const { return FConnection; }

    void DbxConnect(TDBXConnectMessage&) override;
    TDBXCommandHandler* AcquireCommandHandler(TDBXCommandMessage& Message) override;
    void DbxExecute(TDBXExecuteMessage&) override;
    void DbxPrepare(TDBXPrepareMessage&) override;
    void DbxNext(TDBXNextMessage&) override;
    void DbxNextResult(TDBXNextResultMessage&) override;
    void DbxMoreBlob(TDBXMoreBlobMessage&) override;
    void DbxCommandClose(TDBXCommandCloseMessage&) override;
    void DbxReaderClose(TDBXReaderCloseMessage&) override;

private:
    [[noreturn]] void NotSupported(const char* Operation) const;

    TDBXConnection* FConnection; // not owned
};

class TDSVoidConnectionHandler : public TDBXConnectionHandler {
public:
    using TDBXConnectionHandler::TDBXConnectionHandler;

    void DbxConnect(TDBXConnectMessage&) override {}
    void DbxDisconnect(TDBXDisconnectMessage&) override {}
    void DbxTxBegin(TDBXTxBeginMessage&) override {}
    void DbxTxEnd(TDBXTxEndMessage&) override {}
    void DbxVendorProperty(TDBXVendorPropertyMessage&) override {}
    void DbxOpen(TDBXOpenMessage&) override {}
    TDBXCommandHandler* AcquireCommandHandler(TDBXCommandMessage&) override { return this; }
    bool DbxBeforeRequest() override { return false; }
    std::u16string GetProductName() override { return std::u16string(); }
    void DbxExecute(TDBXExecuteMessage&) override {}
    void DbxPrepare(TDBXPrepareMessage&) override {}
    void DbxNextResult(TDBXNextResultMessage&) override {}
    void DbxNext(TDBXNextMessage&) override {}
    void DbxMoreBlob(TDBXMoreBlobMessage&) override {}
    void DbxCommandClose(TDBXCommandCloseMessage&) override {}
    void DbxReaderClose(TDBXReaderCloseMessage&) override {}
    // Raises TDBXError 30 with the carried text.
    void DbxErrorMessage(TDBXErrorMessage& Message) override;
    std::unique_ptr<TDBXRow> CreateDbxRow() override;
};

} // namespace kds
