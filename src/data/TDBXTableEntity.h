#pragma once

// The base of typed accessors over a table: each derived entity builds its
// own empty table with a fixed column set and offers one property per
// column, which looks the column up by name on every access and reads or
// writes that column of the table's current row.
//
// Ownership: the entity owns its table until it hands it over, normally to
// the reader that a listing returns (CreateReader). A listing that fails
// while it is being built therefore frees its table with the entity. After
// the handover the entity still refers to the table, so it must not be used
// once the new owner is gone.
//
// Errors (TDBXError): 8 for a column the table does not have, 10 for a
// property while the table is not on a row, 4 for a second handover; a
// property read on a null value gives the value's null answer (empty text,
// 0, false). One thread at a time; no lock.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kds {

class TDBXTable;
class TDBXTableReader;
class TDBXWritableValue;

class TDBXTableEntity {
public:
    // Takes the table; TDBXError 29 for none.
    explicit TDBXTableEntity(std::unique_ptr<TDBXTable> Table);
    TDBXTableEntity(const TDBXTableEntity&) = delete;
    TDBXTableEntity& operator=(const TDBXTableEntity&) = delete;
    virtual ~TDBXTableEntity();

    TDBXTable& Table() const { return *FTable; }
    // Whether the entity still owns (and will free) its table.
    bool OwnTable() const { return FOwnedTable != nullptr; }
    // Hands the table over; TDBXError 4 when it was handed over already.
    std::unique_ptr<TDBXTable> TakeTable();
    // Hands the table to a new reader, which then owns it.
    std::unique_ptr<TDBXTableReader> CreateReader();

protected:
    // The current row's value of the named column.
    TDBXWritableValue& ColumnValue(std::u16string_view Column) const;
    std::u16string GetString(std::u16string_view Column) const;
    void SetString(std::u16string_view Column, const std::u16string& Value);
    int32_t GetInt32(std::u16string_view Column) const;
    void SetInt32(std::u16string_view Column, int32_t Value);
    bool GetBoolean(std::u16string_view Column) const;
    void SetBoolean(std::u16string_view Column, bool Value);

private:
    std::unique_ptr<TDBXTable> FOwnedTable;
    TDBXTable* FTable; // FOwnedTable's, or the new owner's after the handover
};

} // namespace kds
