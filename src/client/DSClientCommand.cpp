#include "client/DSClientCommand.h"

#include "client/DSClientConnection.h"
#include "client/DSClientTableReader.h"
#include "data/DBXDataTypes.h"
#include "server/wire/DBXStream.h"
#include "server/wire/WireLimits.h"

namespace kds {

namespace {

// Room enough that every text or byte field of a request fits inline up to
// the field limit of 65535 bytes.
constexpr int32_t RequestRowBufferSize = 128 * 1024;

bool IsInput(const TDBXParameter& P) {
    return P.ParameterDirection() == TDBXParameterDirections::InParameter ||
           P.ParameterDirection() == TDBXParameterDirections::InOutParameter;
}

} // namespace

// The rest of a long value of the parameter row: more_blob with row 0, the
// out flag and row handle -1.
class TDSClientCommand::TLongValues : public TDBXLongValueSource {
public:
    explicit TLongValues(TDSClientCommand& Command) : FCommand(Command) {}
    void FetchRest(TDBXRowBuffer&, int32_t Ordinal, int64_t, std::vector<uint8_t>& Bytes) override {
        FCommand.FConnection.FetchLongValue(FCommand.FHandle, 0, Ordinal, true, -1, Bytes);
    }

private:
    TDSClientCommand& FCommand;
};

TDSClientCommand::TDSClientCommand(TDSClientConnection& Connection)
    : FConnection(Connection), FRowBuffer(Connection.Context()),
      FRow(Connection.Context(), &FRowBuffer),
      FParameters(std::make_unique<TDBXParameterList>(Connection.Context(), &FRow)),
      FLongValues(std::make_unique<TLongValues>(*this)) {
    FRowBuffer.SetClient(true);
    FRowBuffer.SetMinBufSize(RequestRowBufferSize);
    FRowBuffer.SetLongValueSource(FLongValues.get());
}

TDSClientCommand::~TDSClientCommand() {
    CloseTables();
}

void TDSClientCommand::CloseTables() noexcept {
    for (auto& Table : FTables)
        Table->Abandon();
    FTables.clear();
}

void TDSClientCommand::Prepare(std::u16string_view Text, std::u16string_view CommandType) {
    FConnection.Guarded([&] {
        TDBXJSonStreamWriter& W = FConnection.Writer();
        TDBXJSonStreamReader& R = FConnection.Reader();
        FConnection.BeginRequest("prepare");
        W.WriteInt(-1);
        W.WriteValueSeparator();
        W.WriteBoolean(false);
        W.WriteValueSeparator();
        W.WriteString(CommandType);
        W.WriteValueSeparator();
        W.WriteString(Text);
        FConnection.EndRequest();
        if (FConnection.ReadReplyStart() != TDBXStringCodes::Result)
            throw TDSProtocolError("The prepare reply is not a result");
        R.Next(TDBXTokens::ArrayStart);
        int32_t T = R.Next();
        while (T == TDBXTokens::ObjectStart) {
            R.Next(TDBXTokens::StringStart);
            const int32_t Key = R.ReadStringCode();
            R.Next(TDBXTokens::NameSeparator);
            if (Key == TDBXStringCodes::Handle) {
                R.Next(TDBXTokens::ArrayStart);
                FHandle = R.ReadInt();
                R.Next(TDBXTokens::ArrayEnd);
                R.Next(TDBXTokens::ObjectEnd);
            } else if (Key == TDBXStringCodes::Parameters) {
                ReadParameterList();
            } else {
                R.SkipToEndOfObject();
            }
            T = R.Next();
            if (T == TDBXTokens::ValueSeparator)
                T = R.Next();
        }
        if (T != TDBXTokens::ArrayEnd)
            R.UnexpectedToken(TDBXTokens::ArrayEnd, T);
        R.Next(TDBXTokens::ObjectEnd);
        if (FHandle < 0)
            throw TDSProtocolError("The prepare reply carries no command handle");
    });
}

void TDSClientCommand::ReadParameterList() {
    TDBXJSonStreamReader& R = FConnection.Reader();
    R.Next(TDBXTokens::ArrayStart);
    const int32_t Count = R.ReadInt();
    if (Count < 0 || Count > WireLimits::MaxParameters)
        R.BoundExceeded("Parameter count " + std::to_string(Count) + " is outside 0.." +
                        std::to_string(WireLimits::MaxParameters));
    auto List = std::make_unique<TDBXParameterList>(FConnection.Context(), &FRow);
    List->SetCount(Count);
    int32_t T = R.Next();
    for (int32_t I = 0; I < Count && T == TDBXTokens::ValueSeparator; ++I) {
        ReadParameterType(List->Parameter(I));
        T = R.Next();
    }
    if (T != TDBXTokens::ArrayEnd)
        R.UnexpectedToken(TDBXTokens::ArrayEnd, T);
    R.Next(TDBXTokens::ObjectEnd);
    FParameters = std::move(List);
}

void TDSClientCommand::ReadParameterType(TDBXParameter& Parameter) {
    TDBXJSonStreamReader& R = FConnection.Reader();
    R.Next(TDBXTokens::ArrayStart);
    Parameter.SetDataType(R.ReadInt());
    R.NextValueSeparator();
    Parameter.SetSubType(R.ReadInt());
    R.NextValueSeparator();
    Parameter.SetParameterDirection(R.ReadInt());
    R.NextValueSeparator();
    Parameter.SetPrecision(R.ReadLong());
    R.NextValueSeparator();
    Parameter.SetScale(R.ReadInt());
    R.NextValueSeparator();
    Parameter.SetName(R.ReadString());
    R.NextValueSeparator();
    Parameter.SetChildPosition(R.ReadInt());
    R.NextValueSeparator();
    Parameter.SetSize(R.ReadLong());
    int32_t T = R.Next();
    if (T == TDBXTokens::ValueSeparator) {
        const int32_t Flags = R.ReadInt();
        Parameter.SetFlags(Flags | TDBXValueTypeFlags::ExtendedType);
        T = R.Next();
        if (T == TDBXTokens::ValueSeparator && (Flags & TDBXValueTypeFlags::Literal) != 0) {
            Parameter.Value().SetWideString(R.ReadString());
            T = R.Next();
        }
    }
    if (T == TDBXTokens::ValueSeparator)
        R.SkipToEndOfArray();
    else if (T != TDBXTokens::ArrayEnd)
        R.UnexpectedToken(TDBXTokens::ArrayEnd, T);
}

void TDSClientCommand::EncodeRequestRow() {
    FRowBuffer.StartOver();
    int32_t Last = -1;
    for (int32_t I = 0; I < FParameters->Count(); ++I)
        if (IsInput(FParameters->Parameter(I)))
            Last = I;
    for (int32_t I = 0; I <= Last; ++I) {
        TDBXParameter& P = FParameters->Parameter(I);
        TDBXWritableValue& V = P.Value();
        if (!IsInput(P) || !V.SetPending())
            V.SetNull();
        V.Flush();
        if (V.OverflowStream() != nullptr)
            throw TDSClientError("The value of parameter " + std::to_string(I) +
                                 " is longer than one field holds (65535 bytes)");
    }
}

void TDSClientCommand::Execute() {
    if (FClosed || FHandle < 0)
        throw TDSClientError("The command is not prepared");
    // Values are encoded first: a value that cannot be is the caller's
    // error, not the connection's.
    EncodeRequestRow();
    bool HasInput = false;
    for (int32_t I = 0; I < FParameters->Count(); ++I)
        HasInput = HasInput || IsInput(FParameters->Parameter(I));
    FConnection.Guarded([&] {
        CloseTables();
        FRowsAffected = -1;
        TDBXJSonStreamWriter& W = FConnection.Writer();
        FConnection.BeginRequest("execute");
        W.WriteHandleObject(FHandle);
        if (HasInput) {
            W.WriteValueSeparator();
            W.WriteDataObject(FRowBuffer.Data(), FRowBuffer.Size());
        }
        FConnection.EndRequest();
        ReadExecuteReply();
    });
}

void TDSClientCommand::ReadExecuteReply() {
    TDBXJSonStreamReader& R = FConnection.Reader();
    if (FConnection.ReadReplyStart() != TDBXStringCodes::Result)
        throw TDSProtocolError("The execute reply is not a result");
    std::vector<uint8_t> Row;
    R.Next(TDBXTokens::ArrayStart);
    int32_t T = R.Next();
    while (T == TDBXTokens::ObjectStart) {
        R.Next(TDBXTokens::StringStart);
        const int32_t Key = R.ReadStringCode();
        R.Next(TDBXTokens::NameSeparator);
        switch (Key) {
        case TDBXStringCodes::Rows:
            R.Next(TDBXTokens::ArrayStart);
            FRowsAffected = R.ReadLong();
            R.Next(TDBXTokens::ArrayEnd);
            R.Next(TDBXTokens::ObjectEnd);
            break;
        case TDBXStringCodes::Parameters:
            ReadParameterList();
            break;
        case TDBXStringCodes::Data:
            FConnection.ReadDataObjectBody(Row);
            break;
        case TDBXStringCodes::Table:
            FTables.push_back(TDSClientTableReader::ReadTableObject(FConnection));
            break;
        default:
            R.SkipToEndOfObject();
            break;
        }
        T = R.Next();
        if (T == TDBXTokens::ValueSeparator)
            T = R.Next();
    }
    if (T != TDBXTokens::ArrayEnd)
        R.UnexpectedToken(TDBXTokens::ArrayEnd, T);
    R.Next(TDBXTokens::ObjectEnd);
    for (size_t I = 0; I < FTables.size(); ++I) {
        if (I > 0)
            R.NextValueSeparator();
        FTables[I]->ReadFirstBatch();
    }
    FRowBuffer.SetReadBytes(Row.data(), static_cast<int32_t>(Row.size()));
}

TDSClientTableReader* TDSClientCommand::Table(int32_t Ordinal) {
    TDBXParameter& P = FParameters->Parameter(Ordinal);
    if (P.DataType() != TDBXDataTypes::TableType)
        return nullptr;
    int32_t RowHandle = -1;
    bool IsNull = true;
    FRow.GetDBXReader(P.Value(), RowHandle, IsNull);
    if (IsNull)
        return nullptr;
    for (auto& Reader : FTables)
        if (Reader->RowHandle() == RowHandle)
            return Reader.get();
    return nullptr;
}

void TDSClientCommand::Close() {
    if (FClosed)
        return;
    FClosed = true;
    CloseTables();
    if (FHandle < 0 || !FConnection.IsOpen())
        return;
    FConnection.Guarded([&] {
        FConnection.BeginRequest("command_close");
        FConnection.Writer().WriteInt(FHandle);
        FConnection.EndRequest();
    });
}

} // namespace kds
