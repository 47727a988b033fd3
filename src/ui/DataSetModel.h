#pragma once

#include <QAbstractTableModel>
#include <memory>
#include <string>

#include "ui/GridDataSet.h"

namespace kds {

// The table model a TBaseDBGrid shows: one column per field, titled by the
// field name, one row per presented row of the dataset. It resets itself on
// every change notification of the dataset and reports the dataset's current
// row (CurrentRowMoved) so the grid can follow it. setData assigns the
// field's text; its error is reported through AssignmentFailed, not raised.
// Owns the dataset link; the dataset itself belongs to its owner, which must
// keep it alive while it is attached. Window thread only.
class TDataSetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TDataSetModel(QObject* Parent = nullptr);
    ~TDataSetModel() override;

    // Attaches a dataset (nullptr detaches); the model owns the link.
    void SetDataSet(std::unique_ptr<TGridDataSet> DataSet);
    TGridDataSet* DataSet() const { return FDataSet.get(); }
    bool HasDataSet() const { return FDataSet != nullptr; }

    std::string FieldName(int Column) const;
    bool IsNumericField(int Column) const;
    bool IsBooleanField(int Column) const;
    bool IsChecked(int Row, int Column) const;
    int DisplayWidth(int Column) const;
    QString DisplayText(int Row, int Column) const;
    int RecNoOfRow(int Row) const;
    int CurrentRow() const;

    // Holds the change notices back while the caller makes many changes at
    // once (the intake of a folder of orders): each notice would otherwise
    // re-read the whole model and re-lay the view. Meanwhile the model keeps
    // answering from its last picture (every read is bounds-checked against
    // the dataset), and the last EndUpdate catches up in one step. Nests.
    void BeginUpdate();
    void EndUpdate();

    // The operator's edits; they raise the dataset's errors.
    void SetCurrentRow(int Row);
    void AppendRow();
    void DeleteRow(int Row);

    int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation,
                        int Role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& Index) const override;
    bool setData(const QModelIndex& Index, const QVariant& Value, int Role = Qt::EditRole) override;

signals:
    void CurrentRowMoved(int Row);
    void FieldsChanged();
    void AssignmentFailed(const QString& Text);

private:
    void Attach(std::unique_ptr<TGridDataSet> DataSet);
    void DataChanged();
    void CurrentMoved();

    std::unique_ptr<TGridDataSet> FDataSet;
    int FRows = 0;
    int FColumns = 0;
    bool FResetting = false;
    bool FResetPending = false;
    int FUpdateDepth = 0;
    bool FHeldChange = false; // a data notice came while held
    bool FHeldMove = false;   // a current-row notice came while held
};

} // namespace kds
