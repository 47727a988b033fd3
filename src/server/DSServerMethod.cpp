#include "server/DSServerMethod.h"

#include <cmath>
#include <stdexcept>

#include "base/DBXContext.h"
#include "base/DBXError.h"
#include "base/TextConvert.h"
#include "data/DBXCallback.h"
#include "data/DBXJSON.h"
#include "data/SQLTimeStamp.h"
#include "data/TDBXParameter.h"
#include "data/TDBXReader.h"
#include "data/TDBXRow.h"
#include "data/TDBXValue.h"
#include "server/DSServer.h"
#include "server/DSServerConnectionHandler.h"
#include "server/wire/DBXMessages.h"
#include "server/wire/DBXServerCallback.h"

namespace kds {

namespace DT = TDBXDataTypes;
namespace Dir = TDBXParameterDirections;

namespace {

constexpr const char16_t* ReturnParameterName = u"ReturnParameter";

TSQLTimeStamp DateTimeToSQLTimeStamp(TDateTime Value) {
    double Days = std::floor(Value);
    int64_t Milliseconds = std::llround((Value - Days) * MSecsPerDay);
    if (Milliseconds >= MSecsPerDay) {
        Days += 1;
        Milliseconds -= MSecsPerDay;
    }
    TSQLTimeStamp Stamp;
    int32_t Year = 0, Month = 0, Day = 0;
    DecodeDBXDate(static_cast<TDBXDate>(Days) + DateDelta, Year, Month, Day);
    Stamp.Year = static_cast<int16_t>(Year);
    Stamp.Month = static_cast<uint16_t>(Month);
    Stamp.Day = static_cast<uint16_t>(Day);
    Stamp.Hour = static_cast<uint16_t>(Milliseconds / 3600000);
    Stamp.Minute = static_cast<uint16_t>(Milliseconds / 60000 % 60);
    Stamp.Second = static_cast<uint16_t>(Milliseconds / 1000 % 60);
    Stamp.Fractions = static_cast<uint32_t>(Milliseconds % 1000);
    return Stamp;
}

[[noreturn]] void UnknownDataType(int32_t Ordinal, int32_t DataType) {
    // A plain error: no registered method can reach it, since registration
    // only keeps types with a data type of their own.
    throw std::runtime_error("Unknown data type for parameter " + std::to_string(Ordinal) + ": " +
                             std::to_string(DataType));
}

// Whether an object the method left in Arg goes into the parameter: always
// when the method made it (owned) or for an out or return parameter; an
// in/out parameter keeps its own object when the method left it as it was.
template <typename TSame>
bool TakesObject(const TDBXParameter& P, const TDSArgValue& Arg, TSame Same) {
    if (Arg.OwnsObject() || P.ParameterDirection() != TDBXParameterDirections::InOutParameter)
        return true;
    return !Same();
}

bool HoldsObjects(int32_t DataType) {
    return DataType == DT::TableType || DataType == DT::BinaryBlobType ||
           DataType == DT::VariantType || DataType == DT::JsonValueType;
}

} // namespace

TDSServerMethod::TDSServerMethod(std::shared_ptr<TDSServerMethodProvider> Provider,
                                 std::shared_ptr<const TDSMethodInfo> MethodInfo,
                                 TDSServerConnectionHandler& ServerConnection,
                                 std::unique_ptr<TDBXRow> Row)
    : FProvider(std::move(Provider)), FMethodInfo(std::move(MethodInfo)),
      FServerConnection(&ServerConnection), FRow(std::move(Row)) {
    BuildParameters(FProvider->DbxContext());
}

TDSServerMethod::~TDSServerMethod() = default;

bool TDSServerMethod::HasInvocationLifeCycle() const {
    return FMethodInfo->FClassInfo->FLifeCycle == TDSLifeCycle::Invocation;
}

void TDSServerMethod::BuildParameters(TDBXContext* Context) {
    const TDSMethod& M = Method();
    FParameters = std::make_unique<TDBXParameterList>(Context, FRow.get());
    for (int32_t I = 0; I < M.ParameterCount(); ++I) {
        const TDSTypeInfo& Type = M.ParameterType(I);
        auto P = std::make_unique<TDBXParameter>(Context);
        P->SetName(M.ParameterName(I));
        P->SetDataType(Type.DataType);
        P->SetSubType(Type.SubType);
        P->SetTypeName(Type.TypeName);
        int32_t Direction = Dir::InParameter;
        if (M.ParameterFlag(I) == TDSParamFlag::Out)
            Direction = Dir::OutParameter;
        else if (M.ParameterFlag(I) == TDSParamFlag::Var || Type.IsValueClass)
            Direction = Dir::InOutParameter;
        if (Type.IsValueClass)
            P->SetFlags(TDBXValueTypeFlags::ValueParameter);
        P->SetParameterDirection(Direction);
        if (Direction != Dir::InParameter)
            FHasOutOrReturnParameters = true;
        FParameters->AddParameter(std::move(P));
    }
    if (M.HasResult()) {
        const TDSTypeInfo& Type = M.ReturnType();
        auto P = std::make_unique<TDBXParameter>(Context);
        P->SetName(ReturnParameterName);
        P->SetDataType(Type.DataType);
        P->SetSubType(Type.SubType);
        P->SetTypeName(Type.TypeName);
        P->SetParameterDirection(Dir::ReturnParameter);
        FReturnParameter = P.get();
        FHasOutOrReturnParameters = true;
        FParameters->AddParameter(std::move(P));
    }
    FMethodValues.SetCount(M.ParameterCount());
    FLiterals.resize(static_cast<size_t>(M.ParameterCount()));
}

void TDSServerMethod::SetInstance(TDSMethodInstance Instance) {
    FOwnedInstance = std::move(Instance.Owned);
    FMethodInstance = Instance.Instance;
}

void TDSServerMethod::DestroyInvocationInstance() {
    if (!HasInvocationLifeCycle())
        return;
    FOwnedInstance.Reset();
    FMethodInstance = nullptr;
}

void TDSServerMethod::RenewInvocationInstance() {
    if (!HasInvocationLifeCycle())
        return;
    DestroyInvocationInstance();
    SetInstance(FProvider->GetServerMethodInstance(*FServerConnection, *FMethodInfo));
}

void TDSServerMethod::SetLiteral(int32_t Ordinal, const std::u16string& Text) {
    TDBXContext* Context = FProvider->DbxContext();
    if (Ordinal < 0 || Ordinal >= Method().ParameterCount())
        RaiseDBXError(Context, TDBXErrorCodes::InvalidOrdinal,
                      "Literal argument " + std::to_string(Ordinal) + " has no parameter in " +
                          Utf16ToUtf8(FMethodInfo->FMethodAlias));
    TDBXParameter& P = FParameters->Parameter(Ordinal);
    if (P.DataType() != DT::WideStringType && P.DataType() != DT::AnsiStringType)
        RaiseDBXError(Context, TDBXErrorCodes::InvalidParameter,
                      "Parameter " + Utf16ToUtf8(P.Name()) + " cannot take the literal argument " +
                          Utf16ToUtf8(Text));
    P.SetFlags(P.Flags() | TDBXValueTypeFlags::Literal);
    FLiterals[static_cast<size_t>(Ordinal)] = {true, Text};
    ApplyLiterals();
}

void TDSServerMethod::ApplyLiterals() {
    for (size_t I = 0; I < FLiterals.size(); ++I) {
        if (!FLiterals[I].first)
            continue;
        TDBXWritableValue& V = FParameters->Parameter(static_cast<int32_t>(I)).Value();
        if (V.ValueType().DataType() == DT::AnsiStringType)
            V.SetAnsiString(Utf16ToUtf8(FLiterals[I].second));
        else
            V.SetWideString(FLiterals[I].second);
    }
}

void TDSServerMethod::BindCallback(TDBXWritableValue& Value, int32_t Ordinal,
                                   TDBXExecuteMessage& Message) {
    auto* Delegate = dynamic_cast<TDBXCallbackDelegate*>(Value.GetCallbackValue());
    if (Delegate == nullptr)
        return;
    TDSServer* Server = FServerConnection->Server();
    TDBXConnectionHandler* RequestHandler = Message.GetConnectionHandler();
    Delegate->SetConnectionHandler(RequestHandler);
    Delegate->SetOrdinal(Ordinal);
    Delegate->SetDsServer(Server);
    // Only a request that came over a connection can be called back.
    if (RequestHandler != nullptr)
        Delegate->SetDelegate(new TDBXServerCallback(RequestHandler, Server, Ordinal));
}

void TDSServerMethod::AssignArgument(int32_t Ordinal, TDBXParameter& P, TDSArgValue& Arg) {
    const TDSTypeInfo& Type = Method().ParameterType(Ordinal);
    TDBXWritableValue& V = P.Value();
    if (Type.IsValueClass) {
        Arg.SetValueObject(&V);
        return;
    }
    if (P.ParameterDirection() == Dir::OutParameter || V.IsNull()) {
        Arg.SetNull();
        return;
    }
    switch (P.DataType()) {
    case DT::AnsiStringType:
        Arg.SetAnsiText(V.GetAnsiString());
        break;
    case DT::DateType:
        Arg.SetInteger(V.GetDate());
        break;
    case DT::TimeType:
        Arg.SetInteger(V.GetTime());
        break;
    case DT::BooleanType:
        Arg.SetBoolean(V.GetBoolean());
        break;
    case DT::Int16Type:
        Arg.SetInteger(V.GetInt16());
        break;
    case DT::Int32Type:
        Arg.SetInteger(V.GetInt32());
        break;
    case DT::UInt16Type:
        Arg.SetInteger(V.GetUInt16());
        break;
    case DT::Int64Type:
        Arg.SetInteger(V.GetInt64());
        break;
    case DT::Int8Type:
        Arg.SetInteger(V.GetInt8());
        break;
    case DT::UInt8Type:
        Arg.SetInteger(V.GetUInt8());
        break;
    case DT::DoubleType:
        Arg.SetFloat(V.GetDouble());
        break;
    case DT::SingleType:
        Arg.SetFloat(V.GetSingle());
        break;
    case DT::DateTimeType:
        Arg.SetFloat(SQLTimeStampToDateTime(V.GetTimeStamp()));
        break;
    case DT::CurrencyType:
        Arg.SetBcd(V.GetBcd());
        break;
    case DT::WideStringType:
        // The cached text is copied into the slot's own buffer, which keeps
        // its memory between calls.
        if (auto* Text = dynamic_cast<TDBXTextValue<std::u16string>*>(&V))
            Arg.SetText(Text->Text());
        else
            Arg.SetText(V.GetWideString());
        break;
    case DT::TableType:
        Arg.SetReader(V.GetDBXReader(), false);
        break;
    case DT::BinaryBlobType:
    case DT::VariantType:
        Arg.SetStream(V.GetStream(), false);
        break;
    case DT::DBXConnectionType:
        Arg.SetConnection(V.GetDBXConnection());
        break;
    case DT::JsonValueType:
        Arg.SetJson(V.GetJSONValue(), false);
        break;
    case DT::CallbackType:
        Arg.SetCallback(V.GetCallbackValue());
        break;
    default:
        UnknownDataType(Ordinal, P.DataType());
    }
}

void TDSServerMethod::AssignParameterValues() {
    FMethodValues.ClearReferenceParameters();
    for (int32_t I = 0; I < FMethodValues.Count(); ++I)
        AssignArgument(I, FParameters->Parameter(I), FMethodValues.Arg(I));
}

void TDSServerMethod::ReturnArgument(TDSArgValue& Arg, TDBXParameter& P) {
    TDBXWritableValue& V = P.Value();
    if (Arg.IsNull()) {
        V.SetNull();
        return;
    }
    switch (P.DataType()) {
    case DT::AnsiStringType:
        V.SetAnsiString(Arg.AnsiText());
        break;
    case DT::DateType:
        V.SetDate(static_cast<TDBXDate>(Arg.Integer()));
        break;
    case DT::TimeType:
        V.SetTime(static_cast<TDBXTime>(Arg.Integer()));
        break;
    case DT::BooleanType:
        V.SetBoolean(Arg.Boolean());
        break;
    case DT::Int16Type:
        V.SetInt16(static_cast<int16_t>(Arg.Integer()));
        break;
    case DT::Int32Type:
        V.SetInt32(static_cast<int32_t>(Arg.Integer()));
        break;
    case DT::UInt16Type:
        V.SetUInt16(static_cast<uint16_t>(Arg.Integer()));
        break;
    case DT::Int64Type:
        V.SetInt64(Arg.Integer());
        break;
    case DT::Int8Type:
        V.SetInt8(static_cast<int8_t>(Arg.Integer()));
        break;
    case DT::UInt8Type:
        V.SetUInt8(static_cast<uint8_t>(Arg.Integer()));
        break;
    case DT::DoubleType:
        V.SetDouble(Arg.Float());
        break;
    case DT::SingleType:
        V.SetSingle(static_cast<float>(Arg.Float()));
        break;
    case DT::DateTimeType:
        V.SetTimeStamp(DateTimeToSQLTimeStamp(Arg.Float()));
        break;
    case DT::CurrencyType:
        V.SetBcd(Arg.Bcd());
        break;
    case DT::WideStringType:
        V.SetWideString(Arg.Text());
        break;
    case DT::TableType:
        if (TakesObject(P, Arg, [&] { return V.GetDBXReader() == Arg.Reader(); }))
            V.SetDBXReader(Arg.Reader(), Arg.OwnsObject());
        Arg.DisownObject();
        break;
    case DT::BinaryBlobType:
    case DT::VariantType:
        if (TakesObject(P, Arg, [&] { return V.GetStream() == Arg.Stream(); }))
            V.SetStream(Arg.Stream(), Arg.OwnsObject());
        Arg.DisownObject();
        break;
    case DT::JsonValueType:
        if (TakesObject(P, Arg, [&] { return V.GetJSONValue() == Arg.Json(); }))
            V.SetJSONValue(Arg.Json(), Arg.OwnsObject());
        Arg.DisownObject();
        break;
    case DT::DBXConnectionType:
        V.SetDBXConnection(Arg.Connection());
        break;
    case DT::CallbackType:
        V.SetCallbackValue(Arg.Callback());
        break;
    default:
        UnknownDataType(P.Ordinal(), P.DataType());
    }
}

void TDSServerMethod::ReleaseIncoming(TDBXExecuteMessage& Message,
                                      const std::vector<int32_t>& TookTable) {
    // Readers no parameter took go now.
    Message.FTables.clear();
    for (int32_t Ordinal : TookTable) {
        TDBXParameter& P = FParameters->Parameter(Ordinal);
        FMethodValues.Arg(Ordinal).SetNull();
        // An in/out table that succeeded travels back; every other incoming
        // reader is freed with its value.
        if (P.ParameterDirection() == Dir::InParameter || !Message.FHasOutOrReturnParameters)
            P.Value().SetNull();
    }
}

void TDSServerMethod::Invoke(TDBXExecuteMessage& Message) {
    const TDSMethod& M = Method();
    std::vector<int32_t> TookTable;
    Message.FHasOutOrReturnParameters = false;
    try {
        size_t NextTable = 0;
        for (int32_t I = 0; I < M.ParameterCount(); ++I) {
            TDBXParameter& P = FParameters->Parameter(I);
            const int32_t Direction = P.ParameterDirection();
            switch (P.DataType()) {
            case DT::TableType:
                if (Direction != Dir::OutParameter && NextTable < Message.FTables.size() &&
                    !M.ParameterType(I).IsValueClass) {
                    bool IsNull = false;
                    int32_t RowHandle = -1;
                    try {
                        FRow->GetDBXReader(P.Value(), RowHandle, IsNull);
                    } catch (const TDBXError&) {
                        IsNull = false; // the row carries no field for it
                    }
                    if (!IsNull) {
                        P.Value().SetDBXReader(Message.FTables[NextTable].release(), true);
                        ++NextTable;
                        TookTable.push_back(I);
                    }
                }
                break;
            case DT::DBXConnectionType:
                P.Value().SetDBXConnection(FServerConnection->DbxConnection());
                break;
            case DT::CallbackType:
                if (Direction != Dir::OutParameter)
                    BindCallback(P.Value(), I, Message);
                break;
            default:
                break;
            }
            if (Direction == Dir::OutParameter)
                P.Value().SetNull();
        }
        ApplyLiterals();
        AssignParameterValues();

        M.Invoker()(*FMethodInstance, FMethodValues);

        if (FHasOutOrReturnParameters) {
            bool TableOut = false;
            for (int32_t I = 0; I < FParameters->Count(); ++I) {
                TDBXParameter& P = FParameters->Parameter(I);
                const int32_t Direction = P.ParameterDirection();
                if (Direction == Dir::InParameter)
                    continue;
                if (Direction == Dir::ReturnParameter)
                    ReturnArgument(FMethodValues.Result(), P);
                else if (P.ValueParameter())
                    P.Value().MarkAsPending();
                else
                    ReturnArgument(FMethodValues.Arg(I), P);
                if (P.DataType() == DT::TableType && !P.Value().IsNull())
                    TableOut = true;
            }
            Message.FHasOutOrReturnParameters = true;
            Message.FHasDBXTableReaderOutOrReturnParameter = TableOut;
            Message.FRow = FRow.get();
            Message.FParameters = FParameters.get();
        }
    } catch (...) {
        Message.FHasOutOrReturnParameters = false;
        ReleaseIncoming(Message, TookTable);
        throw;
    }
    ReleaseIncoming(Message, TookTable);
}

bool TDSServerMethod::ClearResources() {
    bool AllReleased = true;
    try {
        FMethodValues.ClearReferenceParameters();
    } catch (...) {
        AllReleased = false;
    }
    for (int32_t I = 0; I < FParameters->Count(); ++I) {
        TDBXParameter& P = FParameters->Parameter(I);
        if (P.ParameterDirection() == Dir::InParameter || !HoldsObjects(P.DataType()) ||
            P.ValueParameter())
            continue;
        try {
            P.Value().SetNull();
        } catch (...) {
            AllReleased = false;
        }
    }
    return AllReleased;
}

} // namespace kds
