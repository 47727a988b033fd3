#pragma once

#include <QFont>
#include <QTableView>
#include <functional>
#include <memory>
#include <string>

#include "ui/SorvColor.h"

namespace kds {

class TDataSetModel;
class TDataSource;

// The draw state of a painted cell: the current cell is selected; it is
// focused as well while the grid has the keyboard focus; titles and the
// indicator column are fixed.
enum TGridDrawFlag : unsigned {
    gdSelected = 1u << 0,
    gdFocused = 1u << 1,
    gdFixed = 1u << 2,
};
using TGridDrawState = unsigned;

// A font as the hooks see it: the face and its colour, the colour as a
// stored code (system colours stay codes until painted).
struct TGridFont {
    QFont Font;
    TColor Color = clWindowText;
};

// The fill of a cell or title, as a stored colour code.
struct TGridBrush {
    TColor Color = clWindow;
};

// The field a column shows. DataSetField is false for a cell that belongs to
// no dataset (the indicator column).
struct TGridField {
    int Index = -1;
    std::string FieldName;
    bool DataSetField = false;
};

class TBaseDBGrid;
using TCalcTitleAttributesEvent =
    std::function<void(TBaseDBGrid& Sender, const std::string& FieldName, TGridFont& TitleFont,
                       Qt::Alignment& TitleAlignment, TGridBrush& TitleBrush)>;
using TCalcCellColorsEvent =
    std::function<void(TBaseDBGrid& Sender, const TGridField* Field, TGridDrawState State,
                       bool& Highlight, TGridBrush& Brush, TGridFont& Font)>;
using TDrawCheckBoxEvent = std::function<void(TBaseDBGrid& Sender, QPainter& Canvas,
                                              const QRect& Box, int Column, bool Checked, int Row)>;

// The data-aware grid: shows every field of the dataset behind a data source
// in field order, titled by field name, with an indicator column; shows each
// change the dataset announces, follows the dataset's current row and makes
// the row the operator selects current. Following moves the grid's current
// index at once; selecting, scrolling to and repainting the row are done
// once when the window thread is next idle, however often the dataset moved
// meanwhile (a folder of orders taken in moves it at every row). Editing a cell assigns the field's
// text (its error goes to a message box), moving down past the last row
// appends a row, Ctrl+Delete deletes the current row after a confirmation.
//
// Every title and cell painted goes through DoCalcTitleAttributes or
// DoCalcCellColors; cells of boolean fields (IsCheckBoxColumn) are painted by
// DrawCheckBox in a 10 x 10 box centred in the cell. Each hook's base version
// calls the matching optional handler. While a cell is painted PaintingRecNo
// gives the RecNo of its row (-1 for a row being appended).
//
// The model adapter is owned by the grid (Qt parent); the data source is
// not, and must outlive the grid or be detached first. Window thread only.
class TBaseDBGrid : public QTableView {
    Q_OBJECT
public:
    explicit TBaseDBGrid(QWidget* Parent = nullptr);
    ~TBaseDBGrid() override;

    // Shows the dataset behind Source (nullptr: nothing). The grid does not
    // own the source, which must outlive the grid or be detached first.
    void SetDataSource(TDataSource* Source);
    TDataSource* DataSource() const { return FDataSource; }
    TDataSetModel* DataModel() const { return FModel; }

    // The grid's own colour and font colour, and the colour of fixed cells.
    TColor Color() const { return FColor; }
    void SetColor(TColor Color);
    TColor FontColor() const { return FFontColor; }
    void SetFontColor(TColor Color);
    TColor FixedColor() const { return FFixedColor; }
    void SetFixedColor(TColor Color);
    const TGridFont& TitleFont() const { return FTitleFont; }
    void SetTitleFont(const TGridFont& Font);
    // The row-select option: off by default.
    bool RowSelect() const { return FRowSelect; }
    void SetRowSelect(bool On);

    TCalcTitleAttributesEvent OnCalcTitleAttributes;
    TCalcCellColorsEvent OnCalcCellColors;
    TDrawCheckBoxEvent OnDrawCheckBox;

    virtual void DoCalcTitleAttributes(const std::string& FieldName, TGridFont& TitleFont,
                                       Qt::Alignment& TitleAlignment, TGridBrush& TitleBrush);
    virtual void DoCalcCellColors(const TGridField* Field, TGridDrawState State, bool& Highlight,
                                  TGridBrush& Brush, TGridFont& Font);
    // Canvas's brush is the cell's colour. The base version draws the
    // toolkit's check indicator and then calls OnDrawCheckBox.
    virtual void DrawCheckBox(QPainter& Canvas, const QRect& Box, int Column, bool Checked,
                              int Row);

    int PaintingRecNo() const { return FPaintingRecNo; }

    // Repaints the cells, the titles and the indicator column.
    void RepaintGrid();

    // Which columns are painted as check boxes: boolean fields.
    virtual bool IsCheckBoxColumn(int Column) const;
    virtual bool IsCellChecked(int Row, int Column) const;

    // Painting of one data cell, one title and one indicator cell; the
    // delegate and the header views call these.
    void PaintCell(QPainter& Painter, const QRect& Rect, const QModelIndex& Index);
    void PaintTitle(QPainter& Painter, const QRect& Rect, int Column);
    void PaintIndicator(QPainter& Painter, const QRect& Rect, int Row);

protected:
    void keyPressEvent(QKeyEvent* Event) override;
    void currentChanged(const QModelIndex& Current, const QModelIndex& Previous) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& Index,
                                                         const QEvent* Event) const override;
    void closeEditor(QWidget* Editor, QAbstractItemDelegate::EndEditHint Hint) override;
    void focusInEvent(QFocusEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;

private:
    void FollowDataSetRow(int Row);
    // Scrolls to the current cell and repaints, once, when the window thread
    // is next idle.
    void ScheduleCatchUp();

    TDataSetModel* FModel; // owned by Qt parenting
    TDataSource* FDataSource = nullptr;
    TColor FColor = clWindow;
    TColor FFontColor = clWindowText;
    TColor FFixedColor = clBtnFace;
    TGridFont FTitleFont;
    bool FRowSelect = false;
    int FPaintingRecNo = 0;
    bool FFollowing = false;
    bool FCatchUpPending = false;
};

} // namespace kds
