#include "data/TDBXTableEntity.h"

#include "base/DBXError.h"
#include "base/TextConvert.h"
#include "data/TDBXTable.h"
#include "data/TDBXTableReader.h"
#include "data/TDBXValue.h"

namespace kds {

TDBXTableEntity::TDBXTableEntity(std::unique_ptr<TDBXTable> Table)
    : FOwnedTable(std::move(Table)), FTable(FOwnedTable.get()) {
    if (FTable == nullptr)
        throw TDBXError(TDBXErrorCodes::InvalidArgument, "A table entity needs a table");
}

TDBXTableEntity::~TDBXTableEntity() = default;

std::unique_ptr<TDBXTable> TDBXTableEntity::TakeTable() {
    if (!FOwnedTable)
        throw TDBXError(TDBXErrorCodes::InvalidHandle,
                        "Table " + Utf16ToUtf8(FTable->TableName()) + " was handed over already");
    return std::move(FOwnedTable);
}

std::unique_ptr<TDBXTableReader> TDBXTableEntity::CreateReader() {
    return std::make_unique<TDBXTableReader>(TakeTable());
}

TDBXWritableValue& TDBXTableEntity::ColumnValue(std::u16string_view Column) const {
    const int32_t Ordinal = FTable->GetOrdinal(Column);
    if (Ordinal < 0)
        throw TDBXError(TDBXErrorCodes::InvalidOrdinal,
                        "Table " + Utf16ToUtf8(FTable->TableName()) + " has no column " +
                            Utf16ToUtf8(Column));
    return FTable->Value(Ordinal);
}

std::u16string TDBXTableEntity::GetString(std::u16string_view Column) const {
    return ColumnValue(Column).GetWideString();
}
void TDBXTableEntity::SetString(std::u16string_view Column, const std::u16string& Value) {
    ColumnValue(Column).SetWideString(Value);
}
int32_t TDBXTableEntity::GetInt32(std::u16string_view Column) const {
    return ColumnValue(Column).GetInt32();
}
void TDBXTableEntity::SetInt32(std::u16string_view Column, int32_t Value) {
    ColumnValue(Column).SetInt32(Value);
}
bool TDBXTableEntity::GetBoolean(std::u16string_view Column) const {
    return ColumnValue(Column).GetBoolean();
}
void TDBXTableEntity::SetBoolean(std::u16string_view Column, bool Value) {
    ColumnValue(Column).SetBoolean(Value);
}

} // namespace kds
