#include "server/DSServerConnection.h"

#include "base/DBXError.h"
#include "base/TextConvert.h"
#include "data/DBXJSON.h"
#include "data/TDBXParameter.h"
#include "data/TDBXReader.h"
#include "data/TStream.h"
#include "server/DSHandlers.h"
#include "server/DSServer.h"
#include "server/DSServerConnectionHandler.h"
#include "server/wire/DSSession.h"

namespace kds {

namespace DT = TDBXDataTypes;
namespace Dir = TDBXParameterDirections;

TDSLocalChannel::TDSLocalChannel(std::string Name) {
    SetChannelInfo(std::make_unique<TDBXSocketChannelInfo>(0, std::move(Name)));
}

int32_t TDSLocalChannel::Read(uint8_t*, int32_t, int32_t) {
    throw TDBXError(TDBXErrorCodes::NotImplemented,
                    "An in-process connection has no bytes to read");
}

int32_t TDSLocalChannel::Write(const uint8_t*, int32_t, int32_t) {
    throw TDBXError(TDBXErrorCodes::NotImplemented, "An in-process connection writes no bytes");
}

// --- Connection -------------------------------------------------------------------

TDSServerConnection::TDSServerConnection(TDBXProperties Properties)
    : FProperties(std::move(Properties)) {}

TDSServerConnection::~TDSServerConnection() {
    try {
        Close();
    } catch (...) {
        // Closing an in-process connection cannot fail in a way anyone sees.
    }
}

void TDSServerConnection::Open() {
    std::lock_guard<std::mutex> Guard(FLock);
    EnsureOpen();
}

bool TDSServerConnection::IsOpen() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FConHandler != nullptr;
}

void TDSServerConnection::EnsureOpen() {
    if (FConHandler)
        return;
    const std::u16string& DriverName = FProperties.GetValue(u"DriverName");
    TDSServer* Server = TDSServer::FindServer(DriverName);
    if (Server == nullptr)
        throw TDBXError(TDBXErrorCodes::None, "Driver not found: " + Utf16ToUtf8(DriverName));
    TDBXContext* Context = Server->DbxContext();
    std::unique_ptr<TDbxChannel> Channel;
    if (TDSSession* Session = TDSSessionManager::GetThreadSession()) {
        try {
            Channel = std::make_unique<TDSLocalChannel>(Utf16ToUtf8(Session->GetData(u"RemoteIP")));
        } catch (...) {
            Channel.reset();
        }
    }
    auto Void = std::make_unique<TDSVoidConnectionHandler>(Context);
    TDBXConnectionHandler* Next = Void.get();
    auto Handler = std::make_unique<TDSServerConnectionHandler>(Context, std::move(Channel), Next,
                                                                Server, nullptr);
    Handler->SetNextOwnedHandler(std::move(Void));
    Handler->SetSharedConHandler(FSharedConHandler);
    FConnectMessage.FConnectProperties = &FProperties;
    FConnectMessage.FSuccessfulConnect = true;
    Handler->DbxConnect(FConnectMessage);
    FConHandler = std::move(Handler);
}

void TDSServerConnection::Close() {
    std::lock_guard<std::mutex> Guard(FLock);
    if (!FConHandler)
        return;
    std::unique_ptr<TDSServerConnectionHandler> Handler = std::move(FConHandler);
    Handler->DbxDisconnect(FDisconnectMessage);
}

std::unique_ptr<TDSServerCommand> TDSServerConnection::CreateCommand() {
    Open();
    return std::make_unique<TDSServerCommand>(*this);
}

void TDSServerConnection::SendTxEnd(bool Commit) {
    Open();
    FTxEndMessage.FCommit = Commit;
    FConHandler->DbxTxEnd(FTxEndMessage);
}

void TDSServerConnection::Commit() {
    SendTxEnd(true);
}

void TDSServerConnection::Rollback() {
    SendTxEnd(false);
}

// --- Command ----------------------------------------------------------------------

TDSServerCommand::TDSServerCommand(TDSServerConnection& Connection) : FConnection(&Connection) {}

TDSServerCommand::~TDSServerCommand() {
    try {
        Close();
    } catch (...) {
    }
}

void TDSServerCommand::Prepare() {
    FConnection->Open();
    if (FCommandHandle >= 0)
        Close();
    TDSServerConnectionHandler& Handler = *FConnection->FConHandler;
    TDBXPrepareMessage& Message = FConnection->FPrepareMessage;
    Message.Reset();
    Message.FServerSideCommand = true;
    Message.FCommandType = FCommandType;
    Message.FCommand = FText;
    Handler.DbxPrepare(Message);
    FCommandHandle = Message.FCommandHandle;
    FServerParameters = Message.FParameters;
    TDBXContext* Context = Handler.DbxContext();
    FParameters.reset();
    FRow = std::make_unique<TDSNullRow>(Context);
    FParameters = std::make_unique<TDBXParameterList>(Context, FRow.get());
    if (FServerParameters != nullptr)
        for (int32_t I = 0; I < FServerParameters->Count(); ++I)
            FParameters->AddParameter(FServerParameters->Parameter(I).Clone());
    FPrepared = true;
}

TDBXParameterList& TDSServerCommand::GetParameters() {
    if (!FPrepared)
        Prepare();
    return *FParameters;
}

void TDSServerCommand::Execute() {
    if (FPrepared && !FConnection->IsOpen()) {
        // The connection was closed under the command: prepare afresh.
        FPrepared = false;
        FCommandHandle = -1;
        FServerParameters = nullptr;
    }
    if (!FPrepared)
        Prepare();
    TDSServerConnectionHandler& Handler = *FConnection->FConHandler;
    const int32_t Count = FServerParameters != nullptr ? FServerParameters->Count() : 0;
    for (int32_t I = 0; I < Count; ++I) {
        TDBXParameter& Server = FServerParameters->Parameter(I);
        const int32_t Direction = Server.ParameterDirection();
        if (Direction == Dir::InParameter || Direction == Dir::InOutParameter)
            Server.Value().SetValue(FParameters->Parameter(I).Value());
    }
    TDBXExecuteMessage& Message = FConnection->FExecuteMessage;
    Message.Reset();
    Message.FCommandHandle = FCommandHandle;
    Message.FServerSideCommand = true;
    Message.FPrepared = true;
    try {
        Handler.DbxExecute(Message);
    } catch (...) {
        for (int32_t I = 0; I < Count; ++I)
            FServerParameters->Parameter(I).Value().SetNull();
        throw;
    }
    for (int32_t I = 0; I < Count; ++I) {
        TDBXParameter& Server = FServerParameters->Parameter(I);
        TDBXWritableValue& From = Server.Value();
        TDBXWritableValue& To = FParameters->Parameter(I).Value();
        if (Server.ParameterDirection() != Dir::InParameter) {
            // Objects change hands: the caller's value owns them now.
            switch (Server.DataType()) {
            case DT::TableType:
                To.SetDBXReader(From.GetDBXReader(false), true);
                break;
            case DT::JsonValueType:
                To.SetJSONValue(From.GetJSONValue(false), true);
                break;
            case DT::BinaryBlobType:
            case DT::VariantType:
                To.SetStream(From.GetStream(false), true);
                break;
            default:
                To.SetValue(From);
                break;
            }
        }
        From.SetNull();
    }
}

void TDSServerCommand::ExecuteUpdate() {
    Execute();
}

TDBXReader* TDSServerCommand::ExecuteQuery() {
    Execute();
    if (FParameters->Count() == 0)
        return nullptr;
    TDBXParameter& Last = FParameters->Parameter(FParameters->Count() - 1);
    if (Last.DataType() != DT::TableType)
        return nullptr;
    return Last.Value().GetDBXReader(false);
}

TDBXReader* TDSServerCommand::GetNextReader() {
    if (FCommandHandle < 0 || !FConnection->FConHandler)
        return nullptr;
    TDBXNextResultMessage& Message = FConnection->FNextResultMessage;
    Message.FCommandHandle = FCommandHandle;
    FConnection->FConHandler->DbxNextResult(Message);
    return nullptr;
}

void TDSServerCommand::Close() {
    if (FCommandHandle < 0 || !FConnection->FConHandler) {
        FCommandHandle = -1;
        return;
    }
    TDBXCommandCloseMessage& Message = FConnection->FCommandCloseMessage;
    Message.FCommandHandle = FCommandHandle;
    FCommandHandle = -1;
    FPrepared = false;
    FServerParameters = nullptr;
    FConnection->FConHandler->DbxCommandClose(Message);
}

} // namespace kds
