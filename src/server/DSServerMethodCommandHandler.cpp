#include "server/DSServerMethodCommandHandler.h"

#include "base/DBXContext.h"
#include "base/DBXError.h"
#include "base/TextConvert.h"
#include "data/TDBXParameter.h"
#include "data/TDBXReader.h"
#include "data/TDBXRow.h"
#include "data/TDBXValue.h"
#include "server/DSServerConnectionHandler.h"
#include "server/DSServerMethod.h"
#include "server/DSServerMethodProvider.h"
#include "server/wire/DBXActiveTableReaderList.h"
#include "server/wire/DBXMessages.h"
#include "server/wire/DSSession.h"

namespace kds {

TDSServerMethodCommandHandler::TDSServerMethodCommandHandler(TDBXContext* DbxContext,
                                                             TDSServerConnectionHandler& ServerCon,
                                                             TDBXCommandHandler* NextHandler)
    : TDBXCommandHandler(DbxContext), FServerCon(&ServerCon), FNextHandler(NextHandler) {}

TDSServerMethodCommandHandler::~TDSServerMethodCommandHandler() {
    // Readers still streaming may point into the call's values: they go
    // first.
    if (FActiveStreamerRowList)
        FActiveStreamerRowList->CloseAllReaders();
    FServerMethod.reset();
}

bool TDSServerMethodCommandHandler::AllReadersAtEnd() const {
    return !FActiveStreamerRowList || FActiveStreamerRowList->AllAtEnd();
}

void TDSServerMethodCommandHandler::Prepare(TDBXCommandMessage& Message) {
    // The previous call goes first, and with it a per-invocation instance.
    if (FActiveStreamerRowList)
        FActiveStreamerRowList->CloseAllReaders();
    FServerMethod.reset();
    std::shared_ptr<TDSServerMethodProvider> Provider = FServerCon->MethodProvider();
    if (!Provider)
        RaiseDBXError(FDbxContext, 105,
                      Utf16ToUtf8(Message.FCommand) +
                          " method not found in the server method list");
    FServerMethod = Provider->PrepareMethod(*FServerCon, Message, FNextHandler->CreateDbxRow());
    FHasExecuted = false;
    FHasInvocationLifeCycle = FServerMethod->HasInvocationLifeCycle();
    FServerMethod->SetServerSideCommand(Message.FServerSideCommand);
    Message.FParameters = &FServerMethod->Parameters();
}

void TDSServerMethodCommandHandler::DbxPrepare(TDBXPrepareMessage& Message) {
    Prepare(Message);
    FNextHandler->DbxPrepare(Message);
}

void TDSServerMethodCommandHandler::Authorize() {
    TDSSession* Session = TDSSessionManager::GetThreadSession();
    if (Session == nullptr)
        return;
    const std::u16string& Alias = FServerMethod->MethodInfo().FMethodAlias;
    if (!Session->RequiresAuthorization(Alias))
        return;
    std::vector<std::u16string> AuthorizedRoles;
    std::vector<std::u16string> DeniedRoles;
    Session->GetAuthRoles(Alias, AuthorizedRoles, DeniedRoles);
    if (!Session->Authorize(Alias))
        RaiseDBXError(FDbxContext, 113,
                      Utf16ToUtf8(Session->UserName()) +
                          " is not authorized to perform the requested action.");
}

void TDSServerMethodCommandHandler::DbxExecute(TDBXExecuteMessage& Message) {
    if (FActiveStreamerRowList)
        FActiveStreamerRowList->CloseAllReaders();
    if (FServerMethod) {
        if (FHasInvocationLifeCycle && FHasExecuted)
            FServerMethod->RenewInvocationInstance();
        if (TDBXRow* Row = FServerMethod->Row())
            Row->NewGeneration();
        Message.FParameters = &FServerMethod->Parameters();
    } else {
        Prepare(Message);
    }
    FHasExecuted = true;
    try {
        Authorize();
        FServerMethod->Invoke(Message);
        Message.FActiveStreamerRowList = &GetActiveStreamerRowList();
        FNextHandler->DbxExecute(Message);
    } catch (...) {
        DestroyInvocationInstanceIfDone();
        throw;
    }
    DestroyInvocationInstanceIfDone();
}

void TDSServerMethodCommandHandler::DestroyInvocationInstanceIfDone() {
    if (FHasInvocationLifeCycle && FServerMethod && AllReadersAtEnd())
        FServerMethod->DestroyInvocationInstance();
}

void TDSServerMethodCommandHandler::DbxNext(TDBXNextMessage& Message) {
    Message.FActiveStreamerRowList = &GetActiveStreamerRowList();
    FNextHandler->DbxNext(Message);
    DestroyInvocationInstanceIfDone();
}

void TDSServerMethodCommandHandler::DbxMoreBlob(TDBXMoreBlobMessage& Message) {
    TDBXActiveTableReaderItem* Item =
        FActiveStreamerRowList ? FActiveStreamerRowList->FindStreamerRow(Message.FRowHandle)
                               : nullptr;
    Message.FStreamReader = nullptr;
    if (Item != nullptr) {
        if (Item->FParameterList != nullptr) {
            if (Message.FOrdinal >= 0 && Message.FOrdinal < Item->FParameterList->Count())
                if (TDBXWritableValue* Value =
                        Item->FParameterList->Parameter(Message.FOrdinal).CurrentValue())
                    Message.FStreamReader = Value->OverflowStream();
        } else {
            // The long value of the row the peer names, kept from the last
            // batch: never another row's.
            Message.FStreamReader = Item->Overflow(Message.FRow, Message.FOrdinal);
        }
    }
    FNextHandler->DbxMoreBlob(Message);
    if (Item != nullptr && Message.FEos && Item->FParameterList != nullptr &&
        Message.FOrdinal >= 0) {
        const auto Ordinal = static_cast<size_t>(Message.FOrdinal);
        if (Item->FParameterEos.size() <= Ordinal)
            Item->FParameterEos.resize(Ordinal + 1, false);
        Item->FParameterEos[Ordinal] = true;
        // The parameter row is done once every long value has been read.
        bool Done = true;
        for (int32_t I = 0; I < Item->FParameterList->Count() && Done; ++I) {
            const bool Read = static_cast<size_t>(I) < Item->FParameterEos.size() &&
                              Item->FParameterEos[static_cast<size_t>(I)];
            TDBXWritableValue* Value = Item->FParameterList->Parameter(I).CurrentValue();
            if (!Read && Value != nullptr && Value->OverflowStream() != nullptr)
                Done = false;
        }
        Item->FEos = Done;
    }
    DestroyInvocationInstanceIfDone();
}

void TDSServerMethodCommandHandler::DbxReaderClose(TDBXReaderCloseMessage& Message) {
    if (FActiveStreamerRowList)
        FActiveStreamerRowList->CloseReader(Message.FReaderHandle);
    FNextHandler->DbxReaderClose(Message);
    DestroyInvocationInstanceIfDone();
}

void TDSServerMethodCommandHandler::DbxNextResult(TDBXNextResultMessage& Message) {
    FNextHandler->DbxNextResult(Message);
}

void TDSServerMethodCommandHandler::DbxCommandClose(TDBXCommandCloseMessage& Message) {
    FNextHandler->DbxCommandClose(Message);
}

void TDSServerMethodCommandHandler::DbxErrorMessage(TDBXErrorMessage& Message) {
    FNextHandler->DbxErrorMessage(Message);
}

bool TDSServerMethodCommandHandler::ClearResources() {
    if (FActiveStreamerRowList)
        FActiveStreamerRowList->CloseAllReaders();
    return FServerMethod ? FServerMethod->ClearResources() : true;
}

} // namespace kds
