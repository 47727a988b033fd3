#pragma once

// The tables of the administrative listings, each behind a typed entity
// whose constructor builds the empty table with its fixed columns. Column
// precision, scale, sub type and direction are 0; flags are 0 except where
// a table lists them (nullable 1, hidden 64). Display names are captions
// only: the table object on the wire carries the column names. Every
// property looks its column up by name and reads or writes the current row.
//
// A listing: make the entity, Insert a row per item into Table() and set its
// properties, then return CreateReader(). Ownership, threads and errors as
// TDBXTableEntity.h states.

#include <cstdint>
#include <string>
#include <string_view>

#include "data/TDBXTableEntity.h"

namespace kds {

class TDBXContext;

// The column size of the procedure tables for a data type: 128 for 8-bit
// text, 1 for Boolean and 8-bit integers, 2, 4 and 8 for 16-, 32- and
// 64-bit integers, 256 for UTF-16 text, 0 for the rest.
int64_t ProcedureColumnSize(int32_t DataType);

#define KDS_ENTITY_TEXT(Property, Column)                                                          \
    std::u16string Property() const {                                                              \
        return GetString(Column);                                                                  \
    }                                                                                              \
    void Set##Property(const std::u16string& Value) {                                              \
        SetString(Column, Value);                                                                  \
    }
#define KDS_ENTITY_INT32(Property, Column)                                                         \
    int32_t Property() const {                                                                     \
        return GetInt32(Column);                                                                   \
    }                                                                                              \
    void Set##Property(int32_t Value) {                                                            \
        SetInt32(Column, Value);                                                                   \
    }
#define KDS_ENTITY_BOOLEAN(Property, Column)                                                       \
    bool Property() const {                                                                        \
        return GetBoolean(Column);                                                                 \
    }                                                                                              \
    void Set##Property(bool Value) {                                                               \
        SetBoolean(Column, Value);                                                                 \
    }

// "ClassTable": the server classes.
class TDSClassEntity : public TDBXTableEntity {
public:
    static constexpr std::u16string_view TableName = u"ClassTable";
    explicit TDSClassEntity(TDBXContext* DBXContext = nullptr);

    KDS_ENTITY_TEXT(PackageName, u"PackageName")
    KDS_ENTITY_TEXT(ServerClassName, u"ClassName")
    KDS_ENTITY_TEXT(RoleName, u"RoleName")
    KDS_ENTITY_TEXT(LifeCycle, u"LifeCycle")
};

// "MethodTable": the server methods.
class TDSMethodEntity : public TDBXTableEntity {
public:
    static constexpr std::u16string_view TableName = u"MethodTable";
    explicit TDSMethodEntity(TDBXContext* DBXContext = nullptr);

    KDS_ENTITY_TEXT(MethodAlias, u"MethodAlias")
    KDS_ENTITY_TEXT(ServerClassName, u"ServerClassName")
    KDS_ENTITY_TEXT(ServerMethodName, u"MethodName")
    KDS_ENTITY_TEXT(RoleName, u"RoleName")
};

// "MethodParametersTable": the parameters of the server methods.
class TDSMethodParametersEntity : public TDBXTableEntity {
public:
    static constexpr std::u16string_view TableName = u"MethodParametersTable";
    explicit TDSMethodParametersEntity(TDBXContext* DBXContext = nullptr);

    KDS_ENTITY_TEXT(MethodAlias, u"MethodAlias")
    KDS_ENTITY_TEXT(ServerClassName, u"ServerClassName")
    KDS_ENTITY_TEXT(ServerMethodName, u"MethodName")
    KDS_ENTITY_TEXT(ParameterName, u"Name")
    KDS_ENTITY_TEXT(ParameterTypeName, u"ParameterTypeName")
    KDS_ENTITY_TEXT(ParameterTypeUnit, u"ParameterTypeUnit")
    KDS_ENTITY_INT32(ParameterDirection, u"ParameterDirection")
    KDS_ENTITY_INT32(ParameterDBXDataType, u"DBXType")
    KDS_ENTITY_INT32(DBXParameterDirection, u"DBXParameterDirection")
};

// "PackageTable": the packages.
class TDSPackageEntity : public TDBXTableEntity {
public:
    static constexpr std::u16string_view TableName = u"PackageTable";
    explicit TDSPackageEntity(TDBXContext* DBXContext = nullptr);

    KDS_ENTITY_TEXT(PackageName, u"PackageName")
};

// "ConnectionTable": the database connections and their drivers.
class TDSConnectionEntity : public TDBXTableEntity {
public:
    static constexpr std::u16string_view TableName = u"ConnectionTable";
    explicit TDSConnectionEntity(TDBXContext* DBXContext = nullptr);

    KDS_ENTITY_TEXT(ConnectionName, u"ConnectionName")
    KDS_ENTITY_TEXT(ConnectionProperties, u"ConnectionProperties")
    KDS_ENTITY_TEXT(DriverName, u"DriverName")
    KDS_ENTITY_TEXT(DriverProperties, u"DriverProperties")
};

// "ProceduresTable": the server methods seen as stored procedures; every
// column is nullable.
class TDSProcedureEntity : public TDBXTableEntity {
public:
    static constexpr std::u16string_view TableName = u"ProceduresTable";
    explicit TDSProcedureEntity(TDBXContext* DBXContext = nullptr);

    KDS_ENTITY_TEXT(CatalogName, u"CatalogName")
    KDS_ENTITY_TEXT(SchemaName, u"SchemaName")
    KDS_ENTITY_TEXT(ProcedureName, u"ProcedureName")
    KDS_ENTITY_TEXT(ProcedureType, u"ProcedureType")
};

// "ProcedureParameters": the parameters of those procedures; ten nullable
// columns and five hidden ones.
class TDSProcedureParametersEntity : public TDBXTableEntity {
public:
    static constexpr std::u16string_view TableName = u"ProcedureParameters";
    explicit TDSProcedureParametersEntity(TDBXContext* DBXContext = nullptr);

    KDS_ENTITY_TEXT(CatalogName, u"CatalogName")
    KDS_ENTITY_TEXT(SchemaName, u"SchemaName")
    KDS_ENTITY_TEXT(ProcedureName, u"ProcedureName")
    KDS_ENTITY_TEXT(ParameterName, u"ParameterName")
    KDS_ENTITY_TEXT(ParameterMode, u"ParameterMode")
    KDS_ENTITY_TEXT(TypeName, u"TypeName")
    KDS_ENTITY_INT32(Precision, u"Precision")
    KDS_ENTITY_INT32(Scale, u"Scale")
    KDS_ENTITY_INT32(Ordinal, u"Ordinal")
    KDS_ENTITY_BOOLEAN(Nullable, u"IsNullable")
    KDS_ENTITY_INT32(DBXDataType, u"DbxDataType")
    KDS_ENTITY_BOOLEAN(FixedLength, u"IsFixedLength")
    KDS_ENTITY_BOOLEAN(Unicode, u"IsUnicode")
    KDS_ENTITY_BOOLEAN(Long, u"IsLong")
    KDS_ENTITY_BOOLEAN(Unsigned, u"IsUnsigned")
};

#undef KDS_ENTITY_TEXT
#undef KDS_ENTITY_INT32
#undef KDS_ENTITY_BOOLEAN

} // namespace kds
