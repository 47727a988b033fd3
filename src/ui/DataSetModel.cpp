#include "ui/DataSetModel.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace kds {

TDataSetModel::TDataSetModel(QObject* Parent) : QAbstractTableModel(Parent) {}

TDataSetModel::~TDataSetModel() {
    if (FDataSet)
        FDataSet->SetObserver(nullptr);
}

void TDataSetModel::SetDataSet(std::unique_ptr<TGridDataSet> DataSet) {
    Attach(std::move(DataSet));
}

void TDataSetModel::Attach(std::unique_ptr<TGridDataSet> DataSet) {
    beginResetModel();
    if (FDataSet)
        FDataSet->SetObserver(nullptr);
    FDataSet = std::move(DataSet);
    FRows = FDataSet ? FDataSet->RowCount() : 0;
    FColumns = FDataSet ? FDataSet->FieldCount() : 0;
    FOpen = TOpen::None;
    if (FDataSet)
        FDataSet->SetObserver(this);
    endResetModel();
    emit FieldsChanged();
    CurrentMoved();
}

// ---------------------------------------------------------------- notices

void TDataSetModel::BeginReset() {
    if (FOpen == TOpen::Reset)
        return;
    // A pair left half-sent (a notice out of step) is closed first, so that
    // every begin the views saw has its end; the reset then re-reads it all.
    if (FOpen == TOpen::Insert) {
        ++FRows;
        endInsertRows();
    } else if (FOpen == TOpen::Remove) {
        --FRows;
        endRemoveRows();
    }
    beginResetModel();
    FOpen = TOpen::Reset;
}

void TDataSetModel::EndReset() {
    BeginReset();
    const int Columns = FDataSet ? FDataSet->FieldCount() : 0;
    const bool FieldsDiffer = Columns != FColumns;
    FRows = FDataSet ? FDataSet->RowCount() : 0;
    FColumns = Columns;
    FOpen = TOpen::None;
    endResetModel();
    if (FieldsDiffer)
        emit FieldsChanged();
    CurrentMoved();
}

void TDataSetModel::RowAboutToBeInserted(int Row) {
    const TNoticeScope Scope(*this);
    if (FOpen != TOpen::None || Row < 0 || Row > FRows) {
        BeginReset();
        return;
    }
    beginInsertRows(QModelIndex(), Row, Row);
    FOpen = TOpen::Insert;
}

void TDataSetModel::RowInserted(int) {
    const TNoticeScope Scope(*this);
    if (FOpen != TOpen::Insert) {
        EndReset();
        return;
    }
    ++FRows;
    FOpen = TOpen::None;
    endInsertRows();
    if (FRows != FDataSet->RowCount())
        EndReset();
}

void TDataSetModel::RowAboutToBeRemoved(int Row) {
    const TNoticeScope Scope(*this);
    if (FOpen != TOpen::None || Row < 0 || Row >= FRows) {
        BeginReset();
        return;
    }
    beginRemoveRows(QModelIndex(), Row, Row);
    FOpen = TOpen::Remove;
}

void TDataSetModel::RowRemoved(int) {
    const TNoticeScope Scope(*this);
    if (FOpen != TOpen::Remove) {
        EndReset();
        return;
    }
    --FRows;
    FOpen = TOpen::None;
    endRemoveRows();
    if (FRows != FDataSet->RowCount())
        EndReset();
}

void TDataSetModel::RowChanged(int Row) {
    const TNoticeScope Scope(*this);
    if (FOpen != TOpen::None)
        return; // the reset under way re-reads the row
    if (FRows != FDataSet->RowCount()) {
        EndReset();
        return;
    }
    // Indexes made directly: the row and the columns are known to exist.
    if (Row >= 0 && Row < FRows && FColumns > 0)
        emit dataChanged(createIndex(Row, 0), createIndex(Row, FColumns - 1));
}

void TDataSetModel::AboutToReset() {
    const TNoticeScope Scope(*this);
    BeginReset();
}

void TDataSetModel::Reset() {
    const TNoticeScope Scope(*this);
    EndReset();
}

void TDataSetModel::CurrentMoved() {
    const TNoticeScope Scope(*this);
    emit CurrentRowMoved(CurrentRow());
}

// ---------------------------------------------------------------- reading

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
    // The row may move or go while its edit is stored (another key, hidden
    // by the master link): the notices say so as they come, which the views
    // handle even while they are handing the edit over.
    try {
        FDataSet->SetFieldText(Index.row(), Index.column(), Value.toString().toStdString());
    } catch (const std::exception& E) {
        emit AssignmentFailed(QString::fromUtf8(E.what()));
        return false;
    }
    return true;
}

} // namespace kds
