#pragma once

// A table: a named, fixed set of typed columns over a list of rows with a
// current row. The administrative listings build one in memory
// (TDBXMemoryTable), fill it row by row and hand it out through a
// TDBXTableReader.
//
// Navigation: First moves to the first row, Next one row on, InBounds tells
// whether the current position is a row. Value(i) is the current row's value
// of column i. Insert appends a row of null values and makes it current;
// rows are live at once, so Post and AcceptChanges have nothing to do.
//
// Errors, all TDBXError: 8 for a column that does not exist (with the text
// "Table cannot use column <name> in an order by operation since it does
// not exist" when it was asked for to order or search by), 10 for Value or
// DeleteRow while the table is not on a row, 29 for a search key that does
// not convert to the column's type, and whatever a value raises when it is
// set or compared (7 for the wrong kind, 27 for a kind without an order).
//
// A table belongs to one thread at a time (the one building or streaming
// it) and has no lock.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kds {

class TDBXValueType;
class TDBXWritableValue;

class TDBXTable {
public:
    TDBXTable(const TDBXTable&) = delete;
    TDBXTable& operator=(const TDBXTable&) = delete;
    virtual ~TDBXTable() = default;

    virtual const std::u16string& TableName() const = 0;

    // --- Columns. Each column type's ordinal is its index. ---
    virtual int32_t ColumnCount() const = 0;
    // TDBXError 8 outside the columns.
    virtual const TDBXValueType& Column(int32_t Ordinal) const = 0;
    // The ordinal of the column of that name (ASCII letters without regard
    // to case), or -1.
    virtual int32_t GetOrdinal(std::u16string_view Name) const = 0;
    // Replaces the columns with copies of Source's (names, display names,
    // types, sizes, flags); the rows are dropped.
    virtual void CopyColumns(const TDBXTable& Source) = 0;

    // --- The current row. ---
    // TDBXError 8 outside the columns, 10 when not on a row.
    virtual TDBXWritableValue& Value(int32_t Ordinal) = 0;
    // Moves to the first row; false when there is none.
    virtual bool First() = 0;
    // Moves one row on; false once past the last row.
    virtual bool Next() = 0;
    virtual bool InBounds() const = 0;
    virtual int64_t GetTableCount() const = 0;

    // --- Editing. ---
    // Appends a row with one new null value per column and makes it current.
    virtual void Insert() = 0;
    virtual void Post() = 0;
    // Removes the current row; the row after it becomes current.
    // TDBXError 10 when not on a row.
    virtual void DeleteRow() = 0;
    // Removes every row; the columns stay.
    virtual void Clear() = 0;
    // Releases the rows; the columns stay readable.
    virtual void Close() = 0;
    virtual void AcceptChanges() = 0;
    // Appends copies of every row of Source, whose columns must match this
    // table's in number and kind (TDBXError 29 otherwise). All rows or none
    // are appended; the current row stays where it was and Source is left
    // on its first row.
    virtual void CopyFrom(TDBXTable& Source) = 0;

    // --- Order and search. ---
    // Sorts the rows by column Ordinal unless they are in that order
    // already, then searches for a row whose value equals Value converted
    // to the column's type; a row found becomes current. An empty table
    // answers false and is left as it is.
    virtual bool FindStringKey(int32_t Ordinal, const std::u16string& Value) = 0;
    // A new table with copies of the columns and rows, sorted by the named
    // column. This table is left as it is.
    virtual std::unique_ptr<TDBXTable> CreateTableView(const std::u16string& OrderByColumnName) = 0;

protected:
    TDBXTable() = default;
};

} // namespace kds
