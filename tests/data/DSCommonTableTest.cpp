#include "data/DSCommonTable.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "base/DBXError.h"
#include "base/TextConvert.h"
#include "data/TDBXTable.h"
#include "data/TDBXTableReader.h"
#include "data/TDBXValue.h"
#include "data/TDBXValueType.h"
#include "support/ExpectError.h"
#include "support/TestNames.h"

using namespace kds;
namespace DT = TDBXDataTypes;
namespace EC = TDBXErrorCodes;

namespace {

constexpr int32_t N = TDBXValueTypeFlags::Nullable;
constexpr int32_t H = TDBXValueTypeFlags::Hidden;

struct TColumn {
    std::u16string Name;
    std::u16string Caption;
    int32_t DataType;
    int64_t Size;
    int32_t Flags;
};

struct TEntityCase {
    std::string Name;
    std::function<std::unique_ptr<TDBXTableEntity>()> Make;
    std::u16string TableName;
    std::vector<TColumn> Columns;
};
void PrintTo(const TEntityCase& C, std::ostream* Out) {
    *Out << C.Name;
}

template <typename E> std::function<std::unique_ptr<TDBXTableEntity>()> Maker() {
    return [] { return std::make_unique<E>(); };
}

// Sets the property, reads it back and reads the named column of the table,
// so that a property wired to the wrong column shows.
template <typename E>
void ExpectText(E& Entity, std::u16string_view Column, void (E::*Set)(const std::u16string&),
                std::u16string (E::*Get)() const) {
    SCOPED_TRACE(Utf16ToUtf8(Column));
    EXPECT_EQ((Entity.*Get)(), u"");
    const std::u16string Value = u"value of " + std::u16string(Column);
    (Entity.*Set)(Value);
    EXPECT_EQ((Entity.*Get)(), Value);
    const int32_t Ordinal = Entity.Table().GetOrdinal(Column);
    ASSERT_GE(Ordinal, 0);
    EXPECT_EQ(Entity.Table().Value(Ordinal).GetWideString(), Value);
}

template <typename E>
void ExpectInt32(E& Entity, std::u16string_view Column, void (E::*Set)(int32_t),
                 int32_t (E::*Get)() const, int32_t Value) {
    SCOPED_TRACE(Utf16ToUtf8(Column));
    EXPECT_EQ((Entity.*Get)(), 0);
    (Entity.*Set)(Value);
    EXPECT_EQ((Entity.*Get)(), Value);
    const int32_t Ordinal = Entity.Table().GetOrdinal(Column);
    ASSERT_GE(Ordinal, 0);
    EXPECT_EQ(Entity.Table().Value(Ordinal).GetInt32(), Value);
}

template <typename E>
void ExpectBoolean(E& Entity, std::u16string_view Column, void (E::*Set)(bool),
                   bool (E::*Get)() const) {
    SCOPED_TRACE(Utf16ToUtf8(Column));
    EXPECT_FALSE((Entity.*Get)());
    (Entity.*Set)(true);
    EXPECT_TRUE((Entity.*Get)());
    const int32_t Ordinal = Entity.Table().GetOrdinal(Column);
    ASSERT_GE(Ordinal, 0);
    EXPECT_TRUE(Entity.Table().Value(Ordinal).GetBoolean());
}

} // namespace

// ---------------------------------------------------------------------------
// Columns: what the table object announces on the wire.

class DSCommonTableColumnsTest : public ::testing::TestWithParam<TEntityCase> {};

TEST_P(DSCommonTableColumnsTest, EntityBuildsItsEmptyTableWithTheseColumns) {
    const TEntityCase& C = GetParam();
    auto Entity = C.Make();
    TDBXTable& Table = Entity->Table();
    EXPECT_TRUE(Entity->OwnTable());
    EXPECT_EQ(Table.TableName(), C.TableName);
    EXPECT_EQ(Table.GetTableCount(), 0);
    ASSERT_EQ(Table.ColumnCount(), static_cast<int32_t>(C.Columns.size()));
    for (int32_t I = 0; I < Table.ColumnCount(); ++I) {
        const TColumn& Want = C.Columns[static_cast<size_t>(I)];
        const TDBXValueType& Got = Table.Column(I);
        SCOPED_TRACE(Utf16ToUtf8(Want.Name));
        EXPECT_EQ(Got.Name(), Want.Name);
        EXPECT_EQ(Got.Caption(), Want.Caption.empty() ? Want.Name : Want.Caption);
        EXPECT_EQ(Got.DataType(), Want.DataType);
        EXPECT_EQ(Got.Size(), Want.Size);
        EXPECT_EQ(Got.Flags(), Want.Flags);
        EXPECT_EQ(Got.Ordinal(), I);
        EXPECT_EQ(Got.SubType(), 0);
        EXPECT_EQ(Got.Precision(), 0);
        EXPECT_EQ(Got.Scale(), 0);
        EXPECT_EQ(Got.ParameterDirection(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tables, DSCommonTableColumnsTest,
    ::testing::Values(TEntityCase{"ClassTable",
                                  Maker<TDSClassEntity>(),
                                  u"ClassTable",
                                  {{u"PackageName", {}, 26, 256, 0},
                                   {u"ClassName", {}, 26, 256, 0},
                                   {u"RoleName", {}, 26, 256, 0},
                                   {u"LifeCycle", {}, 26, 256, 0}}},
                      TEntityCase{"MethodTable",
                                  Maker<TDSMethodEntity>(),
                                  u"MethodTable",
                                  {{u"MethodAlias", {}, 26, 256, 0},
                                   {u"ServerClassName", {}, 26, 256, 0},
                                   {u"MethodName", {}, 26, 256, 0},
                                   {u"RoleName", {}, 26, 256, 0}}},
                      TEntityCase{"MethodParametersTable",
                                  Maker<TDSMethodParametersEntity>(),
                                  u"MethodParametersTable",
                                  {{u"MethodAlias", {}, 26, 256, 0},
                                   {u"ServerClassName", {}, 26, 256, 0},
                                   {u"MethodName", {}, 26, 256, 0},
                                   {u"Name", {}, 26, 256, 0},
                                   {u"ParameterTypeName", {}, 26, 256, 0},
                                   {u"ParameterTypeUnit", {}, 26, 256, 0},
                                   {u"ParameterDirection", {}, 6, 4, 0},
                                   {u"DBXType", {}, 6, 4, 0},
                                   {u"DBXParameterDirection", {}, 6, 4, 0}}},
                      TEntityCase{"PackageTable",
                                  Maker<TDSPackageEntity>(),
                                  u"PackageTable",
                                  {{u"PackageName", {}, 26, 256, 0}}},
                      TEntityCase{"ConnectionTable",
                                  Maker<TDSConnectionEntity>(),
                                  u"ConnectionTable",
                                  {{u"ConnectionName", {}, 26, 128, 0},
                                   {u"ConnectionProperties", {}, 26, 2048, 0},
                                   {u"DriverName", {}, 26, 128, 0},
                                   {u"DriverProperties", {}, 26, 2048, 0}}},
                      TEntityCase{"ProceduresTable",
                                  Maker<TDSProcedureEntity>(),
                                  u"ProceduresTable",
                                  {{u"CatalogName", u"Catalog Name", 26, 256, N},
                                   {u"SchemaName", u"Schema Name", 26, 256, N},
                                   {u"ProcedureName", u"Procedure Name", 26, 256, N},
                                   {u"ProcedureType", u"Procedure Type", 26, 256, N}}},
                      TEntityCase{"ProcedureParameters",
                                  Maker<TDSProcedureParametersEntity>(),
                                  u"ProcedureParameters",
                                  {{u"CatalogName", u"Catalog Name", 26, 256, N},
                                   {u"SchemaName", u"Schema Name", 26, 256, N},
                                   {u"ProcedureName", u"Procedure Name", 26, 256, N},
                                   {u"ParameterName", u"Parameter Name", 26, 256, N},
                                   {u"ParameterMode", u"Parameter Mode", 26, 256, N},
                                   {u"TypeName", u"Type Name", 26, 256, N},
                                   {u"Precision", u"Precision", 6, 4, N},
                                   {u"Scale", u"Scale", 6, 4, N},
                                   {u"Ordinal", u"Ordinal", 6, 4, N},
                                   {u"IsNullable", u"Nullable", 4, 1, N},
                                   {u"DbxDataType", u"DbxType", 6, 4, H},
                                   {u"IsFixedLength", u"Fixed Length", 4, 1, H},
                                   {u"IsUnicode", u"Unicode", 4, 1, H},
                                   {u"IsLong", u"Long", 4, 1, H},
                                   {u"IsUnsigned", u"Unsigned", 4, 1, H}}}),
    test::TCaseName());

TEST(DSCommonTableTest, ProcedureParametersHasFifteenColumnsFiveOfThemHidden) {
    TDSProcedureParametersEntity Entity;
    auto Reader = Entity.CreateReader();
    ASSERT_EQ(Reader->ColumnCount(), 15);
    int Hidden = 0, Nullable = 0;
    for (int32_t I = 0; I < Reader->ColumnCount(); ++I) {
        const int32_t Flags = Reader->ValueType(I).Flags();
        Hidden += Flags == TDBXValueTypeFlags::Hidden;
        Nullable += Flags == TDBXValueTypeFlags::Nullable;
    }
    EXPECT_EQ(Hidden, 5);
    EXPECT_EQ(Nullable, 10);
}

TEST(DSCommonTableTest, ProcedureColumnSizeFollowsTheDataType) {
    const std::vector<std::pair<int32_t, int64_t>> Sizes = {
        {DT::AnsiStringType, 128}, {DT::BooleanType, 1}, {DT::Int8Type, 1},
        {DT::Int16Type, 2},        {DT::Int32Type, 4},   {DT::Int64Type, 8},
        {DT::WideStringType, 256}, {DT::DoubleType, 0},  {DT::UInt8Type, 0},
        {DT::TableType, 0},        {DT::UnknownType, 0}};
    for (const auto& [DataType, Size] : Sizes)
        EXPECT_EQ(ProcedureColumnSize(DataType), Size) << DataTypeName(DataType);
}

// ---------------------------------------------------------------------------
// Properties: each reads and writes its own column of the current row.

TEST(DSCommonTableTest, ClassEntityPropertiesReadAndWriteTheirColumns) {
    using E = TDSClassEntity;
    E Entity;
    Entity.Table().Insert();
    ExpectText(Entity, u"PackageName", &E::SetPackageName, &E::PackageName);
    ExpectText(Entity, u"ClassName", &E::SetServerClassName, &E::ServerClassName);
    ExpectText(Entity, u"RoleName", &E::SetRoleName, &E::RoleName);
    ExpectText(Entity, u"LifeCycle", &E::SetLifeCycle, &E::LifeCycle);
}

TEST(DSCommonTableTest, MethodEntityPropertiesReadAndWriteTheirColumns) {
    using E = TDSMethodEntity;
    E Entity;
    Entity.Table().Insert();
    ExpectText(Entity, u"MethodAlias", &E::SetMethodAlias, &E::MethodAlias);
    ExpectText(Entity, u"ServerClassName", &E::SetServerClassName, &E::ServerClassName);
    ExpectText(Entity, u"MethodName", &E::SetServerMethodName, &E::ServerMethodName);
    ExpectText(Entity, u"RoleName", &E::SetRoleName, &E::RoleName);
}

TEST(DSCommonTableTest, MethodParametersEntityPropertiesReadAndWriteTheirColumns) {
    using E = TDSMethodParametersEntity;
    E Entity;
    Entity.Table().Insert();
    ExpectText(Entity, u"MethodAlias", &E::SetMethodAlias, &E::MethodAlias);
    ExpectText(Entity, u"ServerClassName", &E::SetServerClassName, &E::ServerClassName);
    ExpectText(Entity, u"MethodName", &E::SetServerMethodName, &E::ServerMethodName);
    ExpectText(Entity, u"Name", &E::SetParameterName, &E::ParameterName);
    ExpectText(Entity, u"ParameterTypeName", &E::SetParameterTypeName, &E::ParameterTypeName);
    ExpectText(Entity, u"ParameterTypeUnit", &E::SetParameterTypeUnit, &E::ParameterTypeUnit);
    ExpectInt32(Entity, u"ParameterDirection", &E::SetParameterDirection, &E::ParameterDirection,
                1);
    ExpectInt32(Entity, u"DBXType", &E::SetParameterDBXDataType, &E::ParameterDBXDataType, 26);
    ExpectInt32(Entity, u"DBXParameterDirection", &E::SetDBXParameterDirection,
                &E::DBXParameterDirection, 4);
}

TEST(DSCommonTableTest, PackageAndConnectionEntityPropertiesReadAndWriteTheirColumns) {
    TDSPackageEntity Package;
    Package.Table().Insert();
    ExpectText(Package, u"PackageName", &TDSPackageEntity::SetPackageName,
               &TDSPackageEntity::PackageName);

    using E = TDSConnectionEntity;
    E Entity;
    Entity.Table().Insert();
    ExpectText(Entity, u"ConnectionName", &E::SetConnectionName, &E::ConnectionName);
    ExpectText(Entity, u"ConnectionProperties", &E::SetConnectionProperties,
               &E::ConnectionProperties);
    ExpectText(Entity, u"DriverName", &E::SetDriverName, &E::DriverName);
    ExpectText(Entity, u"DriverProperties", &E::SetDriverProperties, &E::DriverProperties);
}

TEST(DSCommonTableTest, ProcedureEntityPropertiesReadAndWriteTheirColumns) {
    using E = TDSProcedureEntity;
    E Entity;
    Entity.Table().Insert();
    ExpectText(Entity, u"CatalogName", &E::SetCatalogName, &E::CatalogName);
    ExpectText(Entity, u"SchemaName", &E::SetSchemaName, &E::SchemaName);
    ExpectText(Entity, u"ProcedureName", &E::SetProcedureName, &E::ProcedureName);
    ExpectText(Entity, u"ProcedureType", &E::SetProcedureType, &E::ProcedureType);
}

TEST(DSCommonTableTest, ProcedureParametersEntityPropertiesReadAndWriteTheirColumns) {
    using E = TDSProcedureParametersEntity;
    E Entity;
    Entity.Table().Insert();
    ExpectText(Entity, u"CatalogName", &E::SetCatalogName, &E::CatalogName);
    ExpectText(Entity, u"SchemaName", &E::SetSchemaName, &E::SchemaName);
    ExpectText(Entity, u"ProcedureName", &E::SetProcedureName, &E::ProcedureName);
    ExpectText(Entity, u"ParameterName", &E::SetParameterName, &E::ParameterName);
    ExpectText(Entity, u"ParameterMode", &E::SetParameterMode, &E::ParameterMode);
    ExpectText(Entity, u"TypeName", &E::SetTypeName, &E::TypeName);
    ExpectInt32(Entity, u"Precision", &E::SetPrecision, &E::Precision, 7);
    ExpectInt32(Entity, u"Scale", &E::SetScale, &E::Scale, 2);
    ExpectInt32(Entity, u"Ordinal", &E::SetOrdinal, &E::Ordinal, 3);
    ExpectBoolean(Entity, u"IsNullable", &E::SetNullable, &E::Nullable);
    ExpectInt32(Entity, u"DbxDataType", &E::SetDBXDataType, &E::DBXDataType, 26);
    ExpectBoolean(Entity, u"IsFixedLength", &E::SetFixedLength, &E::FixedLength);
    ExpectBoolean(Entity, u"IsUnicode", &E::SetUnicode, &E::Unicode);
    ExpectBoolean(Entity, u"IsLong", &E::SetLong, &E::Long);
    ExpectBoolean(Entity, u"IsUnsigned", &E::SetUnsigned, &E::Unsigned);
}

TEST(DSCommonTableTest, APropertyOfAnEntityWithoutARowRaises) {
    TDSClassEntity Entity;
    test::ExpectDBXError(EC::EOF_, "Table ClassTable is not on a row",
                         [&] { Entity.ServerClassName(); });
    test::ExpectDBXError(EC::EOF_, "Table ClassTable is not on a row",
                         [&] { Entity.SetLifeCycle(u"Session"); });
}

// ---------------------------------------------------------------------------
// A listing: rows through the properties, handed out as a reader.

TEST(DSCommonTableTest, AListingIsReadBackRowByRowThroughItsReader) {
    std::unique_ptr<TDBXTableReader> Reader;
    {
        TDSClassEntity Entity;
        for (const char16_t* Name : {u"DSAdmin", u"DSMetadata"}) {
            Entity.Table().Insert();
            Entity.SetPackageName(u"");
            Entity.SetServerClassName(Name);
            Entity.SetRoleName(u"");
            Entity.SetLifeCycle(u"Session");
        }
        Reader = Entity.CreateReader();
    }
    ASSERT_EQ(Reader->ColumnCount(), 4);
    EXPECT_EQ(Reader->ValueType(1).Name(), u"ClassName");
    std::vector<std::u16string> Classes;
    while (Reader->Next()) {
        EXPECT_FALSE(Reader->Value(0).IsNull());
        EXPECT_EQ(Reader->Value(0).GetWideString(), u"");
        EXPECT_EQ(Reader->Value(3).GetWideString(), u"Session");
        Classes.push_back(Reader->Value(1).GetWideString());
    }
    EXPECT_EQ(Classes, (std::vector<std::u16string>{u"DSAdmin", u"DSMetadata"}));
}

TEST(DSCommonTableTest, AnEmptyListingGivesAReaderWithoutRows) {
    TDSPackageEntity Entity;
    auto Reader = Entity.CreateReader();
    EXPECT_EQ(Reader->ColumnCount(), 1);
    EXPECT_FALSE(Reader->Next());
}
