#include "server/wire/DBXJSonServerProtocolHandler.h"

#include "data/TDBXRowBuffer.h"
#include "server/wire/DBXJSonServerOutputConnectionHandler.h"
#include "server/wire/DBXStream.h"
#include "server/wire/DSSession.h"
#include "server/wire/DbxChannel.h"

namespace kds {

TDBXJSonServerProtocolHandler::TDBXJSonServerProtocolHandler(
    std::unique_ptr<TDBXJSonServerInputConnectionHandler> ConnectionHandler)
    : FConnectionHandler(std::move(ConnectionHandler)) {}

TDBXJSonServerProtocolHandler::~TDBXJSonServerProtocolHandler() {
    FConnectionHandler.reset();
    if (FDSSession) {
        FDSSession->Close();
        FDSSession.reset();
    }
}

bool TDBXJSonServerProtocolHandler::HandleProtocol() {
    return FConnectionHandler->HandleProtocol();
}

bool TDBXJSonServerProtocolHandler::HandleNonBlockingProtocol() {
    return FConnectionHandler->HandleNonBlockingProtocol();
}

void TDBXJSonServerProtocolHandler::SetUp(void* Data) {
    if (!FDSSession)
        FDSSession = std::make_unique<TDSTCPSession>(Data);
    TDSSessionManager::SetAsThreadSession(FDSSession.get());
}

bool TDBXJSonServerProtocolHandler::ServeRequests(void* Data) {
    struct TClear {
        ~TClear() { TDSSessionManager::ClearThreadSession(); }
    } Clear;
    SetUp(Data);
    return HandleNonBlockingProtocol();
}

bool TDBXJSonServerProtocolHandler::HasMoreBytes() const {
    return FConnectionHandler->StreamReader().HasMoreBytes();
}

std::unique_ptr<TDBXJSonServerProtocolHandler>
CreateJSonServerProtocolHandler(TDBXContext* DbxContext, std::unique_ptr<TDbxChannel> Channel,
                                int32_t BufferSize, const TDBXConnectionHandlerFactory& Factory) {
    auto Reader = std::make_unique<TDBXJSonStreamReader>();
    auto Writer = std::make_unique<TDBXJSonStreamWriter>();
    Reader->SetReadBufferSize(BufferSize);
    Writer->SetWriteBufferSize(BufferSize);
    auto RowBuffer = std::make_unique<TDBXRowBuffer>(DbxContext);
    RowBuffer->SetClient(false);
    Reader->SetDbxContext(DbxContext);
    Reader->SetDbxChannel(Channel.get());
    Reader->Open();
    Writer->SetDbxChannel(Channel.get());
    Writer->Open();
    RowBuffer->SetMinBufSize(Writer->CalcRowBufferSize());

    auto Output = std::make_unique<TDBXJSonServerOutputConnectionHandler>(
        DbxContext, RowBuffer.get(), Writer.get(), Reader.get());
    std::unique_ptr<TDBXConnectionHandler> Connection =
        Factory(DbxContext, std::move(Channel), Output.get());
    TDBXConnectionHandler* ConnectionRaw = Connection.get();
    Connection->SetNextOwnedHandler(std::move(Output));
    auto Input = std::make_unique<TDBXJSonServerInputConnectionHandler>(
        DbxContext, std::move(RowBuffer), std::move(Writer), std::move(Reader), ConnectionRaw,
        true);
    Input->SetNextOwnedHandler(std::move(Connection));
    return std::make_unique<TDBXJSonServerProtocolHandler>(std::move(Input));
}

} // namespace kds
