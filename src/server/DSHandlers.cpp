#include "server/DSHandlers.h"

#include "base/DBXContext.h"
#include "base/DBXError.h"
#include "data/TDBXValueType.h"
#include "server/wire/DBXMessages.h"

namespace kds {

void TDSDefaultDatabaseConnectionHandler::DbxVendorProperty(TDBXVendorPropertyMessage& Message) {
    Message.FPropertyValue.clear();
}

TDBXCommandHandler*
TDSDefaultDatabaseConnectionHandler::AcquireCommandHandler(TDBXCommandMessage&) {
    if (!FCommandHandler)
        FCommandHandler = std::make_unique<TDSDefaultCommandHandler>(FDbxContext);
    return FCommandHandler.get();
}

void TDSDefaultDatabaseConnectionHandler::DbxErrorMessage(TDBXErrorMessage& Message) {
    if (FNextHandler != nullptr)
        FNextHandler->DbxErrorMessage(Message);
}

void TDSDatabasePassThroughHandler::NotSupported(const char* Operation) const {
    RaiseDBXError(FDbxContext, TDBXErrorCodes::StreamingFailed,
                  std::string(Operation) + " not supported yet");
}

void TDSDatabasePassThroughHandler::DbxConnect(TDBXConnectMessage&) {
    NotSupported("dbxConnect");
}
TDBXCommandHandler* TDSDatabasePassThroughHandler::AcquireCommandHandler(TDBXCommandMessage&) {
    NotSupported("dbxPrepare");
}
void TDSDatabasePassThroughHandler::DbxExecute(TDBXExecuteMessage&) {
    NotSupported("dbxExecute");
}
void TDSDatabasePassThroughHandler::DbxPrepare(TDBXPrepareMessage&) {
    NotSupported("dbxPrepare");
}
void TDSDatabasePassThroughHandler::DbxNext(TDBXNextMessage&) {
    NotSupported("dbxNext");
}
void TDSDatabasePassThroughHandler::DbxNextResult(TDBXNextResultMessage&) {
    NotSupported("dbxNextResult");
}
void TDSDatabasePassThroughHandler::DbxMoreBlob(TDBXMoreBlobMessage&) {
    NotSupported("dbxMoreBlob");
}
void TDSDatabasePassThroughHandler::DbxCommandClose(TDBXCommandCloseMessage&) {
    NotSupported("dbxCommandClose");
}
void TDSDatabasePassThroughHandler::DbxReaderClose(TDBXReaderCloseMessage&) {
    NotSupported("dbxReaderClose");
}

void TDSVoidConnectionHandler::DbxErrorMessage(TDBXErrorMessage& Message) {
    RaiseDBXError(FDbxContext, TDBXErrorCodes::StreamingFailed, Message.FErrorMessage);
}

std::unique_ptr<TDBXRow> TDSVoidConnectionHandler::CreateDbxRow() {
    return std::make_unique<TDSNullRow>(FDbxContext);
}

} // namespace kds
