#include "ui/SorvColor.h"

#include <QColor>
#include <QImage>
#include <QPalette>
#include <cstdio>
#include <gtest/gtest.h>
#include <ostream>

#include "support/TestNames.h"
#include "ui/Glyphs.h"

namespace kds {
namespace {

struct TInvertCase {
    TColor In;
    TColor Out;
};
void PrintTo(const TInvertCase& C, std::ostream* Os) {
    char Buf[48];
    std::snprintf(Buf, sizeof Buf, "$%08X -> $%08X", unsigned(C.In), unsigned(C.Out));
    *Os << Buf;
}

class InvertColorTest : public ::testing::TestWithParam<TInvertCase> {};

TEST_P(InvertColorTest, ComplementsTheLowBytesAndClearsTheHighByte) {
    EXPECT_EQ(InvertColor(GetParam().In), GetParam().Out);
}

INSTANTIATE_TEST_SUITE_P(
    StoredValues, InvertColorTest,
    ::testing::Values(TInvertCase{0x00ECFFFB, 0x00130004}, // odd rows
                      TInvertCase{0x00E7F9CE, 0x00180631}, // even rows
                      TInvertCase{0xFF00000F, 0x00FFFFF0}, // button face: the code, not the colour
                      TInvertCase{0xFF00000D, 0x00FFFFF2}, // highlight
                      TInvertCase{0x00000000, 0x00FFFFFF}, TInvertCase{0x00FFFFFF, 0x00000000},
                      TInvertCase{0x12345678, 0x00CBA987})); // any other high byte is dropped too

TEST(ColorToQColorTest, ReadsPlainValuesAsBlueGreenRed) {
    const QPalette Pal;
    EXPECT_EQ(ColorToQColor(0x0073A0FF, Pal), QColor(255, 160, 115));
    EXPECT_EQ(ColorToQColor(0x00FFEAFF, Pal), QColor(255, 234, 255));
    EXPECT_EQ(ColorFromQColor(QColor(255, 128, 0)), 0x000080FFu);
}

TEST(ColorToQColorTest, LooksSystemColoursUpInThePaletteWhenPainting) {
    QPalette Pal;
    Pal.setColor(QPalette::Button, QColor(1, 2, 3));
    Pal.setColor(QPalette::Highlight, QColor(4, 5, 6));
    Pal.setColor(QPalette::WindowText, QColor(7, 8, 9));
    EXPECT_EQ(ColorToQColor(clBtnFace, Pal), QColor(1, 2, 3));
    EXPECT_EQ(ColorToQColor(clHighlight, Pal), QColor(4, 5, 6));
    EXPECT_EQ(ColorToQColor(clWindowText, Pal), QColor(7, 8, 9));
}

// The check glyphs are built into the program from the repository's bitmaps.
struct TGlyphCase {
    const char* Name;
    bool Checked;
};
void PrintTo(const TGlyphCase& C, std::ostream* Os) {
    *Os << C.Name;
}

class GlyphResourceTest : public ::testing::TestWithParam<TGlyphCase> {};

TEST_P(GlyphResourceTest, IsA19By14SixteenColourBoxOnOlive) {
    InitGlyphResources();
    const QImage Glyph(QString(":/bitmaps/") + GetParam().Name);
    ASSERT_FALSE(Glyph.isNull());
    EXPECT_EQ(Glyph.size(), QSize(19, 14));
    EXPECT_LE(Glyph.colorCount(), 16);
    EXPECT_GT(Glyph.colorCount(), 0);
    const QColor Olive(128, 128, 0);
    EXPECT_EQ(Glyph.pixelColor(0, 13), Olive); // transparent colour
    EXPECT_EQ(Glyph.pixelColor(18, 13), Olive);
    EXPECT_EQ(Glyph.pixelColor(1, 0), QColor(255, 255, 255));  // top edge
    EXPECT_EQ(Glyph.pixelColor(0, 5), QColor(255, 255, 255));  // left edge
    EXPECT_EQ(Glyph.pixelColor(5, 11), QColor(128, 128, 128)); // bottom edge
    EXPECT_EQ(Glyph.pixelColor(12, 8), QColor(128, 128, 128)); // right edge
    EXPECT_EQ(Glyph.pixelColor(2, 2), QColor(192, 192, 192));  // face
    EXPECT_EQ(Glyph.pixelColor(13, 11), Olive);                // outside the 13 x 12 box

    int Blue = 0, Navy = 0;
    for (int Y = 0; Y < 14; ++Y)
        for (int X = 0; X < 19; ++X) {
            Blue += Glyph.pixelColor(X, Y) == QColor(0, 0, 255);
            Navy += Glyph.pixelColor(X, Y) == QColor(0, 0, 128);
        }
    EXPECT_EQ(Blue > 0, GetParam().Checked);
    EXPECT_EQ(Navy > 0, GetParam().Checked);
    if (GetParam().Checked) {
        // The tick runs over the top edge of the box.
        bool OverTop = false;
        for (int X = 0; X < 13; ++X)
            OverTop |= Glyph.pixelColor(X, 0) == QColor(0, 0, 255);
        EXPECT_TRUE(OverTop);
    }
}

INSTANTIATE_TEST_SUITE_P(Both, GlyphResourceTest,
                         ::testing::Values(TGlyphCase{"CHECKED_DATA", true},
                                           TGlyphCase{"UNCHECKED_DATA", false}),
                         test::TCaseName{});

} // namespace
} // namespace kds
