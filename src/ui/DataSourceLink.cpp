#include "ui/DataSourceLink.h"

#include <exception>

#include "app/MemoryDataSet.h"

namespace kds {

TDataSourceLink::TDataSourceLink(TDataSource& Source) : FSource(Source) {
    FSource.AddObserver(this);
}

TDataSourceLink::~TDataSourceLink() {
    FSource.RemoveObserver(this);
}

TMemoryDataSet* TDataSourceLink::Active() const {
    TMemoryDataSet* DataSet = FSource.DataSet();
    return DataSet && DataSet->Active() ? DataSet : nullptr;
}

// The dataset's notices, passed on as they come: its presented rows are the
// grid's rows.
void TDataSourceLink::RowAboutToBeInserted(TMemoryDataSet&, int Row) {
    if (TGridObserver* O = Observer())
        O->RowAboutToBeInserted(Row);
}

void TDataSourceLink::RowInserted(TMemoryDataSet&, int Row) {
    if (TGridObserver* O = Observer())
        O->RowInserted(Row);
}

void TDataSourceLink::RowAboutToBeRemoved(TMemoryDataSet&, int Row) {
    if (TGridObserver* O = Observer())
        O->RowAboutToBeRemoved(Row);
}

void TDataSourceLink::RowRemoved(TMemoryDataSet&, int Row) {
    if (TGridObserver* O = Observer())
        O->RowRemoved(Row);
}

void TDataSourceLink::RowChanged(TMemoryDataSet&, int Row) {
    if (TGridObserver* O = Observer())
        O->RowChanged(Row);
}

void TDataSourceLink::PresentationAboutToBeReset(TMemoryDataSet&) {
    if (TGridObserver* O = Observer())
        O->AboutToReset();
}

void TDataSourceLink::PresentationReset(TMemoryDataSet&) {
    if (TGridObserver* O = Observer())
        O->Reset();
}

void TDataSourceLink::CurrentRowChanged(TMemoryDataSet&, int, int) {
    if (TGridObserver* O = Observer())
        O->CurrentMoved();
}

void TDataSourceLink::DataSourceDetaching(TDataSource&) {
    // The dataset has gone already: no fields, no rows from here on. The
    // observer's picture (it keeps its own counts) is replaced in one reset.
    if (TGridObserver* O = Observer()) {
        O->AboutToReset();
        O->Reset();
    }
}

int TDataSourceLink::FieldCount() const {
    const TMemoryDataSet* DataSet = Active();
    return DataSet ? DataSet->FieldCount() : 0;
}

std::string TDataSourceLink::FieldName(int Field) const {
    return Active()->Fields(Field).FieldName();
}

TGridDataSet::TFieldKind TDataSourceLink::FieldKind(int Field) const {
    return Active()->Fields(Field).DataType() == TFieldType::ftFloat ? TFieldKind::Float
                                                                     : TFieldKind::Text;
}

int TDataSourceLink::DisplayWidth(int Field) const {
    const TField& F = Active()->Fields(Field);
    return F.DataType() == TFieldType::ftFloat ? 10 : F.Size();
}

int TDataSourceLink::RowCount() const {
    const TMemoryDataSet* DataSet = Active();
    return DataSet ? DataSet->RowCount() : 0;
}

std::string TDataSourceLink::DisplayText(int Row, int Field) const {
    const TMemoryDataSet* DataSet = Active();
    return DataSet ? DataSet->DisplayTextAt(Row, Field) : std::string();
}

int TDataSourceLink::RecNoOfRow(int Row) const {
    const TMemoryDataSet* DataSet = Active();
    return DataSet ? DataSet->RecNoAt(Row) : -1;
}

int TDataSourceLink::CurrentRow() const {
    const TMemoryDataSet* DataSet = Active();
    return DataSet ? DataSet->CurrentRow() : -1;
}

void TDataSourceLink::MoveToRow(int Row) {
    if (TMemoryDataSet* DataSet = Active())
        DataSet->MoveToRow(Row);
}

void TDataSourceLink::SetFieldText(int Row, int Field, const std::string& Text) {
    TMemoryDataSet* DataSet = Active();
    if (!DataSet)
        return;
    if (Row != DataSet->CurrentRow())
        DataSet->MoveToRow(Row);
    const bool WasBrowsing = DataSet->State() == TDataSetState::dsBrowse;
    if (WasBrowsing)
        DataSet->Edit();
    try {
        DataSet->Fields(Field).SetAsString(Text);
    } catch (...) {
        // The value was refused: leave the row as it was, not half-edited.
        if (WasBrowsing)
            DataSet->Cancel();
        throw;
    }
    // A stored row's edit is stored at once; the row being appended stays
    // pending until the operator leaves it, as every navigation stores it.
    if (DataSet->State() == TDataSetState::dsEdit)
        DataSet->Post();
}

void TDataSourceLink::AppendRow() {
    if (TMemoryDataSet* DataSet = Active())
        DataSet->Append();
}

void TDataSourceLink::DeleteRow(int Row) {
    TMemoryDataSet* DataSet = Active();
    if (!DataSet)
        return;
    if (Row != DataSet->CurrentRow())
        DataSet->MoveToRow(Row);
    DataSet->Delete();
}

} // namespace kds
