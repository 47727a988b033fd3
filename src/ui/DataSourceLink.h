#pragma once

#include "app/DataSource.h"
#include "ui/GridDataSet.h"

namespace kds {

class TMemoryDataSet;

// A grid's view of the dataset behind a data source: observes the source and
// passes each change notice on to its TGridObserver as it comes (a row in, a
// row out, a row changed, a reset, the current row moved), and reads and
// edits the dataset in presented-row terms. Before the dataset is created (or
// with none attached) it has no fields and no rows; losing the dataset is a
// reset.
//
// Does not own the data source, which must outlive the link (the grids go
// before the order book). Window thread only; the edits raise the dataset's
// EDatabaseError.
class TDataSourceLink : public TGridDataSet, private TDataSetObserver {
public:
    explicit TDataSourceLink(TDataSource& Source);
    ~TDataSourceLink() override;
    TDataSourceLink(const TDataSourceLink&) = delete;
    TDataSourceLink& operator=(const TDataSourceLink&) = delete;

    TDataSource& Source() const { return FSource; }

    int FieldCount() const override;
    std::string FieldName(int Field) const override;
    TFieldKind FieldKind(int Field) const override;
    int DisplayWidth(int Field) const override;
    int RowCount() const override;
    std::string DisplayText(int Row, int Field) const override;
    int RecNoOfRow(int Row) const override;
    int CurrentRow() const override;
    void MoveToRow(int Row) override;
    void SetFieldText(int Row, int Field, const std::string& Text) override;
    void AppendRow() override;
    void DeleteRow(int Row) override;

private:
    TMemoryDataSet* Active() const;

    void RowAboutToBeInserted(TMemoryDataSet&, int Row) override;
    void RowInserted(TMemoryDataSet&, int Row) override;
    void RowAboutToBeRemoved(TMemoryDataSet&, int Row) override;
    void RowRemoved(TMemoryDataSet&, int Row) override;
    void RowChanged(TMemoryDataSet&, int Row) override;
    void PresentationAboutToBeReset(TMemoryDataSet&) override;
    void PresentationReset(TMemoryDataSet&) override;
    void CurrentRowChanged(TMemoryDataSet&, int, int) override;
    void DataSourceDetaching(TDataSource&) override;

    TDataSource& FSource;
};

} // namespace kds
