#include "server/DSReflect.h"

#include <array>

#include "base/AsciiText.h"
#include "base/DBXError.h"
#include "base/TextConvert.h"
#include "data/DBXCallback.h"
#include "data/DBXDataTypes.h"

namespace kds {

namespace DT = TDBXDataTypes;

namespace {

struct TNameMap {
    std::u16string_view From;
    std::u16string_view To;
};

// Simple type names as another language writes them.
constexpr std::array<TNameMap, 12> Normalised{{{u"UnicodeString", u"String"},
                                               {u"short", u"SmallInt"},
                                               {u"bool", u"Boolean"},
                                               {u"__int64", u"Int64"},
                                               {u"float", u"Single"},
                                               {u"double", u"Double"},
                                               {u"int", u"Integer"},
                                               {u"unsigned short", u"Word"},
                                               {u"unsigned long", u"DWord"},
                                               {u"unsigned char", u"Byte"},
                                               {u"signed char", u"ShortInt"},
                                               {u"unsigned", u"LongWord"}}};

struct TSimpleType {
    std::u16string_view Name;
    int32_t DataType;
};

constexpr std::array<TSimpleType, 16> SimpleTypes{{{u"Integer", DT::Int32Type},
                                                   {u"AnsiString", DT::AnsiStringType},
                                                   {u"String", DT::WideStringType},
                                                   {u"TDateTime", DT::DateTimeType},
                                                   {u"Currency", DT::CurrencyType},
                                                   {u"TDBXTime", DT::TimeType},
                                                   {u"TDBXDate", DT::DateType},
                                                   {u"Double", DT::DoubleType},
                                                   {u"Single", DT::SingleType},
                                                   {u"Int64", DT::Int64Type},
                                                   {u"Byte", DT::UInt8Type},
                                                   {u"ShortInt", DT::Int8Type},
                                                   {u"Word", DT::UInt16Type},
                                                   {u"SmallInt", DT::Int16Type},
                                                   {u"Boolean", DT::BooleanType},
                                                   {u"OleVariant", DT::VariantType}}};

struct TClassType {
    std::u16string_view Name;
    std::u16string_view Unit;
    int32_t DataType;
    int32_t SubType;
    bool ValueClass;
};

constexpr std::u16string_view CommonUnit = u"DBXCommon";
constexpr std::u16string_view JsonUnit = u"DBXJSON";
constexpr int32_t ObjectSubType = 40;

constexpr std::array<TClassType, 36> ClassTypes{{
    {u"TDBXWideStringValue", CommonUnit, DT::WideStringType, 0, true},
    {u"TDBXAnsiStringValue", CommonUnit, DT::AnsiStringType, 0, true},
    {u"TDBXReader", CommonUnit, DT::TableType, 0, false},
    {u"TDBXTableReader", CommonUnit, DT::TableType, 0, false},
    {u"TDataSet", CommonUnit, DT::TableType, 0, false},
    {u"TParams", CommonUnit, DT::TableType, 0, false},
    {u"TDBXConnection", CommonUnit, DT::DBXConnectionType, 0, false},
    {u"TStream", CommonUnit, DT::BinaryBlobType, 0, false},
    {u"TMemoryStream", CommonUnit, DT::BinaryBlobType, 0, false},
    {u"TDBXUInt8Value", CommonUnit, DT::UInt8Type, 0, true},
    {u"TDBXInt8Value", CommonUnit, DT::Int8Type, 0, true},
    {u"TDBXUInt16Value", CommonUnit, DT::UInt16Type, 0, true},
    {u"TDBXInt16Value", CommonUnit, DT::Int16Type, 0, true},
    {u"TDBXInt32Value", CommonUnit, DT::Int32Type, 0, true},
    {u"TDBXInt64Value", CommonUnit, DT::Int64Type, 0, true},
    {u"TDBXSingleValue", CommonUnit, DT::SingleType, 0, true},
    {u"TDBXDoubleValue", CommonUnit, DT::DoubleType, 0, true},
    {u"TDBXBcdValue", CommonUnit, DT::BcdType, 0, true},
    {u"TDBXTimeValue", CommonUnit, DT::TimeType, 0, true},
    {u"TDBXDateValue", CommonUnit, DT::DateType, 0, true},
    {u"TDBXTimeStampValue", CommonUnit, DT::TimeStampType, 0, true},
    {u"TDBXTimeStampOffsetValue", CommonUnit, DT::TimeStampOffsetType, 0, true},
    {u"TDBXBooleanValue", CommonUnit, DT::BooleanType, 0, true},
    {u"TDBXReaderValue", CommonUnit, DT::TableType, 0, true},
    {u"TDBXConnectionValue", CommonUnit, DT::DBXConnectionType, 0, true},
    {u"TDBXJSONValue", CommonUnit, DT::JsonValueType, 0, true},
    {u"TDBXStreamValue", CommonUnit, DT::BinaryBlobType, 0, true},
    {u"TJSONValue", JsonUnit, DT::JsonValueType, 0, false},
    {u"TJSONObject", JsonUnit, DT::JsonValueType, 0, false},
    {u"TJSONArray", JsonUnit, DT::JsonValueType, 0, false},
    {u"TJSONString", JsonUnit, DT::JsonValueType, 0, false},
    {u"TJSONNumber", JsonUnit, DT::JsonValueType, 0, false},
    {u"TJSONTrue", JsonUnit, DT::JsonValueType, 0, false},
    {u"TJSONFalse", JsonUnit, DT::JsonValueType, 0, false},
    {u"TJSONNull", JsonUnit, DT::JsonValueType, 0, false},
    {u"TDBXCallback", JsonUnit, DT::CallbackType, 0, false},
}};

// Objects that are none of the above travel as their JSON.
constexpr std::u16string_view ObjectClassName = u"TObject";

} // namespace

std::u16string NormaliseTypeName(std::u16string_view TypeName) {
    for (const TNameMap& M : Normalised)
        if (TypeName == M.From)
            return std::u16string(M.To);
    return std::u16string(TypeName);
}

TDSTypeInfo ResolveType(std::u16string_view TypeName, TDSParamFlag Flag) {
    TDSTypeInfo Info;
    Info.TypeName = NormaliseTypeName(TypeName);
    if (Info.TypeName.empty())
        return Info;
    for (const TClassType& C : ClassTypes) {
        if (SameTextAscii(std::u16string_view(Info.TypeName), C.Name)) {
            Info.IsClass = true;
            Info.UnitName = std::u16string(C.Unit);
            Info.DataType = C.DataType;
            Info.SubType = C.SubType;
            Info.IsValueClass = C.ValueClass;
            return Info;
        }
    }
    if (SameTextAscii(std::u16string_view(Info.TypeName), ObjectClassName)) {
        Info.IsClass = true;
        Info.UnitName = std::u16string(JsonUnit);
        Info.DataType = DT::JsonValueType;
        Info.SubType = ObjectSubType;
        return Info;
    }
    const std::u16string_view Name(Info.TypeName);
    if (SameTextAscii(Name, std::u16string_view(u"WideString"))) {
        if (Flag == TDSParamFlag::In)
            Info.DataType = DT::WideStringType;
        return Info;
    }
    for (const TSimpleType& S : SimpleTypes) {
        if (SameTextAscii(Name, S.Name)) {
            Info.DataType = S.DataType;
            return Info;
        }
    }
    return Info;
}

TDSMethod::TDSMethod(const TDSClass& MethodClass, const TDSMethodDecl& Decl)
    : FMethodName(Decl.Name), FMethodClass(&MethodClass), FInvoker(Decl.Invoker),
      FAuthRole(Decl.AuthRole), FIsConstructor(Decl.IsConstructor),
      FIsDestructor(Decl.IsDestructor) {
    FParameterTypes.reserve(Decl.Parameters.size());
    for (const TDSParameterDecl& P : Decl.Parameters) {
        FParameterTypes.push_back(ResolveType(P.TypeName, P.Flag));
        FParameterNames.push_back(P.Name);
        FParameterFlags.push_back(P.Flag);
    }
    FReturnType = ResolveType(Decl.ResultType);
}

bool TDSMethod::Qualifies() const {
    if (FIsConstructor || FIsDestructor || FInvoker == nullptr)
        return false;
    if (FReturnType.IsValueClass)
        return false;
    if (!FReturnType.IsVoid() && !FReturnType.HasDataType())
        return false;
    for (size_t I = 0; I < FParameterTypes.size(); ++I) {
        if (!FParameterTypes[I].HasDataType())
            return false;
        if (FParameterTypes[I].IsValueClass && FParameterFlags[I] != TDSParamFlag::In)
            return false;
    }
    return true;
}

TDSClass::TDSClass(std::u16string ClassName, std::u16string UnitName, const TDSClass* Ancestor,
                   TFactory Factory, std::vector<TDSMethodDecl> Methods, std::u16string AuthRole)
    : FClassName(std::move(ClassName)), FUnitName(std::move(UnitName)), FAncestor(Ancestor),
      FFactory(Factory), FDecls(std::move(Methods)), FAuthRole(std::move(AuthRole)) {
    for (const TDSClass* C = this; C != nullptr; C = C->FAncestor) {
        for (const TDSMethodDecl& Decl : C->FDecls) {
            auto Method = std::make_shared<const TDSMethod>(*C, Decl);
            if (Method->Qualifies())
                FMethods.push_back(std::move(Method));
        }
    }
}

std::unique_ptr<TObject> TDSClass::CreateInstance() const {
    if (FFactory == nullptr)
        throw TDBXError(TDBXErrorCodes::NotSupported,
                        "Class " + Utf16ToUtf8(FClassName) + " cannot be instantiated");
    return FFactory();
}

std::shared_ptr<const TDSMethod> TDSClass::FindMethod(std::u16string_view MethodName) const {
    for (const auto& M : FMethods)
        if (SameTextAscii(std::u16string_view(M->MethodName()), MethodName))
            return M;
    return nullptr;
}

bool TDSClass::InheritsFrom(const TDSClass& Other) const {
    for (const TDSClass* C = this; C != nullptr; C = C->FAncestor)
        if (C == &Other)
            return true;
    return false;
}

} // namespace kds
