#include "server/wire/DBXJSonConnectionHandler.h"

#include "base/DBXContext.h"
#include "data/TDBXParameter.h"
#include "data/TDBXReader.h"
#include "data/TDBXRowBuffer.h"
#include "server/wire/DBXJSonReader.h"
#include "server/wire/DBXMessages.h"
#include "server/wire/DBXStream.h"
#include "server/wire/DbxChannel.h"
#include "server/wire/WireLimits.h"

namespace kds {

TDBXJSonConnectionHandler::TDBXJSonConnectionHandler(TDBXContext* DbxContext,
                                                     std::unique_ptr<TDBXRowBuffer> RowBuffer,
                                                     std::unique_ptr<TDBXJSonStreamWriter> Writer,
                                                     std::unique_ptr<TDBXJSonStreamReader> Reader,
                                                     bool UsesDbxParameters)
    : TDBXConnectionHandler(DbxContext), FOwnedReader(std::move(Reader)),
      FOwnedWriter(std::move(Writer)), FOwnedRowBuffer(std::move(RowBuffer)),
      FDbxStreamReader(FOwnedReader.get()), FDbxStreamWriter(FOwnedWriter.get()),
      FDbxRowBuffer(FOwnedRowBuffer.get()), FUsesDbxParameters(UsesDbxParameters),
      FOwnsStreamers(true) {}

TDBXJSonConnectionHandler::TDBXJSonConnectionHandler(TDBXContext* DbxContext,
                                                     TDBXRowBuffer* RowBuffer,
                                                     TDBXJSonStreamWriter* Writer,
                                                     TDBXJSonStreamReader* Reader,
                                                     bool UsesDbxParameters)
    : TDBXConnectionHandler(DbxContext), FDbxStreamReader(Reader), FDbxStreamWriter(Writer),
      FDbxRowBuffer(RowBuffer), FUsesDbxParameters(UsesDbxParameters), FOwnsStreamers(false) {}

TDBXJSonConnectionHandler::~TDBXJSonConnectionHandler() {
    // Whatever follows in the chain may still use the streamers.
    FreeNextOwnedHandler();
}

bool TDBXJSonConnectionHandler::GetConnectionLost() const {
    return FDbxStreamReader->GetConnectionLost() || FDbxStreamWriter->ConnectionLost();
}

bool TDBXJSonConnectionHandler::ReadParameterType(TDBXParameter& Parameter,
                                                  std::u16string* LiteralOut) {
    TDBXJSonStreamReader& R = *FDbxStreamReader;
    R.Next(TDBXTokens::ArrayStart);
    const int32_t DataType = R.ReadInt();
    R.NextValueSeparator();
    const int32_t SubType = R.ReadInt();
    R.NextValueSeparator();
    const int32_t Direction = R.ReadInt();
    R.NextValueSeparator();
    const int64_t Precision = R.ReadLong();
    R.NextValueSeparator();
    const int32_t Scale = R.ReadInt();
    R.NextValueSeparator();
    const std::u16string Name = R.ReadString();
    R.NextValueSeparator();
    const int32_t ChildPosition = R.ReadInt();
    R.NextValueSeparator();
    const int64_t Size = R.ReadLong();
    int32_t Flags = 0;
    bool HasLiteral = false;
    std::u16string Literal;
    int32_t T = R.Next();
    if (T == TDBXTokens::ValueSeparator) {
        Flags = R.ReadInt();
        T = R.Next();
        if (T == TDBXTokens::ValueSeparator && (Flags & TDBXValueTypeFlags::Literal) != 0) {
            Literal = R.ReadString();
            HasLiteral = true;
            T = R.Next();
        }
    }
    // Anything after what is known is passed over.
    if (T == TDBXTokens::ValueSeparator)
        R.SkipToEndOfArray();
    else if (T != TDBXTokens::ArrayEnd)
        R.UnexpectedToken(TDBXTokens::ArrayEnd, T);
    Parameter.SetDataType(DataType);
    Parameter.SetSubType(SubType);
    Parameter.SetParameterDirection(Direction);
    Parameter.SetPrecision(Precision);
    Parameter.SetScale(Scale);
    Parameter.SetName(Name);
    Parameter.SetChildPosition(ChildPosition);
    Parameter.SetSize(Size);
    Parameter.SetFlags(Flags | TDBXValueTypeFlags::ExtendedType);
    if (HasLiteral && LiteralOut != nullptr)
        *LiteralOut = std::move(Literal);
    else if (HasLiteral)
        Parameter.Value().SetWideString(Literal);
    return HasLiteral;
}

void TDBXJSonConnectionHandler::SkipParameterType() {
    FDbxStreamReader->Next(TDBXTokens::ArrayStart);
    FDbxStreamReader->SkipToEndOfArray();
}

void TDBXJSonConnectionHandler::WriteParameterType(TDBXParameter& Parameter) {
    TDBXJSonStreamWriter& W = *FDbxStreamWriter;
    W.WriteArrayStart();
    W.WriteInt(Parameter.DataType());
    W.WriteValueSeparator();
    W.WriteInt(Parameter.SubType());
    W.WriteValueSeparator();
    W.WriteInt(Parameter.ParameterDirection());
    W.WriteValueSeparator();
    W.WriteLong(Parameter.Precision());
    W.WriteValueSeparator();
    W.WriteInt(Parameter.Scale());
    W.WriteValueSeparator();
    W.WriteString(std::u16string_view(Parameter.Name()));
    W.WriteValueSeparator();
    W.WriteInt(Parameter.ChildPosition());
    W.WriteValueSeparator();
    W.WriteLong(Parameter.Size());
    W.WriteValueSeparator();
    W.WriteInt(Parameter.Flags());
    if (Parameter.Literal()) {
        W.WriteValueSeparator();
        W.WriteString(std::u16string_view(Parameter.Value().AsString()));
    }
    W.WriteArrayEnd();
}

void TDBXJSonConnectionHandler::WriteParameterList(TDBXParameterList* List) {
    TDBXJSonStreamWriter& W = *FDbxStreamWriter;
    const int32_t Count = List != nullptr ? List->Count() : 0;
    W.WriteParametersObjectStart(Count);
    for (int32_t I = 0; I < Count; ++I) {
        W.WriteValueSeparator();
        WriteParameterType(List->Parameter(I));
    }
    W.WriteArrayEnd();
    W.WriteObjectEnd();
}

void TDBXJSonConnectionHandler::ReadTable(TDBXExecuteMessage& Message) {
    // A table is a parameter value: no more of them than parameters, however
    // small each one is (every table costs a reader and its buffers).
    if (Message.FTables.size() >= static_cast<size_t>(WireLimits::MaxParameters))
        FDbxStreamReader->BoundExceeded("More than " + std::to_string(WireLimits::MaxParameters) +
                                        " tables in the request");
    std::unique_ptr<TDBXJSonReader> Table =
        TDBXJSonReader::Read(FDbxContext, *FDbxStreamReader, *FDbxStreamWriter);
    // The tables of one request share the bounds of one table: a peer does
    // not get around them by sending many.
    int64_t Columns = Table->ColumnCount();
    int64_t Bytes = Table->BatchBytes();
    for (const auto& Earlier : Message.FTables)
        if (const auto* Peer = dynamic_cast<const TDBXJSonReader*>(Earlier.get())) {
            Columns += Peer->ColumnCount();
            Bytes += Peer->BatchBytes();
        }
    if (Columns > WireLimits::MaxTableColumns)
        FDbxStreamReader->BoundExceeded("The tables of the request have " +
                                        std::to_string(Columns) + " columns, more than " +
                                        std::to_string(WireLimits::MaxTableColumns));
    if (Bytes > WireLimits::MaxBlockBytes)
        FDbxStreamReader->BoundExceeded("The first batches of the request's tables hold " +
                                        std::to_string(Bytes) + " bytes, more than " +
                                        std::to_string(WireLimits::MaxBlockBytes));
    Message.FTables.push_back(std::move(Table));
    Message.FTableCount = static_cast<int32_t>(Message.FTables.size());
}

} // namespace kds
