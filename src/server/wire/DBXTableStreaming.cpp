#include "server/wire/DBXTableStreaming.h"

#include <exception>
#include <memory>
#include <string>

#include "base/DBXContext.h"
#include "base/DBXError.h"
#include "data/TDBXJSonRow.h"
#include "data/TDBXReader.h"
#include "data/TDBXRowBuffer.h"
#include "data/TDBXValue.h"
#include "data/TDBXValueType.h"
#include "data/TStream.h"
#include "server/wire/DBXActiveTableReaderList.h"
#include "server/wire/DBXStream.h"

namespace kds {

namespace {

constexpr int32_t BatchErrorCode = TDBXErrorCodes::StreamingFailed;

// The item gives up: its reader is closed and nothing of it is sent again.
void EndItem(TDBXActiveTableReaderItem& Item) noexcept {
    Item.FEos = true;
    Item.FNeedsNext = false;
    try {
        Item.FReader->Close();
    } catch (...) {
        // Closing what is already broken may fail again; the item is done.
    }
}

} // namespace

void TDBXTableStreaming::PrepareItem(TDBXActiveTableReaderItem& Item, TDBXContext* Context,
                                     int32_t CommandHandle, int32_t Threshold) {
    auto Buffer = std::make_unique<TDBXRowBuffer>(Context);
    Buffer->SetMinBufSize(Threshold);
    Buffer->SetColumnCount(Item.FReader->ColumnCount());
    Buffer->SetCommandHandle(CommandHandle);
    Item.FStreamerRow = std::make_unique<TDBXJSonRow>(Context, std::move(Buffer));
    Item.FStreamerRow->SetRowHandle(Item.FStreamerRowHandle);
}

void TDBXTableStreaming::EncodeBatch(TDBXActiveTableReaderItem& Item, TDBXContext* Context,
                                     int32_t Threshold) {
    if (Item.FEos || Item.FReader == nullptr || !Item.FStreamerRow)
        RaiseDBXError(Context, TDBXErrorCodes::InvalidHandle, "Command closed or executed again");
    TDBXReader& Reader = *Item.FReader;
    TDBXJSonRow& Row = *Item.FStreamerRow;
    TDBXRowBuffer& Buffer = Row.RowBuffer();
    Item.ClearOverflows();
    Item.FRowsSent += Item.FBatchRows;
    Item.FBatchRows = 0;
    Buffer.StartOver();
    const int32_t Columns = Reader.ColumnCount();
    bool OnRow = false;
    try {
        // The first batch advances the reader onto its first row; a later
        // one moves past the row that filled the batch before it.
        if (!Item.FStarted || Item.FNeedsNext) {
            Item.FStarted = true;
            Item.FNeedsNext = false;
            OnRow = Reader.Next();
        }
        while (OnRow && Buffer.Size() < Threshold) {
            Buffer.BeginRow();
            const int64_t RowIndex = Item.FRowsSent + Item.FBatchRows;
            for (int32_t I = 0; I < Columns; ++I) {
                TDBXValue& Value = Reader.Value(I);
                try {
                    Value.WriteInto(Row);
                } catch (const std::exception& E) {
                    RaiseDBXError(Context, BatchErrorCode, E.what());
                }
                Item.AddOverflow(RowIndex, I, Value.TakeOverflow());
            }
            ++Item.FBatchRows;
            if (Buffer.Size() < Threshold)
                OnRow = Reader.Next();
            else
                Item.FNeedsNext = true;
        }
    } catch (...) {
        // Nothing of a batch that failed goes out, and the reader stands
        // somewhere inside it: the item ends here.
        Buffer.StartOver();
        Item.ClearOverflows();
        Item.FBatchRows = 0;
        EndItem(Item);
        throw;
    }
    if (!OnRow && !Item.FNeedsNext)
        EndItem(Item);
}

void TDBXTableStreaming::WriteBatch(TDBXJSonStreamWriter& Writer,
                                    const TDBXActiveTableReaderItem& Item) {
    Writer.FlushIfRoomBelow(MinFreeBeforeBatch);
    const TDBXRowBuffer& Buffer = Item.FStreamerRow->RowBuffer();
    const int32_t Count = Buffer.Size();
    if (Count == 0) {
        Writer.WriteDataObjectStart();
        Writer.WriteInt(0);
        Writer.WriteArrayEnd();
        Writer.WriteObjectEnd();
        return;
    }
    Writer.WriteDataObjectStart();
    Writer.WriteInt(Item.FEos ? -Count : Count);
    Writer.WriteValueSeparator();
    Writer.WriteDataBytes(Buffer.Data(), 0, Count);
    Writer.WriteArrayEnd();
    Writer.WriteObjectEnd();
}

void TDBXTableStreaming::WriteTableObject(TDBXJSonStreamWriter& W, int32_t CommandHandle,
                                          const TDBXActiveTableReaderItem& Item) {
    const TDBXReader& Reader = *Item.FReader;
    W.WriteTableObjectStart();
    W.WriteFieldsObjectStart();
    W.WriteInt(CommandHandle);
    W.WriteValueSeparator();
    W.WriteBoolean(Reader.IsUpdateable());
    W.WriteValueSeparator();
    W.WriteInt(Item.FStreamerRowHandle);
    W.WriteValueSeparator();
    W.WriteInt(ServerBcdFormat);
    W.WriteValueSeparator();
    W.WriteBoolean(true);
    W.WriteArrayEnd();
    W.WriteObjectEnd();
    W.WriteValueSeparator();
    W.WriteColumnsObjectStart();
    const int32_t Columns = Reader.ColumnCount();
    W.WriteInt(Columns);
    for (int32_t I = 0; I < Columns; ++I) {
        const TDBXValueType& Column = Reader.ValueType(I);
        W.WriteValueSeparator();
        W.WriteArrayStart();
        W.WriteString(std::u16string_view(Column.Name()));
        W.WriteValueSeparator();
        W.WriteInt(Column.DataType());
        W.WriteValueSeparator();
        W.WriteInt(Column.SubType());
        W.WriteValueSeparator();
        W.WriteLong(Column.Precision());
        W.WriteValueSeparator();
        W.WriteInt(Column.Scale());
        W.WriteValueSeparator();
        W.WriteLong(Column.Size());
        W.WriteValueSeparator();
        W.WriteInt(Column.Flags());
        W.WriteValueSeparator();
        W.WriteInt(Column.ParameterDirection());
        W.WriteArrayEnd();
    }
    W.WriteArrayEnd();
    W.WriteObjectEnd();
    W.WriteArrayEnd();
    W.WriteObjectEnd();
}

} // namespace kds
