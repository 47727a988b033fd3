#include "server/wire/DBXJSonServerInputConnectionHandler.h"

#include <algorithm>
#include <cstring>

#include "base/DBXContext.h"
#include "base/DBXError.h"
#include "data/TDBXJSonRow.h"
#include "data/TDBXParameter.h"
#include "data/TDBXReader.h"
#include "data/TDBXRowBuffer.h"
#include "server/wire/DBXJSonLongValueSource.h"
#include "server/wire/DBXStream.h"
#include "server/wire/WireLimits.h"

namespace kds {

namespace {

// A null field is one byte; a row of this many of them reads as null at
// every ordinal a parameter list can have.
constexpr uint8_t NullField = 0xC0;

struct TRequestScope {
    bool& InRequest;
    explicit TRequestScope(bool& Flag) : InRequest(Flag) { InRequest = true; }
    ~TRequestScope() { InRequest = false; }
};

} // namespace

TDBXJSonServerInputConnectionHandler::TDBXJSonServerInputConnectionHandler(
    TDBXContext* DbxContext, std::unique_ptr<TDBXRowBuffer> RowBuffer,
    std::unique_ptr<TDBXJSonStreamWriter> Writer, std::unique_ptr<TDBXJSonStreamReader> Reader,
    TDBXConnectionHandler* NextHandler, bool UsesDbxParameters)
    : TDBXJSonConnectionHandler(DbxContext, std::move(RowBuffer), std::move(Writer),
                                std::move(Reader), UsesDbxParameters),
      FNextHandler(NextHandler),
      FParameterRow(std::make_unique<TDBXJSonRow>(DbxContext, FDbxRowBuffer)),
      FRequestLongValues(std::make_unique<TDBXJSonLongValueSource>(DbxContext, *FDbxStreamReader,
                                                                   *FDbxStreamWriter)),
      FOwnerThread(std::this_thread::get_id()) {
    FRequestLongValues->SetCommandHandleSource(&FExecuteMessage.FCommandHandle);
    FRequestLongValues->SetRowHandle(-1);
    FDbxRowBuffer->SetLongValueSource(FRequestLongValues.get());
}

TDBXJSonServerInputConnectionHandler::~TDBXJSonServerInputConnectionHandler() {
    FreeNextOwnedHandler();
    // Lists and readers the messages still hold go before the row they use.
    FPrepareMessage.Reset();
    FExecuteMessage.Reset();
    FDbxRowBuffer->SetLongValueSource(nullptr);
}

// ---------------------------------------------------------------------------
// Request loop and dispatch
// ---------------------------------------------------------------------------

bool TDBXJSonServerInputConnectionHandler::HandleNonBlockingProtocol() {
    try {
        do {
            const int32_t Method = FDbxStreamReader->ReadMethod();
            if (!Dispatch(Method))
                FHandleRequests = false;
        } while (FHandleRequests && FDbxStreamReader->HasMoreBytes());
    } catch (...) {
        if (FHandleRequests || FMustEnd)
            RaiseDBXError(FDbxContext, 30, std::string());
        // Requests are no longer handled: the failure is swallowed, and
        // whatever the reader held of the bad request goes with it.
        FDbxStreamReader->DiscardBuffer();
        FHandleRequests = false;
    }
    if (!FHandleRequests)
        Close();
    return FHandleRequests;
}

bool TDBXJSonServerInputConnectionHandler::HandleProtocol() {
    try {
        while (FHandleRequests) {
            const int32_t Method = FDbxStreamReader->ReadMethod();
            if (!Dispatch(Method))
                FHandleRequests = false;
        }
    } catch (...) {
        const bool Raise = FHandleRequests || FMustEnd;
        FHandleRequests = false;
        Close();
        if (Raise)
            RaiseDBXError(FDbxContext, 30, std::string());
        return false;
    }
    Close();
    return FHandleRequests;
}

bool TDBXJSonServerInputConnectionHandler::Dispatch(int32_t MethodCode) {
    ++FRequestSerial;
    TRequestScope Scope(FInRequest);
    try {
        if (!DbxBeforeRequest())
            return false;
        switch (MethodCode) {
        case TDBXStringCodes::Connect:
            ReadConnect();
            break;
        case TDBXStringCodes::Disconnect:
            ReadDisconnect();
            break;
        case TDBXStringCodes::Prepare:
            ReadPrepare();
            break;
        case TDBXStringCodes::Execute:
            ReadExecute();
            break;
        case TDBXStringCodes::CommandClose:
            ReadCommandClose();
            break;
        case TDBXStringCodes::ReaderClose:
            ReadReaderClose();
            break;
        case TDBXStringCodes::Next:
            ReadNext();
            break;
        case TDBXStringCodes::TxBegin:
            ReadTxBegin();
            break;
        case TDBXStringCodes::TxEnd:
            ReadTxEnd();
            break;
        case TDBXStringCodes::MoreBlob:
            ReadMoreBlob();
            break;
        case TDBXStringCodes::NextResult:
            ReadNextResult();
            break;
        case TDBXStringCodes::VendorProperty:
            ReadVendorProperty();
            break;
        default:
            // Unknown methods are passed over without a reply.
            FDbxStreamReader->SkipToEndOfObject();
            break;
        }
        return MethodCode != TDBXStringCodes::Disconnect;
    } catch (...) {
        return ReportError(std::current_exception());
    }
}

bool TDBXJSonServerInputConnectionHandler::ReportError(std::exception_ptr Error) {
    if (!FDbxStreamWriter->RollbackReply()) {
        // Part of a reply has already left: an error reply behind it would
        // read as the rest of that reply. The connection ends instead.
        FMustEnd = true;
        RaiseDBXError(FDbxContext, 30, "A reply failed after part of it was sent");
    }
    try {
        FErrorMessage.FillFromException(Error);
        FNextHandler->DbxErrorMessage(FErrorMessage);
        FErrorMessage.FEx = nullptr;
        return true;
    } catch (...) {
        FErrorMessage.FEx = nullptr;
        return false;
    }
}

void TDBXJSonServerInputConnectionHandler::Close() {
    FDbxStreamReader->Close();
    FDbxStreamWriter->Close();
}

// ---------------------------------------------------------------------------
// Request readers
// ---------------------------------------------------------------------------

void TDBXJSonServerInputConnectionHandler::EndRequest() {
    // A parameter array that ended the request object already leaves
    // nothing to skip.
    if (FDbxStreamReader->Token() != TDBXTokens::ObjectEnd)
        FDbxStreamReader->SkipToEndOfObject();
}

void TDBXJSonServerInputConnectionHandler::DisconnectIfNotConnected() {
    if (!FConnectMessage.FSuccessfulConnect)
        FNextHandler->DbxDisconnect(FDisconnectMessage);
}

int32_t TDBXJSonServerInputConnectionHandler::ReadParameterCount() {
    const int32_t Count = FDbxStreamReader->ReadInt();
    if (Count > WireLimits::MaxParameters)
        FDbxStreamReader->BoundExceeded("Parameter count " + std::to_string(Count) + " is above " +
                                        std::to_string(WireLimits::MaxParameters));
    return Count;
}

void TDBXJSonServerInputConnectionHandler::ReadConnect() {
    TDBXJSonStreamReader& R = *FDbxStreamReader;
    FConnectMessage.FSuccessfulConnect = true;
    if (R.ReadParams() == TDBXTokens::ArrayStart) {
        FConnectProps = std::make_unique<TDBXProperties>();
        FConnectMessage.FConnectProperties = FConnectProps.get();
        // The properties object's "{" (its kind is not checked); an empty
        // parameter array carries no properties.
        if (R.Next() != TDBXTokens::ArrayEnd)
            ReadConnectProperties();
    }
    EndRequest();
    FNextHandler->DbxConnect(FConnectMessage);
}

void TDBXJSonServerInputConnectionHandler::ReadConnectProperties() {
    TDBXJSonStreamReader& R = *FDbxStreamReader;
    int32_t Count = 0;
    int32_t T = R.Next();
    while (T == TDBXTokens::StringStart) {
        if (++Count > WireLimits::MaxConnectProperties)
            R.BoundExceeded("More than " + std::to_string(WireLimits::MaxConnectProperties) +
                            " connect properties");
        FKey = R.ReadString();
        R.Next(TDBXTokens::NameSeparator);
        FConnectProps->SetValue(FKey, R.ReadString());
        T = R.Next();
        if (T != TDBXTokens::ValueSeparator)
            break;
        T = R.Next();
    }
    R.Next(TDBXTokens::ArrayEnd);
}

void TDBXJSonServerInputConnectionHandler::ReadDisconnect() {
    FDbxStreamReader->SkipToEndOfObject();
    FNextHandler->DbxDisconnect(FDisconnectMessage);
}

void TDBXJSonServerInputConnectionHandler::ReadPrepare() {
    TDBXJSonStreamReader& R = *FDbxStreamReader;
    TDBXPrepareMessage& M = FPrepareMessage;
    M.Reset();
    R.ReadParams();
    M.FCommandHandle = R.ReadInt();
    R.NextValueSeparator();
    M.FUpdatable = R.ReadBoolean();
    R.NextValueSeparator();
    R.ReadString(M.FCommandType);
    R.NextValueSeparator();
    R.ReadString(M.FCommand);
    while (R.Next() == TDBXTokens::ValueSeparator) {
        R.Next(TDBXTokens::ObjectStart);
        if (R.ReadStringCode() == TDBXStringCodes::Parameters) {
            M.SetExplicitParameters(
                std::make_unique<TDBXParameterList>(FDbxContext, FParameterRow.get()));
            ReadPrepareParameters(M);
        } else {
            R.SkipToEndOfObject();
        }
    }
    EndRequest();
    DisconnectIfNotConnected();
    FNextHandler->DbxPrepare(M);
}

void TDBXJSonServerInputConnectionHandler::ReadPrepareParameters(TDBXCommandMessage& Message) {
    TDBXJSonStreamReader& R = *FDbxStreamReader;
    R.Next(TDBXTokens::NameSeparator);
    R.Next(TDBXTokens::ArrayStart);
    const int32_t Count = ReadParameterCount();
    if (Count > 0) {
        TDBXParameterList& List = *Message.Parameters();
        const bool WasEmpty = List.Count() == 0;
        if (WasEmpty)
            List.SetCount(Count);
        if (R.Next() == TDBXTokens::ValueSeparator) {
            for (int32_t I = 0; I < Count; ++I) {
                if (I > 0)
                    R.NextValueSeparator();
                if (WasEmpty)
                    ReadParameterType(List.Parameter(I));
                else
                    SkipParameterType();
            }
        }
        if (WasEmpty)
            Message.FParameterTypeChanged = false;
    }
    R.SkipToEndOfObject();
}

void TDBXJSonServerInputConnectionHandler::ReadDataRow(TDBXExecuteMessage& Message) {
    TDBXJSonStreamReader& R = *FDbxStreamReader;
    const int32_t Count = R.ReadInt();
    if (Count < 0 || Count > WireLimits::MaxBlockBytes)
        R.BoundExceeded("Byte count " + std::to_string(Count) + " is outside 0.." +
                        std::to_string(WireLimits::MaxBlockBytes));
    const int32_t T = R.Next();
    if (T != TDBXTokens::ValueSeparator && !(Count == 0 && T == TDBXTokens::ArrayEnd))
        R.UnexpectedToken(TDBXTokens::ValueSeparator, T);
    // The count of each request's row becomes the buffer's minimum size.
    FDbxRowBuffer->SetMinBufSize(Count);
    uint8_t* Bytes = FDbxRowBuffer->ReadBuffer(Count);
    if (T == TDBXTokens::ValueSeparator)
        R.ReadDataBytes(Bytes, 0, Count);
    FDbxRowBuffer->SetReadSize(Count);
    Message.FHasParameters = true;
}

void TDBXJSonServerInputConnectionHandler::StartRowOverAsNulls() {
    uint8_t* Bytes = FDbxRowBuffer->ReadBuffer(WireLimits::MaxParameters);
    std::memset(Bytes, NullField, static_cast<size_t>(WireLimits::MaxParameters));
    FDbxRowBuffer->SetReadSize(WireLimits::MaxParameters);
}

void TDBXJSonServerInputConnectionHandler::ReadExecute() {
    TDBXJSonStreamReader& R = *FDbxStreamReader;
    TDBXExecuteMessage& M = FExecuteMessage;
    M.Reset();
    FLiterals.clear();
    R.ReadParams();
    int32_t T = 0;
    do {
        R.Next(TDBXTokens::ObjectStart);
        R.Next(TDBXTokens::StringStart);
        const int32_t Key = R.ReadStringCode();
        R.Next(TDBXTokens::NameSeparator);
        R.Next(TDBXTokens::ArrayStart);
        switch (Key) {
        case TDBXStringCodes::Handle:
            M.FCommandHandle = R.ReadInt();
            R.SkipToEndOfObject();
            break;
        case TDBXStringCodes::Fields:
            M.FCommandHandle = R.ReadInt();
            R.NextValueSeparator();
            M.FUpdatable = R.ReadBoolean();
            R.NextValueSeparator();
            R.ReadString(M.FCommandType);
            R.NextValueSeparator();
            R.ReadString(M.FCommand);
            R.SkipToEndOfObject();
            break;
        case TDBXStringCodes::Parameters: {
            const int32_t Count = std::max(ReadParameterCount(), 0);
            auto List = std::make_unique<TDBXParameterList>(FDbxContext, FParameterRow.get());
            List->SetCount(Count);
            if (R.Next() == TDBXTokens::ValueSeparator) {
                for (int32_t I = 0; I < Count; ++I) {
                    if (I > 0)
                        R.NextValueSeparator();
                    if (ReadParameterType(List->Parameter(I), &FLiteral))
                        FLiterals.emplace_back(I, std::move(FLiteral));
                }
            }
            M.SetExplicitParameters(std::move(List));
            R.SkipToEndOfObject();
            break;
        }
        case TDBXStringCodes::Data:
            ReadDataRow(M);
            R.SkipToEndOfObject();
            break;
        case TDBXStringCodes::Table:
            ReadTable(M);
            break;
        default:
            // An element this server does not know is passed over.
            R.SkipToEndOfObject();
            break;
        }
        T = R.Next();
    } while (T == TDBXTokens::ValueSeparator);
    EndRequest();
    if (!M.FHasParameters)
        StartRowOverAsNulls();
    // Literal values go in once the row is final, so that a new row does not
    // make them read again from it.
    for (auto& [Ordinal, Text] : FLiterals)
        M.FExplicitParameters->Parameter(Ordinal).Value().SetWideString(Text);
    M.FRow = FParameterRow.get();
    DisconnectIfNotConnected();
    M.SetConnectionHandler(this);
    FNextHandler->DbxExecute(M);
}

void TDBXJSonServerInputConnectionHandler::ReadNext() {
    TDBXJSonStreamReader& R = *FDbxStreamReader;
    TDBXNextMessage& M = FNextMessage;
    M.FActiveStreamerRowList = nullptr;
    R.ReadParams();
    M.FRowHandle = R.ReadInt();
    R.NextValueSeparator();
    M.FPosition = R.ReadLong();
    if (R.Next() == TDBXTokens::ValueSeparator)
        M.FCommandHandle = R.ReadInt();
    else
        M.FCommandHandle = M.FRowHandle;
    EndRequest();
    FNextHandler->DbxNext(M);
}

void TDBXJSonServerInputConnectionHandler::ReadNextResult() {
    TDBXJSonStreamReader& R = *FDbxStreamReader;
    FNextResultMessage.FNextResult = nullptr;
    R.ReadParams();
    FNextResultMessage.FCommandHandle = R.ReadInt();
    R.Next();
    EndRequest();
    FNextHandler->DbxNextResult(FNextResultMessage);
}

void TDBXJSonServerInputConnectionHandler::ReadMoreBlob() {
    TDBXJSonStreamReader& R = *FDbxStreamReader;
    TDBXMoreBlobMessage& M = FMoreBlobMessage;
    M.FStreamReader = nullptr;
    M.FEos = false;
    R.ReadParams();
    M.FCommandHandle = R.ReadInt();
    R.NextValueSeparator();
    M.FBlobHandle = R.ReadInt();
    R.NextValueSeparator();
    M.FRow = R.ReadLong();
    R.NextValueSeparator();
    M.FOrdinal = R.ReadInt();
    M.FRowHandle = -1;
    M.FOutParameter = false;
    if (R.Next() == TDBXTokens::ValueSeparator) {
        M.FOutParameter = R.ReadBoolean();
        if (R.Next() == TDBXTokens::ValueSeparator) {
            M.FRowHandle = R.ReadInt();
            R.Next();
        }
    }
    EndRequest();
    FNextHandler->DbxMoreBlob(M);
}

void TDBXJSonServerInputConnectionHandler::ReadCommandClose() {
    TDBXJSonStreamReader& R = *FDbxStreamReader;
    R.ReadParams();
    FCommandCloseMessage.FCommandHandle = R.ReadInt();
    R.Next();
    EndRequest();
    FNextHandler->DbxCommandClose(FCommandCloseMessage);
}

void TDBXJSonServerInputConnectionHandler::ReadReaderClose() {
    TDBXJSonStreamReader& R = *FDbxStreamReader;
    R.ReadParams();
    FReaderCloseMessage.FReaderHandle = R.ReadInt();
    if (R.Next() == TDBXTokens::ValueSeparator) {
        FReaderCloseMessage.FCommandHandle = R.ReadInt();
        R.Next();
    } else {
        FReaderCloseMessage.FCommandHandle = FReaderCloseMessage.FReaderHandle;
    }
    EndRequest();
    FNextHandler->DbxReaderClose(FReaderCloseMessage);
}

void TDBXJSonServerInputConnectionHandler::ReadTxBegin() {
    TDBXJSonStreamReader& R = *FDbxStreamReader;
    R.ReadParams();
    FTxBeginMessage.FIsolationLevel = R.ReadInt();
    FTxBeginMessage.FTransactionHandle = 0;
    R.Next();
    EndRequest();
    FNextHandler->DbxTxBegin(FTxBeginMessage);
}

void TDBXJSonServerInputConnectionHandler::ReadTxEnd() {
    TDBXJSonStreamReader& R = *FDbxStreamReader;
    R.ReadParams();
    FTxEndMessage.FCommit = R.ReadBoolean();
    R.NextValueSeparator();
    FTxEndMessage.FTransactionHandle = R.ReadInt();
    R.Next();
    EndRequest();
    FNextHandler->DbxTxEnd(FTxEndMessage);
}

void TDBXJSonServerInputConnectionHandler::ReadVendorProperty() {
    TDBXJSonStreamReader& R = *FDbxStreamReader;
    R.ReadParams();
    R.ReadString(FVendorPropertyMessage.FPropertyName);
    FVendorPropertyMessage.FPropertyValue.clear();
    R.Next();
    EndRequest();
    FNextHandler->DbxVendorProperty(FVendorPropertyMessage);
}

// ---------------------------------------------------------------------------
// Handler operations: handed to the next handler
// ---------------------------------------------------------------------------

void TDBXJSonServerInputConnectionHandler::DbxConnect(TDBXConnectMessage& Message) {
    FNextHandler->DbxConnect(Message);
}
void TDBXJSonServerInputConnectionHandler::DbxDisconnect(TDBXDisconnectMessage& Message) {
    FNextHandler->DbxDisconnect(Message);
}
void TDBXJSonServerInputConnectionHandler::DbxTxBegin(TDBXTxBeginMessage& Message) {
    FNextHandler->DbxTxBegin(Message);
}
void TDBXJSonServerInputConnectionHandler::DbxTxEnd(TDBXTxEndMessage& Message) {
    FNextHandler->DbxTxEnd(Message);
}
void TDBXJSonServerInputConnectionHandler::DbxVendorProperty(TDBXVendorPropertyMessage& Message) {
    FNextHandler->DbxVendorProperty(Message);
}
void TDBXJSonServerInputConnectionHandler::DbxOpen(TDBXOpenMessage&) {}
TDBXCommandHandler*
TDBXJSonServerInputConnectionHandler::AcquireCommandHandler(TDBXCommandMessage& Message) {
    return FNextHandler->AcquireCommandHandler(Message);
}
bool TDBXJSonServerInputConnectionHandler::DbxBeforeRequest() {
    return FNextHandler->DbxBeforeRequest();
}
std::u16string TDBXJSonServerInputConnectionHandler::GetProductName() {
    return FNextHandler->GetProductName();
}
void TDBXJSonServerInputConnectionHandler::DbxExecute(TDBXExecuteMessage& Message) {
    FNextHandler->DbxExecute(Message);
}
void TDBXJSonServerInputConnectionHandler::DbxPrepare(TDBXPrepareMessage& Message) {
    FNextHandler->DbxPrepare(Message);
}
void TDBXJSonServerInputConnectionHandler::DbxNextResult(TDBXNextResultMessage& Message) {
    FNextHandler->DbxNextResult(Message);
}
void TDBXJSonServerInputConnectionHandler::DbxNext(TDBXNextMessage& Message) {
    FNextHandler->DbxNext(Message);
}
void TDBXJSonServerInputConnectionHandler::DbxMoreBlob(TDBXMoreBlobMessage& Message) {
    FNextHandler->DbxMoreBlob(Message);
}
void TDBXJSonServerInputConnectionHandler::DbxCommandClose(TDBXCommandCloseMessage& Message) {
    FNextHandler->DbxCommandClose(Message);
}
void TDBXJSonServerInputConnectionHandler::DbxReaderClose(TDBXReaderCloseMessage& Message) {
    FNextHandler->DbxReaderClose(Message);
}
void TDBXJSonServerInputConnectionHandler::DbxErrorMessage(TDBXErrorMessage& Message) {
    FNextHandler->DbxErrorMessage(Message);
}

} // namespace kds
