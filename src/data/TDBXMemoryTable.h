#pragma once

// A table held in memory: the columns (owned value types), the rows (each an
// array of owned values, one per column) and the current row index (0 at
// creation). See TDBXTable.h for the operations and their errors.
//
// Row order: a null sorts before any value, two nulls are equal, text values
// compare after ASCII case folding and then by code unit, so that a listing
// comes out in the same order whatever the process locale is; other values
// compare with their own Compare. Sorting is stable: rows with equal keys
// keep the order they had. A sort that fails (a column kind without an
// order) leaves the rows as they were.
//
// The table remembers the column it was last sorted by (OrderByColumn, -1
// when unsorted or after an Insert), but a search also checks the order
// itself, because a value set through Value(i) can break the order without
// the table knowing.
//
// One thread at a time; no lock.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/TDBXTable.h"

namespace kds {

class TDBXContext;
class TDBXValue;

// The row order described above: <0, 0 or >0.
int32_t CompareTableValues(TDBXValue& A, TDBXValue& B);

class TDBXMemoryTable : public TDBXTable {
public:
    // The context (not owned) reports the table's errors and goes to every
    // value the table makes.
    explicit TDBXMemoryTable(TDBXContext* DBXContext = nullptr);
    // A table of these columns; column I gets the ordinal I.
    TDBXMemoryTable(TDBXContext* DBXContext, std::u16string Name,
                    std::vector<std::unique_ptr<TDBXValueType>> Columns);
    ~TDBXMemoryTable() override;

    const std::u16string& TableName() const override { return FName; }
    void SetTableName(std::u16string Name) { FName = std::move(Name); }
    TDBXContext* DBXContext() const { return FDBXContext; }

    int32_t ColumnCount() const override;
    const TDBXValueType& Column(int32_t Ordinal) const override;
    int32_t GetOrdinal(std::u16string_view Name) const override;
    // Replaces the columns (column I gets the ordinal I) and drops the rows.
    void SetColumns(std::vector<std::unique_ptr<TDBXValueType>> Columns);
    void CopyColumns(const TDBXTable& Source) override;

    TDBXWritableValue& Value(int32_t Ordinal) override;
    bool First() override;
    bool Next() override;
    bool InBounds() const override;
    int64_t GetTableCount() const override;
    // The current row index (may be GetTableCount() when past the end).
    int64_t Index() const { return FIndex; }
    // The column the rows were last sorted by, or -1.
    int32_t OrderByColumn() const { return FOrderByColumn; }

    void Insert() override;
    void Post() override {}
    void DeleteRow() override;
    void Clear() override;
    void Close() override;
    void AcceptChanges() override {}
    void CopyFrom(TDBXTable& Source) override;

    bool FindStringKey(int32_t Ordinal, const std::u16string& Value) override;
    std::unique_ptr<TDBXTable> CreateTableView(const std::u16string& OrderByColumnName) override;

private:
    using TValueRow = std::vector<std::unique_ptr<TDBXWritableValue>>;

    void CheckColumn(int32_t Ordinal) const;
    [[noreturn]] void NoOrderColumn(const std::string& Name) const;
    void CheckOnRow() const;
    std::unique_ptr<TValueRow> NewRow() const;
    bool IsSortedBy(int32_t Ordinal) const;
    // Stable sort by the column; the current row stays the same row.
    void SortBy(int32_t Ordinal);
    // A value of column Ordinal's type holding Text converted to that type.
    std::unique_ptr<TDBXWritableValue> KeyValue(int32_t Ordinal, const std::u16string& Text) const;

    TDBXContext* FDBXContext = nullptr; // not owned
    std::u16string FName;
    std::vector<std::unique_ptr<TDBXValueType>> FValueTypes;
    std::vector<std::unique_ptr<TValueRow>> FValueRows;
    int64_t FIndex = 0;
    int32_t FOrderByColumn = -1;
};

} // namespace kds
