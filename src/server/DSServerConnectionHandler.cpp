#include "server/DSServerConnectionHandler.h"

#include <utility>

#include "base/AsciiText.h"
#include "base/DBXContext.h"
#include "base/DBXError.h"
#include "base/TextConvert.h"
#include "data/TDBXParameter.h"
#include "data/TDBXRow.h"
#include "server/DSHandlers.h"
#include "server/DSServer.h"
#include "server/DSServerConnection.h"
#include "server/DSServerMethodCommandHandler.h"
#include "server/DSServerMethodProvider.h"
#include "server/wire/DBXActiveTableReaderList.h"
#include "server/wire/DSSession.h"
#include "server/wire/DbxChannel.h"
#include "server/wire/WireLimits.h"

namespace kds {

namespace {

bool IsCommandSeparator(char16_t Ch) {
    return Ch == u'\t' || Ch == u'\n' || Ch == u'\r' || Ch == u' ';
}

// The method name at the start of a text: leading separators and double
// quotes skipped, up to the next separator, double quote or "(".
std::u16string MethodNameFrom(std::u16string_view Text) {
    size_t Start = 0;
    while (Start < Text.size() && (IsCommandSeparator(Text[Start]) || Text[Start] == u'"'))
        ++Start;
    size_t End = Start;
    while (End < Text.size() && !IsCommandSeparator(Text[End]) && Text[End] != u'"' &&
           Text[End] != u'(')
        ++End;
    return std::u16string(Text.substr(Start, End - Start));
}

constexpr std::u16string_view GetDatabaseCommand = u"GetDatabase";
constexpr std::u16string_view GetDatabaseMethod = u"DSMetadata.GetDatabase";

} // namespace

TDSServerConnectionHandler::TDSServerConnectionHandler(TDBXContext* DbxContext,
                                                       std::unique_ptr<TDbxChannel> Channel,
                                                       TDBXConnectionHandler* NextHandler,
                                                       TDSServer* Server,
                                                       TDSServerTransport* Transport)
    : TDBXConnectionHandler(DbxContext), FNextHandler(NextHandler), FChannel(std::move(Channel)),
      FServer(Server), FTransport(Transport),
      FCommandHandlers(static_cast<size_t>(InitialCommandSlots)) {
    FDatabaseConnectionHandler =
        std::make_unique<TDSDefaultDatabaseConnectionHandler>(DbxContext, NextHandler);
}

TDSServerConnectionHandler::~TDSServerConnectionHandler() {
    if (FTransport != nullptr) {
        try {
            FTransport->RemoveConnection(*this);
        } catch (...) {
            // The connection goes whatever the transport's table says.
        }
    }
    FCommandHandlers.clear();
    {
        std::unique_ptr<TDSServerConnection> ServerCon;
        {
            std::lock_guard<std::mutex> Guard(FLock);
            ServerCon = std::move(FServerCon);
        }
        try {
            ServerCon.reset();
        } catch (...) {
        }
    }
    FDatabaseConnectionHandler.reset();
    FInstanceProvider.reset();
    FChannel.reset();
}

std::shared_ptr<TDSServerMethodProvider> TDSServerConnectionHandler::MethodProvider() const {
    return FServer != nullptr ? FServer->MethodProvider() : nullptr;
}

bool TDSServerConnectionHandler::ProviderKnows(const std::u16string& Name) const {
    const auto Provider = MethodProvider();
    return Provider != nullptr && Provider->HasServerMethod(Name);
}

// --- Command table ------------------------------------------------------------

int32_t
TDSServerConnectionHandler::RegisterCommandHandler(std::unique_ptr<TDBXCommandHandler> Handler) {
    const auto Size = [this] { return static_cast<int32_t>(FCommandHandlers.size()); };
    while (FLastCommandHandler < Size() &&
           FCommandHandlers[static_cast<size_t>(FLastCommandHandler)] != nullptr)
        ++FLastCommandHandler;
    if (FLastCommandHandler >= Size()) {
        if (FOpenCommands >= WireLimits::MaxOpenCommands)
            RaiseDBXError(FDbxContext, TDBXErrorCodes::StreamingFailed, "Too many open commands");
        FCommandHandlers.resize(static_cast<size_t>(Size() + CommandSlotGrowth));
    }
    const int32_t Handle = FLastCommandHandler;
    Handler->SetCommandHandle(Handle);
    FCommandHandlers[static_cast<size_t>(Handle)] = std::move(Handler);
    ++FOpenCommands;
    return Handle;
}

void TDSServerConnectionHandler::ReleaseCommandHandler(int32_t Handle) {
    if (Handle < 0 || Handle >= static_cast<int32_t>(FCommandHandlers.size()) ||
        FCommandHandlers[static_cast<size_t>(Handle)] == nullptr)
        return;
    if (Handle < FLastCommandHandler)
        FLastCommandHandler = Handle;
    if (FAnonymousCommand == Handle)
        FAnonymousCommand = -1;
    std::unique_ptr<TDBXCommandHandler> Released =
        std::move(FCommandHandlers[static_cast<size_t>(Handle)]);
    --FOpenCommands;
    Released.reset();
}

TDBXCommandHandler& TDSServerConnectionHandler::LookUpCommandHandler(int32_t Handle) const {
    if (Handle < 0)
        RaiseDBXError(FDbxContext, TDBXErrorCodes::InvalidHandle,
                      "Command closed or executed again");
    if (Handle >= static_cast<int32_t>(FCommandHandlers.size()) ||
        FCommandHandlers[static_cast<size_t>(Handle)] == nullptr)
        RaiseDBXError(FDbxContext, TDBXErrorCodes::InvalidArgument,
                      "Invalid command handle:  " + std::to_string(Handle));
    return *FCommandHandlers[static_cast<size_t>(Handle)];
}

int32_t TDSServerConnectionHandler::OpenCommandCount() const {
    return FOpenCommands;
}

void TDSServerConnectionHandler::ReleaseAnonymousCommand() {
    const int32_t Handle = FAnonymousCommand;
    if (Handle < 0)
        return;
    FAnonymousCommand = -1;
    if (Handle >= static_cast<int32_t>(FCommandHandlers.size()))
        return;
    auto* Command = dynamic_cast<TDSServerMethodCommandHandler*>(
        FCommandHandlers[static_cast<size_t>(Handle)].get());
    // Still streaming: its table objects showed the handle, so the client
    // closes it.
    if (Command != nullptr && !Command->AllReadersAtEnd())
        return;
    ReleaseCommandHandler(Handle);
}

// --- Resolving command texts ----------------------------------------------------

bool TDSServerConnectionHandler::RewriteMetaData(TDBXCommandMessage& Message) {
    if (Message.FCommandType != TDSCommandTypes::MetaData)
        return false;
    FScanner.Init(Message.FCommand);
    const TDBXSqlToken First = FScanner.NextToken();
    if (First.Kind != TDBXSqlTokenKind::Identifier)
        return false;
    // A dotted name: identifiers joined by points; the token that ends it is
    // consumed.
    const auto ReadDottedName = [this] {
        std::u16string Name;
        for (;;) {
            const TDBXSqlToken Token = FScanner.NextToken();
            if (Token.Kind != TDBXSqlTokenKind::Identifier)
                break;
            Name += Token.Text;
            if (!FScanner.NextToken().IsSymbol(u'.'))
                break;
            Name += u'.';
        }
        return Name;
    };
    std::u16string Command;
    if (SameTextAscii(std::u16string_view(First.Text), std::u16string_view(u"GetProcedures"))) {
        const std::u16string Pattern = ReadDottedName();
        const std::u16string Type = ReadDottedName();
        Command = u"DSMetadata.GetProcedures(" + TDBXSqlScanner::QuoteIdentifier(Pattern) + u", " +
                  TDBXSqlScanner::QuoteIdentifier(Type) + u")";
    } else if (SameTextAscii(std::u16string_view(First.Text),
                             std::u16string_view(u"GetProcedureParameters"))) {
        const std::u16string Pattern = ReadDottedName();
        Command =
            u"DSMetadata.GetProcedureParameters(" + TDBXSqlScanner::QuoteIdentifier(Pattern) + u")";
    } else {
        return false;
    }
    Message.FCommandType = std::u16string(TDSCommandTypes::ServerMethod);
    Message.FCommand = std::move(Command);
    return true;
}

TDBXCommandHandler&
TDSServerConnectionHandler::AcquireNewCommandHandler(TDBXCommandMessage& Message) {
    // A rewritten text is resolved once more; it never rewrites again.
    for (int32_t Pass = 0;; ++Pass) {
        const std::u16string& Text = Message.FCommand;
        size_t Start = 0;
        while (Start < Text.size() && IsCommandSeparator(Text[Start]))
            ++Start;
        const bool CallPrefix = Text.size() - Start >= 6 &&
                                SameTextAscii(std::u16string_view(Text).substr(Start, 4),
                                              std::u16string_view(u"call")) &&
                                IsCommandSeparator(Text[Start + 4]);
        const bool ServerMethodType =
            SameTextAscii(std::u16string_view(Message.FCommandType), TDSCommandTypes::ServerMethod);
        if (!CallPrefix) {
            if (SameTextAscii(std::u16string_view(Message.FCommandType),
                              TDSCommandTypes::StoredProcedure) &&
                ProviderKnows(MethodNameFrom(Text)))
                Message.FCommandType = std::u16string(TDSCommandTypes::ServerMethod);
        } else {
            std::u16string Rest = Text.substr(Start + 5);
            if (ServerMethodType) {
                Message.FCommand = std::move(Rest);
            } else if (ProviderKnows(MethodNameFrom(Rest))) {
                Message.FCommandType = std::u16string(TDSCommandTypes::ServerMethod);
                Message.FCommand = std::move(Rest);
            }
        }
        if (SameTextAscii(std::u16string_view(Message.FCommandType),
                          TDSCommandTypes::ServerMethod)) {
            TDBXCommandHandler* Writer = FNextHandler->AcquireCommandHandler(Message);
            const int32_t Handle = RegisterCommandHandler(
                std::make_unique<TDSServerMethodCommandHandler>(FDbxContext, *this, Writer));
            Message.FCommandHandle = Handle;
            return *FCommandHandlers[static_cast<size_t>(Handle)];
        }
        if (Pass == 0) {
            if (!FHasServerConnection && Message.FCommandType == TDSCommandTypes::MetaData &&
                SameTextAscii(std::u16string_view(Message.FCommand), GetDatabaseCommand)) {
                Message.FCommandType = std::u16string(TDSCommandTypes::ServerMethod);
                Message.FCommand = std::u16string(GetDatabaseMethod);
                continue;
            }
            if (RewriteMetaData(Message))
                continue;
        }
        if (FHasServerConnection) {
            // Forwarded to the attached database, which refuses (no driver).
            FDatabaseConnectionHandler->AcquireCommandHandler(Message);
        }
        RaiseDBXError(FDbxContext, TDBXErrorCodes::StreamingFailed,
                      Utf16ToUtf8(Message.FCommandType) + " is an unrecognized command type");
    }
}

template <typename TMessage, typename TOperation>
void TDSServerConnectionHandler::DispatchCommand(TMessage& Message, bool MakesAnonymous,
                                                 TOperation Operation) {
    if (Message.FCommandHandle >= 0) {
        Operation(LookUpCommandHandler(Message.FCommandHandle));
        return;
    }
    ReleaseAnonymousCommand();
    TDBXCommandHandler& Handler = AcquireNewCommandHandler(Message);
    const int32_t Handle = Message.FCommandHandle;
    try {
        Operation(Handler);
    } catch (...) {
        // The error reply carries no handle: nobody could close it.
        ReleaseCommandHandler(Handle);
        Message.FCommandHandle = -1;
        throw;
    }
    if (MakesAnonymous)
        FAnonymousCommand = Handle;
}

// --- Connection-level operations --------------------------------------------------

void TDSServerConnectionHandler::DbxOpen(TDBXOpenMessage& Message) {
    FConnectionHandle = Message.FConnectionHandle;
    FNextHandler->DbxOpen(Message);
}

void TDSServerConnectionHandler::DbxConnect(TDBXConnectMessage& Message) {
    try {
        FConProperties =
            Message.FConnectProperties != nullptr ? *Message.FConnectProperties : TDBXProperties();
        if (TDSSession* Session = TDSSessionManager::GetThreadSession()) {
            if (!Session->Authenticate(&FConProperties))
                RaiseDBXError(FDbxContext, TDBXErrorCodes::None,
                              "Authentication manager rejected user credentials. This may due to "
                              "invalid combination of DS user name and password");
        }
        if (FServer != nullptr && FServer->OnConnect) {
            TDSConnectEventObject Event;
            Event.DbxContext = FDbxContext;
            Event.Server = FServer;
            Event.Transport = FTransport;
            Event.ServerConnectionHandler = this;
            Event.ConnectProperties = &FConProperties;
            Event.ChannelInfo = FChannel != nullptr ? FChannel->GetChannelInfo() : nullptr;
            FServer->OnConnect(Event);
        }
        const std::u16string ServerConnection = FConProperties.GetValue(u"ServerConnection");
        if (ServerConnection.empty()) {
            SetDbxConnection(nullptr);
        } else {
            if (HasOpenCommands())
                RaiseDBXError(FDbxContext, TDBXErrorCodes::StreamingFailed,
                              "All open command objects must be close before changing the "
                              "server connection");
            ConnectServerConnection(ServerConnection);
        }
        Message.FProductName = GetProductName();
        Message.FConnectionHandle = FConnectionHandle;
    } catch (...) {
        Message.FSuccessfulConnect = false;
        DbxError(std::current_exception());
        return;
    }
    FNextHandler->DbxConnect(Message);
}

void TDSServerConnectionHandler::ConnectServerConnection(const std::u16string& CommandText) {
    TDSServerConnection& Connection = GetServerConnection();
    std::unique_ptr<TDSServerCommand> Command = Connection.CreateCommand();
    Command->SetCommandType(std::u16string(TDSCommandTypes::ServerMethod));
    Command->SetText(CommandText);
    Command->ExecuteUpdate();
    TDBXConnection* DbxConnection = nullptr;
    TDBXParameterList& Parameters = Command->GetParameters();
    if (Parameters.Count() > 0) {
        TDBXParameter& Last = Parameters.Parameter(Parameters.Count() - 1);
        if (Last.DataType() == TDBXDataTypes::DBXConnectionType)
            DbxConnection = Last.Value().GetDBXConnection();
    }
    Command->Close();
    SetDbxConnection(DbxConnection);
}

void TDSServerConnectionHandler::DbxDisconnect(TDBXDisconnectMessage& Message) {
    if (FServer != nullptr && FServer->OnDisconnect) {
        TDSConnectEventObject Event;
        Event.DbxContext = FDbxContext;
        Event.Server = FServer;
        Event.Transport = FTransport;
        Event.ServerConnectionHandler = this;
        Event.ConnectProperties = &FConProperties;
        FServer->OnDisconnect(Event);
    }
    FDatabaseConnectionHandler->DbxDisconnect(Message);
    if (FTransport != nullptr)
        FTransport->RemoveConnection(*this);
    FNextHandler->DbxDisconnect(Message);
}

void TDSServerConnectionHandler::DbxTxBegin(TDBXTxBeginMessage& Message) {
    FDatabaseConnectionHandler->DbxTxBegin(Message);
    // Nothing opens a transaction here: the handle stays 0.
    Message.FTransactionHandle = 0;
    FNextHandler->DbxTxBegin(Message);
}

void TDSServerConnectionHandler::DbxTxEnd(TDBXTxEndMessage& Message) {
    FDatabaseConnectionHandler->DbxTxEnd(Message);
    FNextHandler->DbxTxEnd(Message);
}

void TDSServerConnectionHandler::DbxVendorProperty(TDBXVendorPropertyMessage& Message) {
    FDatabaseConnectionHandler->DbxVendorProperty(Message);
    FNextHandler->DbxVendorProperty(Message);
}

TDBXCommandHandler* TDSServerConnectionHandler::AcquireCommandHandler(TDBXCommandMessage& Message) {
    return FNextHandler->AcquireCommandHandler(Message);
}

std::u16string TDSServerConnectionHandler::GetProductName() {
    return FDatabaseConnectionHandler->GetProductName();
}

std::unique_ptr<TDBXRow> TDSServerConnectionHandler::CreateDbxRow() {
    return FNextHandler->CreateDbxRow();
}

void TDSServerConnectionHandler::DbxPrepare(TDBXPrepareMessage& Message) {
    DispatchCommand(Message, false,
                    [&](TDBXCommandHandler& Handler) { Handler.DbxPrepare(Message); });
}

void TDSServerConnectionHandler::DbxExecute(TDBXExecuteMessage& Message) {
    FReplyLost = nullptr;
    try {
        DispatchCommand(Message, Message.FCommandHandle < 0,
                        [&](TDBXCommandHandler& Handler) { Handler.DbxExecute(Message); });
    } catch (...) {
        if (const auto Lost = std::exchange(FReplyLost, nullptr))
            Lost();
        throw;
    }
    FReplyLost = nullptr;
    TDBXParameterList* Parameters = Message.Parameters();
    if (Parameters != nullptr && Parameters->Count() > 0 && FSharedConHandler == nullptr) {
        TDBXParameter& Last = Parameters->Parameter(Parameters->Count() - 1);
        if (Last.DataType() == TDBXDataTypes::DBXConnectionType)
            SetDbxConnection(Last.Value().GetDBXConnection());
    }
}

void TDSServerConnectionHandler::DbxNext(TDBXNextMessage& Message) {
    LookUpCommandHandler(Message.FCommandHandle).DbxNext(Message);
}

void TDSServerConnectionHandler::DbxNextResult(TDBXNextResultMessage& Message) {
    LookUpCommandHandler(Message.FCommandHandle).DbxNextResult(Message);
}

void TDSServerConnectionHandler::DbxMoreBlob(TDBXMoreBlobMessage& Message) {
    LookUpCommandHandler(Message.FCommandHandle).DbxMoreBlob(Message);
}

void TDSServerConnectionHandler::DbxReaderClose(TDBXReaderCloseMessage& Message) {
    LookUpCommandHandler(Message.FCommandHandle).DbxReaderClose(Message);
}

void TDSServerConnectionHandler::DbxCommandClose(TDBXCommandCloseMessage& Message) {
    LookUpCommandHandler(Message.FCommandHandle).DbxCommandClose(Message);
    ReleaseCommandHandler(Message.FCommandHandle);
}

void TDSServerConnectionHandler::NotifyError(TDBXErrorMessage& Message) {
    if (FServer == nullptr || !FServer->OnError)
        return;
    TDSErrorEventObject Event;
    Event.DbxContext = FDbxContext;
    Event.Server = FServer;
    Event.Transport = FTransport;
    Event.ServerConnectionHandler = this;
    Event.Error = Message.FEx;
    try {
        FServer->OnError(Event);
    } catch (...) {
        // The error hook cannot change the reply.
    }
}

void TDSServerConnectionHandler::DbxErrorMessage(TDBXErrorMessage& Message) {
    NotifyError(Message);
    FNextHandler->DbxErrorMessage(Message);
}

void TDSServerConnectionHandler::DbxError(std::exception_ptr Ex) {
    FErrorMessage.FillFromException(Ex);
    DbxErrorMessage(FErrorMessage);
}

bool TDSServerConnectionHandler::ClearResources() {
    bool All = true;
    for (auto& Handler : FCommandHandlers)
        if (Handler != nullptr && !Handler->ClearResources())
            All = false;
    return All;
}

// --- Instances, in-process connection, database connection ----------------------

TObject* TDSServerConnectionHandler::GetInstance(const TDSClassInfo& ClassInfo) {
    TDSServerConnectionHandler* Shared = nullptr;
    {
        std::lock_guard<std::mutex> Guard(FLock);
        Shared = FSharedConHandler;
    }
    if (Shared != nullptr)
        return Shared->GetInstance(ClassInfo);
    if (!FInstanceProvider) {
        TDSEventObject Event;
        Event.DbxContext = FDbxContext;
        Event.Server = FServer;
        Event.Transport = FTransport;
        Event.ServerConnectionHandler = this;
        FInstanceProvider = std::make_unique<TDSHashtableInstanceProvider>(Event);
    }
    return FInstanceProvider->GetInstance(this, ClassInfo);
}

TDSServerConnection& TDSServerConnectionHandler::GetServerConnection() {
    std::lock_guard<std::mutex> Guard(FLock);
    if (!FServerCon) {
        TDBXProperties Properties;
        if (FServer != nullptr)
            Properties.SetValue(u"DriverName", FServer->Name());
        auto Connection = std::make_unique<TDSServerConnection>(Properties);
        Connection->SetSharedConHandler(this);
        Connection->Open();
        FServerCon = std::move(Connection);
    }
    return *FServerCon;
}

void TDSServerConnectionHandler::SetSharedConHandler(TDSServerConnectionHandler* Handler) {
    std::lock_guard<std::mutex> Guard(FLock);
    FSharedConHandler = Handler;
}

void TDSServerConnectionHandler::SetDbxConnection(TDBXConnection* Connection) {
    FDatabaseConnectionHandler.reset();
    if (Connection != nullptr) {
        FDatabaseConnectionHandler =
            std::make_unique<TDSDatabasePassThroughHandler>(FDbxContext, FNextHandler, Connection);
        FHasServerConnection = true;
    } else {
        FDatabaseConnectionHandler =
            std::make_unique<TDSDefaultDatabaseConnectionHandler>(FDbxContext, FNextHandler);
        FHasServerConnection = false;
    }
    FDbxConnection = Connection;
}

} // namespace kds
