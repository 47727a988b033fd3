#pragma once

#include <string>

namespace kds {

// Hears every change of what a TGridDataSet presents, row by row, so that a
// table model can pass each one on as it is instead of starting afresh. Rows
// are 0-based positions at the moment the notice is sent.
//
// - a row appears: RowAboutToBeInserted(Row) before anything changed, then
//   RowInserted(Row) once RowCount() and the rows from Row on reflect it;
// - a row goes: RowAboutToBeRemoved(Row) while it is still readable at Row,
//   then RowRemoved(Row) once it is gone;
// - RowChanged(Row): the values shown in Row changed in place;
// - AboutToReset / Reset: anything may have changed (the fields, the rows,
//   the values); re-read everything after Reset;
// - CurrentMoved: the current row is another one, or stands elsewhere.
//
// The two halves of a pair always come together, with nothing of the same
// dataset between them. Window thread only; a notice must not change the
// dataset it comes from.
class TGridObserver {
public:
    virtual ~TGridObserver() = default;

    virtual void RowAboutToBeInserted(int Row) = 0;
    virtual void RowInserted(int Row) = 0;
    virtual void RowAboutToBeRemoved(int Row) = 0;
    virtual void RowRemoved(int Row) = 0;
    virtual void RowChanged(int Row) = 0;
    virtual void AboutToReset() = 0;
    virtual void Reset() = 0;
    virtual void CurrentMoved() = 0;
};

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

    // The one observer, set by the grid's model (nullptr: none); not owned.
    // It hears every change of the presented rows, as TGridObserver says.
    TGridObserver* Observer() const { return FObserver; }
    void SetObserver(TGridObserver* Observer) { FObserver = Observer; }

private:
    TGridObserver* FObserver = nullptr;
};

} // namespace kds
