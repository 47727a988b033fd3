#include "server/wire/DBXJSonServerOutputConnectionHandler.h"

#include "base/DBXContext.h"
#include "base/TextConvert.h"
#include "data/TDBXJSonRow.h"
#include "data/TDBXParameter.h"
#include "data/TDBXReader.h"
#include "data/TDBXRowBuffer.h"
#include "data/TDBXValue.h"
#include "server/wire/DBXActiveTableReaderList.h"
#include "server/wire/DBXMessages.h"
#include "server/wire/DBXStream.h"
#include "server/wire/DBXTableStreaming.h"

namespace kds {

namespace {

// The buffer a parameter list's values are flushed into.
TDBXRowBuffer& RowBufferOf(TDBXParameterList* List, TDBXRowBuffer& Fallback) {
    if (List != nullptr)
        if (auto* Row = dynamic_cast<TDBXJSonRow*>(List->Row()))
            return Row->RowBuffer();
    return Fallback;
}

[[noreturn]] void CommandClosed(TDBXContext* Context) {
    RaiseDBXError(Context, TDBXErrorCodes::InvalidHandle, "Command closed or executed again");
}

// A parameter whose table travels back to the peer.
bool CarriesTable(TDBXParameter& P) {
    const int32_t Direction = P.ParameterDirection();
    return P.DataType() == TDBXDataTypes::TableType &&
           (Direction == TDBXParameterDirections::OutParameter ||
            Direction == TDBXParameterDirections::InOutParameter ||
            Direction == TDBXParameterDirections::ReturnParameter) &&
           !P.Value().IsNull() && P.Value().GetDBXReader() != nullptr;
}

} // namespace

TDBXJSonServerOutputConnectionHandler::TDBXJSonServerOutputConnectionHandler(
    TDBXContext* DbxContext, TDBXRowBuffer* RowBuffer, TDBXJSonStreamWriter* Writer,
    TDBXJSonStreamReader* Reader)
    : TDBXJSonConnectionHandler(DbxContext, RowBuffer, Writer, Reader, true) {}

void TDBXJSonServerOutputConnectionHandler::DbxConnect(TDBXConnectMessage& Message) {
    TDBXJSonStreamWriter& W = *FDbxStreamWriter;
    W.BeginReply();
    W.WriteResultObjectStart();
    W.WriteInt(Message.FConnectionHandle);
    W.WriteValueSeparator();
    W.WriteString(std::u16string_view(Message.FProductName));
    W.WriteValueSeparator();
    W.WriteInt(2); // protocol version
    W.WriteArrayEnd();
    W.WriteObjectEnd();
    W.Flush();
}

void TDBXJSonServerOutputConnectionHandler::DbxDisconnect(TDBXDisconnectMessage&) {}
void TDBXJSonServerOutputConnectionHandler::DbxOpen(TDBXOpenMessage&) {}
void TDBXJSonServerOutputConnectionHandler::DbxCommandClose(TDBXCommandCloseMessage&) {}
void TDBXJSonServerOutputConnectionHandler::DbxReaderClose(TDBXReaderCloseMessage&) {}

void TDBXJSonServerOutputConnectionHandler::DbxTxBegin(TDBXTxBeginMessage& Message) {
    FDbxStreamWriter->BeginReply();
    FDbxStreamWriter->WriteResultObject(Message.FTransactionHandle);
}

void TDBXJSonServerOutputConnectionHandler::DbxTxEnd(TDBXTxEndMessage&) {
    FDbxStreamWriter->BeginReply();
    FDbxStreamWriter->WriteResultVoidObject();
}

void TDBXJSonServerOutputConnectionHandler::DbxVendorProperty(TDBXVendorPropertyMessage& Message) {
    TDBXJSonStreamWriter& W = *FDbxStreamWriter;
    W.BeginReply();
    W.WriteResultObjectStart();
    W.WriteString(std::u16string_view(Message.FPropertyValue));
    W.WriteArrayEnd();
    W.WriteObjectEnd();
    W.Flush();
}

TDBXCommandHandler*
TDBXJSonServerOutputConnectionHandler::AcquireCommandHandler(TDBXCommandMessage&) {
    return this;
}

std::unique_ptr<TDBXRow> TDBXJSonServerOutputConnectionHandler::CreateDbxRow() {
    return std::make_unique<TDBXJSonRow>(FDbxContext, FDbxRowBuffer);
}

void TDBXJSonServerOutputConnectionHandler::DbxPrepare(TDBXPrepareMessage& Message) {
    TDBXJSonStreamWriter& W = *FDbxStreamWriter;
    W.BeginReply();
    W.WriteResultObjectStart();
    W.WriteHandleObject(Message.FCommandHandle);
    W.WriteValueSeparator();
    W.WriteFieldsObjectStart();
    W.WriteInt(0);
    W.WriteValueSeparator();
    W.WriteBoolean(false);
    W.WriteArrayEnd();
    W.WriteObjectEnd();
    TDBXParameterList* List = Message.Parameters();
    if (List != nullptr && List->Count() > 0) {
        W.WriteValueSeparator();
        WriteParameterList(List);
        Message.FParameterTypeChanged = false;
    }
    W.WriteArrayEnd();
    W.WriteObjectEnd();
    W.Flush();
}

void TDBXJSonServerOutputConnectionHandler::WriteParameterRow(TDBXParameterList* List,
                                                              bool& Wrote) {
    TDBXJSonStreamWriter& W = *FDbxStreamWriter;
    TDBXRowBuffer& Row = RowBufferOf(List, *FDbxRowBuffer);
    if (Wrote)
        W.WriteValueSeparator();
    W.WriteDataObject(Row.Data(), Row.Size());
    Row.StartOver();
    Wrote = true;
}

void TDBXJSonServerOutputConnectionHandler::DbxExecute(TDBXExecuteMessage& Message) {
    TDBXJSonStreamWriter& W = *FDbxStreamWriter;
    TDBXParameterList* List = Message.Parameters();
    const bool Tables =
        Message.FHasOutOrReturnParameters &&
        (Message.FHasDBXTableReaderOutOrReturnParameter || Message.FReturnReader != nullptr);
    FReplyTables.clear();
    // Everything that can fail to encode is encoded before the first byte of
    // the reply, so a failure leaves only the error reply on the wire.
    if (Message.FHasOutOrReturnParameters) {
        if (Tables)
            EncodeTables(Message);
        else if (List != nullptr)
            List->FlushReply();
        else
            FDbxRowBuffer->StartOver();
        NoteParameterOverflows(Message);
    }
    W.BeginReply();
    W.WriteResultObjectStart();
    bool Wrote = false;
    if (Message.FRowsAffected >= 0) {
        W.WriteRowsObjectStart();
        W.WriteLong(Message.FRowsAffected);
        W.WriteArrayEnd();
        W.WriteObjectEnd();
        Wrote = true;
    }
    if (Message.FHasOutOrReturnParameters) {
        if (Message.FParameterTypeChanged) {
            if (Wrote)
                W.WriteValueSeparator();
            WriteParameterList(List);
            Message.FParameterTypeChanged = false;
            Wrote = true;
        }
        if (Tables)
            WriteTables(Message, Wrote);
        else
            WriteParameterRow(List, Wrote);
    }
    W.WriteArrayEnd();
    W.WriteObjectEnd();
    if (Tables)
        WriteFirstBatches(Message);
    FReplyTables.clear();
    W.Flush();
}

void TDBXJSonServerOutputConnectionHandler::NoteParameterOverflows(TDBXExecuteMessage& Message) {
    TDBXParameterList* List = Message.Parameters();
    if (List == nullptr || Message.FActiveStreamerRowList == nullptr)
        return;
    for (int32_t I = 0; I < List->Count(); ++I) {
        TDBXWritableValue* Value = List->Parameter(I).CurrentValue();
        if (Value != nullptr && Value->OverflowStream() != nullptr) {
            Message.FActiveStreamerRowList->AddParameterRow(List);
            return;
        }
    }
}

void TDBXJSonServerOutputConnectionHandler::EncodeTables(TDBXExecuteMessage& Message) {
    TDBXActiveTableReaderList* Active = Message.FActiveStreamerRowList;
    if (Active == nullptr)
        RaiseDBXError(FDbxContext, TDBXErrorCodes::StreamingFailed,
                      "The command has no list of active readers");
    try {
        AddReplyTables(Message, *Active);
    } catch (...) {
        // Tables of a reply that is not sent are not streamed either.
        for (TDBXActiveTableReaderItem* Item : FReplyTables)
            Active->CloseReader(Item->FStreamerRowHandle);
        FReplyTables.clear();
        throw;
    }
}

void TDBXJSonServerOutputConnectionHandler::AddReplyTables(TDBXExecuteMessage& Message,
                                                           TDBXActiveTableReaderList& Active) {
    TDBXParameterList* List = Message.Parameters();
    // Handles first: the parameter row carries them in its table fields.
    if (List != nullptr) {
        for (int32_t I = 0; I < List->Count(); ++I) {
            TDBXParameter& P = List->Parameter(I);
            if (!CarriesTable(P))
                continue;
            TDBXWritableValue& Value = P.Value();
            TDBXReader* Reader = Value.GetDBXReader();
            auto* Holder = dynamic_cast<TDBXReaderValue*>(&Value);
            std::unique_ptr<TDBXReader> Owned = Holder != nullptr ? Holder->TakeReader() : nullptr;
            FReplyTables.push_back(&Active.AddReader(Reader, std::move(Owned), &Value));
        }
    }
    if (FReplyTables.empty() && Message.FReturnReader != nullptr)
        FReplyTables.push_back(&Active.AddReader(Message.FReturnReader, nullptr));
    if (List != nullptr)
        List->FlushReply();
    else
        FDbxRowBuffer->StartOver();
    const int32_t Threshold = FDbxStreamWriter->CalcRowBufferSize();
    for (TDBXActiveTableReaderItem* Item : FReplyTables) {
        TDBXTableStreaming::PrepareItem(*Item, FDbxContext, Message.FCommandHandle, Threshold);
        TDBXTableStreaming::EncodeBatch(*Item, FDbxContext, Threshold);
    }
}

void TDBXJSonServerOutputConnectionHandler::WriteTables(TDBXExecuteMessage& Message, bool& Wrote) {
    TDBXParameterList* List = Message.Parameters();
    if (List != nullptr && List->Count() > 0)
        WriteParameterRow(List, Wrote);
    for (TDBXActiveTableReaderItem* Item : FReplyTables) {
        if (Wrote)
            FDbxStreamWriter->WriteValueSeparator();
        TDBXTableStreaming::WriteTableObject(*FDbxStreamWriter, Message.FCommandHandle, *Item);
        Wrote = true;
    }
}

void TDBXJSonServerOutputConnectionHandler::WriteFirstBatches(TDBXExecuteMessage&) {
    for (size_t I = 0; I < FReplyTables.size(); ++I) {
        if (I > 0)
            FDbxStreamWriter->WriteValueSeparator();
        TDBXTableStreaming::WriteBatch(*FDbxStreamWriter, *FReplyTables[I]);
    }
}

void TDBXJSonServerOutputConnectionHandler::WriteNextBatch(TDBXNextMessage&,
                                                           TDBXActiveTableReaderItem& Item) {
    if (Item.FEos)
        CommandClosed(FDbxContext);
    TDBXTableStreaming::EncodeBatch(Item, FDbxContext, FDbxStreamWriter->CalcRowBufferSize());
    FDbxStreamWriter->BeginReply();
    TDBXTableStreaming::WriteBatch(*FDbxStreamWriter, Item);
    FDbxStreamWriter->Flush();
}

void TDBXJSonServerOutputConnectionHandler::DbxNext(TDBXNextMessage& Message) {
    TDBXActiveTableReaderItem* Item =
        Message.FActiveStreamerRowList != nullptr
            ? Message.FActiveStreamerRowList->FindStreamerRow(Message.FRowHandle)
            : nullptr;
    if (Item == nullptr || Item->FIsParameterRow)
        CommandClosed(FDbxContext);
    WriteNextBatch(Message, *Item);
}

void TDBXJSonServerOutputConnectionHandler::DbxMoreBlob(TDBXMoreBlobMessage& Message) {
    if (Message.FStreamReader == nullptr)
        CommandClosed(FDbxContext);
    TDBXJSonStreamWriter& W = *FDbxStreamWriter;
    W.BeginReply();
    W.WriteResultObjectStart();
    Message.FEos = W.WriteDataObject(*Message.FStreamReader);
    W.WriteArrayEnd();
    W.WriteObjectEnd();
    W.Flush();
}

void TDBXJSonServerOutputConnectionHandler::DbxNextResult(TDBXNextResultMessage&) {
    TDBXJSonStreamWriter& W = *FDbxStreamWriter;
    W.BeginReply();
    W.WriteResultObjectStart();
    W.WriteBoolean(false);
    W.WriteValueSeparator();
    W.WriteInt(0);
    W.WriteValueSeparator();
    W.WriteBoolean(false);
    W.WriteValueSeparator();
    W.WriteInt(-1);
    W.WriteArrayEnd();
    W.WriteObjectEnd();
    W.Flush();
}

void TDBXJSonServerOutputConnectionHandler::DbxErrorMessage(TDBXErrorMessage& Message) {
    TDBXJSonStreamWriter& W = *FDbxStreamWriter;
    W.BeginReply();
    W.WriteRpcError(Utf8ToUtf16(Message.FErrorClassName), Message.FErrorCode,
                    u"Remote error: " + Utf8ToUtf16(Message.FErrorMessage));
    W.Flush();
}

} // namespace kds
