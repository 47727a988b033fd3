#include "ui/POSDBGrid.h"

#include <QPainter>
#include <stdexcept>

#include "ui/Glyphs.h"

namespace kds {

namespace {

std::unique_ptr<QImage> LoadGlyph(const char* Name) {
    InitGlyphResources();
    auto Glyph = std::make_unique<QImage>(QString(":/bitmaps/") + Name);
    if (Glyph->isNull())
        throw std::runtime_error(std::string("The bitmap resource ") + Name + " is missing");
    // Painting needs a format with an alpha channel; the palette form is only
    // how the resource is stored.
    *Glyph = Glyph->convertToFormat(QImage::Format_ARGB32);
    return Glyph;
}

bool Contains(const std::string& Text, const std::string& Piece) {
    return Text.find(Piece) != std::string::npos;
}

} // namespace

TPOSDBGrid::TPOSDBGrid(QWidget* Parent)
    : TBaseDBGrid(Parent), FCheckedBitmap(LoadGlyph("CHECKED_DATA")),
      FUncheckedBitmap(LoadGlyph("UNCHECKED_DATA")) {
    SetKeyFields(std::string());
    SetColor_Row_Odd(0x00ECFFFB);
    SetColor_Row_Even(0x00E7F9CE);
    SetColor_Fixed(clBtnFace);
    SetColor_Key(clBtnFace);
    SetColor_Selected(clHighlight);
    SetColor_Title(clBtnFace);
}

TPOSDBGrid::~TPOSDBGrid() = default;

void TPOSDBGrid::Changed() {
    RepaintGrid();
}

std::string TPOSDBGrid::NormalizeKeyFields(const std::string& Value) {
    std::string Result;
    std::string Rest = Value;
    while (!Rest.empty()) {
        const std::size_t Sep = Rest.find(';');
        std::string Part = Sep == std::string::npos ? Rest : Rest.substr(0, Sep);
        Rest = Sep == std::string::npos ? std::string() : Rest.substr(Sep + 1);
        // Trimming removes every character up to and including the space.
        std::size_t B = 0, E = Part.size();
        while (B < E && static_cast<unsigned char>(Part[B]) <= 32)
            ++B;
        while (E > B && static_cast<unsigned char>(Part[E - 1]) <= 32)
            --E;
        const std::string Item = Part.substr(B, E - B) + ";";
        if (!Contains(Result, Item))
            Result += Item;
    }
    return Result;
}

void TPOSDBGrid::SetKeyFields(const std::string& Value) {
    FKeyFields = NormalizeKeyFields(Value);
    Changed();
}

void TPOSDBGrid::SetColor_Row_Odd(TColor Value) {
    FColor_Row_Odd = Value;
    Changed();
}
void TPOSDBGrid::SetColor_Row_Even(TColor Value) {
    FColor_Row_Even = Value;
    Changed();
}
void TPOSDBGrid::SetColor_Fixed(TColor Value) {
    FColor_Fixed = Value;
    Changed();
}
void TPOSDBGrid::SetColor_Key(TColor Value) {
    FColor_Key = Value;
    Changed();
}
void TPOSDBGrid::SetColor_Selected(TColor Value) {
    FColor_Selected = Value;
    Changed();
}
void TPOSDBGrid::SetColor_Title(TColor Value) {
    FColor_Title = Value;
    Changed();
}

void TPOSDBGrid::DoCalcTitleAttributes(const std::string& FieldName, TGridFont& TitleFont,
                                       Qt::Alignment& TitleAlignment, TGridBrush& TitleBrush) {
    TitleBrush.Color = FColor_Title;
    TitleFont.Color = FontColor();
    if (!FKeyFields.empty() && Contains(FKeyFields, FieldName + ";")) {
        TitleBrush.Color = FColor_Key;
        TitleFont.Color = InvertColor(TitleBrush.Color);
    }
    if (OnCalcTitleAttributes)
        TBaseDBGrid::DoCalcTitleAttributes(FieldName, TitleFont, TitleAlignment, TitleBrush);
}

void TPOSDBGrid::DoCalcCellColors(const TGridField* Field, TGridDrawState State, bool& Highlight,
                                  TGridBrush& Brush, TGridFont& Font) {
    if (State == gdFixed) {
        Brush.Color = FColor_Fixed;
    } else if (Field && Field->DataSetField) {
        if ((State & gdSelected) && (!(State & gdFocused) || RowSelect())) {
            Brush.Color = FColor_Selected;
        } else {
            const int R = PaintingRecNo();
            Brush.Color = (R <= 0 || R % 2 != 0) ? FColor_Row_Odd : FColor_Row_Even;
        }
    }
    Font.Color = InvertColor(Brush.Color);
    if (OnCalcCellColors)
        TBaseDBGrid::DoCalcCellColors(Field, State, Highlight, Brush, Font);
}

void TPOSDBGrid::DrawCheckBox(QPainter& Canvas, const QRect& Box, int, bool Checked, int) {
    // The offsets use the checked glyph's size for both glyphs; the glyph
    // overhangs the 10 x 10 box and is not clipped to it. C++ division
    // truncates toward zero, as the offsets need.
    const int Dx = (Box.width() - FCheckedBitmap->width()) / 2 + 2;
    const int Dy = (Box.height() - FCheckedBitmap->height()) / 2 + 1;
    const QColor Fill = Canvas.brush().color();
    Canvas.fillRect(Box, Fill);

    const QImage& Source = Checked ? *FCheckedBitmap : *FUncheckedBitmap;
    // The transparent colour is the bottom-left pixel's; it shows the brush.
    QImage Glyph = Source;
    const QRgb Transparent = Source.pixel(0, Source.height() - 1);
    const QRgb BrushRgb = Fill.rgba();
    for (int Y = 0; Y < Glyph.height(); ++Y) {
        auto* Line = reinterpret_cast<QRgb*>(Glyph.scanLine(Y));
        for (int X = 0; X < Glyph.width(); ++X)
            if (Line[X] == Transparent)
                Line[X] = BrushRgb;
    }
    Canvas.drawImage(QPoint(Box.left() + Dx, Box.top() + Dy), Glyph);
}

} // namespace kds
