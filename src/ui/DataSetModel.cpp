#include "ui/DataSetModel.h"

#include <QMetaObject>
#include <algorithm>
#include <exception>
#include <utility>

namespace kds {

TDataSetModel::TDataSetModel(QObject* Parent) : QAbstractTableModel(Parent) {}

TDataSetModel::~TDataSetModel() {
    if (FDataSet) {
        FDataSet->OnDataChanged = nullptr;
        FDataSet->OnCurrentMoved = nullptr;
    }
}

void TDataSetModel::SetDataSet(std::unique_ptr<TGridDataSet> DataSet) {
    Attach(std::move(DataSet));
}

void TDataSetModel::Attach(std::unique_ptr<TGridDataSet> DataSet) {
    beginResetModel();
    if (FDataSet) {
        FDataSet->OnDataChanged = nullptr;
        FDataSet->OnCurrentMoved = nullptr;
    }
    FDataSet = std::move(DataSet);
    FRows = FDataSet ? FDataSet->RowCount() : 0;
    FColumns = FDataSet ? FDataSet->FieldCount() : 0;
    if (FDataSet) {
        FDataSet->OnDataChanged = [this] { DataChanged(); };
        FDataSet->OnCurrentMoved = [this] { CurrentMoved(); };
    }
    endResetModel();
    emit FieldsChanged();
    CurrentMoved();
}

void TDataSetModel::BeginUpdate() {
    ++FUpdateDepth;
}

void TDataSetModel::EndUpdate() {
    if (FUpdateDepth == 0 || --FUpdateDepth > 0)
        return;
    const bool Change = FHeldChange;
    const bool Move = FHeldMove;
    FHeldChange = FHeldMove = false;
    if (Change)
        DataChanged();
    if (Move)
        CurrentMoved();
}

void TDataSetModel::DataChanged() {
    if (!FDataSet)
        return;
    if (FUpdateDepth > 0) {
        FHeldChange = true;
        return;
    }
    const int Rows = FDataSet->RowCount();
    const int Columns = FDataSet->FieldCount();
    if (Rows == FRows && Columns == FColumns) {
        if (Rows > 0 && Columns > 0)
            emit dataChanged(index(0, 0), index(Rows - 1, Columns - 1));
        if (Rows > 0)
            emit headerDataChanged(Qt::Vertical, 0, Rows - 1);
        return;
    }
    if (FResetting) {
        // A view is in the middle of handing an edit over: reset once it is
        // done, not under its feet.
        if (!FResetPending) {
            FResetPending = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    FResetPending = false;
                    DataChanged();
                },
                Qt::QueuedConnection);
        }
        return;
    }
    beginResetModel();
    FRows = Rows;
    const bool FieldsDiffer = Columns != FColumns;
    FColumns = Columns;
    endResetModel();
    if (FieldsDiffer)
        emit FieldsChanged();
    CurrentMoved();
}

void TDataSetModel::CurrentMoved() {
    if (FUpdateDepth > 0) {
        FHeldMove = true;
        return;
    }
    emit CurrentRowMoved(CurrentRow());
}

std::string TDataSetModel::FieldName(int Column) const {
    if (!FDataSet || Column < 0 || Column >= FDataSet->FieldCount())
        return std::string();
    return FDataSet->FieldName(Column);
}

bool TDataSetModel::IsNumericField(int Column) const {
    return FDataSet && Column >= 0 && Column < FDataSet->FieldCount() &&
           FDataSet->FieldKind(Column) == TGridDataSet::TFieldKind::Float;
}

bool TDataSetModel::IsBooleanField(int Column) const {
    return FDataSet && Column >= 0 && Column < FDataSet->FieldCount() &&
           FDataSet->FieldKind(Column) == TGridDataSet::TFieldKind::Boolean;
}

bool TDataSetModel::IsChecked(int Row, int Column) const {
    const QString Text = DisplayText(Row, Column).trimmed();
    return Text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
           Text.compare(QLatin1String("t"), Qt::CaseInsensitive) == 0 ||
           Text.compare(QLatin1String("y"), Qt::CaseInsensitive) == 0 || Text == QLatin1String("1");
}

int TDataSetModel::DisplayWidth(int Column) const {
    if (!FDataSet || Column < 0 || Column >= FDataSet->FieldCount())
        return 0;
    return std::max<int>(FDataSet->DisplayWidth(Column), int(FDataSet->FieldName(Column).size()));
}

QString TDataSetModel::DisplayText(int Row, int Column) const {
    if (!FDataSet || Row < 0 || Row >= FDataSet->RowCount() || Column < 0 ||
        Column >= FDataSet->FieldCount())
        return QString();
    return QString::fromStdString(FDataSet->DisplayText(Row, Column));
}

int TDataSetModel::RecNoOfRow(int Row) const {
    if (!FDataSet || Row < 0 || Row >= FDataSet->RowCount())
        return 0;
    return FDataSet->RecNoOfRow(Row);
}

int TDataSetModel::CurrentRow() const {
    return FDataSet ? FDataSet->CurrentRow() : -1;
}

void TDataSetModel::SetCurrentRow(int Row) {
    if (FDataSet && Row >= 0 && Row < FDataSet->RowCount() && Row != FDataSet->CurrentRow())
        FDataSet->MoveToRow(Row);
}

void TDataSetModel::AppendRow() {
    if (FDataSet)
        FDataSet->AppendRow();
}

void TDataSetModel::DeleteRow(int Row) {
    if (FDataSet && Row >= 0 && Row < FDataSet->RowCount())
        FDataSet->DeleteRow(Row);
}

int TDataSetModel::rowCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : FRows;
}

int TDataSetModel::columnCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : FColumns;
}

QVariant TDataSetModel::data(const QModelIndex& Index, int Role) const {
    if (!Index.isValid() || Index.model() != this)
        return QVariant();
    switch (Role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return DisplayText(Index.row(), Index.column());
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(
            (IsNumericField(Index.column()) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    default:
        return QVariant();
    }
}

QVariant TDataSetModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
    if (Role != Qt::DisplayRole)
        return QVariant();
    if (Orientation == Qt::Horizontal) {
        if (Section < 0 || Section >= FColumns)
            return QVariant();
        return QString::fromStdString(FieldName(Section));
    }
    return QVariant();
}

Qt::ItemFlags TDataSetModel::flags(const QModelIndex& Index) const {
    if (!Index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

bool TDataSetModel::setData(const QModelIndex& Index, const QVariant& Value, int Role) {
    if (!FDataSet || !Index.isValid() || Role != Qt::EditRole ||
        Index.row() >= FDataSet->RowCount() || Index.column() >= FDataSet->FieldCount())
        return false;
    FResetting = true;
    bool Ok = true;
    try {
        FDataSet->SetFieldText(Index.row(), Index.column(), Value.toString().toStdString());
    } catch (const std::exception& E) {
        Ok = false;
        emit AssignmentFailed(QString::fromUtf8(E.what()));
    }
    FResetting = false;
    return Ok;
}

} // namespace kds
