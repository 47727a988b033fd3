#include "data/DSCommonTable.h"

#include <initializer_list>
#include <memory>
#include <vector>

#include "data/DBXDataTypes.h"
#include "data/TDBXMemoryTable.h"
#include "data/TDBXValueType.h"

namespace kds {

namespace DT = TDBXDataTypes;

namespace {

constexpr int32_t FlagNullable = TDBXValueTypeFlags::Nullable;
constexpr int32_t FlagHidden = TDBXValueTypeFlags::Hidden;
constexpr int32_t TypeText = DT::WideStringType;
constexpr int32_t TypeInt32 = DT::Int32Type;
constexpr int32_t TypeBoolean = DT::BooleanType;

struct TColumnDef {
    std::u16string_view Name;
    std::u16string_view Caption; // empty: the name
    int32_t DataType;
    int64_t Size;
    int32_t Flags;
};

std::unique_ptr<TDBXTable> MakeTable(TDBXContext* Context, std::u16string_view Name,
                                     std::initializer_list<TColumnDef> Defs) {
    std::vector<std::unique_ptr<TDBXValueType>> Columns;
    Columns.reserve(Defs.size());
    for (const TColumnDef& Def : Defs) {
        auto Column = std::make_unique<TDBXValueType>(Context);
        Column->SetName(std::u16string(Def.Name));
        Column->SetCaption(std::u16string(Def.Caption.empty() ? Def.Name : Def.Caption));
        Column->SetDataType(Def.DataType);
        Column->SetSize(Def.Size);
        Column->SetFlags(Def.Flags);
        Columns.push_back(std::move(Column));
    }
    return std::make_unique<TDBXMemoryTable>(Context, std::u16string(Name), std::move(Columns));
}

// A column of a procedure table, sized by its data type.
TColumnDef Procedure(std::u16string_view Name, std::u16string_view Caption, int32_t DataType,
                     int32_t Flags) {
    return {Name, Caption, DataType, ProcedureColumnSize(DataType), Flags};
}

} // namespace

int64_t ProcedureColumnSize(int32_t DataType) {
    switch (DataType) {
    case DT::AnsiStringType:
        return 128;
    case DT::BooleanType:
    case DT::Int8Type:
        return 1;
    case DT::Int16Type:
        return 2;
    case DT::Int32Type:
        return 4;
    case DT::Int64Type:
        return 8;
    case DT::WideStringType:
        return 256;
    default:
        return 0;
    }
}

TDSClassEntity::TDSClassEntity(TDBXContext* DBXContext)
    : TDBXTableEntity(MakeTable(DBXContext, TableName,
                                {{u"PackageName", {}, TypeText, 256, 0},
                                 {u"ClassName", {}, TypeText, 256, 0},
                                 {u"RoleName", {}, TypeText, 256, 0},
                                 {u"LifeCycle", {}, TypeText, 256, 0}})) {}

TDSMethodEntity::TDSMethodEntity(TDBXContext* DBXContext)
    : TDBXTableEntity(MakeTable(DBXContext, TableName,
                                {{u"MethodAlias", {}, TypeText, 256, 0},
                                 {u"ServerClassName", {}, TypeText, 256, 0},
                                 {u"MethodName", {}, TypeText, 256, 0},
                                 {u"RoleName", {}, TypeText, 256, 0}})) {}

TDSMethodParametersEntity::TDSMethodParametersEntity(TDBXContext* DBXContext)
    : TDBXTableEntity(MakeTable(DBXContext, TableName,
                                {{u"MethodAlias", {}, TypeText, 256, 0},
                                 {u"ServerClassName", {}, TypeText, 256, 0},
                                 {u"MethodName", {}, TypeText, 256, 0},
                                 {u"Name", {}, TypeText, 256, 0},
                                 {u"ParameterTypeName", {}, TypeText, 256, 0},
                                 {u"ParameterTypeUnit", {}, TypeText, 256, 0},
                                 {u"ParameterDirection", {}, TypeInt32, 4, 0},
                                 {u"DBXType", {}, TypeInt32, 4, 0},
                                 {u"DBXParameterDirection", {}, TypeInt32, 4, 0}})) {}

TDSPackageEntity::TDSPackageEntity(TDBXContext* DBXContext)
    : TDBXTableEntity(MakeTable(DBXContext, TableName, {{u"PackageName", {}, TypeText, 256, 0}})) {}

TDSConnectionEntity::TDSConnectionEntity(TDBXContext* DBXContext)
    : TDBXTableEntity(MakeTable(DBXContext, TableName,
                                {{u"ConnectionName", {}, TypeText, 128, 0},
                                 {u"ConnectionProperties", {}, TypeText, 2048, 0},
                                 {u"DriverName", {}, TypeText, 128, 0},
                                 {u"DriverProperties", {}, TypeText, 2048, 0}})) {}

TDSProcedureEntity::TDSProcedureEntity(TDBXContext* DBXContext)
    : TDBXTableEntity(
          MakeTable(DBXContext, TableName,
                    {Procedure(u"CatalogName", u"Catalog Name", TypeText, FlagNullable),
                     Procedure(u"SchemaName", u"Schema Name", TypeText, FlagNullable),
                     Procedure(u"ProcedureName", u"Procedure Name", TypeText, FlagNullable),
                     Procedure(u"ProcedureType", u"Procedure Type", TypeText, FlagNullable)})) {}

TDSProcedureParametersEntity::TDSProcedureParametersEntity(TDBXContext* DBXContext)
    : TDBXTableEntity(
          MakeTable(DBXContext, TableName,
                    {Procedure(u"CatalogName", u"Catalog Name", TypeText, FlagNullable),
                     Procedure(u"SchemaName", u"Schema Name", TypeText, FlagNullable),
                     Procedure(u"ProcedureName", u"Procedure Name", TypeText, FlagNullable),
                     Procedure(u"ParameterName", u"Parameter Name", TypeText, FlagNullable),
                     Procedure(u"ParameterMode", u"Parameter Mode", TypeText, FlagNullable),
                     Procedure(u"TypeName", u"Type Name", TypeText, FlagNullable),
                     Procedure(u"Precision", u"Precision", TypeInt32, FlagNullable),
                     Procedure(u"Scale", u"Scale", TypeInt32, FlagNullable),
                     Procedure(u"Ordinal", u"Ordinal", TypeInt32, FlagNullable),
                     Procedure(u"IsNullable", u"Nullable", TypeBoolean, FlagNullable),
                     Procedure(u"DbxDataType", u"DbxType", TypeInt32, FlagHidden),
                     Procedure(u"IsFixedLength", u"Fixed Length", TypeBoolean, FlagHidden),
                     Procedure(u"IsUnicode", u"Unicode", TypeBoolean, FlagHidden),
                     Procedure(u"IsLong", u"Long", TypeBoolean, FlagHidden),
                     Procedure(u"IsUnsigned", u"Unsigned", TypeBoolean, FlagHidden)})) {}

} // namespace kds
