#include "ui/TBaseDBGrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>
#include <algorithm>
#include <exception>

#include "ui/DataSetModel.h"
#include "ui/DataSourceLink.h"
#include "ui/OperatorDialogs.h"

namespace kds {

namespace {

// Hands every data cell to the grid's painting, so the colour hooks see
// each one.
class TGridCellDelegate : public QStyledItemDelegate {
public:
    explicit TGridCellDelegate(TBaseDBGrid* Grid) : QStyledItemDelegate(Grid), FGrid(Grid) {}

    void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
               const QModelIndex& Index) const override {
        FGrid->PaintCell(*Painter, Option.rect, Index);
    }

    // The view lets an editor go (its row went away, or it was closed): it is
    // marked, so that a close asked for later finds it gone (see closeEditor).
    void destroyEditor(QWidget* Editor, const QModelIndex& Index) const override {
        Editor->setProperty(ReleasedEditor, true);
        QStyledItemDelegate::destroyEditor(Editor, Index);
    }

    static constexpr const char* ReleasedEditor = "kdsReleasedEditor";

private:
    TBaseDBGrid* FGrid;
};

// The title row (horizontal) or the indicator column (vertical), painted by
// the grid.
class TGridHeader : public QHeaderView {
public:
    TGridHeader(Qt::Orientation Orientation, TBaseDBGrid* Grid)
        : QHeaderView(Orientation, Grid), FGrid(Grid) {}

protected:
    // Nothing in a title or a row sizes its section: the title row and the
    // indicator column are of fixed height and width, the rows of fixed
    // height, and the grid sets the column widths itself from the fields.
    // Measuring sections would only cost: the view asks for the header's size
    // hint after every row that comes or goes and every reset, and Qt's
    // default lays out the text of up to 200 sections with the style each
    // time.
    QSize sectionSizeFromContents(int LogicalIndex) const override {
        if (orientation() == Qt::Vertical)
            return QSize(width(), defaultSectionSize());
        return QSize(sectionSize(LogicalIndex), height());
    }

    void paintSection(QPainter* Painter, const QRect& Rect, int Section) const override {
        if (!Rect.isValid())
            return;
        Painter->save();
        if (orientation() == Qt::Horizontal)
            FGrid->PaintTitle(*Painter, Rect, Section);
        else
            FGrid->PaintIndicator(*Painter, Rect, Section);
        Painter->restore();
    }

private:
    TBaseDBGrid* FGrid;
};

void ShowErrorOf(QWidget* Parent, const std::exception& E) {
    TOperatorDialogs::Current().ShowError(Parent, QString::fromUtf8(E.what()));
}

// The grid lines and bevels drawn around fixed cells.
void DrawFixedEdges(QPainter& Painter, const QRect& Rect, const QColor& Face) {
    Painter.setPen(Face.lighter(130));
    Painter.drawLine(Rect.topLeft(), Rect.topRight());
    Painter.drawLine(Rect.topLeft(), Rect.bottomLeft());
    Painter.setPen(Face.darker(150));
    Painter.drawLine(Rect.bottomLeft(), Rect.bottomRight());
    Painter.drawLine(Rect.topRight(), Rect.bottomRight());
}

} // namespace

TBaseDBGrid::TBaseDBGrid(QWidget* Parent) : QTableView(Parent) {
    FModel = new TDataSetModel(this);
    setModel(FModel);
    setItemDelegate(new TGridCellDelegate(this));
    setHorizontalHeader(new TGridHeader(Qt::Horizontal, this));
    setVerticalHeader(new TGridHeader(Qt::Vertical, this));

    FTitleFont.Font = font();
    FTitleFont.Color = clWindowText;

    // A single current cell, as the data grid has; the selection the hooks
    // see is the current cell (or row, with RowSelect).
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setCornerButtonEnabled(false);
    setWordWrap(false);

    const int RowHeight = fontMetrics().height() + 5;
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(RowHeight);
    verticalHeader()->setMinimumSectionSize(RowHeight);
    verticalHeader()->setFixedWidth(12);
    horizontalHeader()->setFixedHeight(RowHeight);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    connect(FModel, &TDataSetModel::CurrentRowMoved, this, &TBaseDBGrid::FollowDataSetRow);
    connect(FModel, &TDataSetModel::FieldsChanged, this, [this] {
        // Wide enough for the field's display width and for its title.
        const int Avg = fontMetrics().averageCharWidth();
        const QFontMetrics Title(FTitleFont.Font);
        for (int C = 0; C < FModel->columnCount(); ++C)
            setColumnWidth(
                C, std::max(FModel->DisplayWidth(C) * Avg,
                            Title.horizontalAdvance(QString::fromStdString(FModel->FieldName(C)))) +
                       8);
    });
    // Shown once the view has finished handing the edit over, not from
    // inside it.
    connect(
        FModel, &TDataSetModel::AssignmentFailed, this,
        [this](const QString& Text) { TOperatorDialogs::Current().ShowError(this, Text); },
        Qt::QueuedConnection);
}

TBaseDBGrid::~TBaseDBGrid() = default;

void TBaseDBGrid::SetDataSource(TDataSource* Source) {
    FDataSource = Source;
    FModel->SetDataSet(Source ? std::make_unique<TDataSourceLink>(*Source) : nullptr);
}

void TBaseDBGrid::RepaintGrid() {
    viewport()->update();
    horizontalHeader()->viewport()->update();
    verticalHeader()->viewport()->update();
}

void TBaseDBGrid::SetColor(TColor Color) {
    FColor = Color;
    RepaintGrid();
}
void TBaseDBGrid::SetFontColor(TColor Color) {
    FFontColor = Color;
    RepaintGrid();
}
void TBaseDBGrid::SetFixedColor(TColor Color) {
    FFixedColor = Color;
    RepaintGrid();
}
void TBaseDBGrid::SetTitleFont(const TGridFont& Font) {
    FTitleFont = Font;
    RepaintGrid();
}
void TBaseDBGrid::SetRowSelect(bool On) {
    FRowSelect = On;
    setSelectionBehavior(On ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
    RepaintGrid();
}

void TBaseDBGrid::DoCalcTitleAttributes(const std::string& FieldName, TGridFont& TitleFont,
                                        Qt::Alignment& TitleAlignment, TGridBrush& TitleBrush) {
    if (OnCalcTitleAttributes)
        OnCalcTitleAttributes(*this, FieldName, TitleFont, TitleAlignment, TitleBrush);
}

void TBaseDBGrid::DoCalcCellColors(const TGridField* Field, TGridDrawState State, bool& Highlight,
                                   TGridBrush& Brush, TGridFont& Font) {
    if (OnCalcCellColors)
        OnCalcCellColors(*this, Field, State, Highlight, Brush, Font);
}

void TBaseDBGrid::DrawCheckBox(QPainter& Canvas, const QRect& Box, int Column, bool Checked,
                               int Row) {
    QStyleOptionButton Opt;
    Opt.initFrom(this);
    Opt.rect = Box;
    Opt.state = (Checked ? QStyle::State_On : QStyle::State_Off) | QStyle::State_Enabled;
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &Opt, &Canvas, this);
    if (OnDrawCheckBox)
        OnDrawCheckBox(*this, Canvas, Box, Column, Checked, Row);
}

bool TBaseDBGrid::IsCheckBoxColumn(int Column) const {
    return FModel->IsBooleanField(Column);
}
bool TBaseDBGrid::IsCellChecked(int Row, int Column) const {
    return FModel->IsChecked(Row, Column);
}

void TBaseDBGrid::PaintCell(QPainter& Painter, const QRect& Rect, const QModelIndex& Index) {
    const int Row = Index.row();
    const int Col = Index.column();
    const QModelIndex Current = currentIndex();
    TGridDrawState State = 0;
    if (Current.isValid() && Current.row() == Row) {
        const bool CurrentCell = Current.column() == Col;
        if (CurrentCell || FRowSelect)
            State |= gdSelected;
        if (CurrentCell && hasFocus())
            State |= gdFocused;
    }

    const TGridField Field{Col, FModel->FieldName(Col), FModel->HasDataSet()};
    bool Highlight = (State & gdSelected) != 0;
    TGridBrush Brush{Highlight ? clHighlight : FColor};
    TGridFont Font{font(), Highlight ? clHighlightText : FFontColor};

    FPaintingRecNo = FModel->RecNoOfRow(Row);
    DoCalcCellColors(&Field, State, Highlight, Brush, Font);

    const QPalette& Pal = palette();
    const QColor Fill = ColorToQColor(Brush.Color, Pal);
    Painter.save();
    Painter.setClipRect(Rect);
    Painter.fillRect(Rect, Fill);
    if (IsCheckBoxColumn(Col)) {
        const QRect Box(Rect.left() + (Rect.width() - 10) / 2,
                        Rect.top() + (Rect.height() - 10) / 2, 10, 10);
        Painter.setBrush(Fill);
        Painter.setPen(Qt::NoPen);
        Painter.setClipping(false);
        DrawCheckBox(Painter, Box, Col, IsCellChecked(Row, Col), Row);
    } else {
        Painter.setFont(Font.Font);
        Painter.setPen(ColorToQColor(Font.Color, Pal));
        const Qt::Alignment Align =
            (FModel->IsNumericField(Col) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
        Painter.drawText(Rect.adjusted(2, 0, -2, 0), int(Align | Qt::TextSingleLine),
                         FModel->DisplayText(Row, Col));
    }
    if ((State & gdFocused) && !FRowSelect) {
        Painter.setClipping(false);
        Painter.setBrush(Qt::NoBrush);
        Painter.setPen(QPen(ColorToQColor(Font.Color, Pal), 1, Qt::DotLine));
        Painter.drawRect(Rect.adjusted(0, 0, -1, -1));
    }
    Painter.restore();
    FPaintingRecNo = 0;
}

void TBaseDBGrid::PaintTitle(QPainter& Painter, const QRect& Rect, int Column) {
    TGridFont Font = FTitleFont;
    Qt::Alignment Align = Qt::AlignLeft;
    TGridBrush Brush{FFixedColor};
    DoCalcTitleAttributes(FModel->FieldName(Column), Font, Align, Brush);

    const QPalette& Pal = palette();
    const QColor Fill = ColorToQColor(Brush.Color, Pal);
    Painter.fillRect(Rect, Fill);
    DrawFixedEdges(Painter, Rect, Fill);
    Painter.setFont(Font.Font);
    Painter.setPen(ColorToQColor(Font.Color, Pal));
    Painter.drawText(
        Rect.adjusted(2, 0, -2, 0),
        int((Align & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter | Qt::TextSingleLine),
        QString::fromStdString(FModel->FieldName(Column)));
}

void TBaseDBGrid::PaintIndicator(QPainter& Painter, const QRect& Rect, int Row) {
    bool Highlight = false;
    TGridBrush Brush{FFixedColor};
    TGridFont Font{font(), FFontColor};
    FPaintingRecNo = FModel->RecNoOfRow(Row);
    DoCalcCellColors(nullptr, gdFixed, Highlight, Brush, Font);
    FPaintingRecNo = 0;

    const QPalette& Pal = palette();
    const QColor Fill = ColorToQColor(Brush.Color, Pal);
    Painter.fillRect(Rect, Fill);
    DrawFixedEdges(Painter, Rect, Fill);
    const QModelIndex Current = currentIndex();
    if (!Current.isValid() || Current.row() != Row)
        return;
    // The current row's marker: a star for a row being appended, else an
    // arrow head. It is a glyph, not text: always in the window-text colour,
    // so it stays visible whatever text colour the hooks chose.
    const QColor Marker = ColorToQColor(clWindowText, Pal);
    Painter.setPen(Marker);
    Painter.setBrush(Marker);
    const QPoint C = Rect.center();
    if (FModel->RecNoOfRow(Row) < 0) {
        Painter.setFont(Font.Font);
        Painter.drawText(Rect, Qt::AlignCenter, QStringLiteral("*"));
    } else {
        const QPoint Tip[3] = {QPoint(C.x() - 2, C.y() - 4), QPoint(C.x() + 2, C.y()),
                               QPoint(C.x() - 2, C.y() + 4)};
        Painter.drawPolygon(Tip, 3);
    }
}

void TBaseDBGrid::keyPressEvent(QKeyEvent* Event) {
    if (state() != QAbstractItemView::EditingState && FModel->HasDataSet()) {
        const QModelIndex Current = currentIndex();
        if (Event->key() == Qt::Key_Delete && (Event->modifiers() & Qt::ControlModifier)) {
            if (Current.isValid() &&
                TOperatorDialogs::Current().Confirm(this, QStringLiteral("Delete record?"))) {
                try {
                    FModel->DeleteRow(Current.row());
                } catch (const std::exception& E) {
                    ShowErrorOf(this, E);
                }
            }
            return;
        }
        if (Event->key() == Qt::Key_Down && Event->modifiers() == Qt::NoModifier &&
            (FModel->rowCount() == 0 ||
             (Current.isValid() && Current.row() == FModel->rowCount() - 1 &&
              FModel->RecNoOfRow(Current.row()) >= 0))) {
            try {
                FModel->AppendRow();
            } catch (const std::exception& E) {
                ShowErrorOf(this, E);
            }
            return;
        }
    }
    QTableView::keyPressEvent(Event);
}

void TBaseDBGrid::currentChanged(const QModelIndex& Current, const QModelIndex& Previous) {
    QTableView::currentChanged(Current, Previous);
    // The indicator and, with RowSelect, whole rows change with the current
    // cell.
    RepaintGrid();
    // Moves made while following the dataset, or by the view itself while the
    // model passes a notice on (a row going away), are not the operator's.
    if (FFollowing || FModel->InNotice() || !Current.isValid() ||
        (Previous.isValid() && Previous.row() == Current.row()))
        return;
    try {
        FModel->SetCurrentRow(Current.row());
    } catch (const std::exception& E) {
        ShowErrorOf(this, E);
    }
}

void TBaseDBGrid::FollowDataSetRow(int Row) {
    const bool None = Row < 0 || Row >= FModel->rowCount();
    const QModelIndex Current = currentIndex();
    // The dataset announces its current row again after a row was stored in
    // place or a reset; the grid may stand there already. The indicator may
    // still change (a row being appended is stored).
    if (None ? !Current.isValid() : Current.isValid() && Current.row() == Row) {
        ScheduleCatchUp();
        return;
    }
    const QModelIndex Target =
        None ? QModelIndex() : FModel->index(Row, Current.isValid() ? Current.column() : 0);
    FFollowing = true;
    if (state() == QAbstractItemView::EditingState) {
        // The view commits and closes the open editor as for any move.
        setCurrentIndex(Target);
        FFollowing = false;
        ScheduleCatchUp(); // the selection
        return;
    }
    {
        // The current index moves at once, so the grid and the dataset agree
        // whenever anyone asks. What the view does on a move (select the new
        // cell, repaint the old and the new one, scroll to it) needs the rows
        // laid out, which a dataset that keeps moving would force after every
        // row it adds: that is done once, when the window thread is next idle.
        const QSignalBlocker Quiet(selectionModel());
        setCurrentIndex(Target); // selectionCommand: no selection while following
    }
    FFollowing = false;
    ScheduleCatchUp();
}

void TBaseDBGrid::closeEditor(QWidget* Editor, QAbstractItemDelegate::EndEditHint Hint) {
    // Storing an edit may move its row or hide it (another key, the master
    // link): the view then lets the editor go while the edit is handed over,
    // and the close that follows finds an editor that is no longer its own.
    if (Editor != nullptr && Editor->property(TGridCellDelegate::ReleasedEditor).toBool()) {
        if (state() == QAbstractItemView::EditingState)
            setState(QAbstractItemView::NoState);
        if (QApplication::focusWidget() == nullptr)
            setFocus();
        return;
    }
    QTableView::closeEditor(Editor, Hint);
}

QItemSelectionModel::SelectionFlags TBaseDBGrid::selectionCommand(const QModelIndex& Index,
                                                                  const QEvent* Event) const {
    if (FFollowing && Event == nullptr)
        return QItemSelectionModel::NoUpdate;
    return QTableView::selectionCommand(Index, Event);
}

void TBaseDBGrid::ScheduleCatchUp() {
    if (FCatchUpPending)
        return;
    FCatchUpPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FCatchUpPending = false;
            const QModelIndex Current = currentIndex();
            if (Current.isValid()) {
                // The selection is the current cell, as after any move.
                const QSignalBlocker Quiet(selectionModel());
                selectionModel()->select(Current, QTableView::selectionCommand(Current));
                scrollTo(Current);
            }
            RepaintGrid();
        },
        Qt::QueuedConnection);
}

void TBaseDBGrid::focusInEvent(QFocusEvent* Event) {
    QTableView::focusInEvent(Event);
    RepaintGrid();
}

void TBaseDBGrid::focusOutEvent(QFocusEvent* Event) {
    QTableView::focusOutEvent(Event);
    RepaintGrid();
}

} // namespace kds
