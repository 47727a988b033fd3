#pragma once

#include <QImage>
#include <memory>
#include <string>

#include "ui/TBaseDBGrid.h"

namespace kds {

// The order grid: the data grid with alternating row colours by RecNo, a
// colour for the selected cell, for fixed cells and titles, key fields whose
// titles stand out, text always in the inverse of its cell's colour, and its
// own check glyphs ("CHECKED_DATA", "UNCHECKED_DATA" from the program's
// resources). Colours are stored codes; writing any colour property or
// KeyFields repaints the grid. Owns both glyphs. Window thread only; the
// constructor raises std::runtime_error if a glyph resource is missing.
class TPOSDBGrid : public TBaseDBGrid {
    Q_OBJECT
public:
    explicit TPOSDBGrid(QWidget* Parent = nullptr);
    ~TPOSDBGrid() override;

    // Reading gives the normal form: every name followed by ";", no name
    // twice (a plain text search: a name that is the tail of an earlier one
    // counts as present).
    const std::string& KeyFields() const { return FKeyFields; }
    void SetKeyFields(const std::string& Value);
    // The normal form of a key-field list, as SetKeyFields stores it.
    static std::string NormalizeKeyFields(const std::string& Value);

    TColor Color_Row_Odd() const { return FColor_Row_Odd; }
    void SetColor_Row_Odd(TColor Value);
    TColor Color_Row_Even() const { return FColor_Row_Even; }
    void SetColor_Row_Even(TColor Value);
    TColor Color_Fixed() const { return FColor_Fixed; }
    void SetColor_Fixed(TColor Value);
    TColor Color_Key() const { return FColor_Key; }
    void SetColor_Key(TColor Value);
    TColor Color_Selected() const { return FColor_Selected; }
    void SetColor_Selected(TColor Value);
    TColor Color_Title() const { return FColor_Title; }
    void SetColor_Title(TColor Value);

    const QImage& CheckedBitmap() const { return *FCheckedBitmap; }
    const QImage& UncheckedBitmap() const { return *FUncheckedBitmap; }

    void DoCalcTitleAttributes(const std::string& FieldName, TGridFont& TitleFont,
                               Qt::Alignment& TitleAlignment, TGridBrush& TitleBrush) override;
    void DoCalcCellColors(const TGridField* Field, TGridDrawState State, bool& Highlight,
                          TGridBrush& Brush, TGridFont& Font) override;
    void DrawCheckBox(QPainter& Canvas, const QRect& Box, int Column, bool Checked,
                      int Row) override;

private:
    void Changed();

    std::unique_ptr<QImage> FCheckedBitmap;
    std::unique_ptr<QImage> FUncheckedBitmap;
    std::string FKeyFields;
    TColor FColor_Row_Odd = 0;
    TColor FColor_Row_Even = 0;
    TColor FColor_Fixed = 0;
    TColor FColor_Key = 0;
    TColor FColor_Selected = 0;
    TColor FColor_Title = 0;
};

} // namespace kds
