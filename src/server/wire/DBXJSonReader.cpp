#include "server/wire/DBXJSonReader.h"

#include <string>

#include "base/DBXContext.h"
#include "base/DBXError.h"
#include "data/TDBXJSonRow.h"
#include "data/TDBXRowBuffer.h"
#include "data/TDBXValue.h"
#include "data/TDBXValueType.h"
#include "server/wire/DBXStream.h"
#include "server/wire/WireLimits.h"

namespace kds {

namespace {

constexpr char NextKey[] = "next";
constexpr char ReaderCloseKey[] = "reader_close";

// Flags of a peer that predates the new-style flags.
int32_t TranslateOldFlags(int32_t Old) {
    int32_t Flags = TDBXValueTypeFlags::ExtendedType;
    if ((Old & 1) != 0)
        Flags += TDBXValueTypeFlags::ReadOnly;
    if ((Old & 2) != 0)
        Flags += TDBXValueTypeFlags::Searchable;
    if ((Old & 8) != 0)
        Flags += TDBXValueTypeFlags::Nullable;
    if ((Old & 64) != 0)
        Flags += TDBXValueTypeFlags::AutoIncrement;
    return Flags;
}

// Reads {"key":[ up to the "[" and answers the key's code.
int32_t ReadKeyedArrayStart(TDBXJSonStreamReader& R) {
    R.Next(TDBXTokens::ObjectStart);
    R.Next(TDBXTokens::StringStart);
    const int32_t Key = R.ReadStringCode();
    R.Next(TDBXTokens::NameSeparator);
    R.Next(TDBXTokens::ArrayStart);
    return Key;
}

// Writes {"key":[a,b(,c)]} and sends it.
void WritePeerRequest(TDBXJSonStreamWriter& W, const char* Key, int64_t A, int64_t B,
                      const int64_t* C) {
    W.WriteObjectStart();
    W.WriteString(std::string_view(Key));
    W.WriteNameSeparator();
    W.WriteArrayStart();
    W.WriteLong(A);
    W.WriteValueSeparator();
    W.WriteLong(B);
    if (C != nullptr) {
        W.WriteValueSeparator();
        W.WriteLong(*C);
    }
    W.WriteArrayEnd();
    W.WriteObjectEnd();
    W.Flush();
}

} // namespace

TDBXJSonReader::TDBXJSonReader(TDBXContext* Context, TDBXJSonStreamReader& Reader,
                               TDBXJSonStreamWriter& Writer)
    : FContext(Context), FReader(&Reader), FWriter(&Writer),
      FRow(std::make_unique<TDBXJSonRow>(Context, std::make_unique<TDBXRowBuffer>(Context))),
      FLongValues(Context, Reader, Writer) {
    FLongValues.SetCommandHandleSource(&FCommandHandle);
    FRow->RowBuffer().SetLongValueSource(&FLongValues);
}

TDBXJSonReader::~TDBXJSonReader() {
    // Values read from the row: they go first.
    FValues.clear();
}

std::unique_ptr<TDBXJSonReader> TDBXJSonReader::Read(TDBXContext* Context,
                                                     TDBXJSonStreamReader& Reader,
                                                     TDBXJSonStreamWriter& Writer) {
    std::unique_ptr<TDBXJSonReader> Table(new TDBXJSonReader(Context, Reader, Writer));
    TDBXJSonStreamReader& R = Reader;
    int32_t T = 0;
    do {
        const int32_t Key = ReadKeyedArrayStart(R);
        if (Key == TDBXStringCodes::Fields) {
            Table->ReadFields();
            R.Next(TDBXTokens::ObjectEnd);
        } else if (Key == TDBXStringCodes::Columns) {
            Table->ReadColumns();
            R.Next(TDBXTokens::ObjectEnd);
        } else {
            R.SkipToEndOfObject();
        }
        T = R.Next();
    } while (T == TDBXTokens::ValueSeparator);
    if (T != TDBXTokens::ArrayEnd)
        R.UnexpectedToken(TDBXTokens::ArrayEnd, T);
    R.Next(TDBXTokens::ObjectEnd);
    if (!Table->FNewStyleFlags)
        for (auto& Column : Table->FColumns)
            Column->SetFlags(TranslateOldFlags(Column->Flags()));
    TDBXRowBuffer& Buffer = Table->FRow->RowBuffer();
    Buffer.SetColumnCount(Table->ColumnCount());
    Buffer.SetCommandHandle(Table->FCommandHandle);
    Table->FRow->SetBcdFormat(Table->FBcdFormat);
    Table->FRow->SetRowHandle(Table->FPeerRowHandle);
    Table->FLongValues.SetRowHandle(Table->FPeerRowHandle);
    Table->FValues.resize(Table->FColumns.size());
    // The first batch is the request's next element.
    R.NextValueSeparator();
    if (ReadKeyedArrayStart(R) != TDBXStringCodes::Data)
        R.UnexpectedToken(TDBXTokens::StringStart, TDBXTokens::String);
    Table->ReadBatchBody();
    return Table;
}

TDBXTableFields TDBXJSonReader::ReadTableFields(TDBXJSonStreamReader& R) {
    TDBXTableFields Fields;
    Fields.CommandHandle = R.ReadInt();
    R.NextValueSeparator();
    Fields.Updateable = R.ReadBoolean();
    int32_t T = R.Next();
    if (T == TDBXTokens::ValueSeparator) {
        Fields.RowHandle = R.ReadInt();
        T = R.Next();
    }
    if (T == TDBXTokens::ValueSeparator) {
        Fields.BcdFormat = R.ReadInt();
        T = R.Next();
    }
    if (T == TDBXTokens::ValueSeparator) {
        Fields.NewStyleFlags = R.ReadBoolean();
        T = R.Next();
    }
    if (T == TDBXTokens::ValueSeparator)
        R.SkipToEndOfArray();
    else if (T != TDBXTokens::ArrayEnd)
        R.UnexpectedToken(TDBXTokens::ArrayEnd, T);
    return Fields;
}

void TDBXJSonReader::ReadFields() {
    const TDBXTableFields Fields = ReadTableFields(*FReader);
    FCommandHandle = Fields.CommandHandle;
    FUpdateable = Fields.Updateable;
    FPeerRowHandle = Fields.RowHandle;
    FBcdFormat = Fields.BcdFormat;
    FNewStyleFlags = Fields.NewStyleFlags;
}

int32_t TDBXJSonReader::ReadColumnCount(TDBXJSonStreamReader& R) {
    const int32_t Count = R.ReadInt();
    if (Count < 0 || Count > WireLimits::MaxTableColumns)
        R.BoundExceeded("Column count " + std::to_string(Count) + " is outside 0.." +
                        std::to_string(WireLimits::MaxTableColumns));
    return Count;
}

std::unique_ptr<TDBXValueType>
TDBXJSonReader::ReadColumn(TDBXContext* Context, TDBXJSonStreamReader& R, int32_t Ordinal) {
    R.Next(TDBXTokens::ArrayStart);
    auto Column = std::make_unique<TDBXValueType>(Context);
    Column->SetName(R.ReadString());
    R.NextValueSeparator();
    Column->SetDataType(R.ReadInt());
    R.NextValueSeparator();
    Column->SetSubType(R.ReadInt());
    R.NextValueSeparator();
    Column->SetPrecision(R.ReadLong());
    R.NextValueSeparator();
    Column->SetScale(R.ReadInt());
    R.NextValueSeparator();
    Column->SetSize(R.ReadLong());
    R.NextValueSeparator();
    Column->SetFlags(R.ReadInt());
    int32_t T = R.Next();
    if (T == TDBXTokens::ValueSeparator) {
        Column->SetParameterDirection(R.ReadInt());
        T = R.Next();
    }
    if (T == TDBXTokens::ValueSeparator)
        R.SkipToEndOfArray();
    else if (T != TDBXTokens::ArrayEnd)
        R.UnexpectedToken(TDBXTokens::ArrayEnd, T);
    Column->SetOrdinal(Ordinal);
    return Column;
}

void TDBXJSonReader::ReadColumns() {
    TDBXJSonStreamReader& R = *FReader;
    const int32_t Count = ReadColumnCount(R);
    FColumns.clear();
    FColumns.reserve(static_cast<size_t>(Count));
    for (int32_t I = 0; I < Count; ++I) {
        R.NextValueSeparator();
        FColumns.push_back(ReadColumn(FContext, R, I));
    }
    R.Next(TDBXTokens::ArrayEnd);
}

void TDBXJSonReader::ReadBatchBody() {
    TDBXJSonStreamReader& R = *FReader;
    const int64_t Count = R.ReadInt();
    const int64_t Length = Count < 0 ? -Count : Count;
    if (Length > WireLimits::MaxBlockBytes)
        R.BoundExceeded("Batch byte count " + std::to_string(Count) + " is beyond " +
                        std::to_string(WireLimits::MaxBlockBytes) + " either way");
    const int32_t T = R.Next();
    if (T != TDBXTokens::ValueSeparator && !(Length == 0 && T == TDBXTokens::ArrayEnd))
        R.UnexpectedToken(TDBXTokens::ValueSeparator, T);
    TDBXRowBuffer& Buffer = FRow->RowBuffer();
    uint8_t* Bytes = Buffer.ReadBuffer(static_cast<int32_t>(Length));
    if (Length > 0)
        R.ReadDataBytes(Bytes, 0, static_cast<int32_t>(Length));
    Buffer.SetReadSize(static_cast<int32_t>(Length));
    if (T == TDBXTokens::ValueSeparator)
        R.Next(TDBXTokens::ArrayEnd);
    R.Next(TDBXTokens::ObjectEnd);
    FLastBatch = Count < 1;
    FLongValues.SetRowOffset(FPosition);
}

void TDBXJSonReader::FetchNextBatch() {
    TDBXJSonStreamReader& R = *FReader;
    const int64_t Command = FCommandHandle;
    WritePeerRequest(*FWriter, NextKey, FPeerRowHandle, FPosition, &Command);
    bool Wrapped = false;
    if (!ReadPeerAnswerStart(R, Wrapped))
        RaiseDBXError(FContext, TDBXErrorCodes::StreamingFailed,
                      "The peer answered a next request with something else than a batch");
    ReadBatchBody();
    ReadPeerAnswerEnd(R, Wrapped);
}

int32_t TDBXJSonReader::BatchBytes() const {
    return FRow->RowBuffer().ReadSize();
}

void TDBXJSonReader::CheckOrdinal(int32_t Ordinal) const {
    if (Ordinal < 0 || Ordinal >= ColumnCount())
        RaiseDBXError(FContext, TDBXErrorCodes::InvalidOrdinal,
                      "Column ordinal " + std::to_string(Ordinal) + " is outside the " +
                          std::to_string(ColumnCount()) + " columns of the table");
}

const TDBXValueType& TDBXJSonReader::ValueType(int32_t Ordinal) const {
    CheckOrdinal(Ordinal);
    return *FColumns[static_cast<size_t>(Ordinal)];
}

TDBXValue& TDBXJSonReader::Value(int32_t Ordinal) {
    CheckOrdinal(Ordinal);
    if (!FOnRow)
        RaiseDBXError(FContext, TDBXErrorCodes::EOF_, "The table is not on a row");
    auto& Slot = FValues[static_cast<size_t>(Ordinal)];
    if (!Slot)
        Slot = TDBXValue::CreateValue(FContext, FColumns[static_cast<size_t>(Ordinal)].get(),
                                      FRow.get(), false);
    return *Slot;
}

bool TDBXJSonReader::Next() {
    if (FClosed)
        return false;
    TDBXRowBuffer& Buffer = FRow->RowBuffer();
    if (!FStarted) {
        FStarted = true;
        FOnRow = Buffer.ReadSize() > 0;
    } else if (FOnRow) {
        ++FPosition;
        FOnRow = Buffer.NextRow();
    }
    while (!FOnRow && !FLastBatch) {
        FetchNextBatch();
        FOnRow = Buffer.ReadSize() > 0;
    }
    return FOnRow;
}

void TDBXJSonReader::Close() {
    if (FClosed)
        return;
    FClosed = true;
    FOnRow = false;
    // After its last batch the peer holds nothing more of the table.
    if (FPeerRowHandle >= 0 && !FLastBatch)
        WritePeerRequest(*FWriter, ReaderCloseKey, FPeerRowHandle, FCommandHandle, nullptr);
}

} // namespace kds
