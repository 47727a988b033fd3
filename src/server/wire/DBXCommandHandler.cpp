#include "server/wire/DBXCommandHandler.h"

#include "base/DBXContext.h"
#include "data/TDBXRow.h"
#include "data/TDBXValueType.h"
#include "server/wire/DBXActiveTableReaderList.h"

namespace kds {

TDBXCommandHandler::TDBXCommandHandler(TDBXContext* DbxContext) : FDbxContext(DbxContext) {}

TDBXCommandHandler::~TDBXCommandHandler() {
    FNextOwnedHandler.reset();
    FActiveStreamerRowList.reset();
}

std::unique_ptr<TDBXRow> TDBXCommandHandler::CreateDbxRow() {
    RaiseDBXError(FDbxContext, 30, std::string());
}

TDBXActiveTableReaderList& TDBXCommandHandler::GetActiveStreamerRowList() {
    if (!FActiveStreamerRowList)
        FActiveStreamerRowList = std::make_unique<TDBXActiveTableReaderList>();
    return *FActiveStreamerRowList;
}

void TDBXCommandHandler::SetNextOwnedHandler(std::unique_ptr<TDBXCommandHandler> Handler) {
    FNextOwnedHandler = std::move(Handler);
}

int32_t TDBXConnectionHandler::GetCommandHandle() const {
    RaiseDBXError(FDbxContext, 30, std::string());
}

void TDBXConnectionHandler::SetCommandHandle(int32_t) {
    RaiseDBXError(FDbxContext, 30, std::string());
}

} // namespace kds
