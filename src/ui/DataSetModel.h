#pragma once

#include <QAbstractTableModel>
#include <memory>
#include <string>

#include "ui/GridDataSet.h"

namespace kds {

// The table model a TBaseDBGrid shows: one column per field, titled by the
// field name, one row per presented row of the dataset. Each change notice of
// the dataset becomes the item model's own signal, as Qt's models send them:
// a row in (rowsAboutToBeInserted / rowsInserted), a row out (rowsAbout-
// ToBeRemoved / rowsRemoved), a row's values (dataChanged over that one row),
// anything else (modelAboutToBeReset / modelReset). A notice that does not fit
// the model's picture (a fake that skips one, say) ends in a reset instead of
// a wrong picture. The model reports the dataset's current row
// (CurrentRowMoved) so the grid can follow it. setData assigns the field's
// text; its error is reported through AssignmentFailed, not raised.
// Owns the dataset link; the dataset itself belongs to its owner, which must
// keep it alive while it is attached. Window thread only.
class TDataSetModel : public QAbstractTableModel, private TGridObserver {
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

    // A notice of the dataset is being passed on. The views react to the
    // model's signals at once (a selection model moves its current index off
    // a row that goes); such moves come from the dataset and must not go back
    // to it as the operator's: it is in the middle of an operation.
    bool InNotice() const { return FNoticeDepth > 0; }

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
    // What has been begun and awaits its second half.
    enum class TOpen { None, Insert, Remove, Reset };

    void Attach(std::unique_ptr<TGridDataSet> DataSet);
    // The model's picture starts afresh: BeginReset opens a reset unless one
    // is open, EndReset re-reads the counts and closes it (opening it first
    // when a reset came without its "about to").
    void BeginReset();
    void EndReset();

    void RowAboutToBeInserted(int Row) override;
    void RowInserted(int Row) override;
    void RowAboutToBeRemoved(int Row) override;
    void RowRemoved(int Row) override;
    void RowChanged(int Row) override;
    void AboutToReset() override;
    void Reset() override;
    void CurrentMoved() override;

    // Marks a notice being passed on, for InNotice.
    class TNoticeScope {
    public:
        explicit TNoticeScope(TDataSetModel& Model) : FModel(Model) { ++FModel.FNoticeDepth; }
        ~TNoticeScope() { --FModel.FNoticeDepth; }
        TNoticeScope(const TNoticeScope&) = delete;
        TNoticeScope& operator=(const TNoticeScope&) = delete;

    private:
        TDataSetModel& FModel;
    };

    std::unique_ptr<TGridDataSet> FDataSet;
    int FNoticeDepth = 0;
    // The picture the views have: rows and columns as last announced.
    int FRows = 0;
    int FColumns = 0;
    TOpen FOpen = TOpen::None;
};

} // namespace kds
