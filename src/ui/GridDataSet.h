#pragma once

#include <functional>
#include <string>

namespace kds {

// What a data grid needs of the dataset it shows, in grid terms: the fields
// in order, the presented rows (stored rows, plus the row being appended at
// the end while there is one), the current row, and the few edits the
// operator can make by hand. TDataSourceLink implements it over the order
// book's data sources; tests use fakes. Window thread only.
class TGridDataSet {
public:
    enum class TFieldKind { Text, Float, Boolean };

    virtual ~TGridDataSet() = default;

    virtual int FieldCount() const = 0;
    virtual std::string FieldName(int Field) const = 0;
    virtual TFieldKind FieldKind(int Field) const = 0;
    // A sensible column width, in average characters.
    virtual int DisplayWidth(int Field) const = 0;

    virtual int RowCount() const = 0;
    // The field's display text (UTF-8); empty for null.
    virtual std::string DisplayText(int Row, int Field) const = 0;
    // RecNo of a presented row: 1-based for stored rows, -1 for the row being
    // appended.
    virtual int RecNoOfRow(int Row) const = 0;
    // -1 while there is no current row.
    virtual int CurrentRow() const = 0;
    virtual void MoveToRow(int Row) = 0;

    // Assigns the text to the field of the row (made current first) and
    // stores the row unless it is the row being appended. Raises the field's
    // assignment error.
    virtual void SetFieldText(int Row, int Field, const std::string& Text) = 0;
    // Begins a new row at the end and makes it current.
    virtual void AppendRow() = 0;
    virtual void DeleteRow(int Row) = 0;

    // Set by the grid's model: called after any change of rows or values, and
    // after the current row moved.
    std::function<void()> OnDataChanged;
    std::function<void()> OnCurrentMoved;
};

} // namespace kds
