#include "client/DSClientTableReader.h"

#include "base/DBXError.h"
#include "client/DSClientConnection.h"
#include "data/DBXDataTypes.h"
#include "server/wire/DBXJSonReader.h"
#include "server/wire/DBXStream.h"
#include "server/wire/WireLimits.h"

namespace kds {

namespace {

// Column flags of a table object that does not say it carries the current
// form: base 128, plus 2 for old bit 0, 4 for old bit 1, 1 for old bit 3
// and 8 for old bit 6.
int32_t TranslateOldFlags(int32_t Old) {
    int32_t Flags = TDBXValueTypeFlags::ExtendedType;
    if ((Old & 0x01) != 0)
        Flags |= TDBXValueTypeFlags::ReadOnly;
    if ((Old & 0x02) != 0)
        Flags |= TDBXValueTypeFlags::Searchable;
    if ((Old & 0x08) != 0)
        Flags |= TDBXValueTypeFlags::Nullable;
    if ((Old & 0x40) != 0)
        Flags |= TDBXValueTypeFlags::AutoIncrement;
    return Flags;
}

} // namespace

TDSClientTableReader::TDSClientTableReader(TDSClientConnection& Connection)
    : FConnection(Connection), FRowBuffer(Connection.Context()),
      FRow(Connection.Context(), &FRowBuffer) {
    FRowBuffer.SetClient(true);
    FRowBuffer.SetLongValueSource(this);
}

TDSClientTableReader::~TDSClientTableReader() = default;

std::unique_ptr<TDSClientTableReader>
TDSClientTableReader::ReadTableObject(TDSClientConnection& Connection) {
    std::unique_ptr<TDSClientTableReader> Reader(new TDSClientTableReader(Connection));
    TDBXJSonStreamReader& R = Connection.Reader();
    R.Next(TDBXTokens::ArrayStart);
    int32_t T = R.Next();
    while (T == TDBXTokens::ObjectStart) {
        R.Next(TDBXTokens::StringStart);
        const int32_t Key = R.ReadStringCode();
        R.Next(TDBXTokens::NameSeparator);
        if (Key == TDBXStringCodes::Fields)
            Reader->ReadFields();
        else if (Key == TDBXStringCodes::Columns)
            Reader->ReadColumns();
        else
            R.SkipToEndOfObject();
        T = R.Next();
        if (T == TDBXTokens::ValueSeparator)
            T = R.Next();
    }
    if (T != TDBXTokens::ArrayEnd)
        R.UnexpectedToken(TDBXTokens::ArrayEnd, T);
    R.Next(TDBXTokens::ObjectEnd);
    Reader->FRow.SetRowHandle(Reader->RowHandle());
    Reader->FRow.SetBcdFormat(Reader->FBcdFormat);
    return Reader;
}

void TDSClientTableReader::ReadFields() {
    TDBXJSonStreamReader& R = FConnection.Reader();
    R.Next(TDBXTokens::ArrayStart);
    const TDBXTableFields Fields = TDBXJSonReader::ReadTableFields(R);
    FCommandHandle = Fields.CommandHandle;
    FUpdateable = Fields.Updateable;
    SetRowHandle(Fields.RowHandle);
    FBcdFormat = Fields.BcdFormat;
    FNewFlags = Fields.NewStyleFlags;
    R.Next(TDBXTokens::ObjectEnd);
}

void TDSClientTableReader::ReadColumns() {
    TDBXJSonStreamReader& R = FConnection.Reader();
    R.Next(TDBXTokens::ArrayStart);
    const int32_t Count = TDBXJSonReader::ReadColumnCount(R);
    FColumns.clear();
    FValues.clear();
    for (int32_t I = 0; I < Count; ++I) {
        R.NextValueSeparator();
        auto Column = TDBXJSonReader::ReadColumn(FConnection.Context(), R, I);
        if (!FNewFlags)
            Column->SetFlags(TranslateOldFlags(Column->Flags()));
        FColumns.push_back(std::move(Column));
    }
    R.Next(TDBXTokens::ArrayEnd);
    R.Next(TDBXTokens::ObjectEnd);
    for (auto& Column : FColumns)
        FValues.push_back(
            TDBXValue::CreateValue(FConnection.Context(), Column.get(), &FRow, false));
    FRowBuffer.SetColumnCount(Count);
}

void TDSClientTableReader::ReadBatch() {
    if (FConnection.ReadReplyStart() != TDBXStringCodes::Data)
        throw TDSProtocolError("A table batch is not a data object");
    const int32_t Count = FConnection.ReadDataObjectBody(FBatch);
    if (Count > 0 && FColumns.empty())
        throw TDSProtocolError("A table without columns sent rows");
    FLastBatch = Count <= 0;
    FRowBuffer.SetReadBytes(FBatch.data(), static_cast<int32_t>(FBatch.size()));
    FFresh = !FBatch.empty();
    ++FBatches;
}

void TDSClientTableReader::ReadFirstBatch() {
    ReadBatch();
}

void TDSClientTableReader::FetchNextBatch() {
    FConnection.Guarded([&] {
        FConnection.BeginRequest("next");
        TDBXJSonStreamWriter& W = FConnection.Writer();
        W.WriteInt(RowHandle());
        W.WriteValueSeparator();
        W.WriteLong(FRowsRead);
        W.WriteValueSeparator();
        W.WriteInt(FCommandHandle);
        FConnection.EndRequest();
        ReadBatch();
    });
}

bool TDSClientTableReader::Next() {
    if (FEnded || FClosed)
        return false;
    if (FOnRow) {
        FOnRow = false;
        if (FRowBuffer.NextRow()) {
            FOnRow = true;
            ++FRowsRead;
            return true;
        }
    } else if (FFresh) {
        FFresh = false;
        FOnRow = true;
        ++FRowsRead;
        return true;
    }
    FFresh = false;
    while (!FLastBatch) {
        FetchNextBatch();
        if (FFresh) {
            FFresh = false;
            FOnRow = true;
            ++FRowsRead;
            return true;
        }
    }
    FEnded = true;
    return false;
}

void TDSClientTableReader::Close() {
    if (FClosed)
        return;
    FClosed = true;
    FEnded = true;
    FOnRow = false;
    if (FAbandoned || RowHandle() < 0 || !FConnection.IsOpen())
        return;
    FConnection.Guarded([&] {
        FConnection.BeginRequest("reader_close");
        FConnection.Writer().WriteInt(RowHandle());
        FConnection.Writer().WriteValueSeparator();
        FConnection.Writer().WriteInt(FCommandHandle);
        FConnection.EndRequest();
    });
}

void TDSClientTableReader::CheckOrdinal(int32_t Ordinal) const {
    if (Ordinal < 0 || Ordinal >= ColumnCount())
        throw TDBXError(TDBXErrorCodes::InvalidOrdinal,
                        "Column ordinal " + std::to_string(Ordinal) + " is outside the table");
}

const TDBXValueType& TDSClientTableReader::ValueType(int32_t Ordinal) const {
    CheckOrdinal(Ordinal);
    return *FColumns[static_cast<size_t>(Ordinal)];
}

TDBXValue& TDSClientTableReader::Value(int32_t Ordinal) {
    CheckOrdinal(Ordinal);
    if (!FOnRow)
        throw TDBXError(TDBXErrorCodes::EOF_, "The table is not on a row");
    return *FValues[static_cast<size_t>(Ordinal)];
}

void TDSClientTableReader::FetchRest(TDBXRowBuffer&, int32_t Ordinal, int64_t,
                                     std::vector<uint8_t>& Bytes) {
    FConnection.FetchLongValue(FCommandHandle, FRowsRead - 1, Ordinal, false, RowHandle(), Bytes);
}

} // namespace kds
