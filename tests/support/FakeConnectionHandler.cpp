#include "support/FakeConnectionHandler.h"

#include <algorithm>

#include "base/DBXError.h"
#include "data/DBXDataTypes.h"
#include "data/TDBXParameter.h"
#include "data/TDBXRow.h"
#include "server/wire/DbxChannel.h"

namespace kds::test {

TFakeConnectionHandler::TFakeConnectionHandler(TDBXContext* Context,
                                               std::unique_ptr<TDbxChannel> Channel,
                                               TDBXConnectionHandler* Output)
    : TDBXConnectionHandler(Context), FOutput(Output), FChannel(std::move(Channel)) {
    FRow = Output->CreateDbxRow();
    FEcho = std::make_unique<TDBXParameterList>(Context, FRow.get());
    FEcho->SetCount(2);
    TDBXParameter& Value = FEcho->Parameter(0);
    Value.SetName(u"Value");
    Value.SetDataType(TDBXDataTypes::WideStringType);
    Value.SetParameterDirection(TDBXParameterDirections::InParameter);
    TDBXParameter& Result = FEcho->Parameter(1);
    Result.SetName(u"ReturnParameter");
    Result.SetDataType(TDBXDataTypes::WideStringType);
    Result.SetParameterDirection(TDBXParameterDirections::ReturnParameter);
}

TFakeConnectionHandler::~TFakeConnectionHandler() {
    // The output handler (our next owned handler) goes first: the list and
    // the row are ours.
    FreeNextOwnedHandler();
}

void TFakeConnectionHandler::Enter(const std::string& Operation) {
    Calls.push_back(Operation);
    if (Throw)
        Throw(Operation);
}

void TFakeConnectionHandler::DbxOpen(TDBXOpenMessage& Message) {
    Enter("open");
    FOutput->DbxOpen(Message);
}

void TFakeConnectionHandler::DbxConnect(TDBXConnectMessage& Message) {
    try {
        Enter("connect");
        LastConnectProperties =
            Message.FConnectProperties != nullptr ? *Message.FConnectProperties : TDBXProperties();
    } catch (...) {
        Message.FSuccessfulConnect = false;
        throw;
    }
    Message.FConnectionHandle = ConnectionHandle;
    Message.FProductName = GetProductName();
    FOutput->DbxConnect(Message);
}

void TFakeConnectionHandler::DbxDisconnect(TDBXDisconnectMessage& Message) {
    Enter("disconnect");
    FOutput->DbxDisconnect(Message);
}

void TFakeConnectionHandler::DbxTxBegin(TDBXTxBeginMessage& Message) {
    Enter("txbegin");
    FOutput->DbxTxBegin(Message);
}

void TFakeConnectionHandler::DbxTxEnd(TDBXTxEndMessage& Message) {
    Enter("txend");
    LastTxEndCommit = Message.FCommit;
    LastTxEndHandle = Message.FTransactionHandle;
    FOutput->DbxTxEnd(Message);
}

void TFakeConnectionHandler::DbxVendorProperty(TDBXVendorPropertyMessage& Message) {
    Enter("vendor_property");
    LastVendorProperty = Message.FPropertyName;
    Message.FPropertyValue.clear();
    FOutput->DbxVendorProperty(Message);
}

TDBXCommandHandler* TFakeConnectionHandler::AcquireCommandHandler(TDBXCommandMessage&) {
    return FOutput;
}

namespace {
int32_t TakeHandle(std::vector<bool>& Open, int32_t Requested) {
    if (Requested >= 0) {
        if (Requested >= static_cast<int32_t>(Open.size()) || !Open[Requested])
            throw TDBXError(TDBXErrorCodes::InvalidArgument,
                            "Invalid command handle:  " + std::to_string(Requested));
        return Requested;
    }
    const auto Free = std::find(Open.begin(), Open.end(), false);
    const int32_t Handle = static_cast<int32_t>(Free - Open.begin());
    if (Free == Open.end())
        Open.push_back(true);
    else
        *Free = true;
    return Handle;
}
} // namespace

void TFakeConnectionHandler::DbxPrepare(TDBXPrepareMessage& Message) {
    Enter("prepare");
    LastCommandType = Message.FCommandType;
    LastCommand = Message.FCommand;
    LastExplicitParameterCount =
        Message.FExplicitParameters ? Message.FExplicitParameters->Count() : -1;
    Message.FCommandHandle = TakeHandle(Open, Message.FCommandHandle);
    LastCommandHandle = Message.FCommandHandle;
    Message.FParameters = PrepareParameters != nullptr ? PrepareParameters : FEcho.get();
    FOutput->DbxPrepare(Message);
}

void TFakeConnectionHandler::DbxExecute(TDBXExecuteMessage& Message) {
    Enter("execute");
    if (!Message.FCommand.empty()) {
        LastCommandType = Message.FCommandType;
        LastCommand = Message.FCommand;
    }
    LastExplicitParameterCount =
        Message.FExplicitParameters ? Message.FExplicitParameters->Count() : -1;
    LastHasParameters = Message.FHasParameters;
    Message.FCommandHandle = TakeHandle(Open, Message.FCommandHandle);
    LastCommandHandle = Message.FCommandHandle;
    Message.FParameters = FEcho.get();
    Readers.CloseAllReaders();
    Message.FActiveStreamerRowList = &Readers;
    if (RowsAffected >= 0)
        Message.FRowsAffected = RowsAffected;
    if (OnExecute) {
        OnExecute(Message);
    } else {
        TDBXWritableValue& In = FEcho->Parameter(0).Value();
        LastValueNull = In.IsNull();
        LastValue = LastValueNull ? std::u16string() : In.GetWideString();
        std::u16string Out = LastValue;
        if (LastCommand.find(u"ReverseString") != std::u16string::npos)
            std::reverse(Out.begin(), Out.end());
        FEcho->Parameter(1).Value().SetWideString(Out);
        Message.FHasOutOrReturnParameters = true;
    }
    FOutput->DbxExecute(Message);
}

void TFakeConnectionHandler::DbxNextResult(TDBXNextResultMessage& Message) {
    Enter("next_result");
    TakeHandle(Open, Message.FCommandHandle < 0 ? 0 : Message.FCommandHandle);
    FOutput->DbxNextResult(Message);
}

void TFakeConnectionHandler::DbxNext(TDBXNextMessage& Message) {
    Enter("next");
    Message.FActiveStreamerRowList = &Readers;
    LastNext.FRowHandle = Message.FRowHandle;
    LastNext.FPosition = Message.FPosition;
    LastNext.FCommandHandle = Message.FCommandHandle;
    FOutput->DbxNext(Message);
}

void TFakeConnectionHandler::DbxMoreBlob(TDBXMoreBlobMessage& Message) {
    Enter("more_blob");
    LastMoreBlob.FCommandHandle = Message.FCommandHandle;
    LastMoreBlob.FBlobHandle = Message.FBlobHandle;
    LastMoreBlob.FRow = Message.FRow;
    LastMoreBlob.FOrdinal = Message.FOrdinal;
    LastMoreBlob.FOutParameter = Message.FOutParameter;
    LastMoreBlob.FRowHandle = Message.FRowHandle;
    Message.FStreamReader = MoreBlobStream;
    FOutput->DbxMoreBlob(Message);
    LastMoreBlob.FEos = Message.FEos;
}

void TFakeConnectionHandler::DbxCommandClose(TDBXCommandCloseMessage& Message) {
    Enter("command_close");
    const int32_t H = Message.FCommandHandle;
    if (H >= 0 && H < static_cast<int32_t>(Open.size()))
        Open[H] = false;
    LastCommandHandle = H;
    FOutput->DbxCommandClose(Message);
}

void TFakeConnectionHandler::DbxReaderClose(TDBXReaderCloseMessage& Message) {
    Enter("reader_close");
    LastReaderClose.FReaderHandle = Message.FReaderHandle;
    LastReaderClose.FCommandHandle = Message.FCommandHandle;
    FOutput->DbxReaderClose(Message);
}

void TFakeConnectionHandler::DbxErrorMessage(TDBXErrorMessage& Message) {
    ++ErrorsReported;
    FOutput->DbxErrorMessage(Message);
}

} // namespace kds::test
